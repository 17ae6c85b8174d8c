// The DWARF version 2 writer, which the ELF writer calls for its debugging sections, and
// what the writer and its line-number programs share.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/binio.h"
#include "formats/elf/elf.h"

struct Run;

struct LineRecord;

// One DWARF output section.
struct DebugSection {
    std::string name;
    std::vector<uint8_t> bytes;
};

// Appends ".debug_abbrev", ".debug_info" and ".debug_line", in that order, for the
// scopes and types of the side files and the store's line records; appends nothing when
// no processor was selected (there is no global scope). Multi-byte fields follow the
// run's byte order.
void dwarf_emit(Run& run, std::vector<DebugSection>& sections);

// Prints the DWARF sections among an ELF file's sections on standard output: the
// abbreviations, the units (versions 2 to 5) and their entries, the line-number programs
// they refer to, the string, frame, name, range, macro and location sections, and the
// sections of version 5 that the file has (string offsets, line strings, addresses,
// range and location lists).
void dwarf_dump(Run& run, ByteReader& file, const std::vector<ElfSectionHeader>& sections,
                const std::vector<uint8_t>& section_names);

// ---- Shared by the unit writer and the line-number program ----

// A unit's source file: index 0 is the module itself, which is not written.
struct UnitFile {
    std::string name;       // base name
    uint32_t directory = 0; // index in the unit's directory list; 0: none
    uint32_t file = 0;      // number of the store file of that name; 0: none
};

// The files and directories a unit names, and the address range it covers, which the
// line-number program widens.
struct UnitFiles {
    std::vector<UnitFile> files;          // index 0: the module
    std::vector<std::string> directories; // index 0: the empty name
};

struct AddressRange {
    uint32_t low = 0xFFFFFFFF;
    uint32_t high = 0;
    void take(uint32_t address) {
        if (address < low) low = address;
        if (address > high) high = address;
    }
};

// The store's line records sorted by address, then line number, once for the run, with
// each store file's records in that order.
class SortedLines {
  public:
    explicit SortedLines(Run& run);
    // Positions in order() of the records of each file, in that order; by file number.
    const std::vector<uint32_t>& of_file(uint32_t file) const;
    const LineRecord& at(uint32_t position) const { return *order_[position]; }

  private:
    std::vector<const LineRecord*> order_;
    std::vector<std::vector<uint32_t>> by_file_;
    std::vector<uint32_t> none_;
};

// Appends the unit's line-number program to line, widening the unit's range by the
// addresses of its rows.
void write_line_program(ByteWriter& line, const UnitFiles& unit, const SortedLines& lines,
                        uint8_t address_size, AddressRange* range);

// An address field of the unit's address size (1, 2, 4 or 8 bytes; nothing for others).
void put_address(ByteWriter& out, uint64_t address, uint8_t address_size);
