// OMF-51 files: the record frame's users share the record tables, debug items and
// module writer here (omf51_internal.h); the format itself detects, reads, writes and
// dumps absolute object files of 8051 tool chains.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "common/alert.h"
#include "common/format.h"
#include "common/options.h"
#include "formats/descriptors.h"
#include "formats/omf/omf51_internal.h"
#include "model/run.h"
#include "model/store.h"

const char* const omf_memory_types[8] = {"CODE", "XDATA",  "DATA", "IDATA",
                                         "BIT",  "NUMBER", "???6", "???7"};

namespace {

constexpr size_t CONTENT_PIECE = 256; // data bytes of a Content record at most
constexpr size_t PENDING_LIMIT = 500; // a pending debug-item record holding more is full
constexpr unsigned SHOWN_CONTENT = 12;

const char* const DEFINITION_TYPES[4] = {"Local symbols", "Public symbols", "Segment symbols",
                                         "Line numbers"};
const char* const BLOCK_TYPES[6] = {"Module block",     "Do block",     "Procedure block",
                                    "Module block end", "Do block end", "Procedure block end"};

// The store segment number of a name; 0 when there is none.
uint32_t segment_number(Run& run, const char* name) {
    const SegmentRecord* segment = find_segment(run, name);
    for (uint32_t k = 0; segment && k < run.store.segments.count(); ++k)
        if (run.store.segments[k] == segment) return k + 1;
    return 0;
}

// ---- Dumps ----

void print_name(ByteReader& in) {
    std::string name;
    read_name(in, &name);
    printf("%s", name.c_str());
}

void dump_module_header(Run&, const OmfRecord& record) {
    ByteReader in = record.content();
    printf("Name: '");
    print_name(in);
    printf("'; TRN ID = 0x%2.2X\n", unsigned(in.u8()));
}

void dump_module_end(Run&, const OmfRecord& record) {
    ByteReader in = record.content();
    printf("Name: '");
    print_name(in);
    in.skip(2);
    printf("'; REG MSK = 0x%2.2X\n", unsigned(in.u8()));
}

void dump_content(Run&, const OmfRecord& record) {
    if (record.length < 4) { // not even the segment id and offset
        printf("Bad length\n");
        return;
    }
    ByteReader in = record.content();
    unsigned segment = in.u8();
    unsigned offset = in.u16();
    int count = int(record.length) - 4;
    printf("Seg id %d, offset = 0x%4.4X, %d bytes; ", int(segment), offset, count);
    for (int k = 0; k < count && k < int(SHOWN_CONTENT) && in.ok(); ++k) {
        uint8_t byte = in.u8();
        if (in.ok()) printf("%2.2X ", unsigned(byte));
    }
    printf("\n");
}

void dump_scope(Run&, const OmfRecord& record) {
    ByteReader in = record.content();
    unsigned block = in.u8();
    printf("%s; Name = '", block < 6 ? BLOCK_TYPES[block] : "UNKNOWN");
    print_name(in);
    printf("'\n");
}

void dump_plain_items(Run&, const OmfRecord& record) {
    dump_debug_items(record, false);
}

// ---- Reading ----

void read_content(Run& run, const OmfRecord& record, OmfReadState&) {
    if (record.length < 4) return;
    const uint8_t* data = record.bytes.data() + 3;
    uint32_t offset = uint32_t(record.bytes[1] | record.bytes[2] << 8);
    add_data(run, offset, uint32_t(record.length - 4), data, 0);
}

void read_scope(Run& run, const OmfRecord& record, OmfReadState& state) {
    ByteReader in = record.content();
    uint8_t block = in.u8();
    std::string name;
    if (!read_name(in, &name)) return;
    if (block == OMF_MODULE_BLOCK)
        state.current_file = add_file(run, name.c_str());
    else if (block == OMF_MODULE_END_BLOCK)
        state.current_file = 0;
}

} // namespace

// ---- Shared ----

const OmfRecordTable& omf51_record_table() {
    static const OmfRecordTable table = {
        {"Module header", OMF_MODULE_HEADER, dump_module_header, nullptr},
        {"Module END", OMF_MODULE_END, dump_module_end, nullptr},
        {"Content", OMF_CONTENT, dump_content, read_content},
        {"Fixup", 0x08, nullptr, nullptr},
        {"Segment Def", 0x0E, nullptr, nullptr},
        {"Scope Def", OMF_SCOPE_DEF, dump_scope, read_scope},
        {"Debug Item", OMF_DEBUG_ITEM, dump_plain_items, read_debug_items},
        {"Public Def", 0x16, nullptr, nullptr},
        {"External Def", 0x18, nullptr, nullptr},
        {"LIB Modlocs", 0x26, nullptr, nullptr},
        {"LIB Modname", 0x28, nullptr, nullptr},
        {"LIB Dictionary", 0x2A, nullptr, nullptr},
        {"LIB Header", 0x2C, nullptr, nullptr},
    };
    return table;
}

std::string item_type_name(unsigned index) {
    static const char* const BASE[13] = {
        "typeless",     "bit",         "signed char",     "unsigned char", "signed int",
        "unsigned int", "signed long", "unsigned long",   "float",         "double",
        "code label",   "void",        "float big endian"};
    char text[32];
    if (index < 13) return BASE[index];
    snprintf(text, sizeof text, index < 32 ? "Unknown(%X)" : "Typedef(%X)", index);
    return text;
}

unsigned omf_memory_type(Run& run, uint32_t segment) {
    const char* name = segment_name(run, segment);
    if (!*name) return OMF_MEMORY_NUMBER;
    int first = toupper(static_cast<unsigned char>(name[0]));
    for (unsigned k = 0; k < OMF_MEMORY_NUMBER; ++k)
        if (omf_memory_types[k][0] == first) return k;
    return OMF_MEMORY_NUMBER;
}

// Items until the content's end: symbol items (segment id, info, offset, type index,
// name) or line items (segment id, offset, line).
void dump_debug_items(const OmfRecord& record, bool typed) {
    ByteReader in = record.content();
    uint8_t definition = in.u8();
    printf("%s\n", definition < 4 ? DEFINITION_TYPES[definition] : "Unknown type");
    while (in.ok() && in.remaining() > 0) {
        uint8_t segment = in.u8();
        if (definition == OMF_LINES) {
            uint16_t offset = in.u16();
            uint16_t line = in.u16();
            if (!in.ok()) break;
            printf("\t\tSEG %d, offset 0x%4.4X, line %d\n", int(segment), unsigned(offset),
                   int(line));
            continue;
        }
        uint8_t info = in.u8();
        uint16_t offset = in.u16();
        uint8_t type_index = in.u8();
        std::string name;
        if (!read_name(in, &name)) break;
        printf("\t\tSEG %d, ", int(segment));
        if (definition == OMF_SEGMENT_SYMBOLS) {
            if (info & OMF_BANK_GIVEN) printf("BANK %d ", int(info >> 3 & 3));
            printf("%s ", omf_memory_types[info & OMF_MEMORY_MASK]);
        } else {
            if (info & OMF_INDIRECT) printf("IND ");
            printf("%s", info & OMF_VARIABLE ? "VAR " : "FUNC ");
            if (info & OMF_BANK_GIVEN) printf("BANK %d ", int(info >> 3 & 3));
            printf("%s ", omf_memory_types[info & OMF_MEMORY_MASK]);
            if (typed) printf("%s ", item_type_name(type_index).c_str());
        }
        printf("offset 0x%4.4X: %s\n", unsigned(offset), name.c_str());
    }
    if (!in.ok()) printf("Bad length\n");
}

void read_debug_items(Run& run, const OmfRecord& record, OmfReadState& state) {
    ByteReader in = record.content();
    uint8_t definition = in.u8();
    if (definition > OMF_LINES) return;
    std::string name;
    while (in.ok() && in.remaining() > 0) {
        uint8_t segment = in.u8();
        if (definition == OMF_LINES) {
            uint16_t offset = in.u16();
            uint16_t line = in.u16();
            if (in.ok()) add_line(run, line, offset, segment, state.current_file, 2);
            continue;
        }
        uint8_t info = in.u8();
        uint16_t offset = in.u16();
        in.u8(); // the type index
        if (!read_name(in, &name)) break;
        if (definition == OMF_SEGMENT_SYMBOLS) {
            if (!find_segment(run, name.c_str()))
                add_segment(run, name.c_str(), offset, 0, offset, segment);
            continue;
        }
        uint32_t flags = definition == OMF_LOCAL ? uint32_t(SYM_LOCAL) : 0;
        if (!(info & OMF_VARIABLE)) flags |= SYM_KIND_MARK;
        unsigned memory = info & OMF_MEMORY_MASK;
        uint32_t store_segment =
            memory < OMF_MEMORY_NUMBER ? segment_number(run, omf_memory_types[memory]) : 0;
        add_symbol(run, name.c_str(), offset, store_segment, state.current_file, flags);
    }
}

int read_omf_file(Run& run, FILE* in, const OmfRecordTable& table, const char* format_name) {
    for (unsigned k = 0; k < OMF_MEMORY_NUMBER; ++k)
        if (!find_segment(run, omf_memory_types[k]))
            add_segment(run, omf_memory_types[k], 0, 0, 0, k);
    RecordReader records(in);
    OmfRecord record;
    OmfReadState state;
    while (records.next(run, &record, true)) {
        auto kind = std::find_if(table.begin(), table.end(),
                                 [&](const OmfRecordKind& k) { return k.type == record.type; });
        if (kind == table.end()) {
            message(run.messages, 1042, format_name, unsigned(record.type));
            return 0;
        }
        if (kind->read) kind->read(run, record, state);
    }
    return 1;
}

bool dump_omf_file(Run& run, FILE* in, const char* title, const OmfRecordTable& table) {
    printf("%s\n\n", title);
    RecordReader records(in);
    OmfRecord record;
    while (records.next(run, &record, true)) {
        auto kind = std::find_if(table.begin(), table.end(),
                                 [&](const OmfRecordKind& k) { return k.type == record.type; });
        char unknown[24];
        snprintf(unknown, sizeof unknown, "Unknown(0x%X)", unsigned(record.type));
        printf("@%4.4lX %16.16s, len %3d: ", static_cast<unsigned long>(uint32_t(record.offset)),
               kind != table.end() ? kind->name : unknown, int(record.length));
        if (kind == table.end()) {
            printf("\n");
            if (run.options.verbose_level == 1)
                hex_dump(stdout, 0, 16, record.bytes.data(), record.bytes.size(), "\t%04lX:", true);
        } else if (kind->dump) {
            kind->dump(run, record);
        } else {
            printf("\n");
        }
    }
    return true;
}

// ---- Writing ----

std::string without_extension(const std::string& name) {
    size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

OmfWriter::OmfWriter(Run& run, FILE* out, const char* name, const OmfNameRules& rules)
    : run(run), output_(run.messages, out, name, 413), records_(output_), rules_(rules) {}

void OmfWriter::flush() {
    if (!pending_) return;
    if (before_flush) before_flush();
    pending_ = false;
    records_.write(pending_type_, pending_content_);
    pending_content_.clear();
}

void OmfWriter::record(uint8_t type, const std::vector<uint8_t>& content) {
    flush();
    records_.write(type, content);
}

void OmfWriter::name_string(ByteWriter& out, const std::string& name, bool module) const {
    std::string text = name;
    if (!module && rules_.items_lose_underscore && !text.empty() && text[0] == '_')
        text.erase(0, 1);
    size_t limit = module ? rules_.module_limit : rules_.item_limit;
    if (text.size() > limit) text.resize(limit);
    if (module || rules_.items_upper_case)
        for (char& c : text)
            c = char(toupper(static_cast<unsigned char>(c)));
    out.u8(text.size());
    out.text(text);
}

void OmfWriter::module_header(const std::string& name) {
    ByteWriter content;
    name_string(content, name, true);
    content.u8(0xFF);
    content.u8(0x00);
    record(OMF_MODULE_HEADER, content.bytes());
}

void OmfWriter::module_end(const std::string& name) {
    ByteWriter content;
    name_string(content, name, true);
    content.u32(0x000F0000); // two bytes, the register mask, one byte
    record(OMF_MODULE_END, content.bytes());
}

void OmfWriter::scope(uint8_t block, const std::string& name) {
    ByteWriter content;
    content.u8(block);
    name_string(content, name, true);
    record(OMF_SCOPE_DEF, content.bytes());
}

void OmfWriter::content(uint32_t address, const uint8_t* bytes, size_t count) {
    for (size_t done = 0; done < count; done += CONTENT_PIECE) {
        size_t size = std::min(CONTENT_PIECE, count - done);
        ByteWriter content;
        content.u8(0); // segment id
        content.u16(uint16_t(address + done));
        content.bytes(bytes + done, size);
        record(OMF_CONTENT, content.bytes());
    }
}

bool OmfWriter::joins_pending(uint8_t type, uint8_t definition) const {
    return pending_ && pending_type_ == type && pending_content_.size() <= PENDING_LIMIT &&
           pending_content_[0] == definition;
}

void OmfWriter::item(uint8_t type, uint8_t definition, const std::vector<uint8_t>& item) {
    if (!joins_pending(type, definition)) {
        flush();
        pending_ = true;
        pending_type_ = type;
        pending_content_.assign(1, definition);
    }
    pending_content_.insert(pending_content_.end(), item.begin(), item.end());
}

std::vector<uint8_t> OmfWriter::symbol_item(uint8_t info, uint32_t offset, uint8_t type_index,
                                            const std::string& name) const {
    ByteWriter item;
    item.u8(0); // segment id
    item.u8(info);
    item.u16(uint16_t(offset));
    item.u8(type_index);
    name_string(item, name, false);
    return item.take();
}

std::vector<uint8_t> OmfWriter::line_item(uint32_t address, uint32_t line) {
    ByteWriter item;
    item.u8(0); // segment id
    item.u16(uint16_t(address));
    item.u16(uint16_t(line));
    return item.take();
}

void write_plain_omf(Run& run, OmfWriter& writer) {
    bool first = true;
    for (const FileRecord* file : run.store.files) {
        if (!first && file->symbol_count == 0 && file->line_count == 0) continue;
        std::string module = without_extension(file->name);
        if (first) writer.module_header(module);
        writer.scope(OMF_MODULE_BLOCK, module);
        for (uint8_t definition : {OMF_PUBLIC, OMF_LOCAL})
            for (const SymbolRecord* symbol : file->symbols) {
                if (bool(symbol->flags & SYM_LOCAL) != (definition == OMF_LOCAL)) continue;
                unsigned memory = omf_memory_type(run, symbol->segment);
                uint8_t info = uint8_t(memory);
                if (memory != 0 && !(symbol->flags & SYM_KIND_MARK)) info |= OMF_VARIABLE;
                writer.item(OMF_DEBUG_ITEM, definition,
                            writer.symbol_item(info, symbol->value, 0, symbol->name));
            }
        for (const LineRecord* line : file->lines)
            writer.item(OMF_DEBUG_ITEM, OMF_LINES, OmfWriter::line_item(line->address, line->line));
        writer.scope(OMF_MODULE_END_BLOCK, module);
        if (first)
            for (const DataBlock* block : run.store.data)
                writer.content(block->address, block->bytes.data(),
                               std::min<size_t>(block->size, block->bytes.size()));
        first = false;
    }
    if (!run.store.files.empty())
        writer.module_end(
            without_extension(run.store.files.get(run.store.files.count() - 1)->name));
    writer.finish();
}

namespace {

bool omf51_detect(Run& run, FILE* in) {
    OmfRecord record;
    return RecordReader(in).next(run, &record, false) && record.type == OMF_MODULE_HEADER;
}

int omf51_read(Run& run, FILE* in, const char*) {
    return read_omf_file(run, in, omf51_record_table(), "OMF51");
}

int omf51_write(Run& run, FILE* out, const char* name) {
    OmfWriter writer(run, out, name, {40, 40, true, false});
    write_plain_omf(run, writer);
    return 1;
}

bool omf51_dump(Run& run, FILE* in) {
    return dump_omf_file(run, in, "OMF-51 file dump:", omf51_record_table());
}

} // namespace

const FormatDescriptor omf51_format = {
    omf51_detect, omf51_read, omf51_write, omf51_dump, "OMF-51", "omf51", "omf", true,
};
