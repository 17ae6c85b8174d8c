// The DWARF version 2 writer: one compilation unit per module of the global scope, with
// subprogram, variable, parameter, typedef and type entries made from the side files'
// scopes and types, and one line-number program per unit (dwarf_line.cpp).
//
// Entries are laid out one at a time in a buffer of their own and then join
// ".debug_info"; an entry refers to a type by its offset from its unit's header, so the
// types an entry needs are written before it. A structure is built in its own buffer,
// since its members' types join ".debug_info" while it is being built.
#include <deque>
#include <string_view>
#include <unordered_map>

#include "common/alert.h"
#include "formats/elf/dwarf.h"
#include "formats/elf/dwarf_constants.h"
#include "model/machine.h"
#include "model/run.h"
#include "model/store.h"
#include "model/type.h"

namespace {

constexpr size_t ENTRY_LIMIT = 2048; // bytes of one entry, or of a structure with its members
constexpr uint32_t NO_TYPE = 0;      // an offset no entry has: the unit header is there
constexpr uint32_t BEING_WRITTEN = 0xFFFFFFFF; // a structure whose entry is not finished
constexpr size_t KEY_LIMIT = 63;               // characters of a type's key
// Types nest as deep as a damaged side file likes; past this depth a type counts as one
// that cannot be written.
constexpr unsigned MAX_TYPE_DEPTH = 256;
constexpr const char* PRODUCER = "Symvert - NORVALE Software";
constexpr uint16_t LANGUAGE_WITHOUT_SIDE_FILE = 0x8001;
constexpr uint32_t CONST_QUALIFIER = 0x400;
constexpr uint32_t VOLATILE_QUALIFIER = 0x2;

// ---- Abbreviations ----

// Every kind of entry the writer makes; each gets its abbreviation code when it is first
// used.
enum Abbrev : unsigned {
    UNIT,
    UNIT_LEAF,
    FUNCTION_TYPED,
    FUNCTION_TYPED_LEAF,
    FUNCTION,
    FUNCTION_LEAF,
    SUBROUTINE_TYPED,
    SUBROUTINE,
    BASE,
    CONST,
    VOLATILE,
    POINTER_TO,
    POINTER,
    ARRAY,
    SUBRANGE,
    STRUCT_NAMED,
    STRUCT_ANONYMOUS,
    UNION_NAMED,
    UNION_ANONYMOUS,
    MEMBER,
    BIT_MEMBER,
    UNION_MEMBER,
    UNION_BIT_MEMBER,
    TYPEDEF,
    VARIABLE,
    EXTERN_VARIABLE,
    PARAMETER,
    ENUM_NAMED,
    ENUM_ANONYMOUS,
    ENUMERATOR,
    ABBREV_COUNT
};

struct AttributeSpec {
    DwarfAttribute attribute;
    DwarfForm form;
};

struct AbbrevSpec {
    DwarfTag tag;
    bool children;
    std::vector<AttributeSpec> attributes;
};

using Attributes = std::vector<AttributeSpec>;

const Attributes UNIT_ATTRIBUTES = {
    {DW_AT_stmt_list, DW_FORM_data4}, {DW_AT_producer, DW_FORM_string},
    {DW_AT_language, DW_FORM_data2},  {DW_AT_name, DW_FORM_string},
    {DW_AT_low_pc, DW_FORM_addr},     {DW_AT_high_pc, DW_FORM_addr},
};
const Attributes FUNCTION_TYPED_ATTRIBUTES = {
    {DW_AT_name, DW_FORM_string},     {DW_AT_type, DW_FORM_ref4},
    {DW_AT_external, DW_FORM_data1},  {DW_AT_decl_file, DW_FORM_udata},
    {DW_AT_decl_line, DW_FORM_udata}, {DW_AT_low_pc, DW_FORM_addr},
    {DW_AT_high_pc, DW_FORM_addr},    {DW_AT_frame_base, DW_FORM_block1},
};
const Attributes FUNCTION_ATTRIBUTES = {
    {DW_AT_name, DW_FORM_string},       {DW_AT_external, DW_FORM_data1},
    {DW_AT_decl_file, DW_FORM_udata},   {DW_AT_decl_line, DW_FORM_udata},
    {DW_AT_low_pc, DW_FORM_addr},       {DW_AT_high_pc, DW_FORM_addr},
    {DW_AT_frame_base, DW_FORM_block1},
};
const Attributes TYPE_ONLY = {{DW_AT_type, DW_FORM_ref4}};
const Attributes STRUCT_NAMED_ATTRIBUTES = {
    {DW_AT_sibling, DW_FORM_ref4},    {DW_AT_name, DW_FORM_string},
    {DW_AT_byte_size, DW_FORM_data1}, {DW_AT_decl_file, DW_FORM_data1},
    {DW_AT_decl_line, DW_FORM_data2},
};
const Attributes STRUCT_ANONYMOUS_ATTRIBUTES = {
    {DW_AT_sibling, DW_FORM_ref4},
    {DW_AT_byte_size, DW_FORM_data1},
    {DW_AT_decl_file, DW_FORM_data1},
    {DW_AT_decl_line, DW_FORM_data2},
};
const Attributes VARIABLE_ATTRIBUTES = {
    {DW_AT_name, DW_FORM_string},     {DW_AT_decl_file, DW_FORM_data1},
    {DW_AT_decl_line, DW_FORM_data2}, {DW_AT_type, DW_FORM_ref4},
    {DW_AT_location, DW_FORM_block1},
};

const AbbrevSpec& abbrev_spec(Abbrev kind) {
    static const AbbrevSpec SPECS[ABBREV_COUNT] = {
        {DW_TAG_compile_unit, true, UNIT_ATTRIBUTES},
        {DW_TAG_compile_unit, false, UNIT_ATTRIBUTES},
        {DW_TAG_subprogram, true, FUNCTION_TYPED_ATTRIBUTES},
        {DW_TAG_subprogram, false, FUNCTION_TYPED_ATTRIBUTES},
        {DW_TAG_subprogram, true, FUNCTION_ATTRIBUTES},
        {DW_TAG_subprogram, false, FUNCTION_ATTRIBUTES},
        {DW_TAG_subroutine_type, false, TYPE_ONLY},
        {DW_TAG_subroutine_type, false, {}},
        {DW_TAG_base_type,
         false,
         {{DW_AT_name, DW_FORM_string},
          {DW_AT_byte_size, DW_FORM_data1},
          {DW_AT_encoding, DW_FORM_data1}}},
        {DW_TAG_const_type, false, TYPE_ONLY},
        {DW_TAG_volatile_type, false, TYPE_ONLY},
        {DW_TAG_pointer_type,
         false,
         {{DW_AT_type, DW_FORM_ref4}, {DW_AT_byte_size, DW_FORM_data1}}},
        {DW_TAG_pointer_type, false, {{DW_AT_byte_size, DW_FORM_data1}}},
        {DW_TAG_array_type, true, {{DW_AT_sibling, DW_FORM_ref4}, {DW_AT_type, DW_FORM_ref4}}},
        {DW_TAG_subrange_type, false, {{DW_AT_upper_bound, DW_FORM_data4}}},
        {DW_TAG_structure_type, true, STRUCT_NAMED_ATTRIBUTES},
        {DW_TAG_structure_type, true, STRUCT_ANONYMOUS_ATTRIBUTES},
        {DW_TAG_union_type, true, STRUCT_NAMED_ATTRIBUTES},
        {DW_TAG_union_type, true, STRUCT_ANONYMOUS_ATTRIBUTES},
        {DW_TAG_member,
         false,
         {{DW_AT_name, DW_FORM_string},
          {DW_AT_type, DW_FORM_ref4},
          {DW_AT_data_member_location, DW_FORM_block1}}},
        {DW_TAG_member,
         false,
         {{DW_AT_name, DW_FORM_string},
          {DW_AT_type, DW_FORM_ref4},
          {DW_AT_byte_size, DW_FORM_data1},
          {DW_AT_bit_size, DW_FORM_data1},
          {DW_AT_bit_offset, DW_FORM_data1},
          {DW_AT_data_member_location, DW_FORM_block1}}},
        {DW_TAG_member, false, {{DW_AT_name, DW_FORM_string}, {DW_AT_type, DW_FORM_ref4}}},
        {DW_TAG_member,
         false,
         {{DW_AT_name, DW_FORM_string},
          {DW_AT_type, DW_FORM_ref4},
          {DW_AT_byte_size, DW_FORM_data1},
          {DW_AT_bit_size, DW_FORM_data1},
          {DW_AT_bit_offset, DW_FORM_data1}}},
        {DW_TAG_typedef,
         false,
         {{DW_AT_name, DW_FORM_string},
          {DW_AT_decl_file, DW_FORM_data1},
          {DW_AT_decl_line, DW_FORM_data2},
          {DW_AT_type, DW_FORM_ref4}}},
        {DW_TAG_variable, false, VARIABLE_ATTRIBUTES},
        {DW_TAG_variable,
         false,
         {{DW_AT_name, DW_FORM_string},
          {DW_AT_decl_file, DW_FORM_data1},
          {DW_AT_decl_line, DW_FORM_data2},
          {DW_AT_type, DW_FORM_ref4},
          {DW_AT_external, DW_FORM_flag},
          {DW_AT_location, DW_FORM_block1}}},
        {DW_TAG_formal_parameter, false, VARIABLE_ATTRIBUTES},
        {DW_TAG_enumeration_type,
         true,
         {{DW_AT_sibling, DW_FORM_ref4},
          {DW_AT_name, DW_FORM_string},
          {DW_AT_byte_size, DW_FORM_data1}}},
        {DW_TAG_enumeration_type,
         true,
         {{DW_AT_sibling, DW_FORM_ref4}, {DW_AT_byte_size, DW_FORM_data1}}},
        {DW_TAG_enumerator,
         false,
         {{DW_AT_name, DW_FORM_string}, {DW_AT_const_value, DW_FORM_data4}}},
    };
    return SPECS[kind];
}

// One entry being laid out: the abbreviation code, then the attribute values in the
// order and the forms its abbreviation declares, so that the two cannot disagree.
class Entry {
  public:
    Entry(ByteWriter& out, const AbbrevSpec& spec, uint8_t address_size)
        : out_(out), spec_(spec), address_size_(address_size) {}

    // A value of a numeric form: data, udata, flag, addr or ref4.
    Entry& number(uint64_t value) {
        switch (next_form()) {
        case DW_FORM_data1:
        case DW_FORM_flag: out_.u8(value); break;
        case DW_FORM_data2: out_.u16(value); break;
        case DW_FORM_data4:
        case DW_FORM_ref4: out_.u32(value); break;
        case DW_FORM_udata: out_.uleb128(value); break;
        case DW_FORM_addr: put_address(out_, value, address_size_); break;
        default: break;
        }
        return *this;
    }
    // An inline string.
    Entry& text(std::string_view value) {
        if (next_form() == DW_FORM_string) out_.cstring(value);
        return *this;
    }
    // A block of one length byte and an expression.
    Entry& block(const ByteWriter& expression) {
        if (next_form() == DW_FORM_block1) {
            out_.u8(expression.size());
            out_.bytes(expression.bytes().data(), expression.size());
        }
        return *this;
    }
    // Where the next value goes, for a value filled in later.
    size_t here() const { return out_.size(); }

  private:
    DwarfForm next_form() {
        return next_ < spec_.attributes.size() ? spec_.attributes[next_++].form : DwarfForm(0);
    }

    ByteWriter& out_;
    const AbbrevSpec& spec_;
    size_t next_ = 0;
    uint8_t address_size_;
};

// ---- Names of base types ----

struct BaseType {
    const char* name; // null: the type's key
    DwarfEncoding encoding;
};

bool base_type(const TypeNode& node, BaseType* base) {
    const std::string& text = node.text;
    switch (node.value) {
    case BASIC_SIGNED:
        if (text == "c") {
            *base = {"char", DW_ATE_signed_char};
            return true;
        }
        *base = {text == "s"   ? "short int"
                 : text == "i" ? "int"
                 : text == "m" ? "short long int"
                 : text == "l" ? "long int"
                               : nullptr,
                 DW_ATE_signed};
        return true;
    case BASIC_UNSIGNED:
        if (text == "uc") {
            *base = {"unsigned char", DW_ATE_unsigned_char};
            return true;
        }
        *base = {text == "us"   ? "short unsigned int"
                 : text == "ui" ? "unsigned int"
                 : text == "m"  ? "short long unsigned int"
                 : text == "l"  ? "long unsigned int"
                                : nullptr,
                 DW_ATE_unsigned};
        return true;
    case BASIC_FLOAT:
        *base = {text == "f" ? "float" : text == "d" ? "double" : nullptr, DW_ATE_float};
        return true;
    case BASIC_BIT: *base = {nullptr, DW_ATE_boolean}; return true;
    default: return false; // void, and classes no basic type has
    }
}

// A file name's directory part (before the last "\", else "/", else ":") and base name.
void split_file_name(const std::string& name, std::string* directory, std::string* base) {
    size_t at = name.rfind('\\');
    if (at == std::string::npos) at = name.rfind('/');
    if (at == std::string::npos) at = name.rfind(':');
    if (at == std::string::npos) {
        directory->clear();
        *base = name;
        return;
    }
    *directory = name.substr(0, at);
    *base = name.substr(at + 1);
}

// ---- The writer ----

class DwarfWriter {
  public:
    explicit DwarfWriter(Run& run);
    void write(Run& run, std::vector<DebugSection>& sections);

  private:
    // A type already looked for in this unit: the offset of its entry, 0 when it has
    // none, BEING_WRITTEN while a structure's entry is built.
    struct CachedType {
        uint32_t offset = NO_TYPE;
    };

    Entry start(ByteWriter& buffer, Abbrev kind);
    uint32_t append(Run& run, const ByteWriter& buffer);
    uint32_t unit_offset() const { return static_cast<uint32_t>(info_.size() - unit_start_); }

    void write_unit(Run& run, const ScopeEntry* module);
    void write_entries(Run& run, const ScopeEntry* module);
    void write_variable(Run& run, ScopeEntry* entry, uint32_t location, int32_t frame_base);
    void write_typedef(Run& run, const ScopeEntry* entry);
    void write_subprogram(Run& run, const ScopeEntry* scope);
    void make_file_current(Run& run, const std::string& name);

    uint32_t type_offset(Run& run, TypeRef node, unsigned depth);
    uint32_t write_type(Run& run, TypeRef node, CachedType* slot, unsigned depth);
    uint32_t write_base(Run& run, TypeRef node);
    uint32_t write_function_type(Run& run, TypeRef node, unsigned depth);
    uint32_t write_pointer(Run& run, TypeRef node, unsigned depth);
    uint32_t write_enumeration(Run& run, const TypeNode& node);
    uint32_t write_structure(Run& run, const TypeNode& node, CachedType* slot, unsigned depth);
    void write_member(Run& run, ByteWriter& buffer, const ScopeEntry& structure,
                      const Member& member, unsigned depth);
    uint32_t write_array(Run& run, TypeRef node, unsigned depth);
    uint32_t write_qualified(Run& run, TypeRef node, unsigned depth);
    uint32_t write_referring(Run& run, Abbrev kind, uint32_t type);

    ByteOrder order_;
    ByteWriter abbrev_, info_, line_;
    uint8_t address_size_ = 0;
    uint32_t codes_[ABBREV_COUNT] = {};
    uint32_t next_code_ = 1;
    SortedLines lines_;

    // The unit being written.
    size_t unit_start_ = 0;
    AddressRange range_;
    UnitFiles unit_files_;
    std::unordered_map<std::string, uint32_t> file_by_base_;
    uint32_t current_file_ = 0;

    // The typedef names of the global scope, by name, and this unit's types, by key
    // (the first entry of a key stays the one found). Cached entries keep their place.
    std::unordered_map<std::string, CachedType> typedef_names_;
    std::deque<CachedType> cache_;
    std::unordered_map<std::string, CachedType*> cache_by_key_;
    // Positions in ".debug_info" of pointer references to each structure being written.
    std::unordered_map<const ScopeEntry*, std::vector<size_t>> waiting_for_;
};

// The size of a plain data pointer, as an address size DWARF knows where it can.
uint8_t choose_address_size(Run& run) {
    Type pointer;
    TypeNode node;
    node.kind = TYPE_POINTER;
    node.text = "*";
    pointer.push(run, node);
    uint32_t size = type_size(run, TypeRef(&pointer));
    if (size == 3) size = 4;
    if (size >= 5 && size <= 8) size = 8;
    if (size == 0 || size > 8) message(run.messages, 632, unsigned(size));
    return static_cast<uint8_t>(size);
}

DwarfWriter::DwarfWriter(Run& run)
    : order_(run_byte_order(run.options)), abbrev_(order_), info_(order_), line_(order_),
      lines_(run) {}

void DwarfWriter::write(Run& run, std::vector<DebugSection>& sections) {
    address_size_ = choose_address_size(run);
    for (const ScopeEntry* entry : run.type_model.global_scope->scope().entries) {
        if (entry->sclass == SC_TYPEDEF)
            typedef_names_.emplace(entry->name, CachedType());
        else if (entry->sclass == SC_MODULE || entry->sclass == SC_NO_SIDE_FILE)
            write_unit(run, entry);
    }
    abbrev_.u8(0);
    sections.push_back({".debug_abbrev", abbrev_.take()});
    sections.push_back({".debug_info", info_.take()});
    sections.push_back({".debug_line", line_.take()});
}

// The entry's abbreviation code, the abbreviation being written when the kind is new.
Entry DwarfWriter::start(ByteWriter& buffer, Abbrev kind) {
    const AbbrevSpec& spec = abbrev_spec(kind);
    if (codes_[kind] == 0) {
        codes_[kind] = next_code_++;
        abbrev_.uleb128(codes_[kind]);
        abbrev_.uleb128(spec.tag);
        abbrev_.u8(spec.children ? 1 : 0);
        for (const AttributeSpec& attribute : spec.attributes) {
            abbrev_.uleb128(attribute.attribute);
            abbrev_.uleb128(attribute.form);
        }
        abbrev_.u8(0);
        abbrev_.u8(0);
    }
    buffer.uleb128(codes_[kind]);
    return Entry(buffer, spec, address_size_);
}

// Adds an entry to ".debug_info"; answers its offset in the unit. An entry past the
// limit is reported and cut.
uint32_t DwarfWriter::append(Run& run, const ByteWriter& buffer) {
    uint32_t offset = unit_offset();
    size_t count = buffer.size();
    if (count > ENTRY_LIMIT) {
        alert(run.messages, "E", "DWARF: Buffer overflow in DIE.");
        count = ENTRY_LIMIT;
    }
    info_.bytes(buffer.bytes().data(), count);
    return offset;
}

void DwarfWriter::write_unit(Run& run, const ScopeEntry* module) {
    range_ = AddressRange();
    cache_.clear();
    cache_by_key_.clear();
    waiting_for_.clear();
    // A typedef'd type written in an earlier unit is written again in this one: a
    // reference is an offset in its own unit.
    for (auto& name : typedef_names_)
        name.second = CachedType();
    unit_files_ = UnitFiles();
    unit_files_.files.push_back({module->name, 0, 0});
    unit_files_.directories.push_back("");
    file_by_base_.clear();
    current_file_ = 0;

    bool children = module->scope().entries.size() > 1;
    ByteWriter header(order_);
    header.u32(0); // unit_length
    header.u16(2); // version
    header.u32(0); // abbreviation offset: one table for every unit
    header.u8(address_size_);
    Entry unit = start(header, children ? UNIT : UNIT_LEAF);
    unit.number(line_.size());
    unit.text(PRODUCER);
    unit.number(module->sclass == SC_NO_SIDE_FILE ? LANGUAGE_WITHOUT_SIDE_FILE
                                                  : uint16_t(DW_LANG_C89));
    unit.text(module->name);
    size_t pc_at = unit.here();
    unit.number(0).number(0);
    unit_start_ = info_.size();
    append(run, header);

    write_entries(run, module);
    if (children) info_.u8(0);
    info_.patch(unit_start_, info_.size() - unit_start_ - 4, 4);
    write_line_program(line_, unit_files_, lines_, address_size_, &range_);
    // The range, where the unit's entry kept its room for it (an address size DWARF does
    // not know kept none).
    bool known_size =
        address_size_ == 1 || address_size_ == 2 || address_size_ == 4 || address_size_ == 8;
    if (known_size && pc_at + 2 * address_size_ <= ENTRY_LIMIT) {
        info_.patch(unit_start_ + pc_at, range_.low, address_size_);
        info_.patch(unit_start_ + pc_at + address_size_, range_.high, address_size_);
    }
}

// The module's entries in scope order; a block's entries are written as if they belonged
// to the scope around it.
void DwarfWriter::write_entries(Run& run, const ScopeEntry* module) {
    std::vector<int32_t> frame_bases; // of the functions being walked, innermost last
    walk_scope(
        module,
        [&](const ScopeEntry* entry, const ScopeEntry* holder) {
            ScopeEntry* variable = const_cast<ScopeEntry*>(entry);
            ValuePair at;
            int32_t frame_base = frame_bases.empty() ? 0 : frame_bases.back();
            switch (entry->sclass) {
            case SC_EXTERN:
            case SC_GLOBAL:
            case SC_STATIC:
                if (variable_location(run, variable, holder, &at))
                    write_variable(run, variable, at.value, frame_base);
                else
                    alert(run.messages, "W", "DWARF: Can't find variable location: '%s'",
                          entry->name.c_str());
                return false;
            case SC_AUTO:
            case SC_PARAM:
            case SC_REG:
                if (variable_location(run, variable, holder, &at))
                    write_variable(run, variable, at.value, frame_base);
                return false;
            case SC_TYPEDEF: write_typedef(run, entry); return false;
            case SC_BLOCK: return true;
            case SC_FUNC:
                write_subprogram(run, entry);
                frame_bases.push_back(entry->scope().numbers[0]);
                return true;
            case SC_ENUM: {
                Type enumeration;
                TypeNode node;
                node.kind = TYPE_ENUM;
                node.text = entry->name;
                node.entry = variable;
                enumeration.push(run, node);
                type_offset(run, TypeRef(&enumeration), 0);
                return false;
            }
            case SC_FILENAME: make_file_current(run, entry->name); return false;
            default: return false;
            }
        },
        [&](const ScopeEntry* scope) {
            if (scope->sclass != SC_FUNC) return;
            frame_bases.pop_back();
            if (!scope->scope().entries.empty()) info_.u8(0);
        });
}

// A variable: its location is an address, a frame offset or a register. The location is
// the one the processor's rules found: for a register variable that is the register's
// number, which the entry itself does not keep.
void DwarfWriter::write_variable(Run& run, ScopeEntry* entry, uint32_t location,
                                 int32_t frame_base) {
    if (is_function_type(entry->type)) return;
    uint32_t type = type_offset(run, TypeRef(entry->type), 0);
    if (type == NO_TYPE) {
        alert(run.messages, "W", "DWARF: Couldn't find type for '%s'", entry->name.c_str());
        return;
    }
    Abbrev kind = entry->sclass == SC_EXTERN  ? EXTERN_VARIABLE
                  : entry->sclass == SC_PARAM ? PARAMETER
                                              : VARIABLE;
    ByteWriter expression(order_);
    switch (entry->sclass) {
    case SC_AUTO:
    case SC_PARAM:
        // Frame offsets are signed 32-bit numbers: a family may keep autos below the base.
        expression.u8(DW_OP_fbreg);
        expression.sleb128(int32_t(entry->location_value - uint32_t(frame_base)));
        break;
    case SC_REG:
        expression.u8(DW_OP_regx);
        expression.uleb128(dwarf_register(run, location));
        break;
    default:
        expression.u8(DW_OP_addr);
        put_address(expression, entry->location_value, address_size_);
        break;
    }
    ByteWriter buffer(order_);
    Entry variable = start(buffer, kind);
    variable.text(entry->name).number(current_file_).number(entry->line).number(type);
    if (kind == EXTERN_VARIABLE) variable.number(1);
    variable.block(expression);
    append(run, buffer);
}

void DwarfWriter::write_typedef(Run& run, const ScopeEntry* entry) {
    uint32_t type = type_offset(run, TypeRef(entry->type), 0);
    if (type == NO_TYPE) {
        alert(run.messages, "W", "DWARF: Couldn't find type for '%s'", entry->name.c_str());
        return;
    }
    ByteWriter buffer(order_);
    start(buffer, TYPEDEF).text(entry->name).number(current_file_).number(entry->line).number(type);
    append(run, buffer);
}

void DwarfWriter::write_subprogram(Run& run, const ScopeEntry* scope) {
    const ScopeEntry* declaring = scope->scope().function;
    const std::string name = declaring ? declaring->name : std::string();
    // The return type lies below the function node, which qualifiers such as a code
    // model's may wrap.
    uint32_t type = NO_TYPE;
    if (declaring && declaring->type) {
        TypeRef function(declaring->type);
        while (function.kind() == TYPE_QUALIFIER)
            function = function.inner();
        type = type_offset(run, function ? function.inner() : TypeRef(declaring->type).inner(), 0);
    }
    bool children = !scope->scope().entries.empty();
    Abbrev kind = type != NO_TYPE ? (children ? FUNCTION_TYPED : FUNCTION_TYPED_LEAF)
                                  : (children ? FUNCTION : FUNCTION_LEAF);
    const SymbolRecord* start_symbol = find_symbol(run, name.c_str());
    uint32_t low = start_symbol ? start_symbol->value : 0;
    const SymbolRecord* end_symbol = find_symbol(run, ("__end_of" + name).c_str());
    uint32_t high = end_symbol ? end_symbol->value : low + 1;
    range_.take(low);
    range_.take(high);

    ByteWriter frame_base(order_);
    frame_base.u8(DW_OP_reg29);
    ByteWriter buffer(order_);
    Entry function = start(buffer, kind);
    function.text(name);
    if (type != NO_TYPE) function.number(type);
    function.number(declaring && declaring->sclass == SC_EXTERN ? 1 : 0)
        .number(current_file_)
        .number(declaring ? declaring->line : 0)
        .number(low)
        .number(high)
        .block(frame_base);
    append(run, buffer);
}

void DwarfWriter::make_file_current(Run& run, const std::string& name) {
    std::string directory, base;
    split_file_name(name, &directory, &base);
    auto known = file_by_base_.find(base);
    if (known != file_by_base_.end()) {
        current_file_ = known->second;
        return;
    }
    UnitFile file;
    file.name = base;
    if (!directory.empty()) {
        std::vector<std::string>& directories = unit_files_.directories;
        size_t k = 1;
        while (k < directories.size() && directories[k] != directory)
            ++k;
        if (k == directories.size()) directories.push_back(directory);
        file.directory = static_cast<uint32_t>(k);
    }
    if (const FileRecord* record = find_file(run, name.c_str())) file.file = record->number;
    current_file_ = static_cast<uint32_t>(unit_files_.files.size());
    unit_files_.files.push_back(file);
    file_by_base_.emplace(base, current_file_);
}

// ---- Types ----

// The offset of the type's entry, which is written first when this unit has none yet;
// NO_TYPE when the type cannot be written.
uint32_t DwarfWriter::type_offset(Run& run, TypeRef node, unsigned depth) {
    if (!node || depth > MAX_TYPE_DEPTH) return NO_TYPE;
    std::string key;
    for (TypeRef at = node; at && key.size() < KEY_LIMIT; at = at.inner())
        key += at.node().text;
    if (key.size() > KEY_LIMIT) key.resize(KEY_LIMIT);

    auto named = typedef_names_.find(key);
    CachedType* typedef_hit = named != typedef_names_.end() ? &named->second : nullptr;
    if (typedef_hit && typedef_hit->offset != NO_TYPE) return typedef_hit->offset;
    auto cached = cache_by_key_.find(key);
    if (cached != cache_by_key_.end() && cached->second->offset != NO_TYPE)
        return cached->second->offset;
    CachedType* slot = typedef_hit;
    if (!slot) {
        slot = &cache_.emplace_back();
        cache_by_key_.emplace(key, slot);
    }
    uint32_t offset = write_type(run, node, slot, depth + 1);
    slot->offset = offset;
    return offset;
}

uint32_t DwarfWriter::write_type(Run& run, TypeRef node, CachedType* slot, unsigned depth) {
    switch (node.kind()) {
    case TYPE_BASIC: return write_base(run, node);
    case TYPE_FUNCTION: return write_function_type(run, node, depth);
    case TYPE_POINTER: return write_pointer(run, node, depth);
    case TYPE_ENUM: return write_enumeration(run, node.node());
    case TYPE_STRUCT: return write_structure(run, node.node(), slot, depth);
    case TYPE_ARRAY: return write_array(run, node, depth);
    case TYPE_QUALIFIER: return write_qualified(run, node, depth);
    default: return NO_TYPE;
    }
}

uint32_t DwarfWriter::write_base(Run& run, TypeRef node) {
    BaseType base;
    if (!base_type(node.node(), &base)) return NO_TYPE;
    std::string key = node.node().text.substr(0, KEY_LIMIT);
    ByteWriter buffer(order_);
    start(buffer, BASE)
        .text(base.name ? std::string_view(base.name) : std::string_view(key))
        .number(node.node().extra)
        .number(base.encoding);
    return append(run, buffer);
}

uint32_t DwarfWriter::write_function_type(Run& run, TypeRef node, unsigned depth) {
    uint32_t returned = type_offset(run, node.inner(), depth);
    return returned != NO_TYPE ? write_referring(run, SUBROUTINE_TYPED, returned)
                               : write_referring(run, SUBROUTINE, NO_TYPE);
}

// An entry of a kind that holds only a type reference (or nothing, for NO_TYPE).
uint32_t DwarfWriter::write_referring(Run& run, Abbrev kind, uint32_t type) {
    ByteWriter buffer(order_);
    Entry entry = start(buffer, kind);
    if (type != NO_TYPE) entry.number(type);
    return append(run, buffer);
}

uint32_t DwarfWriter::write_pointer(Run& run, TypeRef node, unsigned depth) {
    TypeRef target = node.inner();
    uint32_t type = type_offset(run, target, depth);
    ByteWriter buffer(order_);
    Entry pointer = start(buffer, type != NO_TYPE ? POINTER_TO : POINTER);
    size_t reference_at = pointer.here();
    if (type != NO_TYPE) pointer.number(type);
    pointer.number(type_size(run, node));
    uint32_t offset = append(run, buffer);
    if (type == BEING_WRITTEN) {
        // The structure's offset is filled in when its entry is finished.
        TypeRef structure = target;
        while (structure.kind() == TYPE_QUALIFIER)
            structure = structure.inner();
        if (structure.kind() == TYPE_STRUCT && reference_at + 4 <= ENTRY_LIMIT)
            waiting_for_[structure.node().entry].push_back(unit_start_ + offset + reference_at);
    }
    return offset;
}

uint32_t DwarfWriter::write_enumeration(Run& run, const TypeNode& node) {
    const ScopeEntry* enumeration = node.entry;
    if (!enumeration) return NO_TYPE;
    bool named = !enumeration->aggregate().tag.empty() && enumeration->aggregate().tag != ".";
    ByteWriter buffer(order_);
    Entry entry = start(buffer, named ? ENUM_NAMED : ENUM_ANONYMOUS);
    size_t sibling_at = entry.here();
    entry.number(0);
    if (named) entry.text(enumeration->aggregate().tag);
    entry.number(enumeration->aggregate().base_size);
    for (const Enumerator& enumerator : enumeration->aggregate().enumerators)
        start(buffer, ENUMERATOR).text(enumerator.name).number(uint32_t(enumerator.value));
    buffer.u8(0);
    buffer.patch(sibling_at, unit_offset() + buffer.size(), 4);
    return append(run, buffer);
}

uint32_t DwarfWriter::write_structure(Run& run, const TypeNode& node, CachedType* slot,
                                      unsigned depth) {
    const ScopeEntry* structure = node.entry;
    if (!structure) return NO_TYPE;
    slot->offset = BEING_WRITTEN;
    bool named = !structure->aggregate().tag.empty();
    Abbrev kind = structure->aggregate().is_union ? (named ? UNION_NAMED : UNION_ANONYMOUS)
                                                  : (named ? STRUCT_NAMED : STRUCT_ANONYMOUS);
    ByteWriter buffer(order_);
    Entry entry = start(buffer, kind);
    size_t sibling_at = entry.here();
    entry.number(0);
    if (named) entry.text(structure->aggregate().tag);
    entry.number(structure->aggregate().size).number(current_file_).number(structure->line);
    for (const Member& member : structure->aggregate().members)
        write_member(run, buffer, *structure, member, depth);
    buffer.u8(0);
    buffer.patch(sibling_at, unit_offset() + buffer.size(), 4);
    uint32_t offset = append(run, buffer);
    auto waiting = waiting_for_.find(structure);
    if (waiting != waiting_for_.end()) {
        for (size_t at : waiting->second)
            info_.patch(at, offset, 4);
        waiting_for_.erase(waiting);
    }
    return offset;
}

// A member entry, after its type's entry; a member whose type cannot be written is left
// out.
void DwarfWriter::write_member(Run& run, ByteWriter& buffer, const ScopeEntry& structure,
                               const Member& member, unsigned depth) {
    uint32_t type = type_offset(run, TypeRef(member.type), depth);
    if (type == NO_TYPE) {
        alert(run.messages, "W", "DWARF: Couldn't find type for '%s'", member.name.c_str());
        return;
    }
    bool bits = member.bit_width != 0;
    Abbrev kind = structure.aggregate().is_union ? (bits ? UNION_BIT_MEMBER : UNION_MEMBER)
                                                 : (bits ? BIT_MEMBER : MEMBER);
    Entry entry = start(buffer, kind);
    entry.text(member.name).number(type);
    if (bits)
        entry.number(uint32_t(member.size))
            .number(uint32_t(member.bit_width))
            .number(uint32_t(member.size * 8 - member.bit_offset - 1));
    if (!structure.aggregate().is_union) {
        ByteWriter location(order_);
        location.u8(DW_OP_plus_uconst);
        location.uleb128(uint32_t(member.offset));
        entry.block(location);
    }
}

// Consecutive array nodes make one array, its dimensions outermost first.
uint32_t DwarfWriter::write_array(Run& run, TypeRef node, unsigned depth) {
    TypeRef element = node;
    while (element.kind() == TYPE_ARRAY)
        element = element.inner();
    uint32_t type = type_offset(run, element, depth);
    if (type == NO_TYPE) return NO_TYPE;
    ByteWriter buffer(order_);
    Entry array = start(buffer, ARRAY);
    size_t sibling_at = array.here();
    array.number(0).number(type);
    for (TypeRef at = node; at.kind() == TYPE_ARRAY; at = at.inner())
        start(buffer, SUBRANGE).number(uint32_t(at.node().value - 1));
    buffer.u8(0);
    buffer.patch(sibling_at, unit_offset() + buffer.size(), 4);
    return append(run, buffer);
}

uint32_t DwarfWriter::write_qualified(Run& run, TypeRef node, unsigned depth) {
    uint32_t type = type_offset(run, node.inner(), depth);
    if (type == NO_TYPE) return NO_TYPE;
    uint32_t qualifiers = node.node().value;
    if (qualifiers & CONST_QUALIFIER) type = write_referring(run, CONST, type);
    if (qualifiers & VOLATILE_QUALIFIER) type = write_referring(run, VOLATILE, type);
    return type;
}

} // namespace

void dwarf_emit(Run& run, std::vector<DebugSection>& sections) {
    if (!run.type_model.global_scope) return;
    DwarfWriter(run).write(run, sections);
}
