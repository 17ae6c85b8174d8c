// COFF record layouts and target tables, shared by the coff, mcoff and icoff modules.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/alert.h"
#include "common/binio.h"
#include "formats/coff/coff.h"

#include "model/run.h"

// Program bytes move between file and store in pieces of at most this many bytes.
constexpr size_t COFF_DATA_PIECE = 16384;

// Detection refuses more sections than this.
constexpr unsigned COFF_MAX_SECTIONS = 1000;

// Magic numbers (bytes 0-1 read most significant first).
constexpr uint16_t MCOFF_MAGIC = 0x4012;
constexpr uint32_t MCOFF_POINTER_SIZE = 2; // bytes of a Microchip pointer
constexpr uint16_t ICOFF_MAGIC = 0x0181;
constexpr uint16_t COFF_MAGIC_PIC30 = 0x3612;
constexpr uint16_t COFF_MAGIC_PIC = 0x3412;

// File-header flag bits.
enum : uint16_t {
    COFF_FILE_STRIPPED = 0x0001,
    COFF_FILE_EXECUTABLE = 0x0002,
    COFF_FILE_NO_LINES = 0x0004,
    COFF_FILE_NO_LOCALS = 0x0008,
    COFF_FILE_16_LITTLE = 0x0080,
    COFF_FILE_32_LITTLE = 0x0100,
    COFF_FILE_32_BIG = 0x0200,
    COFF_FILE_NEW_SYMS = 0x1000,
};

// Section flag bits.
enum : uint32_t {
    COFF_SECTION_DUMMY = 0x01,
    COFF_SECTION_NOLOAD = 0x02,
    COFF_SECTION_GROUP = 0x04,
    COFF_SECTION_PADDING = 0x08,
    COFF_SECTION_GROUP_END = 0x10,
    COFF_SECTION_TEXT = 0x20,
    COFF_SECTION_DATA = 0x40,
    COFF_SECTION_BSS = 0x80, // no contents in the file
    MCOFF_SECTION_ABSOLUTE = 0x1000,
};

// Storage classes (the byte is signed: 255 is -1).
enum CoffClass : int {
    CLASS_END_OF_FUNCTION = -1,
    CLASS_NULL = 0,
    CLASS_AUTOMATIC = 1,
    CLASS_EXTERNAL = 2,
    CLASS_STATIC = 3,
    CLASS_REGISTER = 4,
    CLASS_EXTERNAL_DEFINITION = 5,
    CLASS_LABEL = 6,
    CLASS_UNDEFINED_LABEL = 7,
    CLASS_STRUCT_MEMBER = 8,
    CLASS_ARGUMENT = 9,
    CLASS_STRUCT_TAG = 10,
    CLASS_UNION_MEMBER = 11,
    CLASS_UNION_TAG = 12,
    CLASS_TYPEDEF = 13,
    CLASS_UNDEFINED_STATIC = 14,
    CLASS_ENUM_TAG = 15,
    CLASS_ENUM_MEMBER = 16,
    CLASS_REGISTER_PARAMETER = 17,
    CLASS_BIT_FIELD = 18,
    CLASS_AUTO_ARGUMENT = 19,
    CLASS_END_OF_BLOCK_DUMMY = 20,
    CLASS_BLOCK = 100,    // ".bb" and ".eb"
    CLASS_FUNCTION = 101, // ".bf" and ".ef"
    CLASS_END_OF_STRUCT = 102,
    CLASS_FILE = 103,
    CLASS_LINE = 104,
    CLASS_DUPLICATE_TAG = 105,
    CLASS_HIDDEN = 106,
    CLASS_END_OF_FILE = 107, // Microchip ".eof"
    CLASS_LIST = 108,        // Microchip ".list"/".nolist"
    CLASS_SECTION = 109,     // Microchip section symbol
    CLASS_WEAK = 127,
};

// COFF base types (low bits of a type word) and derived types.
enum : uint32_t {
    BASE_NULL = 0,
    BASE_VOID = 1,
    BASE_CHAR = 2,
    BASE_SHORT = 3,
    BASE_INT = 4,
    BASE_LONG = 5,
    BASE_FLOAT = 6,
    BASE_DOUBLE = 7,
    BASE_STRUCT = 8,
    BASE_UNION = 9,
    BASE_ENUM = 10,
    BASE_ENUM_MEMBER = 11,
    BASE_UCHAR = 12,
    BASE_USHORT = 13,
    BASE_UINT = 14,
    BASE_ULONG = 15,
    BASE_LONG_DOUBLE = 16,
    BASE_SHORT_LONG = 17,  // Microchip signed 24-bit
    BASE_USHORT_LONG = 18, // Microchip unsigned 24-bit
};
enum : unsigned { DERIVED_NONE = 0, DERIVED_POINTER = 1, DERIVED_FUNCTION = 2, DERIVED_ARRAY = 3 };

// Entries of a base-type size table (by base type; the unused tail is 0).
constexpr unsigned COFF_SIZE_TABLE_ENTRIES = 24;

// One row of the COFF target table.
struct CoffTarget {
    const char* name;
    uint16_t magic;        // as read most significant byte first
    uint16_t header_flags; // byte-order bits the writer ORs into the file flags
    bool big_endian;
    const uint8_t* sizes; // base-type sizes in bytes, COFF_SIZE_TABLE_ENTRIES entries
    uint32_t pointer_size;
    uint32_t line_entry_size; // 6 or 8
    uint32_t code_unit;       // bytes per code address
    uint32_t data_unit;       // bytes per data address
};

// Row 0 stands for no target; rows 1 to COFF_TARGET_COUNT are the targets.
constexpr unsigned COFF_TARGET_COUNT = 11;
extern const CoffTarget coff_targets[COFF_TARGET_COUNT + 1];

// The first row (1 up) with this magic; 0 when none has it.
unsigned find_coff_target_by_magic(uint16_t magic);
// The first row (1 up) whose name contains the text without regard to case; 0 when none.
unsigned find_coff_target_by_name(const char* text);
// The row of the current COFF target (row 0 when none is chosen).
const CoffTarget& current_coff_target(Run& run);

// Base-type sizes of Microchip COFF (base types 0 to 18).
extern const uint8_t microchip_type_sizes[COFF_SIZE_TABLE_ENTRIES];

// One row of the ICOFF target table; row 0 stands for no target.
struct IcoffTarget {
    const char* name;
    uint16_t magic;
    uint16_t header_flags;
    bool big_endian;
};
constexpr unsigned ICOFF_TARGET_COUNT = 1;
extern const IcoffTarget icoff_targets[ICOFF_TARGET_COUNT + 1];

// Forgets the targets chosen and the names generated earlier in the run.

// ---- Records ----
//
// Every layout is declared once below; readers, writers and dumps decode and encode
// through it. Multi-byte fields follow the byte order of the file's target; the one
// exception is the magic number, always stored most significant byte first.

struct CoffFileHeader {
    uint16_t magic = 0;
    uint16_t nscns = 0;
    uint32_t timdat = 0;
    uint32_t symptr = 0;
    uint32_t nsyms = 0;
    uint16_t opthdr = 0;
    uint16_t flags = 0;
};
template <class F> constexpr void layout(F& f, CoffFileHeader& r) {
    f("magic", r.magic, ByteOrder::big);
    f("nscns", r.nscns);
    f("timdat", r.timdat);
    f("symptr", r.symptr);
    f("nsyms", r.nsyms);
    f("opthdr", r.opthdr);
    f("flags", r.flags);
}

// The "AOUT" optional header.
struct AoutHeader {
    uint16_t magic = 0;
    uint16_t version = 0;
    uint32_t text_size = 0;
    uint32_t data_size = 0;
    uint32_t bss_size = 0;
    uint32_t entry = 0;
    uint32_t text_base = 0;
    uint32_t data_base = 0;
};
template <class F> constexpr void layout(F& f, AoutHeader& r) {
    f("magic", r.magic);
    f("version", r.version);
    f("text_size", r.text_size);
    f("data_size", r.data_size);
    f("bss_size", r.bss_size);
    f("entry", r.entry);
    f("text_base", r.text_base);
    f("data_base", r.data_base);
}

// The Microchip optional header.
struct MicrochipOptionalHeader {
    uint16_t magic = 0;
    uint32_t version = 0;
    uint32_t processor = 0;
    uint32_t rom_width = 0;
    uint32_t ram_width = 0;
};
template <class F> constexpr void layout(F& f, MicrochipOptionalHeader& r) {
    f("magic", r.magic);
    f("version", r.version);
    f("processor", r.processor);
    f("rom_width", r.rom_width);
    f("ram_width", r.ram_width);
}
constexpr uint16_t MCOFF_OPTIONAL_MAGIC = 5000;
constexpr uint32_t MCOFF_OPTIONAL_VERSION = 96003;

constexpr size_t COFF_NAME_SIZE = 8; // names kept in place

struct CoffSectionHeader {
    uint8_t name[COFF_NAME_SIZE] = {}; // NUL-padded, not terminated when 8 long
    uint32_t paddr = 0;
    uint32_t vaddr = 0;
    uint32_t size = 0;
    uint32_t scnptr = 0;
    uint32_t relptr = 0;
    uint32_t lnnoptr = 0;
    uint16_t nreloc = 0;
    uint16_t nlnno = 0;
    uint32_t flags = 0;
};
template <class F> constexpr void layout(F& f, CoffSectionHeader& r) {
    f("name", r.name);
    f("paddr", r.paddr);
    f("vaddr", r.vaddr);
    f("size", r.size);
    f("scnptr", r.scnptr);
    f("relptr", r.relptr);
    f("lnnoptr", r.lnnoptr);
    f("nreloc", r.nreloc);
    f("nlnno", r.nlnno);
    f("flags", r.flags);
}

// A symbol entry. The type word is 2 bytes wide in generic COFF and 4 in Microchip COFF;
// auxiliary entries take the same room as the entry they follow.
struct CoffSymbol {
    uint8_t name[COFF_NAME_SIZE] = {}; // in place, or bytes 0-3 zero and 4-7 an offset
    uint32_t value = 0;
    int16_t scnum = 0;
    uint32_t type = 0;
    int8_t sclass = 0;
    uint8_t numaux = 0;
};
template <class F> constexpr void layout(F& f, CoffSymbol& r, unsigned type_width) {
    f("name", r.name);
    f("value", r.value);
    f("scnum", r.scnum);
    f.sized("type", r.type, type_width);
    f("sclass", r.sclass);
    f("numaux", r.numaux);
}
constexpr unsigned COFF_TYPE_WIDTH = 2;
constexpr unsigned MCOFF_TYPE_WIDTH = 4;
constexpr size_t COFF_SYMBOL_SIZE = record_size<CoffSymbol>(COFF_TYPE_WIDTH);
constexpr size_t MCOFF_SYMBOL_SIZE = record_size<CoffSymbol>(MCOFF_TYPE_WIDTH);

// The auxiliary entry of variables, members, tags and block and function markers: the
// tag index of a structure type, a line, a size and up to four array dimensions.
struct CoffAux {
    uint32_t tag_index = 0;
    uint16_t line = 0;
    uint16_t size = 0;
    uint16_t dimensions[4] = {};
};
template <class F> constexpr void layout(F& f, CoffAux& r) {
    f("tag_index", r.tag_index);
    f("line", r.line);
    f("size", r.size);
    f("dimensions", r.dimensions);
}

// The same entry where it links to others: bytes 8-15 hold a line-entry offset and the
// index of the entry after the block, function or structure.
struct CoffAuxLinks {
    uint32_t tag_index = 0;
    uint16_t line = 0;
    uint16_t size = 0;
    uint32_t line_pointer = 0;
    uint32_t next_index = 0;
};
template <class F> constexpr void layout(F& f, CoffAuxLinks& r) {
    f("tag_index", r.tag_index);
    f("line", r.line);
    f("size", r.size);
    f("line_pointer", r.line_pointer);
    f("next_index", r.next_index);
}

// A file entry's auxiliary entry in generic COFF: the name, in place or (first four
// bytes zero) by its string-table offset.
constexpr size_t COFF_AUX_NAME_SIZE = 14;
struct CoffAuxFileName {
    uint8_t name[COFF_AUX_NAME_SIZE] = {};
};
template <class F> constexpr void layout(F& f, CoffAuxFileName& r) {
    f("name", r.name);
}

// A file entry's auxiliary entry in Microchip COFF.
struct MicrochipAuxFile {
    uint32_t name_offset = 0; // of the file name in the string table
    uint32_t number = 0;
};
template <class F> constexpr void layout(F& f, MicrochipAuxFile& r) {
    f("name_offset", r.name_offset);
    f("number", r.number);
}

// A section entry's auxiliary entry in Microchip COFF.
struct MicrochipAuxSection {
    uint32_t length = 0;
    uint16_t relocs = 0;
    uint16_t lines = 0;
};
template <class F> constexpr void layout(F& f, MicrochipAuxSection& r) {
    f("length", r.length);
    f("relocs", r.relocs);
    f("lines", r.lines);
}

// The two forms of a name field: answers whether the name is kept in place (its first
// four bytes are not all zero); otherwise offset receives the string-table offset.
bool name_in_place(const uint8_t* field, ByteOrder order, uint32_t* offset);
// The in-place name of a field of the given width, cut at its first NUL.
std::string name_from_field(const uint8_t* field, size_t width);
// Fills a name field: in place when the name fits, else zero and the offset.
void set_name_field(uint8_t* field, const std::string& name, uint32_t offset_if_long,
                    ByteOrder order);

// A line-number entry: 6 bytes (2-byte line numbers) or 8. When line is 0, address holds
// the index of the symbol the following run of lines belongs to.
struct CoffLine {
    uint32_t address = 0;
    uint32_t line = 0;
};
template <class F> constexpr void layout(F& f, CoffLine& r, unsigned line_width) {
    f("address", r.address);
    f.sized("line", r.line, line_width);
}

// A Microchip line-number entry.
struct MicrochipLine {
    uint32_t srcndx = 0; // symbol index of the source file's entry
    uint16_t lnno = 0;
    uint32_t paddr = 0;
    uint16_t flags = 0;
    uint32_t fcnndx = 0; // symbol index of the function's entry
};
template <class F> constexpr void layout(F& f, MicrochipLine& r) {
    f("srcndx", r.srcndx);
    f("lnno", r.lnno);
    f("paddr", r.paddr);
    f("flags", r.flags);
    f("fcnndx", r.fcnndx);
}

// An ICOFF symbol entry. The section number is written in the first two bytes of a
// four-byte field; the reader takes all four as the number (icoff_section).
struct IcoffSymbol {
    uint32_t name_offset = 0;
    uint32_t value = 0;
    uint32_t unused = 0;
    uint16_t section = 0;
    uint16_t section_rest = 0;
    uint8_t kind = 0;
    uint8_t type = 0;
};
template <class F> constexpr void layout(F& f, IcoffSymbol& r) {
    f("name_offset", r.name_offset);
    f("value", r.value);
    f("unused", r.unused);
    f("section", r.section);
    f("section_rest", r.section_rest);
    f("kind", r.kind);
    f("type", r.type);
}
// The section number as the reader takes it: the four bytes as one number.
int32_t icoff_section(const IcoffSymbol& symbol, ByteOrder order);

constexpr size_t COFF_FILE_HEADER_SIZE = record_size<CoffFileHeader>();
constexpr size_t COFF_AOUT_HEADER_SIZE = record_size<AoutHeader>();
constexpr size_t MCOFF_OPTIONAL_HEADER_SIZE = record_size<MicrochipOptionalHeader>();
constexpr size_t COFF_SECTION_HEADER_SIZE = record_size<CoffSectionHeader>();
constexpr size_t MCOFF_LINE_SIZE = record_size<MicrochipLine>();
constexpr size_t ICOFF_SYMBOL_SIZE = record_size<IcoffSymbol>();

// ---- Type words ----

// Generic COFF: base type in bits 0-3, derived types in 2-bit fields from bit 4 up.
// Microchip COFF: base type in bits 0-4, derived types in 3-bit fields from bit 5 up.
struct TypeWordLayout {
    unsigned base_bits;
    unsigned derived_bits;
    unsigned derived_fields;
    uint32_t word_mask;
};
extern const TypeWordLayout coff_type_words;
extern const TypeWordLayout microchip_type_words;

uint32_t type_base(uint32_t type, const TypeWordLayout& layout);
// The k-th derived type, counted from the outermost (k = 0).
unsigned type_derived(uint32_t type, unsigned k, const TypeWordLayout& layout);
// The word with derived type d added outside the ones it has.
uint32_t add_derived_type(uint32_t type, unsigned d, const TypeWordLayout& layout);
// The size of a type word: the pointer size when its outermost derived type is a
// pointer, else the size table's entry for its base type.
uint32_t type_word_size(uint32_t type, const TypeWordLayout& layout, const uint8_t* sizes,
                        uint32_t pointer_size);

// ---- Dialects ----

// One member of the COFF family as its reader, writer and dump see it: the layouts and
// widths of its files, and each rule in which the generic and Microchip files differ.
struct CoffDialect {
    // Layouts and widths.
    unsigned type_width = COFF_TYPE_WIDTH; // of a symbol entry's type word
    size_t line_entry_size = 8;            // 6 or 8 (address and line), or MCOFF_LINE_SIZE
    const TypeWordLayout* type_words = &coff_type_words;
    const uint8_t* sizes = nullptr; // base-type sizes, COFF_SIZE_TABLE_ENTRIES entries
    uint32_t pointer_size = 0;
    uint32_t code_unit = 1; // bytes per code address
    uint32_t data_unit = 1; // bytes per data address
    // Base types of integers by size in bytes (index size - 1); 0 where there is none.
    uint32_t signed_bases[4] = {};
    uint32_t unsigned_bases[4] = {};
    const char* target_name = nullptr; // the dump names the target after the magic

    // What the files hold.
    bool long_section_names = false;   // a section name past 8 characters is in the string table
    bool file_aux_offset = false;      // a file entry's auxiliary entry holds a string-table
                                       // offset and a number, not the name
    bool microchip_extensions = false; // storage classes 107 to 109, base types 17 and 18
                                       // and section flags past 0x80 exist; the dump's
                                       // symbol lines leave the section number out

    // How the writer lays the symbol table out.
    bool absolute_section = false;         // an absolute section "ABS" comes first
    bool scoped_functions = false;         // functions are written by their scopes: their own
                                           // entry first, parameters after ".bf", the body as one
                                           // block ending before ".ef", markers at the function's
                                           // start in its section; lines from its segment
    bool locals_as_statics = false;        // automatic, parameter and register variables
    bool variable_type_checks = false;     // a double of the float's size is a float, an array
                                           // of no size is left out
    bool end_of_file_entries = false;      // ".eof" ends each file; a file that gave nothing is
                                           // taken out again
    bool grouped_bits = false;             // bit variables become members of generated structures
    bool honours_strip_underscore = false; // -m takes one leading underscore off names
    bool assembler_files = false;          // ".as" files with lines get file entries
    bool windows_file_names = false;       // file names after --pathspec=, with "\" between parts
    bool entry_starts = false;             // an "entry$" symbol gives a function's start
    bool frame_pointer_entries = false;    // "___FP" after each ".bf"
    bool first_lines_outside_data_copy = false; // a function's lines: one per line number,
                                                // none in code that copies initialised data
    int16_t label_section = -1;                 // section number of the store's plain labels

    // Symbol and auxiliary entries take this many bytes each.
    size_t entry_size() const { return record_size<CoffSymbol>(type_width); }
};

// The generic dialect of a target row, and the Microchip one of its target parameters.
CoffDialect generic_coff_dialect(const CoffTarget& target);
CoffDialect microchip_coff_dialect(const MicrochipParameters& parameters);

// How each of the generic and Microchip modules learns a file's target; the rest of
// their read and dump is one.
struct CoffMember {
    // The magic of a file that detection did not precede (the format was named with
    // -i): chooses the target and the byte order as detection would. False when the
    // magic is not one of this module's.
    bool (*establish_target)(Run& run, uint16_t magic);
    // Reads what the file says of its target after the file header (an optional
    // header); false when reading cannot go on.
    bool (*read_target)(Run& run, ByteReader& input, const CoffFileHeader& header);
    // The dump's part of the same: prints the optional header.
    void (*print_target)(Run& run, ByteReader& input, const CoffFileHeader& header);
    // The dialect of the target established.
    CoffDialect (*dialect)(Run& run);
};
extern const CoffMember generic_coff_member;
extern const CoffMember microchip_coff_member;

// ---- Reading ----

// A string table held whole. first_name is the lowest offset a name may have (4 past
// a COFF size field, 0 in ICOFF); offset 0 always gives the empty name.
struct CoffStrings {
    std::vector<uint8_t> bytes;
    uint32_t first_name = 4;
    // The NUL-terminated name at offset; false (message 626) when it lies outside the
    // table or runs to its end without a terminator.
    bool name_at(Run& run, uint32_t offset, std::string* name) const;
};

// Reads the size field and then the whole table at offset (messages 1037, 1038).
bool read_coff_strings(Run& run, ByteReader& input, uint64_t offset, CoffStrings* strings);

// Reads the file's section headers (after the file header and the optional header) and
// their names, in place or (long_names) from the string table. A short read gives
// message 1037 "COFF section header".
bool read_section_headers(Run& run, ByteReader& input, const CoffFileHeader& header,
                          const CoffStrings* long_names, std::vector<CoffSectionHeader>* headers,
                          std::vector<std::string>* names);

// Adds one segment per section (space = the 0-based section index), then the program
// bytes of every section that has contents, in pieces of at most COFF_DATA_PIECE
// bytes; addresses are paddr times unit. A short read gives message 1037 "COFF data".
bool add_sections_to_store(Run& run, ByteReader& input,
                           const std::vector<CoffSectionHeader>& headers,
                           const std::vector<std::string>& names, uint32_t unit);

// Symbol index of each file-name entry -> the file number it was given.
using FileEntries = std::unordered_map<uint32_t, uint32_t>;

// Adds the line entries of every section to the store (message 1037 "COFF line
// number"). entry_size is 6 or 8, or MCOFF_LINE_SIZE for Microchip entries. A marker
// (line 0) naming a file-name entry selects that entry's file; markers naming any other
// symbol leave the current file as it is; each section starts with no file.
bool add_lines_to_store(Run& run, ByteReader& input, const std::vector<CoffSectionHeader>& sections,
                        const FileEntries& files, size_t entry_size);

// The section name: in place, or (long_names) from the string table.
std::string section_name(Run& run, const CoffSectionHeader& header, const CoffStrings* long_names,
                         ByteOrder order);

// A line-number entry of the given size (6, 8 or MCOFF_LINE_SIZE) as its address and line.
bool read_line_entry(ByteReader& input, uint64_t offset, size_t entry_size, CoffLine* line);

// Reads the optional header, which must be as long as its layout: message 1036 with the
// kind when it is not, 1037 with the header's name when the file is cut short.
template <class Header>
bool read_optional_header(Run& run, ByteReader& input, const CoffFileHeader& file, Header* header,
                          const char* kind, const char* header_name) {
    const size_t size = record_size<Header>();
    if (file.opthdr != size) {
        message(run.messages, 1036, kind, int(size));
        return false;
    }
    if (!input.record_at(COFF_FILE_HEADER_SIZE, header)) {
        message(run.messages, 1037, header_name);
        return false;
    }
    return true;
}

// ---- Dumping ----

// Names of the file-header flag bits 0 to 12.
extern const char* const coff_file_flag_names[13];
// Prints " %s" for each set flag bit from 0 to 12.
void print_file_flags(uint16_t flags);
// Prints each string of a string table from offset start as "%5d:\t%s" with its
// offset; a last string without its terminator ends at the table's end.
void print_strings(const std::vector<uint8_t>& table, size_t start);
// The storage-class name, or null when the class has none.
const char* coff_class_name(int sclass, const CoffDialect& dialect);

// Detection's checks after the magic and byte order: at most COFF_MAX_SECTIONS
// sections, and a symbol-table offset and count that are not negative.
bool coff_header_plausible(Run& run, const uint8_t* raw);

// The read and the dump of the generic and Microchip modules.
int read_coff_family(Run& run, FILE* in, const CoffMember& member);
bool dump_coff_family(Run& run, FILE* in, const CoffMember& member);
