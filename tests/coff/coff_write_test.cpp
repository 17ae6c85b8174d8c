// The COFF-family writers: target choice, sections, the symbol table made from scopes
// and types, line numbers, and the Microchip and ICOFF variants. Each test builds a
// small program in the store and the type model, writes it, and takes the bytes apart.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/osdep.h"
#include "debug_helpers.h"
#include "driver/normalize.h"
#include "formats/coff/coff.h"
#include "formats/coff/coff_internal.h"
#include "formats/descriptors.h"
#include "formats/hexfields.h"
#include "formats/native/norval.h"
#include "model/encdec.h"
#include "model/store.h"
#include "test_support.h"

namespace {

std::vector<uint8_t> write_to_bytes(const FormatDescriptor& format, FILE* out = nullptr) {
    return written_by(format, "out.cof", out);
}

// A written COFF or Microchip COFF file taken apart; the run's byte order is the
// file's, as the writer left it.
struct Image {
    std::vector<uint8_t> bytes;
    bool microchip = false;
    CoffFileHeader header;
    std::vector<CoffSectionHeader> sections;

    Image(std::vector<uint8_t> written, bool mc) : bytes(std::move(written)), microchip(mc) {
        if (bytes.size() < COFF_FILE_HEADER_SIZE) return;
        header = decode<CoffFileHeader>(bytes.data(), run_byte_order());
        for (unsigned k = 0; k < header.nscns; ++k)
            sections.push_back(decode<CoffSectionHeader>(
                bytes.data() + COFF_FILE_HEADER_SIZE + header.opthdr + 40 * k, run_byte_order()));
    }
    size_t entry_size() const { return microchip ? MCOFF_SYMBOL_SIZE : COFF_SYMBOL_SIZE; }
    const uint8_t* entry(uint32_t k) const {
        return bytes.data() + header.symptr + k * entry_size();
    }
    std::string name(const uint8_t* field) const {
        uint32_t offset = 0;
        if (name_in_place(field, run_byte_order(), &offset))
            return name_from_field(field, COFF_NAME_SIZE);
        const char* strings = reinterpret_cast<const char*>(bytes.data()) + header.symptr +
                              header.nsyms * entry_size();
        return strings + offset;
    }
    std::string section_name(unsigned k) const { return name(sections[k].name); }

    // Each entry as "name class value section type", each auxiliary entry as "aux" and
    // its non-zero fields: t tag index, l line, s size, d first two dimensions, n next.
    std::vector<std::string> table() const {
        std::vector<std::string> rows;
        for (uint32_t k = 0; k < header.nsyms; ++k) {
            CoffSymbol s = decode<CoffSymbol>(entry(k), run_byte_order(),
                                              microchip ? MCOFF_TYPE_WIDTH : COFF_TYPE_WIDTH);
            char row[160];
            snprintf(row, sizeof row, "%s %d %X %d %X", name(s.name).c_str(), s.sclass,
                     unsigned(s.value), int(s.scnum), unsigned(s.type));
            rows.push_back(row);
            for (unsigned a = 0; a < s.numaux; ++a)
                rows.push_back(aux_text(entry(++k)));
        }
        return rows;
    }
    static std::string aux_text(const uint8_t* aux) {
        std::string text = "aux";
        char piece[40];
        auto add = [&](const char* label, uint32_t value) {
            if (!value) return;
            snprintf(piece, sizeof piece, " %s%u", label, unsigned(value));
            text += piece;
        };
        CoffAux entry = decode<CoffAux>(aux, run_byte_order());
        add("t", entry.tag_index);
        add("l", entry.line);
        add("s", entry.size);
        if (entry.dimensions[0] || entry.dimensions[1]) {
            snprintf(piece, sizeof piece, " d%u,%u", unsigned(entry.dimensions[0]),
                     unsigned(entry.dimensions[1]));
            text += piece;
        }
        add("n", decode<CoffAuxLinks>(aux, run_byte_order()).next_index);
        return text;
    }
    // Line entries of a section: "address:line" (6 or 8 bytes each).
    std::vector<std::string> lines(unsigned k, size_t size) const {
        std::vector<std::string> found;
        for (unsigned j = 0; j < sections[k].nlnno; ++j) {
            CoffLine line = decode<CoffLine>(bytes.data() + sections[k].lnnoptr + j * size,
                                             run_byte_order(), unsigned(size - 4));
            found.push_back(std::to_string(line.address) + ":" + std::to_string(line.line));
        }
        return found;
    }
};

// A program of family 1: code class CODE with segment "text" at 0x100, data class
// BANK0 with "bss" at 0x20, one module "m.obj" whose side file is given, the frame
// symbols of main, and code bytes at 0x100.
class CoffWrite : public testing::Test {
  protected:
    void SetUp() override { start_run("16F877"); }

    void program(const std::string& sdb, const char* classes = "CODE") {
        if (*classes) options.program_classes = {classes};
        uint32_t code = store.segments.count() + 1;
        add_segment("CODE", 0, 0, 0, code);
        add_segment("text", 0x100, 0x100, 0x100, code);
        uint32_t bank = store.segments.count() + 1;
        add_segment("BANK0", 0, 0, 0, bank);
        add_segment("bss", 0x20, 0x60, 0x20, bank);
        uint32_t file = add_file(file_name.c_str());
        for (auto [name, value, in_code] : symbols)
            add_symbol(name, value, in_code ? code : bank, file, 0);
        for (auto [line, address] : lines)
            add_line(line, address, code, file, 2);
        std::vector<uint8_t> bytes(0x60, 0xA5);
        add_data(code_bytes_at, uint32_t(bytes.size()), bytes.data(), 0);
        read_text(sdb);
        normalize_store();
    }

    std::string file_name = "m.c";
    uint32_t code_bytes_at = 0x100; // 0x200 for targets that count code in 2-byte units
    // Name, value, and whether it lies in code (else in BANK0).
    std::vector<std::tuple<const char*, uint32_t, bool>> symbols = {
        {"_main", 0x100, true},  {"__end_of_main", 0x130, true},
        {"?_main", 0x40, false}, {"?a_main", 0x50, false},
        {"_g", 0x20, false},     {"_helper", 0x140, true},
        {"start", 0, true},
    };
    std::vector<std::pair<uint32_t, uint32_t>> lines = {
        {10, 0x100}, {11, 0x104}, {12, 0x108}, {14, 0x110}, {16, 0x12E}, {21, 0x140},
    };
};

const char* const PROGRAM = R"([p GLOBOPT AUTOSTATIC ]
"1 m.c
[s S1 pair 4 `i a 2 0 `i b 2 2 ]
[s S2 node 7 S1 p 4 0 *S2 next 1 4 `uc 0 . 1 5 :3:2 ]
[v _g S2 0 e 1 @32 ]
"10
[v _main `(v 0 e 1 @0 ]
{
"10
[v _x `i 0 p 0 0 ]
"11
[v _y `uc 0 a 0 0 ]
{
"12
[v _z `uc 0 a 0 1 ]
"13
}
{
"14
[v _w `uc 0 a 0 2 ]
"15
}
"16
}
1 0 0 0
"20
[v _helper `(i 0 e 1 @0 ]
{
"21
}
1 0 0 0
)";

std::vector<std::string> rows(std::initializer_list<const char*> list) {
    return std::vector<std::string>(list.begin(), list.end());
}

TEST_F(CoffWrite, SymbolTableFromScopesStructuresAndLines) {
    options.processor_list = {"H8/300"};
    program(PROGRAM);
    Image image(write_to_bytes(coff_format), false);
    EXPECT_EQ(image.bytes[0], 0x83);
    EXPECT_EQ(image.bytes[1], 0x00);
    EXPECT_EQ(image.header.flags, 0x0203);
    EXPECT_EQ(image.header.timdat, uint32_t(now_time()));
    EXPECT_EQ(
        image.table(),
        rows({".file 103 0 -2 0",
              "aux t1831756544", // "m.c" in place
                                 // _g's structure, its members, then the structure a member uses.
              "node 10 0 -2 0", "aux s7 n11", "p 8 0 -2 8", "aux t12 s4", "next 8 4 -2 18",
              "aux t2 s7", ".u0 18 2A -2 C", "aux s3", ".eos 102 0 -1 0", "aux t2 s7",
              "pair 10 0 -2 0", "aux s4 n17", "a 8 0 -2 3", "b 8 2 -2 3", ".eos 102 0 -1 0",
              "aux t12 s4", "_g 2 20 2 8", "aux t2 s7",
              // main: parameters and autos at the frame symbols, two blocks linked
              // to each other and the last to ".ef", ".bf" linked to the next ".bf".
              "_main 2 100 3 21", ".bf 101 100 -2 0", "aux l10 n38", "_x 9 40 -1 3", "_y 1 50 -1 C",
              ".bb 100 0 -2 0", "aux l11 n30", "_z 1 51 -1 C", ".eb 100 0 -2 0", "aux l13",
              ".bb 100 0 -2 0", "aux l13 n35", "_w 1 52 -1 C", ".eb 100 0 -2 0", "aux l15",
              ".ef 101 12F -2 0", "aux l16", "_helper 2 140 3 23", ".bf 101 140 -2 0", "aux l20",
              ".ef 101 140 -2 0", "aux l21",
              // The store's symbols that no typed entry described.
              "__end_of_main 6 130 -1 0", "?_main 6 40 -1 0", "?a_main 6 50 -1 0",
              "start 6 0 -1 0"}));
    ASSERT_EQ(image.sections.size(), 3u);
    EXPECT_EQ(image.section_name(0), "BANK0");
    EXPECT_EQ(image.section_name(1), "bss");
    EXPECT_EQ(image.sections[1].flags, 0x80u);
    EXPECT_EQ(image.sections[1].paddr, 0x20u);
    EXPECT_EQ(image.section_name(2), "_text0");
    EXPECT_EQ(image.sections[2].flags, 0x20u);
    // After the headers, 40 unwritten bytes per store segment.
    EXPECT_EQ(image.sections[2].scnptr, 20u + 40 * 3 + 40 * 4);
    EXPECT_EQ(std::vector<uint8_t>(image.bytes.begin() + 20 + 40 * 3,
                                   image.bytes.begin() + image.sections[2].scnptr),
              std::vector<uint8_t>(160, 0));
    EXPECT_EQ(image.bytes[image.sections[2].scnptr], 0xA5);
    EXPECT_EQ(image.sections[2].lnnoptr, image.sections[2].scnptr + 0x60);
    EXPECT_EQ(image.lines(2, 8),
              rows({"20:0", "256:10", "260:11", "264:12", "272:14", "302:16", "37:0", "320:21"}));
}

// (The messages of a failed choice are end-to-end cases.)
TEST_F(CoffWrite, TargetChoice) {
    auto attempt = [&](std::vector<std::string> list, const char* classes, unsigned preset) {
        start_run("16F877");
        options.processor_list = list;
        coff_state.target = preset;
        program("[p GLOBOPT ]\n", classes);
        std::vector<uint8_t> bytes;
        capture_stderr([&] { bytes = write_to_bytes(coff_format); });
        return bytes;
    };
    // "pic18" is found in row 11 ignoring case: little-endian, magic bytes 34 12.
    std::vector<uint8_t> pic18 = attempt({"pic18"}, "CODE", 0);
    EXPECT_EQ(coff_state.target, 11u);
    EXPECT_FALSE(options.big_endian);
    Image image(pic18, false);
    EXPECT_EQ(pic18[0], 0x34);
    EXPECT_EQ(pic18[1], 0x12);
    EXPECT_EQ(image.header.flags, 0x0103);
    // Code address unit 2: the block at 0x100 is a section at 0x80.
    EXPECT_EQ(image.sections.back().paddr, 0x80u);
    // A target an input chose stays; without -n everything is data, and has no lines.
    std::vector<uint8_t> m68k = attempt({"PIC18"}, "", 1);
    EXPECT_EQ(get16_be(m68k.data()), 0x0150);
    Image all_data(m68k, false);
    EXPECT_EQ(all_data.sections.size(), 5u); // four segments and the block
    for (const CoffSectionHeader& section : all_data.sections)
        EXPECT_EQ(section.nlnno, 0u);
}

TEST_F(CoffWrite, SectionNamesAndSixByteLines) {
    options.processor_list = {"68K"};
    add_segment("DATA", 0x10, 4, 0x10, 0);
    add_segment("DATA", 0x20, 4, 0x20, 0);
    add_segment("a_long_segment", 0x30, 4, 0x30, 0);
    program(PROGRAM);
    Image image(write_to_bytes(coff_format), false);
    EXPECT_EQ(image.section_name(0), "DATA");
    EXPECT_EQ(image.section_name(1), "DATA.1");
    EXPECT_EQ(image.section_name(2), "a_long_s");
    // 68K line entries are 6 bytes: a 2-byte line number.
    std::vector<std::string> lines = image.lines(unsigned(image.sections.size() - 1), 6);
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[0], "20:0");
    EXPECT_EQ(lines[1], "256:10");
}

TEST_F(CoffWrite, TypeWordsAndArrayAuxiliaryEntries) {
    options.processor_list = {"H8/300"};
    const char* names[] = {"_v1", "_v2", "_v3", "_v4", "_v5", "_v6", "_v7", "_v8", "_v9", "_va"};
    for (uint32_t k = 0; k < 10; ++k)
        symbols.emplace_back(names[k], 0x20 + k, false);
    program(R"([p GLOBOPT ]
[s S1 pair 4 `i a 2 0 `i b 2 2 ]
[e E1 mode `uc A 0 B 1 ]
[v _v1 `uc 0 e 1 @32 ]
[v _v2 `m 0 e 1 @33 ]
[v _v3 `f 0 e 1 @34 ]
[v _v4 `d 0 e 1 @35 ]
[v _v5 `[2][3]uc 0 e 1 @36 ]
[v _v6 `[4]S1 0 e 1 @37 ]
[v _v7 `[3]*S1 0 e 1 @38 ]
[v _v8 `*[5]ul 0 e 1 @39 ]
[v _v9 E1 0 e 1 @40 ]
[v _va `*(DVc 0 e 1 @41 ]
)");
    Image image(write_to_bytes(coff_format), false);
    std::vector<std::string> t = image.table();
    auto row_of = [&](const char* name) {
        for (size_t k = 0; k < t.size(); ++k)
            if (t[k].rfind(std::string(name) + " ", 0) == 0)
                return t[k] +
                       (k + 1 < t.size() && t[k + 1].rfind("aux", 0) == 0 ? " " + t[k + 1] : "");
        return std::string("missing");
    };
    EXPECT_EQ(row_of("_v1"), "_v1 2 20 2 C");
    EXPECT_EQ(row_of("_v2"), "_v2 2 21 2 0"); // a 3-byte integer has no COFF type
    EXPECT_EQ(row_of("_v3"), "_v3 2 22 2 7"); // 3-byte float: not S2's float size
    EXPECT_EQ(row_of("_v4"), "_v4 2 23 2 6"); // 4-byte: S2's float
    EXPECT_EQ(row_of("_v5"), "_v5 2 24 2 FC aux s6 d2,3");
    // The tag of S1 (entry 6) is written before the first variable that needs it.
    EXPECT_EQ(row_of("_v6"), "_v6 2 25 2 38 aux t6 s16 d4,0");
    EXPECT_EQ(row_of("_v7"), "_v7 2 26 2 78 aux t6 s6 d3,0"); // three 2-byte pointers
    EXPECT_EQ(row_of("_v8"), "_v8 2 27 2 DF aux s20 d5,0");   // pointer to an array
    EXPECT_EQ(row_of("_v9"), "_v9 2 28 2 2");                 // enumerations are char
    EXPECT_EQ(row_of("_va"), "_va 2 29 2 92");                // qualifiers are passed over
}

TEST_F(CoffWrite, Pic30Additions) {
    options.processor_list = {"PIC30"};
    options.pathspec_find = "/src";
    options.pathspec_replace = "C:/work";
    options.pathspec_set = true;
    file_name = "/src/m.c";
    symbols.emplace_back("entry$_main", 0x102, true);
    lines = {{10, 0x100}, {11, 0x104}, {12, 0x10C}, {12, 0x108}, {13, 0x110}};
    add_bounds("idata", 0x208, 0x20F, 0);
    code_bytes_at = 0x200;
    program(R"([p GLOBOPT ]
"9 /src/m.c
[v _main `(v 0 e 1 @0 ]
{
"10
"13
}
1 0 0 0
)");
    Image image(write_to_bytes(coff_format), false);
    EXPECT_EQ(image.table(),
              rows({".file 103 0 -2 0", "aux l4", "_main 2 102 3 21", ".bf 101 102 -2 0", "aux l9",
                    "___FP 4 F -1 4", ".ef 101 12F -2 0", "aux l13", "__end_of_main 6 130 -1 0",
                    "?_main 6 40 -1 0", "?a_main 6 50 -1 0", "_g 6 20 -1 0", "_helper 6 140 -1 0",
                    "start 6 0 -1 0", "entry$_main 6 102 -1 0"}));
    // The file name after --pathspec= and with "\" for "/", in the string table.
    const char* strings = reinterpret_cast<const char*>(image.bytes.data()) + image.header.symptr +
                          image.header.nsyms * 18;
    EXPECT_STREQ(strings + 4, "C:\\work\\m.c");
    // Line 11 lies in the initialised-data copy; line 12 keeps its lowest address.
    EXPECT_EQ(image.lines(2, 8), rows({"2:0", "256:10", "264:12", "272:13"}));
}

TEST_F(CoffWrite, LongNamesAndStaticEndOfFunction) {
    options.processor_list = {"H8/300"};
    file_name = "m.obj"; // the module's own file holds the static function's symbols
    symbols = {{"_exactly", 0x20, false},
               {"_ninechars", 0x21, false},
               {"_ninechars", 0x22, false},
               {"_f", 0x100, true},
               {"__end_of_f", 0x120, true}};
    program(R"([p GLOBOPT ]
[v _exactly `uc 0 e 1 @32 ]
[v _ninechars `uc 0 e 1 @33 ]
[v _f `(v 0 s 1 @0 ]
{
"5
}
1 0 0 0
)");
    Image image(write_to_bytes(coff_format), false);
    std::vector<std::string> table = image.table();
    EXPECT_EQ(table[0], "_exactly 2 20 2 C");
    // Both "_ninechars" (the variable and the label of the same name) share one name.
    EXPECT_EQ(table[1], "_ninechars 2 21 2 C");
    EXPECT_EQ(table[5], ".ef 101 11F -2 0");
    EXPECT_EQ(table[table.size() - 2], "_ninechars 6 22 -1 0");
    uint32_t size = get32(image.bytes.data() + image.header.symptr + image.header.nsyms * 18);
    EXPECT_EQ(size, 4u + 11 + 11); // "_ninechars" and "__end_of_f"

    // Without long names the string table is its size field alone.
    start_run("16F877");
    options.processor_list = {"H8/300"};
    symbols = {};
    lines = {};
    program("[p GLOBOPT ]\n");
    Image empty(write_to_bytes(coff_format), false);
    EXPECT_EQ(empty.bytes.size(), size_t(empty.header.symptr) + 4);
    EXPECT_EQ(get32(empty.bytes.data() + empty.header.symptr), 4u);
}

TEST_F(CoffWrite, EveryFailedWriteIsReported) {
    options.processor_list = {"H8/300"};
    program(PROGRAM);
    FILE* full = fopen("/dev/full", "wb");
    ASSERT_NE(full, nullptr);
    std::string err = capture_stderr([&] { coff_format.write(full, "full.cof"); });
    fclose(full);
    EXPECT_NE(err.find("(413)"), std::string::npos) << err;
    EXPECT_NE(err.find("full.cof"), std::string::npos);
}

// The Microchip line entries of a section: "source index:line:address:function index".
std::vector<std::string> microchip_lines(const Image& image, unsigned k) {
    std::vector<std::string> found;
    for (unsigned j = 0; j < image.sections[k].nlnno; ++j) {
        MicrochipLine l = decode<MicrochipLine>(
            image.bytes.data() + image.sections[k].lnnoptr + 16 * j, ByteOrder::little);
        char text[64];
        snprintf(text, sizeof text, "%u:%u:%X:%u", unsigned(l.srcndx), unsigned(l.lnno),
                 unsigned(l.paddr), unsigned(l.fcnndx));
        found.push_back(text);
    }
    return found;
}

TEST_F(CoffWrite, MicrochipTargetParameters) {
    struct Case {
        const char* name;
        std::vector<std::string> list;
        uint32_t id, rom, paddr; // paddr of the block at 0x200: code unit 1 or 2
    };
    for (const Case& c : {Case{"16F877", {"1234", "PIC16"}, 0x1234, 16, 0x100},
                          Case{"16F877", {"", "PIC12"}, 0, 12, 0x100},
                          Case{"18F452", {}, 0, 8, 0x200}, // second character 8
                          Case{"16F877", {}, 0, 0, 0x100}}) {
        start_run("16F877");
        options.processor_name = c.name;
        options.processor_list = c.list;
        code_bytes_at = 0x200;
        program("[p GLOBOPT ]\n");
        Image image(write_to_bytes(mcoff_format), true);
        ASSERT_EQ(image.header.opthdr, 18u) << c.name;
        MicrochipOptionalHeader o =
            decode<MicrochipOptionalHeader>(image.bytes.data() + 20, ByteOrder::little);
        EXPECT_EQ(o.magic, 5000u);
        EXPECT_EQ(o.version, 96003u);
        EXPECT_EQ(o.processor, c.id);
        EXPECT_EQ(o.rom_width, c.rom);
        EXPECT_EQ(o.ram_width, 8u);
        EXPECT_EQ(image.bytes[0], 0x40);
        EXPECT_EQ(image.bytes[1], 0x12);
        EXPECT_EQ(image.header.flags, 0x0002);
        EXPECT_EQ(image.sections.back().paddr, c.paddr) << c.name;
        EXPECT_EQ(image.sections[0].scnptr, 0u); // ABS
        EXPECT_EQ(image.sections.back().scnptr, 38u + 40 * 4);
    }
}

TEST_F(CoffWrite, MicrochipFunctionsAndInstructionLines) {
    start_run("18F452"); // instruction step 2, last instruction 2 bytes
    options.processor_list = {"1234", "PIC18"};
    program(PROGRAM);
    Image image(write_to_bytes(mcoff_format), true);
    EXPECT_EQ(
        image.table(),
        rows({".file 103 0 -2 0", "aux t4", "node 10 0 -2 0", "aux s7 n11", "p 8 0 -2 8",
              "aux t12 s4", "next 8 4 -2 28", "aux t2 s7", ".u0 18 2A -2 C", "aux s3",
              ".eos 102 0 -1 0", "aux t2 s7", "pair 10 0 -2 0", "aux s4 n17", "a 8 0 -2 4",
              "b 8 2 -2 4", ".eos 102 0 -1 0", "aux t12 s4", "_g 2 20 3 8", "aux t2 s7",
              // The function's entry, ".bf" linked to the ".ef" auxiliary entry, the
              // parameters, then the body as one block; locals are statics.
              "_main 2 100 4 41", ".bf 101 100 4 0", "aux l10 n40", "_x 3 40 3 4",
              ".bb 100 100 4 0", "aux l10 n38", "_y 3 50 3 C", ".bb 100 100 4 0", "aux l11 n31",
              "_z 3 51 3 C", ".eb 100 100 4 0", "aux l13", ".bb 100 100 4 0", "aux l13 n36",
              "_w 3 52 3 C", ".eb 100 100 4 0", "aux l15", ".eb 100 100 4 0", "aux l16",
              ".ef 101 12F 4 0", "aux l16", "_helper 2 140 4 44", ".bf 101 140 4 0", "aux l20 n49",
              ".bb 100 140 4 0", "aux l20 n47", ".eb 100 140 4 0", "aux l21", ".ef 101 140 4 0",
              "aux l21", ".eof 107 0 0 0", "__end_of_main 6 130 0 0", "?_main 6 40 0 0",
              "?a_main 6 50 0 0", "start 6 0 0 0"}));
    std::vector<std::string> lines = microchip_lines(image, 3);
    // Lines 10, 11 and 12 cover 2, 2 and 4 instructions, 14 reaches up to 16, and the
    // last line of each function is one instruction of 2 bytes.
    ASSERT_EQ(lines.size(), 2u + 2 + 4 + 15 + 1 + 1);
    EXPECT_EQ(lines[0], "0:10:100:20");
    EXPECT_EQ(lines[1], "0:10:102:20");
    EXPECT_EQ(lines[8], "0:14:110:20");
    EXPECT_EQ(lines[22], "0:14:12C:20");
    EXPECT_EQ(lines[23], "0:16:12E:20");
    EXPECT_EQ(lines[24], "0:21:140:41");
}

TEST_F(CoffWrite, MicrochipFilesBitVariablesAndOptions) {
    start_run("18F452");
    options.processor_list = {"1234", "PIC18"};
    options.strip_underscore = true;
    symbols = {{"_flag0", 0x100, false}, {"_flag3", 0x103, false}, {"_flag9", 0x201, false},
               {"_flags", 0x20, false},  {"_dbl", 0x30, false},    {"_none", 0x33, false},
               {"_keep", 0x34, false},   {"label", 0x35, false}};
    lines = {};
    uint32_t boot = add_file("boot.as");
    add_line(3, 0x150, 1, boot, 2);
    add_line(4, 0x154, 1, boot, 2);
    program(R"([p GLOBOPT ]
"1 a.h
"2 m.c
[v _flag3 `b 0 e 1 @259 ]
[v _flag0 `b 0 e 1 @256 ]
[v _flag9 `b 0 e 1 @513 ]
[v _dbl `d 0 e 3 @48 ]
[v _none `[0]uc 0 e 1 @51 ]
[v _keep `uc 0 e 1 @52 ]
)");
    Image image(write_to_bytes(mcoff_format), true);
    EXPECT_EQ(image.table(),
              rows({// a.h produced nothing and is gone.
                    ".file 103 0 -2 0", "aux t8",
                    // A double of the float's size is a float; an empty array is left out.
                    "dbl 2 30 3 6", "keep 2 34 3 C",
                    // Bits 0x100 and 0x103 in the structure of byte 0x20, with a filler.
                    ".u0 10 0 -2 0", "aux s1 n13", "flag0 18 0 -2 C", "aux s1", "- 18 1 -2 C",
                    "aux s2", "flag3 18 3 -2 C", "aux s1", ".eos 102 0 -1 0", "aux t4 s1",
                    "__flagsbits 2 20 1 8", "aux t4 s1",
                    // Bit 0x201: byte 0x40 has no symbol of its own.
                    ".u1 10 0 -2 0", "aux s1 n23", "- 18 0 -2 C", "aux s1", "flag9 18 1 -2 C",
                    "aux s1", ".eos 102 0 -1 0", "aux t16 s1", "_bitvars2 2 40 1 8", "aux t16 s1",
                    ".eof 107 0 0 0", "flags 6 20 0 0", "none 6 33 0 0", "label 6 35 0 0",
                    // The assembler file.
                    ".file 103 0 -2 0", "aux t34", ".eof 107 0 0 0"}));
    EXPECT_EQ(microchip_lines(image, 3), rows({"30:3:150:0", "30:3:152:0", "30:4:154:0"}));
}

TEST(IcoffWrite, SectionsSymbolsSharedNamesAndLines) {
    reset_run_state();
    add_segment("TEXT1", 0x100, 0x10, 0x100, 0);
    add_segment("DATA", 0x200, 0x8, 0x200, 0);
    add_segment("BSS", 0x300, 0x20, 0x300, 0);
    uint32_t a = add_file("a.c");
    add_file("empty.c");
    uint32_t b = add_file("b.c");
    add_symbol("shared", 0x104, 1, a, 0);
    add_symbol("local", 0x200, 2, a, SYM_LOCAL);
    add_symbol("shared", 0x108, 1, b, SYM_KIND_MARK);
    add_symbol("abs", 0x5, 0, b, SYM_ABSOLUTE);
    add_line(7, 0x104, 1, a, 2);
    add_line(9, 0x108, 1, b, 2);
    add_line(8, 0x10C, 1, b, 2);
    const uint8_t code[4] = {1, 2, 3, 4}, data[2] = {5, 6};
    add_data(0x104, 4, code, 0);
    add_data(0x202, 2, data, 0);
    normalize_store();
    std::vector<uint8_t> bytes = write_to_bytes(icoff_format);
    ASSERT_GE(bytes.size(), 20u + 3 * 40);
    EXPECT_TRUE(options.big_endian);
    CoffFileHeader h = decode<CoffFileHeader>(bytes.data(), run_byte_order());
    EXPECT_EQ(h.magic, 0x181);
    EXPECT_EQ(h.flags, 0x1003);
    EXPECT_EQ(h.nscns, 3u);
    std::vector<CoffSectionHeader> s;
    for (unsigned k = 0; k < 3; ++k)
        s.push_back(decode<CoffSectionHeader>(bytes.data() + 20 + 40 * k, run_byte_order()));
    EXPECT_EQ(s[0].flags, 0x4020u);
    EXPECT_EQ(s[1].flags, 0x4040u);
    EXPECT_EQ(s[2].flags, 0x4080u);
    // Blocks sit at their distance from the segment's start; each section with contents
    // then takes at least its segment's size.
    EXPECT_EQ(s[0].scnptr, 140u);
    EXPECT_EQ(bytes[140 + 4], 1);
    EXPECT_EQ(s[1].scnptr, 140u + 0x10);
    EXPECT_EQ(bytes[140 + 0x10 + 2], 5);
    EXPECT_EQ(s[2].scnptr, 140u + 0x10 + 8);
    // a.c's run, then b.c's (by line number), each after a marker naming its file entry.
    ASSERT_EQ(s[0].nlnno, 5u);
    std::vector<std::string> lines;
    for (unsigned j = 0; j < 5; ++j) {
        CoffLine l = decode<CoffLine>(bytes.data() + s[0].lnnoptr + 6 * j, run_byte_order(), 2u);
        lines.push_back(std::to_string(l.address) + ":" + std::to_string(l.line));
    }
    EXPECT_EQ(lines, rows({"0:0", "260:7", "3:0", "268:8", "264:9"}));
    // File entries and symbols; names sorted, once each, after one NUL.
    ASSERT_EQ(h.nsyms, 6u);
    const char* strings = reinterpret_cast<const char*>(bytes.data()) + h.symptr + 6 * 18;
    EXPECT_EQ(std::string(strings, bytes.size() - (h.symptr + 6 * 18)),
              std::string("\0a.c\0abs\0b.c\0empty.c\0local\0shared\0", 34));
    std::vector<std::string> table;
    for (unsigned k = 0; k < 6; ++k) {
        IcoffSymbol sym = decode<IcoffSymbol>(bytes.data() + h.symptr + 18 * k, run_byte_order());
        table.push_back(std::string(strings + sym.name_offset) + " " + std::to_string(sym.kind) +
                        " " + std::to_string(sym.value) + " " +
                        std::to_string(get16(bytes.data() + h.symptr + 18 * k + 12)) + " " +
                        std::to_string(sym.type));
    }
    EXPECT_EQ(table, rows({"a.c 55 0 0 0", "shared 1 260 1 0", "local 2 512 2 0", "b.c 55 0 0 0",
                           "shared 1 264 1 28", "abs 1 5 65535 0"}));
}

// A run starts from formats that have forgotten the earlier run: its COFF target, its
// generated names, its start address and what its symbol-file writer wrote once.
TEST(RunState, EveryFormatForgetsWhatTheLastRunKept) {
    reset_run_state();
    coff_state.target = 3;
    coff_state.icoff_target = 1;
    coff_state.generated_names = 5;
    entry_address = 0x1234;
    norval_writer.locals_written = true;
    reset_run_state();
    EXPECT_EQ(coff_state.target, 0u);
    EXPECT_EQ(coff_state.icoff_target, 0u);
    EXPECT_EQ(coff_state.generated_names, 0u);
    EXPECT_EQ(entry_address, 0u);
    EXPECT_FALSE(norval_writer.locals_written);
}

} // namespace
