// The COFF writers' symbol-table builder, shared by the files that hold its parts:
// coff_writer.cpp (the section plan, the walk's start and end, each function's line
// records), coff_symbols.cpp (the scope walk: files, variables, functions, blocks) and
// coff_types.cpp (type words, structure tags, bit variables, labels). Internal to them.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/binio.h"
#include "common/options.h"
#include "formats/coff/coff_writer.h"
#include "model/store.h"
#include "model/type.h"

#include "model/run.h"

namespace coff_build {

constexpr uint32_t NONE = UINT32_MAX;
constexpr size_t NO_FUNCTION = SIZE_MAX;
constexpr int16_t SECTION_ABSOLUTE = -1;
constexpr int16_t SECTION_DEBUG = -2;

// A type word with what its auxiliary entry is to hold.
struct CoffType {
    uint32_t word = 0;
    bool has_aux = false;
    const ScopeEntry* structure = nullptr; // its tag index goes in bytes 0-3
    uint32_t size = 0;                     // bytes 6-7
    uint32_t dimensions[4] = {};           // outermost first
    unsigned rank = 0;                     // dimensions kept
    uint32_t structure_size = 0;           // size of the structure base
};

// A bit variable waiting for its group.
struct BitVariable {
    uint32_t address; // bit address
    std::string name;
};

// An auxiliary entry with a line (block and function markers) or a size.
inline CoffAux line_aux(uint32_t line) {
    CoffAux aux;
    aux.line = static_cast<uint16_t>(line);
    return aux;
}
inline CoffAux size_aux(uint32_t size) {
    CoffAux aux;
    aux.size = static_cast<uint16_t>(size);
    return aux;
}

// The symbol-entry list and the long-name list.
class SymbolTable {
  public:
    SymbolTable(Run& run, const CoffDialect& dialect, CoffImage& image)
        : run_(run), d_(dialect), image_(image), entries_(run_byte_order(run_.options)) {}

    uint32_t count() const { return image_.symbol_count; }

    // The string-table offset of a name, appending it when it is new.
    uint32_t long_name_offset(const std::string& name) {
        auto found = offsets_.find(name);
        if (found != offsets_.end()) return found->second;
        uint32_t offset = 4 + static_cast<uint32_t>(image_.long_names.size());
        image_.long_names += name;
        image_.long_names += '\0';
        offsets_.emplace(name, offset);
        return offset;
    }

    // A name field: in place when it fits, else in the string table; a missing name
    // gets the next generated ".u%d" name.
    void set_name(uint8_t* field, const std::string& name) {
        if (name.empty()) {
            std::string generated = ".u" + std::to_string(run_.coff.generated_names++);
            set_name_field(field, generated, long_name_offset_if_long(generated), entries_.order());
            return;
        }
        set_name_field(field, name, long_name_offset_if_long(name), entries_.order());
    }
    uint32_t long_name_offset_if_long(const std::string& name) {
        return name.size() > COFF_NAME_SIZE ? long_name_offset(name) : 0;
    }

    uint32_t add(const std::string& name, uint32_t value, int32_t section, uint32_t type,
                 int sclass, unsigned numaux) {
        CoffSymbol symbol;
        set_name(symbol.name, name);
        symbol.value = value;
        symbol.scnum = static_cast<int16_t>(section);
        symbol.type = type;
        symbol.sclass = static_cast<int8_t>(sclass);
        symbol.numaux = static_cast<uint8_t>(numaux);
        uint32_t index = append();
        entries_.patch_record(offset(index), symbol, d_.type_width);
        return index;
    }

    // An auxiliary entry holding the record (the rest of its room zero).
    template <class Aux> uint32_t add_aux(const Aux& aux) {
        uint32_t index = append();
        entries_.patch_record(offset(index), aux);
        return index;
    }

    // Changes an auxiliary entry seen through the layout Aux.
    template <class Aux, class Change> void update(uint32_t index, Change change) {
        entries_.update_record<Aux>(offset(index), change);
    }

    void drop_last(uint32_t entries) {
        image_.symbol_count -= entries;
        entries_.resize(offset(image_.symbol_count));
    }

    // Hands the entries to the image.
    void finish() { image_.symbols = entries_.take(); }

  private:
    size_t offset(uint32_t index) const { return size_t(index) * d_.entry_size(); }
    uint32_t append() {
        entries_.zeros(d_.entry_size());
        return image_.symbol_count++;
    }

    Run& run_;
    const CoffDialect& d_;
    CoffImage& image_;
    ByteWriter entries_;
    std::unordered_map<std::string, uint32_t> offsets_;
};

// The section plan: one bss section per data segment (Microchip: after the absolute
// section), then one text section per data block.
void plan_sections(Run& run, const CoffDialect& d, CoffImage& image, SymbolTable& symbols);

// The scope walk and everything it writes.
class Builder {
  public:
    Builder(Run& run, const CoffDialect& dialect)
        : run_(run), d_(dialect), symbols_(run, dialect, image_) {}

    CoffImage build();

  private:
    // One scope being walked (a module, function or block).
    struct Level {
        const ScopeEntry* scope;
        uint32_t open_aux = NONE;       // aux of its ".bb" or (generic functions) ".bf"
        uint32_t last_block_aux = NONE; // aux of the ".bb" of its last inner block
        size_t function = NO_FUNCTION;  // the enclosing function's place in the list
        uint32_t bf_aux = NONE;         // Microchip functions: aux of the ".bf"
    };

    void walk_module(const ScopeEntry* module);
    bool enter(const ScopeEntry* entry, const ScopeEntry* holder);
    void leave(const ScopeEntry* scope);

    void file_entry(const std::string& name);
    void close_file();
    void variable(const ScopeEntry* entry, const ScopeEntry* holder);
    void local(const ScopeEntry* entry, const ScopeEntry* holder);
    void begin_block(const ScopeEntry* block);
    void end_block(const ScopeEntry* block);
    uint32_t add_block_marker(const char* name, size_t function, uint32_t line);
    void begin_function(const ScopeEntry* scope, const ScopeEntry* holder);
    void end_function(const ScopeEntry* scope);
    uint32_t write_variable(const ScopeEntry* entry, ValuePair at);

    CoffType convert(const Type* type) const;
    uint32_t basic_word(const TypeNode& node) const;
    uint32_t add_typed(const std::string& name, uint32_t value, int32_t section,
                       const CoffType& type, int sclass);
    void ensure_tag(const ScopeEntry* structure);
    void write_tag(const ScopeEntry* structure);
    void end_of_structure(uint32_t tag, uint32_t tag_aux, uint32_t size);

    void group_bit_variables();
    void plain_labels();
    void assembler_files();
    void gather_lines();

    // The name an entry is written with: -m takes one leading underscore off (Microchip).
    const std::string& visible_name(const std::string& name) {
        if (!d_.honours_strip_underscore || !run_.options.strip_underscore || name.empty() ||
            name[0] != '_')
            return name;
        stripped_.assign(name, 1, std::string::npos);
        return stripped_;
    }
    std::string file_name_for(const std::string& name) const;
    SymbolRecord* symbol_for(const char* prefix, const ScopeEntry* entry,
                             const ScopeEntry* holder) const;
    void mark_described(const std::string& name) const {
        if (SymbolRecord* symbol = find_symbol(run_, name.c_str())) symbol->flags |= SYM_DESCRIBED;
    }
    void set_next(uint32_t aux, uint32_t index) {
        if (aux != NONE)
            symbols_.update<CoffAuxLinks>(aux, [index](CoffAuxLinks& a) { a.next_index = index; });
    }

    Run& run_;
    const CoffDialect& d_;
    CoffImage image_;
    SymbolTable symbols_;
    std::vector<Level> levels_;
    std::unordered_map<const ScopeEntry*, uint32_t> entry_index_; // written functions
    std::unordered_map<const ScopeEntry*, uint32_t> tag_index_;
    std::unordered_map<const ScopeEntry*, std::vector<uint32_t>> pending_; // aux to patch
    uint32_t previous_bf_aux_ = NONE;
    // Microchip: the open ".file" entry and what find_file's record held before it.
    uint32_t open_file_ = NONE;
    FileRecord* open_file_record_ = nullptr;
    uint32_t open_file_previous_index_ = 0;
    std::vector<BitVariable> bits_;
    std::string stripped_; // the last name visible_name cut
};

} // namespace coff_build
