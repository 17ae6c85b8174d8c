// Reading DWARF types into the type model: a type is the chain of entries its DW_AT_type
// names, from the outermost inwards (pointers, qualifiers, typedefs, arrays, function
// types) down to a base type, a structure, union or enumeration, or void. Base types
// become the family's basic types of their encoding and size; typedefs give their
// definition, as the side files' type strings do; structures, unions and enumerations
// are entries of the unit's module scope, whose members are read once the chains that
// name them are built, so that neither a long chain nor a deep nesting of structures
// recurses.
#include <cstring>

#include "common/alert.h"
#include "formats/elf/dwarf_constants.h"
#include "formats/elf/dwarf_model_internal.h"
#include "model/machine.h"
#include "model/run.h"
#include "model/store.h"

namespace dwarf {

namespace {

// Longer chains of pointers, qualifiers and typedefs than this are a loop.
constexpr size_t MAX_CHAIN = 4096;

// The basic class of a DWARF encoding; false for one the model has no class for.
bool basic_class(uint32_t encoding, uint32_t* value) {
    switch (encoding) {
    case DW_ATE_signed:
    case DW_ATE_signed_char: *value = BASIC_SIGNED; return true;
    case DW_ATE_unsigned:
    case DW_ATE_unsigned_char:
    case DW_ATE_boolean:
    case DW_ATE_UTF: *value = BASIC_UNSIGNED; return true;
    case DW_ATE_float: *value = BASIC_FLOAT; return true;
    default: return false;
    }
}

// The family's basic type that a C name of that class asks for first.
const char* preferred_name(const std::string& name, uint32_t basic) {
    const bool is_unsigned = basic == BASIC_UNSIGNED;
    if (basic == BASIC_FLOAT) return name.find("double") != std::string::npos ? "d" : "f";
    if (name.find("char") != std::string::npos) return is_unsigned ? "uc" : "c";
    if (name.find("short") != std::string::npos) return is_unsigned ? "us" : "s";
    if (name.find("long") != std::string::npos) return is_unsigned ? "ul" : "l";
    return is_unsigned ? "ui" : "i";
}

TypeNode node_of(uint32_t kind, std::string text, uint32_t value = 0) {
    TypeNode node;
    node.kind = kind;
    node.text = std::move(text);
    node.value = value;
    return node;
}

} // namespace

bool ModelReader::follow(const DieTree*& tree, const Die*& die, Die::Reference kind,
                         uint64_t target) {
    if (kind == Die::OFFSET) {
        die = tree->at(target);
    } else if (kind == Die::SIGNATURE) {
        auto found = type_units_.find(target);
        tree = found == type_units_.end() ? nullptr : found->second.get();
        die = tree ? tree->at(tree->header.offset + tree->header.type_offset) : nullptr;
    } else {
        die = nullptr;
    }
    if (!die) leave_out(LEFT_OTHER_UNITS);
    return die != nullptr;
}

Type* ModelReader::type_of(const DieTree& tree, const Die& die) {
    if (die.type_kind == Die::NO_REFERENCE) {
        Type* type = new_type(run_);
        push_void(type);
        return type;
    }
    const DieTree* at = &tree;
    const Die* target = nullptr;
    if (!follow(at, target, die.type_kind, die.type)) return nullptr;
    // The entries that name one type share it: nothing changes a type once it is built
    // (a function's own type is a copy, which its return type is pushed onto).
    auto [built, made] = types_.try_emplace(where(*at, *target), nullptr);
    if (made) built->second = build_type(at, target);
    return built->second;
}

Type* ModelReader::build_type(const DieTree* tree, const Die* die) {
    std::vector<std::pair<const DieTree*, const Die*>> chain;
    const Die* base = nullptr;
    while (die && !base) {
        switch (die->tag) {
        case DW_TAG_base_type:
        case DW_TAG_structure_type:
        case DW_TAG_union_type:
        case DW_TAG_enumeration_type: base = die; break;
        case DW_TAG_unspecified_type: die = nullptr; break; // void
        case DW_TAG_pointer_type:
        case DW_TAG_const_type:
        case DW_TAG_volatile_type:
        case DW_TAG_typedef:
        case DW_TAG_array_type:
        case DW_TAG_subroutine_type:
        case DW_TAG_restrict_type:
        case DW_TAG_atomic_type:
            if (chain.size() == MAX_CHAIN) {
                leave_out(LEFT_OTHER_TYPES);
                return nullptr;
            }
            chain.push_back({tree, die});
            if (die->type_kind == Die::NO_REFERENCE) {
                die = nullptr;
                break;
            }
            if (!follow(tree, die, die->type_kind, die->type)) return nullptr;
            break;
        default:
            leave_out(die->tag == DW_TAG_class_type || die->tag == DW_TAG_reference_type ||
                              die->tag == DW_TAG_rvalue_reference_type ||
                              die->tag == DW_TAG_ptr_to_member_type
                          ? LEFT_CXX
                          : LEFT_OTHER_TYPES);
            return nullptr;
        }
    }
    Type* type = new_type(run_);
    if (!base) {
        push_void(type);
    } else if (base->tag == DW_TAG_base_type) {
        TypeNode node;
        if (!basic_node(*base, &node)) return nullptr;
        type->push(run_, std::move(node));
    } else {
        ScopeEntry* entry = aggregate(*tree, *base);
        TypeNode node = node_of(entry->sclass == SC_ENUM ? TYPE_ENUM : TYPE_STRUCT, entry->name);
        node.entry = entry;
        type->push(run_, std::move(node));
    }
    for (size_t k = chain.size(); k-- > 0;)
        if (!push_node(type, *chain[k].first, *chain[k].second)) return nullptr;
    charge_read_allowance(run_, type->count());
    return type;
}

// The node (or nodes) an entry of a chain puts outside the type built so far.
bool ModelReader::push_node(Type* type, const DieTree& tree, const Die& die) {
    switch (die.tag) {
    case DW_TAG_pointer_type: type->push(run_, node_of(TYPE_POINTER, "*")); return true;
    case DW_TAG_subroutine_type: type->push(run_, node_of(TYPE_FUNCTION, "(")); return true;
    case DW_TAG_const_type: return push_qualifier(type, "const");
    case DW_TAG_volatile_type: return push_qualifier(type, "volatile");
    case DW_TAG_array_type: {
        // One array node a dimension, the first dimension outermost.
        const uint32_t at = uint32_t(&die - tree.dies.data());
        std::vector<uint32_t> counts;
        for (uint32_t k = at + 1; k < die.end; k = tree.dies[k].end) {
            const Die& range = tree.dies[k];
            if (range.tag != DW_TAG_subrange_type) continue;
            counts.push_back(uint32_t(range.has_count         ? range.count
                                      : range.has_upper_bound ? range.upper_bound + 1
                                                              : 0));
        }
        if (counts.empty()) counts.push_back(0);
        for (size_t k = counts.size(); k-- > 0;)
            type->push(run_, node_of(TYPE_ARRAY, "[" + std::to_string(counts[k]) + "]", counts[k]));
        return true;
    }
    default: return true; // a typedef gives its definition; restrict and atomic add nothing
    }
}

// A qualifier of the family's table by its name; qualifiers in a row make one node,
// the outermost letter first.
bool ModelReader::push_qualifier(Type* type, const char* name) {
    const QualifierInfo* q = selected_processor(run_)->qualifiers;
    while (q->letter && strcmp(q->name, name) != 0)
        ++q;
    if (!q->letter) return true;
    if (type->outermost().kind != TYPE_QUALIFIER) type->push(run_, node_of(TYPE_QUALIFIER, ""));
    TypeNode& node = type->own_outermost(run_);
    node.text = (std::string(1, q->letter) + node.text).substr(0, 15);
    node.value |= q->flags;
    return true;
}

void ModelReader::push_void(Type* type) {
    const BasicTypeInfo* basic = selected_processor(run_)->basic_types;
    while (basic->name && basic->basic_class != BASIC_VOID)
        ++basic;
    TypeNode node = node_of(TYPE_BASIC, basic->name ? basic->name : "v", BASIC_VOID);
    type->push(run_, std::move(node));
}

// The family's basic type of the class and size, the one named first (the name a C
// type asks for, or the family's own name of it) when there are several.
static const BasicTypeInfo* family_basic(Run& run, uint32_t basic, uint64_t size,
                                         const std::string& name) {
    const char* preferred = preferred_name(name, basic);
    const BasicTypeInfo* chosen = nullptr;
    for (const BasicTypeInfo* b = selected_processor(run)->basic_types; b->name; ++b) {
        if (b->basic_class != basic || b->size != size) continue;
        if (name == b->name) return b;
        if (!chosen || strcmp(b->name, preferred) == 0) chosen = b;
    }
    return chosen;
}

bool ModelReader::basic_node(const Die& die, TypeNode* node) {
    uint32_t basic = 0;
    const BasicTypeInfo* chosen = nullptr;
    // A boolean is the family's bit type where one has its size.
    if (die.encoding == DW_ATE_boolean)
        chosen = family_basic(run_, BASIC_BIT, die.byte_size, die.text());
    if (chosen)
        basic = BASIC_BIT;
    else if (basic_class(die.encoding, &basic))
        chosen = family_basic(run_, basic, die.byte_size, die.text());
    if (!chosen) {
        leave_out(LEFT_BASE_TYPES);
        return false;
    }
    *node = node_of(TYPE_BASIC, chosen->name, basic);
    node->extra = chosen->size;
    return true;
}

// ---- Structures, unions and enumerations ----

ScopeEntry* ModelReader::aggregate(const DieTree& tree, const Die& die) {
    ScopeEntry*& entry = aggregates_[where(tree, die)];
    if (entry) return entry;
    const bool enumeration = die.tag == DW_TAG_enumeration_type;
    entry = new_entry(run_, enumeration ? SC_ENUM : SC_STRUCT);
    entry->name = entry->make_aggregate().tag = die.text();
    entry->line = die.decl_line;
    if (enumeration)
        entry->make_aggregate().base_size = uint8_t(die.byte_size);
    else
        entry->make_aggregate().size = uint32_t(die.byte_size);
    entry->make_aggregate().is_union = die.tag == DW_TAG_union_type;
    module_->make_scope().entries.push_back(entry);
    charge_read_allowance(run_, 1);
    unfilled_.push_back({&tree, &die});
    return entry;
}

void ModelReader::finish_aggregates() {
    while (!unfilled_.empty()) {
        auto [tree, die] = unfilled_.back();
        unfilled_.pop_back();
        ScopeEntry* entry = aggregates_[where(*tree, *die)];
        if (die->tag == DW_TAG_enumeration_type)
            fill_enumeration(*tree, *die, entry);
        else
            fill_structure(*tree, *die, entry);
    }
}

void ModelReader::fill_enumeration(const DieTree& tree, const Die& die, ScopeEntry* entry) {
    const uint32_t at = uint32_t(&die - tree.dies.data());
    for (uint32_t k = at + 1; k < die.end; k = tree.dies[k].end) {
        const Die& item = tree.dies[k];
        if (item.tag != DW_TAG_enumerator) continue;
        entry->make_aggregate().enumerators.push_back({item.text(), int32_t(item.const_value)});
        charge_read_allowance(run_, 1);
    }
}

// Members with their offsets; a bit-field's storage unit and its position there, counted
// from the unit's lowest bit.
void ModelReader::fill_structure(const DieTree& tree, const Die& die, ScopeEntry* entry) {
    const bool big = sections_.order() == ByteOrder::big;
    const uint32_t at = uint32_t(&die - tree.dies.data());
    for (uint32_t k = at + 1; k < die.end; k = tree.dies[k].end) {
        const Die& item = tree.dies[k];
        if (item.tag != DW_TAG_member) {
            if (item.tag == DW_TAG_inheritance || item.tag == DW_TAG_subprogram)
                leave_out(LEFT_CXX);
            continue;
        }
        Type* type = type_of(tree, item);
        if (!type) continue;
        Member m;
        m.name = item.text();
        m.type = type;
        m.size = int32_t(item.has_byte_size ? item.byte_size : type_size(run_, TypeRef(type)));
        m.offset = int32_t(item.has_member_offset ? item.member_offset : 0);
        if (item.bit_size != 0 && m.size > 0) {
            const uint32_t bits = uint32_t(m.size) * 8;
            uint32_t from_top = item.bit_offset; // from the unit's highest bit to the field's
            if (item.has_data_bit_offset) {
                m.offset = int32_t(item.data_bit_offset / bits * uint32_t(m.size));
                uint32_t from_bottom = item.data_bit_offset % bits;
                from_top = big ? from_bottom : bits - from_bottom - item.bit_size;
            }
            m.bit_width = int32_t(item.bit_size);
            m.bit_offset =
                int32_t(from_top + item.bit_size <= bits ? bits - from_top - item.bit_size : 0);
        }
        entry->make_aggregate().members.push_back(std::move(m));
        charge_read_allowance(run_, 1);
    }
    if (entry->aggregate_part) entry->aggregate_part->members.shrink_to_fit();
}

uint32_t ModelReader::register_of_dwarf(uint64_t number) {
    return number <= UINT32_MAX ? ::register_of_dwarf(run_, uint32_t(number)) : 0;
}

} // namespace dwarf
