// Program images: the Intel HEX, S-record, TI TXT and Holtek TSK readers, writers,
// and detectors, driven through their format descriptors on in-memory files.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "common/alert.h"
#include "driver/normalize.h"
#include "driver/run.h"
#include "formats/descriptors.h"
#include "formats/hexfields.h"
#include "model/store.h"

namespace {

FILE* file_holding(const std::string& bytes) {
    FILE* file = tmpfile();
    fwrite(bytes.data(), 1, bytes.size(), file);
    rewind(file);
    return file;
}

std::string rest_of(FILE* file) {
    std::string text;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, n);
    return text;
}

class Images : public ::testing::Test {
  protected:
    void SetUp() override {
        reset_run_state();
        set_message_context("test");
    }
    void TearDown() override { reset_run_state(); }

    // Runs a read on the text; messages are kept in `messages`.
    int read(const FormatDescriptor& format, const std::string& text) {
        FILE* in = file_holding(text);
        testing::internal::CaptureStderr();
        int result = format.read(in, "in.hex");
        fflush(stderr);
        messages = testing::internal::GetCapturedStderr();
        fclose(in);
        return result;
    }
    bool detect(const FormatDescriptor& format, const std::string& text) {
        FILE* in = file_holding(text);
        bool yes = format.detect(in);
        fclose(in);
        return yes;
    }
    std::string write(const FormatDescriptor& format) {
        FILE* out = tmpfile();
        format.write(out, "out");
        rewind(out);
        std::string text = rest_of(out);
        fclose(out);
        return text;
    }
    // The store's data after normalisation: "address:bytes" per block.
    std::string image() {
        normalize_store();
        std::string text;
        char part[16];
        for (const DataBlock* block : store.data) {
            snprintf(part, sizeof part, "%s%X:", text.empty() ? "" : " ", block->address);
            text += part;
            for (uint8_t byte : block->bytes) {
                snprintf(part, sizeof part, "%02X", byte);
                text += part;
            }
        }
        return text;
    }

    std::string messages;
};

TEST(HexFields, PairsOfEitherCaseAndTheNotHexValue) {
    EXPECT_EQ(hex_byte("00"), 0u);
    EXPECT_EQ(hex_byte("aF"), 0xAFu);
    EXPECT_EQ(hex_byte("9g"), 0xFFFFu);
    EXPECT_EQ(hex_byte("G9"), 0xFFFFu);
    EXPECT_EQ(hex_byte(""), 0xFFFFu); // the terminator alone: nothing after it is read
    EXPECT_EQ(hex_word("12aB"), 0x12ABu);
    EXPECT_EQ(hex_word("12x4"), 0x12u * 256 + 0xFFFF);
    EXPECT_EQ(hex_pair_value("7e"), 0x7Eu);
    EXPECT_EQ(hex_pair_value(" 1"), 0xFFFFu);
}

TEST_F(Images, IntelDetection) {
    EXPECT_TRUE(detect(ihex_format, ":0400000001020304F2\ngarbage\n"));
    EXPECT_TRUE(detect(ihex_format, ":0400000001020304F2  \r\n"));
    EXPECT_TRUE(detect(ihex_format, ":\n"));
    EXPECT_FALSE(detect(ihex_format, ":0400000001020304F3\n"));  // checksum
    EXPECT_FALSE(detect(ihex_format, ":0400000001020304F\n"));   // odd digit count
    EXPECT_FALSE(detect(ihex_format, ":04000000010203 4F2\n"));  // inner blank
    EXPECT_FALSE(detect(ihex_format, " :0400000001020304F2\n")); // not at the start
    EXPECT_FALSE(detect(ihex_format, ""));
}

TEST_F(Images, IntelAddressRecordsAndStartAddress) {
    EXPECT_EQ(read(ihex_format, ":020000021000EC\n"     // segment base 0x10000
                                ":0200100041426B\n"     // data at 0x10010
                                ":020000040002F8\n"     // linear base 0x20000
                                ":02FFFE0043447A\n"     // data at 0x2FFFE
                                ":0400000300120034B3\n" // start 0x12 * 16 + 0x34
                                ":00000001FF\n"
                                ":02000000FFFFFF\n"), // after the end: not read
              1);
    EXPECT_EQ(messages, "");
    EXPECT_EQ(entry_address, 0x154u);
    EXPECT_EQ(image(), "10010:4142 2FFFE:4344");
}

TEST_F(Images, IntelStartLinearAddressAndEndWithoutStart) {
    read(ihex_format, ":0400000512345678E3\n:00000001FF\n");
    EXPECT_EQ(entry_address, 0x12345678u);
    read(ihex_format, ":00000001FF\n");
    EXPECT_EQ(entry_address, 0u);
}

TEST_F(Images, IntelFaultsKeepTheRecordsBeforeThem) {
    EXPECT_EQ(read(ihex_format, ":0400000001020304F2\n\n:0400040005060708DE\n"), 0);
    EXPECT_NE(messages.find("(635) in.hex: line 2 "), std::string::npos) << messages;
    EXPECT_EQ(image(), "0:01020304");

    reset_run_state();
    // A data record is stored before its checksum is found wrong.
    EXPECT_EQ(read(ihex_format, ":0400000001020304F2\n:0400040005060708DF\n"
                                ":0400080009101112B8\n"),
              0);
    EXPECT_NE(messages.find("(636) in.hex: checksum error in the record on line 2"),
              std::string::npos)
        << messages;
    EXPECT_EQ(image(), "0:0102030405060708");

    reset_run_state();
    // A record cut short has no checksum to compare and no data to keep.
    EXPECT_EQ(read(ihex_format, ":0400000001020304F2\n:04000400050607\n"), 0);
    EXPECT_NE(messages.find("(636)"), std::string::npos);
    EXPECT_EQ(image(), "0:01020304");

    reset_run_state();
    // A non-hexadecimal pair counts as 0xFF in the data and its checksum.
    EXPECT_EQ(read(ihex_format, ":02000000GG00FF\n:00000001FF\n"), 1);
    EXPECT_EQ(image(), "0:FF00");
}

TEST_F(Images, IntelUnknownRecordTypeChecksumStandsAtTheDataField) {
    // Type 6: count, address and type are summed, nothing else; the checksum is the
    // first pair of the data field.
    EXPECT_EQ(read(ihex_format, ":02000006F8FF\n:00000001FF\n"), 1) << messages;
    EXPECT_EQ(read(ihex_format, ":02000006FEFF\n"), 0);
    EXPECT_NE(messages.find("(636)"), std::string::npos);
}

TEST_F(Images, IntelLinesAreReadIn511CharacterPieces) {
    // 250 data bytes fill 511 characters exactly: the record is read, and its newline is
    // a line of its own that does not begin with ":".
    std::string record = ":FA000000";
    unsigned sum = 0xFA;
    for (int k = 0; k < 250; ++k) {
        record += "01";
        sum += 1;
    }
    char checksum[3];
    snprintf(checksum, sizeof checksum, "%02X", -sum & 0xFF);
    record += checksum;
    ASSERT_EQ(record.size(), 511u);
    EXPECT_EQ(read(ihex_format, record + "\n:00000001FF\n"), 0);
    EXPECT_NE(messages.find("(635) in.hex: line 2 "), std::string::npos) << messages;
    normalize_store();
    ASSERT_EQ(store.data.count(), 1u);
    EXPECT_EQ(store.data[0]->size, 250u);
}

TEST_F(Images, IntelWriting) {
    EXPECT_EQ(write(ihex_format), ":00000001FF\n");

    uint8_t bytes[20];
    for (int k = 0; k < 20; ++k)
        bytes[k] = static_cast<uint8_t>(k);
    add_data(0x1FFF8, 20, bytes, 0);
    add_data(0x30000, 0, bytes, 0); // an empty block writes nothing
    add_data(0x8, 1, bytes + 5, 0); // below again: upper bits 0 are announced anew
    EXPECT_EQ(write(ihex_format), ":020000040001F9\n"
                                  ":10FFF800000102030405060708090A0B0C0D0E0F81\n"
                                  ":020000040002F8\n"
                                  ":0400080010111213AE\n"
                                  ":020000040000FA\n"
                                  ":0100080005F2\n"
                                  ":00000001FF\n");
}

TEST_F(Images, MotorolaDetection) {
    EXPECT_TRUE(detect(s19_format, "S00600004844521B\r\n"));
    EXPECT_TRUE(detect(s19_format, "S9\n"));
    EXPECT_TRUE(detect(s19_format, "S1070000414243445B\n")); // checksum not examined
    EXPECT_FALSE(detect(s19_format, "S107000041424344E\n")); // odd length
    EXPECT_FALSE(detect(s19_format, "SA070000414243445B\n"));
    EXPECT_FALSE(detect(s19_format, "S10700004142434G5B\n"));
    EXPECT_FALSE(detect(s19_format, ":00000001FF\n"));
}

TEST_F(Images, MotorolaRecordsAndTheirStops) {
    EXPECT_EQ(read(s19_format, "S00600004844521B\n"
                               "S1050010AABB00\n" // checksum wrong: read anyway
                               "S2060100204142FF\n"
                               "S30701000030434400\n"
                               "S10200FD\n"       // count below the address: skipped
                               "S1FF0004454647\n" // runs past its line: skipped
                               "S804123456FF\n"
                               "S1050000EEEE00\n"),
              1);
    EXPECT_EQ(entry_address, 0x123456u);
    EXPECT_EQ(image(), "10:AABB 10020:4142 1000030:4344");

    for (const char* stop : {"S5030002FA\n", "S9031234B6\n", "S70512345678FF\n"}) {
        reset_run_state();
        EXPECT_EQ(read(s19_format, std::string("S1050000AABB00\n") + stop + "S1050002CCDD00\n"), 1);
        EXPECT_EQ(image(), "0:AABB") << stop;
    }
    EXPECT_EQ(entry_address, 0x12345678u);

    reset_run_state();
    // A line that is not a record ends the read with failure, without a message.
    EXPECT_EQ(read(s19_format, "S1050000AABB00\n\nS1050002CCDD00\n"), 0);
    EXPECT_EQ(messages, "");
    EXPECT_EQ(image(), "0:AABB");

    reset_run_state();
    EXPECT_EQ(read(s19_format, "S1050000AABB00\nSX\nS1050002CCDD00\n"), 1);
    EXPECT_EQ(image(), "0:AABB");
}

TEST_F(Images, MotorolaWritingPicksTheTypeByEachRecordsAddress) {
    EXPECT_EQ(write(s19_format), "");
    uint8_t bytes[18];
    for (int k = 0; k < 18; ++k)
        bytes[k] = static_cast<uint8_t>(0xA0 + k);
    add_data(0xFFF8, 18, bytes, 0);
    add_data(0xFFFFF0, 17, bytes, 0);
    normalize_store();
    EXPECT_EQ(write(s19_format), "S113FFF8A0A1A2A3A4A5A6A7A8A9AAABACADAEAF7D\n"
                                 "S206010008B0B18F\n"
                                 "S214FFFFF0A0A1A2A3A4A5A6A7A8A9AAABACADAEAF85\n"
                                 "S30601000000B048\n");
}

TEST_F(Images, TiTxtDetection) {
    EXPECT_TRUE(detect(titxt_format, "@1F00\n"));
    EXPECT_FALSE(detect(titxt_format, "@1F0\n"));
    EXPECT_TRUE(detect(titxt_format, "q\n"));
    EXPECT_FALSE(detect(titxt_format, "q \n"));
    EXPECT_TRUE(detect(titxt_format, "01 AB ff\n"));
    EXPECT_FALSE(detect(titxt_format, "01 AB \n")); // a trailing blank breaks the rhythm
    EXPECT_FALSE(detect(titxt_format, "01 AB,ff\n"));
    EXPECT_FALSE(detect(titxt_format, ""));
}

TEST_F(Images, TiTxtWritingAndTheAcceptAllRead) {
    EXPECT_EQ(write(titxt_format), "q\n\n");
    EXPECT_EQ(read(titxt_format, "not an image at all"), 1);
    EXPECT_TRUE(store.data.empty());

    uint8_t bytes[17];
    for (int k = 0; k < 17; ++k)
        bytes[k] = static_cast<uint8_t>(k);
    add_data(0x10, 17, bytes, 0);
    add_data(0x123456, 1, bytes, 0);
    add_data(0x123457, 1, bytes + 1, 0);
    EXPECT_EQ(write(titxt_format), "@0010\n"
                                   "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F \n"
                                   "10 \n"
                                   "@123456\n"
                                   "00 \n"
                                   "@123457\n"
                                   "01 \n"
                                   "q\n\n");
}

std::string tsk_file(uint32_t header_length, uint32_t data_length, size_t data_present) {
    std::string file = "HLV1.23 ";
    for (uint32_t value : {header_length, data_length})
        for (int k = 0; k < 4; ++k)
            file += static_cast<char>(value >> (8 * k));
    file += "HT46R47";
    file.resize(header_length < 16 ? 16 : header_length, '\0');
    for (size_t k = 0; k < data_present; ++k)
        file += static_cast<char>(k * 3);
    return file;
}

TEST_F(Images, TskReadsPiecesOf256Bytes) {
    EXPECT_TRUE(detect(tsk_format, tsk_file(32, 0, 0)));
    EXPECT_EQ(read(tsk_format, tsk_file(32, 0, 0)), 1);
    EXPECT_TRUE(store.data.empty());

    EXPECT_EQ(read(tsk_format, tsk_file(32, 600, 600)), 1);
    ASSERT_EQ(store.data.count(), 3u);
    const uint32_t addresses[] = {0, 256, 512}, sizes[] = {256, 256, 88};
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(store.data[k]->address, addresses[k]);
        EXPECT_EQ(store.data[k]->size, sizes[k]);
    }
    EXPECT_EQ(store.data[1]->bytes[0], static_cast<uint8_t>(256 * 3));

    reset_run_state();
    // Data ending early: the full pieces before the short one stay.
    EXPECT_EQ(read(tsk_format, tsk_file(32, 600, 511)), 0);
    EXPECT_EQ(store.data.count(), 1u);

    reset_run_state();
    EXPECT_FALSE(detect(tsk_format, tsk_file(48, 4, 4)));
    EXPECT_EQ(read(tsk_format, tsk_file(48, 4, 4)), 0);
    EXPECT_EQ(read(tsk_format, tsk_file(12, 4, 4)), 0);
    EXPECT_EQ(read(tsk_format, tsk_file(32, 4, 4).substr(0, 20)), 0);
    EXPECT_TRUE(store.data.empty());
    EXPECT_EQ(messages, "");
}

TEST_F(Images, FailedWritesReport413Once) {
    FILE* full = fopen("/dev/full", "w");
    if (!full) GTEST_SKIP() << "no /dev/full";
    uint8_t bytes[16] = {};
    for (int k = 0; k < 20000; ++k)
        add_data(k * 16, 16, bytes, 0);
    normalize_store();
    for (const FormatDescriptor* format : {&ihex_format, &s19_format, &titxt_format}) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(format->write(full, "full.out"), 0) << format->key;
        fflush(stderr);
        std::string text = testing::internal::GetCapturedStderr();
        EXPECT_NE(text.find("(413)"), std::string::npos) << text;
        EXPECT_EQ(text.find("(413)"), text.rfind("(413)")) << text;
    }
    fclose(full);
}

} // namespace
