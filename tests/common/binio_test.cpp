// The binary reader, writer and output file, and record layouts.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "common/binio.h"
#include "test_support.h"

namespace {

ByteReader over(const Bytes& bytes, ByteOrder order = ByteOrder::little) {
    return ByteReader(bytes.data(), bytes.size(), order);
}

TEST(ByteReader, ReadsAtAnOffsetOnlyWhatExists) {
    Bytes bytes = {1, 2, 3, 4, 5};
    ByteReader in = over(bytes);
    uint8_t out[8] = {};
    EXPECT_TRUE(in.read_at(1, out, 4));
    EXPECT_EQ(out[3], 5);
    EXPECT_FALSE(in.read_at(2, out, 4));
    EXPECT_FALSE(in.read_at(UINT64_MAX, out, 1)); // the sum would wrap
    EXPECT_TRUE(in.read_at(5, out, 0));
    // A count from a file is checked before anything is allocated for it.
    Bytes whole;
    EXPECT_FALSE(in.read_at(0, uint64_t(1) << 40, &whole));
    EXPECT_TRUE(whole.empty());
    EXPECT_TRUE(in.read_at(3, 2, &whole));
    EXPECT_EQ(whole, (Bytes{4, 5}));
}

TEST(ByteReader, ReadsAFileAsItReadsABuffer) {
    FILE* file = tmpfile();
    const uint8_t bytes[] = {0x12, 0x34, 0x56, 0x78, 0x9A};
    fwrite(bytes, 1, sizeof bytes, file);
    ByteReader in(file, ByteOrder::big);
    EXPECT_EQ(in.size(), 5u);
    EXPECT_EQ(in.u32(), 0x12345678u);
    EXPECT_EQ(in.u16(), 0u); // one byte is left
    EXPECT_FALSE(in.ok());
    in = ByteReader(file, ByteOrder::little);
    in.seek(1);
    EXPECT_EQ(in.u16(), 0x5634u);
    EXPECT_EQ(in.u16(ByteOrder::big), 0x789Au);
    EXPECT_TRUE(in.ok());
    in.seek(4);
    EXPECT_EQ(in.u16(), 0u);
    EXPECT_EQ(in.u8(), 0u); // the byte is there, but the run of reads has failed
    EXPECT_EQ(in.position(), 4u);
    fclose(file);
}

TEST(ByteReader, Leb128Values) {
    struct Case {
        Bytes bytes;
        bool fits_unsigned, fits_signed;
        uint64_t unsigned_value;
        int64_t signed_value;
    };
    const Case cases[] = {
        {{0x02}, true, true, 2, 2},
        {{0x7F}, true, true, 127, -1},
        {{0x80, 0x01}, true, true, 128, 128},
        {{0xE5, 0x8E, 0x26}, true, true, 624485, 624485},
        {{0xC0, 0xBB, 0x78}, true, true, 0x1E1DC0, -123456},
        {{0x80, 0x80, 0x00}, true, true, 0, 0}, // padded
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}, true, false, UINT64_MAX, 0},
        {{0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x7F}, false, true, 0, INT64_MIN},
        // Padded past bit 63 with the sign.
        {{0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x00}, true, true, 0, 0},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}, false, true, 0, -1},
    };
    for (const Case& c : cases) {
        ByteReader u = over(c.bytes);
        uint64_t unsigned_value = u.uleb128();
        EXPECT_EQ(u.ok(), c.fits_unsigned);
        if (c.fits_unsigned) {
            EXPECT_EQ(unsigned_value, c.unsigned_value);
        }
        ByteReader s = over(c.bytes);
        int64_t signed_value = s.sleb128();
        EXPECT_EQ(s.ok(), c.fits_signed);
        if (c.fits_signed) {
            EXPECT_EQ(signed_value, c.signed_value);
            EXPECT_EQ(s.position(), c.bytes.size());
        }
    }
}

// Values cut short, past 64 bits, or a long run of continuation bytes fail.
TEST(ByteReader, Leb128ThatRunsOutOrOverflowsFails) {
    Bytes wide = {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x02};
    for (const Bytes& bytes : {Bytes{0x80, 0x80}, wide, Bytes(100000, 0x80)}) {
        ByteReader u = over(bytes), s = over(bytes);
        u.uleb128();
        s.sleb128();
        EXPECT_FALSE(u.ok());
        EXPECT_FALSE(s.ok());
    }
}

TEST(ByteReader, NamesAreReadWithALimit) {
    Bytes bytes = {'a', 'b', 'c', 'd', 0, 'x', 'y'};
    ByteReader in = over(bytes);
    EXPECT_EQ(in.cstring(2), "ab"); // cut, and the cursor passes the terminator
    EXPECT_EQ(in.position(), 5u);
    ByteReader unterminated = over(bytes);
    unterminated.seek(5);
    EXPECT_EQ(unterminated.cstring(100), "");
    EXPECT_FALSE(unterminated.ok());
}

TEST(ByteWriter, IntegersLeb128AndPatches) {
    ByteWriter out(ByteOrder::big);
    out.u16(0x12345); // cut to its width
    out.u32(0x01020304, ByteOrder::little);
    out.uleb128(624485);
    out.sleb128(-123456);
    out.sleb128(63);
    out.sleb128(64);
    out.cstring("ab");
    out.patch(0, 0xBEEF, 2);
    EXPECT_EQ(out.bytes(), (Bytes{0xBE, 0xEF, 4, 3, 2, 1, 0xE5, 0x8E, 0x26, 0xC0, 0xBB, 0x78, 0x3F,
                                  0xC0, 0x00, 'a', 'b', 0}));
    // What the writer encodes the reader decodes.
    ByteWriter values;
    const int64_t numbers[] = {0, -1, 1, INT64_MIN, INT64_MAX, -8193, 8192};
    for (int64_t n : numbers) {
        values.sleb128(n);
        values.uleb128(static_cast<uint64_t>(n));
    }
    ByteReader in = over(values.bytes());
    for (int64_t n : numbers) {
        EXPECT_EQ(in.sleb128(), n);
        EXPECT_EQ(in.uleb128(), static_cast<uint64_t>(n));
    }
    EXPECT_TRUE(in.ok());
    EXPECT_EQ(in.remaining(), 0u);
}

// A record with every kind of field a layout can name.
struct Sample {
    uint8_t tag[3] = {};
    int16_t offset = 0;
    uint32_t wide = 0;
    uint16_t fixed = 0;
    uint16_t pair[2] = {};
};
template <class F> constexpr void layout(F& f, Sample& r, unsigned wide_width) {
    f("tag", r.tag);
    f("offset", r.offset);
    f.sized("wide", r.wide, wide_width);
    f("fixed", r.fixed, ByteOrder::big);
    f("pair", r.pair);
}
struct Outer {
    uint8_t kind = 0;
    uint16_t span[2] = {};
};
template <class F> constexpr void layout(F& f, Outer& r) {
    f("kind", r.kind);
    f("span", r.span);
}

static_assert(record_size<Sample>(3u) == 3 + 2 + 3 + 2 + 4, "sizes come from the layout");

TEST(RecordLayout, EncodesDecodesAndListsFromOneDeclaration) {
    Sample s;
    memcpy(s.tag, "abc", 3);
    s.offset = -2;
    s.wide = 0x11223344; // only three bytes are kept
    s.fixed = 0x0102;
    s.pair[0] = 0x0A0B;
    s.pair[1] = 0x0C0D;
    uint8_t raw[16] = {};
    EXPECT_EQ(encode(raw, s, ByteOrder::little, 3u), raw + 14);
    const uint8_t expected[] = {'a',  'b',  'c',  0xFE, 0xFF, 0x44, 0x33,
                                0x22, 0x01, 0x02, 0x0B, 0x0A, 0x0D, 0x0C};
    EXPECT_EQ(memcmp(raw, expected, sizeof expected), 0);
    Sample back = decode<Sample>(raw, ByteOrder::little, 3u);
    EXPECT_EQ(back.offset, -2);
    EXPECT_EQ(back.wide, 0x223344u);
    EXPECT_EQ(back.fixed, 0x0102);
    EXPECT_EQ(back.pair[1], 0x0C0D);
}

TEST(RecordLayout, ReadersAndWritersTakeRecords) {
    ByteWriter out(ByteOrder::big);
    out.record(Outer{7, {0x100, 0x200}});
    out.record(Outer{8, {1, 2}});
    out.update_record<Outer>(5, [](Outer& o) { o.span[1] = 0x300; });
    ByteReader in = over(out.bytes(), ByteOrder::big);
    Outer first, second;
    EXPECT_TRUE(in.record(&first));
    EXPECT_TRUE(in.record(&second));
    EXPECT_FALSE(in.record(&second)); // nothing is left
    EXPECT_EQ(first.span[1], 0x200);
    EXPECT_EQ(second.kind, 8);
    EXPECT_EQ(second.span[1], 0x300);
    EXPECT_EQ(second.span[0], 1);
}

class Output : public testing::Test {
  protected:
    MessageState messages;
};

TEST_F(Output, PiecesLandAtTheirOffsetsWithZeroGaps) {
    FILE* file = tmpfile();
    OutputFile out(messages, file, "x.bin", 413);
    out.write_at(4, Bytes{1, 2});
    out.write(Bytes{3});
    out.write_at(0, Bytes{9});
    out.finish();
    ByteReader in(file);
    Bytes all;
    ASSERT_TRUE(in.read_at(0, in.size(), &all));
    EXPECT_EQ(all, (Bytes{9, 0, 0, 0, 1, 2, 3}));
    fclose(file);
}

TEST_F(Output, EachFailedWriteIsReportedOnceWithTheNamedMessage) {
    FILE* full = fopen("/dev/full", "wb");
    if (!full) GTEST_SKIP() << "no /dev/full";
    setvbuf(full, nullptr, _IONBF, 0);
    std::string err = capture_stderr([&] {
        OutputFile out(messages, full, "full.bin", 413);
        out.write_at(0, Bytes{1});
        out.write(Bytes{2});
        out.write_at(UINT64_C(1) << 33, Bytes{3}); // past what a 32-bit file can hold
        out.finish();
    });
    fclose(full);
    EXPECT_EQ(count_of(err, "(413)"), 3u) << err;
    EXPECT_NE(err.find("full.bin"), std::string::npos);
}

} // namespace
