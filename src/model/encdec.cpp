#include "model/encdec.h"

#include <cctype>
#include <cstring>
#include <strings.h>

#include "common/options.h"

uint8_t get8(const uint8_t* p) {
    return p[0];
}
uint16_t get16_le(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint16_t get16_be(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}
uint32_t get32_le(const uint8_t* p) {
    return get16_le(p) | (uint32_t(get16_le(p + 2)) << 16);
}
uint32_t get32_be(const uint8_t* p) {
    return (uint32_t(get16_be(p)) << 16) | get16_be(p + 2);
}
uint64_t get64_le(const uint8_t* p) {
    return get32_le(p) | (uint64_t(get32_le(p + 4)) << 32);
}
uint64_t get64_be(const uint8_t* p) {
    return (uint64_t(get32_be(p)) << 32) | get32_be(p + 4);
}

uint8_t* put8(uint8_t* p, uint32_t value) {
    p[0] = static_cast<uint8_t>(value);
    return p + 1;
}
uint8_t* put16_le(uint8_t* p, uint32_t value) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
    return p + 2;
}
uint8_t* put16_be(uint8_t* p, uint32_t value) {
    p[0] = static_cast<uint8_t>(value >> 8);
    p[1] = static_cast<uint8_t>(value);
    return p + 2;
}
uint8_t* put32_le(uint8_t* p, uint32_t value) {
    return put16_le(put16_le(p, value), value >> 16);
}
uint8_t* put32_be(uint8_t* p, uint32_t value) {
    return put16_be(put16_be(p, value >> 16), value);
}
uint8_t* put64_le(uint8_t* p, uint64_t value) {
    return put32_le(put32_le(p, static_cast<uint32_t>(value)), static_cast<uint32_t>(value >> 32));
}
uint8_t* put64_be(uint8_t* p, uint64_t value) {
    return put32_be(put32_be(p, static_cast<uint32_t>(value >> 32)), static_cast<uint32_t>(value));
}

uint16_t get16(const uint8_t* p) {
    return options.big_endian ? get16_be(p) : get16_le(p);
}
uint32_t get32(const uint8_t* p) {
    return options.big_endian ? get32_be(p) : get32_le(p);
}
uint64_t get64(const uint8_t* p) {
    return options.big_endian ? get64_be(p) : get64_le(p);
}
uint8_t* put16(uint8_t* p, uint32_t v) {
    return options.big_endian ? put16_be(p, v) : put16_le(p, v);
}
uint8_t* put32(uint8_t* p, uint32_t v) {
    return options.big_endian ? put32_be(p, v) : put32_le(p, v);
}
uint8_t* put64(uint8_t* p, uint64_t v) {
    return options.big_endian ? put64_be(p, v) : put64_le(p, v);
}

const char* find_char_nocase(const char* text, int c) {
    int wanted = toupper(static_cast<unsigned char>(c));
    for (; *text; ++text)
        if (toupper(static_cast<unsigned char>(*text)) == wanted) return text;
    return nullptr;
}

const char* find_text_nocase(const char* text, const char* pattern) {
    size_t length = strlen(pattern);
    const char* p = text;
    while (p && *p) {
        if (strncasecmp(p, pattern, length) == 0) return p;
        p = find_char_nocase(p + 1, pattern[0]);
    }
    return nullptr;
}
