// The .COD writer's symbols: the type codes of variables, the variables of each scope
// with a location, the store symbols they do not describe, and the symbol, long-symbol and
// locals tables written from them.
#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "common/options.h"
#include "formats/cod/cod_writer.h"
#include "formats/cod/dotcod.h"
#include "model/machine.h"
#include "model/run.h"
#include "model/store.h"
#include "model/type.h"

namespace {

constexpr size_t LONG_NAME_LIMIT = 255;
constexpr size_t LOCAL_LONG_NAME_LIMIT = 127; // "function.local" names

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
SymbolEntry variable_entry(Run& run, const ScopeEntry* entry, uint32_t location) {
    TypeRef type = past_qualifier(TypeRef(entry->type));
    if (type.kind() == TYPE_BASIC && type.node().value == BASIC_BIT)
        return {run.options.fake_globals ? CODE_UNKNOWN
                                         : static_cast<uint8_t>(CODE_BIT_0 + location % 8),
                location / 8};
    return {cod_type_code(TypeRef(entry->type), run.options.fake_globals), location};
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
    const FileRecord* of(Run& run, const ScopeEntry* scope) {
        if (scope->scope().file_name.empty()) return nullptr;
        if (!looked_up_ || scope->scope().file_name != name_) {
            name_ = scope->scope().file_name;
            file_ = find_file(run, name_.c_str());
            looked_up_ = true;
        }
        return file_;
    }

  private:
    std::string name_;
    const FileRecord* file_ = nullptr;
    bool looked_up_ = false;
};

FunctionRecord begin_record(Run& run, const ScopeEntry* scope, ScopeFiles& files) {
    const FileRecord* file = files.of(run, scope);
    FunctionRecord record{scope,
                          file ? cod_line_address(*file, scope->scope().first_line) : 0,
                          file ? cod_line_address(*file, scope->scope().last_line) : 0,
                          {},
                          false};
    if (scope->sclass == SC_FUNC && scope->scope().function)
        record.variables.push_back({scope->scope().function->name,
                                    variable_entry(run, scope->scope().function,
                                                   scope->scope().function->location_value)});
    return record;
}

bool keep_record(Run& run, const FunctionRecord& record) {
    if (record.variables.empty() || record.start == 0) return false;
    // Under -f the locals of a function become "function.local" symbols: only functions
    // with locals count.
    return !run.options.fake_globals ||
           (record.scope->sclass == SC_FUNC && record.variables.size() > 1);
}

// Extern variables with a location are collected for the symbol tables (their store
// symbols are then not written again); statics, autos, parameters and register
// variables with a location join the record of the scope that declares them.
void collect_variable(Run& run, ScopeTables& tables, FunctionRecord& record, ScopeEntry* entry,
                      const ScopeEntry* scope) {
    ValuePair at;
    switch (entry->sclass) {
    case SC_EXTERN:
        if (!variable_location(run, entry, scope, &at)) return;
        tables.externs.push_back({entry->name, variable_entry(run, entry, at.value)});
        if (SymbolRecord* symbol = find_symbol(run, entry->name.c_str()))
            symbol->flags |= SYM_DESCRIBED;
        return;
    case SC_STATIC:
    case SC_AUTO:
    case SC_PARAM:
    case SC_REG:
        if (variable_location(run, entry, scope, &at))
            record.variables.push_back({entry->name, variable_entry(run, entry, at.value)});
        return;
    default: return;
    }
}

ScopeTables collect_scopes(Run& run) {
    ScopeTables tables;
    ScopeEntry* global = run.type_model.global_scope;
    std::vector<size_t> open; // the records of the scopes being walked, innermost last
    ScopeFiles files;
    walk_scope(
        global,
        [&](ScopeEntry* entry, ScopeEntry* holder) {
            if (entry->is_scope()) {
                open.push_back(tables.records.size());
                tables.records.push_back(begin_record(run, entry, files));
                return true;
            }
            if (holder != global)
                collect_variable(run, tables, tables.records[open.back()], entry, holder);
            return false;
        },
        [&](ScopeEntry*) {
            FunctionRecord& record = tables.records[open.back()];
            record.kept = keep_record(run, record);
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
std::vector<PlainSymbol> plain_symbols(Run& run) {
    std::vector<uint8_t> segment_types(run.store.segments.count() + 1, CODE_UNKNOWN);
    for (uint32_t k = 0; k < run.store.segments.count(); ++k) {
        const std::vector<std::string>& classes = run.options.program_classes;
        bool program =
            std::find(classes.begin(), classes.end(), run.store.segments[k]->name) != classes.end();
        segment_types[k + 1] = program ? CODE_FUNC_VOID_NONE : CODE_C_BYTE;
    }
    std::vector<PlainSymbol> symbols;
    for (const FileRecord* file : run.store.files)
        for (const SymbolRecord* symbol : file->symbols)
            if (!(symbol->flags & SYM_DESCRIBED) &&
                (!(symbol->flags & SYM_LOCAL) || run.options.strip_underscore)) {
                uint8_t type = symbol->segment < segment_types.size()
                                   ? segment_types[symbol->segment]
                                   : CODE_UNKNOWN;
                symbols.push_back({symbol->name, {type, symbol->value}});
            }
    return symbols;
}

void short_symbol(Run& run, TableWriter& table, std::string_view name, SymbolEntry symbol) {
    CodShortSymbol entry;
    put_text(entry.name, table_name(run, name));
    entry.type = symbol.type;
    entry.value = static_cast<uint16_t>(symbol.value);
    table.add(entry);
}

// A long symbol entry: the name after its length, the type widened to two bytes and the
// value, four bytes most significant first.
void long_symbol(Run& run, TableWriter& table, std::string_view name, SymbolEntry symbol) {
    name = table_name(run, name);
    size_t length = std::min(name.size(), LONG_NAME_LIMIT);
    ByteWriter entry(ByteOrder::little);
    entry.u8(length);
    entry.text(name.substr(0, length));
    entry.u16(symbol.type);
    entry.u32(symbol.value, ByteOrder::big);
    table.add(entry.bytes());
}

void write_short_symbols(Run& run, BlockFile& file, CodDirectory& directory,
                         const ScopeTables& scopes, const std::vector<PlainSymbol>& plain) {
    TableWriter table(file, directory.symbols);
    for (const LocatedVariable& variable : scopes.externs)
        short_symbol(run, table, variable.name, variable.symbol);
    for (const PlainSymbol& symbol : plain)
        short_symbol(run, table, symbol.name, symbol.symbol);
    table.finish();
}

void write_long_symbols(Run& run, BlockFile& file, CodDirectory& directory,
                        const ScopeTables& scopes, const std::vector<PlainSymbol>& plain) {
    TableWriter table(file, directory.long_symbols);
    for (const LocatedVariable& variable : scopes.externs)
        long_symbol(run, table, variable.name, variable.symbol);
    if (run.options.fake_globals) {
        for (const FunctionRecord& record : scopes.records) {
            if (!record.kept) continue;
            const std::string& function = record.variables.front().name;
            for (size_t k = 1; k < record.variables.size(); ++k) {
                std::string name = function + "." + record.variables[k].name;
                if (name.size() > LOCAL_LONG_NAME_LIMIT) name.resize(LOCAL_LONG_NAME_LIMIT);
                long_symbol(run, table, name, record.variables[k].symbol);
            }
        }
    }
    for (const PlainSymbol& symbol : plain)
        long_symbol(run, table, symbol.name, symbol.symbol);
    table.finish();
}

// Each kept record: a header with its address range in bytes (two per instruction
// word), then its variables.
void write_locals(Run& run, BlockFile& file, CodDirectory& directory, const ScopeTables& scopes) {
    TableWriter table(file, directory.locals);
    for (const FunctionRecord& record : scopes.records) {
        if (!record.kept) continue;
        CodLocalsHeader header;
        put_text(header.name, LOCAL_HEADER_TEXT);
        header.start = static_cast<uint16_t>(record.start * 2);
        header.end = static_cast<uint16_t>(record.end * 2);
        table.add(header);
        for (const LocatedVariable& variable : record.variables)
            short_symbol(run, table, variable.name, variable.symbol);
    }
    table.finish();
}

} // namespace

void write_symbol_tables(Run& run, BlockFile& file, CodDirectory& directory) {
    ScopeTables scopes = collect_scopes(run);
    std::vector<PlainSymbol> plain = plain_symbols(run);
    write_short_symbols(run, file, directory, scopes, plain);
    write_long_symbols(run, file, directory, scopes, plain);
    if (!run.options.fake_globals) write_locals(run, file, directory, scopes);
}
