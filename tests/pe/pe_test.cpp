// P&E map files: the writer's rules on stores the command line cannot build (equal sort
// keys, unknown files, the count limits). Detection and reading: cases in pe/cases.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "driver/normalize.h"
#include "formats/descriptors.h"
#include "model/run.h"
#include "model/store.h"
#include "test_support.h"

namespace {

Bytes text(const std::string& s) {
    Bytes bytes(s.begin(), s.end());
    bytes.push_back(0);
    return bytes;
}

const Bytes MAGIC = [] {
    Bytes magic = text("P&E Microcomputer Map File");
    magic.back() = 0x1A;
    return magic;
}();

// The header: magic, record count (big-endian), file count.
Bytes header(unsigned records, unsigned files) {
    return MAGIC + Bytes{uint8_t(records >> 8), uint8_t(records), uint8_t(files)};
}

// One record: address (little-endian), file byte, line (big-endian), name.
Bytes record(uint32_t address, uint8_t file, uint16_t line, const std::string& name) {
    return Bytes{uint8_t(address),
                 uint8_t(address >> 8),
                 uint8_t(address >> 16),
                 uint8_t(address >> 24),
                 file,
                 uint8_t(line >> 8),
                 uint8_t(line)} +
           text(name);
}

Bytes write_pe(::Run& run, std::string* err = nullptr) {
    Bytes bytes;
    std::string messages = capture_stderr([&] { bytes = written_by(run, pe_format, "out.pe"); });
    if (err)
        *err = messages;
    else
        EXPECT_EQ(messages, "");
    return bytes;
}

// ---- Writing ----

class PeWrite : public testing::Test {
  protected:
    ::Run run;
    void SetUp() override {
        add_segment(run, "CODE", 0, 0x10000, 0, 0);
        add_segment(run, "DATA", 0, 0x100, 0, 1);
    }
    // Symbols and line records in an order the sort has to change, equal places among
    // them. Worked through the sort's steps, the symbols end up as low, abs, _alias,
    // _main, Count, helper (the two at file 1, segment 1, 0x100 exchanged) and the lines
    // as 12, 300, 0x1234, 7.
    void program() {
        main_c = add_file(run, "main.c");
        unused = add_file(run, "unused.h");
        lib_c = add_file(run, "Lib.c");
        add_symbol(run, "_main", 0x100, 1, main_c, 0);
        add_symbol(run, "Count", 0x20, 2, main_c, 0);
        add_symbol(run, "_alias", 0x100, 1, main_c, 0);
        add_symbol(run, "abs", 0x80000000, 0, 0, 0); // above every signed 32-bit value
        add_symbol(run, "helper", 0x10, 1, lib_c, 0);
        add_symbol(run, "low", 5, 0, 0, 0);
        add_line(run, 12, 0x100, 1, main_c, 2);
        add_line(run, 300, 0x104, 1, main_c, 2);
        add_line(run, 7, 0x10, 1, lib_c, 2);
        add_line(run, 0x1234, 0x8, 1, lib_c, 2);
        file_of(run, unused)->output_index = 9; // left by an earlier writer
        normalize_store(run);
    }
    uint32_t main_c = 0, unused = 0, lib_c = 0;
};

TEST_F(PeWrite, MergedRecordsByHand) {
    program();
    Bytes expected = header(8, 2) + text("MAIN.C") + text("LIB.C") + record(5, 0, 0, "LOW") +
                     record(0x80000000, 0, 0, "ABS") +
                     record(0x100, 1, 12, "_ALIAS") + // a symbol and a line share a record
                     record(0x100, 0, 0, "_MAIN") +   // the second symbol: file byte 0
                     record(0x104, 1, 300, "") +      // segment 1 before Count's segment 2
                     record(0x20, 0, 0, "COUNT") +    // file 1 before the line's file 3
                     record(0x8, 2, 0x1234, "") +     // lib.c is the second file written
                     record(0x10, 2, 7, "HELPER");
    EXPECT_EQ(write_pe(run), expected);
    // Output indexes are set for the writers that follow.
    EXPECT_EQ(file_of(run, main_c)->output_index, 1u);
    EXPECT_EQ(file_of(run, unused)->output_index, 0u);
    EXPECT_EQ(file_of(run, lib_c)->output_index, 2u);
}

TEST_F(PeWrite, NoFilesAndLinesOfUnknownFiles) {
    add_symbol(run, "only", 0x1234, 0, 0, 0);
    add_line(run, 70000, 0x40, 0, 5, 2); // a file number no file has; the line's low 16 bits
    EXPECT_EQ(write_pe(run),
              header(2, 0) + record(0x1234, 0, 0, "ONLY") + record(0x40, 0, 70000 & 0xFFFF, ""));
}

// More than a byte of files or two bytes of records: the output is left empty.
TEST_F(PeWrite, CountLimits) {
    for (int k = 0; k < 255; ++k)
        add_line(run, 1, uint32_t(k), 0, add_file(run, ("f" + std::to_string(k)).c_str()), 2);
    Bytes bytes = write_pe(run);
    ASSERT_GT(bytes.size(), 30u);
    EXPECT_EQ(bytes[29], 255);
    add_line(run, 1, 0, 0, add_file(run, "one_more"), 2);
    std::string err;
    EXPECT_TRUE(write_pe(run, &err).empty());
    EXPECT_EQ(err, "(414) \"out.pe\" is not written: a P&E file holds at most 255 source files "
                   "and 65535 records, not 256 and 256\n");

    run = ::Run();
    for (uint32_t k = 0; k < 65535; ++k)
        add_symbol(run, "s", k * 2, 0, 0, 0);
    add_line(run, 9, 4, 0, 0, 2); // shares the record of the symbol at 4
    bytes = write_pe(run);
    EXPECT_EQ(Bytes(bytes.begin() + 27, bytes.begin() + 30), (Bytes{0xFF, 0xFF, 0}));
    add_line(run, 9, 5, 0, 0, 2); // a record of its own: one too many
    EXPECT_TRUE(write_pe(run, &err).empty());
    EXPECT_EQ(err, "(414) \"out.pe\" is not written: a P&E file holds at most 255 source files "
                   "and 65535 records, not 0 and 65536\n");
}

} // namespace
