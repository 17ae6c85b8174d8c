// The ELF writer and its DWARF sections: the file layout, the symbol table, the machine
// hooks, the debugging entries made from scopes and types, and the line-number programs.
// Each test builds a program in the store and the type model, writes it and takes the
// bytes apart with the small readers below.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "common/osdep.h"
#include "debug_helpers.h"
#include "driver/normalize.h"
#include "formats/descriptors.h"
#include "formats/elf/dwarf.h"
#include "formats/elf/dwarf_constants.h"
#include "formats/elf/elf.h"
#include "formats/hexfields.h"
#include "model/store.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A written ELF file taken apart.
struct Elf {
    Bytes bytes;
    ByteOrder order = ByteOrder::little;
    ElfHeader header;
    std::vector<ElfSectionHeader> sections;
    std::vector<std::string> names;
    std::vector<ElfProgramHeader> programs;

    explicit Elf(Bytes written) : bytes(std::move(written)) {
        if (bytes.size() < ELF_HEADER_SIZE) return;
        order = bytes[EI_DATA] == ELFDATA2MSB ? ByteOrder::big : ByteOrder::little;
        ByteReader in(bytes.data(), bytes.size(), order);
        in.record_at(0, &header);
        for (unsigned k = 0; k < header.shnum; ++k) {
            ElfSectionHeader section;
            in.record_at(header.shoff + k * ELF_SECTION_HEADER_SIZE, &section);
            sections.push_back(section);
        }
        for (unsigned k = 0; k < header.phnum; ++k) {
            ElfProgramHeader program;
            in.record_at(header.phoff + k * ELF_PROGRAM_HEADER_SIZE, &program);
            programs.push_back(program);
        }
        for (const ElfSectionHeader& section : sections)
            names.push_back(text_at(sections[header.shstrndx].offset + section.name));
    }
    std::string text_at(size_t at) const {
        std::string text;
        while (at < bytes.size() && bytes[at])
            text += char(bytes[at++]);
        return text;
    }
    int index(const std::string& name) const {
        for (size_t k = 0; k < names.size(); ++k)
            if (names[k] == name) return int(k);
        return -1;
    }
    Bytes contents(const std::string& name) const {
        int k = index(name);
        if (k < 0) return {};
        const ElfSectionHeader& s = sections[size_t(k)];
        return Bytes(bytes.begin() + s.offset, bytes.begin() + s.offset + s.size);
    }
    // Each symbol as "name value info other section".
    std::vector<std::string> symbols() const {
        std::vector<std::string> rows;
        Bytes table = contents(".symtab");
        size_t strtab = sections[size_t(index(".strtab"))].offset;
        for (size_t at = 0; at + ELF_SYMBOL_SIZE <= table.size(); at += ELF_SYMBOL_SIZE) {
            ElfSymbol s = decode<ElfSymbol>(table.data() + at, order);
            char row[200];
            snprintf(row, sizeof row, "%s %X %X %X %X", text_at(strtab + s.name).c_str(),
                     unsigned(s.value), unsigned(s.info), unsigned(s.other), unsigned(s.shndx));
            rows.push_back(row);
        }
        return rows;
    }
};

Bytes write_elf() {
    return written_by(elf_format, "out.elf");
}

// ---- A reader of the debugging entries symvert writes ----

const std::map<unsigned, const char*> TAG_NAMES = {
#define DW_TAG(value, name) {value, #name},
#include "formats/elf/dwarf.def"
#undef DW_TAG
};
const std::map<unsigned, const char*> AT_NAMES = {
#define DW_AT(value, name) {value, #name},
#include "formats/elf/dwarf.def"
#undef DW_AT
};

struct Abbreviation {
    unsigned tag = 0;
    bool children = false;
    std::vector<std::pair<unsigned, unsigned>> attributes;
};

// Every unit's entries, one line each, indented by depth: the tag, then name=value per
// attribute (references as @offset, blocks as their bytes in hexadecimal).
std::string entries(const Elf& elf) {
    Bytes abbrev = elf.contents(".debug_abbrev");
    Bytes info = elf.contents(".debug_info");
    std::map<uint64_t, Abbreviation> table;
    ByteReader a(abbrev.data(), abbrev.size(), elf.order);
    for (uint64_t code = a.uleb128(); code && a.ok(); code = a.uleb128()) {
        Abbreviation& entry = table[code];
        entry.tag = unsigned(a.uleb128());
        entry.children = a.u8() != 0;
        for (uint64_t at = a.uleb128(), form = a.uleb128(); at || form;
             at = a.uleb128(), form = a.uleb128())
            entry.attributes.push_back({unsigned(at), unsigned(form)});
    }
    std::string text;
    ByteReader in(info.data(), info.size(), elf.order);
    while (in.remaining() && in.ok()) {
        uint64_t start = in.position();
        uint64_t end = start + 4 + in.u32();
        in.skip(6);
        unsigned address_size = in.u8();
        int depth = 0;
        while (in.position() < end && in.ok()) {
            uint64_t at = in.position() - start;
            uint64_t code = in.uleb128();
            if (code == 0) {
                --depth;
                continue;
            }
            const Abbreviation& abbreviation = table[code];
            char head[64];
            snprintf(head, sizeof head, "%02X:", unsigned(at));
            text += head + std::string(size_t(2 * std::max(depth, 0)), ' ') +
                    TAG_NAMES.at(abbreviation.tag);
            for (auto [attribute, form] : abbreviation.attributes) {
                char value[64] = "";
                std::string shown;
                switch (form) {
                case DW_FORM_string: shown = in.cstring(4096); break;
                case DW_FORM_data1:
                case DW_FORM_flag: snprintf(value, sizeof value, "%X", unsigned(in.u8())); break;
                case DW_FORM_data2: snprintf(value, sizeof value, "%X", unsigned(in.u16())); break;
                case DW_FORM_data4: snprintf(value, sizeof value, "%X", unsigned(in.u32())); break;
                case DW_FORM_ref4: snprintf(value, sizeof value, "@%X", unsigned(in.u32())); break;
                case DW_FORM_udata:
                    snprintf(value, sizeof value, "%X", unsigned(in.uleb128()));
                    break;
                case DW_FORM_addr:
                    snprintf(value, sizeof value, "%X", unsigned(in.uint(address_size)));
                    break;
                case DW_FORM_block1:
                    for (unsigned n = in.u8(); n > 0; --n) {
                        snprintf(value, sizeof value, "%02X", unsigned(in.u8()));
                        shown += value;
                    }
                    value[0] = 0;
                    break;
                }
                text += std::string(" ") + AT_NAMES.at(attribute) + "=" + shown + value;
            }
            text += "\n";
            if (abbreviation.children) ++depth;
        }
        in.seek(end);
    }
    return text;
}

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

size_t count_of(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

// ---- Line-number programs ----

TEST(DwarfLines, HeaderSequencesAndEveryKindOfStep) {
    reset_run_state();
    uint32_t m = add_file("m.c"), x = add_file("src/x.c"), y = add_file("y.c");
    add_line(10, 0x100, 1, m, 0);
    add_line(11, 0x114, 1, m, 0); // an address step of 20: const_add_pc, then 4
    add_line(23, 0x118, 1, m, 0); // a line step of 12: advance_line
    add_line(23, 0x120, 1, m, 0); // the same line again ends the sequence
    add_line(40, 0x122, 1, y, 0); // a file the unit does not name
    add_line(5, 0x130, 1, x, 0);  // another file starts a new sequence
    add_line(6, 0x160, 1, x, 0);  // an address step of 48: advance_pc
    UnitFiles unit;
    unit.files = {{"m.obj", 0, 0}, {"m.c", 0, m}, {"x.c", 1, x}};
    unit.directories = {"", "src"};
    ByteWriter out(ByteOrder::little);
    AddressRange range;
    write_line_program(out, unit, SortedLines(), 4, &range);
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

// ---- Programs ----

// A program of the ARM family: code class CODE with segment "text" at 0x100, data
// class DATA with "ram" at 0x1000, the modules' side files, symbols and lines given.
class ElfWrite : public testing::Test {
  protected:
    void SetUp() override {
        start_run("AT91R40008");
        options.processor_list = {"ARM"};
        options.program_classes = {"CODE"};
    }

    void program(const std::vector<std::pair<const char*, std::string>>& modules) {
        uint32_t code = store.segments.count() + 1;
        add_segment("CODE", 0, 0, 0, code);
        add_segment("text", 0x100, 0x100, 0x100, code);
        uint32_t data = store.segments.count() + 1;
        add_segment("DATA", 0, 0, 0, data);
        add_segment("ram", 0x1000, 0x40, 0x1000, data);
        uint32_t file = add_file("m.c");
        for (auto [name, value, in_code] : symbols)
            add_symbol(name, value, in_code ? code : data, file, 0);
        for (auto [line, address] : lines)
            add_line(line, address, code, file, 2);
        Bytes bytes(0x10, 0xA5);
        add_data(0x100, uint32_t(bytes.size()), bytes.data(), 0);
        for (const auto& [object, text] : modules)
            read_text(text, object);
        normalize_store();
    }

    std::vector<std::tuple<const char*, uint32_t, bool>> symbols = {
        {"_main", 0x100, true},    {"__end_of_main", 0x120, true}, {"?a_main", 0x1010, false},
        {"?_main", 0x1020, false}, {"_g", 0x1000, false},          {"_table", 0x1030, false},
        {"_helper", 0x140, true},
    };
    std::vector<std::pair<uint32_t, uint32_t>> lines = {
        {10, 0x100}, {11, 0x104}, {12, 0x108}, {14, 0x130}, {21, 0x140},
    };
};

const char* const MAIN = R"([p GLOBOPT ARMV4T ]
"1 m.c
[s S1 pair 4 `s a 2 0 `s b 2 2 ]
[s S2 node 12 S1 p 4 0 *S2 next 4 4 `uc on 1 8 :1:0 `uc . 1 8 :7:1 ]
[u U1 . 4 `ul word 4 0 `uc byte 1 0 ]
[e E1 led `uc RED 1 GREEN 2 ]
[v _g S2 0 e 1 @4096 ]
[v _count `T(v 0 t 0 ]
[v _table [3][2]`i 0 e 1 @4112 ]
[v _u U1 0 s 1 @4108 ]
"10
[v _main `T(i 0 e 1 @0 ]
{
"10
[v _x `i 0 p 0 0 ]
"11
[v _y `Vuc 0 a 0 4 ]
[v _r `ul 0 r 0 r5 ]
{
"12
[v _z **E1 0 a 0 8 ]
"13
}
"16
}
1 0 0 0
)";

TEST_F(ElfWrite, EntriesOfOneUnitFromScopesAndTypes) {
    program({{"m.obj", MAIN}});
    Bytes bytes;
    std::string err = capture_stderr([&] { bytes = write_elf(); });
    Elf elf(bytes);
    // _u has no symbol to give its address.
    EXPECT_EQ(err, "(0) DWARF: Can't find variable location: '_u' (warning)\n");
    EXPECT_EQ(
        entries(elf),
        "0B:compile_unit stmt_list=0 producer=Symvert - NORVALE Software language=1 name=m.obj "
        "low_pc=100 high_pc=140\n"
        "3B:  enumeration_type sibling=@5A name=led byte_size=1\n"
        "45:    enumerator name=RED const_value=1\n"
        "4E:    enumerator name=GREEN const_value=2\n"
        // A structure's member types come first; the pointer to the structure being
        // written gets its offset when the structure is done.
        "5A:  base_type name=short int byte_size=2 encoding=5\n"
        "67:  structure_type sibling=@8A name=pair byte_size=4 decl_file=1 decl_line=1\n"
        "75:    member name=a type=@5A data_member_location=2300\n"
        "7F:    member name=b type=@5A data_member_location=2302\n"
        "8A:  pointer_type type=@A1 byte_size=4\n"
        "90:  base_type name=unsigned char byte_size=1 encoding=8\n"
        "A1:  structure_type sibling=@E1 name=node byte_size=C decl_file=1 decl_line=1\n"
        "AF:    member name=p type=@67 data_member_location=2300\n"
        "B9:    member name=next type=@8A data_member_location=2304\n"
        "C6:    member name=on type=@90 byte_size=1 bit_size=1 bit_offset=7 "
        "data_member_location=2308\n"
        "D4:    member name= type=@90 byte_size=1 bit_size=7 bit_offset=6 "
        "data_member_location=2308\n"
        "E1:  variable name=_g decl_file=1 decl_line=1 type=@A1 external=1 location=0300100000\n"
        // Qualifier bit 0x400 is written as const.
        "F3:  subroutine_type\n"
        "F4:  const_type type=@F3\n"
        "F9:  typedef name=_count decl_file=1 decl_line=1 type=@F4\n"
        "108:  base_type name=int byte_size=4 encoding=5\n"
        "10F:  array_type sibling=@123 type=@108\n"
        "118:    subrange_type upper_bound=2\n"
        "11D:    subrange_type upper_bound=1\n"
        "123:  variable name=_table decl_file=1 decl_line=1 type=@10F external=1 "
        "location=0330100000\n"
        // The return type lies below the function node, past the thumb qualifier.
        "139:  subprogram name=_main type=@108 external=1 decl_file=1 decl_line=A low_pc=100 "
        "high_pc=120 frame_base=6D\n"
        // Frame offsets count from the function's first number (1).
        "151:    formal_parameter name=_x decl_file=1 decl_line=A type=@108 location=919F20\n"
        "160:    volatile_type type=@90\n"
        "165:    variable name=_y decl_file=1 decl_line=B type=@160 location=919320\n"
        "174:    base_type name=ul byte_size=4 encoding=7\n"
        "17A:    variable name=_r decl_file=1 decl_line=B type=@174 location=9005\n"
        // The block's entries belong to the function.
        "188:    pointer_type type=@3B byte_size=4\n"
        "18E:    pointer_type type=@188 byte_size=4\n"
        "194:    variable name=_z decl_file=1 decl_line=C type=@18E location=919720\n");
}

// The abbreviation codes of a file's entries, in order of appearance.
std::string codes_used(const Elf& elf) {
    Bytes abbrev = elf.contents(".debug_abbrev");
    std::string codes;
    ByteReader a(abbrev.data(), abbrev.size(), elf.order);
    for (uint64_t code = a.uleb128(); code && a.ok(); code = a.uleb128()) {
        codes += std::to_string(code) + " ";
        a.uleb128();
        a.u8();
        for (uint64_t at = a.uleb128(), form = a.uleb128(); at || form;
             at = a.uleb128(), form = a.uleb128()) {
        }
    }
    return codes;
}

TEST_F(ElfWrite, UnitsShareTheAbbreviationsAndEachWritesItsOwnTypes) {
    symbols.push_back({"_h", 0x1004, false});
    program(
        {{"a.obj", "[p GLOBOPT ]\n\"1 m.c\n[v _g `i 0 e 1 @4096 ]\n"},
         {"b.obj", "[p GLOBOPT ]\n\"1 other.c\n[v _g `i 0 e 1 @4096 ]\n[v _h `i 0 e 1 @4096 ]\n"},
         {"c.obj", "[p GLOBOPT ]\n\"1 m.c\n"}});
    Elf elf(write_elf());
    // One abbreviation per kind met: units with and without children, the base type and
    // the extern variable; the second unit adds none.
    EXPECT_EQ(codes_used(elf), "1 2 3 4 ");
    EXPECT_EQ(entries(elf),
              "0B:compile_unit stmt_list=0 producer=Symvert - NORVALE Software language=1 "
              "name=a.obj low_pc=100 high_pc=140\n"
              "3B:  base_type name=int byte_size=4 encoding=5\n"
              "42:  variable name=_g decl_file=1 decl_line=1 type=@3B external=1 "
              "location=0300100000\n"
              // The global typedef "i" is written again: references count from their
              // own unit's header. No line names a file of this unit: no range.
              "0B:compile_unit stmt_list=32 producer=Symvert - NORVALE Software language=1 "
              "name=b.obj low_pc=FFFFFFFF high_pc=0\n"
              "3B:  base_type name=int byte_size=4 encoding=5\n"
              "42:  variable name=_g decl_file=1 decl_line=1 type=@3B external=1 "
              "location=0300100000\n"
              "54:  variable name=_h decl_file=1 decl_line=1 type=@3B external=1 "
              "location=0304100000\n"
              // A module with one entry has no children.
              "0B:compile_unit stmt_list=57 producer=Symvert - NORVALE Software language=1 "
              "name=c.obj low_pc=100 high_pc=140\n");
}

// ---- The file ----

TEST(ElfFile, AnEmptyStoreGivesTheFixedSections) {
    reset_run_state();
    Elf elf(write_elf());
    EXPECT_EQ(elf.names, (std::vector<std::string>{"", ".strtab", ".symtab", ".shstrtab"}));
    EXPECT_EQ(hex(elf.bytes, 0, 16), "7F 45 4C 46 01 01 01 FF 00 00 00 00 00 00 00 00");
    EXPECT_EQ(elf.header.type, ET_EXEC);
    EXPECT_EQ(elf.header.machine, 0);
    EXPECT_EQ(elf.header.ehsize, 52);
    // Every piece follows the one before it: the strings at 52, one null symbol, the
    // section names, the section headers, then the one program header.
    EXPECT_EQ(elf.sections[1].offset, 52u);
    EXPECT_EQ(elf.sections[1].size, 1u);
    EXPECT_EQ(elf.sections[2].offset, 53u);
    EXPECT_EQ(elf.sections[2].size, 16u);
    EXPECT_EQ(elf.sections[2].link, 1u);
    EXPECT_EQ(elf.sections[2].entsize, 16u);
    EXPECT_EQ(elf.sections[3].offset, 69u);
    EXPECT_EQ(elf.header.shoff, 69u + elf.sections[3].size);
    EXPECT_EQ(elf.header.phoff, elf.header.shoff + 4 * 40);
    ASSERT_EQ(elf.programs.size(), 1u);
    EXPECT_EQ(elf.programs[0].type, uint32_t(PT_PHDR));
    EXPECT_EQ(elf.programs[0].offset, elf.header.phoff);
    EXPECT_EQ(elf.programs[0].filesz, 32u);
    EXPECT_EQ(elf.bytes.size(), elf.header.phoff + 32u);
}

TEST_F(ElfWrite, SectionsProgramHeadersAndSymbols) {
    entry_address = 0x104;
    program({{"m.obj", MAIN}});
    // A segment without data, one whose space is missing and one that is its own space.
    add_segment("heap", 0x2000, 0x80, 0x2000, 3);
    add_segment("lost", 0x3000, 0x10, 0x3000, 99);
    add_segment("SELF", 0x4000, 0x10, 0x4000, store.segments.count() + 1);
    add_symbol("_abs", 0x104, 0, 1, 0);
    add_symbol("_twice", 0x2004, 3, 1, SYM_LOCAL);
    add_segment("heap2", 0x2000, 0x10, 0x2000, 3); // overlaps heap
    normalize_store();
    Elf elf(write_elf());
    EXPECT_EQ(elf.header.machine, 40); // ARM, from the -p item
    EXPECT_EQ(elf.header.entry, 0x104u);
    EXPECT_EQ(elf.names, (std::vector<std::string>{"", "text", "ram", "heap", "heap2", ".strtab",
                                                   ".symtab", ".debug_abbrev", ".debug_info",
                                                   ".debug_line", ".shstrtab"}));
    const ElfSectionHeader& text = elf.sections[1];
    EXPECT_EQ(text.type, uint32_t(SHT_PROGBITS));
    EXPECT_EQ(text.offset, 52u);
    EXPECT_EQ(text.size, 0x100u); // the segment's size, of which 0x10 bytes are stored
    EXPECT_EQ(text.flags, 6u);
    EXPECT_EQ(hex(elf.bytes, 52, 2), "A5 A5");
    const ElfSectionHeader& ram = elf.sections[2];
    EXPECT_EQ(ram.type, uint32_t(SHT_NOBITS));
    EXPECT_EQ(ram.offset, 52u + 0x10);
    EXPECT_EQ(ram.flags, 3u);
    EXPECT_EQ(elf.sections[5].offset, 52u + 0x10); // nothing was stored after the text
    ASSERT_EQ(elf.programs.size(), 5u);
    EXPECT_EQ(elf.programs[1].type, uint32_t(PT_LOAD));
    EXPECT_EQ(elf.programs[1].vaddr, 0x100u);
    EXPECT_EQ(elf.programs[1].filesz, 0x10u);
    EXPECT_EQ(elf.programs[1].memsz, 0x100u);
    EXPECT_EQ(elf.programs[2].filesz, 0u);
    for (const ElfSectionHeader& debug : {elf.sections[7], elf.sections[8], elf.sections[9]})
        EXPECT_EQ(debug.type, 7u);
    // Absolute symbols first, then each section's by address, in file order; a symbol in
    // two overlapping segments is entered twice. st_info from the type model: a function
    // of the side file, an object, and no type for names it does not declare.
    EXPECT_EQ(elf.symbols(), (std::vector<std::string>{
                                 " 0 0 0 0", "_abs 104 10 0 FFF1", "_main 100 12 0 1",
                                 "__end_of_main 120 10 0 1", "_helper 140 10 0 1",
                                 "?a_main 1010 10 0 2", "?_main 1020 10 0 2", "_g 1000 11 0 2",
                                 "_table 1030 11 0 2", "_twice 2004 0 0 3", "_twice 2004 0 0 4"}));
}

TEST_F(ElfWrite, BigEndianWithMinusB) {
    options.big_endian = true;
    program({{"m.obj", MAIN}});
    Elf elf(write_elf());
    EXPECT_EQ(elf.bytes[EI_DATA], ELFDATA2MSB);
    EXPECT_EQ(hex(elf.bytes, 16, 4), "00 02 00 28"); // e_type, e_machine
    EXPECT_EQ(elf.symbols()[1], "_main 100 12 0 1");
    EXPECT_EQ(entries(elf).substr(0, 40), "0B:compile_unit stmt_list=0 producer=Sym");
}

TEST(ElfFile, MachineChoiceAndHooks) {
    auto write_with = [](const char* name, std::vector<std::string> list) {
        reset_run_state();
        options.processor_name = name;
        options.processor_list = std::move(list);
        options.program_classes = {"CODE"};
        add_segment("CODE", 0, 0, 0, 1);
        add_segment("text", 0x200, 0x10, 0x200, 1);
        add_segment("DATA", 0, 0, 0, 3);
        add_segment("ram", 0x800, 0x10, 0x800, 3);
        uint32_t file = add_file("m.c");
        add_symbol("_f", 0x200, 2, file, 0);
        add_symbol("_v", 0x800, 4, file, 0);
        add_bounds("_f", 0x200, 0x20F, 1);
        store.symbols[0]->bounds = store.bounds[0];
        normalize_store();
        return Elf(write_elf());
    };
    // The whole -p name must stand in a description: dsPIC30F6014 does not, dsPIC30F does.
    EXPECT_EQ(write_with("dsPIC30F6014", {}).header.machine, 0);
    Elf dspic = write_with("30F6014", {"zz", "dsPIC30F"}); // items are tried in order
    EXPECT_EQ(dspic.header.machine, 118);
    EXPECT_EQ(dspic.header.flags, 5u);
    EXPECT_EQ(dspic.sections[1].addr, 0x100u); // program memory counts two-byte words
    EXPECT_EQ(dspic.sections[1].flags, 6u);
    EXPECT_EQ(dspic.sections[2].addr, 0x800u);
    EXPECT_EQ(dspic.sections[2].flags, 3u);
    EXPECT_EQ(dspic.programs[1].vaddr, 0x100u);
    EXPECT_EQ(dspic.symbols()[1], "_f 200 10 0 1"); // the value stays a byte address

    Elf mips = write_with("32MX360F512L", {"PIC32MX"});
    EXPECT_EQ(mips.header.machine, 8);
    EXPECT_EQ(mips.header.flags, 0u);
    EXPECT_EQ(mips.symbols()[1], "_f 200 10 F0 1"); // bounds with init 1: MIPS16 code
    EXPECT_EQ(mips.symbols()[2], "_v 800 10 0 2");
    // An empty first name matches the first row.
    EXPECT_EQ(write_with("", {"PIC32MX"}).header.machine, 0);
}

// ---- Limits ----

TEST_F(ElfWrite, EntriesPastTheLimitAreCutAndReported) {
    std::string side = "[p GLOBOPT ]\n\"1 m.c\n[s S1 big 500";
    for (int k = 0; k < 500; ++k)
        side += " `uc m" + std::to_string(k) + " 1 " + std::to_string(k);
    side += " ]\n[v _" + std::string(3000, 'n') + " `i 0 e 1 @4096 ]\n[v _s S1 0 e 1 @4096 ]\n";
    // Ten levels of pointers and arrays, and structures that point at each other.
    side += "[s S2 a 4 *S3 b 4 0 ]\n[s S3 b 4 *S2 a 4 0 *S3 self 4 0 ]\n"
            "[v _deep *[2]*[2]*[2]*[2]*[2]*S2 0 e 1 @4096 ]\n";
    symbols.push_back({"_s", 0x1000, false});
    symbols.push_back({"_deep", 0x1000, false});
    const std::string long_name = "_" + std::string(3000, 'n');
    symbols.push_back({long_name.c_str(), 0x1000, false});
    std::string err = capture_stderr([&] {
        program({{"m.obj", side}});
        write_elf();
    });
    EXPECT_EQ(count_of(err, "(0) DWARF: Buffer overflow in DIE."), 2u) << err;
    // The pointers of the two structures name each other.
    start_run("AT91R40008");
    options.processor_list = {"ARM"};
    symbols = {{"_deep", 0x1000, false}};
    program({{"m.obj", "[p GLOBOPT ]\n\"1 m.c\n[s S2 a 4 *S3 b 4 0 ]\n"
                       "[s S3 b 8 *S2 a 4 0 *S3 self 4 4 ]\n[v _deep *S2 0 e 1 @4096 ]\n"}});
    EXPECT_EQ(entries(Elf(write_elf())),
              "0B:compile_unit stmt_list=0 producer=Symvert - NORVALE Software language=1 "
              "name=m.obj low_pc=100 high_pc=140\n"
              "3B:  pointer_type type=@70 byte_size=4\n" // S3's member a, to S2
              "41:  pointer_type type=@47 byte_size=4\n" // S3's member self
              "47:  structure_type sibling=@6A name=b byte_size=8 decl_file=1 decl_line=1\n"
              "52:    member name=a type=@3B data_member_location=2300\n"
              "5C:    member name=self type=@41 data_member_location=2304\n"
              "6A:  pointer_type type=@47 byte_size=4\n" // S2's member b
              "70:  structure_type sibling=@86 name=a byte_size=4 decl_file=1 decl_line=1\n"
              "7B:    member name=b type=@6A data_member_location=2300\n"
              "86:  pointer_type type=@70 byte_size=4\n"
              "8C:  variable name=_deep decl_file=1 decl_line=1 type=@86 external=1 "
              "location=0300100000\n");
}

TEST_F(ElfWrite, FailedWritesAreReported) {
    program({{"m.obj", MAIN}});
    FILE* full = fopen("/dev/full", "wb");
    if (!full) GTEST_SKIP() << "no /dev/full";
    setvbuf(full, nullptr, _IONBF, 0);
    std::string err = capture_stderr([&] { elf_format.write(full, "full.elf"); });
    fclose(full);
    // Each DWARF section with its own message, the other pieces with 413.
    EXPECT_EQ(count_of(err, "(621)"), 3u) << err;
    EXPECT_NE(err.find(".debug_info"), std::string::npos);
    EXPECT_NE(err.find("(413)"), std::string::npos);
}

// The address size follows the plain data pointer: three bytes become four; a size
// DWARF has no addresses of is reported and its address fields are left out.
TEST(ElfFile, AddressSizeFromThePointerSize) {
    for (uint32_t pointer : {3u, 0u}) {
        reset_run_state();
        ProcessorDescriptor processor = arm_processor;
        processor.type_size = {pointer, 0, 0};
        machine.selected = &processor;
        machine.selection_done = true;
        create_global_scope();
        add_symbol("_f", 0x100, 0, add_file("m.c"), 0);
        read_text("[p GLOBOPT ]\n\"1 m.c\n[v _f `(i 0 e 1 @0 ]\n{\n}\n1 0 0 0\n");
        normalize_store();
        Bytes bytes;
        std::string err = capture_stderr([&] { bytes = write_elf(); });
        Elf elf(bytes);
        Bytes info = elf.contents(".debug_info");
        ASSERT_GT(info.size(), 11u);
        if (pointer == 3) {
            EXPECT_EQ(info[10], 4);
            EXPECT_EQ(err, "");
        } else {
            EXPECT_EQ(info[10], 0);
            EXPECT_EQ(err, "(632) unusual address size 0 (warning)\n");
        }
        machine.reset();
    }
}

} // namespace
