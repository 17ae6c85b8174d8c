// Microchip COFF files: detection here; the reader and the dump are the COFF family's
// (coff.cpp) with the Microchip layouts. The writer is not built yet.
#include "common/options.h"
#include "formats/coff_internal.h"
#include "formats/descriptors.h"
#include "model/encdec.h"

namespace {

bool mcoff_detect(FILE* in) {
    uint8_t raw[COFF_FILE_HEADER_SIZE];
    if (fread(raw, 1, sizeof raw, in) != sizeof raw) return false;
    if (get16_be(raw) != MCOFF_MAGIC) return false;
    // Microchip COFF is little-endian; the order stays set even when a later check fails.
    options.big_endian = false;
    return coff_header_plausible(raw);
}

int mcoff_read(FILE* in, const char*) {
    return read_coff_family(in, true);
}

bool mcoff_dump(FILE* in) {
    return dump_coff_family(in, true);
}

} // namespace

const FormatDescriptor mcoff_format = {
    mcoff_detect, mcoff_read, write_placeholder, mcoff_dump, "Microchip COFF", "mcoff", "cof", true,
};
