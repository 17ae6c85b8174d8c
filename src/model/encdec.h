// Byte-order codecs. The selecting forms follow the run's big_endian option at every
// call, so one writer produces either byte order; the fixed forms ignore it. The put
// operations answer the position just after what they wrote.
#pragma once

#include <cstdint>

uint8_t get8(const uint8_t* p);
uint16_t get16_le(const uint8_t* p);
uint16_t get16_be(const uint8_t* p);
uint32_t get32_le(const uint8_t* p);
uint32_t get32_be(const uint8_t* p);
uint64_t get64_le(const uint8_t* p);
uint64_t get64_be(const uint8_t* p);

uint8_t* put8(uint8_t* p, uint32_t value);
uint8_t* put16_le(uint8_t* p, uint32_t value);
uint8_t* put16_be(uint8_t* p, uint32_t value);
uint8_t* put32_le(uint8_t* p, uint32_t value);
uint8_t* put32_be(uint8_t* p, uint32_t value);
uint8_t* put64_le(uint8_t* p, uint64_t value);
uint8_t* put64_be(uint8_t* p, uint64_t value);

uint16_t get16(const uint8_t* p);
uint32_t get32(const uint8_t* p);
uint64_t get64(const uint8_t* p);
uint8_t* put16(uint8_t* p, uint32_t value);
uint8_t* put32(uint8_t* p, uint32_t value);
uint8_t* put64(uint8_t* p, uint64_t value);

// First position whose character equals c ignoring case, or null.
const char* find_char_nocase(const char* text, int c);
// First position where pattern occurs ignoring case, or null; an empty text gives null.
const char* find_text_nocase(const char* text, const char* pattern);
