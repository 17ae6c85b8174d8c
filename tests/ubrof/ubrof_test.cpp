// UBROF: the CRC dump's cap and the message for a file cut inside each field, on generated
// files. Detection and the dump of each record: the cases in ubrof/cases.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/options.h"
#include "formats/descriptors.h"
#include "model/run.h"
#include "model/store.h"
#include "test_support.h"

namespace {

// 0xA5, then second 9, minute 7, hour 14, day 5, month 3, year 2024 - 1900.
const Bytes HEADER = {0xA5, 0x09, 0x07, 0x0E, 0x05, 0x03, 0x7C};
const Bytes END = {0xFF};

Outcome dump(::Run& run, const Bytes& bytes, unsigned verbose = 0) {
    run = ::Run();
    return run_on(
        run, bytes, [&](FILE* in) { return ubrof_format.dump(run, in); }, verbose);
}

TEST(UbrofCrc, WrongCrcShowsAtMostTheFirst4096CoveredBytes) {
    ::Run run;
    Bytes file = HEADER + Bytes{0x51, 0, 0x00, 0x01, 0x00, 0x00};
    for (int k = 0; k < 17; ++k) // 17 data records of 255 bytes: 4335 bytes covered
        file = file + Bytes{0x39, 255} + Bytes(255, uint8_t(k));
    file = file + Bytes{0x3F, 0, 0} + END;
    Outcome o = dump(run, file, 1);
    EXPECT_FALSE(o.result);
    // The CRC block's lines, 0000: to 0FF0:; the data's lines are at 1xxxx:.
    EXPECT_EQ(count_of(o.out, "\n0"), 4096u / 16);
    EXPECT_NE(o.out.find("\n0FF0: "), std::string::npos);
    EXPECT_EQ(o.out.find("\n1000: "), std::string::npos);
}

// Each record cut at every position from its tag to its last byte: the message names the
// field the file ends in (the tag is a byte like any other).
TEST(UbrofDump, RecordCutInsideEachField) {
    ::Run run;
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
                Outcome o = dump(run, file + Bytes(bytes.begin(), bytes.begin() + long(present)));
                EXPECT_FALSE(o.result);
                EXPECT_EQ(o.err, err) << "tag " << tag << ", " << present << " bytes of a field";
            }
            file = file + bytes;
        }
        if (tag == 0x3F) continue; // a CRC word of 0 is wrong
        EXPECT_TRUE(dump(run, file + END).result) << "tag " << tag;
    }
}

} // namespace
