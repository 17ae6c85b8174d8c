// Extended OMF-51 files: OMF-51 with typed debug items, type definitions, source file
// names and tool information. Read like OMF-51; written typed from the scopes and types
// of the side files when there is a type model, else plain; dumped record by record.
#include <algorithm>
#include <cctype>
#include <ctime>
#include <map>
#include <utility>

#include "common/alert.h"
#include "common/format.h"
#include "common/osdep.h"
#include "formats/descriptors.h"
#include "formats/omf/omf51_internal.h"
#include "model/machine.h"
#include "model/run.h"
#include "model/store.h"
#include "model/type.h"

namespace {

constexpr uint8_t OMF_TYPED_ITEM = OMF_KEIL_DEBUG_ITEM;

// Type descriptor kinds of a Keil typedef record.
enum : uint8_t {
    TD_MEMBER_LIST = 0x20,
    TD_ARRAY = 0x22,
    TD_FUNCTION = 0x23,
    TD_TAG = 0x24,
    TD_STRUCT = 0x25,
    TD_BIT_FIELD = 0x26,
    TD_POINTER = 0x28,
};

// Fixed type indexes.
enum : unsigned {
    TI_TYPELESS = 0,
    TI_SIGNED_CHAR = 2,
    TI_UNSIGNED_CHAR = 3,
    TI_SIGNED_INT = 4,
    TI_UNSIGNED_INT = 5,
    TI_SIGNED_LONG = 6,
    TI_UNSIGNED_LONG = 7,
    TI_VOID = 11,
    TI_FLOAT_BIG_ENDIAN = 12,
    TI_FIRST_TYPEDEF = 32, // the first descriptor of every typedef record
    TI_LAST = 255,         // an item's type index is one byte
};

constexpr size_t TYPEDEF_LIMIT = 32768;   // bytes of descriptors in one typedef record
constexpr size_t MEMBER_LIST_LIMIT = 255; // bytes of one member list descriptor
constexpr size_t MEMBER_NAME_LIMIT = 200;
constexpr size_t NAME_LIMIT = 255;
constexpr unsigned DEPTH_LIMIT = 400; // types and scopes nested deeper are not followed

// Memory spaces of a pointer descriptor.
const char* const POINTER_SPACES[6] = {"generic", "IDATA", "XDATA", "PDATA", "DATA", "CODE"};
const char* const FILE_KINDS[5] = {"output", "source", "header", "linker script", "object/library"};
constexpr uint8_t KEIL_INFO_COMMAND_LINE = 0xFF;

const OmfNameRules NAME_RULES = {NAME_LIMIT, NAME_LIMIT, false, true};

// ---- Dumps ----

std::string printable(const std::string& text) {
    std::string shown;
    for (char c : text)
        if (isprint(static_cast<unsigned char>(c))) shown += c;
    return shown;
}

void dump_typed_items(Run&, const OmfRecord& record) {
    dump_debug_items(record, true);
}

// "Flags: 0 Name: 'MAIN.C'": two flag bytes, one more, the name string.
void dump_source_name(Run&, const OmfRecord& record) {
    ByteReader in = record.content();
    unsigned flags = in.u16();
    in.skip(1);
    std::string name;
    if (!read_name(in, &name)) {
        printf("Bad length\n");
        return;
    }
    printf("Flags: %X Name: '%s'\n", flags, name.c_str());
}

// Seconds since 1970 as the 24-character local calendar time.
std::string calendar_time(uint32_t seconds) {
    std::string text = ctime_text(time_t(seconds));
    if (text.empty()) return "?";
    text.pop_back();
    return text;
}

void dump_keil_info(Run&, const OmfRecord& record) {
    printf("\n");
    ByteReader in = record.content();
    while (in.ok() && in.remaining() > 0) {
        uint8_t key = in.u8();
        if (key < 5) {
            uint8_t flag = in.u8();
            uint32_t seconds = in.u32();
            std::string name;
            if (!read_name(in, &name)) break;
            printf("\t\tFile: %s", FILE_KINDS[key]);
            if (flag) printf(" (%X)", unsigned(flag));
            printf(", Time = %s; Name = '%s'\n", calendar_time(seconds).c_str(),
                   printable(name).c_str());
        } else if (key == KEIL_INFO_COMMAND_LINE) {
            std::string text;
            if (!read_name(in, &text)) break;
            printf("\t\tCommand line: '%s'\n", printable(text).c_str());
        } else {
            printf("\t\tUnknown key 0x%02X\n", unsigned(key));
        }
    }
    if (!in.ok()) printf("Bad length\n");
}

std::string typedef_type_name(unsigned index) {
    if (index <= TI_FLOAT_BIG_ENDIAN) return item_type_name(index);
    char text[24];
    snprintf(text, sizeof text, "type(0x%X)", index);
    return text;
}

// One descriptor's line after its index; false when the descriptor is cut short or of
// a kind whose length is unknown, so the record's remaining bytes cannot be followed.
bool dump_descriptor(ByteReader& in) {
    uint8_t kind = in.u8();
    switch (kind) {
    case TD_MEMBER_LIST: {
        unsigned count = in.u8();
        in.skip(1);
        printf("members(%u):", count);
        for (unsigned k = 0; k < count && in.ok(); ++k) {
            unsigned offset = in.u8();
            unsigned extra = in.u8();
            unsigned type = in.u8();
            std::string name;
            if (!read_name(in, &name)) break;
            printf(" %s %s offs %X/%X;", typedef_type_name(type).c_str(), printable(name).c_str(),
                   offset, extra);
        }
        break;
    }
    case TD_ARRAY: {
        in.skip(1); // dimensions
        unsigned count = in.u16();
        unsigned element = in.u8();
        if (in.ok()) printf("Array[%u] of %s", count, typedef_type_name(element).c_str());
        break;
    }
    case TD_FUNCTION: {
        unsigned result = in.u8();
        unsigned parameters = in.u8();
        if (!in.ok()) break;
        printf("Function returning %s ", typedef_type_name(result).c_str());
        if (parameters)
            printf("parms 0x%X", parameters);
        else
            printf("no parms");
        break;
    }
    case TD_TAG: {
        unsigned flag = in.u8();
        std::string name;
        if (!read_name(in, &name)) break;
        printf("tag");
        if (flag) printf("(%X)", flag);
        printf(" '%s'", printable(name).c_str());
        break;
    }
    case TD_STRUCT: {
        unsigned size = in.u8();
        unsigned flag = in.u8();
        unsigned members = in.u8();
        unsigned tag = in.u8();
        if (!in.ok()) break;
        printf("struct size %u", size);
        if (flag) printf("(%X)", flag);
        printf(" membs %s tag %s", typedef_type_name(members).c_str(),
               typedef_type_name(tag).c_str());
        break;
    }
    case TD_BIT_FIELD: {
        in.skip(1);
        unsigned position = in.u8();
        unsigned width = in.u8();
        if (in.ok()) printf("bitfield(%u@%u)", width, position);
        break;
    }
    case TD_POINTER: {
        uint8_t bytes[8];
        if (!in.bytes(bytes, sizeof bytes)) break;
        unsigned space = bytes[2];
        printf("Pointer to %s size %u ", typedef_type_name(bytes[7]).c_str(), unsigned(bytes[1]));
        if (space < 6)
            printf("%s ", POINTER_SPACES[space]);
        else
            printf("space(%u) ", space);
        for (unsigned k : {0, 3, 4, 5, 6})
            printf("%X ", unsigned(bytes[k]));
        break;
    }
    default: printf("Unknown key 0x%02X\n", unsigned(kind)); return false;
    }
    if (!in.ok()) return false;
    printf("\n");
    return true;
}

void dump_typedefs(Run&, const OmfRecord& record) {
    printf("\n");
    ByteReader in = record.content();
    unsigned index = TI_FIRST_TYPEDEF;
    while (in.remaining() > 0) {
        printf("%27.27s0x%2.2X = ", "", index++);
        if (!dump_descriptor(in)) break;
    }
    if (!in.ok()) printf("\nBad length\n");
}

const OmfRecordTable& eomf51_record_table() {
    static const OmfRecordTable table = [] {
        OmfRecordTable rows = omf51_record_table();
        for (OmfRecordKind& row : rows)
            if (row.type == OMF_DEBUG_ITEM) row.dump = dump_typed_items;
        rows.push_back(
            {"Keil Debug Item", OMF_KEIL_DEBUG_ITEM, dump_typed_items, read_debug_items});
        rows.push_back({"Keil typedef", OMF_KEIL_TYPEDEF, dump_typedefs, nullptr});
        rows.push_back({"Keil info", OMF_KEIL_INFO, dump_keil_info, nullptr});
        rows.push_back({"Source file name", OMF_SOURCE_FILE_NAME, dump_source_name, nullptr});
        return rows;
    }();
    return table;
}

// ---- The typed writer ----

// What the cache knows a descriptor by: a structure's entry, a tag, bit-field or member
// list by what it was made for, any other type by its node.
using DescriptorKey = std::pair<const void*, int32_t>;
enum : int32_t { KEY_STRUCT = -1, KEY_TAG = -2, KEY_BIT_FIELD = -3, KEY_MEMBER_LIST = -4 };

class TypedWriter {
  public:
    TypedWriter(Run& run, FILE* out, const char* name)
        : name_(name), writer_(run, out, name, NAME_RULES),
          module_(without_extension(base_name(name))) {
        writer_.before_flush = [this] { before_flush(); };
    }
    void write(Run& run);

  private:
    struct Mark {
        size_t bytes;
        unsigned next_index;
        size_t added;
    };

    const char* name_;
    OmfWriter writer_;
    std::string module_;
    bool depth_reported_ = false; // message 427 given: something nested too deep was left out
    bool too_deep(Run& run, unsigned depth);

    // The typedef record being gathered for the pending debug items.
    ByteWriter typedefs_;
    unsigned next_index_ = TI_FIRST_TYPEDEF;
    std::map<DescriptorKey, unsigned> cache_;
    std::vector<DescriptorKey> added_; // cache keys in the order they were entered
    bool full_reported_ = false;       // message 622 given for the item being written

    std::string source_name_; // the current source file
    std::string named_source_;
    bool written_any_ = false;
    uint32_t written_low_ = 0, written_high_ = 0;

    void before_flush();
    Mark mark() const { return {typedefs_.size(), next_index_, added_.size()}; }
    void undo(const Mark& at);
    void reset_typedefs();

    unsigned type_index(Run& run, TypeRef type, unsigned depth);
    unsigned structure_index(Run& run, const ScopeEntry* entry, unsigned depth);
    unsigned add_descriptor(Run& run, DescriptorKey key, const ByteWriter& descriptor);
    void typed_item(Run& run, uint8_t definition, uint8_t info, uint32_t address,
                    const ScopeEntry* entry);

    void write_scope(Run& run, ScopeEntry* scope, const FileRecord* line_file, unsigned depth);
    void write_data_item(Run& run, ScopeEntry* entry, ScopeEntry* scope);
    void write_function(Run& run, ScopeEntry* function, const FileRecord* line_file,
                        unsigned depth);
    void write_range(Run& run, uint32_t low, uint32_t high);
};

// Types and scopes nested past DEPTH_LIMIT are left out (a type as typeless), with one
// warning per file.
bool TypedWriter::too_deep(Run& run, unsigned depth) {
    if (depth <= DEPTH_LIMIT) return false;
    if (!depth_reported_) message(run.messages, 427, name_, int(DEPTH_LIMIT));
    depth_reported_ = true;
    return true;
}

void TypedWriter::before_flush() {
    if (source_name_ != named_source_) {
        ByteWriter content;
        content.zeros(3);
        writer_.name_string(content, source_name_, true);
        writer_.record_now(OMF_SOURCE_FILE_NAME, content.bytes());
        named_source_ = source_name_;
    }
    if (typedefs_.size()) {
        writer_.record_now(OMF_KEIL_TYPEDEF, typedefs_.bytes());
        reset_typedefs();
    }
}

void TypedWriter::reset_typedefs() {
    typedefs_.resize(0);
    next_index_ = TI_FIRST_TYPEDEF;
    cache_.clear();
    added_.clear();
}

void TypedWriter::undo(const Mark& at) {
    typedefs_.resize(at.bytes);
    next_index_ = at.next_index;
    while (added_.size() > at.added) {
        cache_.erase(added_.back());
        added_.pop_back();
    }
}

unsigned TypedWriter::add_descriptor(Run& run, DescriptorKey key, const ByteWriter& descriptor) {
    unsigned index = TI_TYPELESS;
    if (typedefs_.size() + descriptor.size() > TYPEDEF_LIMIT) {
        if (!full_reported_) message(run.messages, 622);
        full_reported_ = true;
    } else {
        typedefs_.bytes(descriptor.bytes().data(), descriptor.size());
        index = next_index_++;
    }
    cache_[key] = index;
    added_.push_back(key);
    return index;
}

unsigned basic_index(const TypeNode& node) {
    unsigned size = node.extra;
    unsigned step = size == 1 ? 0 : size == 2 ? 2 : size == 4 ? 4 : 99;
    switch (node.value) {
    case BASIC_VOID: return TI_VOID;
    case BASIC_SIGNED: return step < 99 ? TI_SIGNED_CHAR + step : TI_TYPELESS;
    case BASIC_UNSIGNED: return step < 99 ? TI_UNSIGNED_CHAR + step : TI_TYPELESS;
    case BASIC_FLOAT: return TI_FLOAT_BIG_ENDIAN;
    default: return TI_TYPELESS;
    }
}

// An enumeration is signed when one of its enumerators is negative.
unsigned enumeration_index(const ScopeEntry* entry) {
    if (!entry) return TI_TYPELESS;
    bool is_signed =
        std::any_of(entry->aggregate().enumerators.begin(), entry->aggregate().enumerators.end(),
                    [](const Enumerator& e) { return e.value < 0; });
    bool byte = entry->aggregate().base_size == 1;
    if (is_signed) return byte ? TI_SIGNED_CHAR : TI_SIGNED_INT;
    return byte ? TI_UNSIGNED_CHAR : TI_UNSIGNED_INT;
}

// The memory space a pointer's target qualifier names.
uint8_t pointer_space(TypeRef target) {
    if (target.kind() != TYPE_QUALIFIER) return 0;
    uint32_t mask = target.node().value;
    if (mask & 0x20) return 1;   // IDATA
    if (mask & 0x1004) return 2; // XDATA
    if (mask & 0x80) return 3;   // PDATA
    if (mask & 0x8) return 4;    // DATA
    if (mask & 0x400) return 5;  // CODE
    return 0;
}

unsigned TypedWriter::type_index(Run& run, TypeRef type, unsigned depth) {
    while (type.kind() == TYPE_QUALIFIER)
        type = type.inner();
    if (!type) return TI_TYPELESS;
    const TypeNode& node = type.node();
    if (node.kind == TYPE_BASIC) return basic_index(node);
    if (node.kind == TYPE_ENUM) return enumeration_index(node.entry);
    if (too_deep(run, depth)) return TI_TYPELESS;
    if (node.kind == TYPE_STRUCT) return structure_index(run, node.entry, depth);

    DescriptorKey key{type.type, type.index};
    auto known = cache_.find(key);
    if (known != cache_.end()) return known->second;
    TypeRef inner = type.inner();
    unsigned target = type_index(run, inner, depth + 1);
    ByteWriter descriptor;
    switch (node.kind) {
    case TYPE_POINTER: {
        uint8_t space = pointer_space(inner);
        descriptor.u8(TD_POINTER);
        descriptor.u8(space ? 2 : 1);
        descriptor.u8(type_size(run, type));
        descriptor.u8(space);
        descriptor.u32(1);
        break;
    }
    case TYPE_ARRAY:
        descriptor.u8(TD_ARRAY);
        descriptor.u8(1); // one dimension
        descriptor.u16(node.value);
        break;
    case TYPE_FUNCTION: descriptor.u8(TD_FUNCTION); break;
    default: return TI_TYPELESS;
    }
    descriptor.u8(target);
    if (node.kind == TYPE_FUNCTION) descriptor.u8(0); // no parameters described
    return add_descriptor(run, key, descriptor);
}

// A structure or union: its tag, its members' types, its member lists one after the
// other (each taking an index; the structure names the first), then the structure.
unsigned TypedWriter::structure_index(Run& run, const ScopeEntry* entry, unsigned depth) {
    if (!entry) return TI_TYPELESS;
    DescriptorKey key{entry, KEY_STRUCT};
    auto known = cache_.find(key);
    if (known != cache_.end()) return known->second;

    unsigned tag = TI_TYPELESS;
    if (!entry->aggregate().tag.empty()) {
        ByteWriter descriptor;
        descriptor.u8(TD_TAG);
        descriptor.u8(0);
        std::string name = entry->aggregate().tag.substr(0, NAME_LIMIT);
        descriptor.u8(name.size());
        descriptor.text(name);
        tag = add_descriptor(run, {entry, KEY_TAG}, descriptor);
    }
    cache_[key] = TI_TYPELESS; // a member that refers back to the structure
    added_.push_back(key);

    std::vector<unsigned> member_types;
    for (const Member& member : entry->aggregate().members) {
        if (member.bit_width) {
            ByteWriter descriptor;
            descriptor.u8(TD_BIT_FIELD);
            descriptor.u8(1);
            descriptor.u8(member.bit_offset);
            descriptor.u8(member.bit_width);
            member_types.push_back(add_descriptor(run, {&member, KEY_BIT_FIELD}, descriptor));
        } else {
            member_types.push_back(type_index(run, TypeRef(member.type), depth + 1));
        }
    }

    unsigned first_list = TI_TYPELESS;
    ByteWriter list;
    unsigned in_list = 0;
    const Member* list_start = nullptr;
    auto close_list = [&] {
        if (!in_list) return;
        list.patch(1, in_list, 1);
        unsigned index = add_descriptor(run, {list_start, KEY_MEMBER_LIST}, list);
        if (first_list == TI_TYPELESS) first_list = index;
        list = ByteWriter();
        in_list = 0;
    };
    for (size_t k = 0; k < entry->aggregate().members.size(); ++k) {
        const Member& member = entry->aggregate().members[k];
        std::string name = member.name.substr(0, MEMBER_NAME_LIMIT);
        if (in_list && list.size() + 4 + name.size() > MEMBER_LIST_LIMIT) close_list();
        if (!in_list) {
            list.u8(TD_MEMBER_LIST);
            list.u8(0); // the count, set when the list is closed
            list.u8(0);
            list_start = &member;
        }
        list.u8(member.offset);
        list.u8(0);
        list.u8(member_types[k]);
        list.u8(name.size());
        list.text(name);
        ++in_list;
    }
    close_list();

    ByteWriter descriptor;
    descriptor.u8(TD_STRUCT);
    descriptor.u8(entry->aggregate().size);
    descriptor.u8(0);
    descriptor.u8(first_list);
    descriptor.u8(tag);
    return add_descriptor(run, key, descriptor);
}

// A Keil debug item for a variable. Its type's descriptors go into the typedef record
// that precedes the pending record; when they would need an index past 255, or the
// item starts a new record anyway, they are taken back, the pending records written,
// and the type described again in a fresh typedef record.
void TypedWriter::typed_item(Run& run, uint8_t definition, uint8_t info, uint32_t address,
                             const ScopeEntry* entry) {
    full_reported_ = false;
    Mark before = mark();
    unsigned index = type_index(run, TypeRef(entry->type), 0);
    if (next_index_ > TI_LAST + 1 || !writer_.joins_pending(OMF_TYPED_ITEM, definition)) {
        undo(before);
        writer_.flush();
        reset_typedefs();
        index = type_index(run, TypeRef(entry->type), 0);
        if (next_index_ > TI_LAST + 1) { // more descriptors than one record holds
            reset_typedefs();
            index = TI_TYPELESS;
        }
    }
    writer_.item(OMF_TYPED_ITEM, definition,
                 writer_.symbol_item(info, address, uint8_t(index), entry->name));
}

uint8_t item_info(unsigned memory, const ScopeEntry* entry) {
    return uint8_t(memory | (is_function_type(entry->type) ? 0 : OMF_VARIABLE));
}

void TypedWriter::write_data_item(Run& run, ScopeEntry* entry, ScopeEntry* scope) {
    ValuePair at;
    switch (entry->sclass) {
    case SC_EXTERN:
        if (!variable_location(run, entry, scope, &at)) return;
        typed_item(run, OMF_PUBLIC, item_info(omf_memory_type(run, at.segment), entry), at.value,
                   entry);
        if (SymbolRecord* symbol = find_symbol(run, entry->name.c_str()))
            symbol->flags |= SYM_DESCRIBED;
        return;
    case SC_STATIC:
    case SC_AUTO:
    case SC_PARAM:
    case SC_REG:
        // The item carries the location the entry keeps: a register variable keeps none,
        // so its offset is 0 whatever register it lives in.
        if (!variable_location(run, entry, scope, &at)) return;
        typed_item(run, OMF_LOCAL, item_info(omf_memory_type(run, at.segment), entry),
                   entry->location_value, entry);
        return;
    default: return;
    }
}

const FileRecord* line_file_of(Run& run, const ScopeEntry* entry, const FileRecord* line_file) {
    if (entry->sclass != SC_FILENAME) return line_file;
    return find_file(run, entry->name.c_str());
}

// A scope's variables, then its inner scopes.
void TypedWriter::write_scope(Run& run, ScopeEntry* scope, const FileRecord* line_file,
                              unsigned depth) {
    if (too_deep(run, depth)) return;
    writer_.flush();
    const FileRecord* file = line_file;
    for (ScopeEntry* entry : scope->scope().entries) {
        file = line_file_of(run, entry, file);
        write_data_item(run, entry, scope);
    }
    writer_.flush();
    file = line_file;
    for (ScopeEntry* entry : scope->scope().entries) {
        file = line_file_of(run, entry, file);
        switch (entry->sclass) {
        case SC_MODULE: {
            std::string name =
                entry->scope().function ? entry->scope().function->name : entry->name;
            writer_.scope(OMF_MODULE_BLOCK, name);
            write_scope(run, entry, file, depth + 1);
            writer_.scope(OMF_MODULE_END_BLOCK, name);
            break;
        }
        case SC_BLOCK:
            writer_.scope(OMF_DO_BLOCK, "");
            write_scope(run, entry, file, depth + 1);
            writer_.scope(OMF_DO_END_BLOCK, "");
            break;
        case SC_FUNC: write_function(run, entry, file, depth); break;
        default: break;
        }
    }
}

// A procedure block around a do block with the function's scope, its program data and
// its line numbers.
void TypedWriter::write_function(Run& run, ScopeEntry* function, const FileRecord* line_file,
                                 unsigned depth) {
    std::string name =
        function->scope().function ? function->scope().function->name : function->name;
    writer_.scope(OMF_PROCEDURE_BLOCK, name);
    writer_.scope(OMF_DO_BLOCK, "");
    write_scope(run, function, line_file, depth + 1);

    if (line_file) {
        // The file's line records are sorted by line number.
        const std::vector<LineRecord*>& lines = line_file->lines;
        auto first = std::lower_bound(
            lines.begin(), lines.end(), function->scope().first_line,
            [](const LineRecord* record, uint32_t line) { return record->line < line; });
        auto last = first;
        while (last != lines.end() && (*last)->line <= function->scope().last_line)
            ++last;
        if (first != last) {
            uint32_t low = UINT32_MAX, high = 0;
            for (auto at = first; at != last; ++at) {
                low = std::min(low, (*at)->address);
                high = std::max(high, (*at)->address);
                if (at + 1 != lines.end()) high = std::max(high, at[1]->address);
            }
            write_range(run, low, high);
        }
        for (auto at = first; at != last; ++at)
            writer_.item(OMF_DEBUG_ITEM, OMF_LINES,
                         OmfWriter::line_item((*at)->address, (*at)->line));
    }
    writer_.scope(OMF_DO_END_BLOCK, "");
    writer_.scope(OMF_PROCEDURE_END_BLOCK, name);
}

// The program data of [low, high) not yet written: the written interval grows to cover
// the range, and what it gains on either side is written, the lower part first.
void TypedWriter::write_range(Run& run, uint32_t low, uint32_t high) {
    if (low >= high) return;
    std::vector<std::pair<uint32_t, uint32_t>> parts;
    if (!written_any_) {
        parts.push_back({low, high});
        written_low_ = low, written_high_ = high, written_any_ = true;
    } else {
        if (low < written_low_) parts.push_back({low, written_low_});
        if (high > written_high_) parts.push_back({written_high_, high});
        written_low_ = std::min(low, written_low_);
        written_high_ = std::max(high, written_high_);
    }
    for (auto [from, to] : parts)
        for (const DataBlock* block : run.store.data) {
            uint64_t start = block->address;
            uint64_t end = start + std::min<uint64_t>(block->size, block->bytes.size());
            uint64_t clip_from = std::max<uint64_t>(start, from);
            uint64_t clip_to = std::min<uint64_t>(end, to);
            if (clip_from < clip_to)
                writer_.content(uint32_t(clip_from), block->bytes.data() + (clip_from - start),
                                size_t(clip_to - clip_from));
        }
}

void TypedWriter::write(Run& run) {
    writer_.module_header(module_);
    for (ScopeEntry* entry : run.type_model.global_scope->scope().entries) {
        if (entry->sclass != SC_MODULE) continue;
        std::string module = without_extension(entry->name);
        writer_.scope(OMF_MODULE_BLOCK, module);
        std::string source = module + ".c";
        const FileRecord* file = find_file(run, source.c_str());
        if (file) source_name_ = source;
        write_scope(run, entry, file, 0);
        writer_.scope(OMF_MODULE_END_BLOCK, module);
    }
    for (const FileRecord* file : run.store.files)
        for (const SymbolRecord* symbol : file->symbols) {
            if (symbol->flags & (SYM_LOCAL | SYM_DESCRIBED)) continue;
            unsigned memory = omf_memory_type(run, symbol->segment);
            uint8_t info = uint8_t(memory);
            if (memory != 0 && !(symbol->flags & SYM_KIND_MARK)) info |= OMF_VARIABLE;
            writer_.item(OMF_DEBUG_ITEM, OMF_PUBLIC,
                         writer_.symbol_item(info, symbol->value, 0, symbol->name));
        }
    uint64_t low = UINT64_MAX, high = 0;
    for (const DataBlock* block : run.store.data) {
        low = std::min<uint64_t>(low, block->address);
        high = std::max<uint64_t>(high, uint64_t(block->address) + block->size);
    }
    if (low < high) write_range(run, uint32_t(low), uint32_t(std::min<uint64_t>(high, UINT32_MAX)));
    writer_.module_end(module_);
    writer_.finish();
}

// ---- The format ----

bool eomf51_detect(Run& run, FILE* in) {
    RecordReader records(in);
    OmfRecord record;
    while (records.next(run, &record, false))
        if (record.type != OMF_KEIL_INFO) return record.type == OMF_MODULE_HEADER;
    return false;
}

int eomf51_read(Run& run, FILE* in, const char*) {
    return read_omf_file(run, in, eomf51_record_table(), "eomf51");
}

int eomf51_write(Run& run, FILE* out, const char* name) {
    if (run.type_model.global_scope) {
        TypedWriter(run, out, name).write(run);
    } else {
        OmfWriter writer(run, out, name, NAME_RULES);
        write_plain_omf(run, writer);
    }
    return 1;
}

bool eomf51_dump(Run& run, FILE* in) {
    return dump_omf_file(run, in, "Extended OMF-51 file dump:", eomf51_record_table());
}

} // namespace

const FormatDescriptor eomf51_format = {
    eomf51_detect, eomf51_read, eomf51_write, eomf51_dump, "Extended OMF-51", "eomf51", "abs", true,
};
