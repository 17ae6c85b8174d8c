// The DWARF sections of an ELF file, found by name among its section headers and read
// when asked: what the DWARF reader reads from and the dump prints.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "common/binio.h"
#include "formats/elf/elf.h"

struct Run;

namespace dwarf {

enum SectionId : unsigned {
    STR,
    ABBREV,
    INFO,
    LINE,
    FRAME,
    PUBNAMES,
    PUBTYPES,
    ARANGES,
    MACINFO_SECTION,
    LOC,
    RANGES,
    // Sections of later versions, shown only when the file has them.
    STR_OFFSETS,
    LINE_STR,
    ADDR,
    RNGLISTS,
    LOCLISTS,
    TYPES,
    MACRO_SECTION,
    NAMES,
    SECTION_COUNT
};

struct Section {
    const char* name; // as the file names it: ".debug_info", or ".debug_info.dwo"
    const char* description;
    bool found = false;
    bool unreadable = false;
    uint32_t offset = 0;
    uint32_t size = 0;
    std::vector<uint8_t> bytes; // once loaded
    // Every section of the name, in the file's order: the one above is the last. An
    // object file holds a section of type units, or of macro units, for each group of
    // them that the linker may keep or drop.
    std::vector<std::pair<uint32_t, uint32_t>> instances; // offset, size
};

// The sections of one kind of DWARF: those of a program, or those that a split unit's own
// file holds under ".dwo" names, which form a set of their own.
class SectionSet {
  public:
    SectionSet(Run& run, ByteReader& file, bool split);
    bool split() const { return split_; }
    Section& operator[](SectionId id) { return sections_[id]; }
    const Section& operator[](SectionId id) const { return sections_[id]; }
    ByteOrder order() const { return file_.order(); }
    // The run whose messages and options every reader of these sections uses.
    Run& run() const { return run_; }

    // Takes a section of the file whose name is one of this set's.
    void take(std::string_view name, uint32_t offset, uint32_t size);
    // Reads a found section's bytes once; with report, one that cannot be read is told
    // (666) and counts as empty.
    void load(SectionId id, bool report = true);
    void release(SectionId id);
    // Makes the k-th of the sections of that name the one read (its bytes not loaded).
    void select(SectionId id, size_t k);
    ByteReader reader(SectionId id) const;
    // The NUL-terminated string at offset of a string section, or nullptr when there is
    // none there.
    const char* string_at(SectionId id, uint64_t offset, size_t* length) const;

  private:
    Run& run_;
    ByteReader& file_;
    bool split_;
    Section sections_[SECTION_COUNT];
};

// Finds the DWARF sections among the file's: a section whose name cannot be read is
// passed over with a warning, the last of two of one name is the one taken.
void find_sections(Run& run, const std::vector<ElfSectionHeader>& headers,
                   const std::vector<uint8_t>& section_names, SectionSet* program,
                   SectionSet* split);

} // namespace dwarf
