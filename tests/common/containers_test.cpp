// Vector, HashTable and sort_items.
#include <gtest/gtest.h>

#include <string>

#include "common/hash.h"
#include "common/sort.h"
#include "common/vector.h"
#include "test_support.h"

namespace {

TEST(Vector, GetPastTheEndIsNullAndNextStopsAtTheEnd) {
    Vector<const char*> v(4);
    v.append("a");
    v.append("b");
    EXPECT_EQ(v.get(2), nullptr);
    EXPECT_STREQ(v.first(), "a");
    EXPECT_STREQ(v.next(), "b");
    EXPECT_EQ(v.next(), nullptr);
    EXPECT_EQ(v.cursor, 2u);
    EXPECT_FALSE(v.has_next());
}

TEST(Vector, SetPadsWithNulls) {
    Vector<const char*> v(2);
    v.set("x", 5);
    ASSERT_EQ(v.count(), 6u);
    for (uint32_t k = 0; k < 5; ++k)
        EXPECT_EQ(v.get(k), nullptr);
    EXPECT_STREQ(v.get(5), "x");
}

TEST(Vector, RemoveBeforeCursorKeepsTheNextElement) {
    Vector<int> v(2);
    for (int k = 0; k < 5; ++k)
        v.append(k);
    v.rewind();
    v.next();
    v.next(); // cursor at 2
    EXPECT_TRUE(v.remove_at(0));
    EXPECT_EQ(v.next(), 2);
    EXPECT_FALSE(v.remove_at(10));
    EXPECT_EQ(v.index_of(4), 3);
    EXPECT_EQ(v.index_of(0), -1);
}

TEST(Vector, CopyKeepsTheCursor) {
    Vector<int> v(2);
    for (int k = 0; k < 6; ++k)
        v.append(k * 10);
    v.rewind();
    for (int k = 0; k < 3; ++k)
        v.next();
    Vector<int> copy = v;
    EXPECT_EQ(copy.next(), 30);
    EXPECT_EQ(copy.current(), 40);
}

TEST(HashTable, FirstInsertWins) {
    HashTable<std::string, int> table;
    EXPECT_TRUE(table.insert("k", 1));
    EXPECT_FALSE(table.insert("k", 2));
    ASSERT_NE(table.find("k"), nullptr);
    EXPECT_EQ(*table.find("k"), 1);
    EXPECT_EQ(table.find("other"), nullptr);
    EXPECT_EQ(table.count(), 1u);
}

TEST(HashTable, CollidingKeysStayDistinct) {
    struct Mod123 {
        size_t operator()(uint32_t k) const { return k % 123; }
    };
    HashTable<uint32_t, const char*, Mod123> table;
    table.insert(5, "five");
    table.insert(128, "one hundred twenty-eight");
    EXPECT_STREQ(*table.find(5), "five");
    EXPECT_STREQ(*table.find(128), "one hundred twenty-eight");
    int visited = 0;
    EXPECT_EQ(table.foreach ([&](uint32_t, const char*) { return ++visited == 2 ? 7 : 0; }), 7);
    EXPECT_EQ(table.keys(), (std::vector<uint32_t>{5, 128}));
}

struct Keyed {
    int key;
    char tag;
};

int by_key(const Keyed& a, const Keyed& b) {
    return a.key - b.key;
}

std::string tags(const std::vector<Keyed>& v) {
    std::string out;
    for (const Keyed& k : v)
        out += k.tag;
    return out;
}

// The order of equal elements follows the quicksort's steps, not the input order.
TEST(SortItems, EqualElementsEndInTheSpecifiedOrder) {
    std::vector<Keyed> v = {{1, 'a'}, {1, 'b'}, {1, 'c'}};
    sort_items(v, by_key);
    // Pivot b: i stops at a, j at c; they swap; i and j meet at b, which swaps with itself.
    EXPECT_EQ(tags(v), "cba");

    std::vector<Keyed> w = {{2, 'a'}, {1, 'b'}, {2, 'c'}, {1, 'd'}};
    sort_items(w, by_key);
    EXPECT_EQ(w[0].key, 1);
    EXPECT_EQ(w[1].key, 1);
    EXPECT_EQ(tags(w), "dbac");
}

TEST(SortItems, SortsLargeInputsAndLeavesShortOnesAlone) {
    std::vector<Keyed> one = {{5, 'x'}};
    sort_items(one, by_key);
    EXPECT_EQ(one[0].tag, 'x');
    std::vector<Keyed> many;
    uint32_t seed = 12345;
    for (int k = 0; k < 100000; ++k) {
        seed = seed * 1103515245 + 12345;
        many.push_back({static_cast<int>((seed >> 8) % 1000), 'q'});
    }
    sort_items(many, by_key);
    for (size_t k = 1; k < many.size(); ++k)
        ASSERT_LE(many[k - 1].key, many[k].key);
}

} // namespace

#include "common/format.h"

namespace {

std::string dump_to_string(const uint8_t* data, size_t count, unsigned per_line, bool text) {
    return written_text(
        [&](FILE* out) { hex_dump(out, 0x1FE, per_line, data, count, "%04lX:", text); });
}

TEST(HexDump, AddressBytesAndTextColumn) {
    const uint8_t data[] = {'A', 'b', 0x00, ' ', 0x7F, '~', 0xFF};
    EXPECT_EQ(dump_to_string(data, 7, 4, true), "01FE: 41 62 00 20 Ab. \n"
                                                "0202: 7F 7E FF    .~.\n");
    EXPECT_EQ(dump_to_string(data, 3, 16, false), "01FE: 41 62 00\n");
    EXPECT_EQ(dump_to_string(data, 0, 16, true), "");
}

// Addresses are 32 bits wide, as on the 32-bit program, whatever the width of long.
TEST(HexDump, AddressWrapsAt32Bits) {
    const uint8_t data[6] = {};
    EXPECT_EQ(
        written_text([&](FILE* out) { hex_dump(out, 0xFFFFFFFCul, 4, data, 6, "%04lX:", false); }),
        "FFFFFFFC: 00 00 00 00\n"
        "0000: 00 00\n");
}

} // namespace
