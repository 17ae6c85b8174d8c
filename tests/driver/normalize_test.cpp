// Normalisation: line ranges, per-file tables, data blocks, segments, the summary (level 1
// is in most cases with -v).
#include "common/options.h"
#include "driver/normalize.h"
#include "model/store.h"
#include "test_support.h"

namespace {

class Normalize : public testing::Test {
  protected:
    void SetUp() override { reset_without_messages(); }
    void TearDown() override { reset_run_state(); }

    static void block(uint32_t address, uint32_t size, uint32_t segment = 0, uint8_t fill = 0) {
        std::vector<uint8_t> bytes(size, fill);
        add_data(address, size, bytes.data(), segment);
    }
    static std::string run() {
        return capture_stderr([] { normalize_store(); });
    }
};

TEST_F(Normalize, LineEndsReachTheNextAddress) {
    uint32_t f = add_file("m.c");
    add_line(1, 0x10, 0, f, 2);
    add_line(2, 0x10, 0, f, 2);
    add_line(3, 0x18, 0, f, 2);
    run();
    EXPECT_EQ(store.lines[0]->end_address, 0x10u);
    EXPECT_EQ(store.lines[1]->end_address, 0x17u);
    EXPECT_EQ(store.lines[2]->end_address, 0x18u);
}

TEST_F(Normalize, FileTablesKeepStoreOrderAndSortLines) {
    uint32_t a = add_file("a.c");
    uint32_t b = add_file("b.c");
    add_symbol("s1", 1, 0, b, 0);
    add_symbol("s2", 2, 0, a, 0);
    add_symbol("s3", 3, 0, b, 0);
    add_line(20, 0x20, 0, a, 2);
    add_line(10, 0x30, 0, a, 2);
    add_line(10, 0x28, 0, a, 2);
    run();
    ASSERT_EQ(store.files[1]->symbols.size(), 2u);
    EXPECT_EQ(store.files[1]->symbols[0]->name, "s1");
    EXPECT_EQ(store.files[1]->symbols[1]->name, "s3");
    ASSERT_EQ(store.files[0]->lines.size(), 3u);
    EXPECT_EQ(store.files[0]->lines[0]->address, 0x28u);
    EXPECT_EQ(store.files[0]->lines[1]->address, 0x30u);
    EXPECT_EQ(store.files[0]->lines[2]->line, 20u);
}

TEST_F(Normalize, ACountLargerThanTheRecordsIsFatal) {
    uint32_t a = add_file("a.c");
    add_symbol("s", 1, 0, a, 0);
    store.files[0]->symbol_count = 2;
    int status = 0;
    capture_stderr([] { normalize_store(); }, &status);
    EXPECT_EQ(status, 1);
    reset_without_messages();
    a = add_file("a.c");
    add_line(1, 1, 0, a, 2);
    store.files[0]->line_count = 3;
    std::string err = capture_stderr([] { normalize_store(); }, &status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(err.find("(607)"), std::string::npos);
}

TEST_F(Normalize, AdjacentBlocksOfASegmentJoin) {
    add_segment("code", 0x100, 0x100, 0x100, 0);
    block(0x110, 8, 0, 2);
    block(0x100, 0x10, 0, 1);
    block(0x119, 4, 0, 3);
    run();
    ASSERT_EQ(store.data.count(), 2u);
    const DataBlock* joined = store.data[0];
    EXPECT_EQ(joined->address, 0x100u);
    EXPECT_EQ(joined->size, 0x18u);
    EXPECT_EQ(joined->segment, 1u);
    ASSERT_EQ(joined->bytes.size(), 0x18u);
    EXPECT_EQ(joined->bytes[0xF], 1);
    EXPECT_EQ(joined->bytes[0x10], 2);
    EXPECT_EQ(store.data[1]->address, 0x119u);
}

TEST_F(Normalize, UnassignedBlocksSortFirstAndMergeAmongThemselves) {
    add_segment("seg", 0x1000, 0x10, 0x1000, 0);
    block(0x1000, 0x10);
    block(0x20, 0x10);
    block(0x10, 0x10);
    block(0x30, 0x10, 0);
    run();
    ASSERT_EQ(store.data.count(), 2u);
    EXPECT_EQ(store.data[0]->segment, 0u);
    EXPECT_EQ(store.data[0]->address, 0x10u);
    EXPECT_EQ(store.data[0]->size, 0x30u);
    EXPECT_EQ(store.data[1]->segment, 1u);
    // A block that ends at 4 GiB lies in no segment that ends below it, however the end
    // wraps in 32 bits (an empty segment at 0 included).
    reset_without_messages();
    add_segment("empty", 0, 0, 0, 0);
    block(0xFFFFFFFE, 2);
    run();
    EXPECT_EQ(store.data[0]->segment, 0u);
}

TEST_F(Normalize, SegmentsWidenToTheirFirstBlock) {
    add_segment("low", 0x200, 0x10, 0x200, 0);
    add_segment("inside", 0x400, 0x100, 0x400, 0);
    block(0x1F0, 0x40, 1);
    block(0x410, 0x10, 2);
    run();
    const SegmentRecord* low = store.segments[0];
    EXPECT_EQ(low->load_address, 0x1F0u);
    EXPECT_EQ(low->address, 0x1F0u);
    EXPECT_EQ(low->size, 0x40u);
    EXPECT_EQ(store.segments[1]->size, 0x100u);
    // The run address moves with the load address.
    reset_without_messages();
    add_segment("rom", 0x8000, 0x10, 0x200, 0);
    block(0x1F0, 0x20, 1);
    run();
    EXPECT_EQ(store.segments[0]->load_address, 0x1F0u);
    EXPECT_EQ(store.segments[0]->address, 0x7FF0u);
    EXPECT_EQ(store.segments[0]->size, 0x20u);
}

TEST_F(Normalize, SummaryAtLevelTwo) {
    options.verbose_level = 2;
    uint32_t f = add_file("main.c");
    add_segment("text", 0x100, 0x20, 0x180, 0);
    add_symbol("x", 0x12, 1, f, 0);
    add_symbol("y", 0x13, 9, f, 0);
    add_line(5, 0x100, 1, f, 2);
    add_line(7, 0x104, 0, f, 2);
    block(0x180, 4, 0);
    block(0x900, 2, 0);
    EXPECT_EQ(run(), "\nFiles: 1, syms: 2, lines: 2\n"
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
