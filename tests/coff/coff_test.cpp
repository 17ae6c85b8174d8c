// COFF family: the documented field positions, type words and the target table, which the
// command line cannot reach one by one. The codecs, reading, writing and dumps are
// compared whole by the cases in coff/cases.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/alert.h"
#include "driver/run.h"
#include "formats/coff/coff_internal.h"
#include "formats/descriptors.h"
#include "model/encdec.h"
#include "model/store.h"

namespace {

using Bytes = std::vector<uint8_t>;

class Coff : public ::testing::Test {
  protected:
    ::Run run;
};

// ---- Type words and targets ----

TEST_F(Coff, DerivedTypesAreAddedOutsideTheOnesThere) {
    uint32_t array_of_int = add_derived_type(BASE_INT, DERIVED_ARRAY, coff_type_words);
    EXPECT_EQ(array_of_int, 0x34u);
    // A pointer to an array of int: the pointer is outermost.
    uint32_t pointer = add_derived_type(array_of_int, DERIVED_POINTER, coff_type_words);
    EXPECT_EQ(pointer, 0xD4u);
    EXPECT_EQ(type_derived(pointer, 0, coff_type_words), DERIVED_POINTER);
    EXPECT_EQ(type_derived(pointer, 1, coff_type_words), DERIVED_ARRAY);
    EXPECT_EQ(type_base(pointer, coff_type_words), BASE_INT);
    // Microchip words: five base bits, three-bit derived fields.
    uint32_t m = add_derived_type(BASE_SHORT_LONG, DERIVED_FUNCTION, microchip_type_words);
    EXPECT_EQ(m, 0x51u);
    EXPECT_EQ(add_derived_type(m, DERIVED_POINTER, microchip_type_words), 0x231u);
}

TEST_F(Coff, TypeWordSizeIsThePointerSizeForPointers) {
    const CoffTarget& h8 = coff_targets[find_coff_target_by_name("H8/300")];
    EXPECT_EQ(type_word_size(BASE_INT, coff_type_words, h8.sizes, h8.pointer_size), 2u);
    EXPECT_EQ(type_word_size(0x14, coff_type_words, h8.sizes, h8.pointer_size), 2u);
    const CoffTarget& m68k = coff_targets[find_coff_target_by_name("68K")];
    EXPECT_EQ(type_word_size(BASE_INT, coff_type_words, m68k.sizes, m68k.pointer_size), 4u);
    EXPECT_EQ(type_word_size(0x12, coff_type_words, m68k.sizes, m68k.pointer_size), 4u);
    EXPECT_EQ(type_word_size(BASE_FLOAT, coff_type_words,
                             coff_targets[find_coff_target_by_name("PIC12")].sizes, 1),
              3u);
    EXPECT_EQ(type_word_size(BASE_USHORT_LONG, microchip_type_words, microchip_type_sizes, 2), 3u);
}

// A magic or a name shared by several targets finds the first; a name matches inside a
// target's name whatever its case, and a longer name is not taken for a shorter one.
TEST_F(Coff, TargetsByMagicAndByName) {
    auto name = [](unsigned row) { return std::string(row ? coff_targets[row].name : ""); };
    EXPECT_EQ(name(find_coff_target_by_magic(0x3612)), "PIC30");
    EXPECT_EQ(name(find_coff_target_by_magic(0x3412)), "PIC12");
    EXPECT_EQ(name(find_coff_target_by_magic(0x4012)), "");
    EXPECT_EQ(name(find_coff_target_by_name("h8/300")), "Hitachi H8/300");
    EXPECT_EQ(name(find_coff_target_by_name("H8/300H")), "Hitachi H8/300H");
    EXPECT_EQ(name(find_coff_target_by_name("Z80")), "");
}

} // namespace
