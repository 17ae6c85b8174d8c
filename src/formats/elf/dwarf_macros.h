// Macro information: the entries of .debug_macinfo (versions 2 to 4), and the macro units
// of .debug_macro (version 5, and GNU's version 4 before it) with their headers, operand
// tables and entries.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/binio.h"
#include "formats/elf/dwarf_forms.h"
#include "formats/elf/dwarf_sections.h"

struct Run;

namespace dwarf {

struct MacinfoEntry {
    uint64_t type = 0; // 0 ends a set
    uint64_t line = 0, file = 0;
    std::string text;
};

// The next entry of .debug_macinfo; false when it is cut (the reader has failed).
bool read_macinfo_entry(ByteReader& in, MacinfoEntry* entry);

struct MacroUnitHeader {
    uint64_t offset = 0;
    unsigned version = 0;
    uint8_t flags = 0;
    unsigned offset_size = 4;
    bool has_line_offset = false;
    uint64_t line_offset = 0;
    // Entry types that the unit describes itself: the type and its operands' forms.
    std::vector<std::pair<uint8_t, std::vector<uint8_t>>> operand_forms;
};

// The header of the macro unit at the reader's position; false (said) when it cannot be
// read, which ends the section.
bool read_macro_header(Run& run, ByteReader& in, const Section& section, MacroUnitHeader* header);

struct MacroEntry {
    uint64_t offset = 0;
    uint8_t type = 0; // 0 ends the unit
    MacroLayout layout = {false, MacroOperand::NONE, MacroOperand::NONE};
    uint64_t values[2] = {0, 0};
    const char* text = nullptr; // a string operand, when its table has it
    size_t text_length = 0;
    std::vector<FormValue> operands; // of a type the unit describes itself
};

enum class MacroEntryRead { OK, UNKNOWN, CUT };

// The next entry of a macro unit; UNKNOWN and CUT are said and end the section.
MacroEntryRead read_macro_entry(Run& run, ByteReader& in, const Section& section,
                                const MacroUnitHeader& header, const UnitContext& unit,
                                MacroEntry* entry);

} // namespace dwarf
