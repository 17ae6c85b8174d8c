// Call frame information (.debug_frame): common information entries of versions 1 (DWARF
// 2), 3 and 4 and the description entries that name them. Their instructions are read
// with read_instruction.
#pragma once

#include <cstdint>
#include <string>

#include "common/binio.h"
#include "formats/elf/dwarf_expressions.h"
#include "formats/elf/dwarf_sections.h"

struct Run;

namespace dwarf {

struct FrameEntry {
    enum Kind { COMMON, DESCRIPTION } kind = COMMON;
    // How far the entry could be read: WHOLE entries have instructions.
    enum State {
        TOO_SHORT,       // its length cannot hold its fields
        CUT,             // a common entry's augmentation, or a description's fields, cut
        AUGMENTED,       // a common entry whose augmentation this reader does not know
        UNKNOWN_VERSION, // a common entry of a version this reader does not know
        FIELDS_CUT,      // a common entry's fields after its augmentation cut
        POINTER_PAST,    // a description whose pointer lies past the section
        NOT_COMMON,      // a description whose pointer names no usable common entry
        WHOLE,
    } state = WHOLE;
    uint64_t offset = 0;
    uint32_t length = 0;
    uint64_t end = 0;
    uint32_t id = 0; // a description's pointer to its common entry
    CommonEntry cie; // a common entry's fields, or those of a description's common entry
    std::string augmentation;
    unsigned address_size = 0; // of the locations of the entry's instructions
    uint64_t location = 0, range = 0;
};

class FrameReader {
  public:
    // address_size is the one locations are read with where no common entry gives one.
    FrameReader(const SectionSet& sections, unsigned address_size);
    bool done() const { return next_ + 4 > in_.size(); }
    uint64_t position() const { return in_.position(); }
    enum class Next { ENTRY, SKIP, STOP };
    // The next entry: SKIP for a 64-bit entry passed over, STOP when no entry can be
    // read there. What is wrong is said.
    Next next(FrameEntry* entry);
    // The reader at the entry's instructions, for a WHOLE entry.
    ByteReader& instructions() { return in_; }
    // After the last entry: bytes too few for another are said.
    void finish();

  private:
    void read_common(FrameEntry& e);
    void read_description(FrameEntry& e);

    Run& run_;
    const SectionSet& sections_;
    ByteReader in_;
    unsigned address_size_;
    uint64_t next_ = 0;
};

} // namespace dwarf
