// The .COD writer: type codes and line addresses (its own functions), and table layouts
// that need generated stores (spans, packing, empty tables). The cases in cod/cases compare
// whole written files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/osdep.h"
#include "debug_helpers.h"
#include "driver/normalize.h"
#include "formats/cod/dotcod.h"
#include "formats/descriptors.h"
#include "model/run.h"
#include "model/store.h"
#include "test_support.h"

namespace {

constexpr size_t BLOCK = 512;

uint32_t get16_le(const uint8_t* p) {
    return p[0] | p[1] << 8;
}
uint32_t get32_be(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}

// What the writer wrote, with accessors for its blocks and directory fields.
struct CodFile {
    std::vector<uint8_t> bytes;

    const uint8_t* block(uint32_t n) const { return bytes.data() + n * BLOCK; }
    uint32_t blocks() const { return static_cast<uint32_t>(bytes.size() / BLOCK); }
    uint32_t dir16(size_t at) const { return get16_le(bytes.data() + at); }
    // First and last block of the table whose directory field is at `at`.
    std::pair<uint32_t, uint32_t> table(size_t at) const { return {dir16(at), dir16(at + 2)}; }
    std::string text(size_t at) const {
        return std::string(reinterpret_cast<const char*>(bytes.data() + at + 1), bytes[at]);
    }
};

enum : size_t {
    SYMBOLS = 426,
    NAMES = 430,
    LINES = 434,
    MEMORY_MAP = 443,
    LOCALS = 447,
    LONG_SYMBOLS = 462,
};

CodFile write_cod(::Run& run) {
    FILE* out = tmpfile();
    cod_format.write(run, out, "t.cod");
    CodFile file;
    rewind(out);
    file.bytes = read_all(out);
    fclose(out);
    return file;
}

// Line entries of the line table: (file, flags, line, address), padding left out.
struct LineEntry {
    uint32_t file, flags, line, address;
    bool operator==(const LineEntry& o) const {
        return file == o.file && flags == o.flags && line == o.line && address == o.address;
    }
};

std::vector<LineEntry> line_entries(const CodFile& cod) {
    std::vector<LineEntry> entries;
    auto [first, last] = cod.table(LINES);
    for (uint32_t b = first; first != 0 && b <= last; ++b)
        for (size_t k = 0; k < 85; ++k) {
            const uint8_t* e = cod.block(b) + 6 * k;
            if (e[0] || e[1] || get16_le(e + 2) || get16_le(e + 4))
                entries.push_back({e[0], e[1], get16_le(e + 2), get16_le(e + 4)});
        }
    return entries;
}

// Long symbols: (name, type, value).
struct LongSymbol {
    std::string name;
    uint32_t type, value;
};

std::vector<LongSymbol> long_symbols(const CodFile& cod, std::vector<uint32_t>* blocks = nullptr) {
    std::vector<LongSymbol> found;
    auto [first, last] = cod.table(LONG_SYMBOLS);
    for (uint32_t b = first; first != 0 && b <= last; ++b)
        for (size_t at = 0; at < BLOCK && cod.block(b)[at] != 0;) {
            const uint8_t* e = cod.block(b) + at;
            found.push_back({std::string(reinterpret_cast<const char*>(e + 1), e[0]),
                             get16_le(e + 1 + e[0]), get32_be(e + 3 + e[0])});
            if (blocks) blocks->push_back(b);
            at += 7 + e[0];
        }
    return found;
}

class CodWrite : public testing::Test {
  protected:
    ::Run run;
    void SetUp() override {
        start_run(run, "16F877");
        setenv("TZ", "UTC", 1);
        tzset();
        setenv("SOURCE_DATE_EPOCH", "1000000000", 1);
    }
    void TearDown() override { unsetenv("SOURCE_DATE_EPOCH"); }
};

uint8_t code_of(::Run& run, const char* type_string, bool fake = false) {
    Type* type = parse_type(run, type_string);
    return cod_type_code(TypeRef(type), fake);
}

TEST_F(CodWrite, TypeCodesFollowTheOutermostNodesPastOneQualifier) {
    struct {
        const char* type;
        uint8_t code;
    } cases[] = {
        {"`c", 2},      {"`i", 3},      {"`l", 160},     {"`m", 0},         {"`uc", 4},
        {"`ui", 5},     {"`ul", 159},   {"`um", 0},      {"`f", 166},       {"`d", 167},
        {"`b", 145},    {"`v", 67},     {"`DVuc", 4},    {"`(i", 16},       {"`*c", 6},
        {"`*(v", 31},   {"`*D(v", 31},  {"`D*(v", 31},   {"`[3]c", 12},     {"`[3]i", 14},
        {"`[3]uc", 13}, {"`[3]ui", 15}, {"`[3]Dui", 15}, {"`[2][3]ui", 12}, {"`[3]l", 12},
        {"`[3]*c", 12},
    };
    for (const auto& c : cases)
        EXPECT_EQ(code_of(run, c.type), c.code) << c.type;
    // Structures, unions and enumerations.
    read_text(run, "[p PIC14 ]\n[s S1 pair 2 `c a 1 0 `c b 1 1 ]\n[u U1 . 2 `ui w 2 0 ]\n"
                   "[e E1 mode `uc A 0 B 1 ]\n[v _x S1 0 t 0 ]\n");
    run.type_model.current_scope = run.type_model.global_scope->scope().entries.back();
    EXPECT_EQ(code_of(run, "S1"), 77);
    EXPECT_EQ(code_of(run, "U1"), 77);
    EXPECT_EQ(code_of(run, "E1"), 0);
    EXPECT_EQ(code_of(run, "`[2]S1"), 12);
    // A float of a size the format does not name, and no type at all.
    Type odd;
    odd.push(run, {TYPE_BASIC, "d8", BASIC_FLOAT, 8, nullptr});
    EXPECT_EQ(cod_type_code(TypeRef(&odd), false), 163);
    EXPECT_EQ(cod_type_code(TypeRef(), false), 0);
    // Under -f only functions and pointers keep their codes.
    for (const char* type : {"`c", "`ul", "`f", "`b", "`v", "`[3]ui", "S1", "E1"})
        EXPECT_EQ(code_of(run, type, true), 139) << type;
    EXPECT_EQ(code_of(run, "`(i", true), 16);
    EXPECT_EQ(code_of(run, "`*c", true), 6);
    EXPECT_EQ(code_of(run, "`*(v", true), 31);
}

TEST_F(CodWrite, LineAddressOfASourceLine) {
    uint32_t file = add_file(run, "a.c");
    for (auto [line, address] :
         {std::pair{10u, 0x100u}, {14u, 0x120u}, {14u, 0x110u}, {20u, 0x130u}})
        add_line(run, line, address, 0, file, 2);
    add_file(run, "empty.c");
    normalize_store(run);
    const FileRecord& a = *file_of(run, file);
    EXPECT_EQ(cod_line_address(a, 10), 0x100u);
    EXPECT_EQ(cod_line_address(a, 14), 0x110u); // the lowest address of the line
    EXPECT_EQ(cod_line_address(a, 12), 0x10Fu); // between: the next line's address - 1
    EXPECT_EQ(cod_line_address(a, 25), 0x131u); // past the last: its address + 1
    EXPECT_EQ(cod_line_address(a, 9), 0u);      // before the first
    EXPECT_EQ(cod_line_address(*file_of(run, 2), 1), 0u);
}

TEST_F(CodWrite, WithoutDataTheTablesStartAtBlockOne) {
    add_segment(run, "CODE", 0, 0, 0, 1);
    uint32_t file = add_file(run, "a.c");
    add_line(run, 3, 0x10, 1, file, 2);
    add_symbol(run, "_x", 0x10, 1, file, 0);
    normalize_store(run);
    CodFile cod = write_cod(run);
    for (unsigned p = 0; p < 128; ++p)
        EXPECT_EQ(cod.dir16(2 * p), 0u);
    EXPECT_EQ(cod.table(MEMORY_MAP), std::make_pair(0u, 0u));
    EXPECT_EQ(cod.table(LINES), std::make_pair(1u, 1u));
    EXPECT_EQ(cod.table(NAMES), std::make_pair(2u, 2u));
    EXPECT_EQ(cod.table(SYMBOLS), std::make_pair(3u, 3u));
    EXPECT_EQ(cod.table(LONG_SYMBOLS), std::make_pair(4u, 4u));
    EXPECT_EQ(cod.table(LOCALS), std::make_pair(0u, 0u));
    EXPECT_EQ(cod.blocks(), 5u);
}

TEST_F(CodWrite, WithoutACodeSegmentLinesHaveNoAddressEntries) {
    add_segment(run, "text", 0, 0x100, 0, 0);
    uint32_t file = add_file(run, "a.c");
    add_line(run, 2, 0x10, 1, file, 2);
    add_line(run, 3, 0x12, 1, file, 2);
    normalize_store(run);
    EXPECT_EQ(line_entries(write_cod(run)),
              (std::vector<LineEntry>{{0, 0xFF, 0, 0}, {0, 0x90, 1, 0}}));
}

TEST_F(CodWrite, LineNumbersAndSpansStayWithinTheirFields) {
    add_segment(run, "CODE", 0, 0, 0, 1);
    uint32_t file = add_file(run, "a.c");
    add_line(run, 1, 0x0, 1, file, 2);
    add_line(run, 2, 0x30000, 1, file, 2);
    add_line(run, 100000, 0x30001, 1, file, 2);
    normalize_store(run);
    std::vector<LineEntry> entries = line_entries(write_cod(run));
    size_t first_line = 0, without_code = 0;
    for (const LineEntry& e : entries) {
        first_line += e.line == 1;
        without_code += e.flags == 0x90;
    }
    EXPECT_EQ(first_line, 0x10000u);      // a span of 0x30000 addresses gives 0x10000
    EXPECT_EQ(without_code, 0xFFFFu - 2); // lines 3 to 65535
    EXPECT_EQ(entries.back().line, 100000u & 0xFFFF);
}

TEST_F(CodWrite, LongSymbolsArePackedWithoutCrossingBlocks) {
    std::string name(200, 'n');
    uint32_t file = add_file(run, "a.c");
    for (int k = 0; k < 3; ++k) {
        name[0] = static_cast<char>('a' + k);
        add_symbol(run, name.c_str(), 0x12345 + k, 0, file, 0);
    }
    // The last names a segment the store does not have, as a damaged COFF symbol may.
    add_symbol(run, std::string(300, 'z').c_str(), 1, 1, file, 0);
    normalize_store(run);
    CodFile cod = write_cod(run);
    std::vector<uint32_t> blocks;
    std::vector<LongSymbol> symbols = long_symbols(cod, &blocks);
    ASSERT_EQ(symbols.size(), 4u);
    EXPECT_EQ(symbols[0].name.size(), 200u);
    EXPECT_EQ(symbols[0].type, 139u);
    EXPECT_EQ(symbols[1].value, 0x12346u);
    EXPECT_EQ(symbols[3].name, std::string(255, 'z'));
    EXPECT_EQ(symbols[3].type, 139u);
    // Two 207-byte records fill 414 bytes; the third starts the next block, the 262 bytes
    // of the fourth still fit after it.
    EXPECT_EQ(blocks, (std::vector<uint32_t>{blocks[0], blocks[0], blocks[0] + 1, blocks[0] + 1}));
    for (size_t at = 414; at < BLOCK; ++at)
        ASSERT_EQ(cod.block(blocks[0])[at], 0);
    // The short table keeps 12 characters.
    EXPECT_EQ(cod.text(cod.table(SYMBOLS).first * BLOCK), std::string("a") + std::string(11, 'n'));
}

// A module with externs, a function with locals and a nested block, and its store.
void read_program(::Run& run) {
    add_segment(run, "CODE", 0, 0, 0, 1);
    add_segment(run, "DATA", 0, 0, 0, 2);
    uint32_t file = add_file(run, "m.c");
    for (uint32_t line = 3; line <= 9; ++line)
        add_line(run, line, 0x100 + line, 1, file, 2);
    add_symbol(run, "_main", 0x103, 1, file, 0);
    add_symbol(run, "_count", 0x20, 2, file, 0);
    add_symbol(run, "_flag", 0x10B, 0, file, 1);
    add_symbol(run, "?a_main", 0x40, 2, file, 2);
    add_symbol(run, "_other", 0x50, 2, file, 2);
    read_text(run, "[p PIC14 ]\n\"1 m.c\n[v _count `ui 0 e 1 @0 ]\n[v _flag `b 0 e 1 @0 ]\n"
                   "\"3\n[v _main `(v 0 e 1 @0 ]\n{\n\"3\n[v _n `uc 0 a 0 2 ]\n\"5\n{\n\"5\n"
                   "[v _k `i 0 a 0 3 ]\n\"6\n}\n\"7\n{\n\"7\n\"8\n}\n\"9\n}\n1 4 0 0\n");
    normalize_store(run);
}

TEST_F(CodWrite, ByteOrderAfterTheWriteIsTheLastOneUsed) {
    run.options.big_endian = true;
    read_program(run);
    write_cod(run);
    EXPECT_FALSE(run.options.big_endian);
}

TEST_F(CodWrite, FailedBlockWritesReport413) {
    FILE* full = fopen("/dev/full", "wb");
    if (!full) GTEST_SKIP() << "no /dev/full";
    setvbuf(full, nullptr, _IONBF, 0);
    read_program(run);
    int status = 0;
    std::string text = capture_stderr([&] { cod_format.write(run, full, "full.cod"); }, &status);
    fclose(full);
    EXPECT_EQ(status, -1);
    // The line, file-name, short symbol, long symbol and locals blocks and the directory.
    EXPECT_EQ(count_of(text, "(413)"), 6u) << text;
    EXPECT_NE(text.find("full.cod"), std::string::npos);
}

// The directory, written last over block 0, is still in the stream's buffer when the
// tables are out: a device that fails only there is reported when the writer flushes.
TEST_F(CodWrite, AFailedLastFlushReports413) {
#ifndef __GLIBC__
    GTEST_SKIP() << "needs a stream of the C library's own making";
#else
    static off64_t at;
    at = 0;
    cookie_io_functions_t io = {};
    io.write = [](void*, const char*, size_t n) -> ssize_t {
        if (at == 0) return -1;
        at += off64_t(n);
        return ssize_t(n);
    };
    io.seek = [](void*, off64_t* offset, int whence) {
        if (whence == SEEK_CUR)
            *offset = at += *offset;
        else
            at = *offset;
        return 0;
    };
    FILE* out = fopencookie(nullptr, "w", io);
    read_program(run);
    std::string text = capture_stderr([&] { cod_format.write(run, out, "late.cod"); });
    fclose(out);
    EXPECT_NE(text.find("(413) could not write all of the output file \"late.cod\""),
              std::string::npos)
        << text;
#endif
}

} // namespace
