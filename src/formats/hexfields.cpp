#include "formats/hexfields.h"

uint32_t entry_address = 0;

HexPairTable::HexPairTable() {
    for (unsigned first = 0; first < 256; ++first)
        for (unsigned second = 0; second < 256; ++second) {
            const char pair[2] = {static_cast<char>(first), static_cast<char>(second)};
            values[first << 8 | second] = static_cast<uint16_t>(hex_byte(pair));
        }
}

const HexPairTable hex_pair_value;
