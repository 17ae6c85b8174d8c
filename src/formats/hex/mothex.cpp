// Motorola S-record images: "S", a type digit, a byte count, an address of 2, 3 or 4
// bytes, data and a one's-complement checksum. S1, S2 and S3 data records become data
// blocks; the writer picks the record type for each record by its own address.
#include <cctype>

#include "common/textio.h"
#include "formats/descriptors.h"
#include "formats/hex/hexfields.h"
#include "model/run.h"
#include "model/store.h"

namespace {

constexpr size_t LINE_LIMIT = 511;

bool is_decimal_digit(char c) {
    return c >= '0' && c <= '9';
}

bool s19_detect(Run& run, FILE* in) {
    LineReader lines(run.messages, in, LINE_LIMIT);
    if (!lines.next()) return false;
    const char* text = lines.text();
    if (text[0] != 'S' || !is_decimal_digit(text[1])) return false;
    size_t end = lines.length();
    while (end > 0 && isspace(static_cast<unsigned char>(text[end - 1])))
        --end;
    if (end % 2 != 0) return false;
    for (size_t k = 1; k < end; ++k)
        if (!is_hex_digit(text[k])) return false;
    return true;
}

// Where a data record's address ends and how many bytes of the count it takes up with
// the checksum.
struct DataLayout {
    size_t data_at;
    int overhead;
};

int s19_read(Run& run, FILE* in, const char*) {
    LineReader lines(run.messages, in, LINE_LIMIT, "S-record");
    uint8_t bytes[256];
    while (lines.next()) {
        const char* text = lines.text();
        if (text[0] != 'S') return 0;
        if (!is_decimal_digit(text[1])) return 1;
        uint32_t address;
        DataLayout layout;
        switch (text[1]) {
        case '0': continue;
        case '1':
            address = hex_word(text + 4);
            layout = {8, 3};
            break;
        case '2':
            address = hex_word(text + 4) * 256 + hex_byte(text + 8);
            layout = {10, 4};
            break;
        case '3':
            address = hex_word(text + 4) * 65536 + hex_word(text + 8);
            layout = {12, 5};
            break;
        case '7':
            run.store.entry_address = hex_word(text + 4) * 65536 + hex_word(text + 8);
            return 1;
        case '8': run.store.entry_address = hex_word(text + 4) * 256 + hex_byte(text + 8); return 1;
        case '9': run.store.entry_address = hex_word(text + 4); return 1;
        default: return 1;
        }
        int count = static_cast<int>(hex_byte(text + 2)) - layout.overhead;
        // A count too small for its address, or data running past the line's end: the
        // record cannot be taken and is passed over.
        if (count < 0 || layout.data_at + 2 * size_t(count) > lines.content_length()) continue;
        hex_field(text + layout.data_at, static_cast<unsigned>(count), bytes);
        add_data_piece(run, address, static_cast<uint32_t>(count), bytes, 0);
    }
    return 1;
}

void put_record(TextOutput& out, uint32_t address, const uint8_t* bytes, unsigned count) {
    char* const line = out.reserve(4 + 8 + 2 * 16 + 3);
    int address_bytes = address < 0x10000 ? 2 : address > 0xFFFFFF ? 4 : 3;
    unsigned record_count = count + address_bytes + 1;
    unsigned sum = record_count;
    char* p = line;
    *p++ = 'S';
    *p++ = static_cast<char>('0' + address_bytes - 1);
    p = hex_pair(p, record_count);
    for (int k = address_bytes - 1; k >= 0; --k) {
        unsigned byte = (address >> (8 * k)) & 0xFF;
        p = hex_pair(p, byte);
        sum += byte;
    }
    p = hex_text(p, bytes, count, &sum);
    p = hex_pair(p, ~sum & 0xFF);
    *p++ = '\n';
    out.commit(p);
}

int s19_write(Run& run, FILE* out, const char* name) {
    TextOutput text(run.messages, out, name);
    for (const DataBlock* block : run.store.data) {
        const uint8_t* bytes = block->bytes.data();
        for (uint64_t offset = 0; offset < block->size; offset += 16) {
            unsigned count = block->size - offset < 16 ? unsigned(block->size - offset) : 16;
            put_record(text, static_cast<uint32_t>(block->address + offset), bytes + offset, count);
        }
    }
    text.flush();
    return text.failed() ? 0 : 1;
}

} // namespace

const FormatDescriptor s19_format = {
    s19_detect, s19_read, s19_write, dump_placeholder, "Motorola HEX", "s19", "hex", false,
};
