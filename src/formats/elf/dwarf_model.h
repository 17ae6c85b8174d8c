// What an ELF file's DWARF gives the store and the type model: the line records of its
// line-number programs, and each unit as a module scope with its functions, variables
// and types, read through the DWARF reader.
#pragma once

#include "common/binio.h"
#include "formats/elf/elf_file.h"

struct Run;

// Reads the DWARF sections of the file: the line records always; the scopes, variables
// and types when a processor family is selected (with_types).
void read_dwarf(Run& run, ByteReader& input, const ElfFile& file, const char* name,
                bool with_types);
