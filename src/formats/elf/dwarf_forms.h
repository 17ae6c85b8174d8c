// Attribute values: what a form's bytes hold, read by the layout its row gives, with the
// strings and addresses that indexed forms name looked up in their tables.
#pragma once

#include <cstdint>

#include "common/binio.h"
#include "formats/elf/dwarf_sections.h"
#include "formats/elf/dwarf_tables.h"

namespace dwarf {

// What reading a value needs to know of the unit (or line-number program, or list set)
// that holds it: its version, its address and offset sizes, the bases of its indexed
// strings and addresses, and the sections it reads from.
struct UnitContext {
    unsigned version = 2;
    unsigned address_size = 4;
    unsigned offset_size = 4;
    uint64_t str_offsets_base = 0; // past the header of a version 5 table when not given
    uint64_t addr_base = 0;
    const SectionSet* sections = nullptr;
    SectionId section = INFO; // the section whose bytes the values are read from

    // The context of a unit of that version: its tables' bases where the unit names none.
    static UnitContext of_version(unsigned version, const SectionSet* sections, SectionId section);
};

// An attribute value as read: what it is, and its number, text or block.
struct FormValue {
    enum Kind { NUMBER, SIGNED, FLAG, STRING, BLOCK, WIDE, ADDRESS } kind = NUMBER;
    uint64_t form = 0;
    uint64_t number = 0; // the value, the block length, the string's offset or index
    int64_t signed_value = 0;
    uint64_t high = 0;          // the upper half of a 16-byte value
    const char* text = nullptr; // a string found in its table, or nullptr
    size_t text_length = 0;
    const uint8_t* block = nullptr; // a block's bytes
    bool missing = false;           // an address index that names no address
};

enum class ValueRead { OK, UNKNOWN_FORM, OVERRUN };

// Reads a value of the form at the reader's position, whose bytes must end by end. A form
// that the unit's version does not define is unknown (no byte is read); nothing is said.
ValueRead read_value(ByteReader& in, uint64_t form, int64_t implicit_value, const UnitContext& unit,
                     uint64_t end, FormValue* value);

// Whether a form's value is a string looked up in a table (an offset or an index).
bool is_string_form(uint64_t form);

} // namespace dwarf
