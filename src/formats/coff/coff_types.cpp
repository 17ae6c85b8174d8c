// The COFF symbol-table builder's types: type words, structure tags, grouped bit
// variables, the store's plain labels and assembler files.
#include "formats/coff/coff_builder.h"

#include <algorithm>
#include <cstring>

#include "common/alert.h"
#include "common/osdep.h"
#include "formats/coff/coff.h"
#include "model/machine.h"
#include "model/run.h"

namespace coff_build {

uint32_t Builder::basic_word(const TypeNode& node) const {
    uint32_t size = node.extra;
    switch (node.value) {
    case BASIC_VOID: return BASE_VOID;
    case BASIC_SIGNED: return size >= 1 && size <= 4 ? d_.signed_bases[size - 1] : 0;
    case BASIC_UNSIGNED: return size >= 1 && size <= 4 ? d_.unsigned_bases[size - 1] : 0;
    case BASIC_FLOAT: return size == d_.sizes[BASE_FLOAT] ? BASE_FLOAT : BASE_DOUBLE;
    default: return 0;
    }
}

// The type word of a type, built from its base outwards: each pointer, function and
// array node adds its derived type outside the ones already there.
CoffType Builder::convert(const Type* type) const {
    CoffType t;
    if (!type) return t;
    for (const TypeNode* at : type->base_first()) {
        const TypeNode& node = *at;
        switch (node.kind) {
        case TYPE_BASIC: t.word = basic_word(node); break;
        case TYPE_ENUM: t.word = BASE_CHAR; break;
        case TYPE_STRUCT:
            t.word = BASE_STRUCT;
            t.has_aux = true;
            t.structure = node.entry;
            t.structure_size = node.entry ? node.entry->aggregate().size : 0;
            t.size = t.structure_size;
            break;
        case TYPE_POINTER:
            t.word = add_derived_type(t.word, DERIVED_POINTER, *d_.type_words);
            break;
        case TYPE_FUNCTION:
            t.word = add_derived_type(t.word, DERIVED_FUNCTION, *d_.type_words);
            break;
        case TYPE_ARRAY: {
            uint32_t element;
            if (type_derived(t.word, 0, *d_.type_words) == DERIVED_POINTER)
                element = d_.pointer_size;
            else if (type_base(t.word, *d_.type_words) == BASE_STRUCT)
                element = t.structure_size;
            else
                element = type_word_size(t.word, *d_.type_words, d_.sizes, d_.pointer_size);
            t.word = add_derived_type(t.word, DERIVED_ARRAY, *d_.type_words);
            t.has_aux = true;
            for (unsigned k = 3; k > 0; --k)
                t.dimensions[k] = t.dimensions[k - 1];
            t.dimensions[0] = node.value;
            t.rank = std::min(t.rank + 1, 4u);
            uint32_t total = element;
            for (unsigned k = 0; k < t.rank; ++k)
                total *= t.dimensions[k];
            t.size = total & 0xFFFF;
            break;
        }
        default: break; // qualifiers are passed over
        }
    }
    return t;
}

uint32_t Builder::add_typed(const std::string& name, uint32_t value, int32_t section,
                            const CoffType& type, int sclass) {
    uint32_t index = symbols_.add(name, value, section, type.word, sclass, type.has_aux ? 1 : 0);
    if (!type.has_aux) return index;
    CoffAux aux = size_aux(type.size);
    for (unsigned k = 0; k < type.rank; ++k)
        aux.dimensions[k] = static_cast<uint16_t>(type.dimensions[k]);
    bool tag_pending = false;
    if (type.structure) {
        auto tag = tag_index_.find(type.structure);
        if (tag != tag_index_.end())
            aux.tag_index = tag->second;
        else
            tag_pending = true;
    }
    uint32_t aux_index = symbols_.add_aux(aux);
    if (tag_pending) pending_[type.structure].push_back(aux_index);
    return index;
}

// The structure's tag, then the tags of the structures its members use, depth first,
// without recursion: a damaged side file may nest structures without end.
void Builder::ensure_tag(const ScopeEntry* structure) {
    if (!structure || tag_index_.count(structure)) return;
    std::vector<const ScopeEntry*> stack{structure};
    while (!stack.empty()) {
        const ScopeEntry* s = stack.back();
        stack.pop_back();
        if (tag_index_.count(s)) continue;
        write_tag(s);
        for (auto m = s->aggregate().members.rbegin(); m != s->aggregate().members.rend(); ++m) {
            TypeRef base(m->type, 0);
            if (base && base.kind() == TYPE_STRUCT && base.node().entry)
                stack.push_back(base.node().entry);
        }
    }
}

void Builder::write_tag(const ScopeEntry* s) {
    uint32_t tag = symbols_.add(s->aggregate().tag, 0, SECTION_DEBUG, 0, CLASS_STRUCT_TAG, 1);
    uint32_t tag_aux = symbols_.add_aux(size_aux(s->aggregate().size));
    tag_index_[s] = tag;
    auto pending = pending_.find(s);
    if (pending != pending_.end()) {
        for (uint32_t aux : pending->second)
            symbols_.update<CoffAux>(aux, [tag](CoffAux& a) { a.tag_index = tag; });
        pending_.erase(pending);
    }
    for (const Member& m : s->aggregate().members) {
        if (m.bit_width != 0) {
            uint32_t value =
                static_cast<uint32_t>(m.offset) * 8 + static_cast<uint32_t>(m.bit_offset);
            symbols_.add(m.name, value, SECTION_DEBUG, BASE_UCHAR, CLASS_BIT_FIELD, 1);
            symbols_.add_aux(size_aux(static_cast<uint32_t>(m.bit_width)));
        } else {
            add_typed(m.name, static_cast<uint32_t>(m.offset), SECTION_DEBUG, convert(m.type),
                      CLASS_STRUCT_MEMBER);
        }
    }
    end_of_structure(tag, tag_aux, s->aggregate().size);
}

// The ".eos" entry closing a structure, its auxiliary entry naming the tag; the tag's
// auxiliary entry then names the ".eos" entry's.
void Builder::end_of_structure(uint32_t tag, uint32_t tag_aux, uint32_t size) {
    symbols_.add(".eos", 0, SECTION_ABSOLUTE, 0, CLASS_END_OF_STRUCT, 1);
    CoffAux aux = size_aux(size);
    aux.tag_index = tag;
    uint32_t eos_aux = symbols_.add_aux(aux);
    set_next(tag_aux, eos_aux);
}

// Microchip: the bit variables, by ascending bit address, as members of one generated
// structure per data-memory unit, each followed by a variable of that structure.
void Builder::group_bit_variables() {
    sort_items(bits_, [](const BitVariable& a, const BitVariable& b) {
        return a.address < b.address ? -1 : a.address > b.address ? 1 : 0;
    });
    const uint32_t width = 8 * d_.data_unit;
    uint32_t counter = 0, group = 0, position = 0, tag = NONE, tag_aux = NONE;
    auto close = [&]() {
        if (tag == NONE) return;
        end_of_structure(tag, tag_aux, d_.data_unit);
        const SymbolRecord* named = find_symbol_by_value(run_, group);
        std::string name =
            named ? "_" + named->name + "bits" : "_bitvars" + std::to_string(counter);
        symbols_.add(name, group, 1, BASE_STRUCT, CLASS_EXTERNAL, 1);
        CoffAux aux = size_aux(d_.data_unit);
        aux.tag_index = tag;
        symbols_.add_aux(aux);
    };
    for (const BitVariable& bit : bits_) {
        if (tag == NONE || bit.address / width != group) {
            close();
            ++counter;
            group = bit.address / width;
            tag = symbols_.add("", 0, SECTION_DEBUG, 0, CLASS_STRUCT_TAG, 1);
            tag_aux = symbols_.add_aux(size_aux(d_.data_unit));
            position = 0;
        }
        uint32_t at = bit.address % width;
        if (at > position) {
            symbols_.add("-", position, SECTION_DEBUG, BASE_UCHAR, CLASS_BIT_FIELD, 1);
            symbols_.add_aux(size_aux(at - position));
            position = at;
        }
        symbols_.add(visible_name(bit.name), position, SECTION_DEBUG, BASE_UCHAR, CLASS_BIT_FIELD,
                     1);
        symbols_.add_aux(size_aux(1));
        ++position;
        mark_described(bit.name);
    }
    close();
}

// The store symbols that no typed entry described.
void Builder::plain_labels() {
    int32_t section = d_.label_section;
    for (const FileRecord* file : run_.store.files)
        for (const SymbolRecord* symbol : file->symbols)
            if (!(symbol->flags & (SYM_LOCAL | SYM_DESCRIBED)))
                symbols_.add(visible_name(symbol->name), symbol->value, section, 0, CLASS_LABEL, 0);
}

bool has_assembler_extension(const std::string& name) {
    size_t dot = name.rfind('.');
    return dot != std::string::npos && stricmp_portable(name.c_str() + dot, ".as") == 0;
}

void Builder::assembler_files() {
    for (FileRecord* file : run_.store.files) {
        if (file->line_count == 0 || !has_assembler_extension(file->name)) continue;
        file_entry(file->name);
        symbols_.add(".eof", 0, 0, 0, CLASS_END_OF_FILE, 0);
        open_file_ = NONE;
        image_.assembler_files.push_back(file);
    }
}

} // namespace coff_build
