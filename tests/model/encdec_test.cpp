// Byte-order codecs and the case-insensitive text search.
#include <gtest/gtest.h>

#include "common/options.h"
#include "driver/run.h"
#include "model/encdec.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The run's byte order is read at each call; the fixed forms ignore it; values are cut
// to their width.
TEST(Codecs, RunOrderAndFixedForms) {
    const uint8_t in[] = {0xFE, 0xFF, 0x80, 0x01, 5, 6, 7, 8};
    for (bool big : {false, true}) {
        reset_run_state();
        options.big_endian = big;
        EXPECT_EQ(get16(in), big ? 0xFEFFu : 0xFFFEu);
        EXPECT_EQ(get32(in), big ? 0xFEFF8001u : 0x0180FFFEu);
        EXPECT_EQ(get64(in), big ? 0xFEFF800105060708u : 0x080706050180FFFEu);
        EXPECT_EQ(get16_le(in), 0xFFFEu);
        EXPECT_EQ(get32_le(in), 0x0180FFFEu);
        EXPECT_EQ(get32_be(in), 0xFEFF8001u);
        EXPECT_EQ(get64_le(in), 0x080706050180FFFEu);
        EXPECT_EQ(get64_be(in), 0xFEFF800105060708u);
        EXPECT_EQ(get8(in), 0xFEu);
        uint8_t out[44] = {};
        uint8_t* at = put16(out, 0x12345);
        at = put32(at, 0x12345678);
        at = put64(at, 0x0102030405060708u);
        at = put8(at, 0x1FF);
        at = put16_le(at, 0xABCD);
        at = put16_be(at, 0xABCD);
        at = put32_le(at, 0x01020304);
        at = put32_be(at, 0x01020304);
        at = put64_le(at, 0x0102030405060708u);
        at = put64_be(at, 0x0102030405060708u);
        EXPECT_EQ(at, out + 43);
        const Bytes run_order =
            big ? Bytes{0x23, 0x45, 0x12, 0x34, 0x56, 0x78, 1, 2, 3, 4, 5, 6, 7, 8}
                : Bytes{0x45, 0x23, 0x78, 0x56, 0x34, 0x12, 8, 7, 6, 5, 4, 3, 2, 1};
        EXPECT_EQ(Bytes(out, out + 14), run_order) << big;
        EXPECT_EQ(Bytes(out + 14, out + 44),
                  (Bytes{0xFF, 0xCD, 0xAB, 0xAB, 0xCD, 4, 3, 2, 1, 1, 2, 3, 4, 8, 7,
                         6,    5,    4,    3,    2,    1, 1, 2, 3, 4, 5, 6, 7, 8, 0}));
    }
    reset_run_state();
}

TEST(TextSearch, FindIgnoresCase) {
    const struct {
        const char *text, *pattern;
        long at; // -1: not found
    } rows[] = {
        {"xPIC18F452", "pic18", 1}, {"xPIC18F452", "f452", 6}, {"xPIC18F452", "pic16", -1},
        {"xPIC18F452", "", 0},      {"", "pic", -1},           {"", "", -1},
        {"ppPic", "PIC", 2}, // a partial match does not hide a later full one inside it
        {"PI", "pic", -1},   // the pattern may not run past the end of the text
        {"Dspic", "DSP", 0}, // the first position is compared whatever its character
        {"Dspic", "dsp", 0},
    };
    for (const auto& row : rows) {
        const char* found = find_text_nocase(row.text, row.pattern);
        EXPECT_EQ(found ? found - row.text : -1, row.at) << row.text << " " << row.pattern;
    }
    const char* text = "abcABC";
    const std::pair<char, long> chars[] = {{'B', 1}, {'c', 2}, {'x', -1}};
    for (const auto& [c, at] : chars) {
        const char* found = find_char_nocase(text, c);
        EXPECT_EQ(found ? found - text : -1, at) << c;
    }
    EXPECT_EQ(find_char_nocase("", 'a'), nullptr);
}

} // namespace
