// The DWARF dump's name tables and its allowance on hostile files, which need generating.
// Detection and the dumps of hand-built files are compared whole by elf/cases/dump.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/options.h"
#include "formats/descriptors.h"
#include "formats/elf/dwarf_constants.h"
#include "formats/elf/dwarf_tables.h"
#include "formats/elf/elf.h"
#include "model/store.h"
#include "test_support.h"

namespace {

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

    ElfBuilder() { header.machine = 40; } // ARM, unless a test names another

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
        header.version = 1;
        header.ehsize = ELF_HEADER_SIZE;
        if (header.shentsize == 0) header.shentsize = ELF_SECTION_HEADER_SIZE;
        if (header.phentsize == 0) header.phentsize = ELF_PROGRAM_HEADER_SIZE;
        header.shnum = uint16_t(headers.size());
        if (header.shstrndx == 0) header.shstrndx = uint16_t(headers.size() - 1);
        body.patch_record(0, header);
        return body.take();
    }

    // The file's dump at -v.
    Outcome dump() {
        ::Run run;
        return run_on(
            run, build(), [&](FILE* in) { return elf_format.dump(run, in); }, 1);
    }
};

// Section types and machines by the names the dump gives them: where several names share
// a value the first is shown, and a value no row has is shown as a number.
TEST(ElfDump, SectionTypesAndMachinesByName) {
    using Named = std::pair<uint32_t, const char*>;
    const Named types[] = {{4, "Reloc entries with addends"},
                           {5, "Symbol hash table"},
                           {6, "Dynamic linking information"},
                           {7, "Notes"},
                           {10, "Reserved"},
                           {11, "Dynamic linker symbol table"},
                           {12, "0xC"},
                           {0x60000000, "Start OS-specific"},
                           {0x6FFFFFFB, "Sun-specific low bound. "},
                           {0x6FFFFFFD, "Version definition section. "},
                           {0x6FFFFFFE, "Version needs section. "},
                           {0x6FFFFFFF, "Version symbol table. "},
                           {0x70000000, "Start of processor-specific"},
                           {0x7FFFFFFF, "End of processor-specific"},
                           {0x80000000, "Start of application-specific"},
                           {0x8FFFFFFF, "End of application-specific"}};
    const Named machines[] = {
        {44, "Siemens TriCore embedded processor"},
        {110, "Microprocessor series from PKU-Unity Ltd. and MPRC of Peking University"},
        {118, "Microchip Technology dsPIC30F DSC"},
        {117, "0x75"}};
    ElfBuilder b;
    for (const auto& [type, name] : types)
        b.add(".s", type, {});
    std::string out = b.dump().out;
    for (const auto& [type, name] : types) {
        char line[64];
        snprintf(line, sizeof line, "  .s                   %-31s", name);
        EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
    }
    // One row a machine, in order: a value named twice would hide its second name.
    for (const ElfMachineName* row = elf_machine_names; row[1].description; ++row)
        EXPECT_LT(row->machine, row[1].machine) << row[1].description;
    for (const auto& [machine, name] : machines) {
        ElfBuilder m;
        m.header.machine = uint16_t(machine);
        out = m.dump().out;
        EXPECT_NE(out.find(std::string("\tMachine:\t") + name + "\n"), std::string::npos) << out;
    }
}

// ---- Debugging sections, built by hand ----

ByteWriter le() {
    return ByteWriter(ByteOrder::little);
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

// ---- DWARF ----

// The name tables of version 2 hold the standard's names without the bounds of the
// user ranges (TAG adds the four vendor tags of its time); later versions add theirs and
// the vendors' names that producers of those versions write.
TEST(DwarfDump, NameTablesFollowTheVersion) {
    using namespace dwarf;
    // How many values each family names by the standard inside a unit of versions 2 to
    // 5: version 2's lists, then what the standards of versions 3, 4 and 5 add (renames,
    // such as bit stride for stride size, add none).
    // A vendor's names come all at once: from version 3 on, or from the version whose
    // sections the vendor extended (GNU's location lists and macro units of version 4, its
    // name index attributes of version 5); later versions keep them, but for the values
    // the standard names itself.
    struct Family {
        const NameFamily& names;
        uint32_t last;
        unsigned count[4];
        unsigned vendors_from = 3;
    };
    const Family families[] = {{TAG, 0xFFFF, {47, 57, 60, 68}},  {AT, 0x3FFF, {59, 86, 92, 121}},
                               {FORM, 0x1FFF, {21, 21, 25, 43}}, {OP, 0xFF, {145, 152, 154, 164}},
                               {CFA, 0xFF, {18, 26, 26, 26}},    {MACINFO, 0xFF, {5, 5, 5, 5}},
                               {ATE, 0xFF, {8, 15, 16, 18}},     {LANG, 0xFFFF, {10, 19, 20, 37}},
                               {LNS, 0xFF, {9, 12, 12, 12}},     {LNE, 0xFF, {3, 3, 4, 4}},
                               {UT, 0xFF, {0, 0, 0, 6}},         {LNCT, 0xFFFF, {0, 0, 0, 5}},
                               {RLE, 0xFF, {0, 0, 0, 8}},        {LLE, 0xFF, {0, 0, 0, 9}, 4},
                               {MACRO, 0xFF, {0, 0, 0, 12}, 4},  {IDX, 0x3FFF, {0, 0, 0, 5}, 5}};
    for (const Family& f : families) {
        unsigned vendors[4] = {};
        for (unsigned version = 2; version <= 5; ++version) {
            unsigned standard = 0;
            for (uint32_t value = 0; value <= f.last; ++value) {
                const char* owner = f.names.vendor(value, version);
                standard += owner && std::string(owner) == "DWARF";
                vendors[version - 2] += owner && std::string(owner) != "DWARF";
            }
            EXPECT_EQ(standard, f.count[version - 2])
                << f.names.full(1, 5) << " version " << version;
        }
        // A unit of version 2 shows no vendor's name but the four of its time.
        EXPECT_EQ(vendors[0], &f.names == &TAG ? 4u : 0u) << f.names.full(1, 5);
        for (unsigned version = 3; version < 5; ++version) {
            if (version < f.vendors_from)
                EXPECT_EQ(vendors[version - 2], 0u) << f.names.full(1, 5) << " " << version;
            else
                EXPECT_GE(vendors[version - 2], vendors[version - 1])
                    << f.names.full(1, 5) << " " << version;
        }
    }
    // Values below 256 are looked up by index, the rest by search: both sides of the line.
    const NameFamily edge("X", {{255, "last", 2, "DWARF"}, {256, "next", 2, "DWARF"}});
    EXPECT_STREQ(edge.full(255, 2), "DW_X_last");
    EXPECT_STREQ(edge.full(256, 2), "DW_X_next");
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
    // The vendors' values, named as readelf and llvm-dwarfdump name them, from version 3.
    EXPECT_STREQ(TAG.full(0x4109, 2), "?? 0x00004109 (user-defined)");
    EXPECT_STREQ(TAG.full(0x4109, 3), "DW_TAG_GNU_call_site");
    EXPECT_STREQ(AT.full(0x2117, 4), "DW_AT_GNU_all_call_sites");
    EXPECT_STREQ(OP.full(0xF3, 5), "DW_OP_GNU_entry_value");
    EXPECT_STREQ(OP.full(0xFA, 4), "DW_OP_GNU_parameter_ref");
    EXPECT_STREQ(CFA.full(0x2E, 3), "DW_CFA_GNU_args_size");
    EXPECT_STREQ(FORM.full(0x1F02, 4), "DW_FORM_GNU_str_index");
    EXPECT_STREQ(LANG.full(0x8001, 4), "DW_LANG_Mips_Assembler");
    // GNU's macro units of version 4 and the standard's of version 5 share their values
    // and, as readelf shows them, their names.
    EXPECT_STREQ(MACRO.full(5, 4), "DW_MACRO_define_strp");
    EXPECT_STREQ(MACRO.vendor(5, 4), "GNU");
    EXPECT_STREQ(MACRO.full(5, 5), "DW_MACRO_define_strp");
    // One line may name several values that no table holds.
    std::string both = std::string(TAG.full(0x7777, 5)) + " " + AT.full(0x2FFF, 5);
    EXPECT_EQ(both, "?? 0x00007777 (user-defined) ?? 0x00002FFF (user-defined)");
}

// Files shaped to make the dump print far more than they hold: each is refused with the
// dump allowance's message once what it prints passes what its size allows.
TEST(DwarfDump, HostileFilesAreRefused) {
    ::Run run;
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
            run, file,
            [&](FILE* in) {
                begin_read_allowance(run, "hostile.elf", file.size(), 419);
                bool dumped = elf_format.dump(run, in);
                end_read_allowance(run);
                return dumped;
            },
            1);
        end_read_allowance(run);
        EXPECT_NE(d.err.find("(419)"), std::string::npos) << c.what << "\n" << d.err;
        EXPECT_LT(d.out.size(), 40 * file.size()) << c.what;
    }
}

// The name index's unit lists are printed whole: one compilation unit and two foreign
// type units by their signatures (no producer of the samples writes foreign ones).
TEST(DwarfDump, NameIndexListsEveryUnit) {
    ByteWriter names = le();
    names.u32(2 + 2 + 7 * 4 + 4 + 2 * 8 + 1);           // unit length: the rest of the index
    names.u16(5);                                       // version
    names.u16(0);                                       // padding
    for (uint32_t count : {1u, 0u, 2u, 0u, 0u, 1u, 0u}) // CUs, local TUs, foreign TUs,
        names.u32(count);             // buckets, names, abbreviation bytes, augmentation
    names.u32(0);                     // the compilation unit at offset 0
    names.u64(0x1122334455667788ull); // the foreign type units' signatures
    names.u64(0x99AABBCCDDEEFF00ull);
    names.u8(0); // the abbreviation table's end
    ElfBuilder b;
    b.add(".debug_abbrev", 1, {0});
    b.add(".debug_info", 1, unit({0}));
    b.add(".debug_names", 1, names.take());
    Outcome d = b.dump();
    EXPECT_NE(d.out.find("  CU     0: 0x00000000\n"), std::string::npos) << d.out;
    EXPECT_NE(d.out.find("  foreign TU     0: 0x1122334455667788\n"), std::string::npos) << d.out;
    EXPECT_NE(d.out.find("  foreign TU     1: 0x99AABBCCDDEEFF00\n"), std::string::npos) << d.out;
    EXPECT_EQ(d.err, "");
}

// A macro entry whose type neither the version nor the unit's operand table describes
// ends the reading of its section, told with where it is; so does a set of a version 5
// section whose version is another, after its heading line.
TEST(DwarfDump, UnknownEntriesAndVersionsEndTheirSections) {
    ElfBuilder b;
    b.add(".debug_abbrev", 1, {0});
    b.add(".debug_info", 1, unit({0}));
    b.add(".debug_macro", 1, {5, 0, 0, 0x0D, 0});      // version 5, no flags, then type 0xD at 3
    b.add(".debug_addr", 1, {4, 0, 0, 0, 4, 0, 0, 0}); // sets of version 4: their lines end
    b.add(".debug_names", 1, {4, 0, 0, 0, 4, 0, 0, 0});
    Outcome d = b.dump();
    EXPECT_NE(d.err.find("(423) .debug_macro: the macro entry 0xD at 0x3 is not known, so what "
                         "follows it cannot be read\n"),
              std::string::npos)
        << d.err;
    const std::string set = "Set 1 @ 0x00000000\nsize=4, ver=4\n";
    EXPECT_NE(d.out.find(set, d.out.find(set) + 1), std::string::npos) << d.out;
}

} // namespace
