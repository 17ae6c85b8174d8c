// Fields shared by the text image formats (Intel HEX, S-records, TI TXT) and the program
// start address they record, which the ELF writer puts into its file header.
#pragma once

#include <array>
#include <cstdint>

// The program start address named by the last Intel HEX or S-record image read; 0 when
// none was named.

namespace hexfields_detail {
// The value of each hexadecimal digit character; NOT_DIGIT for every other one.
constexpr uint8_t NOT_DIGIT = 0xFF;
constexpr std::array<uint8_t, 256> make_digit_values() {
    std::array<uint8_t, 256> values{};
    for (int c = 0; c < 256; ++c)
        values[c] = NOT_DIGIT;
    for (int c = 0; c < 10; ++c)
        values['0' + c] = static_cast<uint8_t>(c);
    for (int c = 0; c < 6; ++c) {
        values['A' + c] = static_cast<uint8_t>(10 + c);
        values['a' + c] = static_cast<uint8_t>(10 + c);
    }
    return values;
}
inline constexpr std::array<uint8_t, 256> DIGIT_VALUES = make_digit_values();
} // namespace hexfields_detail

// Values of hex_byte for every pair of characters, indexed by the first character times
// 256 plus the second: the fast form for the long data fields of the image formats.
struct HexPairTable {
    uint16_t values[65536];
    HexPairTable();
    unsigned operator()(const char* text) const {
        return values[static_cast<unsigned char>(text[0]) << 8 |
                      static_cast<unsigned char>(text[1])];
    }
};
extern const HexPairTable hex_pair_value;

// Decodes the count pairs of characters at text (all of them inside the text) into bytes,
// each the low byte of its hex_byte value, and answers the sum of those values, so a pair
// that is not hexadecimal stores 0xFF and adds 0xFFFF.
unsigned hex_field(const char* text, unsigned count, uint8_t* bytes);

inline bool is_hex_digit(char c) {
    return hexfields_detail::DIGIT_VALUES[static_cast<unsigned char>(c)] !=
           hexfields_detail::NOT_DIGIT;
}

// Value of the two hexadecimal digits (either case) at text, or 0xFFFF when either is not
// one. The second character is looked at only when the first is a digit, so a pair that
// starts at a string's terminator reads nothing beyond it.
inline unsigned hex_byte(const char* text) {
    unsigned high = hexfields_detail::DIGIT_VALUES[static_cast<unsigned char>(text[0])];
    if (high == hexfields_detail::NOT_DIGIT) return 0xFFFF;
    unsigned low = hexfields_detail::DIGIT_VALUES[static_cast<unsigned char>(text[1])];
    if (low == hexfields_detail::NOT_DIGIT) return 0xFFFF;
    return static_cast<unsigned>(high << 4 | low);
}

// hex_byte(text) * 256 + hex_byte(text + 2).
inline uint32_t hex_word(const char* text) {
    return hex_byte(text) * 256u + hex_byte(text + 2);
}
