// Units and their entries: the abbreviation tables, each read once, the unit headers of
// versions 2 to 5 (and the type units of .debug_types), and the tree of entries with
// their decoded attribute values.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "common/binio.h"
#include "formats/elf/dwarf_forms.h"
#include "formats/elf/dwarf_sections.h"

struct Run;

namespace dwarf {

// An attribute and form pair of an abbreviation, with the value an implicit_const pair
// gives.
struct AttributeSpec {
    uint64_t attribute, form;
    int64_t implicit_value;
};

// An abbreviation: its tag, whether it has children (the byte as read: 1 yes, 0 no), and
// where its pairs lie in the list of pairs of its tables.
struct Abbreviation {
    uint64_t tag = 0;
    uint8_t children = 0;
    uint32_t first = 0, count = 0;
};

struct AbbreviationTable {
    std::unordered_map<uint64_t, Abbreviation> by_code;
};

// The abbreviation tables of a set's .debug_abbrev. A table is named by its offset and
// read once, up to its closing zero code or the section's end; the first of two equal
// codes is the one found. The pairs a table holds are read by the version of the first
// unit that names it (an implicit constant needs version 5).
class Abbreviations {
  public:
    explicit Abbreviations(const SectionSet& sections)
        : run_(sections.run()), sections_(sections) {}
    // Notes the version of each unit of the section (.debug_info or .debug_types) for
    // the table it names.
    void note_versions(SectionId units);
    unsigned version_at(uint64_t offset) const;
    // What units name at many offsets of one table would be read again from each: what
    // is read is measured.
    const AbbreviationTable& table_at(uint64_t offset);
    const AttributeSpec& spec(const Abbreviation& abbreviation, uint32_t k) const {
        return specs_[abbreviation.first + k];
    }
    void clear();

  private:
    Run& run_;
    const SectionSet& sections_;
    std::unordered_map<uint64_t, AbbreviationTable> tables_;
    std::vector<AttributeSpec> specs_;
    std::unordered_map<uint64_t, unsigned> versions_;
};

// The abbreviations of .debug_abbrev one after another, as they lie in the section.
class AbbreviationWalk {
  public:
    AbbreviationWalk(const SectionSet& sections, const Abbreviations& tables);
    struct Item {
        uint64_t offset = 0, code = 0, tag = 0;
        uint8_t children = 0;
        unsigned version = 2; // of the table it belongs to
    };
    // The next abbreviation; false at the section's end or where it cannot be read (then
    // finish() tells).
    bool next(Item* item);
    // The next pair of the abbreviation; false after its last. has_value is set for an
    // implicit constant, whose value the pair holds.
    bool next_pair(const Item& item, AttributeSpec* spec, bool* has_value);
    // Says where the section could not be read, if it could not (422).
    void finish();

  private:
    Run& run_;
    const SectionSet& sections_;
    const Abbreviations& tables_;
    ByteReader in_;
    unsigned version_ = 2;
    bool table_start_ = true;
};

// A unit's header.
struct UnitHeader {
    enum Read { NOTHING, VERSION, WHOLE }; // how much of it could be read
    Read read = NOTHING;
    uint64_t offset = 0; // in the section
    uint64_t length = 0;
    uint64_t next = 0; // where the next unit begins
    uint16_t version = 0;
    uint8_t unit_type = 0;
    uint8_t address_size = 0;
    uint32_t abbrev_offset = 0;
    uint64_t id = 0; // a type unit's signature, a skeleton or split unit's id
    uint32_t type_offset = 0;
    uint64_t entries = 0; // where its first entry begins
    bool type_unit = false;
    bool has_id = false;
};

enum class UnitStep { READ, SKIP, STOP };

// The units of .debug_info or .debug_types, one after another.
class UnitReader {
  public:
    UnitReader(const SectionSet& sections, SectionId section);
    bool done() const { return in_.position() >= in_.size(); }
    uint64_t position() const { return in_.position(); }
    // Reads the next unit's header. READ: a unit whose entries can be read; SKIP: a unit
    // that cannot, the next one can be tried; STOP: the section cannot be read further.
    // The header holds what could be read, and what is wrong is said.
    UnitStep next(UnitHeader* header);

  private:
    bool read_rest(UnitHeader& h);
    UnitStep check(const UnitHeader& h);

    Run& run_;
    const SectionSet& sections_;
    SectionId section_;
    ByteReader in_;
};

// One entry of a unit's tree.
struct Entry {
    uint64_t offset = 0; // in the section
    uint64_t code = 0;
    unsigned depth = 0;
    const Abbreviation* abbreviation = nullptr; // nullptr for a null entry
};

// An attribute's value as the entry holds it: the forms an indirect pair named, in
// order, and the value of the last.
struct AttributeValue {
    static constexpr unsigned MAX_INDIRECT = 16; // indirect forms a value may pass through
    enum Status { OK, UNKNOWN_FORM, FAILED } status = OK;
    uint64_t indirect[MAX_INDIRECT + 1] = {};
    unsigned indirect_count = 0;
    FormValue value;
};

// The entries of one unit, in the order of the tree, each followed by its attribute
// values.
class EntryReader {
  public:
    EntryReader(const SectionSet& sections, SectionId section, const UnitHeader& unit,
                Abbreviations& abbreviations);
    const UnitContext& context() const { return context_; }
    uint64_t position() const { return in_.position(); }
    enum class Next { ENTRY, NULL_ENTRY, END, FAILED };
    // The next entry; a null entry ends a list of siblings. END after the unit's
    // top-level entry and its children; FAILED (said) when an entry cannot be read.
    Next next(Entry* entry);
    // The value of the next pair of the current entry's abbreviation; false (said) when
    // it cannot be read, which ends the unit.
    bool value(const AttributeSpec& spec, AttributeValue* value);
    // Bytes other than zero after the tree, inside the unit, are said once.
    void finish();

  private:
    void find_bases(const AbbreviationTable& table);

    Run& run_;
    const SectionSet& sections_;
    Abbreviations& abbreviations_;
    const AbbreviationTable& table_;
    UnitContext context_;
    uint32_t abbrev_offset_;
    uint64_t end_;
    ByteReader in_;
    unsigned depth_ = 0;
    bool done_ = false;
};

} // namespace dwarf
