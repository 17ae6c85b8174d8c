// Holtek task files: a little-endian header ("HL", version, header length, data length,
// microcontroller name) followed by the program image, which is read into the store in
// pieces of 256 bytes. The format is read and dumped, not written.
#include <cstring>

#include "formats/descriptors.h"
#include "model/encdec.h"
#include "model/store.h"

namespace {

constexpr size_t FIXED_HEADER = 16;
constexpr uint32_t MAX_HEADER = 32; // longest header this reader accepts
constexpr size_t PIECE = 256;

// The header as far as it has been read: the fixed 16 bytes, then the rest.
struct TskHeader {
    uint8_t bytes[MAX_HEADER + 1] = {};
    uint32_t header_length = 0;
    uint32_t data_length = 0;

    bool read_fixed(FILE* in) {
        if (fread(bytes, 1, FIXED_HEADER, in) != FIXED_HEADER) return false;
        header_length = get32_le(bytes + 8);
        data_length = get32_le(bytes + 12);
        return true;
    }
    // The rest of a header of 16 to 32 bytes; other lengths are refused.
    bool read_rest(FILE* in) {
        if (header_length < FIXED_HEADER || header_length > MAX_HEADER) return false;
        size_t rest = header_length - FIXED_HEADER;
        return fread(bytes + FIXED_HEADER, 1, rest, in) == rest;
    }
};

bool tsk_detect(FILE* in) {
    uint8_t head[FIXED_HEADER];
    if (fread(head, 1, sizeof head, in) != sizeof head) return false;
    return head[0] == 'H' && head[1] == 'L' && head[8] == 0x20 && head[9] == 0;
}

int tsk_read(FILE* in, const char*) {
    TskHeader header;
    if (!header.read_fixed(in) || !header.read_rest(in)) return 0;
    uint8_t piece[PIECE];
    uint32_t address = 0;
    for (uint32_t left = header.data_length; left > 0;) {
        size_t size = left < PIECE ? left : PIECE;
        if (fread(piece, 1, size, in) != size) return 0;
        add_data(address, static_cast<uint32_t>(size), piece, 0);
        address += static_cast<uint32_t>(size);
        left -= static_cast<uint32_t>(size);
    }
    return 1;
}

bool tsk_dump(FILE* in) {
    fputs("Holtek TSK file dump:\n\n", stdout);
    TskHeader header;
    if (!header.read_fixed(in)) return false;
    printf("version = %.6s; data start = 0x%lX; length = 0x%lX\n",
           reinterpret_cast<const char*>(header.bytes + 2),
           static_cast<unsigned long>(header.header_length),
           static_cast<unsigned long>(header.data_length));
    if (!header.read_rest(in)) return false;
    // The name is cut at the end of a short header (the bytes after it are zero).
    printf("MCU = %.16s\n", reinterpret_cast<const char*>(header.bytes + FIXED_HEADER));
    return true;
}

} // namespace

const FormatDescriptor tsk_format = {
    tsk_detect, tsk_read, write_placeholder, tsk_dump, "Holtek TSK", "tsk", "tsk", true,
};
