// Normalisation: line ranges, per-file tables, data blocks, segments, the summary (level 1
// is in most cases with -v).
#include "common/options.h"
#include "driver/normalize.h"
#include "model/store.h"
#include "test_support.h"

namespace {

class Normalize : public testing::Test {
  protected:
    void SetUp() override { start_without_messages(run); }

    ::Run run;

    void block(uint32_t address, uint32_t size, uint32_t segment = 0, uint8_t fill = 0) {
        std::vector<uint8_t> bytes(size, fill);
        add_data(run, address, size, bytes.data(), segment);
    }
    std::string normalize() {
        return capture_stderr([this] { normalize_store(run); });
    }
};

TEST_F(Normalize, LineEndsReachTheNextAddress) {
    uint32_t f = add_file(run, "m.c");
    add_line(run, 1, 0x10, 0, f, 2);
    add_line(run, 2, 0x10, 0, f, 2);
    add_line(run, 3, 0x18, 0, f, 2);
    normalize();
    EXPECT_EQ(run.store.lines[0]->end_address, 0x10u);
    EXPECT_EQ(run.store.lines[1]->end_address, 0x17u);
    EXPECT_EQ(run.store.lines[2]->end_address, 0x18u);
}

TEST_F(Normalize, FileTablesKeepStoreOrderAndSortLines) {
    uint32_t a = add_file(run, "a.c");
    uint32_t b = add_file(run, "b.c");
    add_symbol(run, "s1", 1, 0, b, 0);
    add_symbol(run, "s2", 2, 0, a, 0);
    add_symbol(run, "s3", 3, 0, b, 0);
    add_line(run, 20, 0x20, 0, a, 2);
    add_line(run, 10, 0x30, 0, a, 2);
    add_line(run, 10, 0x28, 0, a, 2);
    normalize();
    ASSERT_EQ(run.store.files[1]->symbols.size(), 2u);
    EXPECT_EQ(run.store.files[1]->symbols[0]->name, "s1");
    EXPECT_EQ(run.store.files[1]->symbols[1]->name, "s3");
    ASSERT_EQ(run.store.files[0]->lines.size(), 3u);
    EXPECT_EQ(run.store.files[0]->lines[0]->address, 0x28u);
    EXPECT_EQ(run.store.files[0]->lines[1]->address, 0x30u);
    EXPECT_EQ(run.store.files[0]->lines[2]->line, 20u);
}

TEST_F(Normalize, ACountLargerThanTheRecordsIsFatal) {
    uint32_t a = add_file(run, "a.c");
    add_symbol(run, "s", 1, 0, a, 0);
    run.store.files[0]->symbol_count = 2;
    int status = 0;
    capture_stderr([&] { normalize_store(run); }, &status);
    EXPECT_EQ(status, 1);
    start_without_messages(run);
    a = add_file(run, "a.c");
    add_line(run, 1, 1, 0, a, 2);
    run.store.files[0]->line_count = 3;
    std::string err = capture_stderr([&] { normalize_store(run); }, &status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(err.find("(607)"), std::string::npos);
}

TEST_F(Normalize, AdjacentBlocksOfASegmentJoin) {
    add_segment(run, "code", 0x100, 0x100, 0x100, 0);
    block(0x110, 8, 0, 2);
    block(0x100, 0x10, 0, 1);
    block(0x119, 4, 0, 3);
    normalize();
    ASSERT_EQ(run.store.data.count(), 2u);
    const DataBlock* joined = run.store.data[0];
    EXPECT_EQ(joined->address, 0x100u);
    EXPECT_EQ(joined->size, 0x18u);
    EXPECT_EQ(joined->segment, 1u);
    ASSERT_EQ(joined->bytes.size(), 0x18u);
    EXPECT_EQ(joined->bytes[0xF], 1);
    EXPECT_EQ(joined->bytes[0x10], 2);
    EXPECT_EQ(run.store.data[1]->address, 0x119u);
}

TEST_F(Normalize, UnassignedBlocksSortFirstAndMergeAmongThemselves) {
    add_segment(run, "seg", 0x1000, 0x10, 0x1000, 0);
    block(0x1000, 0x10);
    block(0x20, 0x10);
    block(0x10, 0x10);
    block(0x30, 0x10, 0);
    normalize();
    ASSERT_EQ(run.store.data.count(), 2u);
    EXPECT_EQ(run.store.data[0]->segment, 0u);
    EXPECT_EQ(run.store.data[0]->address, 0x10u);
    EXPECT_EQ(run.store.data[0]->size, 0x30u);
    EXPECT_EQ(run.store.data[1]->segment, 1u);
    // A block that ends at 4 GiB lies in no segment that ends below it, however the end
    // wraps in 32 bits (an empty segment at 0 included).
    start_without_messages(run);
    add_segment(run, "empty", 0, 0, 0, 0);
    block(0xFFFFFFFE, 2);
    normalize();
    EXPECT_EQ(run.store.data[0]->segment, 0u);
}

TEST_F(Normalize, SegmentsWidenToTheirFirstBlock) {
    add_segment(run, "low", 0x200, 0x10, 0x200, 0);
    add_segment(run, "inside", 0x400, 0x100, 0x400, 0);
    block(0x1F0, 0x40, 1);
    block(0x410, 0x10, 2);
    normalize();
    const SegmentRecord* low = run.store.segments[0];
    EXPECT_EQ(low->load_address, 0x1F0u);
    EXPECT_EQ(low->address, 0x1F0u);
    EXPECT_EQ(low->size, 0x40u);
    EXPECT_EQ(run.store.segments[1]->size, 0x100u);
    // The run address moves with the load address.
    start_without_messages(run);
    add_segment(run, "rom", 0x8000, 0x10, 0x200, 0);
    block(0x1F0, 0x20, 1);
    normalize();
    EXPECT_EQ(run.store.segments[0]->load_address, 0x1F0u);
    EXPECT_EQ(run.store.segments[0]->address, 0x7FF0u);
    EXPECT_EQ(run.store.segments[0]->size, 0x20u);
}

TEST_F(Normalize, SummaryAtLevelTwo) {
    run.options.verbose_level = 2;
    uint32_t f = add_file(run, "main.c");
    add_segment(run, "text", 0x100, 0x20, 0x180, 0);
    add_symbol(run, "x", 0x12, 1, f, 0);
    add_symbol(run, "y", 0x13, 9, f, 0);
    add_line(run, 5, 0x100, 1, f, 2);
    add_line(run, 7, 0x104, 0, f, 2);
    block(0x180, 4, 0);
    block(0x900, 2, 0);
    EXPECT_EQ(normalize(), "\nFiles: 1, syms: 2, lines: 2\n"
                           "\nFile: main.c\nSymbols: 2\n"
                           "\ttext 12       x\n"
                           "\t     13       y\n"
                           "Lines: 2\n"
                           "\t00005: 100-103 text\n"
                           "\t00007: 104-104 \n"
                           "\nData blocks: 2, total size 6\n"
                           "\t900-901 seg -1\n"
                           "\t180-183 text\n"
                           "\nSegments: 1\n\ttext 100-11F Load@180\n\n");
}

} // namespace
