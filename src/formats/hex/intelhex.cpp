// Intel HEX images: ":" count address type data checksum, every byte as two hexadecimal
// digits. Data records become data blocks of the store; the writer lays the store's
// blocks out as 16-byte records with extended linear address records above 64 KiB.
#include <cctype>

#include "common/alert.h"
#include "common/textio.h"
#include "formats/descriptors.h"
#include "formats/hex/hexfields.h"
#include "model/run.h"
#include "model/store.h"

namespace {

enum RecordType : unsigned {
    DATA = 0,
    END_OF_FILE = 1,
    EXTENDED_SEGMENT_ADDRESS = 2,
    START_SEGMENT_ADDRESS = 3,
    EXTENDED_LINEAR_ADDRESS = 4,
    START_LINEAR_ADDRESS = 5,
};

constexpr size_t LINE_LIMIT = 511;
constexpr size_t DATA_FIELD = 9;

bool ihex_detect(Run& run, FILE* in) {
    LineReader lines(run.messages, in, LINE_LIMIT);
    if (!lines.next()) return false;
    const char* text = lines.text();
    if (text[0] != ':') return false;
    size_t end = lines.length();
    while (end > 1 && isspace(static_cast<unsigned char>(text[end - 1])))
        --end;
    if ((end - 1) % 2 != 0) return false;
    unsigned sum = 0;
    for (size_t k = 1; k < end; k += 2) {
        if (!is_hex_digit(text[k]) || !is_hex_digit(text[k + 1])) return false;
        sum += hex_byte(text + k);
    }
    return sum % 256 == 0;
}

// Reader state of one file.
struct IhexReader {
    uint32_t segment_base = 0; // added to each data record's address
    uint32_t start_base = 0;   // the start address named so far
};

int ihex_read(Run& run, FILE* in, const char* name) {
    LineReader lines(run.messages, in, LINE_LIMIT, "Intel HEX");
    IhexReader reader;
    uint8_t bytes[256];
    while (lines.next()) {
        const char* text = lines.text();
        if (text[0] != ':') {
            message(run.messages, 635, name, lines.number());
            return 0;
        }
        unsigned count = hex_byte(text + 1);
        uint32_t address = hex_word(text + 3);
        unsigned type = hex_byte(text + 7);
        unsigned sum = count + type + (address & 0xFF) + ((address >> 8) & 0xFF);
        const char* field = text + DATA_FIELD;
        const char* checksum_at = field;
        if (type <= START_LINEAR_ADDRESS) {
            if (type == END_OF_FILE) {
                run.store.entry_address = reader.start_base;
                return 1;
            }
            // A record's data are stored before its checksum is looked at, so a line that
            // stops after its data field keeps them and then fails the check below. A line
            // that stops inside the data field has no data to keep.
            if (DATA_FIELD + 2 * size_t(count) > lines.content_length()) {
                message(run.messages, 636, name, lines.number());
                return 0;
            }
            sum += hex_field(field, count, bytes);
            checksum_at = field + 2 * count;
            switch (type) {
            case DATA: add_data_piece(run, reader.segment_base + address, count, bytes, 0); break;
            case EXTENDED_SEGMENT_ADDRESS: reader.segment_base = hex_word(field) * 16; break;
            case START_SEGMENT_ADDRESS:
                reader.start_base = hex_word(field) * 16 + hex_word(field + 4);
                break;
            case EXTENDED_LINEAR_ADDRESS: reader.segment_base = hex_word(field) * 65536; break;
            case START_LINEAR_ADDRESS:
                reader.start_base = hex_word(field) * 65536 + hex_word(field + 4);
                break;
            }
        }
        if ((sum + hex_byte(checksum_at)) % 256 != 0) {
            message(run.messages, 636, name, lines.number());
            return 0;
        }
    }
    return 1;
}

void put_extended_linear_address(TextOutput& out, uint32_t upper) {
    out.put(":02000004", 9);
    out.put_hex(upper, 4);
    out.put_hex2(-(2 + 4 + (upper >> 8) + (upper & 0xFF)) & 0xFF);
    out.put('\n');
}

void put_data_record(TextOutput& out, uint32_t address, const uint8_t* bytes, unsigned count) {
    char* const line = out.reserve(12 + 2 * 16);
    unsigned sum = count + (address & 0xFF) + ((address >> 8) & 0xFF);
    char* p = line;
    *p++ = ':';
    p = hex_pair(p, count);
    p = hex_pair(p, (address >> 8) & 0xFF);
    p = hex_pair(p, address & 0xFF);
    *p++ = '0';
    *p++ = '0';
    p = hex_text(p, bytes, count, &sum);
    p = hex_pair(p, -sum & 0xFF);
    *p++ = '\n';
    out.commit(p);
}

int ihex_write(Run& run, FILE* out, const char* name) {
    TextOutput text(run.messages, out, name);
    uint32_t announced = 0; // upper 16 address bits last announced
    for (const DataBlock* block : run.store.data) {
        const uint8_t* bytes = block->bytes.data();
        for (uint64_t offset = 0; offset < block->size; offset += 16) {
            uint32_t address = static_cast<uint32_t>(block->address + offset);
            unsigned count = block->size - offset < 16 ? unsigned(block->size - offset) : 16;
            uint32_t upper = address & 0xFFFF0000;
            if (upper != announced) {
                put_extended_linear_address(text, upper >> 16);
                announced = upper;
            }
            put_data_record(text, address, bytes + offset, count);
        }
    }
    text.put(":00000001FF\n", 12);
    text.flush();
    return text.failed() ? 0 : 1;
}

} // namespace

const FormatDescriptor ihex_format = {
    ihex_detect, ihex_read, ihex_write, dump_placeholder, "Intel HEX", "ihex", "hex", false,
};
