// TI TXT images: address lines "@" and a hexadecimal address, data lines of hexadecimal
// bytes separated by blanks, and a final "q". The store's data blocks are written in this
// form and such a file can be dumped; reading accepts any file and keeps nothing.
#include "common/textio.h"
#include "formats/descriptors.h"
#include "formats/hex/hexfields.h"
#include "model/run.h"
#include "model/store.h"

namespace {

constexpr size_t LINE_LIMIT = 127;
// A TI-TXT file holds an image of a 20-bit address space at three characters a byte:
// some 3 MiB of text at most.
constexpr uint64_t TITXT_SIZE_LIMIT = uint64_t(16) << 20;
constexpr unsigned BYTES_PER_LINE = 16;

bool titxt_detect(Run& run, FILE* in) {
    LineReader lines(run.messages, in, LINE_LIMIT);
    if (!lines.next()) return false;
    const char* text = lines.text();
    if (text[0] == '@') {
        for (int k = 1; k <= 4; ++k)
            if (!is_hex_digit(text[k])) return false;
        return true;
    }
    if (text[0] == 'q') return text[1] == '\n';
    if (!is_hex_digit(text[0])) return false;
    for (size_t k = 0; k < lines.length(); ++k) {
        char c = text[k];
        bool fits = k % 3 == 2 ? c == ' ' || c == '\n' : is_hex_digit(c);
        if (!fits) return false;
    }
    return true;
}

int titxt_read(Run&, FILE*, const char*) {
    return 1;
}

int titxt_write(Run& run, FILE* out, const char* name) {
    TextOutput text(run.messages, out, name);
    for (const DataBlock* block : run.store.data) {
        text.put('@');
        text.put_hex_min(block->address, 4);
        text.put('\n');
        const uint8_t* bytes = block->bytes.data();
        for (uint64_t offset = 0; offset < block->size; offset += BYTES_PER_LINE) {
            uint64_t end =
                offset + BYTES_PER_LINE < block->size ? offset + BYTES_PER_LINE : block->size;
            char* p = text.reserve(3 * BYTES_PER_LINE + 1);
            for (uint64_t k = offset; k < end; ++k) {
                p = hex_pair(p, bytes[k]);
                *p++ = ' ';
            }
            *p++ = '\n';
            text.commit(p);
        }
    }
    text.put("q\n\n", 3);
    text.flush();
    return text.failed() ? 0 : 1;
}

bool titxt_dump(Run& run, FILE* in) {
    fputs("TI-.txt file dump:\n\n", stdout);
    LineReader lines(run.messages, in, LINE_LIMIT, "TI-TXT", TITXT_SIZE_LIMIT);
    uint32_t address = 0;
    while (lines.next()) {
        const char* text = lines.text();
        if (text[0] == 'q') break;
        if (text[0] == '@') {
            address = hex_word(text + 1);
        } else if (is_hex_digit(text[0])) {
            printf(" %04lX : ", static_cast<unsigned long>(address));
            // Pairs three characters apart; the first one that is not hexadecimal ends
            // the line (at the latest the terminator after the line's text).
            unsigned count = 0;
            for (; count < BYTES_PER_LINE; ++count) {
                unsigned value = hex_byte(text + 3 * count);
                if (value > 0xFF) break;
                printf(" %02X", value);
            }
            putchar('\n');
            address += count;
        }
    }
    return true;
}

} // namespace

const FormatDescriptor titxt_format = {
    titxt_detect, titxt_read, titxt_write, titxt_dump, "TI-.TXT", "titxt", "txt", false,
};
