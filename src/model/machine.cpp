#include "model/machine.h"

#include <cstring>
#include <string>
#include <vector>

#include "common/alert.h"
#include "common/options.h"
#include "common/osdep.h"
#include "model/encdec.h"
#include "model/run.h"

namespace {

const ProcessorDescriptor* const PROCESSORS[] = {
    &pic_processor,   &pic18_processor, &dspic_processor,  &pic32_processor,
    &i8051_processor, &arm_processor,   &holtek_processor,
};

const unsigned MAX_OPTION_WORDS = 49;

// The option words of a side file's first line, up to a word "]".
std::vector<std::string> option_words(const char* text) {
    std::vector<std::string> words;
    const char* p = text ? text : "";
    while (words.size() < MAX_OPTION_WORDS) {
        while (*p == ' ' || *p == '\t')
            ++p;
        if (!*p) break;
        const char* start = p;
        while (*p && *p != ' ' && *p != '\t')
            ++p;
        std::string word(start, p);
        if (word == "]") break;
        words.push_back(std::move(word));
    }
    return words;
}

bool knows_all_options(const ProcessorDescriptor* processor,
                       const std::vector<std::string>& words) {
    for (const std::string& word : words) {
        bool known = false;
        for (const char* const* option = processor->options; *option && !known; ++option)
            known = stricmp_portable(*option, word.c_str()) == 0;
        if (!known) return false;
    }
    return true;
}

const ProcessorDescriptor* processor_by_name(Run& run) {
    const char* name = run.options.processor_name.c_str();
    if (!*name) return nullptr;
    for (const ProcessorDescriptor* processor : PROCESSORS)
        if (processor->matches_name(run, name)) return processor;
    return nullptr;
}

const ProcessorDescriptor* processor_by_options(Run& run, const char* text) {
    std::vector<std::string> words = option_words(text);
    const ProcessorDescriptor* chosen = nullptr;
    unsigned candidates = 0;
    for (const ProcessorDescriptor* processor : PROCESSORS)
        if (knows_all_options(processor, words)) {
            if (!chosen) chosen = processor;
            ++candidates;
        }
    if (candidates == 1) return chosen;
    message(run.messages, candidates == 0 ? 668 : 669);
    return nullptr;
}

// The function scope around a scope, through its blocks; null when there is none.
const ScopeEntry* function_scope(const ScopeEntry* scope) {
    while (scope && scope->sclass == SC_BLOCK)
        scope = scope->scope().parent;
    return scope && scope->sclass == SC_FUNC ? scope : nullptr;
}

bool keep_location(ScopeEntry* entry, ValuePair pair, ValuePair* answer) {
    entry->location_value = pair.value;
    entry->location_segment = pair.segment;
    entry->flags |= ENTRY_LOCATED;
    *answer = pair;
    return true;
}

bool locate_static(Run& run, const ScopeEntry* entry, const ScopeEntry* scope, ValuePair* pair,
                   const LocationRules& rules) {
    if (!entry->asm_name().empty()) return lookup_symbol(run, entry->asm_name().c_str(), pair);
    if (entry->sclass == SC_STATIC && rules.static_in_scope_file && scope &&
        lookup_file_symbol(run, scope->name.empty() ? nullptr : scope->name.c_str(),
                           entry->name.c_str(), pair))
        return true;
    return lookup_symbol(run, entry->name.c_str(), pair);
}

const char* auto_symbol_prefix(Run& run, const LocationRules& rules) {
    if (rules.auto_prefix) return rules.auto_prefix;
    const std::string* edition = find_define(run, "edition");
    return edition && *edition == "pro" ? "??" : "?a";
}

bool locate_frame(Run& run, const ScopeEntry* entry, const ScopeEntry* scope, ValuePair* pair,
                  const LocationRules& rules) {
    const ScopeEntry* function = function_scope(scope);
    if (!function) return false;
    bool is_auto = entry->sclass == SC_AUTO;
    if (rules.frame_from_numbers) {
        pair->value =
            static_cast<uint32_t>(function->scope().numbers[is_auto ? 1 : 3]) + entry->value;
        pair->segment = 0;
        return true;
    }
    if (!function->scope().function) return false;
    std::string symbol = std::string(is_auto ? auto_symbol_prefix(run, rules) : "?") +
                         function->scope().function->name;
    ValuePair frame;
    if (!lookup_symbol(run, symbol.c_str(), &frame)) return false;
    pair->value = frame.value + entry->value;
    pair->segment = frame.segment;
    return true;
}

// A variable's location by the family's rules; kept in the entry once found.
bool locate_variable(Run& run, ScopeEntry* entry, const ScopeEntry* scope, ValuePair* answer,
                     const LocationRules& rules) {
    if (!entry) return false;
    ValuePair pair;
    switch (entry->sclass) {
    case SC_EXTERN:
    case SC_STATIC:
    case SC_AUTO:
    case SC_PARAM: {
        if (entry->flags & ENTRY_LOCATED) {
            *answer = {entry->location_value, entry->location_segment};
            return true;
        }
        bool found = entry->sclass == SC_EXTERN || entry->sclass == SC_STATIC
                         ? locate_static(run, entry, scope, &pair, rules)
                         : locate_frame(run, entry, scope, &pair, rules);
        return found && keep_location(entry, pair, answer);
    }
    case SC_REG:
        return rules.register_location && rules.register_location(run, entry->value, answer);
    default: return false;
    }
}

// The size of the pointer whose node is the one referred to.
uint32_t pointer_size(TypeRef pointer, const SizeRules& rules) {
    if (rules.qualified_flags == 0) return rules.pointer_size;
    TypeRef inside = pointer.inner();
    bool qualified =
        inside.kind() == TYPE_QUALIFIER && (inside.node().value & rules.qualified_flags) != 0;
    return qualified ? rules.qualified_pointer_size : rules.pointer_size;
}

// The size of a type by the family's rules.
uint32_t sized_type(TypeRef node, const SizeRules& rules) {
    uint32_t elements = 1;
    for (TypeRef at = node; at; at = at.inner()) {
        const TypeNode& n = at.node();
        switch (n.kind) {
        case TYPE_BASIC: return elements * n.extra;
        case TYPE_POINTER: return elements * pointer_size(at, rules);
        case TYPE_ENUM: return n.entry ? elements * n.entry->aggregate().base_size : 0;
        case TYPE_STRUCT: return n.entry ? elements * n.entry->aggregate().size : 0;
        case TYPE_ARRAY: elements *= n.value; break;
        default: return 0;
        }
    }
    return 0;
}

} // namespace

bool select_processor(Run& run, const char* text) {
    if (run.machine.selection_done) return true;
    const ProcessorDescriptor* chosen = processor_by_name(run);
    if (!chosen) chosen = processor_by_options(run, text);
    if (!chosen) return false;
    select_family(run, chosen);
    return true;
}

bool select_processor_by_name(Run& run) {
    if (run.machine.selection_done) return true;
    const ProcessorDescriptor* chosen = processor_by_name(run);
    if (chosen) select_family(run, chosen);
    return chosen != nullptr;
}

void select_family(Run& run, const ProcessorDescriptor* family) {
    if (run.machine.selection_done) return;
    run.machine.selected = family;
    create_global_scope(run);
    run.machine.selection_done = true;
}

const ProcessorDescriptor* selected_processor(Run& run) {
    return run.machine.selected;
}

bool processor_has_option(Run& run, const char* word) {
    if (!run.machine.selected || !word) return false;
    for (const char* const* option = run.machine.selected->options; *option; ++option)
        if (strcmp(*option, word) == 0) return true;
    return false;
}

uint32_t find_register(Run& run, const char* name) {
    if (!run.machine.selected || !name || !*name) return 0;
    for (uint32_t k = 1; k < run.machine.selected->register_count; ++k)
        if (strcmp(run.machine.selected->registers[k], name) == 0) return k;
    return 0;
}

const char* register_name(Run& run, uint32_t number) {
    if (!run.machine.selected || number == 0 || number >= run.machine.selected->register_count)
        return "";
    return run.machine.selected->registers[number];
}

bool variable_location(Run& run, ScopeEntry* entry, const ScopeEntry* scope, ValuePair* answer) {
    return run.machine.selected &&
           locate_variable(run, entry, scope, answer, run.machine.selected->variable_location);
}

uint32_t type_size(Run& run, TypeRef node) {
    return run.machine.selected ? sized_type(node, run.machine.selected->type_size) : 0;
}

bool segment_space(Run& run, const char* name, uint32_t* space) {
    const SegmentRecord* segment = find_segment(run, name);
    if (!segment) return false;
    *space = segment->space;
    return true;
}

bool name_contains_nocase(const char* name, const char* pattern) {
    return find_text_nocase(name, pattern) != nullptr;
}

bool name_contains(const char* name, const char* pattern) {
    return strstr(name, pattern) != nullptr;
}

uint32_t dwarf_register(Run& run, uint32_t location) {
    return selected_processor(run) == &pic32_processor ? mips_dwarf_register(location) : location;
}

uint32_t register_of_dwarf(Run& run, uint32_t number) {
    const ProcessorDescriptor* p = run.machine.selected;
    if (!p || !p->variable_location.register_location) return 0;
    for (uint32_t n = 1; n < p->register_count; ++n) {
        ValuePair at;
        if (p->variable_location.register_location(run, n, &at) &&
            dwarf_register(run, at.value) == number)
            return n;
    }
    return 0;
}
