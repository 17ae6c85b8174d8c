// .COD record layouts, shared by the writer (cod_writer.cpp, cod_symbols.cpp) and the
// dump (dotcod.cpp). The file is a run of 512-byte blocks: a directory, then the memory
// map, the code pages, the line, file-name, symbol and locals tables that the directory
// points at.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "common/binio.h"

struct Run;

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

// The name a locals header holds in place of a symbol's.
constexpr const char* LOCAL_HEADER_TEXT = "__LOCAL";

// The symbol types the writer gives (the dump names every type).
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

int cod_write(Run& run, FILE* out, const char* name);
