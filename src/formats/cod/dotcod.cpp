// .COD files: the writer, detection and the dump. The file is a run of 512-byte blocks:
// a directory, then the memory map, the code pages, the line, file-name, symbol and
// locals tables that the directory points at. There is no reader (a .COD file is only
// written and dumped).
#include "formats/cod/dotcod.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

#include "common/alert.h"
#include "common/binio.h"
#include "common/options.h"
#include "common/osdep.h"
#include "common/sort.h"
#include "formats/descriptors.h"
#include "model/machine.h"

namespace {

constexpr size_t COD_BLOCK_SIZE = 512;

// The records of the file. 16-bit numbers are little-endian; texts are length-prefixed
// and zero-padded to their field's width.

constexpr unsigned CODE_INDEX_ENTRIES = 128;

// A table's first and last block (0 and 0 when it has none).
struct CodTableSpan {
    uint16_t first = 0;
    uint16_t last = 0;
};
template <class F> constexpr void layout(F& f, CodTableSpan& r) {
    f("first", r.first);
    f("last", r.last);
}

struct CodDirectory {
    uint16_t code_index[CODE_INDEX_ENTRIES] = {}; // block of each 512-byte code page
    uint8_t source[64] = {};
    uint8_t date[8] = {};
    uint16_t time = 0; // hours x 100 + minutes
    uint8_t version[20] = {};
    uint8_t compiler[12] = {};
    uint8_t notice[64] = {};
    CodTableSpan symbols, names, lines;
    uint8_t address_size = 0;
    uint16_t high_address = 0;
    uint16_t next_directory = 0;
    CodTableSpan memory_map, locals;
    uint16_t code_type = 0;
    uint8_t processor[9] = {};
    CodTableSpan long_symbols, messages;
    uint8_t unused[42] = {};
};
template <class F> constexpr void layout(F& f, CodDirectory& r) {
    f("code_index", r.code_index);
    f("source", r.source);
    f("date", r.date);
    f("time", r.time);
    f("version", r.version);
    f("compiler", r.compiler);
    f("notice", r.notice);
    f("symbols", r.symbols);
    f("names", r.names);
    f("lines", r.lines);
    f("address_size", r.address_size);
    f("high_address", r.high_address);
    f("next_directory", r.next_directory);
    f("memory_map", r.memory_map);
    f("locals", r.locals);
    f("code_type", r.code_type);
    f("processor", r.processor);
    f("long_symbols", r.long_symbols);
    f("messages", r.messages);
    f("unused", r.unused);
}
static_assert(record_size<CodDirectory>() == COD_BLOCK_SIZE, "the directory is one block");

struct CodShortSymbol {
    uint8_t name[13] = {};
    uint8_t type = 0;
    uint16_t value = 0;
};
template <class F> constexpr void layout(F& f, CodShortSymbol& r) {
    f("name", r.name);
    f("type", r.type);
    f("value", r.value);
}
constexpr size_t SHORT_SYMBOL_SIZE = record_size<CodShortSymbol>();

// The header of a function's or block's run of locals: "__LOCAL" and its address range.
struct CodLocalsHeader {
    uint8_t name[8] = {};
    uint16_t start = 0;
    uint16_t start_high = 0;
    uint16_t end = 0;
    uint16_t end_high = 0;
};
template <class F> constexpr void layout(F& f, CodLocalsHeader& r) {
    f("name", r.name);
    f("start", r.start);
    f("start_high", r.start_high);
    f("end", r.end);
    f("end_high", r.end_high);
}
static_assert(record_size<CodLocalsHeader>() == SHORT_SYMBOL_SIZE,
              "locals headers and symbols share their blocks' slots");

struct CodFileName {
    uint8_t name[64] = {};
};
template <class F> constexpr void layout(F& f, CodFileName& r) {
    f("name", r.name);
}

struct CodLineEntry {
    uint8_t file = 0; // index in the file-name table
    uint8_t flags = 0;
    uint16_t line = 0;
    uint16_t address = 0;
};
template <class F> constexpr void layout(F& f, CodLineEntry& r) {
    f("file", r.file);
    f("flags", r.flags);
    f("line", r.line);
    f("address", r.address);
}
constexpr size_t LINE_ENTRY_SIZE = record_size<CodLineEntry>();

struct CodMemoryRange {
    uint16_t start = 0;
    uint16_t end = 0;
};
template <class F> constexpr void layout(F& f, CodMemoryRange& r) {
    f("start", r.start);
    f("end", r.end);
}

constexpr unsigned LINE_ENTRIES_PER_BLOCK = 85;
constexpr unsigned MAX_REMEMBERED_FILES = 512;

const char* const SYMBOL_TYPE_NAMES[] = {
    "a_reg",
    "x_reg",
    "c_byte",
    "c_int",
    "c_ubyte",
    "c_uint",
    "c_pointer",
    "c_upointer",
    "table",
    "m_byte",
    "m_boolean",
    "m_index",
    "byte_array",
    "u_byte_array",
    "word_array",
    "u_word_array",
    "func_void_none",
    "func_void_byte",
    "func_void_twobyte",
    "func_void_long",
    "func_void_undef",
    "func_int_none",
    "func_int_byte",
    "func_int_twobyte",
    "func_int_long",
    "func_int_undef",
    "func_long_none",
    "func_long_byte",
    "func_long_twobyte",
    "func_long_long",
    "func_long_undef",
    "pfun_void_none",
    "pfun_void_byte",
    "pfun_void_twobyte",
    "pfun_void_long",
    "pfun_void_undef",
    "pfun_int_none",
    "pfun_int_byte",
    "pfun_int_twobyte",
    "pfun_int_long",
    "pfun_int_undef",
    "pfun_long_none",
    "pfun_long_byte",
    "pfun_long_twobyte",
    "pfun_long_long",
    "pfun_long_undef",
    "address",
    "constant",
    "bad_und",
    "br_und",
    "upper_und",
    "byte_und",
    "add_und",
    "m_keyword",
    "add_mi_und",
    "vector",
    "port_w",
    "port_r",
    "port_rw",
    "port_rmw",
    "endif",
    "exundef",
    "macro_t",
    "macro_s",
    "macro_a",
    "macro_c",
    "c_keyword",
    "c_void",
    "c_enum",
    "c_typedef1",
    "c_utypedef1",
    "c_typedef2",
    "c_utypedef2",
    "cp_typedef1",
    "cp_utypedef1",
    "cp_typedef2",
    "cp_utypedef2",
    "c_struct",
    "i_struct",
    "l_const",
    "s_short",
    "s_ushort",
    "s_long",
    "s_ulong",
    "sa_short",
    "sa_ushort",
    "sa_long",
    "sa_ulong",
    "sp_short",
    "sp_ushort",
    "sp_long",
    "sp_ulong",
    "FixedPointer",
    "PointerFunction",
    "cc_reg",
    "PtrF_void_none",
    "PtrF_void_byte",
    "PtrF_void_twobyte",
    "PtrF_void_long",
    "PtrF_void_undef",
    "PtrF_int_none",
    "PtrF_int_byte",
    "PtrF_int_twobyte",
    "PtrF_int_long",
    "PtrF_int_undef",
    "PtrF_long_none",
    "PtrF_long_byte",
    "PtrF_long_twobyte",
    "PtrF_long_long",
    "PtrF_long_undef",
    "PfAR_void_none",
    "PfAR_void_byte",
    "PfAR_void_twobyte",
    "PfAR_void_long",
    "PfAR_void_undef",
    "PfAR_int_none",
    "PfAR_int_byte",
    "PfAR_int_twobyte",
    "PfAR_int_long",
    "PfAR_int_undef",
    "PfAR_long_none",
    "PfAR_long_byte",
    "PfAR_long_twobyte",
    "PfAR_long_long",
    "PfAR_long_undef",
    "FWDlit",
    "PFunc",
    "mgoto",
    "mcgoto",
    "mcgoto2",
    "mcgoto3",
    "mcgoto4",
    "mcgoto74",
    "mcgoto17",
    "mccall17",
    "mcall",
    "mc_call",
    "res_word",
    "local",
    "unknown",
    "varlabel",
    "c_extern",
    "c_global",
    "segment",
    "Bankaddr",
    "bit_0",
    "bit_1",
    "bit_2",
    "bit_3",
    "bit_4",
    "bit_5",
    "bit_6",
    "bit_7",
    "debug",
    "Name_ID",
    "User_ID",
    "size_of",
    "uint24",
    "sint24",
    "uint32",
    "sint32",
    "fixed1616",
    "fixed168",
    "float",
    "ConstantFloat",
    "f_list",
    "float24",
    "float32",
    "s_sint24",
    "s_uint24",
    "p_sint24",
    "p_uint24",
    "s_sint32",
    "s_uint32",
    "p_sint32",
    "p_uint32",
    "s_fixed168",
    "p_fixed168",
    "s_fixed1616",
    "p_fixed1616",
    "s_float",
    "p_float",
    "s_float24",
    "p_float24",
};
constexpr unsigned SYMBOL_TYPE_COUNT = sizeof SYMBOL_TYPE_NAMES / sizeof SYMBOL_TYPE_NAMES[0];
static_assert(SYMBOL_TYPE_COUNT == 184, "one name per .COD symbol type");

// ---------------------------------------------------------------------------
// Writer

// The symbol types the writer gives, as indexes into SYMBOL_TYPE_NAMES.
constexpr uint8_t CODE_NONE = 0;
constexpr uint8_t CODE_C_BYTE = 2;
constexpr uint8_t CODE_C_INT = 3;
constexpr uint8_t CODE_C_UBYTE = 4;
constexpr uint8_t CODE_C_UINT = 5;
constexpr uint8_t CODE_C_POINTER = 6;
constexpr uint8_t CODE_BYTE_ARRAY = 12;
constexpr uint8_t CODE_U_BYTE_ARRAY = 13;
constexpr uint8_t CODE_WORD_ARRAY = 14;
constexpr uint8_t CODE_U_WORD_ARRAY = 15;
constexpr uint8_t CODE_FUNC_VOID_NONE = 16;
constexpr uint8_t CODE_PFUN_VOID_NONE = 31;
constexpr uint8_t CODE_C_VOID = 67;
constexpr uint8_t CODE_C_STRUCT = 77;
constexpr uint8_t CODE_UNKNOWN = 139;
constexpr uint8_t CODE_BIT_0 = 145;
constexpr uint8_t CODE_UINT32 = 159;
constexpr uint8_t CODE_SINT32 = 160;
constexpr uint8_t CODE_FLOAT = 163;
constexpr uint8_t CODE_FLOAT24 = 166;
constexpr uint8_t CODE_FLOAT32 = 167;

constexpr size_t MEMORY_MAP_BLOCK_ENTRIES = 4; // the rest of a map block stays zero
constexpr size_t LONG_NAME_LIMIT = 255;
constexpr size_t LOCAL_LONG_NAME_LIMIT = 127; // "function.local" names
constexpr uint32_t CODE_TYPE = 1;
constexpr const char* COMPILER_NAME = "NORVALE";
constexpr const char* NOTICE_TEXT = "symvert, symbol file converter";
constexpr const char* LOCAL_HEADER_TEXT = "__LOCAL";
constexpr uint8_t LINE_FILE_CHANGE = 0xFF;
constexpr uint8_t LINE_WITHOUT_CODE = 0x90;
constexpr uint8_t LINE_FIRST_ADDRESS = 0x80;
constexpr uint8_t LINE_FURTHER_ADDRESS = 0;
// Line numbers and addresses are 16-bit fields of a line entry: the lines without code
// are filled in up to the highest line number the field holds, and one line gives
// entries for at most as many addresses as the field tells apart.
constexpr uint32_t LINE_NUMBER_LIMIT = 0xFFFF;
constexpr uint32_t LINE_ADDRESS_LIMIT = 0x10000;

// A length-prefixed text in a field (at most its width - 1 characters).
template <size_t N> void put_text(uint8_t (&field)[N], std::string_view text) {
    size_t length = std::min(text.size(), N - 1);
    field[0] = static_cast<uint8_t>(length);
    memcpy(field + 1, text.data(), length);
}

// A name as the symbol tables give it: with -m, one leading underscore removed.
std::string_view table_name(std::string_view name) {
    if (options.strip_underscore && !name.empty() && name[0] == '_') name.remove_prefix(1);
    return name;
}

// The output stream seen as numbered 512-byte blocks; each block that cannot be written
// whole is reported and writing goes on.
class BlockFile {
  public:
    BlockFile(FILE* out, const char* name) : output_(out, name, 413) {}

    // The tables start at block 1; the directory is written last, over block 0.
    void start() { output_.seek(COD_BLOCK_SIZE); }

    // Writes the next block and answers its number.
    uint32_t append(const uint8_t* block) {
        output_.write(block, COD_BLOCK_SIZE);
        return next_++;
    }

    void write_directory(const CodDirectory& directory) {
        ByteWriter block(ByteOrder::little);
        block.record(directory);
        output_.write_at(0, block.bytes());
        output_.finish();
    }

  private:
    OutputFile output_;
    uint32_t next_ = 1;
};

// One table: records laid out in blocks that are written as they fill. A record never
// crosses a block boundary; the directory gets the table's first and last block.
class TableWriter {
  public:
    TableWriter(BlockFile& file, CodTableSpan& span, size_t capacity = COD_BLOCK_SIZE)
        : file_(file), span_(span), capacity_(capacity) {}

    template <class R> void add(const R& record) {
        encode(reserve(record_size<R>()), record, ByteOrder::little);
    }
    void add(const std::vector<uint8_t>& bytes) {
        memcpy(reserve(bytes.size()), bytes.data(), bytes.size());
    }

    // Writes the last block and enters the table in the directory (0 and 0 when the
    // table has no block).
    void finish() {
        if (used_ != 0) flush();
        span_.first = static_cast<uint16_t>(first_);
        span_.last = static_cast<uint16_t>(last_);
    }

  private:
    // Zero-filled room for a record of size bytes, in the next block when the rest of
    // this one is too small.
    uint8_t* reserve(size_t size) {
        if (used_ + size > capacity_) flush();
        uint8_t* at = block_ + used_;
        used_ += size;
        return at;
    }

    void flush() {
        last_ = file_.append(block_);
        if (first_ == 0) first_ = last_;
        memset(block_, 0, sizeof block_);
        used_ = 0;
    }

    BlockFile& file_;
    CodTableSpan& span_;
    size_t capacity_;
    uint8_t block_[COD_BLOCK_SIZE] = {};
    size_t used_ = 0;
    uint32_t first_ = 0;
    uint32_t last_ = 0;
};

// Types.

TypeRef past_qualifier(TypeRef type) {
    return type.kind() == TYPE_QUALIFIER ? type.inner() : type;
}

uint8_t basic_type_code(const TypeNode& node) {
    switch (node.value) {
    case BASIC_VOID: return CODE_C_VOID;
    case BASIC_SIGNED:
        return node.extra == 1   ? CODE_C_BYTE
               : node.extra == 2 ? CODE_C_INT
               : node.extra == 4 ? CODE_SINT32
                                 : CODE_NONE;
    case BASIC_UNSIGNED:
        return node.extra == 1   ? CODE_C_UBYTE
               : node.extra == 2 ? CODE_C_UINT
               : node.extra == 4 ? CODE_UINT32
                                 : CODE_NONE;
    case BASIC_FLOAT:
        return node.extra == 3 ? CODE_FLOAT24 : node.extra == 4 ? CODE_FLOAT32 : CODE_FLOAT;
    case BASIC_BIT: return CODE_BIT_0;
    default: return CODE_NONE;
    }
}

bool points_to_function(TypeRef target) {
    while (target.kind() == TYPE_QUALIFIER)
        target = target.inner();
    return target.kind() == TYPE_FUNCTION;
}

// The code of a type whose qualifier node, if any, has been passed over.
uint8_t unqualified_type_code(TypeRef type, bool fake_globals);

uint8_t array_type_code(TypeRef element) {
    element = past_qualifier(element);
    // An array of arrays has an array code, none of which names a word or unsigned array.
    uint8_t code =
        element.kind() == TYPE_ARRAY ? CODE_BYTE_ARRAY : unqualified_type_code(element, false);
    switch (code) {
    case CODE_C_INT: return CODE_WORD_ARRAY;
    case CODE_C_UBYTE: return CODE_U_BYTE_ARRAY;
    case CODE_C_UINT: return CODE_U_WORD_ARRAY;
    default: return CODE_BYTE_ARRAY;
    }
}

uint8_t unqualified_type_code(TypeRef type, bool fake_globals) {
    switch (type.kind()) {
    case TYPE_BASIC: return fake_globals ? CODE_UNKNOWN : basic_type_code(type.node());
    case TYPE_FUNCTION: return CODE_FUNC_VOID_NONE;
    case TYPE_POINTER:
        return points_to_function(type.inner()) ? CODE_PFUN_VOID_NONE : CODE_C_POINTER;
    case TYPE_ENUM: return fake_globals ? CODE_UNKNOWN : CODE_NONE;
    case TYPE_STRUCT: return fake_globals ? CODE_UNKNOWN : CODE_C_STRUCT;
    case TYPE_ARRAY: return fake_globals ? CODE_UNKNOWN : array_type_code(type.inner());
    default: return CODE_NONE;
    }
}

} // namespace

uint8_t cod_type_code(TypeRef type, bool fake_globals) {
    return unqualified_type_code(past_qualifier(type), fake_globals);
}

uint32_t cod_line_address(const FileRecord& file, uint32_t line) {
    const std::vector<LineRecord*>& lines = file.lines;
    auto at =
        std::lower_bound(lines.begin(), lines.end(), line,
                         [](const LineRecord* record, uint32_t n) { return record->line < n; });
    if (at != lines.end() && (*at)->line == line) return (*at)->address;
    if (at == lines.end()) return lines.empty() ? 0 : lines.back()->address + 1;
    if (at == lines.begin()) return 0;
    return (*at)->address - 1;
}

namespace {

// Type and value of a symbol entry.
struct SymbolEntry {
    uint8_t type;
    uint32_t value;
};

// A variable's symbol entry. A bit variable's location is a bit address: the entry names
// its byte and the bit's number in it.
SymbolEntry variable_entry(const ScopeEntry* entry, uint32_t location) {
    TypeRef type = past_qualifier(TypeRef(entry->type));
    if (type.kind() == TYPE_BASIC && type.node().value == BASIC_BIT)
        return {options.fake_globals ? CODE_UNKNOWN
                                     : static_cast<uint8_t>(CODE_BIT_0 + location % 8),
                location / 8};
    return {cod_type_code(TypeRef(entry->type), options.fake_globals), location};
}

// A variable with a location: its name and symbol entry. The name is a copy, so that the
// tables are written from these lists alone rather than from entries spread over the
// whole type model.
struct LocatedVariable {
    std::string name;
    SymbolEntry symbol;
};

// One block or function scope (or module) with the variables it declares; for a function
// its own entry comes first.
struct FunctionRecord {
    const ScopeEntry* scope;
    uint32_t start;
    uint32_t end;
    std::vector<LocatedVariable> variables;
    bool kept;
};

struct ScopeTables {
    std::vector<LocatedVariable> externs;
    std::vector<FunctionRecord> records; // in the order their scopes begin
};

// The store file of a scope's source file; the scopes of one module mostly share one.
class ScopeFiles {
  public:
    const FileRecord* of(const ScopeEntry* scope) {
        if (scope->file_name.empty()) return nullptr;
        if (!looked_up_ || scope->file_name != name_) {
            name_ = scope->file_name;
            file_ = find_file(name_.c_str());
            looked_up_ = true;
        }
        return file_;
    }

  private:
    std::string name_;
    const FileRecord* file_ = nullptr;
    bool looked_up_ = false;
};

FunctionRecord begin_record(const ScopeEntry* scope, ScopeFiles& files) {
    const FileRecord* file = files.of(scope);
    FunctionRecord record{scope,
                          file ? cod_line_address(*file, scope->first_line) : 0,
                          file ? cod_line_address(*file, scope->last_line) : 0,
                          {},
                          false};
    if (scope->sclass == SC_FUNC && scope->function)
        record.variables.push_back(
            {scope->function->name,
             variable_entry(scope->function, scope->function->location_value)});
    return record;
}

bool keep_record(const FunctionRecord& record) {
    if (record.variables.empty() || record.start == 0) return false;
    // Under -f the locals of a function become "function.local" symbols: only functions
    // with locals count.
    return !options.fake_globals ||
           (record.scope->sclass == SC_FUNC && record.variables.size() > 1);
}

// Extern variables with a location are collected for the symbol tables (their store
// symbols are then not written again); statics, autos, parameters and register
// variables with a location join the record of the scope that declares them.
void collect_variable(ScopeTables& tables, FunctionRecord& record, ScopeEntry* entry,
                      const ScopeEntry* scope) {
    ValuePair at;
    switch (entry->sclass) {
    case SC_EXTERN:
        if (!variable_location(entry, scope, &at)) return;
        tables.externs.push_back({entry->name, variable_entry(entry, at.value)});
        if (SymbolRecord* symbol = find_symbol(entry->name.c_str())) symbol->flags |= SYM_DESCRIBED;
        return;
    case SC_STATIC:
    case SC_AUTO:
    case SC_PARAM:
    case SC_REG:
        if (variable_location(entry, scope, &at))
            record.variables.push_back({entry->name, variable_entry(entry, at.value)});
        return;
    default: return;
    }
}

ScopeTables collect_scopes() {
    ScopeTables tables;
    ScopeEntry* global = type_model.global_scope;
    std::vector<size_t> open; // the records of the scopes being walked, innermost last
    ScopeFiles files;
    walk_scope(
        global,
        [&](ScopeEntry* entry, ScopeEntry* holder) {
            if (entry->is_scope()) {
                open.push_back(tables.records.size());
                tables.records.push_back(begin_record(entry, files));
                return true;
            }
            if (holder != global)
                collect_variable(tables, tables.records[open.back()], entry, holder);
            return false;
        },
        [&](ScopeEntry*) {
            FunctionRecord& record = tables.records[open.back()];
            record.kept = keep_record(record);
            open.pop_back();
        });
    return tables;
}

// A store symbol not described through its variable.
struct PlainSymbol {
    std::string_view name;
    SymbolEntry symbol;
};

// The store symbols not described through their variables, local ones only under -m:
// "function" when their segment is a program class, "byte" in another segment and
// "unknown" without one.
std::vector<PlainSymbol> plain_symbols() {
    std::vector<uint8_t> segment_types(store.segments.count() + 1, CODE_UNKNOWN);
    for (uint32_t k = 0; k < store.segments.count(); ++k) {
        const std::vector<std::string>& classes = options.program_classes;
        bool program =
            std::find(classes.begin(), classes.end(), store.segments[k]->name) != classes.end();
        segment_types[k + 1] = program ? CODE_FUNC_VOID_NONE : CODE_C_BYTE;
    }
    std::vector<PlainSymbol> symbols;
    for (const FileRecord* file : store.files)
        for (const SymbolRecord* symbol : file->symbols)
            if (!(symbol->flags & SYM_DESCRIBED) &&
                (!(symbol->flags & SYM_LOCAL) || options.strip_underscore)) {
                uint8_t type = symbol->segment < segment_types.size()
                                   ? segment_types[symbol->segment]
                                   : CODE_UNKNOWN;
                symbols.push_back({symbol->name, {type, symbol->value}});
            }
    return symbols;
}

// Directory.

void fill_directory(CodDirectory& directory, const char* output_name) {
    static const char* const MONTHS[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    put_text(directory.source, output_name);
    tm when{};
    if (now_calendar(&when)) {
        char date[16];
        snprintf(date, sizeof date, "%02d%s%02d", when.tm_mday % 100, MONTHS[when.tm_mon % 12],
                 (when.tm_year % 100 + 100) % 100);
        put_text(directory.date, date);
        directory.time = static_cast<uint16_t>(when.tm_hour * 100 + when.tm_min);
    }
    put_text(directory.compiler, COMPILER_NAME);
    put_text(directory.notice, NOTICE_TEXT);
    directory.code_type = CODE_TYPE;
    put_text(directory.processor, options.processor_name);
}

// Memory map and code pages.

void write_memory_map(BlockFile& file, CodDirectory& directory) {
    TableWriter map(file, directory.memory_map,
                    MEMORY_MAP_BLOCK_ENTRIES * record_size<CodMemoryRange>());
    for (const DataBlock* block : store.data)
        map.add(CodMemoryRange{static_cast<uint16_t>(block->address),
                               static_cast<uint16_t>(block->address + block->size - 1)});
    map.finish();
}

// The bytes of the data blocks, in store order, gathered into one page at a time; a
// page is written when the bytes move on to another one, so a page met again later is
// written again and its index entry then names the later block.
class PageWriter {
  public:
    PageWriter(BlockFile& file, CodDirectory& directory) : file_(file), directory_(directory) {}

    void add(uint32_t address, const uint8_t* bytes, uint32_t size) {
        while (size != 0) {
            uint32_t offset = address % COD_BLOCK_SIZE;
            uint32_t page = address / COD_BLOCK_SIZE;
            if (!open_ || page != page_) {
                flush();
                page_ = page;
                open_ = true;
            }
            uint32_t count = std::min<uint32_t>(size, COD_BLOCK_SIZE - offset);
            memcpy(page_bytes_ + offset, bytes, count);
            address += count;
            bytes += count;
            size -= count;
        }
    }

    void flush() {
        if (!open_) return;
        uint32_t block = file_.append(page_bytes_);
        if (page_ < CODE_INDEX_ENTRIES) directory_.code_index[page_] = static_cast<uint16_t>(block);
        memset(page_bytes_, 0, sizeof page_bytes_);
        open_ = false;
    }

  private:
    BlockFile& file_;
    CodDirectory& directory_;
    uint8_t page_bytes_[COD_BLOCK_SIZE] = {};
    uint32_t page_ = 0;
    bool open_ = false;
};

void write_code_pages(BlockFile& file, CodDirectory& directory) {
    PageWriter pages(file, directory);
    for (const DataBlock* block : store.data)
        pages.add(block->address, block->bytes.data(),
                  static_cast<uint32_t>(std::min<size_t>(block->size, block->bytes.size())));
    pages.flush();
}

// Line table.

// A line record or a symbol placed by address; a line's code reaches up to the next
// item when that is a line too.
struct LineItem {
    uint32_t address;
    uint32_t line;
    uint32_t position; // of the line record in the writing order; SYMBOL_ITEM for a symbol
};
constexpr uint32_t SYMBOL_ITEM = UINT32_MAX;

int compare_numbers(uint32_t a, uint32_t b) {
    return a < b ? -1 : a > b ? 1 : 0;
}

// By address; at one address the lines first, by line number, then in writing order
// (so that of two records of one line at one address the first one written covers only
// that address).
inline int compare_line_items(const LineItem& a, const LineItem& b) {
    if (int c = compare_numbers(a.address, b.address)) return c;
    bool a_symbol = a.position == SYMBOL_ITEM;
    bool b_symbol = b.position == SYMBOL_ITEM;
    if (a_symbol != b_symbol) return a_symbol ? 1 : -1;
    if (a_symbol) return 0;
    if (int c = compare_numbers(a.line, b.line)) return c;
    return compare_numbers(a.position, b.position);
}

// The line records in writing order (by file, then line) with the number of addresses
// each one's code covers (0 when the next item by address is a symbol or there is none).
struct LineSpans {
    std::vector<const LineRecord*> lines;
    std::vector<uint32_t> spans;
};

LineSpans line_spans() {
    LineSpans result;
    std::vector<LineItem> items;
    size_t lines = 0, symbols = 0;
    for (const FileRecord* file : store.files) {
        lines += file->lines.size();
        symbols += file->symbols.size();
    }
    items.reserve(lines + symbols);
    result.lines.reserve(lines);
    for (const FileRecord* file : store.files) {
        for (const LineRecord* line : file->lines) {
            items.push_back(
                {line->address, line->line, static_cast<uint32_t>(result.lines.size())});
            result.lines.push_back(line);
        }
        for (const SymbolRecord* symbol : file->symbols)
            items.push_back({symbol->value, 0, SYMBOL_ITEM});
    }
    sort_items(items,
               [](const LineItem& a, const LineItem& b) { return compare_line_items(a, b); });
    result.spans.assign(result.lines.size(), 0);
    for (size_t k = 0; k < items.size(); ++k) {
        if (items[k].position == SYMBOL_ITEM) continue;
        if (k + 1 < items.size() && items[k + 1].position != SYMBOL_ITEM)
            result.spans[items[k].position] = items[k + 1].address - items[k].address;
    }
    return result;
}

class LineTableWriter {
  public:
    LineTableWriter(BlockFile& file, CodDirectory& directory)
        : table_(file, directory.lines), file_index_(store.files.count() + 1, NO_INDEX) {}

    void write(const LineSpans& spans) {
        const SegmentRecord* code = find_segment("CODE");
        uint32_t code_segment = 0;
        for (uint32_t k = 0; code && k < store.segments.count(); ++k)
            if (store.segments[k] == code) code_segment = k + 1;
        uint32_t previous_file = 0;
        uint32_t index = 0;
        uint32_t remembered = 0;
        for (size_t k = 0; k < spans.lines.size(); ++k) {
            const LineRecord& line = *spans.lines[k];
            if (k == 0 || line.file != previous_file) {
                previous_file = line.file;
                index = name_index(line.file);
                entry(index, LINE_FILE_CHANGE, 0, 0);
                remembered = 0;
            }
            uint32_t last_without_code = std::min(line.line - 1, LINE_NUMBER_LIMIT);
            for (uint32_t n = remembered + 1; line.line != 0 && n <= last_without_code; ++n)
                entry(index, LINE_WITHOUT_CODE, n, 0);
            if (code_segment != 0 && line.segment == code_segment) {
                uint32_t count =
                    std::min(std::max<uint32_t>(spans.spans[k], 1), LINE_ADDRESS_LIMIT);
                for (uint32_t a = 0; a < count; ++a)
                    entry(index, a == 0 ? LINE_FIRST_ADDRESS : LINE_FURTHER_ADDRESS, line.line,
                          line.address + a);
            }
            remembered = line.line;
        }
    }

    void finish() { table_.finish(); }

    // The files in the order the line table first names them.
    const std::vector<const FileRecord*>& names() const { return names_; }

  private:
    static constexpr uint32_t NO_INDEX = UINT32_MAX;

    uint32_t name_index(uint32_t file) {
        if (file_index_[file] == NO_INDEX) {
            file_index_[file] = static_cast<uint32_t>(names_.size());
            names_.push_back(file_of(file));
        }
        return file_index_[file];
    }

    void entry(uint32_t file, uint8_t flags, uint32_t line, uint32_t address) {
        table_.add(CodLineEntry{static_cast<uint8_t>(file), flags, static_cast<uint16_t>(line),
                                static_cast<uint16_t>(address)});
    }

    TableWriter table_;
    std::vector<uint32_t> file_index_; // by file number
    std::vector<const FileRecord*> names_;
};

// File names and symbols.

void write_file_names(BlockFile& file, CodDirectory& directory,
                      const std::vector<const FileRecord*>& names) {
    TableWriter table(file, directory.names);
    for (const FileRecord* record : names) {
        CodFileName entry;
        put_text(entry.name, record->name);
        table.add(entry);
    }
    table.finish();
}

void short_symbol(TableWriter& table, std::string_view name, SymbolEntry symbol) {
    CodShortSymbol entry;
    put_text(entry.name, table_name(name));
    entry.type = symbol.type;
    entry.value = static_cast<uint16_t>(symbol.value);
    table.add(entry);
}

// A long symbol entry: the name after its length, the type widened to two bytes and the
// value, four bytes most significant first.
void long_symbol(TableWriter& table, std::string_view name, SymbolEntry symbol) {
    name = table_name(name);
    size_t length = std::min(name.size(), LONG_NAME_LIMIT);
    ByteWriter entry(ByteOrder::little);
    entry.u8(length);
    entry.text(name.substr(0, length));
    entry.u16(symbol.type);
    entry.u32(symbol.value, ByteOrder::big);
    table.add(entry.bytes());
}

void write_short_symbols(BlockFile& file, CodDirectory& directory, const ScopeTables& scopes,
                         const std::vector<PlainSymbol>& plain) {
    TableWriter table(file, directory.symbols);
    for (const LocatedVariable& variable : scopes.externs)
        short_symbol(table, variable.name, variable.symbol);
    for (const PlainSymbol& symbol : plain)
        short_symbol(table, symbol.name, symbol.symbol);
    table.finish();
}

void write_long_symbols(BlockFile& file, CodDirectory& directory, const ScopeTables& scopes,
                        const std::vector<PlainSymbol>& plain) {
    TableWriter table(file, directory.long_symbols);
    for (const LocatedVariable& variable : scopes.externs)
        long_symbol(table, variable.name, variable.symbol);
    if (options.fake_globals) {
        for (const FunctionRecord& record : scopes.records) {
            if (!record.kept) continue;
            const std::string& function = record.variables.front().name;
            for (size_t k = 1; k < record.variables.size(); ++k) {
                std::string name = function + "." + record.variables[k].name;
                if (name.size() > LOCAL_LONG_NAME_LIMIT) name.resize(LOCAL_LONG_NAME_LIMIT);
                long_symbol(table, name, record.variables[k].symbol);
            }
        }
    }
    for (const PlainSymbol& symbol : plain)
        long_symbol(table, symbol.name, symbol.symbol);
    table.finish();
}

// Each kept record: a header with its address range in bytes (two per instruction
// word), then its variables.
void write_locals(BlockFile& file, CodDirectory& directory, const ScopeTables& scopes) {
    TableWriter table(file, directory.locals);
    for (const FunctionRecord& record : scopes.records) {
        if (!record.kept) continue;
        CodLocalsHeader header;
        put_text(header.name, LOCAL_HEADER_TEXT);
        header.start = static_cast<uint16_t>(record.start * 2);
        header.end = static_cast<uint16_t>(record.end * 2);
        table.add(header);
        for (const LocatedVariable& variable : record.variables)
            short_symbol(table, variable.name, variable.symbol);
    }
    table.finish();
}

int cod_write(FILE* out, const char* name) {
    if (options.program_classes.empty()) options.program_classes = {"CODE", "ENTRY"};
    CodDirectory directory;
    fill_directory(directory, name);
    BlockFile file(out, name);
    file.start();
    write_memory_map(file, directory);
    write_code_pages(file, directory);
    LineTableWriter lines(file, directory);
    lines.write(line_spans());
    lines.finish();
    ScopeTables scopes = collect_scopes();
    std::vector<PlainSymbol> plain = plain_symbols();
    write_file_names(file, directory, lines.names());
    write_short_symbols(file, directory, scopes, plain);
    write_long_symbols(file, directory, scopes, plain);
    if (!options.fake_globals) write_locals(file, directory, scopes);
    file.write_directory(directory);
    // Its fields are laid out in both byte orders, and the run's order is left at the one
    // used last: the little-endian table entries of the directory.
    options.big_endian = false;
    return 1;
}

// ---------------------------------------------------------------------------
// Dump

// A length-prefixed text of a field, as a terminated string.
template <size_t N> std::string field_text(const uint8_t (&field)[N]) {
    size_t length = std::min<size_t>(field[0], N - 1);
    std::string text(reinterpret_cast<const char*>(field + 1), length);
    return text.substr(0, text.find('\0'));
}

bool read_block(ByteReader& input, uint32_t block, uint8_t* out) {
    return input.read_at(uint64_t(block) * COD_BLOCK_SIZE, out, COD_BLOCK_SIZE);
}

// Block numbers are 16-bit, so a block's offset fits an unsigned int (messages 618
// and 619 print it with %X).
unsigned block_offset(uint32_t block) {
    return static_cast<unsigned>(block * COD_BLOCK_SIZE);
}

// Calls visit(block number, bytes) for each block of a table; a block that cannot be
// read gives the message with its file offset and ends the table.
template <typename Visit>
void for_each_table_block(ByteReader& input, const CodTableSpan& span, unsigned failure,
                          Visit visit) {
    uint8_t block[COD_BLOCK_SIZE];
    for (uint32_t number = span.first; span.first != 0 && number <= span.last; ++number) {
        if (!read_block(input, number, block)) {
            message(failure, block_offset(number));
            return;
        }
        visit(number, block);
    }
}

// Calls visit(record) for each record of type R that fills the block's slots.
template <class R, typename Visit> void for_each_slot(const uint8_t* block, Visit visit) {
    constexpr size_t size = record_size<R>();
    for (size_t at = 0; at + size <= COD_BLOCK_SIZE; at += size)
        visit(decode<R>(block + at, ByteOrder::little));
}

void print_short_symbol(const CodShortSymbol& entry) {
    printf("\t%-14.12s", field_text(entry.name).c_str());
    unsigned type = entry.type;
    int width;
    if (type >= 1 && type < SYMBOL_TYPE_COUNT) {
        printf(" (%s)", SYMBOL_TYPE_NAMES[type]);
        width = 20 - int(std::min<size_t>(strlen(SYMBOL_TYPE_NAMES[type]), 20));
    } else {
        printf(" (%2.2X)", type);
        width = 20 - 2;
    }
    printf("%*s", width, "");
    printf("%5.4X\n", unsigned(entry.value));
}

// An empty slot, or one whose name is empty, holds no symbol.
bool has_name(const CodShortSymbol& entry) {
    return entry.name[0] != 0 && entry.name[1] != 0;
}

void print_directory(const CodDirectory& d) {
    unsigned time = d.time;
    printf("Source:\t%s\n", field_text(d.source).c_str());
    printf("Date:\t%s\t", field_text(d.date).c_str());
    printf("Time:\t%2.2d:%2.2d\n", int(time / 100), int(time % 100));
    printf("Version:%s\t", field_text(d.version).c_str());
    printf("Compiler: %s\n", field_text(d.compiler).c_str());
    printf("Notice:\t%s\n", field_text(d.notice).c_str());
    printf("Symtab:\t%d/%d; Namtab: %d/%d; Lsttab: %d/%d\n", d.symbols.first, d.symbols.last,
           d.names.first, d.names.last, d.lines.first, d.lines.last);
    printf("Addr:\t%d, highaddr %X\n", int(d.address_size), unsigned(d.high_address));
    printf("Memmap:\t%d/%d; Locals: %d/%d; Lsymtab %d/%d; Messtab %d/%d\n", d.memory_map.first,
           d.memory_map.last, d.locals.first, d.locals.last, d.long_symbols.first,
           d.long_symbols.last, d.messages.first, d.messages.last);
    printf("Codtyp:\t%d; Processor %s\n", int(d.code_type), field_text(d.processor).c_str());
}

void print_code_pages(ByteReader& input, const CodDirectory& directory) {
    uint8_t page[COD_BLOCK_SIZE];
    for (unsigned p = 0; p < CODE_INDEX_ENTRIES; ++p) {
        uint32_t block = directory.code_index[p];
        if (block == 0) continue;
        printf("Code: 0%Xh at block %d\n", unsigned(p * COD_BLOCK_SIZE), int(block));
        if (options.verbose_level < 1) continue;
        if (!read_block(input, block, page)) {
            message(618, block_offset(block));
            continue;
        }
        hex_dump(stdout, p * COD_BLOCK_SIZE, 16, page, COD_BLOCK_SIZE, "%4.4lX:", true);
    }
}

void print_symbols_and_locals(ByteReader& input, const CodDirectory& directory) {
    printf("Symbols:\n");
    for_each_table_block(input, directory.symbols, 619, [](uint32_t, const uint8_t* block) {
        for_each_slot<CodShortSymbol>(block, [](const CodShortSymbol& entry) {
            if (has_name(entry)) print_short_symbol(entry);
        });
    });
    printf("Locals:\n");
    for_each_table_block(input, directory.locals, 619, [](uint32_t, const uint8_t* block) {
        for (size_t at = 0; at < COD_BLOCK_SIZE; at += SHORT_SYMBOL_SIZE) {
            CodLocalsHeader header = decode<CodLocalsHeader>(block + at, ByteOrder::little);
            if (field_text(header.name) == LOCAL_HEADER_TEXT) {
                printf("Block: 0x%lX-0x%lX\n", static_cast<unsigned long>(header.start),
                       static_cast<unsigned long>(header.end));
                continue;
            }
            CodShortSymbol entry = decode<CodShortSymbol>(block + at, ByteOrder::little);
            if (has_name(entry)) print_short_symbol(entry);
        }
    });
}

void print_files_and_lines(ByteReader& input, const CodDirectory& directory) {
    std::vector<std::string> files;
    printf("Files:\n");
    for_each_table_block(input, directory.names, 619, [&files](uint32_t, const uint8_t* block) {
        for_each_slot<CodFileName>(block, [&files](const CodFileName& entry) {
            std::string name = field_text(entry.name);
            if (name.empty()) return;
            printf("\t%-63.64s\n", name.c_str());
            if (files.size() < MAX_REMEMBERED_FILES) files.push_back(name);
        });
    });
    printf("Line numbers:\n");
    for_each_table_block(
        input, directory.lines, 619, [&files](uint32_t number, const uint8_t* block) {
            printf("Line number block %u\n", unsigned(number));
            bool reported = false;
            for (unsigned k = 0; k < LINE_ENTRIES_PER_BLOCK; ++k) {
                CodLineEntry entry =
                    decode<CodLineEntry>(block + k * LINE_ENTRY_SIZE, ByteOrder::little);
                const char* name = "??";
                if (entry.file < files.size()) {
                    name = files[entry.file].c_str();
                } else if (!reported) {
                    message(620, unsigned(number));
                    reported = true;
                }
                printf("\t%5d %2.2X %4.4X %.32s\n", int(entry.line), unsigned(entry.flags),
                       unsigned(entry.address), name);
            }
        });
}

// A .COD file's directory dates it with seven characters, two digits, three letters and
// two digits: the second must be a digit and the third and fourth letters.
bool cod_detect(FILE* in) {
    CodDirectory directory;
    if (!ByteReader(in).record_at(0, &directory)) return false;
    char date[16] = {};
    memcpy(date, directory.date + 1, std::min<size_t>(directory.date[0], 15));
    auto is = [&date](int k, int (*test)(int)) {
        return test(static_cast<unsigned char>(date[k])) != 0;
    };
    return date[7] == '\0' && is(1, isdigit) && is(2, isalpha) && is(3, isalpha);
}

bool cod_dump(FILE* in) {
    ByteReader input(in, ByteOrder::little);
    CodDirectory directory;
    if (!input.record_at(0, &directory)) fatal_message(1037, "directory block");
    print_directory(directory);
    print_code_pages(input, directory);
    print_symbols_and_locals(input, directory);
    print_files_and_lines(input, directory);
    return true;
}

} // namespace

const FormatDescriptor cod_format = {
    cod_detect, read_placeholder, cod_write, cod_dump, reset_nothing, ".COD", "cod", "cod", true,
};
