// The COFF symbol-table builder's scope walk: a module's files, variables, functions
// and blocks, with their markers and auxiliary entries.
#include "formats/coff/coff_builder.h"

#include <algorithm>
#include <cstring>

#include "common/alert.h"
#include "common/osdep.h"
#include "formats/coff/coff.h"
#include "model/machine.h"
#include "model/run.h"

namespace coff_build {

void Builder::walk_module(const ScopeEntry* module) {
    levels_.assign(1, Level{module, NONE, NONE, NO_FUNCTION, NONE});
    walk_scope(
        module, [this](const ScopeEntry* e, const ScopeEntry* holder) { return enter(e, holder); },
        [this](const ScopeEntry* scope) { leave(scope); });
    levels_.clear();
}

bool Builder::enter(const ScopeEntry* entry, const ScopeEntry* holder) {
    switch (entry->sclass) {
    case SC_FILENAME: file_entry(entry->name); return false;
    case SC_EXTERN:
    case SC_STATIC: variable(entry, holder); return false;
    case SC_PARAM:
        // Parameters of functions written by their scopes came after ".bf".
        if (d_.scoped_functions && holder->sclass == SC_FUNC) return false;
        local(entry, holder);
        return false;
    case SC_AUTO:
    case SC_REG: local(entry, holder); return false;
    case SC_BLOCK: begin_block(entry); return true;
    case SC_FUNC: begin_function(entry, holder); return true;
    default: return false;
    }
}

void Builder::leave(const ScopeEntry* scope) {
    if (scope->sclass == SC_FUNC)
        end_function(scope);
    else
        end_block(scope);
    levels_.pop_back();
}

// File names written the Windows way, after --pathspec=.
std::string Builder::file_name_for(const std::string& name) const {
    if (!d_.windows_file_names) return name;
    std::string written = apply_pathspec(run_.options, name);
    std::replace(written.begin(), written.end(), '/', '\\');
    return written;
}

void Builder::file_entry(const std::string& name) {
    close_file();
    uint32_t index = symbols_.add(".file", 0, SECTION_DEBUG, 0, CLASS_FILE, 1);
    std::string written = file_name_for(name);
    if (d_.file_aux_offset) {
        MicrochipAuxFile aux;
        aux.name_offset = symbols_.long_name_offset(written);
        symbols_.add_aux(aux);
    } else {
        CoffAuxFileName aux;
        symbols_.set_name(aux.name, written);
        symbols_.add_aux(aux);
    }
    FileRecord* record = find_file(run_, name.c_str());
    if (d_.end_of_file_entries) {
        open_file_ = index;
        open_file_record_ = record;
        open_file_previous_index_ = record ? record->output_index : 0;
    }
    if (record) record->output_index = index;
}

// A file that produced nothing after its ".file" entry is taken out again; any other
// ends with ".eof".
void Builder::close_file() {
    if (open_file_ == NONE) return;
    if (symbols_.count() == open_file_ + 2) {
        symbols_.drop_last(2);
        if (open_file_record_) open_file_record_->output_index = open_file_previous_index_;
    } else {
        symbols_.add(".eof", 0, 0, 0, CLASS_END_OF_FILE, 0);
    }
    open_file_ = NONE;
    open_file_record_ = nullptr;
}

// The store symbol prefix + the entry's name: for a static, in the file named by the
// holding scope, else anywhere.
SymbolRecord* Builder::symbol_for(const char* prefix, const ScopeEntry* entry,
                                  const ScopeEntry* holder) const {
    std::string name = std::string(prefix) + entry->name;
    if (name.size() > 127) name.resize(127);
    if (entry->sclass == SC_STATIC)
        return find_file_symbol(run_, holder->name.c_str(), name.c_str());
    return find_symbol(run_, name.c_str());
}

void Builder::variable(const ScopeEntry* entry, const ScopeEntry* holder) {
    // Functions written by their scopes are not written here too.
    if (d_.scoped_functions && is_function_type(entry->type)) return;
    ValuePair at;
    if (!variable_location(run_, const_cast<ScopeEntry*>(entry), holder, &at)) return;
    if (d_.grouped_bits) {
        TypeRef base(entry->type, 0);
        if (base && base.kind() == TYPE_BASIC && base.node().value == BASIC_BIT) {
            bool alias = entry->sclass == SC_STATIC && !entry->asm_name().empty();
            bits_.push_back({at.value, alias ? entry->asm_name() : entry->name});
            return;
        }
    }
    bool function = is_function_type(entry->type);
    if (d_.entry_starts && function)
        if (const SymbolRecord* start = symbol_for("entry$", entry, holder))
            at.value = start->value;
    uint32_t index = write_variable(entry, at);
    // Line-number markers name a function's entry.
    if (function) entry_index_[entry] = index;
}

// An extern or static variable's entry (functions included) at its location; NONE when
// the Microchip rules leave it out.
uint32_t Builder::write_variable(const ScopeEntry* entry, ValuePair at) {
    CoffType type = convert(entry->type);
    ensure_tag(type.structure);
    if (d_.variable_type_checks) {
        if (type.word == BASE_DOUBLE && entry->defined == d_.sizes[BASE_FLOAT] &&
            d_.sizes[BASE_FLOAT] != d_.sizes[BASE_DOUBLE])
            type.word = BASE_FLOAT;
        if (type_derived(type.word, 0, *d_.type_words) == DERIVED_ARRAY &&
            (type.size & 0xFFFF) == 0)
            return NONE;
    }
    int sclass = entry->sclass == SC_STATIC ? CLASS_STATIC
                 : entry->defined           ? CLASS_EXTERNAL
                                            : CLASS_EXTERNAL_DEFINITION;
    int32_t section = image_.section_of(run_, at.value, at.segment);
    uint32_t index = add_typed(visible_name(entry->name), at.value, section, type, sclass);
    mark_described(entry->name);
    return index;
}

void Builder::local(const ScopeEntry* entry, const ScopeEntry* holder) {
    ValuePair at;
    if (!variable_location(run_, const_cast<ScopeEntry*>(entry), holder, &at)) return;
    CoffType type = convert(entry->type);
    ensure_tag(type.structure);
    if (d_.locals_as_statics) {
        add_typed(visible_name(entry->name), at.value,
                  image_.section_of(run_, at.value, at.segment), type, CLASS_STATIC);
        return;
    }
    int sclass = entry->sclass == SC_AUTO    ? CLASS_AUTOMATIC
                 : entry->sclass == SC_PARAM ? CLASS_ARGUMENT
                                             : CLASS_REGISTER;
    add_typed(entry->name, at.value, SECTION_ABSOLUTE, type, sclass);
}

// A ".bb" or ".eb" entry, then its auxiliary entry with the line; answers the entry's
// index. The Microchip writer places it at the start and in the section of its function
// (0 outside any), the generic one at 0 in the debug section.
uint32_t Builder::add_block_marker(const char* name, size_t function, uint32_t line) {
    uint32_t value = 0;
    int32_t section = SECTION_DEBUG;
    if (d_.scoped_functions) {
        section = 0;
        if (function != NO_FUNCTION) {
            value = image_.functions[function].start;
            section = image_.functions[function].section;
        }
    }
    uint32_t index = symbols_.add(name, value, section, 0, CLASS_BLOCK, 1);
    symbols_.add_aux(line_aux(line));
    return index;
}

void Builder::begin_block(const ScopeEntry* block) {
    Level& outer = levels_.back();
    uint32_t index = add_block_marker(".bb", outer.function, block->scope().first_line);
    uint32_t aux = index + 1;
    // Blocks of functions not written by their scopes link each ".bb" of one level to
    // the next one.
    if (!d_.scoped_functions) {
        set_next(outer.last_block_aux, index);
        outer.last_block_aux = aux;
    }
    levels_.push_back(Level{block, aux, NONE, outer.function, NONE});
}

void Builder::end_block(const ScopeEntry* block) {
    const Level& level = levels_.back();
    uint32_t index = add_block_marker(".eb", level.function, block->scope().last_line);
    uint32_t aux = index + 1;
    if (d_.scoped_functions) {
        set_next(level.open_aux, aux);
    } else {
        set_next(level.open_aux, index);
        set_next(level.last_block_aux, index);
    }
}

void Builder::begin_function(const ScopeEntry* scope, const ScopeEntry* holder) {
    CoffFunction function;
    function.scope = scope;
    function.entry = scope->scope().function;
    ValuePair at;
    bool located = function.entry &&
                   variable_location(run_, const_cast<ScopeEntry*>(function.entry), holder, &at);
    if (!located && function.entry)
        at = {function.entry->location_value, function.entry->location_segment};
    if (d_.entry_starts && function.entry)
        if (const SymbolRecord* start = symbol_for("entry$", function.entry, holder))
            at.value = start->value;
    function.start = at.value;
    function.section = image_.section_of(run_, at.value, at.segment);
    if (d_.scoped_functions && located) {
        uint32_t index = write_variable(function.entry, at);
        if (index != NONE) entry_index_[function.entry] = index;
    }
    image_.functions.push_back(function);
    size_t number = image_.functions.size() - 1;

    int32_t section = d_.scoped_functions ? function.section : SECTION_DEBUG;
    uint32_t bf = symbols_.add(".bf", function.start, section, 0, CLASS_FUNCTION, 1);
    uint32_t bf_aux = symbols_.add_aux(line_aux(scope->scope().first_line));
    if (!d_.scoped_functions) {
        set_next(previous_bf_aux_, bf);
        previous_bf_aux_ = bf_aux;
        if (d_.frame_pointer_entries)
            symbols_.add("___FP", 15, SECTION_ABSOLUTE, BASE_INT, CLASS_REGISTER, 0);
        levels_.push_back(Level{scope, bf_aux, NONE, number, NONE});
        return;
    }
    for (const ScopeEntry* entry : scope->scope().entries)
        if (entry->sclass == SC_PARAM) local(entry, scope);
    // The body is one block.
    symbols_.add(".bb", function.start, section, 0, CLASS_BLOCK, 1);
    uint32_t bb_aux = symbols_.add_aux(line_aux(scope->scope().first_line));
    levels_.push_back(Level{scope, bb_aux, NONE, number, bf_aux});
}

void Builder::end_function(const ScopeEntry* scope) {
    const Level& level = levels_.back();
    CoffFunction& function = image_.functions[level.function];
    uint32_t value = function.start;
    if (function.entry) {
        const ScopeEntry* holder = scope->scope().parent ? scope->scope().parent : scope;
        const SymbolRecord* end = nullptr;
        if (d_.scoped_functions) {
            std::string name = "__end_of" + function.entry->name;
            if (name.size() > 127) name.resize(127);
            end = find_symbol(run_, name.c_str());
        } else {
            end = symbol_for("__end_of", function.entry, holder);
        }
        if (end) value = end->value - 1;
    }
    int32_t section = d_.scoped_functions ? function.section : SECTION_DEBUG;
    if (d_.scoped_functions) {
        symbols_.add(".eb", function.start, section, 0, CLASS_BLOCK, 1);
        uint32_t eb_aux = symbols_.add_aux(line_aux(scope->scope().last_line));
        set_next(level.open_aux, eb_aux);
        symbols_.add(".ef", value, section, 0, CLASS_FUNCTION, 1);
        uint32_t ef_aux = symbols_.add_aux(line_aux(scope->scope().last_line));
        set_next(level.bf_aux, ef_aux);
    } else {
        uint32_t ef = symbols_.add(".ef", value, section, 0, CLASS_FUNCTION, 1);
        symbols_.add_aux(line_aux(scope->scope().last_line));
        set_next(level.last_block_aux, ef);
    }
    auto found = function.entry ? entry_index_.find(function.entry) : entry_index_.end();
    function.symbol_index = found != entry_index_.end() ? found->second : 0;
}

} // namespace coff_build
