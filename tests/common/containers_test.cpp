// Vector, HashTable, sort_items and hex_dump.
#include <gtest/gtest.h>

#include <string>

#include "common/format.h"
#include "common/hash.h"
#include "common/sort.h"
#include "common/vector.h"
#include "test_support.h"

namespace {

TEST(Vector, PastTheEndIsTheNullElement) {
    Vector<const char*> v(2);
    v.append("a");
    EXPECT_STREQ(v.get(0), "a");
    EXPECT_EQ(v.get(1), nullptr);
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
}

struct Keyed {
    int key;
};

// Every ordering of the outputs goes through sort_items: a large input ends in order.
// Where equal elements end up is seen in the outputs of the cases.
TEST(SortItems, SortsLargeInputs) {
    std::vector<Keyed> many;
    uint32_t seed = 12345;
    for (int k = 0; k < 100000; ++k) {
        seed = seed * 1103515245 + 12345;
        many.push_back({static_cast<int>((seed >> 8) % 1000)});
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
