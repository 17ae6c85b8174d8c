// COFF record layouts, target tables and the checked input shared by the COFF family.
#include <algorithm>
#include <cstring>
#include <sys/types.h>

#include "common/alert.h"
#include "formats/coff_internal.h"
#include "model/encdec.h"
#include "model/store.h"

CoffState coff_state;

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

const CoffTarget& current_coff_target() {
    unsigned row = coff_state.target <= COFF_TARGET_COUNT ? coff_state.target : 0;
    return coff_targets[row];
}

// ---- Records ----

CoffFileHeader decode_file_header(const uint8_t* p) {
    CoffFileHeader h;
    h.magic = get16_be(p);
    h.nscns = get16(p + 2);
    h.timdat = get32(p + 4);
    h.symptr = get32(p + 8);
    h.nsyms = get32(p + 12);
    h.opthdr = get16(p + 16);
    h.flags = get16(p + 18);
    return h;
}

uint8_t* encode_file_header(uint8_t* p, const CoffFileHeader& h) {
    p = put16_be(p, h.magic);
    p = put16(p, h.nscns);
    p = put32(p, h.timdat);
    p = put32(p, h.symptr);
    p = put32(p, h.nsyms);
    p = put16(p, h.opthdr);
    return put16(p, h.flags);
}

CoffSectionHeader decode_section_header(const uint8_t* p) {
    CoffSectionHeader h;
    memcpy(h.name, p, COFF_NAME_SIZE);
    h.paddr = get32(p + 8);
    h.vaddr = get32(p + 12);
    h.size = get32(p + 16);
    h.scnptr = get32(p + 20);
    h.relptr = get32(p + 24);
    h.lnnoptr = get32(p + 28);
    h.nreloc = get16(p + 32);
    h.nlnno = get16(p + 34);
    h.flags = get32(p + 36);
    return h;
}

uint8_t* encode_section_header(uint8_t* p, const CoffSectionHeader& h) {
    memcpy(p, h.name, COFF_NAME_SIZE);
    p += COFF_NAME_SIZE;
    p = put32(p, h.paddr);
    p = put32(p, h.vaddr);
    p = put32(p, h.size);
    p = put32(p, h.scnptr);
    p = put32(p, h.relptr);
    p = put32(p, h.lnnoptr);
    p = put16(p, h.nreloc);
    p = put16(p, h.nlnno);
    return put32(p, h.flags);
}

namespace {

// The storage class is a signed byte: 255 is -1.
int signed_byte(uint8_t b) {
    return b < 0x80 ? int(b) : int(b) - 0x100;
}

} // namespace

CoffSymbol decode_symbol(const uint8_t* p, bool microchip) {
    CoffSymbol s;
    memcpy(s.name, p, COFF_NAME_SIZE);
    s.value = get32(p + 8);
    s.scnum = static_cast<int16_t>(get16(p + 12));
    if (microchip) {
        s.type = get32(p + 14);
        s.sclass = signed_byte(p[18]);
        s.numaux = p[19];
    } else {
        s.type = get16(p + 14);
        s.sclass = signed_byte(p[16]);
        s.numaux = p[17];
    }
    return s;
}

uint8_t* encode_symbol(uint8_t* p, const CoffSymbol& s, bool microchip) {
    memcpy(p, s.name, COFF_NAME_SIZE);
    p += COFF_NAME_SIZE;
    p = put32(p, s.value);
    p = put16(p, static_cast<uint16_t>(s.scnum));
    p = microchip ? put32(p, s.type) : put16(p, s.type);
    p = put8(p, static_cast<uint8_t>(s.sclass));
    return put8(p, s.numaux);
}

bool name_in_place(const uint8_t* field, uint32_t* offset) {
    if (field[0] | field[1] | field[2] | field[3]) return true;
    if (offset) *offset = get32(field + 4);
    return false;
}

std::string name_from_field(const uint8_t* field, size_t width) {
    const void* end = memchr(field, 0, width);
    size_t length = end ? static_cast<size_t>(static_cast<const uint8_t*>(end) - field) : width;
    return std::string(reinterpret_cast<const char*>(field), length);
}

void set_name_field(uint8_t* field, const std::string& name, uint32_t offset_if_long) {
    memset(field, 0, COFF_NAME_SIZE);
    if (name.size() <= COFF_NAME_SIZE)
        std::copy(name.begin(), name.end(), field); // not terminated when 8 long
    else
        put32(field + 4, offset_if_long);
}

uint32_t aux_tag_index(const uint8_t* aux) {
    return get32(aux);
}
uint32_t aux_line(const uint8_t* aux) {
    return get16(aux + 4);
}
uint32_t aux_size(const uint8_t* aux) {
    return get16(aux + 6);
}
uint32_t aux_dimension(const uint8_t* aux, unsigned k) {
    return get16(aux + 8 + 2 * k);
}
uint32_t aux_line_pointer(const uint8_t* aux) {
    return get32(aux + 8);
}
uint32_t aux_next_index(const uint8_t* aux) {
    return get32(aux + 12);
}
void put_aux_tag_index(uint8_t* aux, uint32_t index) {
    put32(aux, index);
}
void put_aux_line(uint8_t* aux, uint32_t line) {
    put16(aux + 4, line);
}
void put_aux_size(uint8_t* aux, uint32_t size) {
    put16(aux + 6, size);
}
void put_aux_dimension(uint8_t* aux, unsigned k, uint32_t count) {
    put16(aux + 8 + 2 * k, count);
}
void put_aux_next_index(uint8_t* aux, uint32_t index) {
    put32(aux + 12, index);
}

CoffLine decode_line(const uint8_t* p, size_t entry_size) {
    CoffLine line;
    line.address = get32(p);
    line.line = entry_size >= 8 ? get32(p + 4) : get16(p + 4);
    return line;
}

uint8_t* encode_line(uint8_t* p, const CoffLine& line, size_t entry_size) {
    p = put32(p, line.address);
    return entry_size >= 8 ? put32(p, line.line) : put16(p, line.line);
}

MicrochipLine decode_microchip_line(const uint8_t* p) {
    MicrochipLine line;
    line.srcndx = get32(p);
    line.lnno = get16(p + 4);
    line.paddr = get32(p + 6);
    line.flags = get16(p + 10);
    line.fcnndx = get32(p + 12);
    return line;
}

uint8_t* encode_microchip_line(uint8_t* p, const MicrochipLine& line) {
    p = put32(p, line.srcndx);
    p = put16(p, line.lnno);
    p = put32(p, line.paddr);
    p = put16(p, line.flags);
    return put32(p, line.fcnndx);
}

IcoffSymbol decode_icoff_symbol(const uint8_t* p) {
    IcoffSymbol s;
    s.name_offset = get32(p);
    s.value = get32(p + 4);
    s.section = static_cast<int32_t>(get32(p + 12));
    s.kind = p[16];
    s.type = p[17];
    return s;
}

uint8_t* encode_icoff_symbol(uint8_t* p, const IcoffSymbol& s) {
    p = put32(p, s.name_offset);
    p = put32(p, s.value);
    p = put32(p, 0);
    p = put16(p, static_cast<uint32_t>(s.section));
    p = put16(p, 0);
    p = put8(p, s.kind);
    return put8(p, s.type);
}

AoutHeader decode_aout_header(const uint8_t* p) {
    AoutHeader h;
    h.magic = get16(p);
    h.version = get16(p + 2);
    h.text_size = get32(p + 4);
    h.data_size = get32(p + 8);
    h.bss_size = get32(p + 12);
    h.entry = get32(p + 16);
    h.text_base = get32(p + 20);
    h.data_base = get32(p + 24);
    return h;
}

MicrochipOptionalHeader decode_microchip_optional_header(const uint8_t* p) {
    MicrochipOptionalHeader h;
    h.magic = get16(p);
    h.version = get32(p + 2);
    h.processor = get32(p + 6);
    h.rom_width = get32(p + 10);
    h.ram_width = get32(p + 14);
    return h;
}

uint8_t* encode_microchip_optional_header(uint8_t* p, const MicrochipOptionalHeader& h) {
    p = put16(p, h.magic);
    p = put32(p, h.version);
    p = put32(p, h.processor);
    p = put32(p, h.rom_width);
    return put32(p, h.ram_width);
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

CoffInput::CoffInput(FILE* file) : file_(file) {
    if (file_ && fseeko(file_, 0, SEEK_END) == 0) {
        off_t end = ftello(file_);
        if (end > 0) size_ = static_cast<uint64_t>(end);
    }
}

bool CoffInput::holds(uint64_t offset, uint64_t count) const {
    return offset <= size_ && count <= size_ - offset;
}

bool CoffInput::read_at(uint64_t offset, void* buffer, size_t count) {
    if (!holds(offset, count)) return false;
    if (count == 0) return true;
    if (position_ != offset && fseeko(file_, static_cast<off_t>(offset), SEEK_SET) != 0) {
        position_ = UINT64_MAX;
        return false;
    }
    size_t got = fread(buffer, 1, count, file_);
    position_ = offset + got;
    return got == count;
}

bool CoffStrings::name_at(uint32_t offset, std::string* name) const {
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
    message(626, unsigned(offset));
    name->clear();
    return false;
}

bool read_coff_strings(CoffInput& input, uint64_t offset, CoffStrings* strings) {
    uint8_t size_field[4];
    if (!input.read_at(offset, size_field, sizeof size_field)) {
        message(1037, "COFF string table size");
        return false;
    }
    uint32_t size = get32(size_field);
    if (size < 4) {
        message(1038);
        return false;
    }
    // The size is the file's word: it is checked against the file before anything is
    // allocated for it.
    if (!input.holds(offset, size)) {
        message(1037, "COFF string table");
        return false;
    }
    strings->bytes.assign(size, 0);
    strings->first_name = 4;
    if (!input.read_at(offset, strings->bytes.data(), size)) {
        message(1037, "COFF string table");
        return false;
    }
    return true;
}

bool read_section_headers(CoffInput& input, const CoffFileHeader& header,
                          const CoffStrings* long_names, std::vector<CoffSectionHeader>* headers,
                          std::vector<std::string>* names) {
    headers->clear();
    names->clear();
    uint64_t offset = COFF_FILE_HEADER_SIZE + uint64_t(header.opthdr);
    uint8_t raw[COFF_SECTION_HEADER_SIZE];
    for (uint32_t i = 0; i < header.nscns; ++i) {
        if (!input.read_at(offset + uint64_t(i) * COFF_SECTION_HEADER_SIZE, raw, sizeof raw)) {
            message(1037, "COFF section header");
            return false;
        }
        headers->push_back(decode_section_header(raw));
    }
    for (const CoffSectionHeader& section : *headers)
        names->push_back(section_name(section, long_names));
    return true;
}

std::string section_name(const CoffSectionHeader& header, const CoffStrings* long_names) {
    uint32_t offset = 0;
    if (!long_names || name_in_place(header.name, &offset))
        return name_from_field(header.name, COFF_NAME_SIZE);
    std::string name;
    long_names->name_at(offset, &name);
    return name;
}

bool add_sections_to_store(CoffInput& input, const std::vector<CoffSectionHeader>& headers,
                           const std::vector<std::string>& names, uint32_t unit) {
    for (size_t i = 0; i < headers.size(); ++i) {
        uint32_t address = headers[i].paddr * unit;
        add_segment(names[i].c_str(), address, headers[i].size, address, static_cast<uint32_t>(i));
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
                message(1037, "COFF data");
                return false;
            }
            add_data(address, length, piece.data(), static_cast<uint32_t>(i + 1));
            address += length;
            done += length;
        }
    }
    return true;
}

bool add_lines_to_store(CoffInput& input, const std::vector<CoffSectionHeader>& sections,
                        const FileEntries& files, size_t entry_size) {
    if (entry_size != 6 && entry_size != 8 && entry_size != MCOFF_LINE_SIZE) return false;
    uint8_t raw[MCOFF_LINE_SIZE];
    for (const CoffSectionHeader& section : sections) {
        uint32_t current_file = 0;
        for (uint32_t k = 0; k < section.nlnno; ++k) {
            if (!input.read_at(section.lnnoptr + uint64_t(k) * entry_size, raw, entry_size)) {
                message(1037, "COFF line number");
                return false;
            }
            uint32_t line, address;
            if (entry_size == MCOFF_LINE_SIZE) {
                MicrochipLine entry = decode_microchip_line(raw);
                line = entry.lnno;
                address = entry.paddr;
            } else {
                CoffLine entry = decode_line(raw, entry_size);
                line = entry.line;
                address = entry.address;
            }
            if (line != 0) {
                add_line(line, address, 0, current_file, 0);
            } else {
                auto found = files.find(address);
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

const char* coff_class_name(int sclass, bool microchip) {
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
    int last = microchip ? CLASS_SECTION : CLASS_HIDDEN;
    if (sclass >= CLASS_BLOCK && sclass <= last) return high[sclass - CLASS_BLOCK];
    if (sclass == CLASS_WEAK) return "weak symbol (GNU)";
    return nullptr;
}
