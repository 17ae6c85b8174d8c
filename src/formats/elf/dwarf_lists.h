// Location and range lists: the lists of .debug_loc (versions 2 to 4, and the entry kinds
// of split units of version 4 in .debug_loc.dwo), the sets of version 5 sections with
// their headers, and the entries of .debug_rnglists and .debug_loclists.
#pragma once

#include <cstdint>
#include <vector>

#include "common/binio.h"
#include "formats/elf/dwarf_sections.h"

struct Run;

namespace dwarf {

// ---- .debug_loc ----

struct LocationEntry {
    enum Kind { END, BASE, RANGE } kind = END;
    uint64_t offset = 0;
    uint64_t low = 0, high = 0; // a base address is high
    uint16_t length = 0;        // of the expression that follows
};

// An entry of a list of .debug_loc, of the given version; false (said) when cut.
bool read_location_entry(Run& run, ByteReader& in, const Section& section, unsigned address_size,
                         unsigned version, LocationEntry* entry);

// An entry of a list of a split unit's .debug_loc.dwo (version 4): a kind, then indexes
// of the address table, lengths and offsets.
struct SplitLocationEntry {
    uint64_t offset = 0;
    uint8_t kind = 0;
    uint64_t first = 0, second = 0;
    bool described = false; // an expression of length bytes follows
    uint16_t length = 0;
};
enum class EntryRead { OK, UNKNOWN, CUT };
EntryRead read_split_location_entry(Run& run, ByteReader& in, const Section& section,
                                    SplitLocationEntry* entry);

// A pair of location view numbers (a GNU extension) that ends by end; false (said) when
// it runs past.
bool read_view_pair(Run& run, ByteReader& in, uint64_t end, const Section& section, uint64_t* begin,
                    uint64_t* last);

// ---- Sets of the version 5 sections ----

struct SetHeader {
    uint64_t offset = 0, end = 0;
    uint32_t length = 0;
    unsigned version = 0;
};
enum class SetStart { OK, BAD_VERSION, FAILED };
// The length and version every set of these sections begins with. BAD_VERSION: both were
// read, the version is not 5. What is wrong is said.
SetStart read_set_header(Run& run, ByteReader& in, const Section& section, SetHeader* header);

// The rest of a header of a range or location list set.
struct ListSetHeader {
    unsigned address_size = 0, segment_size = 0;
    uint32_t offsets = 0;               // entries of its offset table, which follows
    std::vector<uint32_t> offset_table; // read when the table fits the set
};
enum class ListSetRead { OK, CUT, BAD_ADDRESS_SIZE, BAD_OFFSETS };
ListSetRead read_list_set_header(Run& run, ByteReader& in, const Section& section, uint64_t end,
                                 ListSetHeader* header);

// An entry of a range or location list of version 5. Range and location entries share
// their first kinds; locations add one without operands (default_location) and move the
// rest up by one; a vendor kind of GNU holds a pair of views.
struct ListEntry {
    enum Shape : unsigned {
        END_OF_LIST,
        BASE_ADDRESSX,
        STARTX_ENDX,
        STARTX_LENGTH,
        OFFSET_PAIR,
        BASE_ADDRESS,
        START_END,
        START_LENGTH,
        DEFAULT_LOCATION,
        VIEW_PAIR,
        UNKNOWN,
    };
    uint64_t offset = 0;
    uint8_t kind = 0;
    Shape shape = UNKNOWN;
    uint64_t first = 0, second = 0;
    bool described = false; // a location description follows
    uint64_t length = 0;
    uint64_t expression = 0; // where the description's operations begin
};
enum class ListEntryRead { OK, UNKNOWN, CUT, DESCRIPTION_PAST };
// UNKNOWN and CUT are said; DESCRIPTION_PAST (the entry whole, its description running
// past the set) is said too, after which the set cannot be read further.
ListEntryRead read_list_entry(Run& run, ByteReader& in, const Section& section, uint64_t end,
                              bool locations, unsigned address_size, ListEntry* entry);

} // namespace dwarf
