#include "formats/hex/hexfields.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

HexPairTable::HexPairTable() {
    for (unsigned first = 0; first < 256; ++first)
        for (unsigned second = 0; second < 256; ++second) {
            const char pair[2] = {static_cast<char>(first), static_cast<char>(second)};
            values[first << 8 | second] = static_cast<uint16_t>(hex_byte(pair));
        }
}

const HexPairTable hex_pair_value;

namespace {

#if defined(__SSE2__)
// Sixteen pairs at once: false, with nothing stored, unless all 32 characters are
// hexadecimal digits.
bool hex_field16(const char* text, uint8_t* bytes, unsigned* sum) {
    const __m128i zero_char = _mm_set1_epi8('0' - 1), nine_char = _mm_set1_epi8('9' + 1);
    const __m128i a_char = _mm_set1_epi8('a' - 1), f_char = _mm_set1_epi8('f' + 1);
    const __m128i lower = _mm_set1_epi8(0x20);
    __m128i values[2];
    for (int half = 0; half < 2; ++half) {
        __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + 16 * half));
        // Signed compares: bytes from 0x80 up are negative and fail both ranges.
        __m128i digit = _mm_and_si128(_mm_cmpgt_epi8(c, zero_char), _mm_cmplt_epi8(c, nine_char));
        __m128i folded = _mm_or_si128(c, lower);
        __m128i letter =
            _mm_and_si128(_mm_cmpgt_epi8(folded, a_char), _mm_cmplt_epi8(folded, f_char));
        if (_mm_movemask_epi8(_mm_or_si128(digit, letter)) != 0xFFFF) return false;
        __m128i digit_value = _mm_and_si128(digit, _mm_sub_epi8(c, _mm_set1_epi8('0')));
        __m128i letter_value = _mm_and_si128(letter, _mm_sub_epi8(folded, _mm_set1_epi8('a' - 10)));
        __m128i nibbles = _mm_or_si128(digit_value, letter_value);
        // Each 16-bit lane holds the high digit's value in its low byte.
        __m128i high = _mm_slli_epi16(_mm_and_si128(nibbles, _mm_set1_epi16(0x00FF)), 4);
        values[half] = _mm_or_si128(high, _mm_srli_epi16(nibbles, 8));
    }
    __m128i packed = _mm_packus_epi16(values[0], values[1]);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes), packed);
    __m128i sums = _mm_sad_epu8(packed, _mm_setzero_si128());
    *sum += static_cast<unsigned>(_mm_cvtsi128_si32(sums) + _mm_extract_epi16(sums, 4));
    return true;
}
#endif

} // namespace

unsigned hex_field(const char* text, unsigned count, uint8_t* bytes) {
    unsigned sum = 0;
    unsigned k = 0;
#if defined(__SSE2__)
    for (; k + 16 <= count && hex_field16(text + 2 * k, bytes + k, &sum); k += 16) {
    }
#endif
    for (; k < count; ++k) {
        unsigned value = hex_pair_value(text + 2 * k);
        sum += value;
        bytes[k] = static_cast<uint8_t>(value);
    }
    return sum;
}
