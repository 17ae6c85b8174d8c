// The lookup and index tables: name lookup sets (.debug_pubnames), address range sets
// (.debug_aranges), the string offsets and address tables of version 5, and the name
// index of version 5 (.debug_names).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/binio.h"
#include "formats/elf/dwarf_forms.h"
#include "formats/elf/dwarf_lists.h"
#include "formats/elf/dwarf_sections.h"

struct Run;

namespace dwarf {

// ---- Name lookup and address range sets ----

struct LookupSet {
    uint64_t offset = 0;
    uint32_t length = 0;
    uint16_t version = 0;
    uint32_t info_offset = 0;
    uint32_t info_size = 0;                     // name lookup
    uint8_t address_size = 0, segment_size = 0; // address ranges
    uint64_t end = 0;                           // of its entries, inside the section
    uint64_t next = 0;                          // where the next set begins
};

enum class LookupRead { OK, STOP };

// The header of a name lookup set, or of an address range set; STOP (said) when no set
// can be read there: a 64-bit set, a length too short for the header, a cut header.
LookupRead read_name_set(Run& run, ByteReader& in, const Section& section, LookupSet* set);
LookupRead read_range_set(Run& run, ByteReader& in, const Section& section, LookupSet* set);

// The next name of a set: false at its end, or when cut (then the reader has failed).
bool read_lookup_name(ByteReader& in, const LookupSet& set, uint32_t* offset, std::string* name);
// The next range of an address range set (the first one after the padding that aligns
// the tuples); false at its end.
bool read_range(ByteReader& in, const LookupSet& set, uint64_t* address, uint64_t* length);

// ---- Tables of version 5 ----

// The string offsets from the reader's position up to end: those of a .debug_str_offsets
// set after its length and version (padded: two bytes of padding first), or the whole
// table of a split unit of version 4, which has no header.
void read_string_offsets(ByteReader& in, uint64_t end, bool padded, std::vector<uint32_t>* offsets);

// The addresses of a .debug_addr set, after its header: false (said) when its own
// header is cut; a size that is not an address size leaves the list empty (said).
bool read_addresses(Run& run, ByteReader& in, const Section& section, const SetHeader& set,
                    unsigned* address_size, unsigned* segment_size,
                    std::vector<uint64_t>* addresses);
// The addresses from the reader's position up to end: those of a set after its header, or
// the whole table of a skeleton unit of version 4, which has no header.
void read_address_table(ByteReader& in, uint64_t end, unsigned address_size,
                        std::vector<uint64_t>* addresses);

// ---- The name index ----

struct NameIndexHeader {
    SetHeader set;
    uint32_t comp_units = 0, local_type_units = 0, foreign_type_units = 0;
    uint32_t buckets = 0, names = 0, abbrev_size = 0;
    std::string augmentation;
};

struct IndexAbbreviation {
    uint64_t code = 0, tag = 0;
    std::vector<std::pair<uint64_t, uint64_t>> attributes; // index attribute, form
};

// One entry of the entry pool: its abbreviation and its values, in the abbreviation's
// order.
struct IndexEntry {
    uint64_t offset = 0; // in the section
    const IndexAbbreviation* abbreviation = nullptr;
    std::vector<FormValue> values;
};

class NameIndexReader {
  public:
    NameIndexReader(const SectionSet& sections, ByteReader& in);
    enum class Start { OK, BAD_VERSION, FAILED, CUT };
    // The header, then the places of its tables and its abbreviations. FAILED: the
    // section ends; CUT: the set's tables do not fit it, the next set can be tried.
    Start header(NameIndexHeader* header);
    const std::vector<IndexAbbreviation>& abbreviations() const { return abbreviations_; }
    // The k-th element of the unit lists, buckets, hashes and name tables.
    uint64_t comp_unit(uint32_t k) const { return offset_at(comp_units_, k); }
    uint64_t local_type_unit(uint32_t k) const { return offset_at(local_units_, k); }
    uint64_t foreign_type_unit(uint32_t k) const { return number_at(foreign_units_, k, 8); }
    uint32_t bucket(uint32_t k) const { return uint32_t(number_at(buckets_, k, 4)); }
    uint32_t hash(uint32_t k) const { return uint32_t(number_at(hashes_, k, 4)); }
    uint64_t string_offset(uint32_t k) const { return offset_at(strings_, k); }
    uint64_t entry_offset(uint32_t k) const { return offset_at(entries_, k); }
    // The entries of one name from the pool offset on, up to the one of code 0; false
    // (said) when one cannot be read.
    bool entries(uint64_t offset, const std::function<void(const IndexEntry&)>& each);

  private:
    uint64_t offset_at(uint64_t table, uint32_t k) const { return number_at(table, k, 4); }
    uint64_t number_at(uint64_t table, uint32_t k, unsigned width) const;
    bool read_abbreviations(uint64_t end);

    Run& run_;
    const SectionSet& sections_;
    ByteReader& in_;
    NameIndexHeader header_;
    UnitContext context_;
    uint64_t comp_units_ = 0, local_units_ = 0, foreign_units_ = 0, buckets_ = 0, hashes_ = 0,
             strings_ = 0, entries_ = 0, pool_ = 0;
    std::vector<IndexAbbreviation> abbreviations_;
};

} // namespace dwarf
