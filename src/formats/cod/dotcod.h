// .COD files: the parts of the writer that the tests look at on their own.
#pragma once

#include <cstdint>

#include "model/store.h"
#include "model/type.h"

// The .COD symbol type of a variable of that type (its outermost node first, one
// qualifier node passed over); with fake_globals, basic, enumeration, structure and
// array types all give the type "unknown".
uint8_t cod_type_code(TypeRef type, bool fake_globals);

// The address of a source line in the file's line records (sorted by line number): the
// record's own for a line that has one, the next record's address - 1 for a line between
// two records, the last record's address + 1 past the last, and 0 before the first.
uint32_t cod_line_address(const FileRecord& file, uint32_t line);
