// The symbol store: files, symbols, indexes, segments.
#include "common/options.h"
#include "model/store.h"
#include "test_support.h"

namespace {

class StoreTest : public testing::Test {
  protected:
    void SetUp() override { reset_run_state(); }
    void TearDown() override { reset_run_state(); }
};

// File names match without case and keep their first form; -e cuts at the last dot.
TEST_F(StoreTest, FileNames) {
    EXPECT_EQ(add_file("Main.C"), 1u);
    EXPECT_EQ(add_file("main.c"), 1u);
    EXPECT_EQ(add_file("other.c"), 2u);
    EXPECT_EQ(store.files[0]->name, "Main.C");
    EXPECT_EQ(find_file("MAIN.c"), store.files[0]);
    EXPECT_EQ(find_file(nullptr), nullptr);
    EXPECT_EQ(find_file("absent.c"), nullptr);
    options.strip_extensions = true;
    EXPECT_EQ(add_file("a.b.c"), 3u);
    EXPECT_EQ(store.files[2]->name, "a.b");
    EXPECT_EQ(find_file("a.b.x"), store.files[2]);
    EXPECT_EQ(add_file("A.B.obj"), 3u);
    EXPECT_EQ(add_file("noext"), 4u);
}

// The first symbol of a name or a value wins; "_main" and "main" stay apart; file 0
// counts towards no file.
TEST_F(StoreTest, SymbolsAndLines) {
    uint32_t f = add_file("m.c");
    add_symbol("x", 0x10, 0, f, 0);
    add_symbol("x", 0x20, 0, f, 0);
    add_symbol("y", 0x10, 0, 0, 0);
    add_symbol("_main", 1, 0, 0, 0);
    add_symbol("main", 2, 0, 0, 0);
    EXPECT_EQ(find_symbol("x")->value, 0x10u);
    EXPECT_EQ(find_symbol_by_value(0x10)->name, "x");
    EXPECT_EQ(find_symbol("main")->value, 2u);
    EXPECT_EQ(find_symbol("_main")->value, 1u);
    EXPECT_EQ(store.files[0]->symbol_count, 2u);
    ValuePair pair;
    EXPECT_TRUE(lookup_symbol("y", &pair));
    EXPECT_EQ(pair.value, 0x10u);
    EXPECT_FALSE(lookup_symbol("z", &pair));
    add_line(10, 0x100, 0, f, 2);
    add_line(11, 0x104, 0, 0, 2);
    EXPECT_EQ(store.files[0]->line_count, 1u);
    EXPECT_EQ(store.lines[0]->end_address, 0u);
    // File symbols are found through the normalised per-file tables only.
    EXPECT_EQ(find_file_symbol("m.c", "x"), nullptr);
    store.files[0]->symbols.push_back(store.symbols[0]);
    EXPECT_TRUE(lookup_file_symbol("M.C", "x", &pair));
    EXPECT_FALSE(lookup_file_symbol("m.c", "X", &pair));
    std::string name = "idata"; // bounds and data are owned copies
    add_bounds(name.c_str(), 1, 2, 0);
    name = "xxxxx";
    EXPECT_EQ(find_bounds("idata")->high, 2u);
    uint8_t bytes[3] = {1, 2, 3};
    add_data(0x10, 3, bytes, 0);
    bytes[0] = 9;
    EXPECT_EQ(store.data[0]->bytes[0], 1);
}

TEST_F(StoreTest, SegmentsByNameNumberAndAddress) {
    add_segment("code", 0x100, 0x100, 0x100, 1);
    add_segment("code", 0x800, 0x10, 0x800, 1);
    add_segment("empty", 0x300, 0, 0x300, 1);
    add_segment("data", 0x100, 0x40, 0x100, 2);
    EXPECT_EQ(find_segment("code"), store.segments[0]);
    EXPECT_EQ(find_segment("CODE"), nullptr);
    EXPECT_EQ(segment_of(0), nullptr);
    EXPECT_EQ(segment_of(5), nullptr);
    EXPECT_STREQ(segment_name(5), "");
    EXPECT_STREQ(segment_name(4), "data");
    EXPECT_EQ(segment_of_address({0x120, 1}, 1), 1u);
    EXPECT_EQ(segment_of_address({0x120, 2}, 1), 4u);
    EXPECT_EQ(segment_of_address({0x404, 1}, 2), 2u); // scaled into the second segment
    EXPECT_EQ(segment_of_address({0x300, 1}, 1), 1u); // size 0 never matches
    EXPECT_EQ(segment_of_address({0x9000, 7}, 1), 7u);
}

} // namespace
