// What reading gcc's ELF files puts in the type model, where the peers cannot see it:
// gdb's ptype shows neither a bit-field's position in its unit nor the family's const
// flag. The files are those of tests/data/elfreal, built from prog.c and prog.h there.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "common/alert.h"
#include "formats/elf/elf_file.h"
#include "model/run.h"
#include "model/store.h"
#include "model/type.h"
#include "test_support.h"

namespace {

const ScopeEntry* find_entry(::Run& run, const char* name, uint32_t sclass) {
    const ScopeEntry* found = nullptr;
    walk_scope(
        static_cast<const ScopeEntry*>(run.type_model.global_scope),
        [&](const ScopeEntry* entry, const ScopeEntry*) {
            if (!found && entry->sclass == sclass &&
                (entry->name == name || entry->aggregate().tag == name))
                found = entry;
            return true;
        },
        [](const ScopeEntry*) {});
    return found;
}

// Reads the sample into a fresh store and model, with the message lines given loaded;
// answers what it said.
std::string read_sample(::Run& run, const char* file, const char* message_lines = nullptr) {
    start_without_messages(run);
    if (message_lines) {
        EXPECT_TRUE(load_message_file(run.messages, temp_file(message_lines).c_str()));
    }
    std::string path = std::string(SYMVERT_SOURCE_DIR) + "/tests/data/elfreal/" + file;
    FILE* in = fopen(path.c_str(), "rb");
    EXPECT_NE(in, nullptr) << path;
    if (!in) return "";
    std::string said = capture_stderr([&] { EXPECT_EQ(elf_read(run, in, file), 1); });
    fclose(in);
    return said;
}

// struct status { unsigned ready : 1; unsigned error : 1; unsigned count : 6; byte_t code; }:
// the fields fill the first byte of a 4-byte unit, from its lowest bit in a little-endian
// program and from its highest in a big-endian one; DWARF 4 gives their places as
// DW_AT_bit_offset from the unit's top, DWARF 5 as DW_AT_data_bit_offset from its start.
TEST(ElfRead, BitFieldsAtTheirPlaceInEitherOrderAndVersion) {
    ::Run run;
    using Field = std::tuple<std::string, int32_t, int32_t, int32_t, int32_t>;
    const std::vector<Field> little = {
        {"ready", 0, 4, 1, 0}, {"error", 0, 4, 1, 1}, {"count", 0, 4, 6, 2}, {"code", 1, 1, 0, 0}};
    const std::vector<Field> big = {{"ready", 0, 4, 1, 31},
                                    {"error", 0, 4, 1, 30},
                                    {"count", 0, 4, 6, 24},
                                    {"code", 1, 1, 0, 0}};
    const std::pair<const char*, const std::vector<Field>*> samples[] = {{"arm-v4.elf", &little},
                                                                         {"arm-v5.elf", &little},
                                                                         {"mips-be-v4.elf", &big},
                                                                         {"mips-be.o", &big}};
    for (const auto& [file, want] : samples) {
        read_sample(run, file);
        const ScopeEntry* status = find_entry(run, "status", SC_STRUCT);
        ASSERT_NE(status, nullptr) << file;
        std::vector<Field> got;
        for (const Member& m : status->aggregate().members)
            got.push_back({m.name, m.offset, m.size, m.bit_width, m.bit_offset});
        EXPECT_EQ(got, *want) << file;
        EXPECT_EQ(status->aggregate().size, 4u) << file;
    }
}

// const char banner[]: gcc gives it as a const array of const char, and each const
// becomes the family's qualifier (ARM: 'C').
TEST(ElfRead, ConstReachesTheFamilysQualifier) {
    ::Run run;
    read_sample(run, "arm-v5.elf");
    const ScopeEntry* banner = find_entry(run, "banner", SC_EXTERN);
    ASSERT_NE(banner, nullptr);
    ASSERT_NE(banner->type, nullptr);
    std::string kinds;
    for (const TypeNode* node : banner->type->base_first())
        kinds += node->kind == TYPE_QUALIFIER ? "q" + node->text
                 : node->kind == TYPE_ARRAY   ? "[]"
                                              : "b";
    EXPECT_EQ(kinds, "bqC[]qC");
}

// Symbols as readelf shows them (readelf -s arm-v5.elf): a global in the table of the ELF
// file itself, a local in that of the file symbol before it, neither of them absolute,
// each in the segment of its section.
TEST(ElfRead, SymbolsInTheirFilesTables) {
    ::Run run;
    read_sample(run, "arm-v5.elf");
    auto in_file = [&](const char* file, const char* name) -> const SymbolRecord* {
        for (const SymbolRecord* symbol : run.store.symbols) {
            const FileRecord* owner = file_of(run, symbol->file);
            if (symbol->name == name && owner && owner->name == file) return symbol;
        }
        return nullptr;
    };
    const SymbolRecord* checksum = in_file("arm-v5.elf", "checksum");
    ASSERT_NE(checksum, nullptr);
    EXPECT_EQ(checksum->value, 0x81ECu);
    EXPECT_EQ(checksum->flags & (SYM_ABSOLUTE | SYM_LOCAL), 0u);
    EXPECT_STREQ(segment_name(run, checksum->segment), ".text");
    const SymbolRecord* limits = in_file("prog.c", "limits");
    ASSERT_NE(limits, nullptr);
    EXPECT_EQ(limits->value, 0x8254u);
    EXPECT_EQ(limits->flags & (SYM_ABSOLUTE | SYM_LOCAL), uint32_t(SYM_LOCAL));
    EXPECT_STREQ(segment_name(run, limits->segment), ".rodata");
}

// Line records: the statement rows of each unit's program, a row that repeats the one
// before it (the same address, line and file: another view of it) kept once. Of the 70
// statement rows that readelf --debug-dump=decodedline shows of this -O2 program, 6
// repeat the row before them.
TEST(ElfRead, StatementRowsKeptOnceEach) {
    ::Run run;
    read_sample(run, "mips-be-v4.elf");
    std::map<std::string, unsigned> per_file;
    for (const LineRecord* line : run.store.lines)
        if (const FileRecord* file = file_of(run, line->file)) ++per_file[file->name];
    const std::map<std::string, unsigned> want = {{"prog.c", 50}, {"util.c", 14}};
    EXPECT_EQ(per_file, want);
}

// What the model cannot hold is said once per kind: gcc's -O2 program of DWARF 2 has
// variables whose DW_AT_location is an offset into .debug_loc, and three
// DW_TAG_inlined_subroutine entries (readelf --debug-dump=info arm-O2.elf); every other
// location is one address, register or frame offset.
TEST(ElfRead, WhatIsLeftOutIsSaidOncePerKind) {
    ::Run run;
    const std::string said = read_sample(run, "arm-O2.elf", "431 1 %s holds no %s\n");
    EXPECT_EQ(count_of(said, "(431)"), 2u) << said;
    EXPECT_NE(said.find("no location lists"), std::string::npos) << said;
    EXPECT_NE(said.find("no inlined subroutines"), std::string::npos) << said;
}

// A block that declares a local takes the lines of the rows inside its own pc range: at
// -O0 gcc gives the block of block.c (lines 8 to 11) low_pc 0x8018 and a length of 0x28,
// and the rows of 0x8018 to 0x803F are those of lines 9, 9 and 10 (readelf
// --debug-dump=info,decodedline arm-block-O0.elf).
TEST(ElfRead, BlockWithItsOwnRangeTakesTheLinesInside) {
    ::Run run;
    read_sample(run, "arm-block-O0.elf");
    const ScopeEntry* block = nullptr;
    walk_scope(
        static_cast<const ScopeEntry*>(run.type_model.global_scope),
        [&](const ScopeEntry* entry, const ScopeEntry* holder) {
            if (entry->name == "twice" && holder->sclass == SC_BLOCK) block = holder;
            return true;
        },
        [](const ScopeEntry*) {});
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->scope().first_line, 9u);
    EXPECT_EQ(block->scope().last_line, 10u);
}

} // namespace
