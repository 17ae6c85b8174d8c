// Holtek task files: a little-endian header ("HL", version, header length, data length,
// microcontroller name) followed by the program image, which is read into the store in
// pieces of 256 bytes. The format is read and dumped, not written.
#include <cstring>

#include "common/binio.h"
#include "formats/descriptors.h"
#include "model/run.h"
#include "model/store.h"

namespace {

constexpr uint32_t MAX_HEADER = 32; // longest header this reader accepts
constexpr size_t PIECE = 256;

// The fixed part of the header.
struct TskHeader {
    uint8_t magic[2] = {}; // "HL"
    uint8_t version[6] = {};
    uint32_t header_length = 0; // where the program image starts
    uint32_t data_length = 0;
};
template <class F> constexpr void layout(F& f, TskHeader& r) {
    f("magic", r.magic);
    f("version", r.version);
    f("header_length", r.header_length);
    f("data_length", r.data_length);
}
constexpr size_t FIXED_HEADER = record_size<TskHeader>();

// The microcontroller's name follows the fixed part in a header of 16 to 32 bytes; other
// lengths are refused. The name is cut at the end of a short header.
bool read_name(ByteReader& input, const TskHeader& header, char (&name)[MAX_HEADER + 1]) {
    if (header.header_length < FIXED_HEADER || header.header_length > MAX_HEADER) return false;
    memset(name, 0, sizeof name);
    return input.read_at(FIXED_HEADER, name, header.header_length - FIXED_HEADER);
}

bool tsk_detect(Run&, FILE* in) {
    TskHeader header;
    if (!ByteReader(in, ByteOrder::little).record_at(0, &header)) return false;
    // A header length of 32 in its low two bytes.
    return header.magic[0] == 'H' && header.magic[1] == 'L' &&
           (header.header_length & 0xFFFF) == 0x20;
}

int tsk_read(Run& run, FILE* in, const char*) {
    ByteReader input(in, ByteOrder::little);
    TskHeader header;
    char name[MAX_HEADER + 1];
    if (!input.record_at(0, &header) || !read_name(input, header, name)) return 0;
    uint8_t piece[PIECE];
    uint32_t address = 0;
    uint64_t at = header.header_length;
    for (uint32_t left = header.data_length; left > 0;) {
        size_t size = left < PIECE ? left : PIECE;
        if (!input.read_at(at, piece, size)) return 0;
        add_data(run, address, static_cast<uint32_t>(size), piece, 0);
        address += static_cast<uint32_t>(size);
        at += size;
        left -= static_cast<uint32_t>(size);
    }
    return 1;
}

bool tsk_dump(Run&, FILE* in) {
    fputs("Holtek TSK file dump:\n\n", stdout);
    ByteReader input(in, ByteOrder::little);
    TskHeader header;
    if (!input.record_at(0, &header)) return false;
    printf("version = %.6s; data start = 0x%lX; length = 0x%lX\n",
           reinterpret_cast<const char*>(header.version),
           static_cast<unsigned long>(header.header_length),
           static_cast<unsigned long>(header.data_length));
    char name[MAX_HEADER + 1];
    if (!read_name(input, header, name)) return false;
    printf("MCU = %.16s\n", name);
    return true;
}

} // namespace

const FormatDescriptor tsk_format = {
    tsk_detect, tsk_read, write_placeholder, tsk_dump, "Holtek TSK", "tsk", "tsk", true,
};
