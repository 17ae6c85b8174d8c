// OMF-51 and Extended OMF-51: the record frame, the readers, the plain and typed writers
// and the dumps. Files are built or written in memory and taken apart record by record.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <string>
#include <vector>

#include "common/options.h"
#include "debug_helpers.h"
#include "driver/normalize.h"
#include "formats/descriptors.h"
#include "formats/omfrecord.h"
#include "model/store.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string hex(const Bytes& bytes) {
    std::string text;
    char cell[4];
    for (uint8_t b : bytes) {
        snprintf(cell, sizeof cell, text.empty() ? "%02X" : " %02X", unsigned(b));
        text += cell;
    }
    return text;
}

// One framed record: type, length, content, checksum.
Bytes frame(uint8_t type, const Bytes& content) {
    Bytes record{type, uint8_t(content.size() + 1), uint8_t((content.size() + 1) >> 8)};
    for (uint8_t byte : content)
        record.push_back(byte);
    unsigned sum = 0;
    for (uint8_t b : record)
        sum += b;
    record.push_back(uint8_t(-sum));
    return record;
}

Bytes name(const std::string& text) {
    Bytes bytes{uint8_t(text.size())};
    for (char c : text)
        bytes.push_back(uint8_t(c));
    return bytes;
}

Bytes operator+(Bytes a, const Bytes& b) {
    for (uint8_t byte : b)
        a.push_back(byte);
    return a;
}

// What a format's write produced.
Bytes written(const FormatDescriptor& format, const char* file_name = "out.abs") {
    return written_by(format, file_name);
}

// The records of a file, checked as they are read.
std::vector<OmfRecord> records_of(const Bytes& bytes) {
    std::vector<OmfRecord> records;
    FILE* in = fmemopen(const_cast<uint8_t*>(bytes.data()), bytes.size(), "rb");
    if (!in) return records; // an empty file
    RecordReader reader(in);
    OmfRecord record;
    std::string err = capture_stderr([&] {
        while (reader.next(&record, true))
            records.push_back(record);
    });
    EXPECT_EQ(err, "");
    fclose(in);
    return records;
}

Bytes content_of(const OmfRecord& record) {
    return Bytes(record.bytes.begin(), record.bytes.end() - 1);
}

std::string types_of(const std::vector<OmfRecord>& records) {
    std::string text;
    char cell[4];
    for (const OmfRecord& r : records) {
        snprintf(cell, sizeof cell, text.empty() ? "%02X" : " %02X", unsigned(r.type));
        text += cell;
    }
    return text;
}

Outcome dump(const FormatDescriptor& format, const Bytes& bytes, unsigned verbose = 0) {
    return run_on(
        bytes, [&](FILE* in) { return format.dump(in); }, verbose);
}

Outcome read(const FormatDescriptor& format, const Bytes& bytes) {
    return run_on(bytes, [&](FILE* in) { return format.read(in, "in.omf"); });
}

bool detects(const FormatDescriptor& format, const Bytes& bytes) {
    return run_on(bytes, [&](FILE* in) { return format.detect(in); }).result != 0;
}

const Bytes HEADER = frame(0x02, name("PROG") + Bytes{0xFF, 0x00});

// ---- The record frame ----

TEST(OmfRecordFrame, ChecksumsCutRecordsAndLongRecords) {
    reset_run_state();
    Bytes good = HEADER + frame(0x04, name("PROG") + Bytes{0, 0, 0x0F, 0});
    EXPECT_EQ(hex(frame(0x02, {0x01, 0x41})), "02 03 00 01 41 B9");

    // A file that ends right after a complete record: no message.
    EXPECT_EQ(records_of(good).size(), 2u);

    Bytes bad_sum = good;
    bad_sum[5] ^= 0x10;
    Outcome o = read(omf51_format, bad_sum);
    EXPECT_EQ(o.err, "(1040) record type 0x02 has a checksum error (sum 0xF0)\n");
    EXPECT_EQ(o.result, 1); // the read ends, successfully

    Bytes cut(good.begin(), good.end() - 1);
    o = dump(omf51_format, cut);
    EXPECT_NE(o.err.find("(1041) record cut short"), std::string::npos) << o.err;
    EXPECT_NE(o.out.find("Module header"), std::string::npos);
    EXPECT_EQ(o.out.find("Module END"), std::string::npos);

    // A length byte that is missing altogether is a cut record as well.
    o = dump(omf51_format, Bytes{0x02, 0x05});
    EXPECT_NE(o.err.find("(1041)"), std::string::npos) << o.err;

    // The longest record the frame allows.
    Bytes big(0xFFFE - 3, 0x5A);
    Bytes long_file = HEADER + frame(0x06, Bytes{0, 0, 0} + big);
    std::vector<OmfRecord> records = records_of(long_file);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].length, 0xFFFF);
    EXPECT_EQ(records[1].offset, HEADER.size());
    reset_run_state();
    EXPECT_EQ(read(omf51_format, long_file).result, 1);
    ASSERT_EQ(store.data.count(), 1u);
    EXPECT_EQ(store.data[0]->size, big.size());

    // At -v -v a read record's bytes are shown.
    o = run_on(
        HEADER, [](FILE* in) { return omf51_format.read(in, "x"); }, 2);
    EXPECT_NE(o.out.find("0000: 04 50 52 4F 47 FF 00"), std::string::npos) << o.out;
}

// ---- Reading ----

TEST(Omf51Read, SegmentsSymbolsLinesAndContent) {
    reset_run_state();
    Bytes file = HEADER + frame(0x10, Bytes{0} + name("main")) +
                 frame(0x12, Bytes{1} +                                          // public
                                 Bytes{0, 0x42, 0x30, 0x00, 0} + name("Count") + // DATA var
                                 Bytes{0, 0x00, 0x00, 0x01, 0} + name("_main") + // CODE label
                                 Bytes{0, 0x07, 0x10, 0x00, 0} + name("odd")) +  // type 7
                 frame(0x12, Bytes{0} + Bytes{0, 0x41, 0x00, 0x02, 0} + name("buf")) +
                 frame(0x12, Bytes{2} + Bytes{3, 0x01, 0x00, 0x20, 0} + name("?XD?MAIN")) +
                 frame(0x12, Bytes{3} + Bytes{0, 0x00, 0x01, 7, 0} + Bytes{0, 0x03, 0x01, 8, 0}) +
                 frame(0x12, Bytes{9} + Bytes{1, 2, 3}) + // an unknown definition type
                 frame(0x10, Bytes{3} + name("main")) +
                 frame(0x06, Bytes{0, 0x00, 0x01, 0xE4, 0xF5, 0x30});
    Outcome o = read(omf51_format, file);
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(o.err, "");
    for (const char* type : {"CODE", "XDATA", "DATA", "IDATA", "BIT"})
        EXPECT_NE(find_segment(type), nullptr) << type;
    const SegmentRecord* xseg = find_segment("?XD?MAIN");
    ASSERT_NE(xseg, nullptr);
    EXPECT_EQ(xseg->address, 0x2000u);

    const SymbolRecord* count = find_symbol("Count"); // the case is kept
    ASSERT_NE(count, nullptr);
    EXPECT_EQ(count->value, 0x30u);
    EXPECT_EQ(count->flags, 0u);
    EXPECT_STREQ(segment_name(count->segment), "DATA");
    EXPECT_STREQ(file_of(count->file)->name.c_str(), "main");
    const SymbolRecord* label = find_symbol("_main");
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->flags, uint32_t(SYM_KIND_MARK));
    EXPECT_STREQ(segment_name(label->segment), "CODE");
    EXPECT_EQ(find_symbol("odd")->segment, 0u); // memory type 7 names no segment
    const SymbolRecord* buf = find_symbol("buf");
    EXPECT_EQ(buf->flags, uint32_t(SYM_LOCAL));
    EXPECT_STREQ(segment_name(buf->segment), "XDATA");

    uint32_t main_file = add_file("main");
    ASSERT_EQ(store.lines.count(), 2u);
    EXPECT_EQ(store.lines[1]->line, 8u);
    EXPECT_EQ(store.lines[1]->address, 0x103u);
    EXPECT_EQ(store.lines[1]->file, main_file);
    ASSERT_EQ(store.data.count(), 1u);
    EXPECT_EQ(store.data[0]->address, 0x100u);
    EXPECT_EQ(store.data[0]->size, 3u);
}

TEST(Omf51Read, UnknownRecordTypeFailsTheRead) {
    reset_run_state();
    Bytes file = HEADER + frame(0x22, Bytes{0});
    Outcome o = read(omf51_format, file);
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.err, "(1042) unknown OMF51 record type 0x22\n");
    // The extended reader takes the same record as a typed debug item.
    reset_run_state();
    o = read(eomf51_format,
             HEADER + frame(0x22, Bytes{1, 0, 0x42, 5, 0, 4} + name("_v")) + frame(0x71, {}));
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.err, "(1042) unknown eomf51 record type 0x71\n");
    EXPECT_NE(find_symbol("_v"), nullptr);
}

TEST(Omf51Detect, FirstRecordDecides) {
    reset_run_state();
    Bytes info = frame(0x70, Bytes{0xFF} + name("cc x.c"));
    EXPECT_TRUE(detects(omf51_format, HEADER));
    EXPECT_FALSE(detects(omf51_format, info + HEADER));
    EXPECT_TRUE(detects(eomf51_format, HEADER));
    EXPECT_TRUE(detects(eomf51_format, info + info + HEADER));
    EXPECT_FALSE(detects(eomf51_format, info + frame(0x10, Bytes{0} + name("m")) + HEADER));
    EXPECT_FALSE(detects(eomf51_format, info)); // nothing after the information
    Bytes bad = HEADER;
    bad.back() ^= 1;
    EXPECT_FALSE(detects(omf51_format, bad));
    EXPECT_FALSE(detects(eomf51_format, bad));
    EXPECT_FALSE(detects(omf51_format, Bytes{0x02, 0x03}));
}

// ---- Writing ----

class OmfWrite : public testing::Test {
  protected:
    void SetUp() override {
        reset_run_state();
        add_segment("CODE", 0, 0x10000, 0, 1);
        add_segment("XDATA", 0, 0x10000, 0, 2);
        add_segment("idata_seg", 0x80, 0x80, 0x80, 3);
        add_segment("R", 0, 8, 0, 4);
    }
};

TEST_F(OmfWrite, RecordsOfAProgram) {
    uint32_t main_file = add_file("main.c");
    uint32_t empty = add_file("empty.c");
    uint32_t lib = add_file("lib.asm");
    (void)empty;
    std::string long_name(45, 'q');
    add_symbol("_main", 0x10100, 1, main_file, SYM_KIND_MARK); // above 0xFFFF
    add_symbol("buffer", 0x20, 2, main_file, SYM_LOCAL);
    add_symbol(long_name.c_str(), 0x81, 3, main_file, 0);
    add_symbol("table", 0x400, 1, main_file, 0); // CODE: never a variable
    add_symbol("r7", 7, 4, main_file, 0);        // no memory type starts with R
    add_line(12, 0x100, 1, main_file, 2);
    add_line(3, 0x200, 1, lib, 2);
    Bytes data(600);
    for (size_t k = 0; k < data.size(); ++k)
        data[k] = uint8_t(k * 7 + k / 256);
    add_data(0x1000, uint32_t(data.size()), data.data(), 0);

    normalize_store();
    std::vector<OmfRecord> records = records_of(written(omf51_format, "out.omf"));
    // Header, scope, public items, local items, lines, scope end, three content
    // records, then lib.asm's scope with its lines, and the end.
    ASSERT_EQ(types_of(records), "02 10 12 12 12 10 06 06 06 10 12 10 04");
    EXPECT_EQ(hex(content_of(records[0])), "04 4D 41 49 4E FF 00");
    EXPECT_EQ(hex(content_of(records[1])), "00 04 4D 41 49 4E");
    std::string items = hex(content_of(records[2]));
    EXPECT_EQ(items.substr(0, 29), "01 00 00 00 01 00 05 5F 4D 41"); // "_MA", low 16 bits
    // The long name: cut to 40 and upper-cased; IDATA variable.
    std::string qs = hex(Bytes(40, 'Q'));
    EXPECT_NE(items.find("00 43 81 00 00 28 " + qs), std::string::npos) << items;
    EXPECT_NE(items.find("00 00 00 04 00 05 54 41 42 4C 45"), std::string::npos); // CODE
    EXPECT_NE(items.find("00 45 07 00 00 02 52 37"), std::string::npos);          // NUMBER
    EXPECT_EQ(hex(content_of(records[3])), "00 00 41 20 00 00 06 42 55 46 46 45 52");
    EXPECT_EQ(hex(content_of(records[4])), "03 00 00 01 0C 00");
    EXPECT_EQ(hex(content_of(records[5])), "03 04 4D 41 49 4E");
    for (int k = 0; k < 3; ++k) {
        Bytes c = content_of(records[6 + k]);
        EXPECT_EQ(c.size() - 3, k < 2 ? 256u : 88u);
        EXPECT_EQ(c[1] | c[2] << 8, 0x1000 + 256 * k);
        EXPECT_EQ(c[3], data[256 * size_t(k)]);
    }
    EXPECT_EQ(hex(content_of(records[9])), "00 03 4C 49 42");
    EXPECT_EQ(hex(content_of(records[12])), "03 4C 49 42 00 00 0F 00");
}

TEST_F(OmfWrite, PendingRecordClosesPast500Bytes) {
    uint32_t file = add_file("m.c");
    for (int k = 0; k < 40; ++k)
        add_symbol(("symbol_" + std::to_string(k)).c_str(), uint32_t(k), 2, file, 0);
    normalize_store();
    std::vector<OmfRecord> records = records_of(written(omf51_format));
    ASSERT_EQ(types_of(records), "02 10 12 12 10 04");
    // Items of 15 or 16 bytes: the record is closed once it holds more than 500.
    size_t first = records[2].content_size();
    EXPECT_GT(first, 500u);
    EXPECT_LE(first, 500u + 16);
    EXPECT_EQ(records[3].bytes[0], 1); // the next record begins with its definition type
    // Ten items of 14 bytes ("SYMBOL_0" to 9), thirty of 15, and two definition bytes.
    EXPECT_EQ(first + records[3].content_size(), 10u * 14 + 30 * 15 + 2);
}

TEST_F(OmfWrite, NothingWithoutFiles) {
    EXPECT_TRUE(written(omf51_format).empty());
    EXPECT_TRUE(written(eomf51_format).empty());
}

TEST_F(OmfWrite, ExtendedPlainNameRules) {
    uint32_t file = add_file("Main.Module.c");
    add_symbol("_Lower", 1, 2, file, 0);
    add_symbol("__twice", 2, 2, file, 0);
    std::string long_name = "_" + std::string(300, 'n');
    add_symbol(long_name.c_str(), 3, 2, file, 0);
    normalize_store();
    std::vector<OmfRecord> records = records_of(written(eomf51_format));
    ASSERT_EQ(types_of(records), "02 10 12 10 04");
    EXPECT_EQ(hex(content_of(records[1])), hex(Bytes{0} + name("MAIN.MODULE")));
    // The case kept, one "_" taken off, and 255 of the 300 "n".
    EXPECT_EQ(hex(content_of(records[2])),
              hex(Bytes{1} + Bytes{0, 0x41, 1, 0, 0} + name("Lower") + Bytes{0, 0x41, 2, 0, 0} +
                  name("_twice") + Bytes{0, 0x41, 3, 0, 0} + name(std::string(255, 'n'))));
}

// ---- The typed writer ----

const char* const MODULE = R"([p GLOBOPT ]
"1 m.c
[s S1 pair 4 `ui a 2 0 `uc f 1 2 :3:1 `uc g 1 2 :4:4 ]
[e E1 sign `c MINUS -1 PLUS 1 ]
[v _one S1 0 e 1 @32 ]
[v _two S1 0 e 1 @36 ]
[v _xp `*Xc 0 e 1 @40 ]
[v _sign E1 0 e 1 @42 ]
[v _f `f 0 e 1 @43 ]
[v _bits `b 0 e 1 @0 ]
"10
[v _main `(v 0 e 1 @0 ]
{
"11
[v _k `uc 0 a 0 0 ]
"14
}
1 1 0 0
)";

class TypedWrite : public testing::Test {
  protected:
    void SetUp() override {
        start_run("8051");
        add_segment("CODE", 0, 0x1000, 0, 1);
        add_segment("DATA", 0, 0x80, 0, 2);
        add_segment("BIT", 0, 0x80, 0, 3);
        add_segment("XDATA", 0, 0x1000, 0, 4);
    }
    uint32_t file = 0;
    void program(const std::string& text) {
        file = add_file("m.c");
        for (auto [n, v, s] : symbols)
            add_symbol(n, v, s, file, 0);
        add_line(10, 0x100, 1, file, 2);
        add_line(11, 0x103, 1, file, 2);
        add_line(14, 0x110, 1, file, 2);
        add_line(20, 0x120, 1, file, 2);
        Bytes code(0x40, 0xA5);
        add_data(0xF0, uint32_t(code.size()), code.data(), 0);
        read_text(text, "m.obj");
        normalize_store();
    }
    std::deque<std::string> names;
    std::vector<std::tuple<const char*, uint32_t, uint32_t>> symbols = {
        {"_one", 0x20, 2},   {"_two", 0x24, 2},  {"_xp", 0x28, 2},    {"_sign", 0x2A, 2},
        {"_f", 0x2B, 2},     {"_bits", 0x00, 3}, {"_main", 0x100, 1}, {"?a_main", 0x30, 2},
        {"_spare", 0x50, 4}, // not declared in the side file
    };
};

TEST_F(TypedWrite, ScopesTypesAndData) {
    program(MODULE);
    std::vector<OmfRecord> records = records_of(written(eomf51_format, "dir/prog.abs"));
    // Header; module block; source name, typedefs and the module's items; procedure and
    // do block with the function's local; its data and lines; block ends; module end;
    // the undescribed symbol; the rest of the data; end.
    ASSERT_EQ(types_of(records), "02 10 24 20 22 10 10 22 06 12 10 10 10 12 06 06 04");
    EXPECT_EQ(hex(content_of(records[0])), hex(name("PROG") + Bytes{0xFF, 0}));
    EXPECT_EQ(hex(content_of(records[1])), hex(Bytes{0} + name("M")));
    EXPECT_EQ(hex(content_of(records[2])), hex(Bytes{0, 0, 0} + name("M.C")));

    // 0x20 tag "pair", 0x21 and 0x22 the bit-fields, 0x23 the member list, 0x24 the
    // structure (shared by both variables), 0x25 the pointer, 0x26 main's function type.
    EXPECT_EQ(hex(content_of(records[3])),
              hex(Bytes{0x24, 0} + name("pair") + Bytes{0x26, 1, 1, 3} + Bytes{0x26, 1, 4, 4} +
                  Bytes{0x20, 3, 0} + Bytes{0, 0, 5} + name("a") + Bytes{2, 0, 0x21} + name("f") +
                  Bytes{2, 0, 0x22} + name("g") + Bytes{0x25, 4, 0, 0x23, 0x20} +
                  // The pointer to an xdata char: xdata is 0x2000 in this family, which
                  // none of the pointer rule's masks (0x20, 0x1004, 0x80, 0x8, 0x400)
                  // takes, so the space is 0, generic, not 2; the pointer is two bytes.
                  Bytes{0x28, 1, 2, 0, 1, 0, 0, 0, 2} + Bytes{0x23, 11, 0}));
    std::string items = hex(content_of(records[4]));
    EXPECT_EQ(items.substr(0, 2), "01");
    EXPECT_NE(items.find(hex(Bytes{0, 0x42, 0x20, 0, 0x24} + name("one"))), std::string::npos);
    EXPECT_NE(items.find(hex(Bytes{0, 0x42, 0x24, 0, 0x24} + name("two"))), std::string::npos);
    EXPECT_NE(items.find(hex(Bytes{0, 0x42, 0x28, 0, 0x25} + name("xp"))), std::string::npos);
    // A signed enumeration of one byte: signed char; float: "float big endian"; bit: 0.
    EXPECT_NE(items.find(hex(Bytes{0, 0x42, 0x2A, 0, 2} + name("sign"))), std::string::npos);
    EXPECT_NE(items.find(hex(Bytes{0, 0x42, 0x2B, 0, 12} + name("f"))), std::string::npos);
    EXPECT_NE(items.find(hex(Bytes{0, 0x44, 0x00, 0, 0} + name("bits"))), std::string::npos);
    EXPECT_NE(items.find(hex(Bytes{0, 0x00, 0x00, 1, 0x26} + name("main"))), std::string::npos);

    EXPECT_EQ(hex(content_of(records[5])), hex(Bytes{2} + name("_MAIN")));
    EXPECT_EQ(hex(content_of(records[6])), hex(Bytes{1} + name("")));
    EXPECT_EQ(hex(content_of(records[7])), hex(Bytes{0, 0, 0x42, 0x30, 0, 3} + name("k")));
    // Lines 10 to 14 of the function: data from 0x100 to the next record's 0x120.
    Bytes function_data = content_of(records[8]);
    EXPECT_EQ(function_data[1] | function_data[2] << 8, 0x100);
    EXPECT_EQ(function_data.size() - 3, 0x20u);
    EXPECT_EQ(hex(content_of(records[9])), "03 00 00 01 0A 00 00 03 01 0B 00 00 10 01 0E 00");
    EXPECT_EQ(hex(content_of(records[10])), hex(Bytes{4} + name("")));
    EXPECT_EQ(hex(content_of(records[11])), hex(Bytes{5} + name("_MAIN")));
    EXPECT_EQ(hex(content_of(records[12])), hex(Bytes{3} + name("M")));
    EXPECT_EQ(hex(content_of(records[13])),
              hex(Bytes{1} + Bytes{0, 0x42, 0x30, 0, 0} + name("?a_main") +
                  Bytes{0, 0x41, 0x50, 0, 0} + name("spare")));
    // The rest of the data: below and above what the function wrote, nothing twice.
    Bytes below = content_of(records[14]), above = content_of(records[15]);
    EXPECT_EQ(below[1] | below[2] << 8, 0xF0);
    EXPECT_EQ(below.size() - 3, 0x10u);
    EXPECT_EQ(above[1] | above[2] << 8, 0x120);
    EXPECT_EQ(above.size() - 3, 0x10u);
    EXPECT_EQ(hex(content_of(records[16])), hex(name("PROG") + Bytes{0, 0, 0x0F, 0}));

    // What was written reads back: the items as symbols, the content as data.
    Bytes bytes = written(eomf51_format);
    reset_run_state();
    EXPECT_EQ(read(eomf51_format, bytes).result, 1);
    EXPECT_NE(find_symbol("xp"), nullptr);
    EXPECT_EQ(store.lines.count(), 3u);
    uint32_t total = 0;
    for (const DataBlock* block : store.data)
        total += block->size;
    EXPECT_EQ(total, 0x40u);
}

// Variables each of a chain of twenty pointers: eleven fill indexes 32 to 251, the
// twelfth would need 256, so the records so far are written and its type is described
// again from 32 in a new typedef record. A type of more descriptors than one record can
// number is written as typeless.
TEST_F(TypedWrite, IndexPast255StartsANewTypedefRecord) {
    std::string text = "[p GLOBOPT ]\n\"1 m.c\n";
    std::string chain = "`" + std::string(20, '*') + "uc";
    for (int k = 0; k < 12; ++k)
        text += "[v _v" + std::to_string(k) + " " + chain + " 0 e 1 @" + std::to_string(k) + " ]\n";
    text += "[v _deep `" + std::string(240, '*') + "uc 0 e 1 @12 ]\n";
    for (int k = 0; k < 13; ++k)
        names.push_back(k < 12 ? "_v" + std::to_string(k) : "_deep");
    for (int k = 0; k < 13; ++k)
        symbols.push_back({names[size_t(k)].c_str(), uint32_t(k), 2});
    program(text);
    std::vector<OmfRecord> records = records_of(written(eomf51_format));
    std::vector<Bytes> typedefs, items;
    for (const OmfRecord& r : records) {
        if (r.type == 0x20) typedefs.push_back(content_of(r));
        if (r.type == 0x22) items.push_back(content_of(r));
    }
    ASSERT_EQ(typedefs.size(), 2u);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(typedefs[0].size(), 11u * 20 * 9);
    EXPECT_EQ(typedefs[1].size(), 20u * 9);
    // The outermost pointer of a chain takes its last index, 32 + 19.
    EXPECT_EQ(hex(Bytes(items[0].begin(), items[0].begin() + 6)), "01 00 42 00 00 33");
    EXPECT_EQ(hex(items[1]), hex(Bytes{1, 0, 0x42, 11, 0, 0x33} + name("v11")));
    EXPECT_EQ(hex(items[2]), hex(Bytes{1, 0, 0x42, 12, 0, 0} + name("deep")));
    // The last pointer of the second record points at the one before it.
    EXPECT_EQ(hex(Bytes(typedefs[1].end() - 9, typedefs[1].end())), "28 01 02 00 01 00 00 00 32");
}

TEST_F(TypedWrite, TypedefBufferLimit) {
    // Members with names of 200 characters take one member list each: far more than
    // 32768 bytes of descriptors for one structure.
    std::string text = "[p GLOBOPT ]\n\"1 m.c\n[s S1 big 200 ";
    for (int k = 0; k < 170; ++k)
        text += "`uc " + std::string(196, 'm') + std::to_string(1000 + k) + " 1 " +
                std::to_string(k) + " ";
    text += "]\n[v _one S1 0 e 1 @32 ]\n";
    std::string err = capture_stderr([&] { program(text); });
    EXPECT_EQ(err, "");
    Bytes bytes;
    err = capture_stderr([&] { bytes = written(eomf51_format); });
    // One message for the variable whose type did not fit.
    EXPECT_EQ(err, "(622) type description buffer full: the type is not written\n");
    size_t largest = 0;
    for (const OmfRecord& r : records_of(bytes))
        if (r.type == 0x20) largest = std::max(largest, r.content_size());
    EXPECT_GT(largest, 32000u);
    EXPECT_LE(largest, 32768u);
}

// ---- Dumps ----

TEST(Omf51Dump, EveryLayout) {
    reset_run_state();
    Bytes file = HEADER + frame(0x10, Bytes{2} + name("f")) + frame(0x10, Bytes{7} + name("x")) +
                 frame(0x06, Bytes{0, 0x00, 0x01} + Bytes(14, 0xAB)) +
                 frame(0x12, Bytes{1} + Bytes{0, 0xEA, 0x30, 0x00, 5} + name("v")) +
                 frame(0x12, Bytes{2} + Bytes{1, 0x33, 0x00, 0x20, 0} + name("SEG")) +
                 frame(0x12, Bytes{3} + Bytes{0, 0x34, 0x12, 0x10, 0x00}) + frame(0x12, {6}) +
                 frame(0x12, Bytes{1} + Bytes{0, 0x40, 0, 0, 0, 9, 'a'}) + frame(0x0E, {1}) +
                 frame(0x99, {1, 2}) + frame(0x04, name("PROG") + Bytes{0, 0, 0x0F, 0});
    Outcome o = dump(omf51_format, file, 1);
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(o.out, "OMF-51 file dump:\n\n"
                     "@0000    Module header, len   8: Name: 'PROG'; TRN ID = 0xFF\n"
                     "@000B        Scope Def, len   4: Procedure block; Name = 'f'\n"
                     "@0012        Scope Def, len   4: UNKNOWN; Name = 'x'\n"
                     "@0019          Content, len  18: Seg id 0, offset = 0x0100, 14 bytes; "
                     "AB AB AB AB AB AB AB AB AB AB AB AB \n"
                     "@002E       Debug Item, len   9: Public symbols\n"
                     "\t\tSEG 0, IND VAR BANK 1 DATA offset 0x0030: v\n"
                     "@003A       Debug Item, len  11: Segment symbols\n"
                     "\t\tSEG 1, BANK 2 IDATA offset 0x2000: SEG\n"
                     "@0048       Debug Item, len   7: Line numbers\n"
                     "\t\tSEG 0, offset 0x1234, line 16\n"
                     "@0052       Debug Item, len   2: Unknown type\n"
                     "@0057       Debug Item, len   9: Public symbols\n"
                     "Bad length\n"
                     "@0063      Segment Def, len   2: \n"
                     "@0068    Unknown(0x99), len   3: \n"
                     "\t0000: 01 02 61                                        ..a\n"
                     "@006E       Module END, len  10: Name: 'PROG'; REG MSK = 0x0F\n");
}

TEST(EOmf51Dump, TypedItemsTypedefsInfoAndSourceNames) {
    reset_run_state();
    setenv("TZ", "UTC", 1);
    tzset();
    Bytes typedefs = Bytes{0x22, 1, 10, 0, 3} + Bytes{0x23, 0x20, 0} + Bytes{0x23, 4, 2} +
                     Bytes{0x24, 0} + name("pt") + Bytes{0x24, 1} + name("q\x01r") +
                     Bytes{0x20, 2, 0, 0, 0, 4} + name("x") + Bytes{1, 0, 0x21} + name("y") +
                     Bytes{0x25, 3, 0, 0x24, 0x23} + Bytes{0x26, 1, 3, 2} +
                     Bytes{0x28, 2, 1, 2, 1, 0, 0, 0, 0x2A} + Bytes{0x28, 1, 3, 9, 1, 0, 0, 0, 7} +
                     Bytes{0x77, 1, 2};
    Bytes file = frame(0x70, Bytes{1, 0} + Bytes{0, 0, 0, 0} + name("m.c") + Bytes{0x33} +
                                 Bytes{4, 2} + Bytes{0x80, 0x51, 0x01, 0} + name("x\tlib") +
                                 Bytes{0xFF} + name("c51 m.c")) +
                 HEADER + frame(0x24, Bytes{0x01, 0x02, 0} + name("M.C")) + frame(0x20, typedefs) +
                 frame(0x22, Bytes{0} + Bytes{0, 0x42, 0x10, 0, 2} + name("a") +
                                 Bytes{0, 0x41, 0x11, 0, 0x0D} + name("b") +
                                 Bytes{0, 0x42, 0x12, 0, 0x2C} + name("c")) +
                 frame(0x12, Bytes{1} + Bytes{0, 0x42, 0x13, 0, 0x05} + name("d")) +
                 frame(0x70, Bytes{2, 0, 1, 2}) + frame(0x20, Bytes{0x22, 1}) + frame(0x24, {0});
    Outcome o = dump(eomf51_format, file);
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(o.out,
              "Extended OMF-51 file dump:\n\n"
              "@0000        Keil info, len  33: \n"
              "\t\tFile: source, Time = Thu Jan  1 00:00:00 1970; Name = 'm.c'\n"
              "\t\tUnknown key 0x33\n"
              "\t\tFile: object/library (2), Time = Fri Jan  2 00:00:00 1970; Name = 'xlib'\n"
              "\t\tCommand line: 'c51 m.c'\n"
              "@0024    Module header, len   8: Name: 'PROG'; TRN ID = 0xFF\n"
              "@002F Source file name, len   8: Flags: 201 Name: 'M.C'\n"
              "@003A     Keil typedef, len  66: \n"
              "                           0x20 = Array[10] of unsigned char\n"
              "                           0x21 = Function returning type(0x20) no parms\n"
              "                           0x22 = Function returning signed int parms 0x2\n"
              "                           0x23 = tag 'pt'\n"
              "                           0x24 = tag(1) 'qr'\n"
              "                           0x25 = members(2): signed int x offs 0/0; "
              "type(0x21) y offs 1/0;\n"
              "                           0x26 = struct size 3 membs type(0x24) tag type(0x23)\n"
              "                           0x27 = bitfield(2@3)\n"
              "                           0x28 = Pointer to type(0x2A) size 1 XDATA 2 1 0 0 0 \n"
              "                           0x29 = Pointer to unsigned long size 3 space(9) 1 1 "
              "0 0 0 \n"
              "                           0x2A = Unknown key 0x77\n"
              "@007F  Keil Debug Item, len  23: Local symbols\n"
              "\t\tSEG 0, VAR DATA signed char offset 0x0010: a\n"
              "\t\tSEG 0, VAR XDATA Unknown(D) offset 0x0011: b\n"
              "\t\tSEG 0, VAR DATA Typedef(2C) offset 0x0012: c\n"
              "@0099       Debug Item, len   9: Public symbols\n"
              "\t\tSEG 0, VAR DATA unsigned int offset 0x0013: d\n"
              "@00A5        Keil info, len   5: \n"
              "Bad length\n"
              "@00AD     Keil typedef, len   3: \n"
              "                           0x20 = \n"
              "Bad length\n"
              "@00B3 Source file name, len   2: Bad length\n");
}

} // namespace
