// COFF family: record layouts, type words and the target table, which the command line
// cannot reach one by one; .COD detection. Reading and dumps are checked by the cases in
// coff/cases.
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
    void SetUp() override { reset_run_state(); }
    int detect(const FormatDescriptor& f, const Bytes& b) {
        FILE* in = fmemopen(const_cast<uint8_t*>(b.data()), b.size(), "rb");
        int result = f.detect(in) ? 1 : 0;
        fclose(in);
        return result;
    }
};

// ---- Layouts ----

TEST_F(Coff, FileHeaderKeepsTheMagicMostSignificantFirstInBothOrders) {
    CoffFileHeader h;
    h.magic = 0x3412;
    h.nscns = 2;
    h.timdat = 0x01020304;
    h.symptr = 0x100;
    h.nsyms = 7;
    h.opthdr = 28;
    h.flags = 0x0103;
    uint8_t raw[COFF_FILE_HEADER_SIZE];
    EXPECT_EQ(encode(raw, h, ByteOrder::little), raw + COFF_FILE_HEADER_SIZE);
    const uint8_t little[] = {0x34, 0x12, 2, 0, 4, 3, 2, 1, 0, 1, 0, 0, 7, 0, 0, 0, 28, 0, 3, 1};
    EXPECT_EQ(0, memcmp(raw, little, sizeof little));
    encode(raw, h, ByteOrder::big);
    const uint8_t big[] = {0x34, 0x12, 0, 2, 1, 2, 3, 4, 0, 0, 1, 0, 0, 0, 0, 7, 0, 28, 1, 3};
    EXPECT_EQ(0, memcmp(raw, big, sizeof big));
    CoffFileHeader back = decode<CoffFileHeader>(raw, ByteOrder::big);
    EXPECT_EQ(back.magic, 0x3412);
    EXPECT_EQ(back.timdat, 0x01020304u);
    EXPECT_EQ(back.flags, 0x0103);
}

// The documented positions of the fields the readers, writers and dumps rely on.
TEST_F(Coff, RecordLayoutsPlaceTheirFieldsWhereTheFormatHasThem) {
    auto places = [](const std::vector<FieldPlace>& fields) {
        std::string text;
        for (const FieldPlace& f : fields) {
            text += std::string(f.name) + "@" + std::to_string(f.offset) + "/" +
                    std::to_string(f.width);
            if (f.count > 1) text += "x" + std::to_string(f.count);
            text += " ";
        }
        return text;
    };
    EXPECT_EQ(places(field_places<CoffSymbol>(COFF_TYPE_WIDTH)),
              "name@0/1x8 value@8/4 scnum@12/2 type@14/2 sclass@16/1 numaux@17/1 ");
    EXPECT_EQ(places(field_places<CoffSymbol>(MCOFF_TYPE_WIDTH)),
              "name@0/1x8 value@8/4 scnum@12/2 type@14/4 sclass@18/1 numaux@19/1 ");
    EXPECT_EQ(places(field_places<CoffAux>()), "tag_index@0/4 line@4/2 size@6/2 dimensions@8/2x4 ");
    EXPECT_EQ(places(field_places<CoffAuxLinks>()),
              "tag_index@0/4 line@4/2 size@6/2 line_pointer@8/4 next_index@12/4 ");
    EXPECT_EQ(places(field_places<MicrochipLine>()),
              "srcndx@0/4 lnno@4/2 paddr@6/4 flags@10/2 fcnndx@12/4 ");
    EXPECT_EQ(COFF_SECTION_HEADER_SIZE, 40u);
    EXPECT_EQ(COFF_AOUT_HEADER_SIZE, 28u);
    EXPECT_EQ(MCOFF_OPTIONAL_HEADER_SIZE, 18u);
    EXPECT_EQ(ICOFF_SYMBOL_SIZE, COFF_SYMBOL_SIZE);
}

TEST_F(Coff, SymbolEntriesOfBothWidths) {
    CoffSymbol s;
    set_name_field(s.name, "_main", 0, ByteOrder::big);
    s.value = 0x1234;
    s.scnum = -2;
    s.type = 0x24;
    s.sclass = CLASS_END_OF_FUNCTION;
    s.numaux = 1;
    uint8_t raw[MCOFF_SYMBOL_SIZE] = {};
    EXPECT_EQ(encode(raw, s, ByteOrder::big, COFF_TYPE_WIDTH), raw + COFF_SYMBOL_SIZE);
    const uint8_t coff[] = {'_', 'm',  'a',  'i',  'n',  0, 0,    0,    0,
                            0,   0x12, 0x34, 0xFF, 0xFE, 0, 0x24, 0xFF, 1};
    EXPECT_EQ(0, memcmp(raw, coff, sizeof coff));
    CoffSymbol back = decode<CoffSymbol>(raw, ByteOrder::big, COFF_TYPE_WIDTH);
    EXPECT_EQ(back.scnum, -2);
    EXPECT_EQ(back.sclass, -1);
    EXPECT_EQ(back.type, 0x24u);

    s.type = 0x00012345;
    EXPECT_EQ(encode(raw, s, ByteOrder::little, MCOFF_TYPE_WIDTH), raw + MCOFF_SYMBOL_SIZE);
    EXPECT_EQ(get32_le(raw + 14), 0x00012345u);
    EXPECT_EQ(raw[18], 0xFF);
    EXPECT_EQ(raw[19], 1);
    EXPECT_EQ(decode<CoffSymbol>(raw, ByteOrder::little, MCOFF_TYPE_WIDTH).type, 0x00012345u);
}

TEST_F(Coff, NameFieldsInPlaceOrByOffset) {
    uint8_t field[COFF_NAME_SIZE];
    set_name_field(field, "exactly8", 99, ByteOrder::big);
    uint32_t offset = 0;
    EXPECT_TRUE(name_in_place(field, ByteOrder::big, &offset));
    EXPECT_EQ(name_from_field(field, COFF_NAME_SIZE), "exactly8");
    set_name_field(field, "ninechars", 0x1C, ByteOrder::big);
    EXPECT_FALSE(name_in_place(field, ByteOrder::big, &offset));
    EXPECT_EQ(offset, 0x1Cu);
}

TEST_F(Coff, LineEntriesOfEachSize) {
    uint8_t raw[MCOFF_LINE_SIZE] = {};
    EXPECT_EQ(encode(raw, CoffLine{0x100, 0x12345}, ByteOrder::big, 2u), raw + 6);
    EXPECT_EQ(decode<CoffLine>(raw, ByteOrder::big, 2u).line, 0x2345u); // 2-byte line numbers
    encode(raw, CoffLine{0x100, 0x12345}, ByteOrder::big, 4u);
    EXPECT_EQ(get32_be(raw + 4), 0x12345u);
    EXPECT_EQ(decode<CoffLine>(raw, ByteOrder::big, 4u).line, 0x12345u);
    MicrochipLine m;
    m.srcndx = 3;
    m.lnno = 42;
    m.paddr = 0x200;
    m.fcnndx = 9;
    EXPECT_EQ(encode(raw, m, ByteOrder::little), raw + MCOFF_LINE_SIZE);
    EXPECT_EQ(get16_le(raw + 4), 42);
    EXPECT_EQ(get32_le(raw + 6), 0x200u);
    EXPECT_EQ(decode<MicrochipLine>(raw, ByteOrder::little).fcnndx, 9u);
}

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
    const CoffTarget& h8 = coff_targets[3];
    EXPECT_EQ(type_word_size(BASE_INT, coff_type_words, h8.sizes, h8.pointer_size), 2u);
    EXPECT_EQ(type_word_size(0x14, coff_type_words, h8.sizes, h8.pointer_size), 2u);
    const CoffTarget& m68k = coff_targets[1];
    EXPECT_EQ(type_word_size(BASE_INT, coff_type_words, m68k.sizes, m68k.pointer_size), 4u);
    EXPECT_EQ(type_word_size(0x12, coff_type_words, m68k.sizes, m68k.pointer_size), 4u);
    EXPECT_EQ(type_word_size(BASE_FLOAT, coff_type_words, coff_targets[8].sizes, 1), 3u);
    EXPECT_EQ(type_word_size(BASE_USHORT_LONG, microchip_type_words, microchip_type_sizes, 2), 3u);
}

TEST_F(Coff, TargetsByMagicAndByName) {
    EXPECT_EQ(find_coff_target_by_magic(0x3612), 6u); // PIC30 before PIC24
    EXPECT_EQ(find_coff_target_by_magic(0x3412), 8u); // PIC12 first of four
    EXPECT_EQ(find_coff_target_by_magic(0x4012), 0u);
    EXPECT_EQ(find_coff_target_by_name("PIC18"), 11u);
    EXPECT_EQ(find_coff_target_by_name("68K"), 1u);
    EXPECT_EQ(find_coff_target_by_name("h8/300"), 3u);
    EXPECT_EQ(find_coff_target_by_name("H8/300H"), 4u);
    EXPECT_EQ(find_coff_target_by_name("Z80"), 0u);
}

// ---- .COD detection ----

Bytes cod_directory(const char* date, uint8_t length) {
    Bytes block(512);
    block[320] = length;
    memcpy(block.data() + 321, date, strlen(date));
    return block;
}

TEST_F(Coff, CodDetectionLooksAtTheDate) {
    EXPECT_EQ(detect(cod_format, cod_directory("08Sep01", 7)), 1);
    EXPECT_EQ(detect(cod_format, cod_directory("08Sep01x", 8)), 0);
    EXPECT_EQ(detect(cod_format, cod_directory("0xSep01", 7)), 0);
    EXPECT_EQ(detect(cod_format, cod_directory("08S3p01", 7)), 0);
    // The length byte counts: a date without it is an empty text.
    EXPECT_EQ(detect(cod_format, cod_directory("08Sep01", 0)), 0);
    Bytes short_file = cod_directory("08Sep01", 7);
    short_file.resize(511);
    EXPECT_EQ(detect(cod_format, short_file), 0);
}

} // namespace
