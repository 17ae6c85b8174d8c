// What is left of the byte-order codecs once the checked reader and writer
// (common/binio.h) took over the binary formats: the big-endian 16-bit read that the COFF
// family's detection applies to a file's first bytes, and the case-insensitive text
// search of processor names.
#pragma once

#include <cstdint>

uint16_t get16_be(const uint8_t* p);

// First position where pattern occurs ignoring case, or null; an empty text gives null.
const char* find_text_nocase(const char* text, const char* pattern);
