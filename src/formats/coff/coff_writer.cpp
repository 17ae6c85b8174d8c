// The shared half of the COFF writers: the sections, the start and end of the symbol
// table's build (its scope walk in coff_symbols.cpp, its types in coff_types.cpp), and
// the line records of each function.
#include "formats/coff/coff_writer.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <unordered_map>

#include "common/alert.h"
#include "common/options.h"
#include "common/osdep.h"
#include "common/sort.h"
#include "formats/coff/coff.h"
#include "model/encdec.h"
#include "model/machine.h"
#include "model/run.h"

void write_coff_tail(Run& run, OutputFile& output, CoffFileHeader header, uint64_t offset,
                     const std::vector<uint8_t>& symbols, const std::vector<uint8_t>& strings,
                     uint64_t sections_at, const std::vector<CoffSectionHeader>& sections) {
    header.nscns = static_cast<uint16_t>(sections.size());
    header.symptr = static_cast<uint32_t>(offset);
    output.write_at(offset, symbols);
    output.write_at(offset + symbols.size(), strings);
    ByteWriter file_header(run_byte_order(run.options));
    file_header.record(header);
    output.write_at(0, file_header.bytes());
    ByteWriter section_headers(run_byte_order(run.options));
    for (const CoffSectionHeader& section : sections)
        section_headers.record(section);
    output.write_at(sections_at, section_headers.bytes());
    output.finish();
}

uint64_t write_section_contents(OutputFile& output, CoffImage& image, uint64_t offset) {
    for (CoffSection& section : image.sections) {
        if (!section.block) continue;
        section.header.scnptr = static_cast<uint32_t>(offset);
        output.write_at(offset, section.block->bytes.data(),
                        std::min<size_t>(section.block->size, section.block->bytes.size()));
        offset += section.block->size;
    }
    return offset;
}

void write_coff_tail(Run& run, OutputFile& output, CoffFileHeader header, uint64_t offset,
                     const CoffImage& image, uint64_t sections_at) {
    header.nsyms = image.symbol_count;
    std::vector<CoffSectionHeader> sections;
    for (const CoffSection& section : image.sections)
        sections.push_back(section.header);
    write_coff_tail(run, output, header, offset, image.symbols, image.string_table(run),
                    sections_at, sections);
}

std::vector<uint8_t> CoffImage::string_table(Run& run) const {
    ByteWriter table(run_byte_order(run.options));
    table.u32(4 + long_names.size());
    table.text(long_names);
    return table.take();
}

std::vector<std::vector<const CoffFunction*>> CoffImage::functions_by_section() const {
    std::vector<std::vector<const CoffFunction*>> by_section(sections.size() + 1);
    for (const CoffFunction& f : functions)
        if (f.section >= 1 && size_t(f.section) <= sections.size())
            by_section[size_t(f.section)].push_back(&f);
    return by_section;
}

int32_t CoffSectionMap::block_holding(uint32_t address) const {
    auto after = std::upper_bound(spans.begin(), spans.end(), address,
                                  [](uint32_t a, const Span& s) { return a < s.address; });
    int64_t best = -1;
    for (size_t k = static_cast<size_t>(after - spans.begin()); k-- > 0;) {
        if (max_end[k] <= address) break;
        if (address < spans[k].end && (best < 0 || spans[k].block < best)) best = spans[k].block;
    }
    return static_cast<int32_t>(best);
}

int32_t CoffSectionMap::section_of(Run& run, uint32_t value, uint32_t segment) const {
    if (!is_program_class(run.options, segment_name(run, segment))) {
        uint32_t number = segment_of_address(run, {value, segment}, data_unit);
        uint32_t programs = programs_upto.empty()
                                ? 0
                                : programs_upto[std::min<size_t>(number, programs_upto.size() - 1)];
        return static_cast<int32_t>(number - programs + base);
    }
    int32_t block = block_holding(value * code_unit);
    if (block < 0) return static_cast<int32_t>(segment + base);
    return static_cast<int32_t>(first_text) + block;
}

#include "formats/coff/coff_builder.h"

namespace coff_build {

void plan_sections(Run& run, const CoffDialect& d, CoffImage& image, SymbolTable& symbols) {
    CoffSectionMap& map = image.map;
    map.code_unit = d.code_unit;
    map.data_unit = d.data_unit;
    uint32_t segment_count = run.store.segments.count();
    map.programs_upto.assign(size_t(segment_count) + 1, 0);
    std::unordered_map<std::string, uint32_t> seen; // segments met so far by name
    if (d.absolute_section) {
        CoffSection absolute;
        absolute.name = "ABS";
        memcpy(absolute.header.name, "ABS", 3);
        absolute.header.flags = MCOFF_SECTION_ABSOLUTE;
        image.sections.push_back(absolute);
        map.base = 1;
    }
    for (uint32_t k = 1; k <= segment_count; ++k) {
        const SegmentRecord* segment = run.store.segments[k - 1];
        bool program = is_program_class(run.options, segment_name(run, segment->space));
        map.programs_upto[k] = map.programs_upto[k - 1] + (program ? 1 : 0);
        uint32_t earlier = seen[segment->name]++;
        if (program) continue;
        CoffSection section;
        section.name = earlier ? segment->name + "." + std::to_string(earlier) : segment->name;
        section.header.paddr = segment->address / d.data_unit;
        section.header.size = segment->size;
        section.header.flags = COFF_SECTION_BSS;
        image.sections.push_back(std::move(section));
    }
    map.first_text = static_cast<uint32_t>(image.sections.size()) + 1;
    image.first_text_section = map.first_text;
    for (uint32_t k = 0; k < run.store.data.count(); ++k) {
        const DataBlock* block = run.store.data[k];
        CoffSection section;
        section.name = "_text" + std::to_string(k);
        section.header.paddr = block->address / d.code_unit;
        section.header.size = block->size;
        section.header.flags = COFF_SECTION_TEXT;
        section.block = block;
        image.sections.push_back(std::move(section));
        map.spans.push_back({block->address, uint64_t(block->address) + block->size, k});
    }
    for (size_t k = map.base; k < image.sections.size(); ++k) {
        CoffSection& section = image.sections[k];
        if (d.long_section_names)
            symbols.set_name(section.header.name, section.name);
        else
            memcpy(section.header.name, section.name.data(),
                   std::min(section.name.size(), COFF_NAME_SIZE));
    }
    using Span = CoffSectionMap::Span;
    sort_items(map.spans, [](const Span& a, const Span& b) {
        if (a.address != b.address) return a.address < b.address ? -1 : 1;
        return a.block < b.block ? -1 : a.block > b.block ? 1 : 0;
    });
    uint64_t highest = 0;
    for (const Span& span : map.spans)
        map.max_end.push_back(highest = std::max(highest, span.end));
}

CoffImage Builder::build() {
    for (FileRecord* file : run_.store.files)
        file->output_index = 0;
    plan_sections(run_, d_, image_, symbols_);
    if (run_.type_model.global_scope)
        for (const ScopeEntry* entry : run_.type_model.global_scope->scope().entries)
            if (entry->sclass == SC_MODULE) walk_module(entry);
    if (d_.grouped_bits) group_bit_variables();
    close_file();
    plain_labels();
    if (d_.assembler_files) assembler_files();
    gather_lines();
    symbols_.finish();
    return std::move(image_);
}

// The store files by exact name (names in the store are unique ignoring case, so there
// is at most one), each with whether its lines are in line-number order.
class FilesByName {
  public:
    explicit FilesByName(Run& run) {
        auto by_line = [](const LineRecord* a, const LineRecord* b) { return a->line < b->line; };
        for (FileRecord* file : run.store.files)
            by_name_.emplace(file->name, Entry{file, std::is_sorted(file->lines.begin(),
                                                                    file->lines.end(), by_line)});
    }

    // Calls take(line) for each line record of the named file with a number from first to
    // last, in the file's order. Normalisation sorted each file's lines by number, so
    // they are one run found by binary search.
    template <typename Take>
    void lines_between(const std::string& name, uint32_t first, uint32_t last, Take take) const {
        auto found = by_name_.find(name);
        if (found == by_name_.end()) return;
        const std::vector<LineRecord*>& lines = found->second.file->lines;
        if (!found->second.sorted) {
            for (const LineRecord* line : lines)
                if (line->line >= first && line->line <= last) take(line);
            return;
        }
        auto from = std::lower_bound(lines.begin(), lines.end(), first,
                                     [](const LineRecord* l, uint32_t n) { return l->line < n; });
        for (auto it = from; it != lines.end() && (*it)->line <= last; ++it)
            take(*it);
    }

  private:
    struct Entry {
        const FileRecord* file;
        bool sorted;
    };
    std::unordered_map<std::string_view, Entry> by_name_;
};

bool in_bounds(Run& run, const char* name, uint32_t address, uint32_t divisor) {
    const BoundsRecord* bounds = find_bounds(run, name);
    return bounds && bounds->low / divisor <= address && address <= bounds->high / divisor;
}

// PIC30/PIC24: code that copies initialised data is no source line of the function.
bool in_data_copy(Run& run, uint32_t address) {
    for (const char* name : {"idata", "nearidata", "yidata", "nearyidata"})
        if (in_bounds(run, name, address, 2)) return true;
    return in_bounds(run, "ctext", address, 1);
}

int compare_u32(uint32_t a, uint32_t b) {
    return a < b ? -1 : a > b ? 1 : 0;
}

// One line per line number (the lowest address), in address order.
void reduce_to_first_lines(std::vector<const LineRecord*>& lines) {
    if (lines.size() < 2) return;
    sort_items(lines, [](const LineRecord* a, const LineRecord* b) {
        if (int c = compare_u32(a->line, b->line)) return c;
        return compare_u32(a->address, b->address);
    });
    std::vector<const LineRecord*> firsts;
    for (const LineRecord* line : lines)
        if (firsts.empty() || firsts.back()->line != line->line) firsts.push_back(line);
    lines.swap(firsts);
    sort_items(lines, [](const LineRecord* a, const LineRecord* b) {
        if (int c = compare_u32(a->address, b->address)) return c;
        return compare_u32(a->line, b->line);
    });
}

void Builder::gather_lines() {
    FilesByName files(run_);
    for (CoffFunction& function : image_.functions) {
        const ScopeEntry* scope = function.scope;
        if (scope->scope().first_line == 0) continue;
        uint32_t last =
            scope->scope().last_line ? scope->scope().last_line : scope->scope().first_line;
        uint32_t segment = function.entry ? function.entry->location_segment : 0;
        files.lines_between(
            scope->scope().file_name, scope->scope().first_line, last, [&](const LineRecord* line) {
                bool wanted =
                    d_.scoped_functions
                        ? line->segment == segment
                        : is_program_class(run_.options, segment_name(run_, line->segment)) &&
                              !(d_.first_lines_outside_data_copy &&
                                in_data_copy(run_, line->address));
                if (wanted) function.lines.push_back(line);
            });
        if (d_.first_lines_outside_data_copy) reduce_to_first_lines(function.lines);
    }
}

} // namespace coff_build

CoffImage build_coff_image(Run& run, const CoffDialect& dialect) {
    return coff_build::Builder(run, dialect).build();
}
