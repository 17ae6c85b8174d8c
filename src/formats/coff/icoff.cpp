// Introl ICOFF files: detection, the reader, the writer and the dump. ICOFF shares the
// COFF file and section headers but has its own symbol entry, symbol kinds and a string
// table without a size field, and carries no scopes or types.
#include <algorithm>
#include <cstring>
#include <ctime>
#include <unordered_map>

#include "common/alert.h"
#include "common/options.h"
#include "common/osdep.h"
#include "common/sort.h"
#include "formats/coff/coff_internal.h"
#include "formats/coff/coff_writer.h"
#include "formats/descriptors.h"
#include "model/encdec.h"
#include "model/run.h"
#include "model/store.h"

namespace {

// Symbol kinds.
enum : unsigned {
    KIND_GLOBAL = 1,
    KIND_LOCAL = 2,
    KIND_LABEL = 3,
    KIND_SECTION_SIZE = 9,
    KIND_SIMPLE_TYPE = 20,
    KIND_LOCAL_VARIABLE = 50,
    KIND_PARAMETER = 51,
    KIND_FILE = 55,
};

// Line-number entries: a 4-byte address and a 2-byte line.
constexpr unsigned ICOFF_LINE_WIDTH = 2;
constexpr size_t ICOFF_LINE_SIZE = record_size<CoffLine>(ICOFF_LINE_WIDTH);

// The dump remembers at most this many file entries.
constexpr unsigned ICOFF_MAX_FILE_ENTRIES = 8192;

bool kind_is_ignored(unsigned kind) {
    return (kind >= 4 && kind <= 9) || (kind >= 20 && kind <= 31) || (kind >= 50 && kind <= 54);
}

const char* kind_name(unsigned kind) {
    static const char* const low[] = {
        nullptr,
        "global symbol ",
        "non-global symbol ",
        "label ",
        "physical end of function ",
        "function entry point ",
        "function exit point ",
        "block begin ",
        "block end ",
        "section size symbol ",
    };
    static const char* const types[] = {
        "simple type ",           "subrange type ", "enumeration type ", "array of . . . ",
        "pointer to . . . ",      "tag type ",      "set of ",           "type of ",
        "function or procedure ", "record type ",   "union type ",       "C array type ",
    };
    static const char* const locals[] = {
        "local variable ", "parameter ",           "record member ",
        "bit field ",      "enumeration literal ", "file name ",
    };
    if (kind >= 1 && kind <= 9) return low[kind];
    if (kind >= 20 && kind <= 31) return types[kind - 20];
    if (kind >= 50 && kind <= 55) return locals[kind - 50];
    return nullptr;
}

// The simple type's name, then each flag that is set.
std::string type_text(uint8_t type) {
    static const char* const simple[] = {
        "",           "char",        "uchar",       "signed_8", "signed_16", "signed_32",
        "unsigned_8", "unsigned_16", "unsigned_32", "float",    "double",
    };
    static const struct {
        unsigned mask;
        const char* name;
    } flags[] = {
        {0x10, "register "},      {0x20, "VAR parameter "},  {0x40, "ALIAS parameter "},
        {0x10, "function begin"}, {0x20, "weak definition"}, {0x80, "used internally "},
    };
    unsigned base = type & 0xF;
    std::string text = base <= 10 ? simple[base] : "??type";
    for (const auto& flag : flags)
        if (type & flag.mask) {
            text += ' ';
            text += flag.name;
        }
    return text;
}

// As for COFF read with -i: a target already chosen stays, else the magic must be
// ICOFF's.
bool read_icoff_header(Run& run, ByteReader& input, CoffFileHeader* header) {
    uint8_t raw[COFF_FILE_HEADER_SIZE];
    bool ok = input.read_at(0, raw, sizeof raw);
    if (ok && run.coff.icoff_target == 0) {
        ok = get16_be(raw) == icoff_targets[1].magic;
        if (ok) {
            run.coff.icoff_target = 1;
            run.options.big_endian = icoff_targets[1].big_endian;
        }
    }
    if (!ok) {
        message(run.messages, 1037, "COFF header");
        return false;
    }
    input.set_order(run_byte_order(run.options));
    *header = decode<CoffFileHeader>(raw, input.order());
    return true;
}

uint64_t icoff_string_offset(const CoffFileHeader& header) {
    return uint64_t(header.symptr) + COFF_SYMBOL_SIZE * uint64_t(header.nsyms);
}

// The string table runs from the end of the symbol table to the end of the file.
bool read_icoff_strings(Run& run, ByteReader& input, const CoffFileHeader& header,
                        CoffStrings* strings) {
    uint64_t offset = icoff_string_offset(header);
    strings->first_name = 0;
    if (!input.holds(offset, 0) || !input.read_at(offset, input.size() - offset, &strings->bytes)) {
        message(run.messages, 1037, "COFF string table");
        return false;
    }
    return true;
}

bool read_icoff_symbol(Run& run, ByteReader& input, const CoffFileHeader& header, uint32_t index,
                       IcoffSymbol* symbol) {
    if (!input.record_at(header.symptr + uint64_t(index) * ICOFF_SYMBOL_SIZE, symbol)) {
        message(run.messages, 1037, "COFF symbol table");
        return false;
    }
    return true;
}

bool icoff_detect(Run& run, FILE* in) {
    uint8_t raw[COFF_FILE_HEADER_SIZE];
    if (!ByteReader(in).read_at(0, raw, sizeof raw)) return false;
    if (get16_be(raw) != icoff_targets[1].magic) return false;
    run.options.big_endian = icoff_targets[1].big_endian;
    if (!coff_header_plausible(run, raw)) return false;
    run.coff.icoff_target = 1;
    return true;
}

int icoff_read(Run& run, FILE* in, const char*) {
    ByteReader input(in);
    CoffFileHeader header;
    if (!read_icoff_header(run, input, &header)) return 0;
    CoffStrings strings;
    if (!read_icoff_strings(run, input, header, &strings)) return 0;
    std::vector<CoffSectionHeader> sections;
    std::vector<std::string> names;
    if (!read_section_headers(run, input, header, nullptr, &sections, &names)) return 0;
    if (!add_sections_to_store(run, input, sections, names, 1)) return 0;

    FileEntries files;
    uint32_t current_file = 0;
    std::string name;
    for (uint32_t index = 0; index < header.nsyms; ++index) {
        IcoffSymbol symbol;
        if (!read_icoff_symbol(run, input, header, index, &symbol)) return 0;
        if (symbol.kind >= KIND_GLOBAL && symbol.kind <= KIND_LABEL) {
            if (!strings.name_at(run, symbol.name_offset, &name)) continue;
            int32_t section = icoff_section(symbol, input.order());
            uint32_t segment = section < 0 ? 0 : uint32_t(section);
            add_symbol(run, name.c_str(), symbol.value, segment, current_file, 0);
        } else if (symbol.kind == KIND_FILE) {
            if (!strings.name_at(run, symbol.name_offset, &name)) continue;
            current_file = add_file(run, name.c_str());
            files.emplace(index, current_file);
        } else if (!kind_is_ignored(symbol.kind)) {
            message(run.messages, 633, int(symbol.kind));
        }
    }
    return add_lines_to_store(run, input, sections, files, ICOFF_LINE_SIZE) ? 1 : 0;
}

void print_icoff_symbol(const std::vector<CoffSectionHeader>& sections,
                        const std::vector<std::string>& section_names, uint32_t index,
                        const IcoffSymbol& s, int32_t section_number, const std::string& name) {
    const char* kind = kind_name(s.kind);
    printf("%5u: %5u:\t%20.20s\t", unsigned(index), unsigned(s.name_offset),
           kind ? kind : "??Unknown");
    const char* section = section_number >= 1 && size_t(section_number) <= sections.size()
                              ? section_names[size_t(section_number) - 1].c_str()
                              : "(abs)";
    const char* n = name.c_str();
    unsigned long value = s.value;
    if (s.kind >= KIND_GLOBAL && s.kind <= KIND_LABEL)
        printf("%s = %lX:%s %s\n", n, value, section, type_text(s.type).c_str());
    else if (s.kind >= 4 && s.kind <= 8)
        printf("%s = %lX:%s\n", n, value, section);
    else if (s.kind == KIND_SECTION_SIZE)
        printf("%s, value=%lX, section=%ld\n", n, value, long(section_number));
    else if (s.kind == KIND_SIMPLE_TYPE)
        printf("%s %s\n", n, type_text(s.type).c_str());
    else if (s.kind == KIND_LOCAL_VARIABLE || s.kind == KIND_PARAMETER)
        printf("%s = %lX:%s\n", n, value, type_text(s.type).c_str());
    else if (s.kind == KIND_FILE)
        printf("%s\n", n);
    else
        printf("\n");
}

bool icoff_dump(Run& run, FILE* in) {
    ByteReader input(in);
    CoffFileHeader h;
    if (!read_icoff_header(run, input, &h)) return false;
    time_t stamp = static_cast<time_t>(h.timdat);
    std::string dated = ctime_text(stamp);
    printf("COFF header:\n\tMagic:\t0%o\n\tSections:\t%u\n\tDated:\t%s\tSymptr:\t%lX\n"
           "\tNsyms:\t%ld\n\tOpthdr:\t%u\n\tFlags:\t0x%X",
           unsigned(h.magic), unsigned(h.nscns), dated.empty() ? "?\n" : dated.c_str(),
           static_cast<unsigned long>(h.symptr), static_cast<long>(static_cast<int32_t>(h.nsyms)),
           unsigned(h.opthdr), unsigned(h.flags));
    print_file_flags(h.flags);
    printf("\n");

    std::vector<CoffSectionHeader> sections;
    std::vector<std::string> names;
    if (!read_section_headers(run, input, h, nullptr, &sections, &names)) return false;
    for (size_t k = 0; k < sections.size(); ++k) {
        const CoffSectionHeader& s = sections[k];
        printf("Section %d: %s: @%lX size %lX lines %u flags %lX\n", int(k), names[k].c_str(),
               static_cast<unsigned long>(s.paddr), static_cast<unsigned long>(s.size),
               unsigned(s.nlnno), static_cast<unsigned long>(s.flags));
    }

    CoffStrings strings;
    if (!read_icoff_strings(run, input, h, &strings)) return false;
    const std::vector<uint8_t>& bytes = strings.bytes;
    printf("String table: %ld bytes\n", static_cast<long>(static_cast<int32_t>(bytes.size())));
    // The table opens with a single NUL; the names follow it.
    if (run.options.verbose_level >= 2) print_strings(bytes, !bytes.empty() && bytes[0] == 0);

    if (run.options.verbose_level >= 1) {
        unsigned file_entries = 0;
        std::string name;
        for (uint32_t index = 0; index < h.nsyms; ++index) {
            IcoffSymbol symbol;
            if (!read_icoff_symbol(run, input, h, index, &symbol)) return false;
            strings.name_at(run, symbol.name_offset, &name);
            if (symbol.kind == KIND_FILE && file_entries++ == ICOFF_MAX_FILE_ENTRIES)
                message(run.messages, 625);
            print_icoff_symbol(sections, names, index, symbol, icoff_section(symbol, input.order()),
                               name);
        }
        for (size_t k = 0; k < sections.size(); ++k)
            if (sections[k].nlnno != 0) printf("Section %d line numbers:\n", int(k));
    }
    return true;
}

// ---- Writer ----

constexpr uint16_t ICOFF_FILE_FLAGS = 0x1003;
constexpr uint32_t ICOFF_TEXT = 0x4020;
constexpr uint32_t ICOFF_DATA = 0x4040;
constexpr uint32_t ICOFF_NO_CONTENTS = 0x4080;
constexpr uint8_t ICOFF_MARKED_TYPE = 0x1C; // byte 17 of a symbol with the kind mark

// Offsets in the file are 32 bits: nothing may begin or end past 4 GiB.
constexpr uint64_t ICOFF_OFFSET_LIMIT = uint64_t(1) << 32;

// Where each section's contents go: one section per store segment, its contents being
// the data blocks of that segment, each at its distance from the segment's address.
struct IcoffSections {
    std::vector<CoffSectionHeader> headers;
    std::vector<std::vector<const DataBlock*>> blocks;
    // The first part that would pass the offset limit, and where it would begin.
    std::string overflow;
    uint64_t overflow_at = 0;
};

IcoffSections lay_out_icoff_sections(Run& run, uint64_t* offset) {
    const uint32_t count = run.store.segments.count();
    IcoffSections layout;
    layout.blocks.resize(count);
    for (const DataBlock* block : run.store.data)
        if (block->segment >= 1 && block->segment <= count)
            layout.blocks[block->segment - 1].push_back(block);
    layout.headers.resize(count);
    for (uint32_t k = 0; k < count; ++k) {
        const SegmentRecord* segment = run.store.segments[k];
        CoffSectionHeader& h = layout.headers[k];
        memcpy(h.name, segment->name.data(), std::min(segment->name.size(), COFF_NAME_SIZE));
        h.paddr = h.vaddr = segment->address;
        h.size = segment->size;
        const uint64_t start = *offset;
        h.scnptr = static_cast<uint32_t>(start);
        bool contents = false;
        for (const DataBlock* block : layout.blocks[k]) {
            uint64_t at = start + uint32_t(block->address - segment->address);
            if (layout.overflow.empty() && at + block->size > ICOFF_OFFSET_LIMIT) {
                layout.overflow = "section \"" + segment->name + "\"";
                layout.overflow_at = at + block->size;
            }
            *offset += block->size;
            contents = true;
        }
        if (contents && *offset < start + segment->size) *offset = start + segment->size;
        if (find_text_nocase(segment->name.c_str(), "text"))
            h.flags = ICOFF_TEXT;
        else
            h.flags = contents ? ICOFF_DATA : ICOFF_NO_CONTENTS;
    }
    return layout;
}

void write_icoff_sections(Run& run, OutputFile& output, const IcoffSections& layout) {
    for (size_t k = 0; k < layout.headers.size(); ++k) {
        const SegmentRecord* segment = run.store.segments[static_cast<uint32_t>(k)];
        for (const DataBlock* block : layout.blocks[k]) {
            uint32_t at = layout.headers[k].scnptr + (block->address - segment->address);
            output.write_at(at, block->bytes.data(),
                            std::min<size_t>(block->size, block->bytes.size()));
        }
    }
}

// Per section, the line records of each file in that segment, each file's run after a
// marker naming the file's entry.
std::vector<uint8_t> icoff_line_entries(Run& run, std::vector<CoffSectionHeader>& headers,
                                        uint64_t offset) {
    // Each section's lines, by file in file order.
    std::vector<std::vector<std::pair<const FileRecord*, const LineRecord*>>> by_section(
        headers.size());
    for (const FileRecord* file : run.store.files)
        for (const LineRecord* line : file->lines)
            if (line->segment >= 1 && line->segment <= headers.size())
                by_section[line->segment - 1].emplace_back(file, line);
    ByteWriter bytes(run_byte_order(run.options));
    uint32_t entries = 0;
    auto put = [&](uint32_t address, uint32_t line) {
        bytes.record(CoffLine{address, line}, ICOFF_LINE_WIDTH);
        ++entries;
    };
    for (size_t k = 0; k < headers.size(); ++k) {
        headers[k].lnnoptr = static_cast<uint32_t>(offset + bytes.size());
        entries = 0;
        const FileRecord* previous = nullptr;
        for (const auto& [file, line] : by_section[k]) {
            if (file != previous) put(file->output_index, 0);
            previous = file;
            put(line->address, line->line);
        }
        headers[k].nlnno = static_cast<uint16_t>(entries);
    }
    return bytes.take();
}

// The names of every file and symbol, sorted, each once, after a single NUL.
class IcoffStrings {
  public:
    explicit IcoffStrings(Run& run) {
        std::vector<const std::string*> names;
        for (const FileRecord* file : run.store.files)
            names.push_back(&file->name);
        for (const SymbolRecord* symbol : run.store.symbols)
            names.push_back(&symbol->name);
        sort_items(names, [](const std::string* a, const std::string* b) {
            return strcmp(a->c_str(), b->c_str());
        });
        table_.push_back(0);
        for (const std::string* name : names) {
            if (offsets_.count(*name)) continue;
            offsets_.emplace(*name, static_cast<uint32_t>(table_.size()));
            table_.insert(table_.end(), name->begin(), name->end());
            table_.push_back(0);
        }
    }
    uint32_t offset(const std::string& name) const { return offsets_.at(name); }
    const std::vector<uint8_t>& table() const { return table_; }

  private:
    std::vector<uint8_t> table_;
    std::unordered_map<std::string, uint32_t> offsets_;
};

// A file entry for each file that has symbols, then its symbols.
std::vector<uint8_t> icoff_symbols(Run& run, const IcoffStrings& strings) {
    ByteWriter bytes(run_byte_order(run.options));
    for (const FileRecord* file : run.store.files) {
        if (file->symbol_count == 0) continue;
        IcoffSymbol entry;
        entry.name_offset = strings.offset(file->name);
        entry.kind = KIND_FILE;
        bytes.record(entry);
        for (const SymbolRecord* symbol : file->symbols) {
            IcoffSymbol s;
            s.name_offset = strings.offset(symbol->name);
            s.value = symbol->value;
            bool absolute = (symbol->flags & SYM_ABSOLUTE) || symbol->segment == 0;
            s.section = absolute ? 0xFFFF : static_cast<uint16_t>(symbol->segment);
            s.kind = (symbol->flags & SYM_LOCAL) ? KIND_LOCAL : KIND_GLOBAL;
            s.type = (symbol->flags & SYM_KIND_MARK) ? ICOFF_MARKED_TYPE : 0;
            bytes.record(s);
        }
    }
    return bytes.take();
}

int icoff_write(Run& run, FILE* out, const char* name) {
    if (run.coff.icoff_target == 0) {
        run.coff.icoff_target = 1;
        run.options.big_endian = icoff_targets[1].big_endian;
    }
    const IcoffTarget& target =
        icoff_targets[run.coff.icoff_target <= ICOFF_TARGET_COUNT ? run.coff.icoff_target : 1];
    const uint32_t nscns = run.store.segments.count();
    uint64_t offset = COFF_FILE_HEADER_SIZE + uint64_t(COFF_SECTION_HEADER_SIZE) * nscns;
    IcoffSections layout = lay_out_icoff_sections(run, &offset);
    std::vector<CoffSectionHeader>& headers = layout.headers;

    // Each file with symbols takes its file entry and one entry per symbol.
    uint32_t index = 0;
    for (FileRecord* file : run.store.files) {
        file->output_index = 0;
        if (file->symbol_count == 0) continue;
        file->output_index = index;
        index += 1 + file->symbol_count;
    }
    std::vector<uint8_t> lines = icoff_line_entries(run, headers, offset);
    IcoffStrings strings(run);
    std::vector<uint8_t> symbols = icoff_symbols(run, strings);

    // The whole file is laid out before anything is written: an offset that a 32-bit
    // field cannot hold is refused, naming what would lie there.
    if (layout.overflow.empty()) {
        const uint64_t tail[] = {offset, offset + lines.size(),
                                 offset + lines.size() + symbols.size()};
        const uint64_t ends[] = {tail[1], tail[2], tail[2] + strings.table().size()};
        const char* const parts[] = {"line-number table", "symbol table", "string table"};
        for (int k = 0; k < 3 && layout.overflow.empty(); ++k)
            if (ends[k] > ICOFF_OFFSET_LIMIT) {
                layout.overflow = parts[k];
                layout.overflow_at = ends[k];
            }
    }
    if (!layout.overflow.empty()) {
        message(run.messages, 418, name, layout.overflow.c_str(),
                std::to_string(layout.overflow_at).c_str(), "ICOFF");
        return 0;
    }
    OutputFile output(run.messages, out, name, 413);
    write_icoff_sections(run, output, layout);
    output.write_at(offset, lines.data(), lines.size());
    offset += lines.size();
    CoffFileHeader header;
    header.magic = target.magic;
    header.timdat = static_cast<uint32_t>(now_time());
    header.nsyms = static_cast<uint32_t>(symbols.size() / ICOFF_SYMBOL_SIZE);
    header.flags = ICOFF_FILE_FLAGS;
    write_coff_tail(run, output, header, offset, symbols, strings.table(), COFF_FILE_HEADER_SIZE,
                    headers);
    return 1;
}

} // namespace

const FormatDescriptor icoff_format = {
    icoff_detect, icoff_read, icoff_write, icoff_dump, "ICOFF", "icoff", "cof", true,
};
