// Holtek DBG files: the debug file Holtek's tools load beside a program. It lists the
// source files, the symbols with their sizes, the line-number table and, from the side
// files' scopes, the C blocks with their variables. Records are framed as in OMF-51;
// one escape (0xCB and three bytes outside any record) follows the header. Reading
// checks the records only.
#include <algorithm>
#include <cctype>
#include <map>
#include <string>
#include <vector>

#include "common/alert.h"
#include "common/binio.h"
#include "common/format.h"
#include "formats/descriptors.h"
#include "formats/omf/omfrecord.h"
#include "model/machine.h"
#include "model/run.h"
#include "model/store.h"
#include "model/type.h"

namespace {

enum : uint8_t {
    DBG_HEADER = 0x4A,
    DBG_FILE_NAMES = 0x70,
    DBG_SYMBOL_INFO = 0x78,
    DBG_LINE_INFO = 0x74,
    DBG_C_SCOPE = 0xC2,
    DBG_FILE_END = 0xCA,
    DBG_ESCAPE = 0xCB,
};

// Symbol type bytes.
enum : uint8_t {
    DBG_FAR_LABEL = 1,
    DBG_BIT = 2,
    DBG_BYTE = 4,
    DBG_WORD = 5,
    DBG_DWORD = 6,
    DBG_FLOAT3 = 28,
    DBG_FLOAT4 = 29,
};
const char* const SYMBOL_TYPES[7] = {"near label", "far label", "bit",  "nibble",
                                     "byte",       "word",      "dword"};

enum : uint8_t { SECTION_DATA = 0, SECTION_CODE = 1 };

constexpr size_t BUFFER_SIZE = 1024; // a record under construction, its frame header included
constexpr size_t FRAME_HEADER = 3;   // type and length
constexpr size_t ENTRY_ROOM = 257;   // free bytes a pending record needs for another entry
constexpr size_t LINE_ENTRY = 4;
constexpr size_t NAME_LIMIT = 255;
constexpr unsigned DEPTH_LIMIT = 400; // scopes nested deeper are not followed
const uint8_t ESCAPE_BYTES[4] = {DBG_ESCAPE, 0x55, 0x55, 0x00};

struct RecordKind {
    const char* name;
    uint8_t type;
};
const RecordKind RECORD_KINDS[] = {
    {"Debug header", DBG_HEADER},     {"File names", DBG_FILE_NAMES},
    {"Symbol info", DBG_SYMBOL_INFO}, {"Line number info", DBG_LINE_INFO},
    {"C scope info", DBG_C_SCOPE},    {"File end", DBG_FILE_END},
};

const RecordKind* record_kind(uint8_t type) {
    for (const RecordKind& kind : RECORD_KINDS)
        if (kind.type == type) return &kind;
    return nullptr;
}

// Numbers (file indexes, line positions, symbol indexes): one byte below 128, else two,
// the first 0x80 with the high bits. A number holds 15 bits: a larger value keeps its
// low 15 bits, and the answer is false.
constexpr uint32_t NUMBER_LIMIT = 0x7FFF;
bool put_number(ByteWriter& out, uint32_t value) {
    bool fits = value <= NUMBER_LIMIT;
    value &= NUMBER_LIMIT;
    if (value < 0x80) {
        out.u8(value);
    } else {
        out.u8(0x80 | value >> 8);
        out.u8(value & 0xFF);
    }
    return fits;
}

uint32_t get_number(ByteReader& in) {
    uint32_t first = in.u8();
    if (!(first & 0x80)) return first;
    return (first & 0x7F) << 8 | in.u8();
}

void put_name(ByteWriter& out, const std::string& name) {
    size_t length = std::min(name.size(), NAME_LIMIT);
    out.u8(length);
    out.bytes(name.data(), length);
}

bool contains_ignoring_case(const std::string& text, const char* part) {
    std::string lower = text;
    for (char& c : lower)
        c = char(tolower(static_cast<unsigned char>(c)));
    return lower.find(part) != std::string::npos;
}

// ---- Writing ----

// The writer's one pending record. A new entry joins it when it is of the type asked
// for and 257 bytes of the buffer are still free; otherwise it is written out and a new
// record begun, whose header the caller then writes.
class PendingRecord {
  public:
    PendingRecord(MessageState& messages, FILE* out, const char* name)
        : output_(messages, out, name, 413), records_(output_) {}

    // True when a new record was begun.
    bool ask(uint8_t type) {
        if (pending_ && type_ == type && BUFFER_SIZE - used() >= ENTRY_ROOM) return false;
        begin(type);
        return true;
    }
    void begin(uint8_t type) {
        flush();
        pending_ = true;
        type_ = type;
        content_ = ByteWriter(ByteOrder::little);
    }
    void flush() {
        if (!pending_) return;
        records_.write(type_, content_.bytes());
        pending_ = false;
    }
    void raw(const uint8_t* bytes, size_t count) { output_.write(bytes, count); }
    void finish() { flush(), output_.finish(); }

    bool pending(uint8_t type) const { return pending_ && type_ == type; }
    size_t used() const { return FRAME_HEADER + content_.size(); }
    ByteWriter& content() { return content_; }

  private:
    OutputFile output_;
    RecordWriter records_;
    bool pending_ = false;
    uint8_t type_ = 0;
    ByteWriter content_;
};

class DbgWriter {
  public:
    DbgWriter(Run& run, FILE* out, const char* name)
        : run(run), name_(name), record_(run.messages, out, name) {}
    void write();

  private:
    Run& run;
    const char* name_;
    PendingRecord record_;
    // What the format cannot hold is told once per file: numbers past its 15 bits (block
    // ids past 16), and scopes nested past DEPTH_LIMIT, which are left out.
    bool wrap_reported_ = false;
    bool depth_reported_ = false;
    void number(ByteWriter& out, uint32_t value);
    void report_wrap();
    uint32_t next_file_index_ = 1;
    uint32_t next_symbol_index_ = 1;
    uint32_t next_block_id_ = 1;
    uint32_t symbol_header_ = UINT32_MAX; // file index and section of the pending Symbol info
    FileRecord* current_file_ = nullptr;
    bool first_scope_ = true;
    std::map<const ScopeEntry*, uint32_t> symbol_index_;
    std::map<const ScopeEntry*, uint32_t> block_id_;

    bool typed() const {
        return run.type_model.global_scope && !run.type_model.global_scope->scope().entries.empty();
    }
    template <typename Visit> void walk_modules(Visit visit);

    void file_name(FileRecord* file);
    void symbol_entry(uint32_t file_index, uint8_t section, const std::string& name, uint32_t value,
                      uint8_t type);
    void variable(ScopeEntry* entry, ScopeEntry* scope);
    void lines();
    uint32_t line_position(uint32_t line, bool last) const;
    void scope_header(const ScopeEntry* scope, uint32_t parent, bool after_walk);
    void c_scope(ScopeEntry* scope, uint32_t parent, unsigned depth);
};

// Visits the entries of every module of the global scope, into blocks and functions:
// visit(entry, holding scope), and enter(scope) for each scope as it is entered.
template <typename Visit> void DbgWriter::walk_modules(Visit visit) {
    for (ScopeEntry* module : run.type_model.global_scope->scope().entries) {
        if (module->sclass != SC_MODULE) continue;
        visit(module, run.type_model.global_scope);
        walk_scope(
            module,
            [&](ScopeEntry* entry, ScopeEntry* holder) {
                if (entry->sclass == SC_MODULE) return false;
                visit(entry, holder);
                return true;
            },
            [](ScopeEntry*) {});
    }
}

void DbgWriter::file_name(FileRecord* file) {
    record_.ask(DBG_FILE_NAMES);
    put_name(record_.content(), file->name);
    file->output_index = next_file_index_++;
}

void DbgWriter::symbol_entry(uint32_t file_index, uint8_t section, const std::string& name,
                             uint32_t value, uint8_t type) {
    uint32_t header = file_index << 8 | section;
    if (record_.pending(DBG_SYMBOL_INFO) && header != symbol_header_) record_.flush();
    if (record_.ask(DBG_SYMBOL_INFO)) {
        number(record_.content(), file_index);
        record_.content().u8(section);
        symbol_header_ = header;
    }
    ByteWriter& out = record_.content();
    put_name(out, name);
    out.u16(uint16_t(value));
    out.u8(type);
}

// "F", digits, "_" and a letter: a static's compiler prefix, taken off.
std::string without_static_prefix(const std::string& name) {
    if (name.empty() || name[0] != 'F') return name;
    size_t at = 1;
    while (at < name.size() && isdigit(static_cast<unsigned char>(name[at])))
        ++at;
    if (at + 1 < name.size() && name[at] == '_' &&
        isalpha(static_cast<unsigned char>(name[at + 1])))
        return name.substr(at + 1);
    return name;
}

uint8_t symbol_type(Run& run, const Type* type) {
    if (is_bit_type(type)) return DBG_BIT;
    if (is_function_type(type)) return DBG_FAR_LABEL;
    TypeRef element(type);
    while (element.kind() == TYPE_ARRAY || element.kind() == TYPE_QUALIFIER)
        element = element.inner();
    if (!element) return DBG_BYTE;
    bool is_float = element.base().kind == TYPE_BASIC && element.base().value == BASIC_FLOAT;
    switch (type_size(run, element)) {
    case 0:
    case 1: return DBG_BYTE;
    case 2: return DBG_WORD;
    case 3: return is_float ? DBG_FLOAT3 : DBG_WORD;
    case 4: return is_float ? DBG_FLOAT4 : DBG_DWORD;
    default: return DBG_BYTE;
    }
}

void DbgWriter::variable(ScopeEntry* entry, ScopeEntry* scope) {
    bool function = is_function_type(entry->type);
    std::string name = entry->name;
    if (!function && !name.empty() && name[0] == '_') name.erase(0, 1);
    SymbolRecord* symbol = find_symbol(run, entry->name.c_str());
    ValuePair at;
    if (!variable_location(run, entry, scope, &at)) {
        if (symbol) symbol->flags |= SYM_DESCRIBED;
        return;
    }
    name = without_static_prefix(name);
    uint8_t section = SECTION_CODE;
    if (!function) {
        const SegmentRecord* ram = find_segment(run, "RAM");
        section = ram && ram->space == at.segment ? SECTION_DATA : SECTION_CODE;
    }
    uint32_t file_index = current_file_ ? current_file_->output_index : 0;
    symbol_entry(file_index, section, name, at.value, symbol_type(run, entry->type));
    symbol_index_[entry] = next_symbol_index_++;
    if (symbol) symbol->flags |= SYM_DESCRIBED;
}

bool is_variable(const ScopeEntry* entry) {
    switch (entry->sclass) {
    case SC_EXTERN:
    case SC_STATIC:
    case SC_AUTO:
    case SC_PARAM:
    case SC_REG: return true;
    default: return false;
    }
}

void DbgWriter::lines() {
    uint32_t position = 1;
    for (FileRecord* file : run.store.files) {
        if (file->lines.empty()) continue;
        ByteWriter header(ByteOrder::little);
        number(header, file->output_index);
        header.u8(1);
        bool begun = false;
        for (LineRecord* line : file->lines) {
            if (!begun || record_.used() > BUFFER_SIZE - LINE_ENTRY) {
                record_.begin(DBG_LINE_INFO);
                record_.content().bytes(header.bytes().data(), header.size());
                begun = true;
            }
            record_.content().u16(uint16_t(line->line));
            record_.content().u16(uint16_t(line->address));
            line->output_index = position++;
        }
    }
}

// The table position of a scope's first or last line in the current file: the record
// of that line, else the first with a larger line, else the last; 1 when there is none.
uint32_t DbgWriter::line_position(uint32_t line, bool last) const {
    if (!current_file_ || current_file_->lines.empty()) return 1;
    const std::vector<LineRecord*>& lines = current_file_->lines;
    auto found = std::lower_bound(lines.begin(), lines.end(), line,
                                  [](const LineRecord* r, uint32_t n) { return r->line < n; });
    if (found == lines.end()) --found;
    uint32_t position = (*found)->output_index ? (*found)->output_index : 1;
    return last && position > 1 ? position - 1 : position;
}

void DbgWriter::number(ByteWriter& out, uint32_t value) {
    if (!put_number(out, value)) report_wrap();
}

void DbgWriter::report_wrap() {
    if (!wrap_reported_) message(run.messages, 428, name_, int(NUMBER_LIMIT));
    wrap_reported_ = true;
}

void DbgWriter::scope_header(const ScopeEntry* scope, uint32_t parent, bool after_walk) {
    uint32_t& id = block_id_[scope];
    if (!id) id = next_block_id_++;
    ByteWriter& out = record_.content();
    if (id > 0xFFFF) report_wrap();
    out.u16(id);
    out.u16(parent);
    bool fixed = after_walk && id == 1;
    number(out, fixed ? 1 : line_position(scope->scope().first_line, false));
    number(out, fixed ? 1 : line_position(scope->scope().last_line, true));
}

// A scope's C scope records: its variables' symbol index pairs under a header naming its
// block, its parent and its line range; then its inner blocks and functions.
void DbgWriter::c_scope(ScopeEntry* scope, uint32_t parent, unsigned depth) {
    if (depth > DEPTH_LIMIT) {
        if (!depth_reported_) message(run.messages, 427, name_, int(DEPTH_LIMIT));
        depth_reported_ = true;
        return;
    }
    if (!scope->scope().file_name.empty())
        if (FileRecord* file = find_file(run, scope->scope().file_name.c_str()))
            current_file_ = file;
    bool marked = false;
    for (ScopeEntry* entry : scope->scope().entries) {
        if (entry->sclass == SC_BLOCK || entry->sclass == SC_FUNC) {
            marked = true;
        } else if (entry->sclass == SC_FILENAME) {
            FileRecord* file = find_file(run, entry->name.c_str());
            if (block_id_[scope] >= 2 && file != current_file_) {
                record_.flush();
                current_file_ = file;
            }
        } else if (is_variable(entry)) {
            if ((entry->sclass == SC_EXTERN || entry->sclass == SC_STATIC) &&
                is_function_type(entry->type))
                continue;
            auto index = symbol_index_.find(entry);
            if (index == symbol_index_.end()) continue;
            if (record_.ask(DBG_C_SCOPE)) scope_header(scope, parent, false);
            number(record_.content(), index->second);
            number(record_.content(), index->second);
        }
    }
    if ((marked || first_scope_) && record_.ask(DBG_C_SCOPE)) scope_header(scope, parent, true);
    first_scope_ = false;
    record_.flush();
    uint32_t id = block_id_[scope];
    for (ScopeEntry* entry : scope->scope().entries)
        if (entry->sclass == SC_BLOCK || entry->sclass == SC_FUNC) c_scope(entry, id, depth + 1);
}

void DbgWriter::write() {
    for (FileRecord* file : run.store.files)
        file->output_index = 0;
    ByteWriter header;
    header.u8(1);
    header.u8(0);
    record_.begin(DBG_HEADER);
    record_.content().bytes(header.bytes().data(), header.size());
    record_.flush();
    record_.raw(ESCAPE_BYTES, sizeof ESCAPE_BYTES);

    for (FileRecord* file : run.store.files)
        if ((file->symbol_count || file->line_count) &&
            !contains_ignoring_case(file->name, ".sym") &&
            !contains_ignoring_case(file->name, ".obj"))
            file_name(file);
    if (typed())
        walk_modules([&](ScopeEntry* entry, ScopeEntry*) {
            if (entry->sclass != SC_FILENAME) return;
            FileRecord* file = find_file(run, entry->name.c_str());
            if (!file) file = file_of(run, add_file(run, entry->name.c_str()));
            if (file && !file->output_index) file_name(file);
        });

    if (typed())
        walk_modules([&](ScopeEntry* entry, ScopeEntry* holder) {
            if (entry->is_scope() && !entry->scope().file_name.empty()) {
                if (FileRecord* file = find_file(run, entry->scope().file_name.c_str()))
                    current_file_ = file;
            } else if (entry->sclass == SC_FILENAME) {
                current_file_ = find_file(run, entry->name.c_str());
            } else if (is_variable(entry)) {
                variable(entry, holder);
            }
        });

    record_.flush();
    for (const FileRecord* file : run.store.files)
        for (const SymbolRecord* symbol : file->symbols)
            if (!(symbol->flags & (SYM_LOCAL | SYM_DESCRIBED)))
                symbol_entry(file->output_index, SECTION_CODE, symbol->name, symbol->value,
                             DBG_FAR_LABEL);
    record_.flush();
    lines();

    if (typed()) {
        current_file_ = nullptr;
        for (ScopeEntry* module : run.type_model.global_scope->scope().entries)
            if (module->sclass == SC_MODULE) c_scope(module, 1, 0);
    }
    record_.flush();
    record_.begin(DBG_FILE_END);
    record_.finish();
}

// ---- Dumping ----

// What the dump collects from earlier records for later ones.
struct DumpState {
    std::vector<std::string> files;
    std::vector<std::string> symbols;
    struct Position {
        uint32_t line;
        std::string file;
    };
    std::vector<Position> positions;
};

const char* section_name(uint8_t section) {
    return section ? "CODE" : "DATA";
}

void dump_header(ByteReader& in, DumpState&) {
    printf("Header: ");
    unsigned count = in.u8();
    for (unsigned k = 0; k < count && in.ok(); ++k) {
        uint8_t c = in.u8();
        if (in.ok() && c) putchar(c);
    }
    printf("\n");
}

void dump_file_names(ByteReader& in, DumpState& state) {
    while (in.remaining() > 0) {
        std::string name;
        if (!read_name(in, &name)) break;
        printf("\nFile: '%s", name.c_str());
        state.files.push_back(name);
    }
    printf("\n");
    if (!in.ok()) printf("Error in record length\n");
}

void dump_symbols(ByteReader& in, DumpState& state) {
    uint32_t file_index = get_number(in);
    uint8_t section = in.u8();
    if (!in.ok()) {
        printf("Record length error\n");
        return;
    }
    printf("File index = %u, Section = %s\n", file_index, section_name(section));
    while (in.remaining() > 0) {
        std::string name;
        read_name(in, &name);
        uint16_t value = in.u16();
        uint8_t type = in.u8();
        if (!in.ok()) break;
        printf("\t\t%16.16s = %4.4X, type = %s\n", name.c_str(), unsigned(value),
               type < 7 ? SYMBOL_TYPES[type] : "illegal");
        state.symbols.push_back(name);
    }
    if (!in.ok()) printf("Record length error\n");
}

void dump_lines(ByteReader& in, DumpState& state) {
    uint32_t file_index = get_number(in);
    uint8_t section = in.u8();
    if (!in.ok()) {
        printf("Record length error\n");
        return;
    }
    std::string file;
    if (file_index >= 1 && file_index <= state.files.size()) {
        file = state.files[file_index - 1];
        printf("File = %s, ", file.c_str());
    } else {
        printf("File = %u, ", file_index);
    }
    printf("Section = %s\n", section_name(section));
    while (in.remaining() > 0) {
        uint16_t line = in.u16();
        uint16_t address = in.u16();
        if (!in.ok()) break;
        printf("\tLine %4d =  = %4.4X\n", int(line), unsigned(address));
        state.positions.push_back({line, file});
    }
    if (!in.ok()) printf("Record length error\n");
}

void dump_c_scope(ByteReader& in, DumpState& state) {
    unsigned block = in.u16();
    unsigned parent = in.u16();
    uint32_t first = get_number(in);
    uint32_t last = get_number(in);
    if (!in.ok()) {
        printf("Record length error\n");
        return;
    }
    printf("Block ID = %d, Parent ID = %d, Line range = ", int(block), int(parent));
    bool first_known = first >= 1 && first <= state.positions.size();
    if (first_known)
        printf("%s:%u-", state.positions[first - 1].file.c_str(), state.positions[first - 1].line);
    else
        printf("%u-", first);
    printf("%u\n",
           last >= 1 && last <= state.positions.size() ? state.positions[last - 1].line : last);
    auto symbol = [&](uint32_t index) {
        return index >= 1 && index <= state.symbols.size() ? state.symbols[index - 1].c_str()
                                                           : "BADSYM";
    };
    while (in.remaining() > 0) {
        uint32_t from = get_number(in);
        uint32_t to = get_number(in);
        if (!in.ok()) break;
        printf("%16.16s (%d)%16.16s(%d)\n", symbol(from), int(from), symbol(to), int(to));
    }
    if (!in.ok()) printf("Record length error\n");
}

// ---- The format ----

bool htk_detect(Run& run, FILE* in) {
    OmfRecord record;
    return RecordReader(in, DBG_ESCAPE).next(run, &record, false) && record.type == DBG_HEADER;
}

int htk_read(Run& run, FILE* in, const char*) {
    RecordReader records(in, DBG_ESCAPE);
    OmfRecord record;
    while (records.next(run, &record, true))
        if (!record_kind(record.type)) {
            message(run.messages, 1042, "DBG", unsigned(record.type));
            return 0;
        }
    return 1;
}

int htk_write(Run& run, FILE* out, const char* name) {
    DbgWriter(run, out, name).write();
    return 1;
}

bool htk_dump(Run& run, FILE* in) {
    printf("Holtek DBG file dump:\n\n");
    RecordReader records(in, DBG_ESCAPE);
    OmfRecord record;
    DumpState state;
    while (records.next(run, &record, true)) {
        const RecordKind* kind = record_kind(record.type);
        char unknown[24];
        snprintf(unknown, sizeof unknown, "Unknown(0x%X)", unsigned(record.type));
        printf("@%4.4lX %16.16s, len %3d: ", static_cast<unsigned long>(uint32_t(record.offset)),
               kind ? kind->name : unknown, int(record.content_size()));
        ByteReader in = record.content();
        switch (record.type) {
        case DBG_HEADER: dump_header(in, state); break;
        case DBG_FILE_NAMES: dump_file_names(in, state); break;
        case DBG_SYMBOL_INFO: dump_symbols(in, state); break;
        case DBG_LINE_INFO: dump_lines(in, state); break;
        case DBG_C_SCOPE: dump_c_scope(in, state); break;
        default: printf("\n"); break;
        }
    }
    return true;
}

} // namespace

const FormatDescriptor htk_format = {
    htk_detect, htk_read, htk_write, htk_dump, "Holtek DBG", "htk", "dbg", true,
};
