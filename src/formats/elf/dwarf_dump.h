// The DWARF dump: a printer over what the DWARF reader returns, one section after
// another in the layouts of the ELF dump. Its member functions are defined one group of
// sections per file (units and abbreviations, line-number programs, call frames, lists
// and expressions, the lookup, index and macro tables).
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <unordered_map>
#include <vector>

#include "common/binio.h"
#include "formats/elf/dwarf_expressions.h"
#include "formats/elf/dwarf_info.h"
#include "formats/elf/dwarf_lines.h"
#include "formats/elf/dwarf_lists.h"
#include "formats/elf/dwarf_lookup.h"
#include "formats/elf/dwarf_macros.h"
#include "formats/elf/dwarf_sections.h"
#include "model/run.h"

namespace dwarf {

inline const char* bool_text(bool value) {
    return value ? "true" : "false";
}

class DwarfDump {
  public:
    DwarfDump(Run& run, SectionSet& sections)
        : run(run), sections_(sections), abbreviations_(sections) {}
    void print_all();

  private:
    Run& run;
    // The heading of a section, or the line that says the file has none; false then.
    bool heading(SectionId id);
    // What is printed from areas that several entries may name is measured.
    void charge(uint64_t count);
    void print_string(const char* text, size_t length);

    // Units and abbreviations (dwarf_dump.cpp).
    void dump_strings(SectionId id);
    void dump_abbreviations();
    void dump_unit_section(SectionId id);
    void dump_units(SectionId id);
    void print_unit_header(const UnitHeader& header);
    void dump_entries(SectionId id, const UnitHeader& header);
    void print_entry(EntryReader& entries, const Entry& entry);
    bool print_attribute(EntryReader& entries, const AttributeSpec& spec, int indent);
    void print_value(const AttributeSpec& spec, const FormValue& v, const UnitContext& unit);
    void note_reference(uint64_t attribute, const FormValue& v, const UnitContext& unit);

    // Line-number programs (dwarf_dump_line.cpp).
    void dump_lines();
    void dump_line_program(uint64_t offset);
    void print_line_header(const LineHeader& header);
    bool print_entries(LineProgramReader& program, bool files);
    void print_file_entry(const FileEntry& entry, bool files, long number);
    void print_v2_entries(LineProgramReader& program);
    void dump_statements(LineProgramReader& program, const LineHeader& header);
    void print_line_op(const LineOp& op, unsigned version);

    // Call frames (dwarf_dump_frame.cpp).
    void dump_frames();
    void print_instructions(ByteReader& in, uint64_t end, const CommonEntry& cie,
                            unsigned address_size, uint64_t location, unsigned overrun);

    // Location and range lists, and expressions (dwarf_dump_lists.cpp).
    void dump_locations();
    void print_location_list(ByteReader& in, uint64_t list);
    void print_split_location_list(ByteReader& in);
    bool print_described(ByteReader& in, uint64_t length, const UnitContext& unit);
    uint64_t views_end(unsigned section, uint64_t offset, uint64_t end) const;
    bool print_views(ByteReader& in, uint64_t end, const char* indent, SectionId id);
    void print_expression(ByteReader& in, uint64_t length, const UnitContext& unit,
                          unsigned overrun);
    void dump_list_sets(SectionId id);
    bool print_list_set_header(ByteReader& in, SectionId id, const SetHeader& set,
                               ListSetHeader* header);
    void print_list_entries(ByteReader& in, SectionId id, const SetHeader& set,
                            const ListSetHeader& header);

    // Lookup, index and macro tables (dwarf_dump_tables.cpp).
    bool set_heading(unsigned number, const SetHeader& set, SetStart start);
    void dump_pubnames();
    void dump_aranges();
    void dump_macinfo();
    void dump_macros();
    void dump_macro_units();
    void print_macro_entry(const MacroEntry& entry, unsigned version);
    void dump_later_sections();
    void dump_str_offsets();
    void print_string_offsets(const std::vector<uint32_t>& offsets);
    void dump_addresses();
    void print_addresses(const std::vector<uint64_t>& addresses, unsigned address_size);
    void dump_names();
    void print_name_index(NameIndexReader& index, const NameIndexHeader& header);
    void print_index_names(NameIndexReader& index, const NameIndexHeader& header);

    SectionSet& sections_;
    Abbreviations abbreviations_;
    std::vector<uint64_t> line_references_;
    // The location lists the units name, and the lists of location views (a GNU
    // extension: pairs of view numbers that come just before a location list and have no
    // end of their own), in .debug_loc [0] and .debug_loclists [1].
    std::set<uint64_t> location_lists_[2], view_lists_[2];
    std::unordered_map<uint64_t, unsigned> list_versions_; // .debug_loc lists, by offset
    unsigned address_size_ = 4;     // of the unit or address range set read last
    unsigned unit_version_ = 0;     // of the unit read last
    uint64_t str_offsets_base_ = 8; // of the unit read last, for macro entries
};

} // namespace dwarf
