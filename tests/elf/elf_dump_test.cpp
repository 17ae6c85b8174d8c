// The ELF detection and dump and the DWARF dump: each test builds a small ELF file with
// the sections it needs, dumps it and reads what was printed and reported.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/options.h"
#include "formats/descriptors.h"
#include "formats/elf/dwarf_constants.h"
#include "formats/elf/dwarf_dump_parts.h"
#include "formats/elf/elf.h"
#include "model/store.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A little- or big-endian ELF file of the given sections, each at its own offset after
// the header, the section headers (with a section-name table) last.
struct ElfBuilder {
    struct Section {
        std::string name;
        uint32_t type;
        Bytes bytes;
        uint32_t entsize = 0;
        uint32_t flags = 0;
        uint32_t link = 0;
    };
    ByteOrder order = ByteOrder::little;
    std::vector<Section> sections;
    ElfHeader header;

    ElfBuilder& add(const std::string& name, uint32_t type, Bytes bytes, uint32_t entsize = 0) {
        sections.push_back({name, type, std::move(bytes), entsize});
        return *this;
    }
    Bytes build() {
        Bytes names{0};
        std::vector<ElfSectionHeader> headers(1);
        ByteWriter body(order);
        body.zeros(ELF_HEADER_SIZE);
        auto place = [&](const std::string& name, uint32_t type, const Bytes& bytes) {
            ElfSectionHeader h;
            h.name = uint32_t(names.size());
            names.insert(names.end(), name.begin(), name.end());
            names.push_back(0);
            h.type = type;
            h.offset = uint32_t(body.size());
            h.size = uint32_t(bytes.size());
            body.bytes(bytes.data(), bytes.size());
            headers.push_back(h);
            return &headers.back();
        };
        for (const Section& s : sections) {
            ElfSectionHeader* h = place(s.name, s.type, s.bytes);
            h->entsize = s.entsize;
            h->flags = s.flags;
            h->link = s.link;
        }
        std::string shstrtab = ".shstrtab";
        names.insert(names.end(), shstrtab.begin(), shstrtab.end());
        names.push_back(0);
        ElfSectionHeader last;
        last.name = uint32_t(names.size() - shstrtab.size() - 1);
        last.type = SHT_STRTAB;
        last.offset = uint32_t(body.size());
        last.size = uint32_t(names.size());
        body.bytes(names.data(), names.size());
        headers.push_back(last);
        header.shoff = uint32_t(body.size());
        for (const ElfSectionHeader& h : headers)
            body.record(h);
        const uint8_t ident[] = {0x7F, 'E', 'L', 'F', 1, 1, 1, 0xFF};
        std::copy(ident, ident + sizeof ident, header.ident);
        header.ident[EI_DATA] = order == ByteOrder::big ? ELFDATA2MSB : ELFDATA2LSB;
        header.type = ET_EXEC;
        header.machine = 40;
        header.version = 1;
        header.ehsize = ELF_HEADER_SIZE;
        if (header.shentsize == 0) header.shentsize = ELF_SECTION_HEADER_SIZE;
        if (header.phentsize == 0) header.phentsize = ELF_PROGRAM_HEADER_SIZE;
        header.shnum = uint16_t(headers.size());
        if (header.shstrndx == 0) header.shstrndx = uint16_t(headers.size() - 1);
        body.patch_record(0, header);
        return body.take();
    }
};

// What a dump printed and reported.
Outcome dump(const Bytes& bytes, unsigned verbose = 1) {
    reset_run_state();
    return run_on(
        bytes, [](FILE* in) { return elf_format.dump(in); }, verbose);
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// ---- Debugging sections, built by hand ----

ByteWriter le() {
    return ByteWriter(ByteOrder::little);
}

// An abbreviation table: a unit with children (name string, stmt_list data4, language
// data2) and a base type without (name strp, encoding indirect).
Bytes abbreviations() {
    ByteWriter a = le();
    a.uleb128(1);
    a.uleb128(DW_TAG_compile_unit);
    a.u8(1);
    for (unsigned pair :
         {unsigned(DW_AT_name), unsigned(DW_FORM_string), unsigned(DW_AT_stmt_list),
          unsigned(DW_FORM_data4), unsigned(DW_AT_language), unsigned(DW_FORM_data2), 0u, 0u})
        a.uleb128(pair);
    a.uleb128(2);
    a.uleb128(DW_TAG_base_type);
    a.u8(0);
    for (unsigned pair : {unsigned(DW_AT_name), unsigned(DW_FORM_strp), unsigned(DW_AT_encoding),
                          unsigned(DW_FORM_indirect), 0u, 0u})
        a.uleb128(pair);
    a.u8(0);
    return a.take();
}

// A unit of that table: its length, version, abbreviation offset and address size, then
// the entries given.
Bytes unit(const Bytes& entries, uint8_t address_size = 4, uint32_t abbrev_offset = 0) {
    ByteWriter u = le();
    u.u32(7 + entries.size());
    u.u16(2);
    u.u32(abbrev_offset);
    u.u8(address_size);
    u.bytes(entries.data(), entries.size());
    return u.take();
}

Bytes unit_entries(uint32_t line_offset) {
    ByteWriter e = le();
    e.uleb128(1);
    e.cstring("m.c");
    e.u32(line_offset);
    e.u16(DW_LANG_C89);
    e.uleb128(2);
    e.u32(0); // strp: offset 0 of .debug_str
    e.uleb128(DW_FORM_data1);
    e.u8(DW_ATE_signed);
    e.u8(0);
    return e.take();
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// A line-number program: no directories, one file, then the given opcodes.
Bytes line_program(const Bytes& opcodes, uint8_t opcode_base = 10, uint8_t line_range = 15) {
    ByteWriter p = le();
    p.u32(0);
    p.u16(2);
    size_t header_length_at = p.size();
    p.u32(0);
    p.u8(1);
    p.u8(1);
    p.u8(uint8_t(-5));
    p.u8(line_range);
    p.u8(opcode_base);
    for (unsigned k = 1; k < opcode_base; ++k)
        p.u8(k <= 9 ? std::vector<uint8_t>{0, 1, 1, 1, 1, 0, 0, 0, 1}[k - 1] : 2);
    p.u8(0);
    p.cstring("m.c");
    p.uleb128(0);
    p.uleb128(0);
    p.uleb128(0);
    p.u8(0);
    p.patch(header_length_at, p.size() - header_length_at - 4, 4);
    p.bytes(opcodes.data(), opcodes.size());
    p.patch(0, p.size() - 4, 4);
    return p.take();
}

ElfBuilder dwarf_file(const Bytes& info, const Bytes& line = {}) {
    ElfBuilder b;
    b.add(".debug_str", 1, {'i', 'n', 't', 0});
    b.add(".debug_abbrev", 1, abbreviations());
    b.add(".debug_info", 1, info);
    if (!line.empty()) b.add(".debug_line", 1, line);
    return b;
}

// ---- ELF ----

TEST(ElfDetect, FiveChecksAndTheByteOrderBeforeTheVersion) {
    auto detect = [](Bytes bytes, std::string* err) {
        reset_run_state();
        options.verbose_level = 2;
        FILE* in = bytes.empty() ? tmpfile() : fmemopen(bytes.data(), bytes.size(), "rb");
        bool found = false;
        *err = capture_stderr([&] { found = elf_format.detect(in); });
        fclose(in);
        return found;
    };
    Bytes good = ElfBuilder().build();
    std::string err;
    EXPECT_TRUE(detect(good, &err));
    EXPECT_FALSE(detect(Bytes(good.begin(), good.begin() + 51), &err));
    EXPECT_EQ(err, "ELF header too short\n");
    Bytes bad = good;
    bad[1] = 'e';
    EXPECT_FALSE(detect(bad, &err));
    EXPECT_EQ(err, "Magic number not ELF\n");
    bad = good;
    bad[EI_CLASS] = 2;
    EXPECT_FALSE(detect(bad, &err));
    EXPECT_EQ(err, "Not 32 bit ELF\n");
    bad = good;
    bad[EI_DATA] = 3;
    EXPECT_FALSE(detect(bad, &err));
    EXPECT_EQ(err, "Not big or little-endian ELF (3)\n");
    bad = good;
    bad[EI_DATA] = ELFDATA2MSB;
    bad[EI_VERSION] = 2;
    EXPECT_FALSE(detect(bad, &err));
    EXPECT_EQ(err, "Unsupported ELF Version 2\n");
    EXPECT_TRUE(options.big_endian); // set before the version was looked at
}

TEST(ElfDump, NamesLevelsAndSymbolTables) {
    ElfBuilder b;
    ByteWriter symbols = le();
    symbols.zeros(ELF_SYMBOL_SIZE);
    symbols.record(ElfSymbol{1, 0x1234, 4, uint8_t(STB_GLOBAL << 4 | STT_FUNC), 0, 1});
    symbols.record(ElfSymbol{99, 0x10, 0, uint8_t(2 << 4 | 9), 0xF0, 0xFFF1});
    b.add("text", SHT_PROGBITS, {0xDE, 0xAD, 0xBE, 0xEF});
    b.sections.back().flags = 6;
    b.add(".strtab", SHT_STRTAB, {0, 'f', 0});
    b.add(".symtab", SHT_SYMTAB, symbols.take(), ELF_SYMBOL_SIZE);
    b.add(".symtab", SHT_SYMTAB, Bytes(32, 1), 0); // entry size 0: nothing listed
    b.add("odd", 0x12345, {});
    Outcome d = dump(b.build());
    EXPECT_TRUE(d.result) << d.err;
    EXPECT_TRUE(contains(d.out, "\tMachine:\tAdvanced RISC Machines ARM\n")) << d.out;
    EXPECT_TRUE(contains(d.out, "00000001: f\n"));
    EXPECT_TRUE(contains(d.out, "0001  text                 Program data                   "
                                "00000000 00000004 00000000 ALLOC EXECINSTR\n"));
    EXPECT_TRUE(contains(d.out, "\tf                     0x00001234  4      Global symbol/code "
                                "object   0x00  0x0001\n"));
    // A name outside the table; values without a name.
    EXPECT_TRUE(contains(d.out, "\t(unknown)             0x00000010  0      Weak symbol/0x9      "
                                "       0xF0  0xFFF1\n"))
        << d.out;
    EXPECT_TRUE(contains(d.out, "0005  odd                  0x12345"));
    EXPECT_TRUE(contains(d.out, "\n\nNo DWARF found\n"));

    d = dump(b.build(), 3);
    EXPECT_TRUE(contains(d.out, "\tType:   \tET_EXEC (0x2)\n"));
    EXPECT_TRUE(contains(d.out, "ALLOC EXECINSTR\n\t  34:  DE AD BE EF\n")) << d.out;
    EXPECT_TRUE(contains(d.out, "00000006: .strtab\n")); // the section names at level 3
}

TEST(ElfDump, HeadersThatCannotBeRead) {
    ElfBuilder b;
    b.header.shoff = 0;
    Bytes good = b.build();
    Bytes cut = good;
    cut.resize(good.size() - 1); // the last section header
    EXPECT_FALSE(dump(cut).result);
    EXPECT_TRUE(contains(dump(cut).err, "ELF section headers"));
    ElfBuilder small;
    small.header.shentsize = 39;
    Outcome d = dump(small.build());
    EXPECT_FALSE(d.result);
    EXPECT_TRUE(contains(d.err, "(1037)"));
    EXPECT_EQ(d.out, "");
    ElfBuilder index;
    index.header.shstrndx = 7;
    d = dump(index.build());
    EXPECT_FALSE(d.result);
    EXPECT_EQ(d.err, "(0) Bad ELF string table index\n\n");
    ElfBuilder programs;
    programs.header.phnum = 2;
    programs.header.phoff = 10;
    programs.header.phentsize = 16;
    d = dump(programs.build());
    EXPECT_FALSE(d.result);
    EXPECT_TRUE(contains(d.err, "ELF program headers"));
}

// ---- DWARF ----

TEST(DwarfDump, UnitsEntriesAndOneGroupPerLineProgram) {
    Bytes line = line_program({0, 5, 2, 0, 1, 0, 0, 1, 0x14, 0, 1, 1});
    Bytes info = concat({unit(unit_entries(0)), unit(unit_entries(0))});
    Outcome d = dump(dwarf_file(info, line).build());
    EXPECT_EQ(d.err, "");
    EXPECT_TRUE(contains(d.out, "Compilation Unit 2 @ 0x0000001E\n"
                                "size=26 ver=0x0002 abbrev offset=0x00000000, addrsize=4\n\n"
                                "+compile unit (1) @ 0xB (0x29)\n"
                                " name[string] = \"m.c\"\n"
                                " stmt list[data4] = 0x00000000\n"
                                " language[data2] = C89 (0x0001)\n"
                                "  +base type (2) @ 0x16 (0x34)\n"
                                "   name[strp] = \"int\"\n"
                                "   encoding[indirect] = data1: signed (0x05)\n"))
        << d.out;
    // Both units name offset 0: one group.
    EXPECT_EQ(d.out.find("\nGroup "), d.out.rfind("\nGroup "));
    EXPECT_TRUE(contains(d.out, "\nGroup 1 @ 0x00000000\n\nsize=41 ver=2 prolog=23\n"
                                "min_len=1 def_stmt=true line_base=-5 line_range=15 "
                                "opcode_base=10\nopcode lengths: 0 1 1 1 1 0 0 0 1\n"));
    EXPECT_TRUE(contains(d.out, "00033:  DW_LNE_set_address      : 0x0000000000000100\n"
                                "00040:  DW_LNS_copy             \n"
                                "00041:  SPECIAL(line=5, addr=0)\n"
                                "00042:  DW_LNE_end_sequence     \n"
                                "\nGenerated line number matrix:\n"))
        << d.out;
    EXPECT_TRUE(contains(d.out, "00041:  0000000000000100  1           6           0           "
                                "true         false\n"));
}

TEST(DwarfDump, DamagedUnitsAreReported) {
    struct Case {
        Bytes info;
        const char* wanted;
    };
    Bytes entries = unit_entries(0);
    Bytes unknown_code = entries;
    unknown_code[0] = 9;
    Bytes trailing = concat({entries, {0, 7}});
    Bytes no_nul = {1, 'm', 'n'};
    Bytes endless = {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80};
    // A unit of another version, then one of the 64-bit format: each is passed over with
    // its message and the unit after it is dumped.
    Bytes version6 = unit(entries);
    version6[4] = 6;
    Bytes wide = {0xFF, 0xFF, 0xFF, 0xFF, 9, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0};
    const Case cases[] = {
        {{3, 0, 0, 0, 2, 0}, "(659) compilation unit length 3 is too short"},
        {unit(entries, 4, 500), "(660) abbreviation offset lies outside .debug_abbrev"},
        {unit(entries, 3), "(661) unsupported address size 3"},
        {unit(unknown_code), "(658)"},
        {unit(trailing), "(662)"},
        {unit(endless), "(422) .debug_info: a value at 0xB runs past the end of its unit"},
        {unit(no_nul), "(422) .debug_info: a value at 0xC runs past the end of its unit"},
        {concat({unit(entries), {0xFF, 0xFF, 0xFF, 0x7F}}),
         "(422) .debug_info: a value at 0x1E runs past the end of its section"},
        {concat({version6, unit(entries)}),
         "(420) the unit at 0x0 has version 6, which the dump does not read"},
        {concat({wide, unit(entries)}),
         "(421) the unit at 0x0 is in the 64-bit DWARF format, which the dump does not read"},
    };
    for (const Case& c : cases) {
        Outcome d = dump(dwarf_file(c.info).build());
        EXPECT_TRUE(contains(d.err, c.wanted)) << c.wanted << "\n" << d.err;
        EXPECT_TRUE(d.result);
        EXPECT_TRUE(contains(d.out, "No call frame information")); // the rest goes on
    }
    EXPECT_TRUE(contains(dump(dwarf_file(concat({version6, unit(entries)})).build()).out,
                         "Compilation Unit 2 @ 0x0000001E\nsize=26 ver=0x0002"));
    EXPECT_TRUE(contains(dump(dwarf_file(concat({wide, unit(entries)})).build()).out,
                         "Compilation Unit 2 @ 0x00000015\nsize=26 ver=0x0002"));
    Outcome d = dump(ElfBuilder().add(".debug_info", 1, unit(entries)).build());
    EXPECT_TRUE(contains(d.out, "\n\nDWARF:\n"));
    EXPECT_TRUE(contains(d.err, "(667)"));
}

// Forms the abbreviations name that cannot be read: one no version knows, and a table
// whose form never ends.
TEST(DwarfDump, BadFormsAreReported) {
    ByteWriter a = le();
    for (unsigned field : {1u, unsigned(DW_TAG_variable), 0u, unsigned(DW_AT_name), 0x7Fu, 0u, 0u})
        a.uleb128(field);
    a.u8(0);
    ElfBuilder b;
    b.add(".debug_abbrev", 1, a.take());
    b.add(".debug_info", 1, unit({1, 5, 0}));
    Outcome d = dump(b.build());
    EXPECT_TRUE(contains(d.out, "+variable (1) @ 0xB (0xB)\n name[?? 0x0000007F] = ?? Unknown form "
                                "0x7F\n"))
        << d.out;
    EXPECT_TRUE(contains(d.err, "(647) bad DWARF attribute form")) << d.err;
    Bytes endless_form = {1, 0x34, 0, 3, 0x80, 0x80, 0x80};
    d = dump(ElfBuilder()
                 .add(".debug_abbrev", 1, endless_form)
                 .add(".debug_info", 1, unit({1}))
                 .build());
    EXPECT_TRUE(contains(d.err, "(422) .debug_abbrev: a value at 0x7 runs past the end of its "
                                "section"))
        << d.err;
    EXPECT_TRUE(contains(d.err, "(658)")); // the unit finds no abbreviation of its code
}

TEST(DwarfDump, DamagedLinePrograms) {
    auto lines = [](const Bytes& line, uint32_t offset = 0) {
        return dump(dwarf_file(unit(unit_entries(offset)), line).build());
    };
    EXPECT_TRUE(contains(lines(line_program({1}), 500).err, "(648) line-number program offset "
                                                            "0x1F4"));
    Bytes long_program = line_program({1});
    long_program[0] = 0xF0;
    EXPECT_TRUE(contains(lines(long_program).err, "(649)"));
    // No opcode base, or no line range: every opcode is special and advances nothing.
    Outcome d = lines(line_program({1, 2, 3, 0x20}, 0));
    EXPECT_TRUE(contains(d.out, "00024:  SPECIAL(line=-4, addr=0)\n00025:  SPECIAL(line=-3, "
                                "addr=0)\n00026:  SPECIAL(line=-2, addr=0)\n00027:  SPECIAL("
                                "line=-3, addr=2)\n"))
        << d.out;
    d = lines(line_program({0x20, 0x30}, 10, 0));
    EXPECT_TRUE(contains(d.out, "SPECIAL(line=-5, addr=0)\n")) << d.out;
    // An opcode base past the standard ones: the others are skipped by their counts.
    d = lines(line_program({12, 0x81, 0x01, 5, 1}, 13));
    EXPECT_TRUE(contains(d.out, "DW_LNS_?? 0x0000000C") || contains(d.out, "?? 0x0000000C"));
    EXPECT_TRUE(contains(d.out, ": 2 args\n")) << d.out;
    // An extended opcode longer than the program; one of length 0.
    d = lines(line_program({0, 100, 2}));
    EXPECT_TRUE(contains(d.err, "(422) .debug_line: a value at 0x21 runs past the end of its "
                                "program"))
        << d.err;
    d = lines(line_program({0, 0, 1}));
    EXPECT_TRUE(contains(d.out, "?? extended opcode")) << d.out;
    EXPECT_TRUE(contains(d.err, "(650)")) << d.err;
    // A program that ends without DW_LNE_end_sequence prints no rows for its last
    // sequence.
    d = lines(line_program({0, 5, 2, 0, 1, 0, 0, 1, 0x14, 0, 1, 1, 0x14, 0x15}));
    EXPECT_EQ(d.out.find("Generated line number matrix"),
              d.out.rfind("Generated line number matrix"));
    EXPECT_TRUE(contains(d.out, "Statement program sequence 2\n\n00045:  SPECIAL(line=5, "
                                "addr=0)\n00046:  SPECIAL(line=6, addr=0)\n"))
        << d.out;
}

TEST(DwarfDump, FramesNamesRangesMacrosAndLocations) {
    ByteWriter frame = le();
    // A common entry (code align 2, data align -4, return column 14) with one
    // instruction, a description entry with three, one pointing at itself, one pointing
    // past the section and one that is too short.
    frame.u32(13);
    frame.u32(0xFFFFFFFF);
    frame.u8(1);
    frame.u8(0);
    frame.uleb128(2);
    frame.sleb128(-4);
    frame.u8(14);
    frame.u8(DW_CFA_def_cfa);
    frame.uleb128(13);
    frame.uleb128(0);
    frame.u8(DW_CFA_nop);
    frame.u32(18);
    frame.u32(0);
    frame.u32(0x100);
    frame.u32(0x20);
    frame.u8(DW_CFA_advance_loc | 2);
    frame.u8(DW_CFA_offset | 14);
    frame.uleb128(1);
    frame.u8(DW_CFA_def_cfa_offset);
    frame.uleb128(8);
    frame.u8(DW_CFA_restore | 14);
    uint32_t self = uint32_t(frame.size());
    frame.u32(12);
    frame.u32(self);
    frame.u32(0);
    frame.u32(0);
    frame.u32(12);
    frame.u32(1000);
    frame.u32(0);
    frame.u32(0);
    frame.u32(4);
    frame.u32(0);
    frame.u32(40); // an entry past the section
    ByteWriter pubnames = le();
    pubnames.u32(23);
    pubnames.u16(2);
    pubnames.u32(0);
    pubnames.u32(0x40);
    pubnames.u32(0x1E);
    pubnames.cstring("main");
    pubnames.u32(0);
    pubnames.u32(5); // a set too short
    ByteWriter aranges = le();
    aranges.u32(28);
    aranges.u16(2);
    aranges.u32(0);
    aranges.u8(4);
    aranges.u8(0);
    aranges.zeros(4); // to a multiple of eight
    aranges.u32(0x100);
    aranges.u32(0x20);
    aranges.u32(0);
    aranges.u32(0);
    aranges.u32(9);
    ByteWriter macros = le();
    macros.uleb128(3);
    macros.uleb128(0);
    macros.uleb128(1);
    macros.uleb128(1);
    macros.uleb128(4);
    macros.cstring("N 4");
    macros.uleb128(4);
    macros.uleb128(0);
    ByteWriter locations = le();
    locations.u32(0x100);
    locations.u32(0x110);
    locations.u16(6);
    locations.u8(DW_OP_fbreg);
    locations.sleb128(-8);
    locations.u8(DW_OP_bregx);
    locations.uleb128(3);
    locations.sleb128(-1);
    locations.u8(DW_OP_piece);
    locations.u32(0x110);
    locations.u32(0x120);
    locations.u16(2);
    locations.u8(DW_OP_addr); // its address runs past the expression
    locations.u8(1);
    locations.u32(0);
    locations.u32(0);
    ElfBuilder b = dwarf_file(unit(unit_entries(0)));
    b.add(".debug_frame", 1, frame.take());
    b.add(".debug_pubnames", 1, pubnames.take());
    b.add(".debug_aranges", 1, aranges.take());
    b.add(".debug_macinfo", 1, macros.take());
    b.add(".debug_loc", 1, locations.take());
    Outcome d = dump(b.build());
    EXPECT_TRUE(contains(d.out, "code align=2, data align=-4, return col=14\n"
                                "        DW_CFA_def_cfa (r13, 0)\n"
                                "        DW_CFA_nop\n"));
    EXPECT_TRUE(contains(d.out, "size=18 CIE_pointer=0x00000000 location range="
                                "0x00000100..0x00000120\n"
                                "        DW_CFA_advance_loc (2, loc -> 0x00000104)\n"
                                "        DW_CFA_offset (r14, -4)\n"
                                "        DW_CFA_def_cfa_offset (8)\n"
                                "        DW_CFA_restore (r14)\n"))
        << d.out;
    EXPECT_TRUE(contains(d.err, "(655)"));
    EXPECT_TRUE(contains(d.err, "(654)"));
    EXPECT_TRUE(contains(d.err, "(653)"));
    EXPECT_TRUE(contains(d.err, "(657) call frame entry of length 40"));
    EXPECT_TRUE(contains(d.out, "size=23, ver=2, offs=0x00000000, debug size=64\n"
                                "  0x0000001E: \"main\"\n"));
    EXPECT_TRUE(contains(d.err, "(663) name lookup set length 5")) << d.err;
    EXPECT_TRUE(contains(d.out, "addrsize=4, segsize=0 (flat)\n  0x00000100..0x00000120\n"));
    EXPECT_TRUE(contains(d.err, "(664) address range set length 9"));
    EXPECT_TRUE(contains(d.out, "  DW_MACINFO_start_file(0, 1)\n"
                                "  DW_MACINFO_define(4, \"N 4\")\n"
                                "  DW_MACINFO_end_file\n"));
    EXPECT_TRUE(contains(d.out, "range=0x00000100..0x00000110 size=6\n  DW_OP_fbreg(-8)\n"
                                "  DW_OP_bregx(3, -1)\n  DW_OP_piece"))
        << d.out;
    EXPECT_TRUE(contains(d.err, "(665)"));
}

// The name tables of version 2 hold the standard's names without the bounds of the
// user ranges (TAG adds the four vendor tags of its time); later versions add theirs.
TEST(DwarfDump, NameTablesFollowTheVersion) {
    using namespace dwarf_dump_parts;
    struct Family {
        const NameFamily& names;
        uint32_t last;
        unsigned count;
    };
    const Family families[] = {
        {TAG, 0xFFFF, 51},  {AT, 0x3FFF, 59}, {FORM, 0xFF, 21},   {OP, 0xFF, 145}, {CFA, 0xFF, 18},
        {MACINFO, 0xFF, 5}, {ATE, 0xFF, 8},   {LANG, 0xFFFF, 10}, {LNS, 0xFF, 9},  {LNE, 0xFF, 3}};
    for (const Family& f : families) {
        unsigned count = 0;
        for (uint32_t value = 0; value <= f.last; ++value)
            count += f.names.has(value, 2);
        EXPECT_EQ(count, f.count) << f.names.full(1, 2);
    }
    EXPECT_STREQ(TAG.full(0x4080, 2), "?? 0x00004080 (user-defined)");
    EXPECT_STREQ(TAG.full(0x4081, 2), "DW_TAG_MIPS_loop");
    EXPECT_STREQ(AT.full(0x2000, 2), "?? 0x00002000 (user-defined)");
    EXPECT_STREQ(AT.full(0x3FFF, 5), "?? 0x00003FFF (user-defined)");
    EXPECT_STREQ(CFA.full(0x1C, 2), "?? 0x0000001C (user-defined)");
    EXPECT_STREQ(TAG.plain(0x37, 2), "?? 0x00000037");
    EXPECT_STREQ(TAG.plain(0x37, 3), "restrict type");
    EXPECT_STREQ(AT.plain(0x2E, 2), "stride size");
    EXPECT_STREQ(AT.plain(0x2E, 3), "bit stride");
    EXPECT_FALSE(FORM.has(DW_FORM_flag_present, 3));
    EXPECT_STREQ(FORM.full(DW_FORM_flag_present, 4), "DW_FORM_flag_present");
    EXPECT_STREQ(FORM.full(DW_FORM_strx1, 4), "?? 0x00000025");
    EXPECT_STREQ(LANG.plain(0x1D, 5), "C11");
    EXPECT_STREQ(OP.full(0x9F, 3), "?? 0x0000009F");
}

// The location lists read their addresses with the size read last, here an address range
// set's.
TEST(DwarfDump, LocationListsTakeTheLastAddressSize) {
    ByteWriter aranges = le();
    aranges.u32(16);
    aranges.u16(2);
    aranges.u32(0);
    aranges.u8(2);
    aranges.u8(0);
    aranges.u16(0x100); // at 12, a multiple of 4
    aranges.u16(0x20);
    aranges.u32(0);
    ByteWriter locations = le();
    locations.u16(0x100);
    locations.u16(0x110);
    locations.u16(1);
    locations.u8(DW_OP_reg0 + 1);
    locations.u32(0);
    ElfBuilder b = dwarf_file(unit(unit_entries(0)));
    b.add(".debug_aranges", 1, aranges.take());
    b.add(".debug_loc", 1, locations.take());
    Outcome d = dump(b.build());
    EXPECT_TRUE(contains(d.out, "addrsize=2, segsize=0 (flat)\n  0x00000100..0x00000120\n"));
    EXPECT_TRUE(contains(d.out, "Set 1 @ 0x00000000\nrange=0x00000100..0x00000110 size=1\n"
                                "  DW_OP_reg1\n\n"))
        << d.out;
    EXPECT_EQ(d.err, "");
}

// Files shaped to make the dump print far more than they hold: each is refused with the
// dump allowance's message once what it prints passes what its size allows.
TEST(DwarfDump, HostileFilesAreRefused) {
    auto entry_unit = [](const Bytes& entries) { return unit(entries); };
    // Abbreviation tables that units name at every offset of one long table.
    ByteWriter long_table = le();
    for (unsigned code = 1; code <= 2000; ++code) {
        for (unsigned field : {code, unsigned(DW_TAG_variable), 0u, unsigned(DW_AT_name),
                               unsigned(DW_FORM_string), 0u, 0u})
            long_table.uleb128(field);
    }
    long_table.u8(0);
    Bytes offsets;
    for (uint32_t k = 0; k < 2000; ++k) {
        ByteWriter u = le();
        u.u32(8);
        u.u16(2);
        u.u32(k < 127 ? 7 * k : 9 * (k - 127) + 889); // codes of one byte, then of two
        u.u8(4);
        u.u8(0);
        offsets = concat({offsets, u.take()});
    }
    // Entries nested 20000 deep.
    ByteWriter deep_table = le();
    for (unsigned field : {1u, unsigned(DW_TAG_lexical_block), 1u, 0u, 0u, 0u})
        deep_table.uleb128(field);
    // One long string that many attributes name.
    ByteWriter strings_table = le();
    strings_table.uleb128(1);
    strings_table.uleb128(DW_TAG_variable);
    strings_table.u8(0);
    for (unsigned k = 0; k < 2000; ++k) {
        strings_table.uleb128(DW_AT_name);
        strings_table.uleb128(DW_FORM_strp);
    }
    strings_table.zeros(3);
    // Attributes without bytes: a flag that is present, a thousand times an entry.
    ByteWriter flags_table = le();
    flags_table.uleb128(1);
    flags_table.uleb128(DW_TAG_compile_unit);
    flags_table.u8(1);
    flags_table.zeros(2);
    flags_table.uleb128(2);
    flags_table.uleb128(DW_TAG_variable);
    flags_table.u8(0);
    for (unsigned k = 0; k < 1000; ++k) {
        flags_table.uleb128(DW_AT_external);
        flags_table.uleb128(DW_FORM_flag_present);
    }
    flags_table.zeros(3);
    ByteWriter flags_unit = le();
    flags_unit.u32(7 + 1 + 4000);
    flags_unit.u16(4);
    flags_unit.u32(0);
    flags_unit.u8(4);
    flags_unit.u8(1);
    flags_unit.bytes(Bytes(4000, 2).data(), 4000);
    struct Case {
        const char* what;
        Bytes abbrev, info, str;
    };
    const Case cases[] = {
        {"abbreviation offsets", long_table.take(), offsets, {}},
        {"deep nesting",
         deep_table.take(),
         entry_unit(concat({Bytes(20000, 1), Bytes(20000, 0)})),
         {}},
        {"one string", strings_table.take(), entry_unit(concat({{1}, Bytes(8000, 0)})),
         concat({Bytes(16384, 'x'), {0}})},
        {"flags present", flags_table.take(), flags_unit.take(), {}},
    };
    for (const Case& c : cases) {
        ElfBuilder b;
        b.add(".debug_str", 1, c.str);
        b.add(".debug_abbrev", 1, c.abbrev);
        b.add(".debug_info", 1, c.info);
        Bytes file = b.build();
        Outcome d = run_on(
            file,
            [&](FILE* in) {
                begin_read_allowance("hostile.elf", file.size(), 419);
                bool dumped = elf_format.dump(in);
                end_read_allowance();
                return dumped;
            },
            1);
        end_read_allowance();
        EXPECT_TRUE(contains(d.err, "(419)")) << c.what << "\n" << d.err;
        EXPECT_LT(d.out.size(), 40 * file.size()) << c.what;
    }
}

// A file of version 5: a compile unit whose attributes use the forms of versions 4 and 5
// (indexed strings and addresses with their bases given after their first use), a type
// unit, a unit of an unknown type; a line-number program with entry formats, and the
// string offset, address, range list and location list sections.
TEST(DwarfDump, Version5UnitsProgramsAndLists) {
    ByteWriter a = le();
    const unsigned table[] = {1,
                              DW_TAG_compile_unit,
                              1,
                              DW_AT_producer,
                              DW_FORM_strx1,
                              DW_AT_str_offsets_base,
                              DW_FORM_sec_offset,
                              DW_AT_addr_base,
                              DW_FORM_sec_offset,
                              DW_AT_low_pc,
                              DW_FORM_addrx1,
                              DW_AT_comp_dir,
                              DW_FORM_line_strp,
                              DW_AT_stmt_list,
                              DW_FORM_sec_offset,
                              DW_AT_language,
                              DW_FORM_data1,
                              0,
                              0,
                              2,
                              DW_TAG_variable,
                              0,
                              DW_AT_name,
                              DW_FORM_strx,
                              DW_AT_decl_file,
                              DW_FORM_implicit_const,
                              3,
                              DW_AT_external,
                              DW_FORM_flag_present,
                              DW_AT_const_value,
                              DW_FORM_data16,
                              DW_AT_location,
                              DW_FORM_exprloc,
                              0,
                              0,
                              3,
                              DW_TAG_type_unit,
                              0,
                              DW_AT_name,
                              DW_FORM_string,
                              0,
                              0,
                              0};
    for (unsigned field : table)
        a.uleb128(field);
    ByteWriter info = le();
    info.u32(49);
    info.u16(5);
    info.u8(DW_UT_compile);
    info.u8(4);
    info.u32(0);
    Bytes entries = {1, 0, 8, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x1D, 2, 1};
    for (uint8_t k = 1; k <= 16; ++k)
        entries.push_back(k);
    entries.insert(entries.end(), {1, DW_OP_reg0, 0});
    info.bytes(entries.data(), entries.size());
    info.u32(23); // a type unit
    info.u16(5);
    info.u8(DW_UT_type);
    info.u8(4);
    info.u32(0);
    info.u64(0x1122334455667788);
    info.u32(0x18);
    info.bytes("\3T", 3);
    info.u32(8); // a unit of no known type
    info.u16(5);
    info.u8(7);
    info.u8(4);
    info.u32(0);
    ByteWriter line = le();
    const uint8_t header[] = {5,    0, 4, 0, 37, 0, 0, 0,    1,    1, 1,    uint8_t(-5), 14, 13,
                              0,    1, 1, 1, 1,  0, 0, 0,    1,    0, 0,    1,           1,  1,
                              0x1F, 1, 0, 0, 0,  0, 2, 1,    0x1F, 2, 0x0F, 1,           5,  0,
                              0,    0, 0, 0, 5,  2, 0, 0x10, 0,    0, 1,    0,           1,  1};
    line.u32(sizeof header);
    line.bytes(header, sizeof header);
    const Bytes offsets = {12, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0};
    ByteWriter addresses = le();
    addresses.u32(8);
    addresses.u16(5);
    addresses.u8(4);
    addresses.u8(0);
    addresses.u32(0x1000);
    const Bytes ranges = {16, 0, 0, 0, 5, 0, 4, 0, 1, 0, 0, 0, 4, 0, 0, 0, 4, 0x10, 0x20, 0};
    const Bytes locations = {17, 0, 0, 0,    5, 0, 4, 0, 0,          0, 0,
                             0,  8, 0, 0x10, 0, 0, 8, 1, DW_OP_reg0, 0};
    ElfBuilder b;
    b.add(".debug_str", 1, {'g', 'c', 'c', 0, 'x', 0});
    b.add(".debug_line_str", 1, {'/', 's', 'r', 'c', 0, 'm', '.', 'c', 0});
    b.add(".debug_str_offsets", 1, offsets);
    b.add(".debug_addr", 1, addresses.take());
    b.add(".debug_abbrev", 1, a.take());
    b.add(".debug_info", 1, info.take());
    b.add(".debug_line", 1, line.take());
    b.add(".debug_rnglists", 1, ranges);
    b.add(".debug_loclists", 1, locations);
    Outcome d = dump(b.build());
    EXPECT_EQ(d.err, "(420) the unit at 0x50 has unit type 7, which the dump does not read: it is "
                     "passed over\n");
    for (const char* wanted :
         {"          DW_AT_decl_file                DW_FORM_implicit_const: 3\n",
          "Compilation Unit 1 @ 0x00000000\n"
          "size=49 ver=0x0005 unit type=DW_UT_compile abbrev offset=0x00000000, addrsize=4\n\n"
          "+compile unit (1) @ 0xC (0xC)\n"
          " producer[strx1] = \"gcc\"\n"
          " str offsets base[sec offset] = 0x00000008\n"
          " addr base[sec offset] = 0x00000008\n"
          " low pc[addrx1] = 0x00001000\n"
          " comp dir[line strp] = \"/src\"\n"
          " stmt list[sec offset] = 0x00000000\n"
          " language[data1] = C11 (0x1D)\n"
          "  +variable (2) @ 0x20 (0x20)\n"
          "   name[strx] = \"x\"\n"
          "   decl file[implicit const] = 3\n"
          "   external[flag present] = true\n"
          "   const value[data16] = 0x100F0E0D0C0B0A090807060504030201\n"
          "   location[exprloc] = 0x0001\n",
          "size=23 ver=0x0005 unit type=DW_UT_type abbrev offset=0x00000000, addrsize=4 "
          "signature=0x1122334455667788 type offset=0x00000018\n\n+type unit (3) @ 0x18 (0x4D)\n"
          " name[string] = \"T\"\n",
          "size=8 ver=0x0005 unit type=?? 0x00000007 abbrev offset=0x00000000, addrsize=4\n",
          "size=56 ver=5 addrsize=4 segsize=0 prolog=37\n"
          "min_len=1 max_ops=1 def_stmt=true line_base=-5 line_range=14 opcode_base=13\n"
          "opcode lengths: 0 1 1 1 1 0 0 0 1 0 0 1\n"
          "Directory entry format: DW_LNCT_path[DW_FORM_line_strp]\nIncludes:\n    0.  \"/src\"\n"
          "File entry format: DW_LNCT_path[DW_FORM_line_strp] "
          "DW_LNCT_directory_index[DW_FORM_udata]\nFiles:\n    0.  \"m.c\"\n           dir:     "
          "0\n",
          "00056:  0000000000001000  1           1           0           true         false\n"
          "00057:  0000000000001000  1           1           0           true         false\n",
          "String offsets table (.debug_str_offsets):\n\nSet 1 @ 0x00000000\nsize=12, ver=5\n"
          "      0: 0x00000000 \"gcc\"\n      1: 0x00000004 \"x\"\n",
          "Address table (.debug_addr):\n\nSet 1 @ 0x00000000\nsize=8, ver=5, addrsize=4, "
          "segsize=0\n      0: 0x00001000\n",
          "Range lists (.debug_rnglists):\n\nSet 1 @ 0x00000000\nsize=16, ver=5, addrsize=4, "
          "segsize=0, offsets=1\n  offset     0: 0x00000004\nList @ 0x00000010\n"
          "  DW_RLE_offset_pair(0x00000010, 0x00000020)\n  DW_RLE_end_of_list\n",
          "Location lists (.debug_loclists):\n\nSet 1 @ 0x00000000\nsize=17, ver=5, addrsize=4, "
          "segsize=0, offsets=0\nList @ 0x0000000C\n"
          "  DW_LLE_start_length(0x00001000, 0x00000008) size=1\n  DW_OP_reg0\n"
          "  DW_LLE_end_of_list\n"})
        EXPECT_TRUE(contains(d.out, wanted)) << wanted << "\n----\n" << d.out;
}

} // namespace
