// What the reading of DWARF into the store and the type model shares between its parts:
// the entries of a unit, kept with what the model needs of their attributes while the
// unit is read, and the reader of units into scopes (dwarf_model.cpp) and types
// (dwarf_model_types.cpp).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "formats/elf/dwarf_info.h"
#include "formats/elf/dwarf_lines.h"
#include "formats/elf/dwarf_sections.h"
#include "model/type.h"

struct Run;

namespace dwarf {

// Where a variable lives, when one operation says it.
struct Place {
    enum Kind : uint8_t { NONE, ADDRESS, FRAME, REGISTER, LIST, OTHER } kind = NONE;
    uint64_t value = 0; // an address, a frame offset (its bits), a DWARF register
};

// An entry of a unit and the attributes the model reads.
struct Die {
    static constexpr uint32_t NONE = UINT32_MAX;
    uint64_t offset = 0;    // in its section
    uint32_t parent = NONE; // index in the unit's entries
    uint32_t end = 0;       // index after its last descendant
    uint16_t tag = 0;
    uint16_t depth = 0;
    const char* name = nullptr;
    uint32_t name_length = 0;
    uint64_t type = 0; // the entry its type is: a section offset, or a type signature
    enum Reference : uint8_t { NO_REFERENCE, OFFSET, SIGNATURE, OTHER_UNIT };
    Reference type_kind = NO_REFERENCE;
    Reference origin_kind = NO_REFERENCE; // DW_AT_specification or DW_AT_abstract_origin
    uint64_t origin = 0;
    uint64_t byte_size = 0, upper_bound = 0, count = 0, member_offset = 0;
    int64_t const_value = 0;
    uint32_t encoding = 0, bit_size = 0, bit_offset = 0, data_bit_offset = 0;
    uint32_t decl_line = 0, decl_file = 0;
    uint64_t low_pc = 0, high_pc = 0, stmt_list = 0;
    Place location;
    bool has_byte_size = false, has_upper_bound = false, has_count = false;
    bool has_member_offset = false, has_bit_offset = false, has_data_bit_offset = false;
    bool has_low_pc = false, has_high_pc = false, high_pc_is_length = false;
    bool has_stmt_list = false, external = false, declaration = false;

    std::string text() const { return name ? std::string(name, name_length) : std::string(); }
};

// A unit's entries in the order of its tree.
struct DieTree {
    SectionId section = INFO;
    uint32_t instance = 0; // which section of type units of an object file holds it
    UnitHeader header;
    UnitContext context;
    std::vector<Die> dies;
    std::unordered_map<uint64_t, uint32_t> index; // by section offset

    const Die* at(uint64_t offset) const {
        auto found = index.find(offset);
        return found == index.end() ? nullptr : &dies[found->second];
    }
};

// What cannot be put into the type model, each said once per file.
enum LeftOut : unsigned {
    LEFT_CXX,
    LEFT_LOCATION_LISTS,
    LEFT_INLINED,
    LEFT_EXPRESSIONS,
    LEFT_BASE_TYPES,
    LEFT_OTHER_TYPES,
    LEFT_OTHER_UNITS,
    LEFT_COUNT
};

class ModelReader {
  public:
    ModelReader(SectionSet& sections, const char* file, bool with_types);
    // The units of .debug_info, each a module scope; the type units are read when a
    // unit names one of their types.
    void read_units();

  private:
    void read_type_units(SectionId section, uint32_t instance);
    // Units and entries (dwarf_model.cpp).
    bool read_tree(SectionId section, const UnitHeader& header, DieTree* tree);
    void read_reference(const FormValue& v, uint64_t* target, Die::Reference* kind) const;
    void read_member_offset(Die& die, const FormValue& v, const UnitContext& unit) const;
    void read_attribute(Die& die, const AttributeSpec& spec, const FormValue& v,
                        const UnitContext& unit);
    Place place_of(const FormValue& v, const UnitContext& unit);
    void read_unit(const DieTree& tree);
    // Reads the entry; answers the scope it opens (a function or a block), whose
    // children come next, or null when its descendants are passed over.
    ScopeEntry* read_entry(const DieTree& tree, uint32_t k, ScopeEntry* scope);
    ScopeEntry* read_function(const DieTree& tree, uint32_t k, ScopeEntry* scope);
    void note_extent(const std::string& name, const Die& die);
    void read_variable(const DieTree& tree, uint32_t k, ScopeEntry* scope);
    void read_typedef(const DieTree& tree, uint32_t k, ScopeEntry* scope);
    ScopeEntry* open_scope(uint32_t sclass, ScopeEntry* holder, uint32_t line);
    void declare(ScopeEntry* scope, ScopeEntry* entry, const Die& die);
    void read_lines(const DieTree& tree);
    void cover_lines(ScopeEntry* scope, uint64_t low, uint64_t high);
    bool read_file_names(LineProgramReader& program, const LineHeader& header);
    void leave_out(LeftOut kind);

    // Types (dwarf_model_types.cpp).
    // The type of an entry's DW_AT_type, built from the entries it names: null (and
    // told) when it is one the model cannot hold.
    Type* type_of(const DieTree& tree, const Die& die);
    Type* build_type(const DieTree* tree, const Die* die);
    bool push_node(Type* type, const DieTree& tree, const Die& die);
    bool push_qualifier(Type* type, const char* name);
    void push_void(Type* type);
    // The entry a reference names, in its unit or in the type unit of its signature.
    bool follow(const DieTree*& tree, const Die*& die, Die::Reference kind, uint64_t target);
    ScopeEntry* aggregate(const DieTree& tree, const Die& die);
    void fill_structure(const DieTree& tree, const Die& die, ScopeEntry* entry);
    void fill_enumeration(const DieTree& tree, const Die& die, ScopeEntry* entry);
    void finish_aggregates();
    bool basic_node(const Die& die, TypeNode* node);
    // The family's register whose location is that DWARF register; 0 when none.
    uint32_t register_of_dwarf(uint64_t number);

    Run& run_;
    SectionSet& sections_;
    const char* file_;
    bool with_types_;
    Abbreviations abbreviations_;
    bool said_[LEFT_COUNT] = {};
    ScopeEntry* module_ = nullptr;
    std::vector<std::string> file_names_; // of the unit's line-number program, by index
    uint32_t current_file_ = UINT32_MAX;  // the file index of the last filename entry
    std::string current_file_name_;
    // The unit's rows that begin statements (address, line), by address: the lines a
    // function's addresses cover are its scope's.
    std::vector<std::pair<uint64_t, uint32_t>> rows_;
    uint64_t unit_start_ = 0; // of the unit being read, for the references inside it
    // Structures, unions and enumerations made, by section and offset, and those whose
    // members are still to be read.
    // Where an entry lies: its section (and which one of its name) and its offset.
    struct Where {
        uint64_t section, offset;
        bool operator==(const Where& other) const {
            return section == other.section && offset == other.offset;
        }
    };
    struct WhereHash {
        size_t operator()(const Where& p) const {
            return std::hash<uint64_t>()(p.offset ^ (p.section << 48));
        }
    };
    static Where where(const DieTree& tree, const Die& die) {
        return {uint64_t(tree.section) << 32 | tree.instance, die.offset};
    }
    std::unordered_map<Where, ScopeEntry*, WhereHash> aggregates_;
    // Types built, by the entry that begins them (null for one the model cannot hold).
    std::unordered_map<Where, Type*, WhereHash> types_;
    std::vector<std::pair<const DieTree*, const Die*>> unfilled_;
    // The type units, by signature, read before the units that name them; the bytes of
    // each section of type units that an object file holds, kept while they are.
    std::unordered_map<uint64_t, std::unique_ptr<DieTree>> type_units_;
    std::vector<std::vector<uint8_t>> kept_;
};

} // namespace dwarf
