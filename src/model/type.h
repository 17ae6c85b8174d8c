// The type model: scopes, declared entries and types read from the compiler's
// symbolic-debug side files.
//
// A tree of scopes (the global scope, one module scope per object module, function
// scopes and inner blocks) holds ScopeEntry records: variables, typedefs, structures,
// unions, enumerations and file-name markers. A type is a chain of TypeNode, innermost
// (the base) first. The debug-information writers walk the tree from
// type_model.global_scope.
//
// Text fields hold the empty string for "none": every name the side file gives is a
// non-empty token.
//
// A damaged side file can nest scopes to any depth, so walk the tree with walk_scope
// (below) or an explicit stack rather than by recursion. A writer typically does:
//
//   walk_scope(type_model.global_scope,
//              [](ScopeEntry* e, ScopeEntry* scope) {             // every entry, in order
//                  ValuePair at;
//                  if (variable_location(e, scope, &at)) ...      // model/machine.h
//                  for (TypeRef t(e->type); t; t = t.inner()) ... // outermost node first
//                  return true;                                   // go into e if a scope
//              },
//              [](ScopeEntry* scope) { ... });                    // after a scope's entries
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/hash.h"
#include "common/pool.h"

struct Run;

struct ScopeEntry;

// Storage classes (`sclass`).
enum StorageClass : uint32_t {
    SC_NULL = 0,
    SC_EXTERN = 1,
    SC_GLOBAL = 2,
    SC_STATIC = 3,
    SC_AUTO = 4,
    SC_PARAM = 5,
    SC_TYPEDEF = 6,
    SC_MODULE = 7,
    SC_LINE = 8,
    SC_BLOCK = 9,
    SC_FUNC = 10,
    SC_REG = 11,
    SC_STRUCT = 12,
    SC_ENUM = 13,
    SC_FILENAME = 14,
    SC_NO_SIDE_FILE = 15, // module scope of an object module without a usable side file
};

// The name the scope dump prints for a class; null for class 15 and above.
const char* storage_class_name(uint32_t sclass);

// ScopeEntry flags.
enum : uint32_t {
    ENTRY_LOCATED = 0x1, // variable_location found and kept its location
    ENTRY_FAKED = 0x2,   // block made up for a redeclaration under -k; lookups see through it
};

// Type node kinds.
enum TypeKind : uint32_t {
    TYPE_BASIC = 1,
    TYPE_FUNCTION = 2,
    TYPE_POINTER = 3,
    TYPE_ENUM = 4,
    TYPE_STRUCT = 5, // structure or union
    TYPE_ARRAY = 6,
    TYPE_QUALIFIER = 7,
};

// Basic classes, the `value` of a basic node.
enum BasicClass : uint32_t {
    BASIC_VOID = 0,
    BASIC_SIGNED = 1,
    BASIC_UNSIGNED = 2,
    BASIC_FLOAT = 3,
    BASIC_BIT = 4,
};

struct TypeNode {
    uint32_t kind = 0;
    // Basic: the type's name; function "("; pointer "*" or "*." and the qualifier
    // character; enumeration or structure: the name as written; array "[count]";
    // qualifier: the letters, leftmost first, at most 15.
    std::string text;
    // Basic: the basic class; pointer: '.' for the qualified form, else 0; array: the
    // element count; qualifier: the OR of the processor's qualifier flag bits.
    uint32_t value = 0;
    uint8_t extra = 0;           // basic: size in bytes
    ScopeEntry* entry = nullptr; // enumeration or structure: its entry
};

// One node of a type and the node inside it. Links never change once made, so that a
// type built on another (a typedef naming a typedef, a pointer to it) shares its nodes
// instead of copying them: a chain of n typedefs takes n nodes, not n * n / 2.
struct TypeLink {
    TypeNode node;
    const TypeLink* inner = nullptr;
};

// Node 0 is the innermost (the base), node count() - 1 the outermost. Each declaration
// has a Type of its own (writers tell types apart by it), its nodes shared.
struct Type {
    const TypeLink* outer = nullptr;
    const TypeLink* base_link = nullptr;
    uint32_t nodes = 0;

    uint32_t count() const { return nodes; }
    bool empty() const { return nodes == 0; }
    const TypeNode& outermost() const { return outer->node; }
    const TypeNode& base() const { return base_link->node; }
    // Adds a node outside the others.
    void push(Run& run, TypeNode node);
    // The outermost node, made a copy of its own first, for a change that must not reach
    // the types that share it.
    TypeNode& own_outermost(Run& run);
    // The nodes, base first.
    std::vector<const TypeNode*> base_first() const;
};

// A type seen from one of its nodes inwards: the node at `index` is the outermost of
// what it describes, node 0 its base. Writers walk types with inner(); a pointer's
// target is ref.inner(). An invalid reference (no type, or walked past node 0) is
// false.
struct TypeRef {
    const Type* type = nullptr;
    int32_t index = -1;
    const TypeLink* link = nullptr; // the node at index

    TypeRef() = default;
    // The whole type (its outermost node); a null type gives an invalid reference.
    TypeRef(const Type* whole)
        : type(whole), index(whole ? static_cast<int32_t>(whole->nodes) - 1 : -1),
          link(whole ? whole->outer : nullptr) {}
    // The node at an index of a type (found by walking inwards from the outermost).
    TypeRef(const Type* whole, int32_t node_index);

    explicit operator bool() const { return link != nullptr; }
    const TypeNode& node() const { return link->node; }
    uint32_t kind() const { return link ? link->node.kind : 0; }
    TypeRef inner() const {
        TypeRef next = *this;
        next.index = index - 1;
        next.link = link ? link->inner : nullptr;
        return next;
    }
    const TypeNode& base() const { return type->base(); }
};

struct Member {
    std::string name; // empty: none
    Type* type = nullptr;
    int32_t size = 0;       // bytes of the member's storage unit
    int32_t offset = 0;     // byte offset in the structure
    int32_t bit_width = 0;  // width of a bit-field; 0 for a plain member
    int32_t bit_offset = 0; // bit position of a bit-field in its storage unit
};

struct Enumerator {
    std::string name;
    int32_t value = 0;
};

// The two ends of the chain of entries whose names hash alike in one scope, and the
// latest entry of each of the two names the chain holds: its key ("x"), and the key
// after a "_" ("_x"). A redeclaration is found through these without walking a chain
// that a scope declaring one name many times makes long.
struct ChainEnds {
    ScopeEntry* first = nullptr;
    ScopeEntry* last = nullptr;
    ScopeEntry* first_of[2] = {nullptr, nullptr}; // [0] named as the key, [1] "_" and the key
    ScopeEntry* latest[2] = {nullptr, nullptr};
    bool listed = false; // the scope stands in the type model's list of scopes with the key
};
using ScopeChains = std::unordered_map<std::string_view, ChainEnds>;

// Where each name stands in a scope's entries (blocks and modules left out), in
// declaration order; filled up to `indexed` as look-ups need it, so that the latest
// declaration of a name before a point is found by a binary search.
struct ScopePositions {
    uint32_t indexed = 0;
    std::unordered_map<std::string, std::vector<uint32_t>> by_name;
};

// What only a scope has (module, block, func, 15). Most entries are variables, so an
// entry holds this apart, made when the scope is, and reads of an entry without one see
// the empty part below.
struct ScopePart {
    std::vector<ScopeEntry*> entries; // in declaration order, nested scopes included
    uint32_t first_line = 0;
    uint32_t last_line = 0;
    std::string file_name;               // current source file when the scope was opened
    int32_t numbers[4] = {0, 0, 0, 0};   // the numbers after the scope's closing brace
    std::unique_ptr<ScopeChains> chains; // keyed by the name without a leading "_"
    std::unique_ptr<ScopePositions> positions;
    ScopeEntry* function = nullptr; // func scope: the entry that declared the function
    ScopeEntry* parent = nullptr;
    uint32_t parent_count = 0;        // the parent's entry_count when this scope was opened
    uint32_t path_index = UINT32_MAX; // place in the type model's open path, while on it
};

// What only a structure, union or enumeration tag has; held apart as ScopePart is.
struct AggregatePart {
    uint8_t is_union = 0;
    uint8_t base_size = 0; // enumerations
    uint32_t size = 0;
    std::string tag; // empty: none; an enumeration keeps "." as its tag
    std::vector<Member> members;
    std::vector<Enumerator> enumerators;
};

// One declared thing or one scope. Which fields mean something depends on `sclass`.
struct ScopeEntry {
    // Every entry.
    std::string name;           // declared name; a module scope's object file name
    ScopeEntry* next = nullptr; // next entry in the same chain of the holding scope
    uint32_t flags = 0;         // ENTRY_LOCATED, ENTRY_FAKED
    uint32_t line = 0;          // source line of the declaration
    uint32_t sclass = 0;

    // Variables and typedefs (extern, static, auto, param, typedef, reg).
    uint32_t defined = 0; // fifth field of the record; for a function, its first number
    Type* type = nullptr;
    uint32_t value = 0; // address, frame offset, or register number
    uint32_t location_value = 0;
    uint32_t location_segment = 0;

    std::unique_ptr<std::string> asm_name_part; // an "F" static's name as the side file gives it
    std::unique_ptr<ScopePart> scope_part;
    std::unique_ptr<AggregatePart> aggregate_part;

    // Reads see an empty part where the entry has none; writes make it.
    const ScopePart& scope() const { return scope_part ? *scope_part : empty_scope; }
    ScopePart& make_scope() {
        if (!scope_part) scope_part = std::make_unique<ScopePart>();
        return *scope_part;
    }
    const AggregatePart& aggregate() const {
        return aggregate_part ? *aggregate_part : empty_aggregate;
    }
    AggregatePart& make_aggregate() {
        if (!aggregate_part) aggregate_part = std::make_unique<AggregatePart>();
        return *aggregate_part;
    }
    const std::string& asm_name() const { return asm_name_part ? *asm_name_part : empty_name; }
    void set_asm_name(std::string name) {
        if (name.empty() && !asm_name_part) return;
        asm_name_part = std::make_unique<std::string>(std::move(name));
    }

    uint32_t entry_count() const { return static_cast<uint32_t>(scope().entries.size()); }
    bool is_scope() const {
        return sclass == SC_MODULE || sclass == SC_BLOCK || sclass == SC_FUNC ||
               sclass == SC_NO_SIDE_FILE;
    }

  private:
    static const ScopePart empty_scope;
    static const AggregatePart empty_aggregate;
    static const std::string empty_name;
};

// The run's type model (run.type_model). Everything it holds lives as long as the run.
struct TypeModel {
    ScopeEntry* global_scope = nullptr;
    ScopeEntry* current_scope = nullptr; // the scope that receives new entries
    uint32_t current_line = 0;           // kept by the side-file reader
    std::string current_file_name;       // empty: none
    uint64_t side_file_bytes = 0;        // bytes of the side files read, which measure the dump

    // Defines of the side files, name to value text; the first define of a name wins.
    std::unique_ptr<HashTable<std::string, std::string>> defines;

    // Look-ups walk outwards from the current scope through every enclosing one, which
    // a side file can nest tens of thousands deep (a faked block inside the last). So
    // that a look-up costs what it finds, not that depth, the scopes from the global one
    // to the current one are kept as the open path, each with the place of the innermost
    // scope at or above it that is not a faked block; and for each chain key, the scopes
    // that have a chain of it, outer ones first. Those that have left the path are
    // dropped from the end of a list as look-ups meet them.
    std::vector<ScopeEntry*> open_path;
    std::vector<uint32_t> unfaked_at;
    std::unordered_map<std::string_view, std::vector<ScopeEntry*>> scopes_with_key;

    // Owners of the entries and types; the tree points into these.
    Pool<ScopeEntry> entry_pool;
    Pool<Type> type_pool;
    Pool<TypeLink> link_pool;
};

// Visits the entries below scope depth first, in declaration order, without recursion:
// enter(entry, holding scope) for each; when the entry is a scope and enter answers
// true, its entries follow and then leave(entry). Entry is ScopeEntry or its const.
template <typename Entry, typename Enter, typename Leave>
void walk_scope(Entry* scope, Enter enter, Leave leave) {
    if (!scope) return;
    struct Level {
        Entry* scope;
        size_t next;
    };
    std::vector<Level> stack{{scope, 0}};
    while (!stack.empty()) {
        Level& level = stack.back();
        if (level.next >= level.scope->scope().entries.size()) {
            Entry* done = level.scope;
            stack.pop_back();
            if (!stack.empty()) leave(done);
            continue;
        }
        Entry* holder = level.scope;
        Entry* entry = holder->scope().entries[level.next++];
        if (enter(entry, holder) && entry->is_scope()) stack.push_back({entry, 0});
    }
}

// Record creation: zero-filled entries and empty types owned by the model.
ScopeEntry* new_entry(Run& run, uint32_t sclass);
Type* new_type(Run& run);
Type* copy_type(Run& run, const Type* type);

// A scope of that class opened in the current scope: first and last line the current
// line, the current file name, parent and parent_count set.
ScopeEntry* new_scope(Run& run, uint32_t sclass);

// Called by processor selection: the global scope with one typedef per basic type.
void create_global_scope(Run& run);

// Appends to the current scope's entries.
void add_entry(Run& run, ScopeEntry* entry);
// Appends a named entry at the end of its chain in the scope.
void chain_entry(Run& run, ScopeEntry* scope, ScopeEntry* entry);
// A filename entry appended to the scope's entries (not its chains).
ScopeEntry* add_filename_entry(Run& run, ScopeEntry* scope, const std::string& name, uint32_t line);

// The value of a define of the side files, or null.
const std::string* find_define(Run& run, const std::string& name);

// Builds a type from a type string of a side file; null when the string is not a type
// (reported on standard error).
Type* parse_type(Run& run, const char* text);
// The type's short form, outermost node first.
void print_type(Run& run, const Type* type, FILE* out = stderr);

bool is_function_type(const Type* type);
bool is_bit_type(const Type* type);

// The entry a type string's name refers to, searching outwards from the current scope.
ScopeEntry* find_type_name(Run& run, std::string_view name);
// The latest entry of that name in the current scope (and beyond faked blocks).
ScopeEntry* find_redeclaration(Run& run, std::string_view name);
// Depth-first search of the global scope tree for an entry of that name.
ScopeEntry* find_global_entry(Run& run, std::string_view name);
