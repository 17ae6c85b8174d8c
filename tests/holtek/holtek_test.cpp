// Holtek DBG files: the writer's records byte by byte, plain and from side files, the
// checking read with its escape, and the dump.
#include <gtest/gtest.h>

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

Bytes operator+(Bytes a, const Bytes& b) {
    for (uint8_t byte : b)
        a.push_back(byte);
    return a;
}

Bytes name(const std::string& text) {
    Bytes bytes{uint8_t(text.size())};
    for (char c : text)
        bytes.push_back(uint8_t(c));
    return bytes;
}

Bytes frame(uint8_t type, const Bytes& content) {
    Bytes record{type, uint8_t(content.size() + 1), uint8_t((content.size() + 1) >> 8)};
    record = record + content;
    unsigned sum = 0;
    for (uint8_t b : record)
        sum += b;
    record.push_back(uint8_t(-sum));
    return record;
}

const Bytes START = {0x4A, 0x03, 0x00, 0x01, 0x00, 0xB2, 0xCB, 0x55, 0x55, 0x00};
const Bytes END = frame(0xCA, {});

Bytes written() {
    return written_by(htk_format, "out.dbg");
}

// The framed records after the header and its escape.
std::vector<OmfRecord> records_after_start(const Bytes& bytes) {
    EXPECT_EQ(hex(Bytes(bytes.begin(), bytes.begin() + 10)), hex(START));
    Bytes rest(bytes.begin() + 10, bytes.end());
    std::vector<OmfRecord> records;
    FILE* in = fmemopen(rest.data(), rest.size(), "rb");
    RecordReader reader(in);
    OmfRecord record;
    while (reader.next(&record, false))
        records.push_back(record);
    fclose(in);
    return records;
}

Bytes content_of(const OmfRecord& r) {
    return Bytes(r.bytes.begin(), r.bytes.end() - 1);
}

// ---- Writing ----

class DbgWrite : public testing::Test {
  protected:
    void SetUp() override {
        reset_run_state();
        add_segment("CODE", 0, 0x1000, 0, 1);
        add_segment("RAM", 0x40, 0xC0, 0x40, 2);
    }
};

TEST_F(DbgWrite, PlainStore) {
    uint32_t sym = add_file("PROG.SYM"); // never named, whatever its case
    uint32_t obj = add_file("main.OBJ");
    uint32_t c = add_file("main.c");
    add_file("unused.c"); // neither symbols nor lines
    add_symbol("_main", 0x10, 1, sym, 0);
    add_symbol("_local", 0x11, 1, obj, SYM_LOCAL);
    add_symbol("_helper", 0x12345, 1, c, 0);
    add_line(5, 0x10, 1, c, 2);
    add_line(4, 0x0E, 1, c, 2);
    normalize_store();
    std::vector<OmfRecord> records = records_after_start(written());
    ASSERT_EQ(records.size(), 5u);
    EXPECT_EQ(hex(content_of(records[0])), hex(name("main.c")));
    // The .sym file's symbols under file index 0, then main.c's under 1; values as u16.
    EXPECT_EQ(records[1].type, 0x78);
    EXPECT_EQ(hex(content_of(records[1])), hex(Bytes{0, 1} + name("_main") + Bytes{0x10, 0, 1}));
    EXPECT_EQ(records[2].type, 0x78);
    EXPECT_EQ(hex(content_of(records[2])),
              hex(Bytes{1, 1} + name("_helper") + Bytes{0x45, 0x23, 1}));
    // Lines sorted by number.
    EXPECT_EQ(records[3].type, 0x74);
    EXPECT_EQ(hex(content_of(records[3])), "01 01 04 00 0E 00 05 00 10 00");
    EXPECT_EQ(records[4].type, 0xCA);
    EXPECT_EQ(records[4].content_size(), 0u);
}

TEST_F(DbgWrite, NumbersPendingRecordsAndLineContinuation) {
    // 200 files with a symbol each: the 200th file's index is written 80 C8.
    for (int k = 1; k <= 200; ++k) {
        std::string n = "f" + std::to_string(k) + ".c";
        add_symbol(("s" + std::to_string(k)).c_str(), uint32_t(k), 1, add_file(n.c_str()), 0);
    }
    uint32_t last = add_file("lines.c");
    for (uint32_t k = 1; k <= 300; ++k)
        add_line(k, 2 * k, 1, last, 2);
    normalize_store();
    std::vector<OmfRecord> records = records_after_start(written());
    std::vector<Bytes> names, symbols, lines;
    for (const OmfRecord& r : records) {
        if (r.type == 0x70) names.push_back(content_of(r));
        if (r.type == 0x78) symbols.push_back(content_of(r));
        if (r.type == 0x74) lines.push_back(content_of(r));
    }
    // File names: a record takes entries while 257 of its 1024 bytes are free.
    size_t named = 0;
    for (const Bytes& n : names) {
        EXPECT_LE(3 + n.size(), 1024u - 257 + 8); // at most 767 before the last name
        for (size_t at = 0; at < n.size(); at += 1 + n[at])
            ++named;
    }
    EXPECT_EQ(named, 201u);
    EXPECT_EQ(symbols.size(), 200u); // each file its own header
    EXPECT_EQ(hex(Bytes(symbols[199].begin(), symbols[199].begin() + 3)), "80 C8 01");
    EXPECT_EQ(hex(Bytes(symbols[126].begin(), symbols[126].begin() + 2)), "7F 01");
    EXPECT_EQ(hex(Bytes(symbols[127].begin(), symbols[127].begin() + 3)), "80 80 01");
    // 300 line entries: 254 fill the first record to 1021 bytes, the rest continue
    // under the same header.
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].size(), 3u + 254 * 4);
    EXPECT_EQ(lines[1].size(), 3u + 46 * 4);
    EXPECT_EQ(hex(Bytes(lines[1].begin(), lines[1].begin() + 7)), "80 C9 01 FF 00 FE 01");
}

const char* const MODULE = R"([p HOLTEK GLOBOPT ]
"1 m.c
[v _F12_count `uc 0 e 1 @64 ]
[v _F_x `ui 0 e 1 @65 ]
[v _F1__y `ul 0 e 1 @66 ]
[v _fl `f 0 e 1 @70 ]
[v _db `d 0 e 1 @73 ]
[v _tab `[3]ui 0 e 1 @80 ]
[v _flag `b 0 e 1 @0 ]
[v _gone `uc 0 e 1 @0 ]
"10
[v _main `(v 0 e 1 @0 ]
{
"11
[v _k `uc 0 a 0 0 ]
"14
}
1 0 0 0
)";

TEST_F(DbgWrite, ScopesFromSideFiles) {
    start_run("HT46R24");
    add_segment("CODE", 0, 0x1000, 0, 1);
    add_segment("RAM", 0x40, 0xC0, 0x40, 2);
    uint32_t file = add_file("m.c");
    for (auto [n, v, s] :
         std::vector<std::tuple<const char*, uint32_t, uint32_t>>{{"_F12_count", 0x40, 2},
                                                                  {"_F_x", 0x41, 2},
                                                                  {"_F1__y", 0x42, 2},
                                                                  {"_fl", 0x46, 2},
                                                                  {"_db", 0x49, 2},
                                                                  {"_tab", 0x50, 2},
                                                                  {"_flag", 0x00, 2},
                                                                  {"_main", 0x10, 1}})
        add_symbol(n, v, s, file, 0);
    add_symbol("??_main", 0x58, 2, file, SYM_LOCAL);
    add_symbol("_spare", 0x60, 2, file, 0); // declared nowhere
    add_line(10, 0x10, 1, file, 2);
    add_line(11, 0x12, 1, file, 2);
    add_line(14, 0x18, 1, file, 2);
    std::string err = capture_stderr([&] { read_text(MODULE, "m.obj"); });
    EXPECT_EQ(err, "");
    normalize_store();
    std::vector<OmfRecord> records = records_after_start(written());
    ASSERT_EQ(records.size(), 9u);
    EXPECT_EQ(hex(content_of(records[0])), hex(name("m.c")));
    // Variables: one "_" off, the F<digits>_ prefix off ("F1__y" keeps it), types from
    // sizes (float 3 bytes: 28, double 4: 29, an array by its element, bit 2); data
    // under section 0, the function under section 1 with its "_" kept.
    EXPECT_EQ(hex(content_of(records[1])),
              hex(Bytes{1, 0} + name("count") + Bytes{0x40, 0, 4} + name("x") + Bytes{0x41, 0, 5} +
                  name("F1__y") + Bytes{0x42, 0, 6} + name("fl") + Bytes{0x46, 0, 28} + name("db") +
                  Bytes{0x49, 0, 29} + name("tab") + Bytes{0x50, 0, 5} + name("flag") +
                  Bytes{0, 0, 2}));
    EXPECT_EQ(hex(content_of(records[2])), hex(Bytes{1, 1} + name("_main") + Bytes{0x10, 0, 1}));
    EXPECT_EQ(hex(content_of(records[3])), hex(Bytes{1, 0} + name("k") + Bytes{0x58, 0, 4}));
    // The one symbol no declaration described.
    EXPECT_EQ(hex(content_of(records[4])), hex(Bytes{1, 1} + name("_spare") + Bytes{0x60, 0, 1}));
    EXPECT_EQ(hex(content_of(records[5])), "01 01 0A 00 10 00 0B 00 12 00 0E 00 18 00");
    // The module: block 1 under parent 1, positions 1 and 1, the seven located variables
    // (the function's own entry passed over). The function: block 2 under 1, lines 10 to
    // 14 at positions 1 and 3 - 1, its auto.
    EXPECT_EQ(hex(content_of(records[6])),
              "01 00 01 00 01 01 01 01 02 02 03 03 04 04 05 05 06 06 07 07");
    EXPECT_EQ(hex(content_of(records[7])), "02 00 01 00 01 02 09 09");
    EXPECT_EQ(records[8].type, 0xCA);
}

// ---- Reading and dumping ----

TEST(DbgRead, DetectEscapeAndErrors) {
    reset_run_state();
    Bytes file = START + frame(0x70, name("a.c")) + END;
    auto detect = [](const Bytes& b) {
        return run_on(b, [](FILE* in) { return htk_format.detect(in); }).result;
    };
    EXPECT_EQ(detect(file), 1);
    EXPECT_EQ(detect(frame(0x70, name("a.c"))), 0);
    EXPECT_EQ(detect(Bytes(START.begin(), START.begin() + 5)), 0);
    auto read = [](const Bytes& b) {
        return run_on(b, [](FILE* in) { return htk_format.read(in, "x.dbg"); });
    };
    Outcome o = read(file);
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(o.err, "");
    o = read(START + frame(0x71, {}));
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.err, "(1042) unknown DBG record type 0x71\n");
    Bytes bad = file;
    bad[14] ^= 4;
    o = read(bad);
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(o.err, "(1040) record type 0x70 has a checksum error (sum 0x04)\n");
    o = read(Bytes(START.begin(), START.begin() + 8)); // the escape cut short
    EXPECT_EQ(o.err, "(1041) record cut short\n");
    EXPECT_EQ(read(START).err, ""); // the escape then the end of the file
}

TEST(DbgDump, EveryLayoutWithCollectedNames) {
    reset_run_state();
    Bytes file = frame(0x4A, {3, 'H', 0, 'T'}) + Bytes{0xCB, 1, 2, 3} +
                 frame(0x70, name("main.c") + name("lib.c")) +
                 frame(0x78, Bytes{0x80, 0x02, 0} + name("counter") + Bytes{0x34, 0x12, 4} +
                                 name("big") + Bytes{1, 0, 29}) +
                 frame(0x74, Bytes{2, 1, 7, 0, 0x10, 0, 9, 0, 0x14, 0}) +
                 frame(0x74, Bytes{9, 1, 3, 0, 0x20, 0}) +
                 frame(0xC2, Bytes{3, 0, 1, 0, 1, 3, 1, 1, 2, 0x80, 0xC8}) +
                 frame(0xC2, Bytes{4, 0, 3, 0, 0x81, 0x00, 9, 5}) + frame(0x70, Bytes{5, 'a'}) +
                 frame(0x78, Bytes{1, 1} + name("cut") + Bytes{1}) + frame(0x99, {}) + END;
    Outcome o = run_on(file, [](FILE* in) { return htk_format.dump(in); });
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(o.out, "Holtek DBG file dump:\n\n"
                     "@0000     Debug header, len   4: Header: HT\n"
                     "@0008       File names, len  13: \n"
                     "File: 'main.c\n"
                     "File: 'lib.c\n"
                     "@001D      Symbol info, len  21: File index = 2, Section = DATA\n"
                     "\t\t         counter = 1234, type = byte\n"
                     "\t\t             big = 0001, type = illegal\n"
                     "@0036 Line number info, len  10: File = lib.c, Section = CODE\n"
                     "\tLine    7 =  = 0010\n"
                     "\tLine    9 =  = 0014\n"
                     "@0044 Line number info, len   6: File = 9, Section = CODE\n"
                     "\tLine    3 =  = 0020\n"
                     "@004E     C scope info, len  11: Block ID = 3, Parent ID = 1, "
                     "Line range = lib.c:7-3\n"
                     "         counter (1)         counter(1)\n"
                     "             big (2)          BADSYM(200)\n"
                     "@005D     C scope info, len   8: Block ID = 4, Parent ID = 3, "
                     "Line range = 256-9\n"
                     "Record length error\n"
                     "@0069       File names, len   2: \n"
                     "Error in record length\n"
                     "@006F      Symbol info, len   7: File index = 1, Section = CODE\n"
                     "Record length error\n"
                     "@007A    Unknown(0x99), len   0: \n"
                     "@007E         File end, len   0: \n");
}

} // namespace
