// UBROF: detection, the dump of every record, the running CRC and its blocks, and the
// message for a file cut inside each field. Files are literal bytes held in memory.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/options.h"
#include "formats/descriptors.h"
#include "model/store.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// 0xA5, then second 9, minute 7, hour 14, day 5, month 3, year 2024 - 1900.
const Bytes HEADER = {0xA5, 0x09, 0x07, 0x0E, 0x05, 0x03, 0x7C};
const std::string HEADER_LINE = "UBROF file: 2024/3/5 14:07:09 ";
const Bytes END = {0xFF};

Outcome dump(const Bytes& bytes, unsigned verbose = 0) {
    reset_run_state();
    return run_on(
        bytes, [](FILE* in) { return ubrof_format.dump(in); }, verbose);
}

bool detects(const Bytes& bytes) {
    FILE* in = open_bytes(bytes);
    bool yes = ubrof_format.detect(in);
    fclose(in);
    return yes;
}

TEST(UbrofDetect, HeaderByteAndTimeStampLimits) {
    Bytes latest = {0xA5, 59, 59, 23, 31, 12, 0xFF};
    EXPECT_TRUE(detects(latest));
    EXPECT_TRUE(detects(HEADER));
    for (size_t field = 1; field <= 5; ++field) { // second, minute, hour, day, month
        Bytes past = latest;
        ++past[field];
        EXPECT_FALSE(detects(past)) << "field " << field;
    }
    EXPECT_FALSE(detects(Bytes{0xA4, 0x09, 0x07, 0x0E, 0x05, 0x03, 0x7C}));
    EXPECT_FALSE(detects(Bytes(HEADER.begin(), HEADER.end() - 1)));
    EXPECT_FALSE(detects(Bytes{}));
}

TEST(UbrofDump, HeaderAndEndRecordAlone) {
    Outcome o = dump(HEADER + END);
    EXPECT_TRUE(o.result);
    EXPECT_EQ(o.out, HEADER_LINE); // no line end
    EXPECT_EQ(o.err, "");

    o = dump(Bytes{0x12, 0x07} + END);
    EXPECT_FALSE(o.result);
    EXPECT_EQ(o.err, "(1047) not a UBROF file: the first byte must be 0xA5\n");
    o = dump(Bytes{0xA5, 0x09, 0x07, 0x18, 0x05, 0x03, 0x7C} + END); // hour 24
    EXPECT_FALSE(o.result);
    EXPECT_EQ(o.err, "(1048) invalid time stamp in the file header\n");
    EXPECT_EQ(o.out, "");
}

// An empty file is reported and still answers success; every other file that ends before
// its end record answers failure, however short it is.
TEST(UbrofDump, EmptyFilePassesEveryOtherShortFileFails) {
    Outcome o = dump(Bytes{});
    EXPECT_TRUE(o.result);
    EXPECT_EQ(o.err, "(1044) unexpected end of file\n");
    EXPECT_EQ(o.out, "");

    o = dump(Bytes{0xA5});
    EXPECT_FALSE(o.result);
    EXPECT_EQ(o.err, "(1045) cannot read a field of 6 bytes\n");

    o = dump(HEADER);
    EXPECT_FALSE(o.result);
    EXPECT_EQ(o.err, "(1044) unexpected end of file\n");
    EXPECT_EQ(o.out, HEADER_LINE);

    o = dump(HEADER + Bytes{0x53, 0x01, 0x80});
    EXPECT_FALSE(o.result);
    EXPECT_EQ(o.err, "(1044) unexpected end of file\n");
}

// Each record between the header and the end record, and its line.
TEST(UbrofDump, EveryRecordLayout) {
    struct Case {
        Bytes record;
        std::string out;
    };
    const Case cases[] = {
        {{0xBD, 0x06, 0x00, 0x00, 0x05, 0xBA, 0x02, 0xBE, 0xFF, 0xBF, 0x02, 0xC0, 0xFF, 0xC1, 0x05},
         "UBROF version 6\n"},
        {{0xBD, 0x05, 0x00, 0x00, 0x04, 0xBA, 0x02, 0xBE, 0xFF, 0xBF, 0x02, 0xC0, 0xFF, 0xC1, 0x05},
         "UBROF version 5\nFunny BD record; should be:\n"
         "BD 06 00 00 05 BA 02 BE FF BF 02 C0 FF C1 05 but was:\n"
         "BD 05 00 00 04 BA 02 BE FF BF 02 C0 FF C1 05 \n"},
        {{0xC0, 0x01, 0x02, 0x00, 0x00, 0x10, 0xFF}, "C0 record: 01 02 00 00 10 FF\n"},
        {{0x52, 0x00, 0xB9, 0x00, 0x00, 0x00, 3, 'a', '.', 'c', 0, 30, 9, 4, 3, 124},
         "Debug record: \"a.c\" modified 2024/3/4 09:30:00\n"},
        {{0x52, 0x01, 0xB9, 0x00, 0x00, 0x02, 0, 59, 59, 23, 31, 12, 0},
         "Debug record: 01 B9 00 00 02 \"\" modified 1900/12/31 23:59:59\n"},
        // Segment: the 0, 3 header bytes, name, flags, count, (start, length) pairs.
        {{0x02, 0, 0, 0, 0, 4, 'C', 'O', 'D',  'E', 0x01, 2,    0,    0,
          0,    0, 0, 0, 0, 3, 0,   0,   0x01, 0,   0,    0x01, 0x23, 0x45},
         "Segment: \"CODE\" flags 0x1\nStart\tLength\n0x0000\t0x0003\n0x0100\t0x12345\n\n"},
        {{0x01, 0, 0x12, 0x00, 0x34, 1, 'X', 0x80, 0},
         "Segment: 00 12 00 34 \"X\" flags 0x80\nStart\tLength\n\n"},
        // Program: version, flags, language, day, month, year - 1900, name.
        {{0x01, 0x12, 0x01, 0x10, 5, 3, 124, 5, 'm', 'e', 't', 'e', 'r'},
         "Program: \"meter\" 2024/3/5  version 18, language 0x10, (C) 8 bit normal bit order\n"},
        {{0x02, 0x03, 0x02, 0x00, 31, 12, 99, 1, 'a'},
         "Program: \"a\" 1999/12/31  version 3, language 0x0, (Assembler) 16 bit \n"},
        {{0x01, 0x01, 0x04, 0x20, 0, 0, 0, 0},
         "Program: \"\" 1900/0/0  version 1, language 0x20, 32 bit \n"},
        {{0x01, 0xFF, 0x07, 0xAB, 1, 1, 100, 0},
         "Program: \"\" 2000/1/1  version 255, language 0xAB, segmented  normal bit order\n"},
        {{0x54, 0x07, 0x21, 3, 'i', 'c', 'c'}, "Translator: 0x07 0x21 \"icc\"\n"},
        {{0x53, 0x01, 0x80}, "Aux record: 0x01 0x80\n"},
        // Symbol: type, segment word, address long, name, 3 bytes.
        {{0x4C, 2, 0, 1, 0, 0, 0x01, 0x00, 4, 'm', 'a', 'i', 'n', 0, 0, 0},
         "Symbol; public/reloc CODE addr = 0x100  \"main\"\n"},
        {{0x4C, 5, 0, 7, 0, 0, 0, 0, 1, 'k', 0, 0, 0},
         "Symbol; external CONST addr = 0x0  \"k\"\n"},
        {{0x4C, 0x09, 0x01, 0x02, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0xAA, 0x00, 0x01},
         "Symbol; type?? 0x09 segment 0x102 addr = 0xFFFFFFFF  \"\" AA 00 01\n"},
        // Statement: line, segment, end line, flags byte, word.
        {{0x47, 0, 13, 0, 1, 0, 15, 0x01, 0x01, 0x00}, "Statement: line 13-15 seg 1 flags 1 100\n"},
        {{0x47, 0xFF, 0xFF, 0xAB, 0xCD, 0xFF, 0xFF, 0xFF, 0, 0},
         "Statement: line 65535 seg ABCD flags FF 0\n"},
        {{0x4A, 0, 1, 0x11, 3, 'a', '.', 'c'}, ""},
        {{0x4A, 0, 2, 0x03}, ""},
        {{0x51, 2, 0, 0, 0x01, 0}, ""}, // an origin shows only when verbose
    };
    for (const Case& c : cases) {
        Outcome o = dump(HEADER + c.record + END);
        EXPECT_TRUE(o.result) << c.out;
        EXPECT_EQ(o.err, "");
        EXPECT_EQ(o.out, HEADER_LINE + c.out);
    }
}

TEST(UbrofDump, OriginsAndDataAtVerboseLevels) {
    Bytes file = HEADER + Bytes{0x39, 1, 0x5A} +                           // before any origin
                 Bytes{0x51, 2, 0x00, 0x01, 0xFF, 0xF8} +                  // segment 2, 0x1FFF8
                 Bytes{0x39, 10, 'a', 'b', 'c', 'd', 'e', 0, 1, 2, 3, 4} + //
                 Bytes{0x39, 0} + Bytes{0x39, 2, 0x7F, ' '} + END;
    Outcome o = dump(file);
    EXPECT_EQ(o.out, HEADER_LINE + "Data: 1 bytes in seg 0 at 0x0\n"
                                   "Data: 10 bytes in seg 2 at 0x1FFF8\n"
                                   "Data: 0 bytes in seg 2 at 0x20002\n"
                                   "Data: 2 bytes in seg 2 at 0x20002\n");
    o = dump(file, 1);
    EXPECT_TRUE(o.result);
    EXPECT_EQ(o.out, HEADER_LINE +
                         "Data: 1 bytes in seg 0 at 0x0\n"
                         "0000: 5A                                              Z\n"
                         "Origin 0x1FFF8 in segment 2\n"
                         "Data: 10 bytes in seg 2 at 0x1FFF8\n"
                         "1FFF8: 61 62 63 64 65 00 01 02 03 04                   abcde.....\n"
                         "Data: 0 bytes in seg 2 at 0x20002\n"
                         "Data: 2 bytes in seg 2 at 0x20002\n"
                         "20002: 7F 20                                           . \n");
}

// The CRC of the header block, 0xD5B4, is the sample generator's; the second block is the
// tag 0x3F alone, whose CRC worked out bit by bit (least significant first, 0x8005 when
// bit 15 and the data bit differ) is 0x8005, 0x000A, 0x8011, 0x0022, 0x8041, 0x0082,
// 0x0104, 0x0208.
TEST(UbrofCrc, BlocksAreCheckedAndRestarted) {
    Bytes file = HEADER + Bytes{0x3F, 0xD5, 0xB4} + Bytes{0x3F, 0x02, 0x08} + END;
    Outcome o = dump(file);
    EXPECT_TRUE(o.result);
    EXPECT_EQ(o.out, HEADER_LINE);
    o = dump(file, 1);
    EXPECT_TRUE(o.result);
    EXPECT_EQ(o.out, HEADER_LINE + "CRC matched at 7\nCRC matched at A\n");

    Bytes wrong = file;
    wrong[12] ^= 0x01; // the second CRC word
    o = dump(wrong);
    EXPECT_FALSE(o.result);
    EXPECT_EQ(o.err, "(1049) check word differs from the one computed\n");
    EXPECT_EQ(o.out, HEADER_LINE);
    o = dump(wrong, 1);
    // The bytes the wrong CRC covered: its own tag, not its word.
    EXPECT_EQ(o.out, HEADER_LINE + "CRC matched at 7\n0000: 3F" + std::string(45, ' ') + " ?\n");

    // Without the restart the second word would be checked against the whole file.
    o = dump(HEADER + Bytes{0x3F, 0x02, 0x08} + END);
    EXPECT_FALSE(o.result);
    EXPECT_EQ(o.err, "(1049) check word differs from the one computed\n");
}

TEST(UbrofCrc, WrongCrcShowsAtMostTheFirst4096CoveredBytes) {
    Bytes file = HEADER + Bytes{0x51, 0, 0x00, 0x01, 0x00, 0x00};
    for (int k = 0; k < 17; ++k) // 17 data records of 255 bytes: 4335 bytes covered
        file = file + Bytes{0x39, 255} + Bytes(255, uint8_t(k));
    file = file + Bytes{0x3F, 0, 0} + END;
    Outcome o = dump(file, 1);
    EXPECT_FALSE(o.result);
    size_t lines = 0;
    for (size_t at = o.out.find("\n0"); at != std::string::npos; at = o.out.find("\n0", at + 1))
        ++lines; // the CRC block's lines, 0000: to 0FF0:; the data's lines are at 1xxxx:
    EXPECT_EQ(lines, 4096u / 16);
    EXPECT_NE(o.out.find("\n0FF0: "), std::string::npos);
    EXPECT_EQ(o.out.find("\n1000: "), std::string::npos);
}

TEST(UbrofDump, FaultyRecordsStopTheDump) {
    struct Case {
        Bytes record;
        std::string err;
    };
    const Case cases[] = {
        {{0x52, 0x00, 0xB9, 0x00, 0x00, 0x00, 0, 60, 0, 0, 1, 1, 100},
         "(1050) invalid time stamp\n"},
        {{0x52, 0x00, 0xB9, 0x00, 0x00, 0x00, 0, 0, 0, 0, 1, 13, 100},
         "(1050) invalid time stamp\n"},
        {{0x01, 0x01, 0x00, 0x10, 32, 1, 100, 0}, "(1051) invalid date\n"},
        {{0x02, 0x01, 0x00, 0x10, 1, 13, 100, 0}, "(1051) invalid date\n"},
        {{0x00}, "(1052) unknown tag\n"},
        {{0x40, 0x00}, "(1052) unknown tag\n"},
    };
    for (const Case& c : cases) {
        Outcome o = dump(HEADER + Bytes{0x53, 1, 2} + c.record + END);
        EXPECT_FALSE(o.result);
        EXPECT_EQ(o.err, c.err);
        EXPECT_EQ(o.out, HEADER_LINE + "Aux record: 0x01 0x02\n"); // the faulty one not shown
    }
}

// Each record cut at every position from its tag to its last byte: the message names the
// field the file ends in (the tag is a byte like any other).
TEST(UbrofDump, RecordCutInsideEachField) {
    const std::string BYTE = "(1044) unexpected end of file\n";
    const std::string NAME = "(1046) cannot read a name\n";
    auto field = [](unsigned n) {
        return "(1045) cannot read a field of " + std::to_string(n) + " bytes\n";
    };
    using Fields = std::vector<std::pair<Bytes, std::string>>;
    const std::vector<Fields> records = {
        {{{0xBD}, BYTE}, {{6}, BYTE}, {Bytes(13, 0), field(13)}},
        {{{0xC0}, BYTE}, {Bytes(6, 1), field(6)}},
        {{{0x52}, BYTE},
         {{0, 0xB9, 0, 0, 0}, field(5)},
         {{2, 'a', 'b'}, NAME},
         {{0, 0, 0, 1, 1, 100}, field(6)}},
        {{{0x02}, BYTE},
         {{0}, BYTE},
         {{0, 0, 0}, field(3)},
         {{1, 'C'}, NAME},
         {{1}, BYTE},
         {{1}, BYTE},
         {{0, 0, 1, 0}, field(4)},
         {{0, 0, 0, 9}, field(4)}},
        {{{0x01}, BYTE},
         {{6}, BYTE},
         {{1}, BYTE},
         {{0}, BYTE},
         {{5}, BYTE},
         {{3}, BYTE},
         {{99}, BYTE},
         {{2, 'p', 'q'}, NAME}},
        {{{0x54}, BYTE}, {{1, 2}, field(2)}, {{1, 'x'}, NAME}},
        {{{0x53}, BYTE}, {{1, 2}, field(2)}},
        {{{0x51}, BYTE}, {{1}, BYTE}, {{0, 0, 1, 0}, field(4)}},
        {{{0x39}, BYTE}, {{3}, BYTE}, {{7, 8, 9}, field(3)}},
        {{{0x39}, BYTE}, {{1}, BYTE}, {{7}, BYTE}},
        {{{0x4C}, BYTE},
         {{2}, BYTE},
         {{0, 1}, field(2)},
         {{0, 0, 1, 0}, field(4)},
         {{3, 'm', 'a', 'i'}, NAME},
         {{0, 0, 0}, field(3)}},
        {{{0x47}, BYTE},
         {{0, 1}, field(2)},
         {{0, 1}, field(2)},
         {{0, 2}, field(2)},
         {{0}, BYTE},
         {{0, 0}, field(2)}},
        {{{0x4A}, BYTE}, {{0, 1}, field(2)}, {{0x11}, BYTE}, {{2, 'a', 'b'}, NAME}},
        {{{0x3F}, BYTE}, {{0, 0}, field(2)}},
    };
    for (const Fields& record : records) {
        int tag = record[0].first[0];
        Bytes file = HEADER;
        for (const auto& [bytes, err] : record) {
            for (size_t present = 0; present < bytes.size(); ++present) {
                Outcome o = dump(file + Bytes(bytes.begin(), bytes.begin() + long(present)));
                EXPECT_FALSE(o.result);
                EXPECT_EQ(o.err, err) << "tag " << tag << ", " << present << " bytes of a field";
            }
            file = file + bytes;
        }
        if (tag == 0x3F) continue; // a CRC word of 0 is wrong
        EXPECT_TRUE(dump(file + END).result) << "tag " << tag;
    }
}

TEST(UbrofFormat, ReadAndWriteDoNothing) {
    reset_run_state();
    Bytes file = HEADER + Bytes{0x4C, 2, 0, 1, 0, 0, 1, 0, 1, 'm', 0, 0, 0} + END;
    FILE* in = fmemopen(file.data(), file.size(), "rb");
    EXPECT_EQ(ubrof_format.read(in, "x.d43"), 1);
    fclose(in);
    EXPECT_EQ(store.symbols.count(), 0u);
    std::string written =
        written_text([](FILE* out) { EXPECT_EQ(ubrof_format.write(out, "o"), 1); });
    EXPECT_EQ(written, "");
}

} // namespace
