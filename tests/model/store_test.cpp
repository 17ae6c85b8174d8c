// The symbol store: files, symbols, indexes, segments.
#include "common/options.h"
#include "model/store.h"
#include "test_support.h"

namespace {

class StoreTest : public testing::Test {
  protected:
    ::Run run;
};

// File names match without case and keep their first form; -e cuts at the last dot.
TEST_F(StoreTest, FileNames) {
    EXPECT_EQ(add_file(run, "Main.C"), 1u);
    EXPECT_EQ(add_file(run, "main.c"), 1u);
    EXPECT_EQ(add_file(run, "other.c"), 2u);
    EXPECT_EQ(run.store.files[0]->name, "Main.C");
    EXPECT_EQ(find_file(run, "MAIN.c"), run.store.files[0]);
    EXPECT_EQ(find_file(run, nullptr), nullptr);
    EXPECT_EQ(find_file(run, "absent.c"), nullptr);
    run.options.strip_extensions = true;
    EXPECT_EQ(add_file(run, "a.b.c"), 3u);
    EXPECT_EQ(run.store.files[2]->name, "a.b");
    EXPECT_EQ(find_file(run, "a.b.x"), run.store.files[2]);
    EXPECT_EQ(add_file(run, "A.B.obj"), 3u);
    EXPECT_EQ(add_file(run, "noext"), 4u);
}

// The first symbol of a name or a value wins; "_main" and "main" stay apart; file 0
// counts towards no file.
TEST_F(StoreTest, SymbolsAndLines) {
    uint32_t f = add_file(run, "m.c");
    add_symbol(run, "x", 0x10, 0, f, 0);
    add_symbol(run, "x", 0x20, 0, f, 0);
    add_symbol(run, "y", 0x10, 0, 0, 0);
    add_symbol(run, "_main", 1, 0, 0, 0);
    add_symbol(run, "main", 2, 0, 0, 0);
    EXPECT_EQ(find_symbol(run, "x")->value, 0x10u);
    EXPECT_EQ(find_symbol_by_value(run, 0x10)->name, "x");
    EXPECT_EQ(find_symbol(run, "main")->value, 2u);
    EXPECT_EQ(find_symbol(run, "_main")->value, 1u);
    EXPECT_EQ(run.store.files[0]->symbol_count, 2u);
    ValuePair pair;
    EXPECT_TRUE(lookup_symbol(run, "y", &pair));
    EXPECT_EQ(pair.value, 0x10u);
    EXPECT_FALSE(lookup_symbol(run, "z", &pair));
    add_line(run, 10, 0x100, 0, f, 2);
    add_line(run, 11, 0x104, 0, 0, 2);
    EXPECT_EQ(run.store.files[0]->line_count, 1u);
    EXPECT_EQ(run.store.lines[0]->end_address, 0u);
    // File symbols are found through the normalised per-file tables only.
    EXPECT_EQ(find_file_symbol(run, "m.c", "x"), nullptr);
    run.store.files[0]->symbols.push_back(run.store.symbols[0]);
    EXPECT_TRUE(lookup_file_symbol(run, "M.C", "x", &pair));
    EXPECT_FALSE(lookup_file_symbol(run, "m.c", "X", &pair));
    std::string name = "idata"; // bounds and data are owned copies
    add_bounds(run, name.c_str(), 1, 2, 0);
    name = "xxxxx";
    EXPECT_EQ(find_bounds(run, "idata")->high, 2u);
    uint8_t bytes[3] = {1, 2, 3};
    add_data(run, 0x10, 3, bytes, 0);
    bytes[0] = 9;
    EXPECT_EQ(run.store.data[0]->bytes[0], 1);
}

TEST_F(StoreTest, SegmentsByNameNumberAndAddress) {
    add_segment(run, "code", 0x100, 0x100, 0x100, 1);
    add_segment(run, "code", 0x800, 0x10, 0x800, 1);
    add_segment(run, "empty", 0x300, 0, 0x300, 1);
    add_segment(run, "data", 0x100, 0x40, 0x100, 2);
    EXPECT_EQ(find_segment(run, "code"), run.store.segments[0]);
    EXPECT_EQ(find_segment(run, "CODE"), nullptr);
    EXPECT_EQ(segment_of(run, 0), nullptr);
    EXPECT_EQ(segment_of(run, 5), nullptr);
    EXPECT_STREQ(segment_name(run, 5), "");
    EXPECT_STREQ(segment_name(run, 4), "data");
    EXPECT_EQ(segment_of_address(run, {0x120, 1}, 1), 1u);
    EXPECT_EQ(segment_of_address(run, {0x120, 2}, 1), 4u);
    EXPECT_EQ(segment_of_address(run, {0x404, 1}, 2), 2u); // scaled into the second segment
    EXPECT_EQ(segment_of_address(run, {0x300, 1}, 1), 1u); // size 0 never matches
    EXPECT_EQ(segment_of_address(run, {0x9000, 7}, 1), 7u);
}

} // namespace
