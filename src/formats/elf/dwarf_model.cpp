// Reading DWARF into the store and the type model: each unit's line-number program
// gives line records; each compilation unit becomes a module scope holding its functions
// (a variable of function type and a function scope with its parameters, locals and
// blocks), its globals and statics, typedefs, structures, unions and enumerations.
// Variables are placed where their locations say: an address, a frame offset or a
// register. What the model cannot hold is left out and said once per kind and file.
#include "formats/elf/dwarf_model.h"

#include <algorithm>

#include "common/alert.h"
#include "formats/elf/dwarf_constants.h"
#include "formats/elf/dwarf_expressions.h"
#include "formats/elf/dwarf_lines.h"
#include "formats/elf/dwarf_model_internal.h"
#include "model/machine.h"
#include "model/run.h"
#include "model/store.h"

namespace dwarf {

namespace {

// What each kind of left-out construct is called in the message that tells it.
const char* const LEFT_OUT_NAMES[LEFT_COUNT] = {
    "C++ classes, namespaces, references and templates",
    "location lists",
    "inlined subroutines",
    "locations other than one address, register or frame offset",
    "base types that the processor family has no basic type for",
    "types of other kinds",
    "references into other units or files",
};

// The number of the segment that holds an address, or 0.
uint32_t segment_at(Run& run, uint64_t address) {
    for (uint32_t k = 0; k < run.store.segments.count(); ++k) {
        const SegmentRecord* s = run.store.segments[k];
        if (s->size != 0 && address >= s->address && address - s->address < s->size) return k + 1;
    }
    return 0;
}

// The symbol-record file of a function or variable: that of its symbol, else none.
uint32_t symbol_file(Run& run, const std::string& name) {
    SymbolRecord* symbol = find_symbol(run, name.c_str());
    return symbol ? symbol->file : 0;
}

} // namespace

ModelReader::ModelReader(SectionSet& sections, const char* file, bool with_types)
    : run_(sections.run()), sections_(sections), file_(file), with_types_(with_types),
      abbreviations_(sections) {}

void ModelReader::leave_out(LeftOut kind) {
    if (said_[kind]) return;
    said_[kind] = true;
    message(run_.messages, 431, file_, LEFT_OUT_NAMES[kind]);
}

// ---- Units and entries ----

void ModelReader::read_units() {
    abbreviations_.note_versions(INFO);
    for (size_t k = 0; k < sections_[TYPES].instances.size(); ++k) {
        sections_.select(TYPES, k);
        sections_.load(TYPES);
        abbreviations_.note_versions(TYPES);
        if (with_types_) read_type_units(TYPES, uint32_t(k + 1));
        kept_.push_back(std::move(sections_[TYPES].bytes));
    }
    if (with_types_) read_type_units(INFO, 0);
    UnitReader units(sections_, INFO);
    UnitHeader header;
    DieTree tree; // each unit's in turn, its storage kept
    while (!units.done()) {
        UnitStep step = units.next(&header);
        if (step == UnitStep::STOP) break;
        if (step == UnitStep::SKIP || header.type_unit) continue;
        read_tree(INFO, header, &tree);
        if (tree.dies.empty()) continue;
        read_lines(tree);
        if (with_types_) read_unit(tree);
    }
}

// The type units of a section, kept by signature for the units that name their types.
void ModelReader::read_type_units(SectionId section, uint32_t instance) {
    UnitReader units(sections_, section);
    UnitHeader header;
    while (!units.done()) {
        UnitStep step = units.next(&header);
        if (step == UnitStep::STOP) break;
        if (step == UnitStep::SKIP || !header.type_unit) continue;
        auto tree = std::make_unique<DieTree>();
        tree->instance = instance;
        read_tree(section, header, tree.get());
        type_units_.emplace(header.id, std::move(tree));
    }
}

// A unit's entries, as far as they can be read; false when one could not be.
bool ModelReader::read_tree(SectionId section, const UnitHeader& header, DieTree* tree) {
    EntryReader entries(sections_, section, header, abbreviations_);
    unit_start_ = header.offset;
    tree->dies.clear();
    tree->index.clear();
    tree->section = section;
    tree->header = header;
    tree->context = entries.context();
    std::vector<uint32_t> open; // the entry of each depth whose children come
    Entry entry;
    AttributeValue value;
    bool whole = true;
    for (EntryReader::Next next; (next = entries.next(&entry)) != EntryReader::Next::END;) {
        if (next == EntryReader::Next::FAILED) {
            whole = false;
            break;
        }
        if (next == EntryReader::Next::NULL_ENTRY) continue;
        Die die;
        die.offset = entry.offset;
        die.tag = static_cast<uint16_t>(entry.abbreviation->tag);
        die.depth = static_cast<uint16_t>(std::min<unsigned>(entry.depth, UINT16_MAX));
        open.resize(std::min<size_t>(open.size(), entry.depth));
        if (!open.empty() && open.size() == entry.depth) die.parent = open.back();
        for (uint32_t k = 0; k < entry.abbreviation->count && whole; ++k) {
            const AttributeSpec& spec = abbreviations_.spec(*entry.abbreviation, k);
            whole = entries.value(spec, &value);
            if (whole) read_attribute(die, spec, value.value, tree->context);
        }
        if (!whole) break;
        tree->index.emplace(die.offset, uint32_t(tree->dies.size()));
        if (entry.abbreviation->children == 1) open.push_back(uint32_t(tree->dies.size()));
        tree->dies.push_back(die);
    }
    // Where each entry's descendants end.
    for (uint32_t k = uint32_t(tree->dies.size()); k-- > 0;) {
        Die& die = tree->dies[k];
        die.end = std::max(die.end, k + 1);
        if (die.parent != Die::NONE)
            tree->dies[die.parent].end = std::max(tree->dies[die.parent].end, die.end);
    }
    return whole;
}

Place ModelReader::place_of(const FormValue& v, const UnitContext& unit) {
    Place place;
    if (v.kind != FormValue::BLOCK) {
        place.kind = v.kind == FormValue::NUMBER ? Place::LIST : Place::OTHER;
        return place;
    }
    ByteReader in(v.block, v.number, sections_.order());
    Operation op;
    if (v.number == 0 ||
        read_operation(run_, in, v.number, unit, "location expression", &op) !=
            OperationRead::DONE ||
        in.position() != v.number) {
        place.kind = Place::OTHER;
        return place;
    }
    const uint8_t code = op.opcode;
    if (code == DW_OP_addr) {
        place = {Place::ADDRESS, op.values[0]};
    } else if (code == DW_OP_addrx || code == DW_OP_GNU_addr_index) {
        ByteReader addresses = sections_.reader(ADDR);
        addresses.seek(unit.addr_base + op.values[0] * unit.address_size);
        uint64_t address = addresses.uint(unit.address_size);
        place = addresses.ok() ? Place{Place::ADDRESS, address} : Place{Place::OTHER, 0};
    } else if (code == DW_OP_fbreg) {
        place = {Place::FRAME, op.values[0]};
    } else if (code >= DW_OP_reg0 && code <= DW_OP_reg31) {
        place = {Place::REGISTER, uint64_t(code - DW_OP_reg0)};
    } else if (code == DW_OP_regx) {
        place = {Place::REGISTER, op.values[0]};
    } else {
        place.kind = Place::OTHER;
    }
    return place;
}

// A reference attribute: an entry of this unit by its offset, a type unit by its
// signature, or an entry of another unit or file, which the read does not follow.
void ModelReader::read_reference(const FormValue& v, uint64_t* target, Die::Reference* kind) const {
    if (v.form == DW_FORM_ref_sig8) {
        *kind = Die::SIGNATURE;
        *target = v.number;
    } else if (v.form == DW_FORM_ref_addr || v.form == DW_FORM_GNU_ref_alt ||
               v.form == DW_FORM_ref_sup4 || v.form == DW_FORM_ref_sup8) {
        *kind = Die::OTHER_UNIT;
    } else if (v.kind == FormValue::NUMBER || v.kind == FormValue::SIGNED) {
        *kind = Die::OFFSET;
        *target = unit_start_ + v.number;
    }
}

// A member's offset: a constant, or an expression of one DW_OP_plus_uconst (DWARF 2).
void ModelReader::read_member_offset(Die& die, const FormValue& v, const UnitContext& unit) const {
    die.has_member_offset = v.kind == FormValue::NUMBER || v.kind == FormValue::SIGNED;
    die.member_offset = v.number;
    if (v.kind != FormValue::BLOCK) return;
    Operation op;
    ByteReader in(v.block, v.number, sections_.order());
    die.has_member_offset = read_operation(run_, in, v.number, unit, "location expression", &op) ==
                                OperationRead::DONE &&
                            op.opcode == DW_OP_plus_uconst && in.position() == v.number;
    die.member_offset = op.values[0];
}

void ModelReader::read_attribute(Die& die, const AttributeSpec& spec, const FormValue& v,
                                 const UnitContext& unit) {
    const bool constant = v.kind == FormValue::NUMBER || v.kind == FormValue::SIGNED;
    switch (spec.attribute) {
    case DW_AT_name:
        if (v.kind == FormValue::STRING && v.text) {
            die.name = v.text;
            die.name_length = uint32_t(std::min<size_t>(v.text_length, UINT32_MAX));
        }
        break;
    case DW_AT_type: read_reference(v, &die.type, &die.type_kind); break;
    case DW_AT_specification:
    case DW_AT_abstract_origin: read_reference(v, &die.origin, &die.origin_kind); break;
    case DW_AT_byte_size:
        die.has_byte_size = constant;
        die.byte_size = v.number;
        break;
    case DW_AT_upper_bound:
        die.has_upper_bound = constant;
        die.upper_bound = v.number;
        break;
    case DW_AT_count:
        die.has_count = constant;
        die.count = v.number;
        break;
    case DW_AT_data_member_location: read_member_offset(die, v, unit); break;
    case DW_AT_bit_size: die.bit_size = uint32_t(v.number); break;
    case DW_AT_bit_offset:
        die.has_bit_offset = constant;
        die.bit_offset = uint32_t(v.number);
        break;
    case DW_AT_data_bit_offset:
        die.has_data_bit_offset = constant;
        die.data_bit_offset = uint32_t(v.number);
        break;
    case DW_AT_encoding: die.encoding = uint32_t(v.number); break;
    case DW_AT_const_value: die.const_value = int64_t(v.number); break;
    case DW_AT_decl_line: die.decl_line = uint32_t(v.number); break;
    case DW_AT_decl_file: die.decl_file = uint32_t(v.number); break;
    case DW_AT_low_pc:
        die.has_low_pc = v.kind == FormValue::ADDRESS && !v.missing;
        die.low_pc = v.number;
        break;
    case DW_AT_high_pc:
        die.has_high_pc = !v.missing && (v.kind == FormValue::ADDRESS || constant);
        die.high_pc_is_length = constant;
        die.high_pc = v.number;
        break;
    case DW_AT_stmt_list:
        die.has_stmt_list = constant;
        die.stmt_list = v.number;
        break;
    case DW_AT_location: die.location = place_of(v, unit); break;
    case DW_AT_external: die.external = v.number != 0; break;
    case DW_AT_declaration: die.declaration = v.number != 0; break;
    default: break;
    }
}

// ---- Scopes ----

void ModelReader::read_unit(const DieTree& tree) {
    const Die& root = tree.dies[0];
    if (root.tag != DW_TAG_compile_unit && root.tag != DW_TAG_partial_unit) return;
    ScopeEntry* global = run_.type_model.global_scope;
    run_.type_model.current_scope = global;
    module_ = new_scope(run_, SC_MODULE);
    module_->name = root.text();
    ScopePart& part = module_->make_scope();
    part.file_name = module_->name;
    part.first_line = part.last_line = 0;
    cover_lines(module_, 0, UINT64_MAX);
    add_entry(run_, module_);
    current_file_ = UINT32_MAX;
    // The entries below the unit's, one scope open for each function and block met; an
    // entry that opens no scope is passed over with its descendants.
    struct Level {
        ScopeEntry* scope;
        uint32_t end;
    };
    std::vector<Level> levels{{module_, root.end}};
    for (uint32_t k = 1; k < tree.dies.size();) {
        while (levels.size() > 1 && k >= levels.back().end)
            levels.pop_back();
        ScopeEntry* opened = read_entry(tree, k, levels.back().scope);
        if (opened) {
            levels.push_back({opened, tree.dies[k].end});
            ++k;
        } else {
            k = tree.dies[k].end;
        }
    }
    finish_aggregates();
    run_.type_model.current_scope = global;
}

ScopeEntry* ModelReader::read_entry(const DieTree& tree, uint32_t k, ScopeEntry* scope) {
    const Die& die = tree.dies[k];
    switch (die.tag) {
    case DW_TAG_subprogram: return read_function(tree, k, scope);
    case DW_TAG_lexical_block: {
        if (scope->sclass != SC_FUNC && scope->sclass != SC_BLOCK) return nullptr;
        ScopeEntry* block = open_scope(SC_BLOCK, scope, die.decl_line);
        if (die.has_low_pc && die.has_high_pc)
            cover_lines(block, die.low_pc,
                        die.high_pc_is_length ? die.low_pc + die.high_pc : die.high_pc);
        return block;
    }
    case DW_TAG_variable:
    case DW_TAG_formal_parameter: read_variable(tree, k, scope); return nullptr;
    case DW_TAG_typedef: read_typedef(tree, k, scope); return nullptr;
    case DW_TAG_structure_type:
    case DW_TAG_union_type:
    case DW_TAG_enumeration_type:
        if (die.name) aggregate(tree, die);
        return nullptr;
    case DW_TAG_inlined_subroutine: leave_out(LEFT_INLINED); return nullptr;
    case DW_TAG_class_type:
    case DW_TAG_namespace:
    case DW_TAG_imported_module:
    case DW_TAG_imported_declaration:
    case DW_TAG_template_type_param:
    case DW_TAG_template_value_param:
    case DW_TAG_GNU_template_parameter_pack:
    case DW_TAG_GNU_formal_parameter_pack: leave_out(LEFT_CXX); return nullptr;
    default: return nullptr;
    }
}

// A function or block scope opened in a scope, at a line.
ScopeEntry* ModelReader::open_scope(uint32_t sclass, ScopeEntry* holder, uint32_t line) {
    run_.type_model.current_scope = holder;
    ScopeEntry* scope = new_scope(run_, sclass);
    ScopePart& part = scope->make_scope();
    part.first_line = part.last_line = line;
    part.file_name = current_file_name_;
    add_entry(run_, scope);
    charge_read_allowance(run_, 1);
    return scope;
}

// Adds a named entry to a scope, after the filename entry of its source file when that
// is another than the last one's. The entry is not chained for look-ups by name: those
// serve the reading of side files, whose names never reach into another input's
// modules.
void ModelReader::declare(ScopeEntry* scope, ScopeEntry* entry, const Die& die) {
    if (die.decl_file != current_file_ && die.decl_file < file_names_.size() &&
        !file_names_[die.decl_file].empty()) {
        current_file_ = die.decl_file;
        current_file_name_ = file_names_[die.decl_file];
        add_filename_entry(run_, scope, current_file_name_, die.decl_line);
    }
    entry->line = die.decl_line;
    scope->make_scope().entries.push_back(entry);
    charge_read_allowance(run_, 1);
}

ScopeEntry* ModelReader::read_function(const DieTree& tree, uint32_t k, ScopeEntry* scope) {
    const Die& die = tree.dies[k];
    if (die.declaration || !die.has_low_pc) {
        if (die.origin_kind != Die::NO_REFERENCE) leave_out(LEFT_INLINED);
        return nullptr;
    }
    const Die* named = &die;
    if (!die.name && die.origin_kind == Die::OFFSET) named = tree.at(die.origin);
    if (!named || !named->name) {
        leave_out(die.origin_kind == Die::NO_REFERENCE ? LEFT_OTHER_TYPES : LEFT_CXX);
        return nullptr;
    }
    ScopeEntry* function = new_entry(run_, named->external ? SC_EXTERN : SC_STATIC);
    function->name = named->text();
    function->type = new_type(run_);
    Type* result = named->type_kind != Die::NO_REFERENCE ? type_of(tree, *named) : nullptr;
    if (result) *function->type = *result;
    if (function->type->empty()) push_void(function->type);
    function->type->push(run_, TypeNode{TYPE_FUNCTION, "(", 0, 0, nullptr});
    declare(scope, function, *named);
    note_extent(function->name, die);
    ScopeEntry* body = open_scope(SC_FUNC, scope, named->decl_line);
    body->make_scope().function = function;
    if (die.has_high_pc)
        cover_lines(body, die.low_pc,
                    die.high_pc_is_length ? die.low_pc + die.high_pc : die.high_pc);
    return body;
}

// The symbols that give the writers a function's extent: its own at its first address
// when the file has none of its name, and the end symbol at its DWARF end.
void ModelReader::note_extent(const std::string& name, const Die& die) {
    uint32_t segment = segment_at(run_, die.low_pc);
    uint32_t file = symbol_file(run_, name);
    if (!find_symbol(run_, name.c_str()))
        add_symbol(run_, name.c_str(), uint32_t(die.low_pc), segment, 0, 0);
    if (!die.has_high_pc) return;
    uint64_t end = die.high_pc_is_length ? die.low_pc + die.high_pc : die.high_pc;
    std::string end_name = "__end_of" + name;
    if (!find_symbol(run_, end_name.c_str()))
        add_symbol(run_, end_name.c_str(), uint32_t(end), segment, file, 0x2);
}

void ModelReader::read_variable(const DieTree& tree, uint32_t k, ScopeEntry* scope) {
    const Die& die = tree.dies[k];
    const Die* named = &die;
    if (die.origin_kind == Die::OFFSET) named = tree.at(die.origin);
    if (die.origin_kind == Die::OTHER_UNIT || !named) {
        leave_out(LEFT_OTHER_UNITS);
        return;
    }
    const Place& place = die.location;
    if (place.kind == Place::LIST) leave_out(LEFT_LOCATION_LISTS);
    if (place.kind == Place::OTHER) leave_out(LEFT_EXPRESSIONS);
    if (!named->name || (place.kind != Place::ADDRESS && place.kind != Place::FRAME &&
                         place.kind != Place::REGISTER))
        return;
    const bool in_function = scope->sclass == SC_FUNC || scope->sclass == SC_BLOCK;
    uint32_t sclass = SC_STATIC;
    uint32_t value = uint32_t(place.value);
    if (place.kind == Place::ADDRESS && !in_function && named->external)
        sclass = SC_EXTERN;
    else if (place.kind == Place::FRAME)
        sclass = die.tag == DW_TAG_formal_parameter ? SC_PARAM : SC_AUTO;
    else if (place.kind == Place::REGISTER)
        sclass = SC_REG;
    if (sclass == SC_REG && (value = register_of_dwarf(value)) == 0) {
        leave_out(LEFT_EXPRESSIONS);
        return;
    }
    Type* type = type_of(tree, *named);
    if (!type) return;
    ScopeEntry* variable = new_entry(run_, sclass);
    variable->name = named->text();
    variable->type = type;
    variable->value = value;
    if (sclass != SC_REG) {
        // Where the location says, whatever the family's own rules would find.
        variable->flags |= ENTRY_LOCATED;
        variable->location_value = value;
        variable->location_segment =
            place.kind == Place::ADDRESS ? segment_at(run_, place.value) : 0;
    }
    declare(scope, variable, *named);
}

void ModelReader::read_typedef(const DieTree& tree, uint32_t k, ScopeEntry* scope) {
    const Die& die = tree.dies[k];
    Type* type = die.type_kind == Die::NO_REFERENCE ? nullptr : type_of(tree, die);
    if (!die.name || !type) return;
    ScopeEntry* entry = new_entry(run_, SC_TYPEDEF);
    entry->name = die.text();
    entry->type = type;
    declare(scope, entry, die);
}

// ---- Lines ----

// The unit's line-number program: its file names, then every row that begins a
// statement as a line record of its file.
void ModelReader::read_lines(const DieTree& tree) {
    file_names_.clear();
    rows_.clear();
    const Die& root = tree.dies[0];
    if (!root.has_stmt_list || !sections_[LINE].found) return;
    LineProgramReader program(sections_, root.stmt_list);
    LineHeader header;
    if (program.header(&header) != LineProgramReader::HeaderRead::OK) return;
    if (!read_file_names(program, header)) return;
    if (!program.start_program()) return;
    std::vector<uint32_t> numbers(file_names_.size(), 0);
    uint64_t last_file = 0;
    LineState state = program.initial_state();
    LineOp op;
    while (!program.at_end()) {
        LineStep step = program.step(&state, &op);
        if (step == LineStep::OVERRUN || step == LineStep::BAD) {
            program.complain(step, op.offset);
            return;
        }
        // A row again at the same place (another view of it) adds nothing.
        const bool again = !rows_.empty() && rows_.back().first == state.address &&
                           rows_.back().second == uint32_t(state.line) && state.file == last_file;
        if (step == LineStep::ROW && state.is_stmt && state.file < numbers.size() &&
            !file_names_[state.file].empty() && !again) {
            last_file = state.file;
            uint32_t& file = numbers[state.file];
            if (file == 0) file = add_file(run_, file_names_[state.file].c_str());
            add_line(run_, uint32_t(state.line), uint32_t(state.address), 0, file, 0);
            rows_.push_back({state.address, uint32_t(state.line)});
        }
        if (step == LineStep::END) state = program.initial_state();
        if (step == LineStep::ROW) state.basic_block = false;
    }
    std::sort(rows_.begin(), rows_.end());
}

// A scope's first and last lines widened to those of the rows of its addresses.
void ModelReader::cover_lines(ScopeEntry* scope, uint64_t low, uint64_t high) {
    auto row = std::lower_bound(rows_.begin(), rows_.end(), std::make_pair(low, uint32_t(0)));
    ScopePart& part = scope->make_scope();
    for (; row != rows_.end() && row->first < high; ++row) {
        if (part.first_line == 0 || row->second < part.first_line) part.first_line = row->second;
        part.last_line = std::max(part.last_line, row->second);
    }
}

// The names of the program's files, by the index its rows give them, each joined to its
// directory unless that is the unit's own (index 0).
bool ModelReader::read_file_names(LineProgramReader& program, const LineHeader& header) {
    std::vector<std::string> directories{""};
    auto joined = [&](std::string name, uint64_t directory) {
        if (directory == 0 || directory >= directories.size() || directories[directory].empty())
            return name;
        return directories[directory] + "/" + name;
    };
    if (header.version < 5) {
        file_names_.push_back(""); // files count from 1
        std::string name;
        FileEntry entry;
        while (program.next_directory(&name))
            directories.push_back(name);
        while (program.next_file(&name, &entry))
            file_names_.push_back(joined(name, entry.directory));
        return true;
    }
    directories.clear();
    for (bool files : {false, true}) {
        std::vector<EntryFormat> formats;
        uint64_t count = 0;
        if (!program.entry_formats(&formats) || !program.entry_count(&count)) return false;
        for (uint64_t k = 0; k < count; ++k) {
            FileEntry entry;
            if (!program.entry(formats, &entry)) return false;
            std::string name = entry.name ? std::string(entry.name, entry.name_length) : "";
            if (files)
                file_names_.push_back(joined(name, entry.directory));
            else
                directories.push_back(k == 0 ? "" : name);
        }
    }
    return true;
}

} // namespace dwarf

void read_dwarf(Run& run, ByteReader& input, const ElfFile& file, const char* name,
                bool with_types) {
    dwarf::SectionSet sections(run, input, false), split(run, input, true);
    dwarf::find_sections(run, file.sections, file.section_names, &sections, &split);
    if (!sections[dwarf::INFO].found || !sections[dwarf::ABBREV].found) return;
    for (dwarf::SectionId id : {dwarf::STR, dwarf::STR_OFFSETS, dwarf::LINE_STR, dwarf::ADDR,
                                dwarf::ABBREV, dwarf::INFO, dwarf::LINE})
        sections.load(id);
    dwarf::ModelReader(sections, name, with_types).read_units();
}
