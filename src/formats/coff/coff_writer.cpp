// The shared half of the COFF writers: sections, the symbol table built from the scope
// tree, structure tags and type words, and the line records of each function.
#include "formats/coff/coff_writer.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <unordered_map>

#include "common/alert.h"
#include "common/options.h"
#include "common/osdep.h"
#include "common/sort.h"
#include "formats/coff/coff.h"
#include "model/encdec.h"
#include "model/machine.h"

void write_coff_tail(OutputFile& output, CoffFileHeader header, uint64_t offset,
                     const std::vector<uint8_t>& symbols, const std::vector<uint8_t>& strings,
                     uint64_t sections_at, const std::vector<CoffSectionHeader>& sections) {
    header.nscns = static_cast<uint16_t>(sections.size());
    header.symptr = static_cast<uint32_t>(offset);
    output.write_at(offset, symbols);
    output.write_at(offset + symbols.size(), strings);
    ByteWriter file_header(run_byte_order());
    file_header.record(header);
    output.write_at(0, file_header.bytes());
    ByteWriter section_headers(run_byte_order());
    for (const CoffSectionHeader& section : sections)
        section_headers.record(section);
    output.write_at(sections_at, section_headers.bytes());
    output.finish();
}

uint64_t write_section_contents(OutputFile& output, CoffImage& image, uint64_t offset) {
    for (CoffSection& section : image.sections) {
        if (!section.block) continue;
        section.header.scnptr = static_cast<uint32_t>(offset);
        output.write_at(offset, section.block->bytes.data(),
                        std::min<size_t>(section.block->size, section.block->bytes.size()));
        offset += section.block->size;
    }
    return offset;
}

void write_coff_tail(OutputFile& output, CoffFileHeader header, uint64_t offset,
                     const CoffImage& image, uint64_t sections_at) {
    header.nsyms = image.symbol_count;
    std::vector<CoffSectionHeader> sections;
    for (const CoffSection& section : image.sections)
        sections.push_back(section.header);
    write_coff_tail(output, header, offset, image.symbols, image.string_table(), sections_at,
                    sections);
}

std::vector<uint8_t> CoffImage::string_table() const {
    ByteWriter table(run_byte_order());
    table.u32(4 + long_names.size());
    table.text(long_names);
    return table.take();
}

std::vector<std::vector<const CoffFunction*>> CoffImage::functions_by_section() const {
    std::vector<std::vector<const CoffFunction*>> by_section(sections.size() + 1);
    for (const CoffFunction& f : functions)
        if (f.section >= 1 && size_t(f.section) <= sections.size())
            by_section[size_t(f.section)].push_back(&f);
    return by_section;
}

int32_t CoffSectionMap::block_holding(uint32_t address) const {
    auto after = std::upper_bound(spans.begin(), spans.end(), address,
                                  [](uint32_t a, const Span& s) { return a < s.address; });
    int64_t best = -1;
    for (size_t k = static_cast<size_t>(after - spans.begin()); k-- > 0;) {
        if (max_end[k] <= address) break;
        if (address < spans[k].end && (best < 0 || spans[k].block < best)) best = spans[k].block;
    }
    return static_cast<int32_t>(best);
}

int32_t CoffSectionMap::section_of(uint32_t value, uint32_t segment) const {
    if (!is_program_class(segment_name(segment))) {
        uint32_t number = segment_of_address({value, segment}, data_unit);
        uint32_t programs = programs_upto.empty()
                                ? 0
                                : programs_upto[std::min<size_t>(number, programs_upto.size() - 1)];
        return static_cast<int32_t>(number - programs + base);
    }
    int32_t block = block_holding(value * code_unit);
    if (block < 0) return static_cast<int32_t>(segment + base);
    return static_cast<int32_t>(first_text) + block;
}

namespace {

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
CoffAux line_aux(uint32_t line) {
    CoffAux aux;
    aux.line = static_cast<uint16_t>(line);
    return aux;
}
CoffAux size_aux(uint32_t size) {
    CoffAux aux;
    aux.size = static_cast<uint16_t>(size);
    return aux;
}

// The symbol-entry list and the long-name list.
class SymbolTable {
  public:
    SymbolTable(const CoffDialect& dialect, CoffImage& image)
        : d_(dialect), image_(image), entries_(run_byte_order()) {}

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
            std::string generated = ".u" + std::to_string(coff_state.generated_names++);
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

    const CoffDialect& d_;
    CoffImage& image_;
    ByteWriter entries_;
    std::unordered_map<std::string, uint32_t> offsets_;
};

// The section plan: one bss section per data segment (Microchip: after the absolute
// section), then one text section per data block.
void plan_sections(const CoffDialect& d, CoffImage& image, SymbolTable& symbols);

void plan_sections(const CoffDialect& d, CoffImage& image, SymbolTable& symbols) {
    CoffSectionMap& map = image.map;
    map.code_unit = d.code_unit;
    map.data_unit = d.data_unit;
    uint32_t segment_count = store.segments.count();
    map.programs_upto.assign(size_t(segment_count) + 1, 0);
    std::unordered_map<std::string, uint32_t> seen; // segments met so far by name
    if (d.absolute_section) {
        CoffSection absolute;
        absolute.name = "ABS";
        memcpy(absolute.header.name, "ABS", 3);
        absolute.header.flags = MCOFF_SECTION_ABSOLUTE;
        image.sections.push_back(absolute);
        map.base = 1;
    }
    for (uint32_t k = 1; k <= segment_count; ++k) {
        const SegmentRecord* segment = store.segments[k - 1];
        bool program = is_program_class(segment_name(segment->space));
        map.programs_upto[k] = map.programs_upto[k - 1] + (program ? 1 : 0);
        uint32_t earlier = seen[segment->name]++;
        if (program) continue;
        CoffSection section;
        section.name = earlier ? segment->name + "." + std::to_string(earlier) : segment->name;
        section.header.paddr = segment->address / d.data_unit;
        section.header.size = segment->size;
        section.header.flags = COFF_SECTION_BSS;
        image.sections.push_back(std::move(section));
    }
    map.first_text = static_cast<uint32_t>(image.sections.size()) + 1;
    image.first_text_section = map.first_text;
    for (uint32_t k = 0; k < store.data.count(); ++k) {
        const DataBlock* block = store.data[k];
        CoffSection section;
        section.name = "_text" + std::to_string(k);
        section.header.paddr = block->address / d.code_unit;
        section.header.size = block->size;
        section.header.flags = COFF_SECTION_TEXT;
        section.block = block;
        image.sections.push_back(std::move(section));
        map.spans.push_back({block->address, uint64_t(block->address) + block->size, k});
    }
    for (size_t k = map.base; k < image.sections.size(); ++k) {
        CoffSection& section = image.sections[k];
        if (d.long_section_names)
            symbols.set_name(section.header.name, section.name);
        else
            memcpy(section.header.name, section.name.data(),
                   std::min(section.name.size(), COFF_NAME_SIZE));
    }
    using Span = CoffSectionMap::Span;
    sort_items(map.spans, [](const Span& a, const Span& b) {
        if (a.address != b.address) return a.address < b.address ? -1 : 1;
        return a.block < b.block ? -1 : a.block > b.block ? 1 : 0;
    });
    uint64_t highest = 0;
    for (const Span& span : map.spans)
        map.max_end.push_back(highest = std::max(highest, span.end));
}

// The scope walk and everything it writes.
class Builder {
  public:
    explicit Builder(const CoffDialect& dialect) : d_(dialect), symbols_(dialect, image_) {}

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
        if (!d_.honours_strip_underscore || !options.strip_underscore || name.empty() ||
            name[0] != '_')
            return name;
        stripped_.assign(name, 1, std::string::npos);
        return stripped_;
    }
    std::string file_name_for(const std::string& name) const;
    SymbolRecord* symbol_for(const char* prefix, const ScopeEntry* entry,
                             const ScopeEntry* holder) const;
    void mark_described(const std::string& name) const {
        if (SymbolRecord* symbol = find_symbol(name.c_str())) symbol->flags |= SYM_DESCRIBED;
    }
    void set_next(uint32_t aux, uint32_t index) {
        if (aux != NONE)
            symbols_.update<CoffAuxLinks>(aux, [index](CoffAuxLinks& a) { a.next_index = index; });
    }

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

CoffImage Builder::build() {
    for (FileRecord* file : store.files)
        file->output_index = 0;
    plan_sections(d_, image_, symbols_);
    if (type_model.global_scope)
        for (const ScopeEntry* entry : type_model.global_scope->entries)
            if (entry->sclass == SC_MODULE) walk_module(entry);
    if (d_.grouped_bits) group_bit_variables();
    close_file();
    plain_labels();
    if (d_.assembler_files) assembler_files();
    gather_lines();
    symbols_.finish();
    return std::move(image_);
}

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
    std::string written = apply_pathspec(name);
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
    FileRecord* record = find_file(name.c_str());
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
    if (entry->sclass == SC_STATIC) return find_file_symbol(holder->name.c_str(), name.c_str());
    return find_symbol(name.c_str());
}

void Builder::variable(const ScopeEntry* entry, const ScopeEntry* holder) {
    // Functions written by their scopes are not written here too.
    if (d_.scoped_functions && is_function_type(entry->type)) return;
    ValuePair at;
    if (!variable_location(const_cast<ScopeEntry*>(entry), holder, &at)) return;
    if (d_.grouped_bits) {
        TypeRef base(entry->type, 0);
        if (base && base.kind() == TYPE_BASIC && base.node().value == BASIC_BIT) {
            bool alias = entry->sclass == SC_STATIC && !entry->asm_name.empty();
            bits_.push_back({at.value, alias ? entry->asm_name : entry->name});
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
    int32_t section = image_.section_of(at.value, at.segment);
    uint32_t index = add_typed(visible_name(entry->name), at.value, section, type, sclass);
    mark_described(entry->name);
    return index;
}

void Builder::local(const ScopeEntry* entry, const ScopeEntry* holder) {
    ValuePair at;
    if (!variable_location(const_cast<ScopeEntry*>(entry), holder, &at)) return;
    CoffType type = convert(entry->type);
    ensure_tag(type.structure);
    if (d_.locals_as_statics) {
        add_typed(visible_name(entry->name), at.value, image_.section_of(at.value, at.segment),
                  type, CLASS_STATIC);
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
    uint32_t index = add_block_marker(".bb", outer.function, block->first_line);
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
    uint32_t index = add_block_marker(".eb", level.function, block->last_line);
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
    function.entry = scope->function;
    ValuePair at;
    bool located =
        function.entry && variable_location(const_cast<ScopeEntry*>(function.entry), holder, &at);
    if (!located && function.entry)
        at = {function.entry->location_value, function.entry->location_segment};
    if (d_.entry_starts && function.entry)
        if (const SymbolRecord* start = symbol_for("entry$", function.entry, holder))
            at.value = start->value;
    function.start = at.value;
    function.section = image_.section_of(at.value, at.segment);
    if (d_.scoped_functions && located) {
        uint32_t index = write_variable(function.entry, at);
        if (index != NONE) entry_index_[function.entry] = index;
    }
    image_.functions.push_back(function);
    size_t number = image_.functions.size() - 1;

    int32_t section = d_.scoped_functions ? function.section : SECTION_DEBUG;
    uint32_t bf = symbols_.add(".bf", function.start, section, 0, CLASS_FUNCTION, 1);
    uint32_t bf_aux = symbols_.add_aux(line_aux(scope->first_line));
    if (!d_.scoped_functions) {
        set_next(previous_bf_aux_, bf);
        previous_bf_aux_ = bf_aux;
        if (d_.frame_pointer_entries)
            symbols_.add("___FP", 15, SECTION_ABSOLUTE, BASE_INT, CLASS_REGISTER, 0);
        levels_.push_back(Level{scope, bf_aux, NONE, number, NONE});
        return;
    }
    for (const ScopeEntry* entry : scope->entries)
        if (entry->sclass == SC_PARAM) local(entry, scope);
    // The body is one block.
    symbols_.add(".bb", function.start, section, 0, CLASS_BLOCK, 1);
    uint32_t bb_aux = symbols_.add_aux(line_aux(scope->first_line));
    levels_.push_back(Level{scope, bb_aux, NONE, number, bf_aux});
}

void Builder::end_function(const ScopeEntry* scope) {
    const Level& level = levels_.back();
    CoffFunction& function = image_.functions[level.function];
    uint32_t value = function.start;
    if (function.entry) {
        const ScopeEntry* holder = scope->parent ? scope->parent : scope;
        const SymbolRecord* end = nullptr;
        if (d_.scoped_functions) {
            std::string name = "__end_of" + function.entry->name;
            if (name.size() > 127) name.resize(127);
            end = find_symbol(name.c_str());
        } else {
            end = symbol_for("__end_of", function.entry, holder);
        }
        if (end) value = end->value - 1;
    }
    int32_t section = d_.scoped_functions ? function.section : SECTION_DEBUG;
    if (d_.scoped_functions) {
        symbols_.add(".eb", function.start, section, 0, CLASS_BLOCK, 1);
        uint32_t eb_aux = symbols_.add_aux(line_aux(scope->last_line));
        set_next(level.open_aux, eb_aux);
        symbols_.add(".ef", value, section, 0, CLASS_FUNCTION, 1);
        uint32_t ef_aux = symbols_.add_aux(line_aux(scope->last_line));
        set_next(level.bf_aux, ef_aux);
    } else {
        uint32_t ef = symbols_.add(".ef", value, section, 0, CLASS_FUNCTION, 1);
        symbols_.add_aux(line_aux(scope->last_line));
        set_next(level.last_block_aux, ef);
    }
    auto found = function.entry ? entry_index_.find(function.entry) : entry_index_.end();
    function.symbol_index = found != entry_index_.end() ? found->second : 0;
}

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
            t.structure_size = node.entry ? node.entry->size : 0;
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
        for (auto m = s->members.rbegin(); m != s->members.rend(); ++m) {
            TypeRef base(m->type, 0);
            if (base && base.kind() == TYPE_STRUCT && base.node().entry)
                stack.push_back(base.node().entry);
        }
    }
}

void Builder::write_tag(const ScopeEntry* s) {
    uint32_t tag = symbols_.add(s->tag, 0, SECTION_DEBUG, 0, CLASS_STRUCT_TAG, 1);
    uint32_t tag_aux = symbols_.add_aux(size_aux(s->size));
    tag_index_[s] = tag;
    auto pending = pending_.find(s);
    if (pending != pending_.end()) {
        for (uint32_t aux : pending->second)
            symbols_.update<CoffAux>(aux, [tag](CoffAux& a) { a.tag_index = tag; });
        pending_.erase(pending);
    }
    for (const Member& m : s->members) {
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
    end_of_structure(tag, tag_aux, s->size);
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
        const SymbolRecord* named = find_symbol_by_value(group);
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
    for (const FileRecord* file : store.files)
        for (const SymbolRecord* symbol : file->symbols)
            if (!(symbol->flags & (SYM_LOCAL | SYM_DESCRIBED)))
                symbols_.add(visible_name(symbol->name), symbol->value, section, 0, CLASS_LABEL, 0);
}

bool has_assembler_extension(const std::string& name) {
    size_t dot = name.rfind('.');
    return dot != std::string::npos && stricmp_portable(name.c_str() + dot, ".as") == 0;
}

void Builder::assembler_files() {
    for (FileRecord* file : store.files) {
        if (file->line_count == 0 || !has_assembler_extension(file->name)) continue;
        file_entry(file->name);
        symbols_.add(".eof", 0, 0, 0, CLASS_END_OF_FILE, 0);
        open_file_ = NONE;
        image_.assembler_files.push_back(file);
    }
}

// The store files by exact name (names in the store are unique ignoring case, so there
// is at most one), each with whether its lines are in line-number order.
class FilesByName {
  public:
    FilesByName() {
        auto by_line = [](const LineRecord* a, const LineRecord* b) { return a->line < b->line; };
        for (FileRecord* file : store.files)
            by_name_.emplace(file->name, Entry{file, std::is_sorted(file->lines.begin(),
                                                                    file->lines.end(), by_line)});
    }

    // Calls take(line) for each line record of the named file with a number from first to
    // last, in the file's order. Normalisation sorted each file's lines by number, so
    // they are one run found by binary search.
    template <typename Take>
    void lines_between(const std::string& name, uint32_t first, uint32_t last, Take take) const {
        auto found = by_name_.find(name);
        if (found == by_name_.end()) return;
        const std::vector<LineRecord*>& lines = found->second.file->lines;
        if (!found->second.sorted) {
            for (const LineRecord* line : lines)
                if (line->line >= first && line->line <= last) take(line);
            return;
        }
        auto from = std::lower_bound(lines.begin(), lines.end(), first,
                                     [](const LineRecord* l, uint32_t n) { return l->line < n; });
        for (auto it = from; it != lines.end() && (*it)->line <= last; ++it)
            take(*it);
    }

  private:
    struct Entry {
        const FileRecord* file;
        bool sorted;
    };
    std::unordered_map<std::string_view, Entry> by_name_;
};

bool in_bounds(const char* name, uint32_t address, uint32_t divisor) {
    const BoundsRecord* bounds = find_bounds(name);
    return bounds && bounds->low / divisor <= address && address <= bounds->high / divisor;
}

// PIC30/PIC24: code that copies initialised data is no source line of the function.
bool in_data_copy(uint32_t address) {
    for (const char* name : {"idata", "nearidata", "yidata", "nearyidata"})
        if (in_bounds(name, address, 2)) return true;
    return in_bounds("ctext", address, 1);
}

int compare_u32(uint32_t a, uint32_t b) {
    return a < b ? -1 : a > b ? 1 : 0;
}

// One line per line number (the lowest address), in address order.
void reduce_to_first_lines(std::vector<const LineRecord*>& lines) {
    if (lines.size() < 2) return;
    sort_items(lines, [](const LineRecord* a, const LineRecord* b) {
        if (int c = compare_u32(a->line, b->line)) return c;
        return compare_u32(a->address, b->address);
    });
    std::vector<const LineRecord*> firsts;
    for (const LineRecord* line : lines)
        if (firsts.empty() || firsts.back()->line != line->line) firsts.push_back(line);
    lines.swap(firsts);
    sort_items(lines, [](const LineRecord* a, const LineRecord* b) {
        if (int c = compare_u32(a->address, b->address)) return c;
        return compare_u32(a->line, b->line);
    });
}

void Builder::gather_lines() {
    FilesByName files;
    for (CoffFunction& function : image_.functions) {
        const ScopeEntry* scope = function.scope;
        if (scope->first_line == 0) continue;
        uint32_t last = scope->last_line ? scope->last_line : scope->first_line;
        uint32_t segment = function.entry ? function.entry->location_segment : 0;
        files.lines_between(scope->file_name, scope->first_line, last, [&](const LineRecord* line) {
            bool wanted = d_.scoped_functions ? line->segment == segment
                                              : is_program_class(segment_name(line->segment)) &&
                                                    !(d_.first_lines_outside_data_copy &&
                                                      in_data_copy(line->address));
            if (wanted) function.lines.push_back(line);
        });
        if (d_.first_lines_outside_data_copy) reduce_to_first_lines(function.lines);
    }
}

} // namespace

CoffImage build_coff_image(const CoffDialect& dialect) {
    return Builder(dialect).build();
}
