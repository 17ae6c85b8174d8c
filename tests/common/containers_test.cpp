// Vector, HashTable, sort_items and hex_dump.
#include <gtest/gtest.h>

#include <string>

#include "common/format.h"
#include "common/hash.h"
#include "common/sort.h"
#include "common/vector.h"
#include "test_support.h"

namespace {

TEST(Vector, CursorSetAndRemove) {
    Vector<int> v(2);
    for (int k = 0; k < 6; ++k)
        v.append(k * 10);
    EXPECT_EQ(v.get(6), 0); // past the end: the null element
    EXPECT_EQ(v.first(), 0);
    EXPECT_EQ(v.next(), 10);
    EXPECT_EQ(v.next(), 20); // cursor at 3
    Vector<int> copy = v;    // keeps the cursor
    EXPECT_EQ(copy.next(), 30);
    EXPECT_EQ(copy.current(), 40);
    EXPECT_TRUE(v.remove_at(0)); // before the cursor: the next element stays 30
    EXPECT_EQ(v.next(), 30);
    EXPECT_FALSE(v.remove_at(10));
    EXPECT_EQ(v.index_of(50), 4);
    EXPECT_EQ(v.index_of(0), -1);
    EXPECT_EQ(v.next(), 40);
    EXPECT_EQ(v.next(), 50);
    EXPECT_FALSE(v.has_next());
    EXPECT_EQ(v.next(), 0);
    EXPECT_EQ(v.cursor, 5u);
    Vector<const char*> padded(2);
    padded.set("x", 5);
    ASSERT_EQ(padded.count(), 6u);
    EXPECT_EQ(padded.get(4), nullptr);
    EXPECT_STREQ(padded.get(5), "x");
}

TEST(HashTable, FirstInsertWinsAndCollidingKeysStayDistinct) {
    struct Mod123 {
        size_t operator()(uint32_t k) const { return k % 123; }
    };
    HashTable<uint32_t, const char*, Mod123> table;
    EXPECT_TRUE(table.insert(5, "five"));
    EXPECT_FALSE(table.insert(5, "again"));
    table.insert(128, "one hundred twenty-eight");
    EXPECT_STREQ(*table.find(5), "five");
    EXPECT_STREQ(*table.find(128), "one hundred twenty-eight");
    EXPECT_EQ(table.find(251), nullptr);
    EXPECT_EQ(table.count(), 2u);
    int visited = 0;
    EXPECT_EQ(table.foreach ([&](uint32_t, const char*) { return ++visited == 2 ? 7 : 0; }), 7);
    EXPECT_EQ(table.keys(), (std::vector<uint32_t>{5, 128}));
}

struct Keyed {
    int key;
    char tag;
};

std::string sorted_tags(std::vector<Keyed> v) {
    sort_items(v, [](const Keyed& a, const Keyed& b) { return a.key - b.key; });
    std::string out;
    for (const Keyed& k : v)
        out += std::to_string(k.key) + k.tag;
    return out;
}

// The order of equal elements follows the quicksort's steps, not the input order.
TEST(SortItems, EqualElementsEndInTheSpecifiedOrder) {
    // Pivot b: i stops at a, j at c; they swap; i and j meet at b, which swaps with itself.
    EXPECT_EQ(sorted_tags({{1, 'a'}, {1, 'b'}, {1, 'c'}}), "1c1b1a");
    EXPECT_EQ(sorted_tags({{2, 'a'}, {1, 'b'}, {2, 'c'}, {1, 'd'}}), "1d1b2a2c");
    EXPECT_EQ(sorted_tags({{5, 'x'}}), "5x");
    std::vector<Keyed> many;
    uint32_t seed = 12345;
    for (int k = 0; k < 100000; ++k) {
        seed = seed * 1103515245 + 12345;
        many.push_back({static_cast<int>((seed >> 8) % 1000), 'q'});
    }
    sort_items(many, [](const Keyed& a, const Keyed& b) { return a.key - b.key; });
    for (size_t k = 1; k < many.size(); ++k)
        ASSERT_LE(many[k - 1].key, many[k].key);
}

std::string dumped(unsigned long address, unsigned per_line, size_t count, bool text) {
    const uint8_t data[] = {'A', 'b', 0x00, ' ', 0x7F, '~', 0xFF};
    return written_text(
        [&](FILE* out) { hex_dump(out, address, per_line, data, count, "%04lX:", text); });
}

// Addresses are 32 bits wide, as on the 32-bit program, whatever the width of long.
TEST(HexDump, AddressBytesAndTextColumn) {
    EXPECT_EQ(dumped(0x1FE, 4, 7, true), "01FE: 41 62 00 20 Ab. \n"
                                         "0202: 7F 7E FF    .~.\n");
    EXPECT_EQ(dumped(0x1FE, 16, 3, false), "01FE: 41 62 00\n");
    EXPECT_EQ(dumped(0x1FE, 16, 0, true), "");
    EXPECT_EQ(dumped(0xFFFFFFFCul, 4, 6, false), "FFFFFFFC: 41 62 00 20\n"
                                                 "0000: 7F 7E\n");
}

} // namespace
