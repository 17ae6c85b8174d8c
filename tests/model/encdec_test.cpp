// Byte-order codecs and the case-insensitive text search.
#include <gtest/gtest.h>

#include <cstring>

#include "common/options.h"
#include "driver/run.h"
#include "model/encdec.h"

namespace {

class Codecs : public ::testing::Test {
  protected:
    void SetUp() override { reset_run_state(); }
    void TearDown() override { reset_run_state(); }
    uint8_t buffer[16] = {};
};

TEST_F(Codecs, SelectingFormsFollowTheByteOrderAtEachCall) {
    uint8_t* end = put32(buffer, 0x12345678);
    EXPECT_EQ(end, buffer + 4);
    const uint8_t little[] = {0x78, 0x56, 0x34, 0x12};
    EXPECT_EQ(memcmp(buffer, little, 4), 0);
    EXPECT_EQ(get32(buffer), 0x12345678u);

    options.big_endian = true;
    end = put32(buffer + 4, 0x12345678);
    EXPECT_EQ(end, buffer + 8);
    const uint8_t big[] = {0x12, 0x34, 0x56, 0x78};
    EXPECT_EQ(memcmp(buffer + 4, big, 4), 0);
    // The bytes written little-endian read differently now.
    EXPECT_EQ(get32(buffer), 0x78563412u);
    EXPECT_EQ(get16(buffer + 4), 0x1234u);

    options.big_endian = false;
    EXPECT_EQ(put16(buffer, 0x12345), buffer + 2);
    EXPECT_EQ(buffer[0], 0x45);
    EXPECT_EQ(buffer[1], 0x23);
    EXPECT_EQ(buffer[2], 0x34); // untouched
}

TEST_F(Codecs, SixtyFourBitsBothWays) {
    const uint8_t bytes[] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(get64_be(bytes), 0x0102030405060708u);
    EXPECT_EQ(get64_le(bytes), 0x0807060504030201u);
    EXPECT_EQ(put64_be(buffer, 0x0102030405060708u), buffer + 8);
    EXPECT_EQ(memcmp(buffer, bytes, 8), 0);
    EXPECT_EQ(put64_le(buffer + 8, 0x0807060504030201u), buffer + 16);
    EXPECT_EQ(memcmp(buffer + 8, bytes, 8), 0);
    options.big_endian = true;
    EXPECT_EQ(get64(bytes), 0x0102030405060708u);
    put64(buffer, 0xF0E0D0C0B0A09080u);
    EXPECT_EQ(get64_be(buffer), 0xF0E0D0C0B0A09080u);
}

TEST_F(Codecs, FixedFormsIgnoreTheByteOrderAndValuesZeroExtend) {
    options.big_endian = true;
    const uint8_t bytes[] = {0xFE, 0xFF, 0x80, 0x01};
    EXPECT_EQ(get16_le(bytes), 0xFFFEu);
    EXPECT_EQ(get32_le(bytes), 0x0180FFFEu);
    EXPECT_EQ(get32_be(bytes), 0xFEFF8001u);
    EXPECT_EQ(get8(bytes), 0xFEu);
    EXPECT_EQ(put8(buffer, 0x1FF), buffer + 1);
    EXPECT_EQ(buffer[0], 0xFF);
    put16_le(buffer, 0xABCD);
    put32_le(buffer + 2, 0x01020304);
    const uint8_t want[] = {0xCD, 0xAB, 4, 3, 2, 1};
    EXPECT_EQ(memcmp(buffer, want, 6), 0);
    put16_be(buffer, 0xABCD);
    EXPECT_EQ(buffer[0], 0xAB);
}

TEST(TextSearch, FindCharIgnoresCase) {
    const char* text = "abcABC";
    EXPECT_EQ(find_char_nocase(text, 'B'), text + 1);
    EXPECT_EQ(find_char_nocase(text, 'c'), text + 2);
    EXPECT_EQ(find_char_nocase(text, 'x'), nullptr);
    EXPECT_EQ(find_char_nocase("", 'a'), nullptr);
}

TEST(TextSearch, FindTextIgnoresCase) {
    const char* text = "xPIC18F452";
    EXPECT_EQ(find_text_nocase(text, "pic18"), text + 1);
    EXPECT_EQ(find_text_nocase(text, "f452"), text + 6);
    EXPECT_EQ(find_text_nocase(text, "pic16"), nullptr);
    EXPECT_EQ(find_text_nocase("", "pic"), nullptr);
    EXPECT_EQ(find_text_nocase("", ""), nullptr);
    EXPECT_EQ(find_text_nocase(text, ""), text);
    // A partial match does not hide a later full one starting inside it.
    const char* repeated = "ppPic";
    EXPECT_EQ(find_text_nocase(repeated, "PIC"), repeated + 2);
    // The pattern may not run past the end of the text.
    EXPECT_EQ(find_text_nocase("PI", "pic"), nullptr);
    // The first position is compared whatever its character.
    EXPECT_EQ(find_text_nocase("Dspic", "dsp"), find_text_nocase("Dspic", "DSP"));
}

} // namespace
