// COFF family: record layouts, type words, target table, detection and the reader's
// rules, on files laid out in memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "common/alert.h"
#include "common/options.h"
#include "driver/run.h"
#include "formats/coff/coff_internal.h"
#include "formats/descriptors.h"
#include "model/encdec.h"
#include "model/store.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A COFF file laid out in memory: header, optional header, section headers, contents,
// line entries, symbols, string table. Symbols and auxiliary entries are raw entries.
struct TestCoff {
    struct Section {
        std::string name;
        uint32_t paddr = 0;
        uint32_t flags = COFF_SECTION_TEXT;
        Bytes contents;
        uint32_t size = 0; // for sections without contents
        std::vector<CoffLine> lines;
    };
    uint16_t magic = 0x0150;
    bool microchip = false;
    size_t line_size = 6;
    Bytes optional;
    std::vector<Section> sections;
    std::vector<Bytes> symbols;
    std::string strings;
    int32_t string_size_override = -1;

    size_t entry_size() const { return microchip ? MCOFF_SYMBOL_SIZE : COFF_SYMBOL_SIZE; }

    uint32_t symbol(const std::string& name, uint32_t value, int16_t scnum, int sclass,
                    std::vector<Bytes> aux = {}, uint32_t type = 0) {
        CoffSymbol s;
        uint32_t offset = 4 + uint32_t(strings.size());
        if (name.size() > COFF_NAME_SIZE) strings += name + '\0';
        set_name_field(s.name, name, offset, run_byte_order());
        s.value = value;
        s.scnum = scnum;
        s.type = type;
        s.sclass = static_cast<int8_t>(sclass);
        s.numaux = static_cast<uint8_t>(aux.size());
        Bytes raw(entry_size());
        encode(raw.data(), s, run_byte_order(), (microchip ? MCOFF_TYPE_WIDTH : COFF_TYPE_WIDTH));
        symbols.push_back(raw);
        for (Bytes& a : aux) {
            a.resize(entry_size());
            symbols.push_back(a);
        }
        return uint32_t(symbols.size() - 1 - aux.size());
    }

    Bytes build() const {
        size_t offset =
            COFF_FILE_HEADER_SIZE + optional.size() + COFF_SECTION_HEADER_SIZE * sections.size();
        std::vector<uint32_t> scnptr, lnnoptr;
        for (const Section& s : sections) {
            scnptr.push_back(s.contents.empty() ? 0 : uint32_t(offset));
            offset += s.contents.size();
        }
        for (const Section& s : sections) {
            lnnoptr.push_back(s.lines.empty() ? 0 : uint32_t(offset));
            offset += line_size * s.lines.size();
        }
        Bytes out(COFF_FILE_HEADER_SIZE);
        CoffFileHeader h;
        h.magic = magic;
        h.nscns = uint16_t(sections.size());
        h.symptr = uint32_t(offset);
        h.nsyms = uint32_t(symbols.size());
        h.opthdr = uint16_t(optional.size());
        encode(out.data(), h, run_byte_order());
        out.insert(out.end(), optional.begin(), optional.end());
        for (size_t k = 0; k < sections.size(); ++k) {
            const Section& s = sections[k];
            CoffSectionHeader sh;
            memcpy(sh.name, s.name.data(), std::min<size_t>(s.name.size(), COFF_NAME_SIZE));
            sh.paddr = sh.vaddr = s.paddr;
            sh.size = s.contents.empty() ? s.size : uint32_t(s.contents.size());
            sh.scnptr = scnptr[k];
            sh.lnnoptr = lnnoptr[k];
            sh.nlnno = uint16_t(s.lines.size());
            sh.flags = s.flags;
            uint8_t raw[COFF_SECTION_HEADER_SIZE];
            encode(raw, sh, run_byte_order());
            out.insert(out.end(), raw, raw + sizeof raw);
        }
        for (const Section& s : sections)
            out.insert(out.end(), s.contents.begin(), s.contents.end());
        for (const Section& s : sections)
            for (const CoffLine& line : s.lines) {
                uint8_t raw[MCOFF_LINE_SIZE] = {};
                if (microchip) {
                    MicrochipLine m;
                    m.lnno = uint16_t(line.line);
                    m.paddr = line.address;
                    encode(raw, m, run_byte_order());
                } else {
                    encode(raw, line, run_byte_order(), unsigned(line_size - 4));
                }
                out.insert(out.end(), raw, raw + line_size);
            }
        for (const Bytes& e : symbols)
            out.insert(out.end(), e.begin(), e.end());
        uint8_t size_field[4];
        put32(size_field, string_size_override >= 0 ? uint32_t(string_size_override)
                                                    : uint32_t(4 + strings.size()));
        out.insert(out.end(), size_field, size_field + 4);
        out.insert(out.end(), strings.begin(), strings.end());
        return out;
    }
};

Bytes aux_entry(uint32_t tag, uint16_t line, uint16_t size, uint32_t next = 0) {
    Bytes a(MCOFF_SYMBOL_SIZE);
    put32(a.data(), tag);
    put16(a.data() + 4, line);
    put16(a.data() + 6, size);
    put32(a.data() + 12, next);
    return a;
}

class Coff : public ::testing::Test {
  protected:
    void SetUp() override {
        reset_run_state();
        set_message_context("test");
    }

    // Runs an operation on the bytes and answers its result; messages are kept.
    template <typename Op> int run(const Bytes& bytes, Op op) {
        FILE* in = fmemopen(const_cast<uint8_t*>(bytes.data()), bytes.size(), "rb");
        testing::internal::CaptureStderr();
        testing::internal::CaptureStdout();
        int result = 0;
        try {
            result = op(in);
        } catch (const RunEnd&) {
            result = -1;
        }
        fflush(stdout);
        printed = testing::internal::GetCapturedStdout();
        messages = testing::internal::GetCapturedStderr();
        fclose(in);
        return result;
    }
    int detect(const FormatDescriptor& f, const Bytes& b) {
        return run(b, [&f](FILE* in) { return f.detect(in) ? 1 : 0; });
    }
    int read(const FormatDescriptor& f, const Bytes& b) {
        return run(b, [&f](FILE* in) { return f.read(in, "test"); });
    }
    bool said(unsigned number) const {
        return messages.find("(" + std::to_string(number) + ")") != std::string::npos;
    }

    std::string messages;
    std::string printed;
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

// ---- Detection ----

TEST_F(Coff, DetectionNeedsAKnownMagicAndPlausibleCounts) {
    TestCoff file;
    options.big_endian = true;
    Bytes good = file.build();
    EXPECT_EQ(detect(coff_format, good), 1);
    EXPECT_EQ(coff_state.target, 1u);

    EXPECT_EQ(detect(coff_format, Bytes(good.begin(), good.begin() + 19)), 0);
    Bytes unknown = good;
    unknown[0] = 0x99;
    EXPECT_EQ(detect(coff_format, unknown), 0);

    // Too many sections: refused, but the byte order of the magic's target stays set.
    coff_state.reset();
    TestCoff pic;
    pic.magic = 0x3412;
    options.big_endian = false;
    Bytes many = pic.build();
    put16_le(many.data() + 2, 1001);
    options.big_endian = true;
    EXPECT_EQ(detect(coff_format, many), 0);
    EXPECT_FALSE(options.big_endian);
    EXPECT_EQ(coff_state.target, 0u);

    Bytes negative = pic.build();
    put32_le(negative.data() + 12, 0x80000000u);
    EXPECT_EQ(detect(coff_format, negative), 0);
}

TEST_F(Coff, APicFileIsDetectedAsTheFirstPicRowLittleEndian) {
    TestCoff file;
    file.magic = 0x3412;
    file.line_size = 8;
    options.big_endian = false;
    TestCoff::Section text;
    text.name = ".text";
    text.paddr = 0x100;
    text.contents = {1, 2, 3, 4};
    file.sections.push_back(text);
    Bytes bytes = file.build();
    options.big_endian = true;
    ASSERT_EQ(detect(coff_format, bytes), 1);
    EXPECT_EQ(coff_state.target, 8u);
    EXPECT_STREQ(current_coff_target().name, "PIC12");
    EXPECT_FALSE(options.big_endian);
    ASSERT_EQ(read(coff_format, bytes), 1);
    // Code address unit 2: paddr 0x100 is byte address 0x200.
    ASSERT_EQ(store.segments.count(), 1u);
    EXPECT_EQ(store.segments[0]->address, 0x200u);
    EXPECT_EQ(store.segments[0]->load_address, 0x200u);
    EXPECT_EQ(store.segments[0]->size, 4u);
    ASSERT_EQ(store.data.count(), 1u);
    EXPECT_EQ(store.data[0]->address, 0x200u);
    EXPECT_EQ(store.data[0]->segment, 1u);
}

TEST_F(Coff, MicrochipAndGenericMagicsDoNotOverlap) {
    TestCoff file;
    file.magic = 0x3412;
    options.big_endian = false;
    Bytes bytes = file.build();
    EXPECT_EQ(detect(mcoff_format, bytes), 0);
    bytes[0] = 0x40;
    EXPECT_EQ(detect(mcoff_format, bytes), 1);
    EXPECT_EQ(detect(coff_format, bytes), 0);
}

// ---- Reading ----

TEST_F(Coff, SectionsBecomeSegmentsAndLargeContentsComeInPieces) {
    TestCoff file;
    options.big_endian = true;
    TestCoff::Section big;
    big.name = "longname9"; // only the first eight characters are a section name
    big.paddr = 0x1000;
    big.contents.resize(40000);
    for (size_t k = 0; k < big.contents.size(); ++k)
        big.contents[k] = uint8_t(k * 13);
    TestCoff::Section bss;
    bss.name = ".bss";
    bss.paddr = 0x9000;
    bss.flags = COFF_SECTION_BSS;
    bss.size = 0x40;
    file.sections = {big, bss};
    Bytes bytes = file.build();
    coff_state.target = 1;
    ASSERT_EQ(read(coff_format, bytes), 1) << messages;
    ASSERT_EQ(store.segments.count(), 2u);
    EXPECT_EQ(store.segments[0]->name, "longname");
    EXPECT_EQ(store.segments[0]->space, 0u);
    EXPECT_EQ(store.segments[1]->space, 1u);
    EXPECT_EQ(store.segments[1]->size, 0x40u);
    ASSERT_EQ(store.data.count(), 3u); // nothing for the bss section
    const uint32_t sizes[] = {16384, 16384, 7232};
    uint32_t address = 0x1000;
    for (uint32_t k = 0; k < 3; ++k) {
        EXPECT_EQ(store.data[k]->size, sizes[k]);
        EXPECT_EQ(store.data[k]->address, address);
        EXPECT_EQ(store.data[k]->bytes[0], uint8_t((address - 0x1000) * 13));
        address += sizes[k];
    }
}

TEST_F(Coff, SymbolsByStorageClass) {
    TestCoff file;
    options.big_endian = true;
    file.sections.push_back({".text", 0, COFF_SECTION_TEXT, {0, 0}, 0, {}});
    file.symbol("early", 1, 1, CLASS_STATIC);             // before any file
    file.symbol(".file", 0, -2, CLASS_FILE, {Bytes(18)}); // its own name is the file
    file.symbol("exactly8", 2, 1, CLASS_EXTERNAL);
    file.symbol("absolute", 3, -1, CLASS_LABEL);
    file.symbol("a_long_external", 4, 1, CLASS_EXTERNAL);
    file.symbol("tag", 0, -2, CLASS_STRUCT_TAG, {aux_entry(0, 0, 4)});
    file.symbol("reg", 0, -1, CLASS_REGISTER); // 633, reading goes on
    file.symbol("later", 5, 1, CLASS_STATIC);
    coff_state.target = 1;
    ASSERT_EQ(read(coff_format, file.build()), 1);
    EXPECT_TRUE(said(633));
    EXPECT_NE(messages.find("class 4"), std::string::npos);
    ASSERT_EQ(store.symbols.count(), 5u);
    EXPECT_EQ(store.symbols[0]->file, 0u);
    EXPECT_EQ(store.symbols[1]->name, "exactly8");
    EXPECT_EQ(store.symbols[1]->segment, 1u);
    EXPECT_EQ(store.symbols[1]->file, 1u);
    EXPECT_EQ(store.symbols[2]->segment, 0u); // absolute
    EXPECT_EQ(store.symbols[3]->name, "a_long_external");
    EXPECT_EQ(store.symbols[4]->name, "later");
    ASSERT_EQ(store.files.count(), 1u);
    EXPECT_EQ(store.files[0]->name, ".file");
}

TEST_F(Coff, AuxiliaryEntriesAreReadAsEntries) {
    // An auxiliary entry whose class byte is not 0 is taken for a symbol of its own.
    TestCoff file;
    options.big_endian = true;
    Bytes odd(18);
    memcpy(odd.data(), "oddaux", 6);
    odd[16] = CLASS_LABEL;
    file.symbol("f", 0, 1, CLASS_EXTERNAL, {odd});
    coff_state.target = 1;
    ASSERT_EQ(read(coff_format, file.build()), 1);
    ASSERT_EQ(store.symbols.count(), 2u);
    EXPECT_EQ(store.symbols[1]->name, "oddaux");
}

TEST_F(Coff, LineMarkersSelectFilesOnlyThroughFileEntries) {
    TestCoff file;
    options.big_endian = true;
    uint32_t first = file.symbol("a.c", 0, -2, CLASS_FILE, {Bytes(18)});
    uint32_t function = file.symbol("f", 0x10, 1, CLASS_EXTERNAL);
    uint32_t second = file.symbol("b.c", 0, -2, CLASS_FILE);
    TestCoff::Section text{".text", 0, COFF_SECTION_TEXT, Bytes(0x40), 0, {}};
    text.lines = {{0x00, 1},   {first, 0}, {0x10, 2}, {function, 0}, {0x14, 3},
                  {second, 0}, {0x20, 4},  {99, 0},   {0x24, 5}};
    TestCoff::Section other{".text2", 0x40, COFF_SECTION_TEXT, Bytes(4), 0, {{0x40, 6}}};
    file.sections = {text, other};
    coff_state.target = 1;
    ASSERT_EQ(read(coff_format, file.build()), 1) << messages;
    ASSERT_EQ(store.lines.count(), 6u);
    const uint32_t files[] = {0, 1, 1, 2, 2, 0}; // each section starts with no file
    for (uint32_t k = 0; k < 6; ++k) {
        EXPECT_EQ(store.lines[k]->file, files[k]) << "line " << k;
        EXPECT_EQ(store.lines[k]->line, k + 1);
        EXPECT_EQ(store.lines[k]->segment, 0u);
        EXPECT_EQ(store.lines[k]->kind, 0u);
    }
}

TEST_F(Coff, EightByteLineEntriesHaveFourByteLineNumbers) {
    TestCoff file;
    file.magic = 0x8300;
    file.line_size = 8;
    options.big_endian = true;
    TestCoff::Section text{".text", 0, COFF_SECTION_TEXT, Bytes(4), 0, {{0, 70000}}};
    file.sections = {text};
    ASSERT_EQ(read(coff_format, file.build()), 1); // target from the magic (as with -i)
    EXPECT_EQ(coff_state.target, 3u);
    ASSERT_EQ(store.lines.count(), 1u);
    EXPECT_EQ(store.lines[0]->line, 70000u);
}

TEST_F(Coff, DamagedCountsAndSizesFailWithTheirMessages) {
    TestCoff file;
    options.big_endian = true;
    file.sections.push_back({".text", 0, COFF_SECTION_TEXT, Bytes(8), 0, {{0, 1}}});
    file.symbol("a_long_name_here", 1, 1, CLASS_EXTERNAL);
    Bytes good = file.build();
    coff_state.target = 1;
    CoffFileHeader h = decode<CoffFileHeader>(good.data(), ByteOrder::big);
    size_t strtab = h.symptr + 18 * h.nsyms;

    Bytes small = good;
    put32_be(small.data() + strtab, 3);
    EXPECT_EQ(read(coff_format, small), 0);
    EXPECT_TRUE(said(1038));
    EXPECT_EQ(store.segments.count(), 0u); // nothing added before the string table

    Bytes huge = good;
    put32_be(huge.data() + strtab, 0xFFFFFFF0u);
    EXPECT_EQ(read(coff_format, huge), 0);
    EXPECT_NE(messages.find("COFF string table"), std::string::npos);

    Bytes many_symbols = good;
    put32_be(many_symbols.data() + 12, 0x7FFFFFFF);
    EXPECT_EQ(read(coff_format, many_symbols), 0);
    EXPECT_NE(messages.find("COFF string table size"), std::string::npos);

    Bytes many_lines = good;
    put16_be(many_lines.data() + 20 + 34, 0xFFFF);
    EXPECT_EQ(read(coff_format, many_lines), 0);
    EXPECT_NE(messages.find("COFF line number"), std::string::npos);

    Bytes bad_name = good;
    put32_be(bad_name.data() + h.symptr + 4, 200);
    EXPECT_EQ(read(coff_format, bad_name), 1);
    EXPECT_TRUE(said(626));

    // A name running to the end of the table without its terminator.
    Bytes unterminated = good;
    unterminated.back() = 'x';
    reset_run_state();
    coff_state.target = 1;
    options.big_endian = true;
    EXPECT_EQ(read(coff_format, unterminated), 1);
    EXPECT_TRUE(said(626));
    EXPECT_EQ(store.symbols.count(), 0u);
}

TEST_F(Coff, DumpOfAnEmptySymbolTable) {
    TestCoff file;
    options.big_endian = true;
    options.verbose_level = 1;
    ASSERT_EQ(run(file.build(), [](FILE* in) { return coff_format.dump(in) ? 1 : 0; }), 1);
    EXPECT_NE(printed.find("\nSymbol table:\n\n"), std::string::npos) << printed;
    EXPECT_NE(printed.find("0x150 (Motorola 68K)"), std::string::npos);
}

// ---- Microchip COFF ----

Bytes microchip_file(uint32_t rom_width, uint32_t version = MCOFF_OPTIONAL_VERSION,
                     size_t opthdr = MCOFF_OPTIONAL_HEADER_SIZE) {
    options.big_endian = false;
    TestCoff file;
    file.magic = MCOFF_MAGIC;
    file.microchip = true;
    file.line_size = MCOFF_LINE_SIZE;
    MicrochipOptionalHeader o;
    o.magic = MCOFF_OPTIONAL_MAGIC;
    o.version = version;
    o.processor = 0x877A;
    o.rom_width = rom_width;
    o.ram_width = 8;
    file.optional.resize(MCOFF_OPTIONAL_HEADER_SIZE);
    encode(file.optional.data(), o, run_byte_order());
    file.optional.resize(opthdr);
    TestCoff::Section text{"a_long_section", 0x80, COFF_SECTION_TEXT,
                           Bytes(6),         0,    {{0x80, 12}, {0x81, 13}}};
    file.sections = {text};
    file.strings = std::string("a_long_section") + '\0';
    // The section's long name sits at string-table offset 4.
    file.symbol("main", 0x80, 1, CLASS_EXTERNAL, {}, 0x24);
    file.symbol(".eof", 0, -2, CLASS_END_OF_FILE);
    return file.build();
}

TEST_F(Coff, MicrochipAddressUnitsComeFromTheMemoryWidths) {
    Bytes bytes = microchip_file(14);
    // The section name field names the string table.
    put32_le(bytes.data() + 38, 0);
    put32_le(bytes.data() + 42, 4);
    ASSERT_EQ(read(mcoff_format, bytes), 1) << messages;
    EXPECT_EQ(messages, "");
    EXPECT_EQ(coff_state.microchip.code_unit, 2u);
    EXPECT_EQ(coff_state.microchip.processor, 0x877Au);
    ASSERT_EQ(store.segments.count(), 1u);
    EXPECT_EQ(store.segments[0]->name, "a_long_section");
    EXPECT_EQ(store.segments[0]->address, 0x100u);
    ASSERT_EQ(store.lines.count(), 2u);
    EXPECT_EQ(store.lines[1]->line, 13u);
    EXPECT_EQ(store.lines[1]->address, 0x81u);
    ASSERT_EQ(store.symbols.count(), 1u);

    reset_run_state();
    ASSERT_EQ(read(mcoff_format, microchip_file(8)), 1);
    EXPECT_EQ(coff_state.microchip.code_unit, 1u);
}

TEST_F(Coff, MicrochipOptionalHeaderProblems) {
    ASSERT_EQ(read(mcoff_format, microchip_file(0)), 1);
    EXPECT_TRUE(said(639));
    EXPECT_EQ(coff_state.microchip.code_unit, 1u);

    reset_run_state();
    read(mcoff_format, microchip_file(14, MCOFF_OPTIONAL_VERSION, 20));
    EXPECT_TRUE(said(1043));

    reset_run_state();
    run(microchip_file(14, 1), [](FILE* in) { return mcoff_format.dump(in) ? 1 : 0; });
    EXPECT_TRUE(said(638));
    reset_run_state();
    run(microchip_file(14), [](FILE* in) { return mcoff_format.dump(in) ? 1 : 0; });
    EXPECT_FALSE(said(638));
}

// ---- ICOFF ----

Bytes icoff_file(const std::string& strings, uint32_t section_field) {
    Bytes out(COFF_FILE_HEADER_SIZE + COFF_SECTION_HEADER_SIZE);
    options.big_endian = true;
    CoffFileHeader h;
    h.magic = ICOFF_MAGIC;
    h.nscns = 1;
    h.symptr = uint32_t(out.size());
    h.nsyms = 2;
    h.flags = 0x1003;
    encode(out.data(), h, run_byte_order());
    CoffSectionHeader s;
    set_name_field(s.name, "text", 0, run_byte_order());
    s.paddr = 0x400;
    s.size = 0x10;
    s.flags = 0x4080;
    encode(out.data() + COFF_FILE_HEADER_SIZE, s, run_byte_order());
    uint8_t raw[COFF_SYMBOL_SIZE];
    IcoffSymbol file;
    file.kind = 55;
    file.name_offset = strings.size() > 1 ? 1 : 0;
    encode(raw, file, run_byte_order());
    out.insert(out.end(), raw, raw + sizeof raw);
    IcoffSymbol global;
    global.kind = 1;
    global.name_offset = strings.size() > 1 ? 1 : 0;
    global.value = 0x404;
    encode(raw, global, run_byte_order());
    put32_be(raw + 12, section_field);
    out.insert(out.end(), raw, raw + sizeof raw);
    out.insert(out.end(), strings.begin(), strings.end());
    return out;
}

TEST_F(Coff, IcoffReadsItsSectionNumberFromFourBytes) {
    Bytes bytes = icoff_file(std::string("\0x.c\0", 5), 0x00010000);
    ASSERT_EQ(detect(icoff_format, bytes), 1);
    ASSERT_EQ(read(icoff_format, bytes), 1) << messages;
    ASSERT_EQ(store.symbols.count(), 1u);
    EXPECT_EQ(store.symbols[0]->segment, 0x10000u);
    EXPECT_EQ(store.symbols[0]->file, 1u);
    EXPECT_EQ(store.files[0]->name, "x.c");
    ASSERT_EQ(store.segments.count(), 1u);
    EXPECT_EQ(store.segments[0]->address, 0x400u); // no address unit
    EXPECT_EQ(store.data.count(), 0u);             // no contents

    reset_run_state();
    ASSERT_EQ(read(icoff_format, icoff_file(std::string("\0x.c\0", 5), 0xFFFF0000)), 1);
    EXPECT_EQ(store.symbols[0]->segment, 0u); // negative numbers are taken as 0
}

TEST_F(Coff, IcoffStringTableOfOneNul) {
    ASSERT_EQ(read(icoff_format, icoff_file(std::string("\0", 1), 1)), 1) << messages;
    EXPECT_EQ(messages, "");
    ASSERT_EQ(store.symbols.count(), 1u);
    EXPECT_EQ(store.symbols[0]->name, "");
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

TEST_F(Coff, CodDumpOfAShortFileEndsTheRun) {
    Bytes bytes = cod_directory("08Sep01", 7);
    bytes.resize(100);
    EXPECT_EQ(run(bytes, [](FILE* in) { return cod_format.dump(in) ? 1 : 0; }), -1);
    EXPECT_TRUE(said(1037));
}

} // namespace
