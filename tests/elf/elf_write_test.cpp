// The ELF writer's rules that the cases in elf/cases/write do not reach: the line-number
// program of generated line steps, machine names that match no description, the entry
// limit, failed writes and odd address sizes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/options.h"
#include "debug_helpers.h"
#include "driver/normalize.h"
#include "formats/descriptors.h"
#include "formats/elf/dwarf.h"
#include "formats/elf/elf.h"
#include "model/store.h"
#include "test_support.h"

namespace {

std::string hex(const Bytes& bytes, size_t from = 0, size_t count = SIZE_MAX) {
    std::string text;
    char piece[4];
    for (size_t k = from; k < bytes.size() && k - from < count; ++k) {
        snprintf(piece, sizeof piece, "%02X ", bytes[k]);
        text += piece;
    }
    if (!text.empty()) text.pop_back();
    return text;
}

// The contents of the section of that name in a little-endian ELF file.
Bytes section(const Bytes& elf, const std::string& name) {
    ByteReader in(elf.data(), elf.size(), ByteOrder::little);
    ElfHeader header;
    in.record_at(0, &header);
    ElfSectionHeader names, s;
    in.record_at(header.shoff + header.shstrndx * ELF_SECTION_HEADER_SIZE, &names);
    for (unsigned k = 0; k < header.shnum; ++k) {
        in.record_at(header.shoff + k * ELF_SECTION_HEADER_SIZE, &s);
        if (name == reinterpret_cast<const char*>(elf.data() + names.offset + s.name))
            return Bytes(elf.begin() + s.offset, elf.begin() + s.offset + s.size);
    }
    return {};
}

TEST(DwarfLines, HeaderSequencesAndEveryKindOfStep) {
    ::Run run;
    uint32_t m = add_file(run, "m.c"), x = add_file(run, "src/x.c"), y = add_file(run, "y.c");
    add_line(run, 10, 0x100, 1, m, 0);
    add_line(run, 11, 0x114, 1, m, 0); // an address step of 20: const_add_pc, then 4
    add_line(run, 23, 0x118, 1, m, 0); // a line step of 12: advance_line
    add_line(run, 23, 0x120, 1, m, 0); // the same line again ends the sequence
    add_line(run, 40, 0x122, 1, y, 0); // a file the unit does not name
    add_line(run, 5, 0x130, 1, x, 0);  // another file starts a new sequence
    add_line(run, 6, 0x160, 1, x, 0);  // an address step of 48: advance_pc
    UnitFiles unit;
    unit.files = {{"m.obj", 0, 0}, {"m.c", 0, m}, {"x.c", 1, x}};
    unit.directories = {"", "src"};
    ByteWriter out(ByteOrder::little);
    AddressRange range;
    write_line_program(out, unit, SortedLines(run), 4, &range);
    EXPECT_EQ(hex(out.bytes()),
              "4B 00 00 00 02 00 22 00 00 00 01 01 FB 0F 0A "
              "00 01 01 01 01 00 00 00 00 "                   // standard opcode lengths
              "73 72 63 00 00 "                               // "src", end of directories
              "6D 2E 63 00 00 00 00 78 2E 63 00 01 00 00 00 " // m.c, x.c in src
              "03 09 00 05 02 00 01 00 00 01 "                // line 10 at 0x100
              "08 4C "                                        // const_add_pc, (1+5)+15*4+10
              "03 0C 4B "                                     // advance_line 12, special
              "02 08 00 01 01 "                               // advance_pc 8, end_sequence
              "04 02 03 04 00 05 02 30 01 00 00 01 "          // set_file 2, line 5 at 0x130
              "02 30 10");                                    // advance_pc 48, special
    EXPECT_EQ(range.low, 0x100u);
    EXPECT_EQ(range.high, 0x160u); // the record of the other file does not count
}

// The whole -p name must stand in a description, items are tried in order, and an empty
// name matches nothing.
TEST(ElfFile, MachineChoice) {
    ::Run run;
    const struct {
        const char* name;
        std::vector<std::string> list;
        unsigned machine;
    } rows[] = {{"dsPIC30F6014", {}, 0},
                {"30F6014", {"zz", "dsPIC30F"}, 118},
                {"32MX360F512L", {"PIC32MX"}, 8},
                {"", {"PIC32MX"}, 0}};
    for (const auto& row : rows) {
        run = ::Run();
        run.options.processor_name = row.name;
        run.options.processor_list = row.list;
        add_symbol(run, "_f", 0x200, 0, add_file(run, "m.c"), 0);
        normalize_store(run);
        Bytes elf = written_by(run, elf_format, "out.elf");
        ASSERT_GT(elf.size(), 20u);
        EXPECT_EQ(unsigned(elf[18] | elf[19] << 8), row.machine) << row.name;
    }
}

// A structure of 500 members and a name of 3000 characters pass the entry limit: each is
// cut, with one message.
TEST(ElfWrite, EntriesPastTheLimitAreCutAndReported) {
    ::Run run;
    start_run(run, "AT91R40008");
    run.options.processor_list = {"ARM"};
    std::string side = "[p GLOBOPT ]\n\"1 m.c\n[s S1 big 500";
    for (int k = 0; k < 500; ++k)
        side += " `uc m" + std::to_string(k) + " 1 " + std::to_string(k);
    const std::string long_name = "_" + std::string(3000, 'n');
    side += " ]\n[v " + long_name + " `i 0 e 1 @4096 ]\n[v _s S1 0 e 1 @4096 ]\n";
    uint32_t file = add_file(run, "m.c");
    add_symbol(run, "_s", 0x1000, 0, file, 0);
    add_symbol(run, long_name.c_str(), 0x1000, 0, file, 0);
    std::string err = capture_stderr([&] {
        read_text(run, side, "m.obj");
        normalize_store(run);
        written_by(run, elf_format, "out.elf");
    });
    EXPECT_EQ(count_of(err, "(0) DWARF: Buffer overflow in DIE."), 2u) << err;
}

// A variable's type is written to 256 levels below it: the int under 256 pointers is
// written; under 257 the innermost pointer points at no type.
TEST(ElfWrite, TypesAreWrittenTo256LevelsDeep) {
    for (unsigned levels : {256u, 257u}) {
        ::Run run;
        start_run(run, "AT91R40008");
        run.options.processor_list = {"ARM"};
        add_symbol(run, "_p", 0x1000, 0, add_file(run, "m.c"), 0);
        read_text(run, "[p GLOBOPT ]\n\"1 m.c\n[v _p `" + std::string(levels, '*') +
                           "i 0 e 1 @4096 ]\n");
        normalize_store(run);
        Bytes info = section(written_by(run, elf_format, "out.elf"), ".debug_info");
        EXPECT_EQ(count_of(std::string(info.begin(), info.end()), std::string("int\0", 4)),
                  levels == 256 ? 1u : 0u)
            << levels;
    }
}

const char* const PROGRAM = "[p GLOBOPT ]\n\"1 m.c\n[v _f `(i 0 e 1 @0 ]\n{\n}\n1 0 0 0\n";

TEST(ElfWrite, FailedWritesAreReported) {
    ::Run run;
    start_run(run, "AT91R40008");
    run.options.processor_list = {"ARM"};
    add_line(run, 1, 0x100, 0, add_file(run, "m.c"), 2);
    add_symbol(run, "_f", 0x100, 0, 1, 0);
    read_text(run, PROGRAM, "m.obj");
    normalize_store(run);
    FILE* full = fopen("/dev/full", "wb");
    if (!full) GTEST_SKIP() << "no /dev/full";
    setvbuf(full, nullptr, _IONBF, 0);
    std::string err = capture_stderr([&] { elf_format.write(run, full, "full.elf"); });
    fclose(full);
    // Each DWARF section with its own message, the other pieces with 413.
    EXPECT_EQ(count_of(err, "(621)"), 3u) << err;
    EXPECT_NE(err.find(".debug_info"), std::string::npos);
    EXPECT_NE(err.find("(413)"), std::string::npos);
}

// The address size follows the plain data pointer: three bytes become four; a size
// DWARF has no addresses of is reported and its address fields are left out.
TEST(ElfFile, AddressSizeFromThePointerSize) {
    ::Run run;
    for (uint32_t pointer : {3u, 0u}) {
        run = ::Run();
        ProcessorDescriptor processor = arm_processor;
        processor.type_size = {pointer, 0, 0};
        run.machine.selected = &processor;
        run.machine.selection_done = true;
        create_global_scope(run);
        add_symbol(run, "_f", 0x100, 0, add_file(run, "m.c"), 0);
        read_text(run, PROGRAM, "m.obj");
        normalize_store(run);
        Bytes bytes;
        std::string err = capture_stderr([&] { bytes = written_by(run, elf_format, "out.elf"); });
        Bytes info = section(bytes, ".debug_info");
        ASSERT_GT(info.size(), 11u);
        EXPECT_EQ(info[10], pointer == 3 ? 4 : 0);
        EXPECT_EQ(err, pointer == 3 ? "" : "(632) unusual address size 0 (warning)\n");
        run.machine = Machine();
    }
}

} // namespace
