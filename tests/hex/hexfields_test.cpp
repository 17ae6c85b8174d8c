// The hexadecimal field reader of the text image formats (their writers' hex text is
// checked by the hex cases).
#include <gtest/gtest.h>

#include <cstdio>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "formats/hex/hexfields.h"

namespace {

// The digit pairs of 40 bytes, with the pair at `bad` (if any) replaced.
std::string pairs(const std::vector<uint8_t>& bytes, size_t bad, const char* replacement) {
    std::string text;
    char pair[3];
    for (size_t k = 0; k < bytes.size(); ++k) {
        snprintf(pair, sizeof pair, k % 3 ? "%02X" : "%02x", bytes[k]);
        text += k == bad ? replacement : pair;
    }
    return text;
}

TEST(HexField, AgreesWithHexByteForEveryKindOfPair) {
    std::mt19937 random(7);
    std::vector<uint8_t> bytes(40);
    const char* const replacements[] = {"G0",
                                        "0g",
                                        "\x80"
                                        "0",
                                        "0\xff",
                                        "/0",
                                        ":0",
                                        "@A",
                                        "`a",
                                        " 1",
                                        "0\n"};
    for (int round = 0; round < 400; ++round) {
        for (uint8_t& b : bytes)
            b = static_cast<uint8_t>(random());
        size_t bad = round % 3 == 0 ? bytes.size() : random() % bytes.size();
        std::string text = pairs(bytes, bad, replacements[random() % std::size(replacements)]);
        unsigned count = 1 + random() % 40;
        uint8_t out[40];
        unsigned sum = hex_field(text.c_str(), count, out);
        unsigned want_sum = 0;
        for (unsigned k = 0; k < count; ++k) {
            unsigned value = hex_byte(text.c_str() + 2 * k);
            want_sum += value;
            ASSERT_EQ(out[k], static_cast<uint8_t>(value)) << round << " " << k;
        }
        ASSERT_EQ(sum, want_sum) << round;
    }
}

} // namespace
