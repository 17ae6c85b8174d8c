// COFF files of the eleven targets: detection, the reader, the writer and the dump. The
// Microchip module (mcoff) shares the reader and the dump, through its CoffMember (how it
// learns the target) and its CoffDialect (layouts, widths, names), and the symbol-table
// half of the writer (coff_writer.cpp).
#include <algorithm>
#include <cstring>
#include <ctime>

#include "common/alert.h"
#include "common/options.h"
#include "common/osdep.h"
#include "formats/coff/coff_internal.h"
#include "formats/coff/coff_writer.h"
#include "formats/descriptors.h"
#include "model/encdec.h"
#include "model/run.h"
#include "model/store.h"

namespace {

// Reads and decodes the file header (message 1037 "COFF header"); the input then
// follows the target's byte order.
bool read_file_header(Run& run, ByteReader& input, const CoffMember& member,
                      CoffFileHeader* header) {
    uint8_t raw[COFF_FILE_HEADER_SIZE];
    if (!input.read_at(0, raw, sizeof raw) || !member.establish_target(run, get16_be(raw))) {
        message(run.messages, 1037, "COFF header");
        return false;
    }
    input.set_order(run_byte_order(run.options));
    *header = decode<CoffFileHeader>(raw, input.order());
    return true;
}

uint64_t string_table_offset(const CoffFileHeader& header, const CoffDialect& dialect) {
    return uint64_t(header.symptr) + dialect.entry_size() * uint64_t(header.nsyms);
}

// A symbol's name: in place, or from the string table (false after message 626).
bool symbol_name(Run& run, const CoffSymbol& symbol, const CoffStrings& strings, ByteOrder order,
                 std::string* name) {
    uint32_t offset = 0;
    if (name_in_place(symbol.name, order, &offset)) {
        *name = name_from_field(symbol.name, COFF_NAME_SIZE);
        return true;
    }
    return strings.name_at(run, offset, name);
}

bool class_is_ignored(int sclass, const CoffDialect& dialect) {
    switch (sclass) {
    case CLASS_NULL:
    case CLASS_AUTOMATIC:
    case CLASS_STRUCT_MEMBER:
    case CLASS_STRUCT_TAG:
    case CLASS_UNION_MEMBER:
    case CLASS_UNION_TAG:
    case CLASS_TYPEDEF:
    case CLASS_ENUM_TAG:
    case CLASS_ENUM_MEMBER:
    case CLASS_REGISTER_PARAMETER:
    case CLASS_BIT_FIELD:
    case CLASS_AUTO_ARGUMENT:
    case CLASS_BLOCK:
    case CLASS_FUNCTION:
    case CLASS_END_OF_STRUCT: return true;
    case CLASS_END_OF_FILE:
    case CLASS_LIST:
    case CLASS_SECTION: return dialect.microchip_extensions;
    default: return false;
    }
}

// Every entry is read as a symbol, auxiliary entries included: a well-formed auxiliary
// entry has 0 where the class byte would be, and class 0 is ignored.
bool read_symbols(Run& run, ByteReader& input, const CoffFileHeader& header,
                  const CoffStrings& strings, const CoffDialect& dialect, FileEntries* files) {
    const size_t size = dialect.entry_size();
    uint32_t current_file = 0;
    std::string name;
    CoffSymbol symbol;
    for (uint32_t index = 0; index < header.nsyms; ++index) {
        if (!input.record_at(header.symptr + uint64_t(index) * size, &symbol, dialect.type_width)) {
            message(run.messages, 1037, "COFF symbol table");
            return false;
        }
        int sclass = symbol.sclass;
        if (sclass == CLASS_EXTERNAL || sclass == CLASS_STATIC || sclass == CLASS_LABEL) {
            if (!symbol_name(run, symbol, strings, input.order(), &name)) continue;
            uint32_t segment = symbol.scnum > 0 ? uint32_t(symbol.scnum) : 0;
            add_symbol(run, name.c_str(), symbol.value, segment, current_file, 0);
        } else if (sclass == CLASS_FILE) {
            if (!symbol_name(run, symbol, strings, input.order(), &name)) continue;
            current_file = add_file(run, name.c_str());
            files->emplace(index, current_file);
        } else if (!class_is_ignored(sclass, dialect)) {
            message(run.messages, 633, sclass);
        }
    }
    return true;
}

// ---- Dump ----

const char* const SECTION_FLAG_NAMES[17] = {
    "dummy",
    "noload",
    "group",
    "padding",
    "group end",
    "text",
    "data",
    "bss",
    "romdata",
    "0x200",
    "0x400",
    "0x800",
    "absolute",
    "shared",
    "overlaid",
    "access bank",
    "activation record",
};

const char* const BASE_TYPE_NAMES[19] = {
    "null", "void", "char",  "short",  "int",  "long",  "float",  "double", "struct", "union",
    "enum", "moe",  "uchar", "ushort", "uint", "ulong", "lngdbl", "slong",  "uslong",
};

struct CoffDump {
    ByteReader& input;
    CoffDialect dialect;
    CoffFileHeader header;
    CoffStrings strings;
    std::vector<CoffSectionHeader> sections;
    std::vector<std::string> section_names;
    std::vector<std::string> names; // remembered symbol names by index
    std::vector<bool> named;

    const char* section_name_of(int scnum) const {
        if (scnum < 1 || size_t(scnum) > sections.size()) return "(abs)";
        return section_names[size_t(scnum) - 1].c_str();
    }
    const char* remembered_name(uint32_t index) const {
        if (index >= header.nsyms || index >= named.size() || !named[index]) return "??";
        return names[index].c_str();
    }
    uint32_t type_size(uint32_t type) const {
        return type_word_size(type, layout(), dialect.sizes, dialect.pointer_size);
    }
    const TypeWordLayout& layout() const { return *dialect.type_words; }
    ByteOrder order() const { return input.order(); }
};

void print_header(const CoffDump& dump) {
    const CoffFileHeader& h = dump.header;
    // The magic as the file's own byte order reads it.
    uint8_t raw[2];
    store_uint(raw, h.magic, 2, ByteOrder::big);
    printf("COFF header:\n\tMagic:\t\t0x%X", unsigned(load_uint(raw, 2, dump.order())));
    if (dump.dialect.target_name) printf(" (%s)", dump.dialect.target_name);
    printf("\n");
    time_t stamp = static_cast<time_t>(h.timdat);
    std::string dated = ctime_text(stamp);
    printf("\tSections:\t%u\n\tDated:\t\t%s\tSymptr:\t\t0x%lX\n\tNsyms:\t\t%ld\n\tOpthdr:\t\t%u\n"
           "\tFlags:\t\t0x%X",
           unsigned(h.nscns), dated.empty() ? "?\n" : dated.c_str(),
           static_cast<unsigned long>(h.symptr), static_cast<long>(static_cast<int32_t>(h.nsyms)),
           unsigned(h.opthdr), unsigned(h.flags));
    print_file_flags(h.flags);
    printf("\n\n");
}

// The PIC targets' "AOUT" optional header.
void print_aout_header(Run& run, ByteReader& input, const CoffFileHeader& header) {
    if (header.opthdr == 0) return;
    if (header.magic == COFF_MAGIC_PIC || header.magic == COFF_MAGIC_PIC30) {
        AoutHeader a;
        if (read_optional_header(run, input, header, &a, "AOUT", "AOUT optional header")) {
            printf("AOUT optional header:\n\tMagic:\t\t0x%X", unsigned(a.magic));
            printf("\n\tVersion:\t0x%X\n\tText size:\t0x%lX\n\tInit. data:\t0x%lX\n"
                   "\tUninit. data:\t0x%lX\n\tEntry point:\t0x%lX\n\tText base:\t0x%lX\n"
                   "\tData base:\t0x%lX\n",
                   unsigned(a.version), static_cast<unsigned long>(a.text_size),
                   static_cast<unsigned long>(a.data_size), static_cast<unsigned long>(a.bss_size),
                   static_cast<unsigned long>(a.entry), static_cast<unsigned long>(a.text_base),
                   static_cast<unsigned long>(a.data_base));
        }
    }
    printf("\n");
}

void print_sections(Run& run, const CoffDump& dump) {
    int top_flag = dump.dialect.microchip_extensions ? 16 : 7;
    for (size_t k = 0; k < dump.sections.size(); ++k) {
        const CoffSectionHeader& s = dump.sections[k];
        printf("Section %d: %s: @%lX", int(k + 1), dump.section_names[k].c_str(),
               static_cast<unsigned long>(s.paddr));
        if (run.options.verbose_level >= 2)
            printf(" scnptr 0x%lX relptr 0x%lX lnnoptr 0x%lX", static_cast<unsigned long>(s.scnptr),
                   static_cast<unsigned long>(s.relptr), static_cast<unsigned long>(s.lnnoptr));
        printf(" size 0x%lX lines %u relocs %u flags 0x%lX", static_cast<unsigned long>(s.size),
               unsigned(s.nlnno), unsigned(s.nreloc), static_cast<unsigned long>(s.flags));
        if (run.options.verbose_level >= 2) {
            bool any = false;
            for (int bit = top_flag; bit >= 0; --bit) {
                if (!(s.flags & (1ul << bit))) continue;
                printf(any ? ", %s" : " ( %s", SECTION_FLAG_NAMES[bit]);
                any = true;
            }
            if (any) printf(" )");
        }
        printf("\n");
    }
}

void print_string_table(Run& run, const CoffDump& dump) {
    const std::vector<uint8_t>& bytes = dump.strings.bytes;
    printf("\nString table: %ld bytes, file offset 0x%lX\n",
           static_cast<long>(static_cast<int32_t>(bytes.size())),
           static_cast<unsigned long>(uint32_t(string_table_offset(dump.header, dump.dialect))));
    if (run.options.verbose_level >= 2) print_strings(bytes, 4);
    printf("\n");
}

// One phrase for a type word and its first auxiliary entry.
std::string describe_type(const CoffDump& dump, uint32_t type, const uint8_t* aux) {
    const TypeWordLayout& layout = dump.layout();
    const CoffAux entry = aux ? decode<CoffAux>(aux, dump.order()) : CoffAux();
    const CoffAuxLinks links = aux ? decode<CoffAuxLinks>(aux, dump.order()) : CoffAuxLinks();
    std::string text;
    char piece[96];
    unsigned dimensions = 0;
    for (unsigned k = 0; k < layout.derived_fields; ++k) {
        unsigned derived = type_derived(type, k, layout);
        if (derived == DERIVED_NONE) break;
        if (derived == DERIVED_POINTER) {
            text += "pointer to ";
        } else if (derived == DERIVED_FUNCTION) {
            text += "function ";
            if (aux) {
                snprintf(piece, sizeof piece, "[lineptr %lX, endndx %ld] ",
                         static_cast<unsigned long>(links.line_pointer),
                         static_cast<long>(static_cast<int32_t>(links.next_index)));
                text += piece;
            }
            text += "returning ";
        } else if (derived == DERIVED_ARRAY) {
            text += "array ";
            if (aux && dimensions < 4) {
                snprintf(piece, sizeof piece, "[%u] of ", unsigned(entry.dimensions[dimensions]));
                ++dimensions;
                text += piece;
            } else {
                text += "[] of ";
            }
        }
    }
    uint32_t base = type_base(type, layout);
    size_t known = dump.dialect.microchip_extensions ? 19 : 17;
    if (base < known) {
        text += BASE_TYPE_NAMES[base];
    } else {
        snprintf(piece, sizeof piece, "type 0x%lX", static_cast<unsigned long>(base));
        text += piece;
    }
    if (aux && base >= BASE_STRUCT && base <= BASE_ENUM) {
        snprintf(piece, sizeof piece, " [%lu]", static_cast<unsigned long>(entry.tag_index));
        text += piece;
    }
    return text;
}

// The name a file-name entry's auxiliary entry holds.
std::string aux_file_name(Run& run, const CoffDump& dump, const uint8_t* aux) {
    std::string name;
    uint32_t offset = 0;
    if (dump.dialect.file_aux_offset)
        dump.strings.name_at(run, decode<MicrochipAuxFile>(aux, dump.order()).name_offset, &name);
    else if (name_in_place(aux, dump.order(), &offset))
        name = name_from_field(aux, COFF_AUX_NAME_SIZE);
    else
        dump.strings.name_at(run, offset, &name);
    return name;
}

void print_symbol_details(Run& run, const CoffDump& dump, const CoffSymbol& s, const uint8_t* aux,
                          const std::string& name) {
    int sclass = s.sclass;
    unsigned long value = s.value;
    const char* n = name.c_str();
    const CoffAuxLinks links = aux ? decode<CoffAuxLinks>(aux, dump.order()) : CoffAuxLinks();
    switch (sclass) {
    case CLASS_NULL: printf("%s", n); break;
    case CLASS_AUTOMATIC:
    case CLASS_REGISTER:
    case CLASS_STRUCT_MEMBER:
    case CLASS_ARGUMENT:
    case CLASS_UNION_MEMBER:
    case CLASS_TYPEDEF:
    case CLASS_ENUM_MEMBER:
    case CLASS_REGISTER_PARAMETER:
    case CLASS_AUTO_ARGUMENT:
        printf("%s = %lX: %s", n, value, describe_type(dump, s.type, aux).c_str());
        break;
    case CLASS_EXTERNAL:
    case CLASS_STATIC:
    case CLASS_LABEL:
    case CLASS_WEAK:
        printf("%s = %lX: %s %s", n, value, dump.section_name_of(s.scnum),
               describe_type(dump, s.type, aux).c_str());
        break;
    case CLASS_STRUCT_TAG:
    case CLASS_UNION_TAG:
    case CLASS_ENUM_TAG:
    case CLASS_END_OF_STRUCT:
        printf("%s", n);
        if (aux)
            printf(": tag %lu, size %u, index %lu", static_cast<unsigned long>(links.tag_index),
                   unsigned(links.size), static_cast<unsigned long>(links.next_index));
        break;
    case CLASS_BIT_FIELD:
        printf("%s = %lX", n, value);
        if (aux) printf(": size %u", unsigned(links.size));
        break;
    case CLASS_BLOCK:
    case CLASS_FUNCTION:
        printf("%s = %lX: %s", n, value, dump.section_name_of(s.scnum));
        if (aux)
            printf(": line %u, index %lu", unsigned(links.line),
                   static_cast<unsigned long>(links.next_index));
        break;
    case CLASS_FILE:
        if (dump.dialect.file_aux_offset && aux)
            printf("%s [%u]", aux_file_name(run, dump, aux).c_str(),
                   unsigned(decode<MicrochipAuxFile>(aux, dump.order()).number));
        else
            printf("%s", aux ? aux_file_name(run, dump, aux).c_str() : n);
        break;
    default:
        if (!dump.dialect.microchip_extensions) break;
        if (sclass == CLASS_END_OF_FILE) {
            printf("%s", n);
        } else if (sclass == CLASS_LIST) {
            const char* shown = name == ".list" ? "ON" : name == ".nolist" ? "OFF" : n;
            printf("%s: %lX", shown, value);
        } else if (sclass == CLASS_SECTION) {
            printf("%s = %lX", n, value);
            if (aux) {
                MicrochipAuxSection section = decode<MicrochipAuxSection>(aux, dump.order());
                printf(": size %lX, relocs %d, lines %d",
                       static_cast<unsigned long>(section.length), int(section.relocs),
                       int(section.lines));
            }
        }
        break;
    }
}

void print_symbol(Run& run, const CoffDump& dump, uint32_t index, const CoffSymbol& s,
                  const uint8_t* aux, const std::string& name) {
    const TypeWordLayout& layout = dump.layout();
    uint32_t size = dump.type_size(s.type);
    uint32_t count = 1;
    if (aux) {
        uint32_t base = type_base(s.type, layout);
        uint32_t aux_size = decode<CoffAux>(aux, dump.order()).size;
        if (base >= BASE_STRUCT && base <= BASE_ENUM) size = aux_size;
        if (type_derived(s.type, 0, layout) == DERIVED_ARRAY) {
            size = aux_size;
            uint32_t element = dump.type_size(s.type);
            if (element != 0) count = size / element;
        }
    }
    char class_text[32];
    const char* class_name = coff_class_name(s.sclass, dump.dialect);
    if (!class_name) {
        snprintf(class_text, sizeof class_text, "??Unknown (%u)", unsigned(uint8_t(s.sclass)));
        class_name = class_text;
    }
    if (dump.dialect.microchip_extensions)
        printf("%5u:\t%24.24s %u %lu[%lu]\t", unsigned(index), class_name, unsigned(s.numaux),
               static_cast<unsigned long>(size), static_cast<unsigned long>(count));
    else
        printf("%5u: (%ld)\t%24.24s %u %lu[%lu]\t", unsigned(index), long(s.scnum), class_name,
               unsigned(s.numaux), static_cast<unsigned long>(size),
               static_cast<unsigned long>(count));
    print_symbol_details(run, dump, s, aux, name);
    printf("\n");
}

bool print_symbols(Run& run, CoffDump& dump) {
    printf("Symbol table:\n");
    size_t size = dump.dialect.entry_size();
    const CoffFileHeader& h = dump.header;
    uint8_t raw[MCOFF_SYMBOL_SIZE];
    uint8_t first_aux[MCOFF_SYMBOL_SIZE];
    std::string name;
    for (uint32_t index = 0; index < h.nsyms;) {
        uint64_t at = h.symptr + uint64_t(index) * size;
        if (!dump.input.read_at(at, raw, size)) {
            message(run.messages, 1037, "COFF symbol table");
            return false;
        }
        CoffSymbol symbol = decode<CoffSymbol>(raw, dump.order(), dump.dialect.type_width);
        if (uint64_t(index) + symbol.numaux >= h.nsyms) {
            message(run.messages, 1039);
            return false;
        }
        for (unsigned k = 1; k <= symbol.numaux; ++k) {
            uint8_t* into = k == 1 ? first_aux : raw;
            if (!dump.input.read_at(at + k * size, into, size)) {
                message(run.messages, 1037, "COFF symbol table");
                return false;
            }
        }
        symbol_name(run, symbol, dump.strings, dump.order(), &name);
        print_symbol(run, dump, index, symbol, symbol.numaux ? first_aux : nullptr, name);
        dump.names.resize(size_t(index) + 1);
        dump.named.resize(size_t(index) + 1);
        dump.names[index] = name;
        dump.named[index] = true;
        index += symbol.numaux + 1u;
    }
    return true;
}

bool print_lines(Run& run, CoffDump& dump) {
    const size_t size = dump.dialect.line_entry_size;
    const bool microchip_lines = size == MCOFF_LINE_SIZE;
    if (size == 0) return false;
    for (size_t k = 0; k < dump.sections.size(); ++k) {
        const CoffSectionHeader& s = dump.sections[k];
        if (s.nlnno == 0) continue;
        printf("Section %d line numbers: %lu, file offset 0x%lX\n", int(k + 1),
               static_cast<unsigned long>(s.nlnno), static_cast<unsigned long>(s.lnnoptr));
        for (uint32_t j = 0; j < s.nlnno; ++j) {
            // Sections may name one table between them; what they print is measured.
            charge_read_allowance(run, 1);
            uint64_t at = s.lnnoptr + uint64_t(j) * size;
            MicrochipLine line;
            CoffLine entry;
            if (microchip_lines ? !dump.input.record_at(at, &line)
                                : !read_line_entry(dump.input, at, size, &entry)) {
                message(run.messages, 1037, "COFF line number");
                return false;
            }
            if (microchip_lines) {
                if (line.lnno != 0)
                    printf("%5.5ld:\tsrcndx: %lu, paddr: 0x%lX, flags 0x%X, fcnndx: %lu\n",
                           long(line.lnno), static_cast<unsigned long>(line.srcndx),
                           static_cast<unsigned long>(line.paddr), unsigned(line.flags),
                           static_cast<unsigned long>(line.fcnndx));
                else
                    printf("Symbol: %s (%lu)\n", dump.remembered_name(line.paddr),
                           static_cast<unsigned long>(line.paddr));
            } else {
                if (entry.line != 0)
                    printf("%5.5ld:\t%lX\n", long(int32_t(entry.line)),
                           static_cast<unsigned long>(entry.address));
                else
                    printf("Symbol: %s (%lu)\n", dump.remembered_name(entry.address),
                           static_cast<unsigned long>(entry.address));
            }
        }
    }
    return true;
}

bool coff_detect(Run& run, FILE* in) {
    uint8_t raw[COFF_FILE_HEADER_SIZE];
    if (!ByteReader(in).read_at(0, raw, sizeof raw)) return false;
    unsigned row = find_coff_target_by_magic(get16_be(raw));
    if (row == 0) return false;
    // The byte order stays set even when a later check refuses the file.
    run.options.big_endian = coff_targets[row].big_endian;
    if (!coff_header_plausible(run, raw)) return false;
    run.coff.target = row;
    return true;
}

// A file that detection did not look at takes its target from the magic; a target that
// is already chosen stays.
bool establish_generic_target(Run& run, uint16_t magic) {
    if (run.coff.target == 0) {
        unsigned row = find_coff_target_by_magic(magic);
        if (row == 0) return false;
        run.options.big_endian = coff_targets[row].big_endian;
        run.coff.target = row;
    }
    return true;
}

bool read_generic_target(Run&, ByteReader&, const CoffFileHeader&) {
    return true;
}

CoffDialect current_generic_dialect(Run& run) {
    return generic_coff_dialect(current_coff_target(run));
}

int coff_read(Run& run, FILE* in, const char*) {
    return read_coff_family(run, in, generic_coff_member);
}

bool coff_dump(Run& run, FILE* in) {
    return dump_coff_family(run, in, generic_coff_member);
}

// ---- Writer ----

// The target named by -p (the first further item, else the processor name) when no
// COFF input chose one (messages 600, 601). False when there is none.
bool choose_target(Run& run) {
    if (run.coff.target != 0) return true;
    const std::string& name = run.options.processor_list.empty() ? run.options.processor_name
                                                                 : run.options.processor_list[0];
    if (name.empty()) {
        message(run.messages, 600);
        return false;
    }
    unsigned row = find_coff_target_by_name(name.c_str());
    if (row == 0) {
        message(run.messages, 601, name.c_str());
        return false;
    }
    run.coff.target = row;
    run.options.big_endian = coff_targets[row].big_endian;
    return true;
}

// The line-number entries of every text section: for each function placed there that
// has lines, a marker naming the function's entry, then its lines.
std::vector<uint8_t> generic_line_entries(Run& run, CoffImage& image, size_t entry_size,
                                          uint64_t offset) {
    ByteWriter bytes(run_byte_order(run.options));
    const auto by_section = image.functions_by_section();
    const unsigned line_width = static_cast<unsigned>(entry_size - 4);
    for (size_t k = image.first_text_section - 1; k < image.sections.size(); ++k) {
        CoffSectionHeader& header = image.sections[k].header;
        header.lnnoptr = static_cast<uint32_t>(offset + bytes.size());
        uint32_t count = 0;
        auto put = [&](uint32_t address, uint32_t line) {
            bytes.record(CoffLine{address, line}, line_width);
            ++count;
        };
        for (const CoffFunction* function : by_section[k + 1]) {
            if (function->lines.empty()) continue;
            put(function->symbol_index, 0);
            for (const LineRecord* line : function->lines)
                put(line->address, line->line);
        }
        header.nlnno = static_cast<uint16_t>(count);
    }
    return bytes.take();
}

int coff_write(Run& run, FILE* out, const char* name) {
    if (run.options.program_classes.empty()) message(run.messages, 599);
    if (!choose_target(run)) return 0;
    const CoffTarget& target = current_coff_target(run);
    CoffImage image = build_coff_image(run, generic_coff_dialect(target));
    OutputFile output(run.messages, out, name, 413);
    const uint32_t nscns = static_cast<uint32_t>(image.sections.size());
    // Each store segment leaves 40 bytes after the section headers that nothing writes.
    uint64_t offset = COFF_FILE_HEADER_SIZE + uint64_t(COFF_SECTION_HEADER_SIZE) * nscns +
                      uint64_t(COFF_SECTION_HEADER_SIZE) * run.store.segments.count();
    offset = write_section_contents(output, image, offset);
    std::vector<uint8_t> lines = generic_line_entries(run, image, target.line_entry_size, offset);
    output.write_at(offset, lines.data(), lines.size());
    offset += lines.size();

    CoffFileHeader header;
    header.magic = target.magic;
    header.timdat = static_cast<uint32_t>(now_time());
    header.flags = target.header_flags | COFF_FILE_STRIPPED | COFF_FILE_EXECUTABLE;
    write_coff_tail(run, output, header, offset, image, COFF_FILE_HEADER_SIZE);
    return 1;
}

} // namespace

const CoffMember generic_coff_member = {
    establish_generic_target,
    read_generic_target,
    print_aout_header,
    current_generic_dialect,
};

CoffDialect generic_coff_dialect(const CoffTarget& target) {
    CoffDialect d;
    d.line_entry_size = target.line_entry_size;
    d.sizes = target.sizes;
    d.pointer_size = target.pointer_size;
    d.code_unit = target.code_unit;
    d.data_unit = target.data_unit;
    const uint32_t signed_bases[4] = {BASE_CHAR, BASE_SHORT, 0, BASE_LONG};
    const uint32_t unsigned_bases[4] = {BASE_UCHAR, BASE_USHORT, 0, BASE_ULONG};
    std::copy(signed_bases, signed_bases + 4, d.signed_bases);
    std::copy(unsigned_bases, unsigned_bases + 4, d.unsigned_bases);
    d.target_name = target.name;
    // The PIC30/PIC24 writer's additions.
    bool pic30 = target.magic == COFF_MAGIC_PIC30;
    d.windows_file_names = pic30;
    d.entry_starts = pic30;
    d.frame_pointer_entries = pic30;
    d.first_lines_outside_data_copy = pic30;
    return d;
}

bool coff_header_plausible(Run& run, const uint8_t* raw) {
    CoffFileHeader header = decode<CoffFileHeader>(raw, run_byte_order(run.options));
    return header.nscns <= COFF_MAX_SECTIONS && static_cast<int32_t>(header.symptr) >= 0 &&
           static_cast<int32_t>(header.nsyms) >= 0;
}

int read_coff_family(Run& run, FILE* in, const CoffMember& member) {
    ByteReader input(in);
    CoffFileHeader header;
    if (!read_file_header(run, input, member, &header) || !member.read_target(run, input, header))
        return 0;
    const CoffDialect dialect = member.dialect(run);
    CoffStrings strings;
    if (!read_coff_strings(run, input, string_table_offset(header, dialect), &strings)) return 0;
    std::vector<CoffSectionHeader> sections;
    std::vector<std::string> names;
    const CoffStrings* long_names = dialect.long_section_names ? &strings : nullptr;
    if (!read_section_headers(run, input, header, long_names, &sections, &names)) return 0;
    if (!add_sections_to_store(run, input, sections, names, dialect.code_unit)) return 0;
    FileEntries files;
    if (!read_symbols(run, input, header, strings, dialect, &files)) return 0;
    if (!add_lines_to_store(run, input, sections, files, dialect.line_entry_size)) return 0;
    return 1;
}

bool dump_coff_family(Run& run, FILE* in, const CoffMember& member) {
    ByteReader input(in);
    CoffDump dump{input, {}, {}, {}, {}, {}, {}, {}};
    if (!read_file_header(run, input, member, &dump.header)) return false;
    dump.dialect = member.dialect(run);
    print_header(dump);
    member.print_target(run, input, dump.header);
    if (!read_coff_strings(run, input, string_table_offset(dump.header, dump.dialect),
                           &dump.strings))
        return false;
    const CoffStrings* long_names = dump.dialect.long_section_names ? &dump.strings : nullptr;
    if (!read_section_headers(run, input, dump.header, long_names, &dump.sections,
                              &dump.section_names))
        return false;
    print_sections(run, dump);
    print_string_table(run, dump);
    if (run.options.verbose_level >= 1 && !print_symbols(run, dump)) return false;
    printf("\n");
    if (run.options.verbose_level >= 1 && !print_lines(run, dump)) return false;
    return true;
}

const FormatDescriptor coff_format = {
    coff_detect, coff_read, coff_write, coff_dump, "COFF", "coff", "cof", true,
};
