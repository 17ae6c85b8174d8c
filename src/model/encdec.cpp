#include "model/encdec.h"

#include <cctype>
#include <cstring>
#include <strings.h>

namespace {

// First position whose character equals c ignoring case, or null.
const char* find_char_nocase(const char* text, int c) {
    int wanted = toupper(static_cast<unsigned char>(c));
    for (; *text; ++text)
        if (toupper(static_cast<unsigned char>(*text)) == wanted) return text;
    return nullptr;
}

} // namespace

uint16_t get16_be(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
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
