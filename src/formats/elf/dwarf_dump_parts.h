// What the parts of the DWARF dump share: the name tables, the sections it knows, the
// reading of attribute forms, and the dump itself, whose member functions are defined one
// part per file (units and abbreviations, line-number programs, call frames, the small
// sections, the sections of version 5).
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/binio.h"
#include "formats/elf/elf.h"

namespace dwarf_dump_parts {

// ---- Names ----

struct NameRow {
    uint32_t value;
    const char* name;
    unsigned since; // the first version that names the value so
};

// One family of DWARF constants: names in two styles, DW_TAG_compile_unit (full) and
// "compile unit" (plain), each from the version that brought it, and the range its
// producers may use for their own values. A value is named inside a structure of a
// version at or after the name's; a later name for the same value replaces the earlier.
class NameFamily {
  public:
    NameFamily(const char* prefix, std::initializer_list<NameRow> rows, uint32_t user_low = 1,
               uint32_t user_high = 0);
    bool has(uint64_t value, unsigned version) const { return find(value, version) != nullptr; }
    const char* full(uint64_t value, unsigned version) const;
    const char* plain(uint64_t value, unsigned version) const;

  private:
    struct Names {
        unsigned since;
        std::string full, plain;
    };
    const Names* find(uint64_t value, unsigned version) const;
    const char* unknown(uint64_t value) const;

    std::vector<const std::vector<Names>*> small_; // by value, for the values below 256
    std::unordered_map<uint32_t, std::vector<Names>> names_;
    uint32_t user_low_, user_high_;
};

extern const NameFamily TAG, AT, FORM, OP, CFA, MACINFO, ATE, LANG, LNS, LNE, UT, LNCT, RLE, LLE;

// The family that names an attribute's values, if any.
const NameFamily* value_names(uint64_t attribute);

// ---- Sections ----

struct Slot {
    const char* name;
    const char* description;
    bool found = false;
    bool unreadable = false;
    uint32_t offset = 0;
    uint32_t size = 0;
    std::vector<uint8_t> bytes;
};

enum SlotIndex : unsigned {
    STR,
    ABBREV,
    INFO,
    LINE,
    FRAME,
    PUBNAMES,
    PUBTYPES,
    ARANGES,
    MACINFO_SLOT,
    LOC,
    RANGES,
    // Sections of version 5, shown only when the file has them.
    STR_OFFSETS,
    LINE_STR,
    ADDR,
    RNGLISTS,
    LOCLISTS,
    SLOT_COUNT
};

// The versions of units, line-number programs and the other sets the dump reads.
constexpr unsigned FIRST_VERSION = 2, LAST_VERSION = 5;
inline bool known_version(unsigned version) {
    return version >= FIRST_VERSION && version <= LAST_VERSION;
}
inline bool known_address_size(uint64_t size) {
    return size == 1 || size == 2 || size == 4 || size == 8;
}
inline const char* bool_text(bool value) {
    return value ? "true" : "false";
}

// What reading a value needs to know of the unit (or line-number program, or list set)
// that holds it: its version, its address and offset sizes, and the bases of its
// indexed strings and addresses.
struct ValueContext {
    unsigned version = 2;
    unsigned address_size = 4;
    unsigned offset_size = 4;
    uint64_t str_offsets_base = 8; // past the header of a version 5 table when not given
    uint64_t addr_base = 8;
    const uint8_t* bytes = nullptr; // the section the values are read from
};

// An attribute value as read: what it is, and its number, text or block length.
struct FormValue {
    enum Kind { NUMBER, SIGNED, FLAG, STRING, BLOCK, WIDE, ADDRESS } kind = NUMBER;
    uint64_t number = 0; // the value, the block length, the string's offset or index
    int64_t signed_value = 0;
    uint64_t high = 0;          // the upper half of a 16-byte value
    const char* text = nullptr; // a string found in its table, or nullptr
    size_t text_length = 0;
    bool missing = false; // an address index that names no address
};

// An attribute and form pair of an abbreviation, with the value an implicit_const pair
// gives.
struct AttributeSpec {
    uint64_t attribute, form;
    int64_t implicit_value;
};
// An abbreviation: its tag, whether it has children, and where its pairs lie in the
// dump's list of pairs.
struct Abbreviation {
    uint64_t tag = 0;
    uint8_t children = 0;
    uint32_t first = 0, count = 0;
};
struct AbbreviationTable {
    std::unordered_map<uint64_t, Abbreviation> by_code;
};

enum class OperationEnd { DONE, OVERRUN, UNKNOWN };

class DwarfDump {
  public:
    DwarfDump(ByteReader& file, const std::vector<ElfSectionHeader>& sections,
              const std::vector<uint8_t>& names);
    void run();

    ByteReader reader(const Slot& slot) const {
        return ByteReader(slot.bytes.data(), slot.bytes.size(), file_.order());
    }
    void load(Slot& slot, bool report = true);
    bool heading(const Slot& slot);
    // What is printed from areas that several entries may name is measured.
    void charge(uint64_t count);

    // Units and abbreviations (dwarf_dump.cpp).
    void dump_strings(const Slot& slot);
    void note_table_versions();
    void dump_abbreviations();
    const AbbreviationTable& table_at(uint64_t offset);
    void dump_info();
    void dump_unit(ByteReader& in, uint64_t start, uint64_t end, uint64_t abbrev_offset,
                   ValueContext& context);
    void find_bases(ByteReader in, uint64_t end, const AbbreviationTable& table,
                    ValueContext& context);
    bool print_value(ByteReader& in, const AttributeSpec& spec, const ValueContext& context,
                     uint64_t end);
    void note_reference(uint64_t attribute, uint64_t form, uint64_t value,
                        const ValueContext& context);

    // Reading values, also for line-number headers (dwarf_dump.cpp). False when the value
    // cannot be read: unknown form (*unknown set), or its bytes run past end.
    bool read_value(ByteReader& in, uint64_t form, int64_t implicit_value,
                    const ValueContext& context, uint64_t end, FormValue* value, bool* unknown);
    // A string of a string section, or nullptr when the offset has none.
    const char* string_at(SlotIndex slot, uint64_t offset, size_t* length) const;
    void print_string(const char* text, size_t length);

    // Line-number programs (dwarf_dump_line.cpp).
    void dump_lines();
    void dump_line_program(uint64_t offset);
    struct LineHeader;
    bool print_entry_formats(ByteReader& in, uint64_t end, const char* what,
                             const ValueContext& context, long first);
    void dump_statements(ByteReader& in, uint64_t start, uint64_t end, const LineHeader& header);

    // Call frames (dwarf_dump_frame.cpp).
    void dump_frames();
    void dump_frame_instructions(ByteReader& in, uint64_t end, uint64_t code_align,
                                 int64_t data_align, uint64_t location, unsigned version,
                                 unsigned address_size, unsigned overrun);

    // Name lookup, address ranges, macros, locations and their operations
    // (dwarf_dump_lists.cpp).
    bool set_length(ByteReader& in, unsigned number, uint64_t start, const char* what,
                    uint32_t shortest, unsigned too_short, uint32_t* length);
    void dump_pubnames();
    void dump_aranges();
    void dump_macinfo();
    void dump_locations();

    // One operation of a location expression ending at end: DONE, OVERRUN when it runs
    // past end, UNKNOWN (reported) when it cannot be read past.
    OperationEnd print_operation(ByteReader& in, uint64_t end, const ValueContext& context);
    // The operations of an expression of length bytes; reports overrun with its message.
    void print_expression(ByteReader& in, uint64_t length, const ValueContext& context,
                          unsigned overrun);

    // Sections of version 5 (dwarf_dump_v5.cpp).
    void dump_v5_sections();
    void dump_str_offsets();
    void dump_addresses();
    void dump_list_sets(SlotIndex slot);
    bool list_set_header(ByteReader& in, const Slot& slot, uint64_t* end, ValueContext* context,
                         uint32_t* offsets);

    ByteReader& file_;
    Slot slots_[SLOT_COUNT] = {
        {".debug_str", "string table", false, false, 0, 0, {}},
        {".debug_abbrev", "abbreviation table", false, false, 0, 0, {}},
        {".debug_info", "debug contributions", false, false, 0, 0, {}},
        {".debug_line", "line number information", false, false, 0, 0, {}},
        {".debug_frame", "call frame information", false, false, 0, 0, {}},
        {".debug_pubnames", "name lookup table", false, false, 0, 0, {}},
        {".debug_pubtypes", "name lookup table", false, false, 0, 0, {}},
        {".debug_aranges", "address range table", false, false, 0, 0, {}},
        {".debug_macinfo", "macro information", false, false, 0, 0, {}},
        {".debug_loc", "location lists", false, false, 0, 0, {}},
        {".debug_ranges", "address ranges", false, false, 0, 0, {}},
        {".debug_str_offsets", "string offsets table", false, false, 0, 0, {}},
        {".debug_line_str", "line string table", false, false, 0, 0, {}},
        {".debug_addr", "address table", false, false, 0, 0, {}},
        {".debug_rnglists", "range lists", false, false, 0, 0, {}},
        {".debug_loclists", "location lists", false, false, 0, 0, {}},
    };
    std::unordered_map<uint64_t, AbbreviationTable> tables_;
    std::vector<AttributeSpec> specs_;                      // the pairs of every abbreviation read
    std::unordered_map<uint64_t, unsigned> table_versions_; // by abbreviation offset
    std::unordered_map<uint64_t, unsigned> list_versions_;  // .debug_loc lists, by offset
    // The location lists the units name, and the lists of location views (a GNU
    // extension: pairs of view numbers that come just before a location list and have no
    // end of their own), in .debug_loc [0] and .debug_loclists [1].
    std::set<uint64_t> location_lists_[2], view_lists_[2];
    // Where the view list at offset ends: at the next location list a unit names.
    uint64_t views_end(unsigned section, uint64_t offset, uint64_t end) const;
    // The view pairs from the reader's position up to end, one a line after indent;
    // false (with its message) when they run past it.
    bool print_views(ByteReader& in, uint64_t end, const char* indent, const Slot& slot);
    std::vector<uint64_t> line_references_;
    unsigned address_size_ = 4; // of the unit or address range set read last
};

} // namespace dwarf_dump_parts
