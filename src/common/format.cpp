#include "common/format.h"

#include <cctype>

int read_placeholder(Run&, FILE*, const char*) {
    return 0;
}
int write_placeholder(Run&, FILE*, const char*) {
    return 0;
}
bool dump_placeholder(Run&, FILE*) {
    return false;
}

void hex_dump(FILE* out, unsigned long address, unsigned bytes_per_line, const uint8_t* data,
              size_t count, const char* address_format, bool with_text) {
    if (bytes_per_line == 0) bytes_per_line = 16;
    while (count > 0) {
        size_t n = count < bytes_per_line ? count : bytes_per_line;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
        fprintf(out, address_format, address);
#pragma GCC diagnostic pop
        for (size_t k = 0; k < n; ++k)
            fprintf(out, " %02X", data[k]);
        address = (address + n) & 0xFFFFFFFFul; // 32 bits on every platform
        if (with_text) {
            for (size_t k = n; k < bytes_per_line; ++k)
                fputs("   ", out);
            fputc(' ', out);
            for (size_t k = 0; k < n; ++k) {
                int c = data[k];
                fputc(isalnum(c) || ispunct(c) || c == ' ' ? c : '.', out);
            }
        }
        fputc('\n', out);
        data += n;
        count -= n;
    }
}
