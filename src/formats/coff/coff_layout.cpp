// COFF record layouts, target tables and the checked input shared by the COFF family.
#include <algorithm>
#include <cstring>
#include <sys/types.h>

#include "common/alert.h"
#include "formats/coff/coff_internal.h"
#include "model/encdec.h"
#include "model/run.h"
#include "model/store.h"

namespace {

// Base-type sizes: null void char short int long float double struct union enum moe
// uchar ushort uint ulong lngdbl.
const uint8_t SIZES_S1[COFF_SIZE_TABLE_ENTRIES] = {0, 0, 1, 2, 4, 4, 4, 8, 0,
                                                   0, 0, 0, 1, 2, 4, 4, 8};
const uint8_t SIZES_S2[COFF_SIZE_TABLE_ENTRIES] = {0, 0, 1, 2, 2, 4, 4, 4, 0,
                                                   0, 0, 0, 1, 2, 2, 4, 8};
const uint8_t SIZES_S3[COFF_SIZE_TABLE_ENTRIES] = {0, 0, 1, 2, 2, 4, 3, 4, 0,
                                                   0, 0, 0, 1, 2, 2, 4, 8};

} // namespace

const CoffTarget coff_targets[COFF_TARGET_COUNT + 1] = {
    {nullptr, 0, 0, false, nullptr, 0, 0, 0, 0},
    {"Motorola 68K", 0x0150, 0x0200, true, SIZES_S1, 4, 6, 1, 1},
    {"Tower", 0x0198, 0x0200, true, SIZES_S1, 4, 6, 1, 1},
    {"Hitachi H8/300", 0x8300, 0x0200, true, SIZES_S2, 2, 8, 1, 1},
    {"Hitachi H8/300H", 0x8301, 0x0200, true, SIZES_S1, 4, 8, 1, 1},
    {"Hitachi SH", 0x0500, 0x0200, true, SIZES_S1, 4, 8, 1, 1},
    {"PIC30", 0x3612, 0x0100, false, SIZES_S1, 2, 8, 2, 1},
    {"PIC24", 0x3612, 0x0100, false, SIZES_S1, 2, 8, 2, 1},
    {"PIC12", 0x3412, 0x0100, false, SIZES_S3, 1, 8, 2, 1},
    {"PIC14", 0x3412, 0x0100, false, SIZES_S3, 1, 8, 2, 1},
    {"PIC16", 0x3412, 0x0100, false, SIZES_S3, 1, 8, 2, 1},
    {"PIC18", 0x3412, 0x0100, false, SIZES_S3, 1, 8, 2, 1},
};

const uint8_t microchip_type_sizes[COFF_SIZE_TABLE_ENTRIES] = {0, 0, 1, 2, 2, 4, 3, 4, 0, 0,
                                                               0, 0, 1, 2, 2, 4, 8, 3, 3};

const IcoffTarget icoff_targets[ICOFF_TARGET_COUNT + 1] = {
    {nullptr, 0, 0, false},
    {"Introl ICOFF", ICOFF_MAGIC, 0, true},
};

unsigned find_coff_target_by_magic(uint16_t magic) {
    for (unsigned row = 1; row <= COFF_TARGET_COUNT; ++row)
        if (coff_targets[row].magic == magic) return row;
    return 0;
}

unsigned find_coff_target_by_name(const char* text) {
    if (!text) return 0;
    for (unsigned row = 1; row <= COFF_TARGET_COUNT; ++row)
        if (find_text_nocase(coff_targets[row].name, text)) return row;
    return 0;
}

const CoffTarget& current_coff_target(Run& run) {
    unsigned row = run.coff.target <= COFF_TARGET_COUNT ? run.coff.target : 0;
    return coff_targets[row];
}

// ---- Records ----

bool name_in_place(const uint8_t* field, ByteOrder order, uint32_t* offset) {
    if (field[0] | field[1] | field[2] | field[3]) return true;
    if (offset) *offset = static_cast<uint32_t>(load_uint(field + 4, 4, order));
    return false;
}

std::string name_from_field(const uint8_t* field, size_t width) {
    const void* end = memchr(field, 0, width);
    size_t length = end ? static_cast<size_t>(static_cast<const uint8_t*>(end) - field) : width;
    return std::string(reinterpret_cast<const char*>(field), length);
}

void set_name_field(uint8_t* field, const std::string& name, uint32_t offset_if_long,
                    ByteOrder order) {
    memset(field, 0, COFF_NAME_SIZE);
    if (name.size() <= COFF_NAME_SIZE)
        std::copy(name.begin(), name.end(), field); // not terminated when 8 long
    else
        store_uint(field + 4, offset_if_long, 4, order);
}

int32_t icoff_section(const IcoffSymbol& s, ByteOrder order) {
    uint32_t first = s.section, rest = s.section_rest;
    return static_cast<int32_t>(order == ByteOrder::big ? first << 16 | rest : rest << 16 | first);
}

// ---- Type words ----

const TypeWordLayout coff_type_words = {4, 2, 6, 0xFFFF};
const TypeWordLayout microchip_type_words = {5, 3, 9, 0xFFFFFFFF};

uint32_t type_base(uint32_t type, const TypeWordLayout& layout) {
    return type & ((1u << layout.base_bits) - 1);
}

unsigned type_derived(uint32_t type, unsigned k, const TypeWordLayout& layout) {
    if (k >= layout.derived_fields) return DERIVED_NONE;
    unsigned shift = layout.base_bits + k * layout.derived_bits;
    return (type >> shift) & ((1u << layout.derived_bits) - 1);
}

uint32_t add_derived_type(uint32_t type, unsigned d, const TypeWordLayout& layout) {
    uint32_t base_mask = (1u << layout.base_bits) - 1;
    uint32_t word = (type & base_mask) | ((type & ~base_mask) << layout.derived_bits) |
                    (static_cast<uint32_t>(d) << layout.base_bits);
    return word & layout.word_mask;
}

uint32_t type_word_size(uint32_t type, const TypeWordLayout& layout, const uint8_t* sizes,
                        uint32_t pointer_size) {
    if (type_derived(type, 0, layout) == DERIVED_POINTER) return pointer_size;
    uint32_t base = type_base(type, layout);
    return sizes && base < COFF_SIZE_TABLE_ENTRIES ? sizes[base] : 0;
}

// ---- Reading ----

bool CoffStrings::name_at(Run& run, uint32_t offset, std::string* name) const {
    if (offset == 0) {
        name->clear();
        return true;
    }
    if (offset >= first_name && offset < bytes.size()) {
        const uint8_t* start = bytes.data() + offset;
        const void* end = memchr(start, 0, bytes.size() - offset);
        if (end) {
            name->assign(reinterpret_cast<const char*>(start),
                         static_cast<const uint8_t*>(end) - start);
            return true;
        }
    }
    message(run.messages, 626, unsigned(offset));
    name->clear();
    return false;
}

bool read_coff_strings(Run& run, ByteReader& input, uint64_t offset, CoffStrings* strings) {
    input.seek(offset);
    uint32_t size = input.u32();
    if (!input.ok()) {
        message(run.messages, 1037, "COFF string table size");
        return false;
    }
    if (size < 4) {
        message(run.messages, 1038);
        return false;
    }
    // The size is the file's word: it is checked against the file before anything is
    // allocated for it.
    strings->first_name = 4;
    if (!input.read_at(offset, size, &strings->bytes)) {
        message(run.messages, 1037, "COFF string table");
        return false;
    }
    return true;
}

bool read_section_headers(Run& run, ByteReader& input, const CoffFileHeader& header,
                          const CoffStrings* long_names, std::vector<CoffSectionHeader>* headers,
                          std::vector<std::string>* names) {
    headers->clear();
    names->clear();
    uint64_t offset = COFF_FILE_HEADER_SIZE + uint64_t(header.opthdr);
    CoffSectionHeader section;
    for (uint32_t i = 0; i < header.nscns; ++i) {
        if (!input.record_at(offset + uint64_t(i) * COFF_SECTION_HEADER_SIZE, &section)) {
            message(run.messages, 1037, "COFF section header");
            return false;
        }
        headers->push_back(section);
    }
    for (const CoffSectionHeader& h : *headers)
        names->push_back(section_name(run, h, long_names, input.order()));
    return true;
}

std::string section_name(Run& run, const CoffSectionHeader& header, const CoffStrings* long_names,
                         ByteOrder order) {
    uint32_t offset = 0;
    if (!long_names || name_in_place(header.name, order, &offset))
        return name_from_field(header.name, COFF_NAME_SIZE);
    std::string name;
    long_names->name_at(run, offset, &name);
    return name;
}

bool add_sections_to_store(Run& run, ByteReader& input,
                           const std::vector<CoffSectionHeader>& headers,
                           const std::vector<std::string>& names, uint32_t unit) {
    for (size_t i = 0; i < headers.size(); ++i) {
        uint32_t address = headers[i].paddr * unit;
        add_segment(run, names[i].c_str(), address, headers[i].size, address,
                    static_cast<uint32_t>(i));
    }
    std::vector<uint8_t> piece(COFF_DATA_PIECE);
    for (size_t i = 0; i < headers.size(); ++i) {
        const CoffSectionHeader& h = headers[i];
        if (h.flags & COFF_SECTION_BSS) continue;
        uint32_t address = h.paddr * unit;
        for (uint32_t done = 0; done < h.size;) {
            uint32_t length =
                h.size - done < COFF_DATA_PIECE ? h.size - done : uint32_t(COFF_DATA_PIECE);
            if (!input.read_at(uint64_t(h.scnptr) + done, piece.data(), length)) {
                message(run.messages, 1037, "COFF data");
                return false;
            }
            add_data(run, address, length, piece.data(), static_cast<uint32_t>(i + 1));
            address += length;
            done += length;
        }
    }
    return true;
}

bool read_line_entry(ByteReader& input, uint64_t offset, size_t entry_size, CoffLine* line) {
    if (entry_size != MCOFF_LINE_SIZE)
        return input.record_at(offset, line, unsigned(entry_size - 4));
    MicrochipLine entry;
    if (!input.record_at(offset, &entry)) return false;
    *line = CoffLine{entry.paddr, entry.lnno};
    return true;
}

bool add_lines_to_store(Run& run, ByteReader& input, const std::vector<CoffSectionHeader>& sections,
                        const FileEntries& files, size_t entry_size) {
    if (entry_size != 6 && entry_size != 8 && entry_size != MCOFF_LINE_SIZE) return false;
    for (const CoffSectionHeader& section : sections) {
        uint32_t current_file = 0;
        for (uint32_t k = 0; k < section.nlnno; ++k) {
            CoffLine entry;
            if (!read_line_entry(input, section.lnnoptr + uint64_t(k) * entry_size, entry_size,
                                 &entry)) {
                message(run.messages, 1037, "COFF line number");
                return false;
            }
            if (entry.line != 0) {
                add_line(run, entry.line, entry.address, 0, current_file, 0);
            } else {
                auto found = files.find(entry.address);
                if (found != files.end()) current_file = found->second;
            }
        }
    }
    return true;
}

// ---- Dumping ----

const char* const coff_file_flag_names[13] = {
    "Stripped",
    "Executable",
    "No lines",
    "No locals",
    "0x10",
    "0x20",
    "0x40",
    "16 bit little endian",
    "32 bit little endian",
    "32 bit big endian",
    "0x400",
    "0x800",
    "New style syms",
};

void print_file_flags(uint16_t flags) {
    for (unsigned bit = 0; bit < 13; ++bit)
        if (flags & (1u << bit)) printf(" %s", coff_file_flag_names[bit]);
}

void print_strings(const std::vector<uint8_t>& table, size_t start) {
    for (size_t at = start; at < table.size();) {
        const void* end = memchr(table.data() + at, 0, table.size() - at);
        size_t length =
            end ? static_cast<const uint8_t*>(end) - (table.data() + at) : table.size() - at;
        std::string text(reinterpret_cast<const char*>(table.data() + at), length);
        printf("%5d:\t%s\n", int(at), text.c_str());
        at += length + 1;
    }
}

const char* coff_class_name(int sclass, const CoffDialect& dialect) {
    static const char* const low[] = {
        "null class",
        "automatic variable",
        "external symbol",
        "static",
        "register variable",
        "external definition",
        "label",
        "undefined label",
        "member of structure",
        "function argument",
        "structure tag",
        "member of union",
        "union tag",
        "type definition",
        "undefined static",
        "enumeration tag",
        "member of enumeration",
        "register parameter",
        "bit field",
        "auto argument",
        "dummy entry (end of block)",
    };
    static const char* const high[] = {
        ".bb or .eb",
        ".bf or .ef",
        "end of structure",
        "file name",
        "line # reformatted as symbol table entry",
        "duplicate tag",
        "ext symbol in dmert public lib",
        "end of file",
        "absolute listing toggle",
        "section",
    };
    if (sclass == CLASS_END_OF_FUNCTION) return "physical end of function";
    if (sclass >= 0 && sclass <= CLASS_END_OF_BLOCK_DUMMY) return low[sclass];
    int last = dialect.microchip_extensions ? CLASS_SECTION : CLASS_HIDDEN;
    if (sclass >= CLASS_BLOCK && sclass <= last) return high[sclass - CLASS_BLOCK];
    if (sclass == CLASS_WEAK) return "weak symbol (GNU)";
    return nullptr;
}
