// What the ELF reader and the ELF dump share: the file's header, section and program
// headers and its two string tables, loaded and checked; and the ELF format's three
// operations, one file each (elf_read.cpp, elf_write.cpp, elf_dump.cpp).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/binio.h"
#include "formats/elf/elf.h"

struct Run;

struct ElfFile {
    ElfHeader header;
    std::vector<ElfSectionHeader> sections;
    std::vector<ElfProgramHeader> programs;
    std::vector<uint8_t> section_names;
    std::vector<uint8_t> symbol_names;
};

// The header's identification checks; the run's byte order follows the file from the
// moment its data encoding is known to be valid. Each failed check is told at -v -v.
bool identify(Run& run, const uint8_t* ident);

// Loads the header, the section and program headers and the two string tables; false
// (said) when they cannot be read or are not acceptable.
bool load_elf(Run& run, ByteReader& input, ElfFile* file);

// A NUL-terminated name at an offset of a string table; "(unknown)" outside it.
std::string table_name(const std::vector<uint8_t>& table, uint32_t offset);

// A section's bytes; empty when they are not in the file. Sections may share one area,
// so what is loaded is measured.
std::vector<uint8_t> section_bytes(Run& run, ByteReader& input, const ElfSectionHeader& section);

bool elf_detect(Run& run, FILE* in);
int elf_read(Run& run, FILE* in, const char* name);
int elf_write(Run& run, FILE* out, const char* name);
bool elf_dump(Run& run, FILE* in);
