// The half of a COFF write that the generic (coff.cpp) and Microchip (mcoff.cpp) writers
// share: the sections made from segments and data blocks, the symbol table made from the
// scopes and types of the side files and the store's symbols, and the line records of
// each function. The two differ in the widths and rules their CoffDialect holds; each lays
// out its own line-number entries, headers and file order. The ICOFF writer uses only
// OutputFile.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "formats/coff/coff_internal.h"
#include "model/store.h"
#include "model/type.h"

struct Run;

// The end of every COFF-family write: the symbol table at offset and the string table
// after it, then the file header (its section count and symbol-table offset filled in)
// at 0 and the section headers from sections_at; flushes the output.
void write_coff_tail(Run& run, OutputFile& output, CoffFileHeader header, uint64_t offset,
                     const std::vector<uint8_t>& symbols, const std::vector<uint8_t>& strings,
                     uint64_t sections_at, const std::vector<CoffSectionHeader>& sections);

struct CoffSection {
    std::string name;
    CoffSectionHeader header;
    const DataBlock* block = nullptr; // text sections: the program bytes
};

// A function met by the scope walk.
struct CoffFunction {
    const ScopeEntry* scope = nullptr;
    const ScopeEntry* entry = nullptr; // the entry that declared it; null when none
    uint32_t start = 0;                // start address
    int32_t section = 0;               // section number of its location
    uint32_t symbol_index = 0;         // its own symbol entry (0 when it has none)
    std::vector<const LineRecord*> lines;
};

// Where a location (a value and a store segment number) lies among the sections.
struct CoffSectionMap {
    uint32_t base = 0;       // sections before the data-segment sections
    uint32_t first_text = 0; // number of the first "_text%d" section
    uint32_t code_unit = 1, data_unit = 1;
    std::vector<uint32_t> programs_upto; // program segments among 1..k, by k
    struct Span {
        uint32_t address;
        uint64_t end;
        uint32_t block; // position in the data list
    };
    std::vector<Span> spans;       // data blocks by address
    std::vector<uint64_t> max_end; // highest end among spans[0..k]

    // A location in a segment of a program class lies in the text section whose block
    // holds it (else its segment number stands); any other in the data-segment section
    // of the segment that holds it.
    int32_t section_of(Run& run, uint32_t value, uint32_t segment) const;
    // The first block in store order that holds the byte address, or -1.
    int32_t block_holding(uint32_t address) const;
};

// Everything a COFF write lays out before the bytes go out.
struct CoffImage {
    std::vector<CoffSection> sections; // in section-number order from 1
    uint32_t first_text_section = 0;   // number of the first "_text%d" section
    CoffSectionMap map;
    std::vector<uint8_t> symbols; // entries and auxiliary entries, entry_size each
    uint32_t symbol_count = 0;
    std::string long_names; // the string table's names, each with its NUL
    std::vector<CoffFunction> functions;
    std::vector<const FileRecord*> assembler_files; // Microchip: ".as" files with lines

    // The string table: its size field, then the names.
    std::vector<uint8_t> string_table(Run& run) const;
    int32_t section_of(Run& run, uint32_t value, uint32_t segment) const {
        return map.section_of(run, value, segment);
    }
    // For each section (index = section number), the functions placed in it, in
    // function-list order.
    std::vector<std::vector<const CoffFunction*>> functions_by_section() const;
};

// Sections, the symbol table and each function's line records, for the dialect.
CoffImage build_coff_image(Run& run, const CoffDialect& dialect);

// Writes the program bytes of the text sections one after the other from offset and
// points their headers at them; answers the offset after the last.
uint64_t write_section_contents(OutputFile& output, CoffImage& image, uint64_t offset);
// write_coff_tail with the image's symbol table, string table and section headers.
void write_coff_tail(Run& run, OutputFile& output, CoffFileHeader header, uint64_t offset,
                     const CoffImage& image, uint64_t sections_at);
