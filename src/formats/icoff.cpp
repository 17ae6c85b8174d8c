// Introl ICOFF files: detection, the reader and the dump. ICOFF shares the COFF file and
// section headers but has its own symbol entry, symbol kinds and a string table without
// a size field. The writer is not built yet.
#include <cstring>
#include <ctime>

#include "common/alert.h"
#include "common/options.h"
#include "formats/coff_internal.h"
#include "formats/descriptors.h"
#include "model/encdec.h"
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
bool read_icoff_header(CoffInput& input, CoffFileHeader* header) {
    uint8_t raw[COFF_FILE_HEADER_SIZE];
    bool ok = input.read_at(0, raw, sizeof raw);
    if (ok && coff_state.icoff_target == 0) {
        ok = get16_be(raw) == icoff_targets[1].magic;
        if (ok) {
            coff_state.icoff_target = 1;
            options.big_endian = icoff_targets[1].big_endian;
        }
    }
    if (!ok) {
        message(1037, "COFF header");
        return false;
    }
    *header = decode_file_header(raw);
    return true;
}

uint64_t icoff_string_offset(const CoffFileHeader& header) {
    return uint64_t(header.symptr) + COFF_SYMBOL_SIZE * uint64_t(header.nsyms);
}

// The string table runs from the end of the symbol table to the end of the file.
bool read_icoff_strings(CoffInput& input, const CoffFileHeader& header, CoffStrings* strings) {
    uint64_t offset = icoff_string_offset(header);
    if (!input.holds(offset, 0)) {
        message(1037, "COFF string table");
        return false;
    }
    strings->bytes.assign(input.size() - offset, 0);
    strings->first_name = 0;
    if (!input.read_at(offset, strings->bytes.data(), strings->bytes.size())) {
        message(1037, "COFF string table");
        return false;
    }
    return true;
}

bool read_icoff_symbol(CoffInput& input, const CoffFileHeader& header, uint32_t index,
                       IcoffSymbol* symbol) {
    uint8_t raw[COFF_SYMBOL_SIZE];
    if (!input.read_at(header.symptr + uint64_t(index) * COFF_SYMBOL_SIZE, raw, sizeof raw)) {
        message(1037, "COFF symbol table");
        return false;
    }
    *symbol = decode_icoff_symbol(raw);
    return true;
}

bool icoff_detect(FILE* in) {
    uint8_t raw[COFF_FILE_HEADER_SIZE];
    if (fread(raw, 1, sizeof raw, in) != sizeof raw) return false;
    if (get16_be(raw) != icoff_targets[1].magic) return false;
    options.big_endian = icoff_targets[1].big_endian;
    if (!coff_header_plausible(raw)) return false;
    coff_state.icoff_target = 1;
    return true;
}

int icoff_read(FILE* in, const char*) {
    CoffInput input(in);
    CoffFileHeader header;
    if (!read_icoff_header(input, &header)) return 0;
    CoffStrings strings;
    if (!read_icoff_strings(input, header, &strings)) return 0;
    std::vector<CoffSectionHeader> sections;
    std::vector<std::string> names;
    if (!read_section_headers(input, header, nullptr, &sections, &names)) return 0;
    if (!add_sections_to_store(input, sections, names, 1)) return 0;

    FileEntries files;
    uint32_t current_file = 0;
    std::string name;
    for (uint32_t index = 0; index < header.nsyms; ++index) {
        IcoffSymbol symbol;
        if (!read_icoff_symbol(input, header, index, &symbol)) return 0;
        if (symbol.kind >= KIND_GLOBAL && symbol.kind <= KIND_LABEL) {
            if (!strings.name_at(symbol.name_offset, &name)) continue;
            uint32_t segment = symbol.section < 0 ? 0 : uint32_t(symbol.section);
            add_symbol(name.c_str(), symbol.value, segment, current_file, 0);
        } else if (symbol.kind == KIND_FILE) {
            if (!strings.name_at(symbol.name_offset, &name)) continue;
            current_file = add_file(name.c_str());
            files.emplace(index, current_file);
        } else if (!kind_is_ignored(symbol.kind)) {
            message(633, int(symbol.kind));
        }
    }
    return add_lines_to_store(input, sections, files, 6) ? 1 : 0;
}

void print_icoff_symbol(const std::vector<CoffSectionHeader>& sections,
                        const std::vector<std::string>& section_names, uint32_t index,
                        const IcoffSymbol& s, const std::string& name) {
    const char* kind = kind_name(s.kind);
    printf("%5u: %5u:\t%20.20s\t", unsigned(index), unsigned(s.name_offset),
           kind ? kind : "??Unknown");
    const char* section = s.section >= 1 && size_t(s.section) <= sections.size()
                              ? section_names[size_t(s.section) - 1].c_str()
                              : "(abs)";
    const char* n = name.c_str();
    unsigned long value = s.value;
    if (s.kind >= KIND_GLOBAL && s.kind <= KIND_LABEL)
        printf("%s = %lX:%s %s\n", n, value, section, type_text(s.type).c_str());
    else if (s.kind >= 4 && s.kind <= 8)
        printf("%s = %lX:%s\n", n, value, section);
    else if (s.kind == KIND_SECTION_SIZE)
        printf("%s, value=%lX, section=%ld\n", n, value, long(s.section));
    else if (s.kind == KIND_SIMPLE_TYPE)
        printf("%s %s\n", n, type_text(s.type).c_str());
    else if (s.kind == KIND_LOCAL_VARIABLE || s.kind == KIND_PARAMETER)
        printf("%s = %lX:%s\n", n, value, type_text(s.type).c_str());
    else if (s.kind == KIND_FILE)
        printf("%s\n", n);
    else
        printf("\n");
}

bool icoff_dump(FILE* in) {
    CoffInput input(in);
    CoffFileHeader h;
    if (!read_icoff_header(input, &h)) return false;
    time_t stamp = static_cast<time_t>(h.timdat);
    const char* dated = ctime(&stamp);
    printf("COFF header:\n\tMagic:\t0%o\n\tSections:\t%u\n\tDated:\t%s\tSymptr:\t%lX\n"
           "\tNsyms:\t%ld\n\tOpthdr:\t%u\n\tFlags:\t0x%X",
           unsigned(h.magic), unsigned(h.nscns), dated ? dated : "?\n",
           static_cast<unsigned long>(h.symptr), static_cast<long>(static_cast<int32_t>(h.nsyms)),
           unsigned(h.opthdr), unsigned(h.flags));
    print_file_flags(h.flags);
    printf("\n");

    std::vector<CoffSectionHeader> sections;
    std::vector<std::string> names;
    if (!read_section_headers(input, h, nullptr, &sections, &names)) return false;
    for (size_t k = 0; k < sections.size(); ++k) {
        const CoffSectionHeader& s = sections[k];
        printf("Section %d: %s: @%lX size %lX lines %u flags %lX\n", int(k), names[k].c_str(),
               static_cast<unsigned long>(s.paddr), static_cast<unsigned long>(s.size),
               unsigned(s.nlnno), static_cast<unsigned long>(s.flags));
    }

    CoffStrings strings;
    if (!read_icoff_strings(input, h, &strings)) return false;
    const std::vector<uint8_t>& bytes = strings.bytes;
    printf("String table: %ld bytes\n", static_cast<long>(bytes.size()));
    // The table opens with a single NUL; the names follow it.
    if (options.verbose_level >= 2) print_strings(bytes, !bytes.empty() && bytes[0] == 0);

    if (options.verbose_level >= 1) {
        unsigned file_entries = 0;
        std::string name;
        for (uint32_t index = 0; index < h.nsyms; ++index) {
            IcoffSymbol symbol;
            if (!read_icoff_symbol(input, h, index, &symbol)) return false;
            strings.name_at(symbol.name_offset, &name);
            if (symbol.kind == KIND_FILE && file_entries++ == ICOFF_MAX_FILE_ENTRIES) message(625);
            print_icoff_symbol(sections, names, index, symbol, name);
        }
        for (size_t k = 0; k < sections.size(); ++k)
            if (sections[k].nlnno != 0) printf("Section %d line numbers:\n", int(k));
    }
    return true;
}

} // namespace

const FormatDescriptor icoff_format = {
    icoff_detect, icoff_read, write_placeholder, icoff_dump, "ICOFF", "icoff", "cof", true,
};
