// Microchip COFF files: detection, how a file gives its target, the dialect and the
// writer here; the reader and the dump are the COFF family's (coff.cpp), and the writer's
// symbol table is built by the walk it shares with the generic writer (coff_writer.cpp).
#include <algorithm>
#include <cstring>

#include "common/alert.h"
#include "common/options.h"
#include "common/osdep.h"
#include "formats/coff/coff_internal.h"
#include "formats/coff/coff_writer.h"
#include "formats/descriptors.h"
#include "model/encdec.h"
#include "model/machine.h"
#include "model/run.h"

namespace {

bool mcoff_detect(Run& run, FILE* in) {
    uint8_t raw[COFF_FILE_HEADER_SIZE];
    if (!ByteReader(in).read_at(0, raw, sizeof raw)) return false;
    if (get16_be(raw) != MCOFF_MAGIC) return false;
    // Microchip COFF is little-endian; the order stays set even when a later check fails.
    run.options.big_endian = false;
    return coff_header_plausible(run, raw);
}

// Microchip COFF is little-endian whatever the file says.
bool establish_microchip_target(Run& run, uint16_t magic) {
    if (magic != MCOFF_MAGIC) return false;
    run.options.big_endian = false;
    return true;
}

uint32_t units_of_width(uint32_t bits) {
    return bits == 0 ? 1 : bits / 8 + (bits % 8 != 0);
}

// The target parameters from the optional header (messages 1037, 1043, 639).
bool read_microchip_target(Run& run, ByteReader& input, const CoffFileHeader& header) {
    MicrochipParameters& m = run.coff.microchip;
    if (header.opthdr == MCOFF_OPTIONAL_HEADER_SIZE) {
        MicrochipOptionalHeader optional;
        if (!input.record_at(COFF_FILE_HEADER_SIZE, &optional)) {
            message(run.messages, 1037, "Microchip optional header");
            return false;
        }
        m.processor = optional.processor;
        m.rom_width = optional.rom_width;
        m.ram_width = optional.ram_width;
    } else {
        message(run.messages, 1043);
    }
    if (m.rom_width == 0 || m.ram_width == 0) message(run.messages, 639);
    m.code_unit = units_of_width(m.rom_width);
    m.data_unit = units_of_width(m.ram_width);
    m.pointer_size = MCOFF_POINTER_SIZE;
    return true;
}

void print_microchip_target(Run& run, ByteReader& input, const CoffFileHeader& header) {
    if (header.opthdr == 0) return;
    MicrochipOptionalHeader o;
    if (read_optional_header(run, input, header, &o, "optional", "optional header")) {
        printf("Optional header:\n\tMagic:\t\t0x%X", unsigned(o.magic));
        if (o.magic >= 5000 && o.magic <= 5999) printf(" (NORVALE Software)");
        printf("\n\tVersion:\t%ld\n\tProcessor:\t0x%lX\n\tROM width:\t%lu\n\tRAM width:\t%lu\n",
               static_cast<long>(static_cast<int32_t>(o.version)),
               static_cast<unsigned long>(o.processor), static_cast<unsigned long>(o.rom_width),
               static_cast<unsigned long>(o.ram_width));
        if (o.version != MCOFF_OPTIONAL_VERSION)
            message(run.messages, 638, int(MCOFF_OPTIONAL_VERSION));
        MicrochipParameters& m = run.coff.microchip;
        m.processor = o.processor;
        m.rom_width = o.rom_width;
        m.ram_width = o.ram_width;
        m.pointer_size = MCOFF_POINTER_SIZE;
    }
    printf("\n");
}

CoffDialect current_microchip_dialect(Run& run) {
    return microchip_coff_dialect(run.coff.microchip);
}

int mcoff_read(Run& run, FILE* in, const char*) {
    return read_coff_family(run, in, microchip_coff_member);
}

bool mcoff_dump(Run& run, FILE* in) {
    return dump_coff_family(run, in, microchip_coff_member);
}

// ---- Writer ----

// The processor id, address units and memory widths from -p: the processor name, then
// the id in hexadecimal and the family ("PIC12" to "PIC18"). Message 600 and false when
// they cannot be worked out.
bool choose_parameters(Run& run) {
    if (run.options.processor_name.empty()) {
        message(run.messages, 600);
        return false;
    }
    MicrochipParameters m;
    const std::vector<std::string>& list = run.options.processor_list;
    if (!list.empty() && !list[0].empty()) {
        // Read wide and cut to 32 bits, so that a longer id gives its low bits whatever
        // the width of long.
        unsigned long long id = 0;
        if (sscanf(list[0].c_str(), "%llX", &id) != 1) {
            message(run.messages, 600);
            return false;
        }
        m.processor = static_cast<uint32_t>(id);
    }
    m.code_unit = 1;
    m.data_unit = 1;
    m.rom_width = 8;
    m.ram_width = 8;
    if (list.size() >= 2 && list[1].size() > 4 && list[1].compare(0, 3, "PIC") == 0) {
        unsigned family = 0;
        if (sscanf(list[1].c_str() + 3, "%u", &family) != 1) family = 0;
        if (family == 12 || family == 14 || family == 16) {
            m.code_unit = 2;
            m.rom_width = family;
        } else if (family != 18) {
            message(run.messages, 600);
            return false;
        }
    } else if (run.options.processor_name.size() < 2 || run.options.processor_name[1] != '8') {
        m.code_unit = 2;
        m.rom_width = 0;
    }
    m.pointer_size = MCOFF_POINTER_SIZE;
    run.coff.microchip = m;
    return true;
}

// A section's line entries are counted in a 16-bit field: a reader finds no more than
// this many. Lines are written one entry per instruction address, so a damaged line
// record (one covering most of the address space) could otherwise ask for billions.
constexpr uint32_t MAX_SECTION_LINE_ENTRIES = 0xFFFF;

// One 16-byte entry per instruction address of each line.
struct LineEntries {
    ByteWriter bytes{ByteOrder::little};
    uint32_t entries = 0;

    // The line from its address to end by step, each entry naming the source file's
    // ".file" entry and the function's own entry.
    void add(Run& run, const LineRecord* line, uint32_t end, uint32_t step,
             uint32_t function_index) {
        const FileRecord* file = file_of(run, line->file);
        MicrochipLine entry;
        entry.srcndx = file ? file->output_index : 0;
        entry.lnno = static_cast<uint16_t>(line->line);
        entry.fcnndx = function_index;
        uint64_t count = end < line->address || step == 0 ? 1 : (end - line->address) / step + 1;
        count = std::min<uint64_t>(count, MAX_SECTION_LINE_ENTRIES - entries);
        for (uint64_t k = 0; k < count; ++k) {
            entry.paddr = line->address + static_cast<uint32_t>(k) * step;
            bytes.record(entry);
        }
        entries += static_cast<uint32_t>(count);
    }
};

// The line entries of every text section, to be written at offset.
std::vector<uint8_t> microchip_line_entries(Run& run, CoffImage& image, uint64_t offset) {
    std::vector<uint8_t> bytes;
    const ProcessorDescriptor* processor = selected_processor(run);
    if (!processor) return bytes;
    const uint32_t step = processor->instruction_step;
    const uint32_t last_length = processor->last_instruction_length;
    const auto by_section = image.functions_by_section();
    // The assembler files' line records with an address, by the section they lie in.
    std::vector<std::vector<std::vector<const LineRecord*>>> assembler_lines(
        image.sections.size() + 1,
        std::vector<std::vector<const LineRecord*>>(image.assembler_files.size()));
    for (size_t f = 0; f < image.assembler_files.size(); ++f)
        for (const LineRecord* line : image.assembler_files[f]->lines) {
            int32_t number = image.section_of(run, line->address, line->segment);
            if (line->address != 0 && number >= 1 && size_t(number) <= image.sections.size())
                assembler_lines[size_t(number)][f].push_back(line);
        }
    for (size_t k = image.first_text_section - 1; k < image.sections.size(); ++k) {
        CoffSection& section = image.sections[k];
        LineEntries entries;
        for (const CoffFunction* function : by_section[k + 1]) {
            const size_t count = function->lines.size();
            for (size_t j = 0; j < count; ++j) {
                const LineRecord* line = function->lines[j];
                uint32_t end = j + 1 == count ? line->address + last_length - 1 : line->end_address;
                entries.add(run, line, end, step, function->symbol_index);
            }
        }
        for (const std::vector<const LineRecord*>& lines : assembler_lines[k + 1]) {
            for (size_t j = 0; j < lines.size(); ++j) {
                uint32_t end = j + 1 == lines.size() ? lines[j]->address + last_length - 1
                                                     : lines[j]->end_address;
                entries.add(run, lines[j], end, step, 0);
            }
        }
        section.header.nlnno = static_cast<uint16_t>(entries.entries);
        section.header.lnnoptr = entries.entries ? static_cast<uint32_t>(offset + bytes.size()) : 0;
        bytes.insert(bytes.end(), entries.bytes.bytes().begin(), entries.bytes.bytes().end());
    }
    return bytes;
}

int mcoff_write(Run& run, FILE* out, const char* name) {
    if (run.options.program_classes.empty()) message(run.messages, 599);
    if (!choose_parameters(run)) return 0;
    run.options.big_endian = false;
    const MicrochipParameters& m = run.coff.microchip;
    CoffImage image = build_coff_image(run, microchip_coff_dialect(m));
    OutputFile output(run.messages, out, name, 413);

    MicrochipOptionalHeader o;
    o.magic = MCOFF_OPTIONAL_MAGIC;
    o.version = MCOFF_OPTIONAL_VERSION;
    o.processor = m.processor;
    o.rom_width = m.rom_width;
    o.ram_width = m.ram_width;
    ByteWriter optional(ByteOrder::little);
    optional.record(o);
    output.write_at(COFF_FILE_HEADER_SIZE, optional.bytes());

    const uint32_t nscns = static_cast<uint32_t>(image.sections.size());
    const uint64_t headers_at = COFF_FILE_HEADER_SIZE + MCOFF_OPTIONAL_HEADER_SIZE;
    uint64_t offset = write_section_contents(
        output, image, headers_at + uint64_t(COFF_SECTION_HEADER_SIZE) * nscns);
    std::vector<uint8_t> lines = microchip_line_entries(run, image, offset);
    output.write_at(offset, lines.data(), lines.size());
    offset += lines.size();

    CoffFileHeader header;
    header.magic = MCOFF_MAGIC;
    header.timdat = static_cast<uint32_t>(now_time());
    header.opthdr = MCOFF_OPTIONAL_HEADER_SIZE;
    header.flags = COFF_FILE_EXECUTABLE;
    write_coff_tail(run, output, header, offset, image, headers_at);
    return 1;
}

} // namespace

const CoffMember microchip_coff_member = {
    establish_microchip_target,
    read_microchip_target,
    print_microchip_target,
    current_microchip_dialect,
};

CoffDialect microchip_coff_dialect(const MicrochipParameters& m) {
    CoffDialect d;
    d.type_width = MCOFF_TYPE_WIDTH;
    d.line_entry_size = MCOFF_LINE_SIZE;
    d.type_words = &microchip_type_words;
    d.sizes = microchip_type_sizes;
    d.pointer_size = MCOFF_POINTER_SIZE;
    d.code_unit = m.code_unit;
    d.data_unit = m.data_unit;
    const uint32_t signed_bases[4] = {BASE_CHAR, BASE_INT, BASE_SHORT_LONG, BASE_LONG};
    const uint32_t unsigned_bases[4] = {BASE_UCHAR, BASE_UINT, BASE_USHORT_LONG, BASE_ULONG};
    std::copy(signed_bases, signed_bases + 4, d.signed_bases);
    std::copy(unsigned_bases, unsigned_bases + 4, d.unsigned_bases);
    d.long_section_names = true;
    d.file_aux_offset = true;
    d.microchip_extensions = true;
    d.absolute_section = true;
    d.scoped_functions = true;
    d.locals_as_statics = true;
    d.variable_type_checks = true;
    d.end_of_file_entries = true;
    d.grouped_bits = true;
    d.honours_strip_underscore = true;
    d.assembler_files = true;
    d.windows_file_names = true;
    d.label_section = 0;
    return d;
}

const FormatDescriptor mcoff_format = {
    mcoff_detect, mcoff_read, mcoff_write, mcoff_dump, "Microchip COFF", "mcoff", "cof", true,
};
