// The DWARF tables made from dwarf.def: the name of every value of each family, by the
// version of the structure that holds it, and the operand layouts of forms, expression
// operations, call frame instructions and macro entries, which the reader decodes by.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <unordered_map>
#include <vector>

namespace dwarf {

// The versions of units, line-number programs and the other sets the reader knows.
constexpr unsigned FIRST_VERSION = 2, LAST_VERSION = 5;
inline bool known_version(unsigned version) {
    return version >= FIRST_VERSION && version <= LAST_VERSION;
}
inline bool known_address_size(uint64_t size) {
    return size == 1 || size == 2 || size == 4 || size == 8;
}

// ---- Names ----

struct NameRow {
    uint32_t value;
    const char* name;
    unsigned since;     // the first version whose structures name the value so
    const char* vendor; // "DWARF" for the standard's own
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
    // The vendor of the value's name in that version, or nullptr when it has none.
    const char* vendor(uint64_t value, unsigned version) const;

  private:
    struct Names {
        unsigned since;
        const char* vendor;
        std::string full, plain;
    };
    const Names* find(uint64_t value, unsigned version) const;
    const char* unknown(uint64_t value) const;

    std::vector<const std::vector<Names>*> small_; // by value, for the values below 256
    std::unordered_map<uint32_t, std::vector<Names>> names_;
    uint32_t user_low_, user_high_;
};

extern const NameFamily TAG, AT, FORM, OP, CFA, MACINFO, MACRO, ATE, LANG, LNS, LNE, UT, LNCT, RLE,
    LLE, IDX;

// The family that names an attribute's values, if any.
const NameFamily* value_names(uint64_t attribute);

// ---- Forms ----

// How a form's value is laid out: in bytes of a fixed count, of the unit's address or
// offset size, as a LEB128 number, a NUL-terminated string, a block after its length, or
// no bytes at all (a flag that is present, a constant the abbreviation holds).
enum class FormLayout : uint8_t {
    NOTHING,
    ADDRESS,
    REF_ADDR, // the address size in version 2, the offset size after
    U8,
    U16,
    U24,
    U32,
    U64,
    U128,
    ULEB,
    SLEB,
    OFFSET,
    STRING,
    BLOCK1,
    BLOCK2,
    BLOCK4,
    BLOCK,
    IMPLICIT,
    INDIRECT,
};

// What a form's value is.
enum class FormClass : uint8_t {
    ADDRESS,
    ADDRESS_INDEX,
    BLOCK,
    CONSTANT,
    SIGNED,
    FLAG,
    REFERENCE,
    SIGNATURE,
    SECTION_OFFSET,
    LIST_INDEX,
    STRING,
    STRING_OFFSET,      // of .debug_str
    LINE_STRING_OFFSET, // of .debug_line_str
    STRING_INDEX,       // of the string offsets table
    SUPPLEMENT,         // an offset into a supplementary file, which is not read
    WIDE,
    INDIRECT,
};

struct FormRow {
    FormLayout layout;
    FormClass kind;
};

// The layout of a form, or nullptr when no version or vendor defines it.
const FormRow* form_row(uint64_t form);

// ---- Operands of expression operations, call frame instructions and macro entries ----

enum class Operand : uint8_t {
    NONE,
    ADDR, // the address size
    REF,  // a reference: the address size in version 2, the offset size after
    U8,
    S8,
    U16,
    S16,
    U32,
    S32,
    U64,
    ULEB,
    SLEB,
    BLOCK,  // a ULEB length and that many bytes
    BLOCK1, // a one-byte length and that many bytes
};

// The operands of an operation; known is false for an operation that no version and no
// vendor defines, whose operands cannot be told.
struct OperationLayout {
    bool known;
    Operand first, second;
};
const OperationLayout& operation_layout(uint8_t operation);

enum class FrameOperand : uint8_t {
    NONE,
    ADDRESS, // a new location
    DELTA1,  // an advance of one, two, four or eight bytes, in code units
    DELTA2,
    DELTA4,
    DELTA8,
    LOW_DELTA,         // an advance in the low six bits of the instruction
    LOW_REGISTER,      // a register in the low six bits
    REGISTER,          // a ULEB register
    ULEB,              // a plain number
    FACTORED,          // a ULEB offset, times the data alignment
    FACTORED_SIGNED,   // an SLEB offset, times the data alignment
    NEGATIVE_FACTORED, // a ULEB offset, times minus the data alignment
    BLOCK,             // a ULEB length and an expression of that many bytes
};

struct FrameLayout {
    bool known;
    FrameOperand first, second;
};
// The layout of an instruction given by its opcode (for the three primary instructions,
// their high two bits alone).
const FrameLayout& frame_layout(uint8_t instruction);

enum class MacroOperand : uint8_t {
    NONE,
    LINE,   // a ULEB line number
    FILE,   // a ULEB file number
    STRING, // a NUL-terminated string
    STRP,   // an offset of .debug_str
    STRX,   // a ULEB index of the string offsets table
    UNIT,   // an offset of another macro unit
    SUP,    // an offset into a supplementary file
};

struct MacroLayout {
    bool known;
    MacroOperand first, second;
};
// The layout of a macro entry type in a macro unit of that version (4 is GNU's).
MacroLayout macro_layout(uint8_t type, unsigned version);

} // namespace dwarf
