#include "model/type.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "model/machine.h"
#include "model/run.h"

namespace {

const char* const CLASS_NAMES[] = {"null",  "extern",  "global", "static", "auto",
                                   "param", "typedef", "module", "line",   "block",
                                   "func",  "reg",     "struct", "enum",   "filename"};

// The key of a name's chain: a leading "_" does not count when something follows it,
// so "_x" and "x" share a chain.
std::string_view chain_key(std::string_view name) {
    if (name.size() > 1 && name[0] == '_') name.remove_prefix(1);
    return name;
}

const ChainEnds* find_chain(const ScopeEntry* scope, std::string_view name) {
    if (!scope->scope().chains) return nullptr;
    auto found = scope->scope().chains->find(chain_key(name));
    return found == scope->scope().chains->end() ? nullptr : &found->second;
}

bool is_upper(char c) {
    return isupper(static_cast<unsigned char>(c)) != 0;
}
bool is_lower(char c) {
    return islower(static_cast<unsigned char>(c)) != 0;
}
bool is_digit(char c) {
    return isdigit(static_cast<unsigned char>(c)) != 0;
}

TypeNode make_node(uint32_t kind, std::string text, uint32_t value) {
    TypeNode node;
    node.kind = kind;
    node.text = std::move(text);
    node.value = value;
    return node;
}

std::string array_text(uint32_t count) {
    char text[32];
    snprintf(text, sizeof text, "[%lu]", static_cast<unsigned long>(count));
    return text;
}

// One prefix of a type string, applied after the rest of the string is parsed.
struct TypePrefix {
    uint32_t kind;
    std::string text; // pointer text
    uint32_t value;   // pointer mark, array count
    char letter;      // qualifier
};

// The type a type string's name gives, or null.
Type* type_of_name(Run& run, const char* name) {
    if (!(*name == '_' || is_lower(*name) || (is_upper(name[0]) && is_digit(name[1])))) {
        fprintf(stderr, "Encountered type string %s\n", name);
        return nullptr;
    }
    ScopeEntry* entry = find_type_name(run, name);
    if (!entry) {
        if (!is_upper(*name)) return nullptr;
        entry = new_entry(run, *name == 'E' ? SC_ENUM : SC_STRUCT);
        entry->name = name;
        entry->line = run.type_model.current_line;
        add_entry(run, entry);
        chain_entry(run, run.type_model.current_scope, entry);
    }
    if (entry->sclass == SC_STRUCT || entry->sclass == SC_ENUM) {
        Type* type = new_type(run);
        TypeNode node = make_node(entry->sclass == SC_STRUCT ? TYPE_STRUCT : TYPE_ENUM, name, 0);
        node.entry = entry;
        type->push(run, std::move(node));
        return type;
    }
    if (!entry->type || entry->type->empty()) return nullptr;
    return copy_type(run, entry->type);
}

void apply_qualifier(Run& run, Type* type, char letter) {
    if (type->empty() || type->outermost().kind != TYPE_QUALIFIER)
        type->push(run, make_node(TYPE_QUALIFIER, "", 0));
    TypeNode& node = type->own_outermost(run);
    const ProcessorDescriptor* processor = selected_processor(run);
    const QualifierInfo* found = nullptr;
    if (processor)
        for (const QualifierInfo* q = processor->qualifiers; q->letter; ++q)
            if (q->letter == letter) {
                found = q;
                break;
            }
    if (found)
        node.value |= found->flags;
    else
        fprintf(stderr, "Unknown qualifier %c\n", letter);
    node.text.insert(node.text.begin(), letter);
    if (node.text.size() > 15) node.text.resize(15);
}

} // namespace

const char* storage_class_name(uint32_t sclass) {
    return sclass < 15 ? CLASS_NAMES[sclass] : nullptr;
}

const ScopePart ScopeEntry::empty_scope;
const AggregatePart ScopeEntry::empty_aggregate;
const std::string ScopeEntry::empty_name;

ScopeEntry* new_entry(Run& run, uint32_t sclass) {
    ScopeEntry& entry = run.type_model.entry_pool.emplace_back();
    entry.sclass = sclass;
    return &entry;
}

Type* new_type(Run& run) {
    return &run.type_model.type_pool.emplace_back();
}

Type* copy_type(Run& run, const Type* type) {
    Type* copy = new_type(run);
    if (type) *copy = *type;
    return copy;
}

void Type::push(Run& run, TypeNode node) {
    TypeLink& link = run.type_model.link_pool.emplace_back();
    link.node = std::move(node);
    link.inner = outer;
    outer = &link;
    if (!base_link) base_link = &link;
    ++nodes;
}

TypeNode& Type::own_outermost(Run& run) {
    TypeLink& copy = run.type_model.link_pool.emplace_back(*outer);
    if (base_link == outer) base_link = &copy;
    outer = &copy;
    return copy.node;
}

std::vector<const TypeNode*> Type::base_first() const {
    std::vector<const TypeNode*> out(nodes);
    size_t k = nodes;
    for (const TypeLink* at = outer; at && k > 0; at = at->inner)
        out[--k] = &at->node;
    return out;
}

TypeRef::TypeRef(const Type* whole, int32_t node_index) : type(whole), index(node_index) {
    if (!whole || node_index < 0 || node_index >= static_cast<int32_t>(whole->nodes)) return;
    link = whole->outer;
    for (int32_t k = static_cast<int32_t>(whole->nodes) - 1; k > node_index; --k)
        link = link->inner;
}

ScopeEntry* new_scope(Run& run, uint32_t sclass) {
    ScopeEntry* scope = new_entry(run, sclass);
    ScopePart& part = scope->make_scope();
    part.first_line = part.last_line = run.type_model.current_line;
    part.file_name = run.type_model.current_file_name;
    part.parent = run.type_model.current_scope;
    if (part.parent) part.parent_count = part.parent->entry_count();
    return scope;
}

void create_global_scope(Run& run) {
    ScopeEntry* global = new_entry(run, SC_MODULE);
    run.type_model.global_scope = global;
    run.type_model.current_scope = global;
    const ProcessorDescriptor* processor = selected_processor(run);
    if (!processor) return;
    for (const BasicTypeInfo* basic = processor->basic_types; basic->name; ++basic) {
        ScopeEntry* entry = new_entry(run, SC_TYPEDEF);
        entry->name = basic->name;
        entry->type = new_type(run);
        TypeNode node = make_node(TYPE_BASIC, basic->name, basic->basic_class);
        node.extra = basic->size;
        entry->type->push(run, std::move(node));
        add_entry(run, entry);
        chain_entry(run, global, entry);
    }
}

void add_entry(Run& run, ScopeEntry* entry) {
    ScopeEntry* scope = run.type_model.current_scope;
    if (scope) scope->make_scope().entries.push_back(entry);
}

void chain_entry(Run& run, ScopeEntry* scope, ScopeEntry* entry) {
    if (!scope || entry->name.empty()) return;
    if (!scope->scope().chains) scope->make_scope().chains = std::make_unique<ScopeChains>();
    std::string_view key = chain_key(entry->name);
    ChainEnds& ends = (*scope->scope().chains)[key];
    if (!ends.listed) {
        ends.listed = true;
        run.type_model.scopes_with_key[key].push_back(scope);
    }
    entry->next = nullptr;
    if (ends.last)
        ends.last->next = entry;
    else
        ends.first = entry;
    ends.last = entry;
    const bool underscored = key.size() != entry->name.size();
    if (!ends.first_of[underscored]) ends.first_of[underscored] = entry;
    ends.latest[underscored] = entry;
}

ScopeEntry* add_filename_entry(Run& run, ScopeEntry* scope, const std::string& name,
                               uint32_t line) {
    ScopeEntry* entry = new_entry(run, SC_FILENAME);
    entry->name = name;
    entry->line = line;
    if (scope) scope->make_scope().entries.push_back(entry);
    return entry;
}

const std::string* find_define(Run& run, const std::string& name) {
    if (!run.type_model.defines) return nullptr;
    return run.type_model.defines->find(name);
}

Type* parse_type(Run& run, const char* text) {
    const char* p = text;
    std::vector<TypePrefix> prefixes;
    for (;;) {
        if (*p == '`') {
            ++p;
        } else if (*p == '(') {
            prefixes.push_back({TYPE_FUNCTION, "", 0, 0});
            ++p;
        } else if (*p == '*') {
            if (p[1] == '.' && p[2] != '\0') {
                prefixes.push_back({TYPE_POINTER, std::string(p, 3), '.', 0});
                p += 3;
            } else {
                prefixes.push_back({TYPE_POINTER, "*", 0, 0});
                ++p;
            }
        } else if (*p == '[') {
            uint32_t count = 0;
            for (++p; is_digit(*p); ++p)
                count = count * 10 + static_cast<uint32_t>(*p - '0');
            if (*p == ']') ++p;
            prefixes.push_back({TYPE_ARRAY, "", count, 0});
        } else if (is_upper(*p) && !is_digit(p[1])) {
            prefixes.push_back({TYPE_QUALIFIER, "", 0, *p});
            ++p;
        } else {
            break;
        }
    }
    Type* type = type_of_name(run, p);
    if (!type) return nullptr;
    // The first prefix of the string is the outermost node.
    for (size_t k = prefixes.size(); k-- > 0;) {
        const TypePrefix& prefix = prefixes[k];
        switch (prefix.kind) {
        case TYPE_FUNCTION: type->push(run, make_node(TYPE_FUNCTION, "(", 0)); break;
        case TYPE_POINTER:
            type->push(run, make_node(TYPE_POINTER, prefix.text, prefix.value));
            break;
        case TYPE_ARRAY:
            type->push(run, make_node(TYPE_ARRAY, array_text(prefix.value), prefix.value));
            break;
        default: apply_qualifier(run, type, prefix.letter); break;
        }
    }
    return type;
}

void print_type(Run& run, const Type* type, FILE* out) {
    if (!type) return;
    static const char CLASS_LETTERS[] = "viufb";
    for (TypeRef at(type); at; at = at.inner()) {
        const TypeNode& node = at.node();
        switch (node.kind) {
        case TYPE_BASIC:
            if (node.value < 5) fputc(CLASS_LETTERS[node.value], out);
            fprintf(out, "%d", node.extra);
            return;
        case TYPE_FUNCTION: fputc('(', out); break;
        case TYPE_POINTER: fputc('*', out); break;
        case TYPE_STRUCT: {
            const ScopeEntry* s = node.entry;
            const std::string& name = !s                            ? node.text
                                      : !s->aggregate().tag.empty() ? s->aggregate().tag
                                                                    : s->name;
            fprintf(out, "struct %s", name.c_str());
            break;
        }
        case TYPE_ARRAY: fprintf(out, "[%lu]", static_cast<unsigned long>(node.value)); break;
        case TYPE_QUALIFIER:
            if (const ProcessorDescriptor* processor = selected_processor(run))
                for (const QualifierInfo* q = processor->qualifiers; q->letter; ++q)
                    if (q->flags & node.value) fprintf(out, "%s ", q->name);
            break;
        default: fputs("Unknown type", out); break;
        }
    }
}

namespace {

// The first node that is not a qualifier, from the outermost inwards.
TypeRef skip_qualifiers(const Type* type) {
    TypeRef at(type);
    while (at && at.kind() == TYPE_QUALIFIER)
        at = at.inner();
    return at;
}

} // namespace

bool is_function_type(const Type* type) {
    return skip_qualifiers(type).kind() == TYPE_FUNCTION;
}

bool is_bit_type(const Type* type) {
    TypeRef at = skip_qualifiers(type);
    return at.kind() == TYPE_BASIC && at.node().value == BASIC_BIT;
}

namespace {

// The latest entry named exactly name among the first `before` entries of the scope,
// blocks and modules left out.
ScopeEntry* latest_named_before(ScopeEntry* scope, std::string_view name, uint32_t before) {
    if (!scope->scope().positions)
        scope->make_scope().positions = std::make_unique<ScopePositions>();
    ScopePositions& p = *scope->scope().positions;
    for (; p.indexed < scope->entry_count(); ++p.indexed) {
        const ScopeEntry* e = scope->scope().entries[p.indexed];
        if (e->sclass != SC_BLOCK && e->sclass != SC_MODULE && !e->name.empty())
            p.by_name[e->name].push_back(p.indexed);
    }
    auto found = p.by_name.find(std::string(name));
    if (found == p.by_name.end()) return nullptr;
    const std::vector<uint32_t>& at = found->second;
    auto after = std::lower_bound(at.begin(), at.end(), before);
    return after == at.begin() ? nullptr : scope->scope().entries[*(after - 1)];
}

bool on_open_path(Run& run, const ScopeEntry* scope) {
    const std::vector<ScopeEntry*>& path = run.type_model.open_path;
    return scope->scope().path_index < path.size() && path[scope->scope().path_index] == scope;
}

// Brings the open path up to the current scope: the scopes that are no longer on it
// leave, and the current scope and those of its enclosing scopes not yet on it join,
// listed again under the keys of their chains where a look-up had dropped them.
void follow_current_scope(Run& run) {
    TypeModel& m = run.type_model;
    std::vector<ScopeEntry*> joining;
    ScopeEntry* scope = m.current_scope;
    while (scope && !on_open_path(run, scope)) {
        joining.push_back(scope);
        scope = scope->scope().parent;
    }
    size_t keep = scope ? scope->scope().path_index + 1 : 0;
    for (size_t k = keep; k < m.open_path.size(); ++k)
        m.open_path[k]->make_scope().path_index = UINT32_MAX;
    m.open_path.resize(keep);
    m.unfaked_at.resize(keep);
    for (auto at = joining.rbegin(); at != joining.rend(); ++at) {
        ScopeEntry* joined = *at;
        uint32_t index = static_cast<uint32_t>(m.open_path.size());
        joined->make_scope().path_index = index;
        m.open_path.push_back(joined);
        bool faked = (joined->flags & ENTRY_FAKED) && index > 0;
        m.unfaked_at.push_back(faked ? m.unfaked_at.back() : index);
        if (joined->scope().chains)
            for (auto& [key, ends] : *joined->scope().chains)
                if (!ends.listed) {
                    ends.listed = true;
                    m.scopes_with_key[key].push_back(joined);
                }
    }
}

// Calls visit(scope, chain) for each scope on the open path that has a chain of the
// name's key, innermost first, until it answers true.
template <typename Visit>
void visit_open_scopes_with_key(Run& run, std::string_view name, Visit visit) {
    follow_current_scope(run);
    auto found = run.type_model.scopes_with_key.find(chain_key(name));
    if (found == run.type_model.scopes_with_key.end()) return;
    std::vector<ScopeEntry*>& scopes = found->second;
    for (size_t k = scopes.size(); k-- > 0;) {
        ScopeEntry* scope = scopes[k];
        if (!on_open_path(run, scope)) {
            if (k + 1 == scopes.size()) {
                (*scope->scope().chains)[chain_key(name)].listed = false;
                scopes.pop_back();
            }
            continue;
        }
        if (visit(scope, *find_chain(scope, name))) return;
    }
}

} // namespace

ScopeEntry* find_type_name(Run& run, std::string_view name) {
    ScopeEntry* found = nullptr;
    visit_open_scopes_with_key(run, name, [&](ScopeEntry* scope, const ChainEnds& chain) {
        // The first entry of the chain that is the name or "_" and the name: any entry
        // when the name is the chain's key, else the first named "_" and the key.
        ScopeEntry* hit = chain_key(name).size() == name.size() ? chain.first : chain.first_of[1];
        if (!hit) return false;
        if (hit->sclass != SC_AUTO && hit->sclass != SC_REG && hit->sclass != SC_PARAM) {
            found = hit;
            return true;
        }
        // A local of that name hides nothing declared before the point where the inner
        // scope on the way here was opened: take the latest declaration up to there.
        const std::vector<ScopeEntry*>& path = run.type_model.open_path;
        uint32_t limit = scope == run.type_model.current_scope
                             ? scope->entry_count()
                             : path[scope->scope().path_index + 1]->scope().parent_count;
        uint32_t from = scope->sclass == SC_MODULE ? scope->entry_count() : limit;
        if (from > scope->entry_count()) from = scope->entry_count();
        found = latest_named_before(scope, name, from);
        return found != nullptr;
    });
    return found;
}

ScopeEntry* find_redeclaration(Run& run, std::string_view name) {
    // The current scope and the faked blocks around it, up to the first real scope.
    ScopeEntry* found = nullptr;
    visit_open_scopes_with_key(run, name, [&](ScopeEntry* scope, const ChainEnds& chain) {
        if (scope->scope().path_index < run.type_model.unfaked_at.back()) return true;
        found = chain.latest[chain_key(name).size() != name.size()];
        return found != nullptr;
    });
    return found;
}

ScopeEntry* find_global_entry(Run& run, std::string_view name) {
    ScopeEntry* found = nullptr;
    walk_scope(
        run.type_model.global_scope,
        [&](ScopeEntry* entry, ScopeEntry*) {
            if (!found && entry->name == name) found = entry;
            return !found;
        },
        [](ScopeEntry*) {});
    return found;
}
