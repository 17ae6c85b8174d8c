// The DWARF reader's structures: attribute values by form, the line-number state machine,
// expression operations and frame instructions by their tables, and the tree of entries.
// The dump's printed layouts are checked by elf/cases/dump and the peer checks.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "common/binio.h"
#include "formats/elf/dwarf_constants.h"
#include "formats/elf/dwarf_expressions.h"
#include "formats/elf/dwarf_info.h"
#include "formats/elf/dwarf_lines.h"
#include "formats/elf/dwarf_macros.h"
#include "test_support.h"

namespace {

using namespace dwarf;
// A set of sections over one buffer holding their bytes one after another.
struct Sections {
    ::Run run; // what loading the sections reports
    Bytes all;
    ByteReader file{nullptr, 0};
    SectionSet set{run, file, false};
    explicit Sections(std::initializer_list<std::pair<const char*, Bytes>> sections,
                      ByteOrder order = ByteOrder::little) {
        std::vector<std::pair<std::string, uint64_t>> places;
        for (const auto& [name, bytes] : sections) {
            places.push_back({name, all.size()});
            all.insert(all.end(), bytes.begin(), bytes.end());
        }
        file = ByteReader(all.data(), all.size(), order);
        size_t k = 0;
        for (const auto& [name, bytes] : sections) {
            set.take(name, uint32_t(places[k++].second), uint32_t(bytes.size()));
            for (unsigned id = 0; id < SECTION_COUNT; ++id)
                set.load(SectionId(id));
        }
    }
};

Bytes leb(std::initializer_list<int64_t> values, bool is_signed = false) {
    ByteWriter w;
    for (int64_t v : values)
        is_signed ? w.sleb128(v) : w.uleb128(uint64_t(v));
    return w.take();
}

// Forms are read by their rows: indexed strings and addresses through their tables and
// the unit's bases, 16-byte values in the file's order, forms a version does not know
// left unread.
TEST(DwarfReader, FormsReadByTheirLayouts) {
    Bytes str = {'a', 0, 'b', 'c', 0};
    Bytes offsets = {0, 0, 0, 0, 0, 0, 0, 0, /* header */ 2, 0, 0, 0, 0, 0, 0, 0};
    Bytes addresses = {0, 0, 0, 0, 0, 0, 0, 0, 0x78, 0x56, 0x34, 0x12};
    Bytes info = concat({{0x00}, leb({0}), {0xAA, 0x00}, leb({300}), Bytes(16, 0), {9}});
    info[6] = 0x11;  // the low half of the 16-byte value
    info[14] = 0x22; // its high half
    Sections s({{".debug_str", str},
                {".debug_str_offsets", offsets},
                {".debug_addr", addresses},
                {".debug_info", info}});
    UnitContext unit = UnitContext::of_version(5, &s.set, INFO);
    ByteReader in = s.set.reader(INFO);
    FormValue v;
    ASSERT_EQ(read_value(in, DW_FORM_strx1, 0, unit, info.size(), &v), ValueRead::OK);
    EXPECT_EQ(std::string(v.text, v.text_length), "bc"); // index 0 past the 8-byte header
    size_t length = 0; // an offset at a table's end, or into an empty one, names no string
    EXPECT_EQ(s.set.string_at(STR, str.size(), &length), nullptr);
    EXPECT_EQ(s.set.string_at(LINE_STR, 0, &length), nullptr);
    ASSERT_EQ(read_value(in, DW_FORM_addrx, 0, unit, info.size(), &v), ValueRead::OK);
    EXPECT_EQ(v.kind, FormValue::ADDRESS);
    EXPECT_EQ(v.number, 0x12345678u);
    ASSERT_EQ(read_value(in, DW_FORM_addrx2, 0, unit, info.size(), &v), ValueRead::OK);
    EXPECT_TRUE(v.missing) << "index 0xAA names no address";
    ASSERT_EQ(read_value(in, DW_FORM_udata, 0, unit, info.size(), &v), ValueRead::OK);
    EXPECT_EQ(v.number, 300u);
    ASSERT_EQ(read_value(in, DW_FORM_data16, 0, unit, info.size(), &v), ValueRead::OK);
    EXPECT_EQ(v.number, 0x11u);
    EXPECT_EQ(v.high, 0x22u);
    EXPECT_EQ(read_value(in, DW_FORM_block1, 0, unit, info.size(), &v), ValueRead::OVERRUN)
        << "a block of 9 bytes where none is left";
    unit.version = 4;
    in.seek(0);
    EXPECT_EQ(read_value(in, DW_FORM_strx1, 0, unit, info.size(), &v), ValueRead::UNKNOWN_FORM);
    EXPECT_EQ(in.position(), 0u);
    // GNU's split units of version 4 index a table without a header.
    unit = UnitContext::of_version(4, &s.set, INFO);
    in.seek(0);
    ASSERT_EQ(read_value(in, DW_FORM_GNU_str_index, 0, unit, info.size(), &v), ValueRead::OK);
    EXPECT_EQ(std::string(v.text, v.text_length), "a");
    unit.version = 2;
    EXPECT_EQ(read_value(in, DW_FORM_GNU_str_index, 0, unit, info.size(), &v),
              ValueRead::UNKNOWN_FORM);
}

// A version 4 program with two operations an instruction (op_index), a minimum length of
// 2 and the flags that rows carry.
TEST(DwarfReader, LineStateMachine) {
    Bytes header = {2, 2, 1, Bytes::value_type(-3), 12, 13};
    for (unsigned op = 1; op < 13; ++op)
        header.push_back(uint8_t(standard_length(op)));
    header.insert(header.end(), {0, 'a', '.', 'c', 0, 0, 0, 0, 0});
    Bytes program = concat({{0, 5, DW_LNE_set_address, 0, 1, 0, 0}, // address 0x100
                            {DW_LNS_set_basic_block, DW_LNS_copy},  // row 1, basic block
                            {0, 8, DW_LNE_define_file, 'b', '.', 'c', 0, 1, 2, 3},
                            {13 + 3 + 12 * 3}, // special: line +0, 3 ops
                            {DW_LNS_const_add_pc, DW_LNS_negate_stmt, DW_LNS_advance_line},
                            leb({-2}, true),
                            {DW_LNS_copy, 0, 1, DW_LNE_end_sequence}});
    ByteWriter line;
    line.u32(2 + 4 + header.size() + program.size());
    line.u16(4);
    line.u32(uint32_t(header.size()));
    line.bytes(header.data(), header.size());
    line.bytes(program.data(), program.size());
    Sections s({{".debug_line", line.take()}});
    LineProgramReader reader(s.set, 0);
    LineHeader h;
    ASSERT_EQ(reader.header(&h), LineProgramReader::HeaderRead::OK);
    EXPECT_EQ(h.max_ops, 2);
    std::vector<EntryFormat> none;
    std::string name;
    FileEntry file;
    EXPECT_FALSE(reader.next_directory(&name));
    ASSERT_TRUE(reader.next_file(&name, &file));
    EXPECT_EQ(name, "a.c");
    EXPECT_FALSE(reader.next_file(&name, &file));
    ASSERT_TRUE(reader.start_program());
    using Row = std::tuple<uint64_t, uint64_t, int64_t, bool, bool>; // address, op index,
                                                                     // line, stmt, block
    std::vector<Row> rows, again;
    using Defined = std::tuple<std::string, uint64_t, uint64_t, uint64_t>;
    std::vector<Defined> defined;
    LineState state = reader.initial_state();
    LineOp op;
    uint64_t first = reader.position();
    for (LineStep step = LineStep::NONE; step != LineStep::END;) {
        step = reader.step(&state, &op);
        ASSERT_NE(step, LineStep::OVERRUN);
        if (op.operand == LineOp::FILE)
            defined.push_back({op.file_name, op.directory, op.time, op.size});
        if (step == LineStep::ROW || step == LineStep::END) {
            rows.push_back(
                {state.address, state.op_index, state.line, state.is_stmt, state.basic_block});
            state.basic_block = false;
        }
    }
    // Three operations of a two-operation instruction: one instruction (2 bytes) and
    // op_index 1; const_add_pc adds (255 - 13) / 12 = 20 operations: ten more.
    const std::vector<Row> want = {{0x100, 0, 1, true, true},
                                   {0x102, 1, 1, true, false},
                                   {0x116, 1, -1, false, false},
                                   {0x116, 1, -1, false, false}};
    EXPECT_EQ(rows, want);
    const std::vector<Defined> want_defined = {{"b.c", 1, 2, 3}};
    EXPECT_EQ(defined, want_defined); // define_file: a name and three numbers, no row
    reader.replay(first, op.offset, [&](uint64_t, const LineState& s) {
        again.push_back({s.address, s.op_index, s.line, s.is_stmt, s.basic_block});
    });
    EXPECT_EQ(again, want);
}

// Operations are read by the table in every version; an operation no table lays out
// stops an expression of version 3 and later, and is read alone in version 2.
TEST(DwarfReader, OperationsByTheirTable) {
    ::Run run;
    const Bytes v2 = {DW_OP_implicit_pointer, 0x10, 0x00, 0x05, 0xE5, DW_OP_lit1};
    const Bytes v5 =
        concat({{DW_OP_implicit_pointer, 0x10, 0, 0, 0, 0x7E}, // entry 0x10, offset -2
                {DW_OP_bregx, 0x81, 0x01, 0x7F},               // register 129, offset -1
                {0xF4, 0x05, 0x02, 0xAA, 0xBB}, // GNU's typed constant: type 5, 2 bytes
                {0xE5, DW_OP_lit1}});
    auto read_all = [&](const Bytes& expression, unsigned version, std::string* messages) {
        Sections s({{".debug_loc", expression}});
        UnitContext unit = UnitContext::of_version(version, &s.set, LOC);
        unit.address_size = 2;
        ByteReader in = s.set.reader(LOC);
        std::string out;
        *messages = capture_stderr([&] {
            for (OperationRead read = OperationRead::DONE;
                 read == OperationRead::DONE && in.position() < expression.size();) {
                Operation op;
                read = read_operation(run, in, expression.size(), unit, "test", &op);
                out += std::to_string(op.opcode) + ":" + std::to_string(int64_t(op.values[0])) +
                       "," + std::to_string(int64_t(op.values[1])) +
                       (read == OperationRead::DONE ? " " : "! ");
            }
        });
        return out;
    };
    std::string messages;
    // A reference of version 2 takes the address size (here 2); 0xE5 has no row and is
    // read alone.
    EXPECT_EQ(read_all(v2, 2, &messages), "160:16,5 229:0,0 49:0,0 ");
    EXPECT_EQ(messages, "");
    EXPECT_EQ(read_all(v5, 5, &messages), "160:16,-2 146:129,-1 244:5,2 229:0,0! ");
    EXPECT_NE(messages.find("(423)"), std::string::npos);
}

// Frame instructions: factored offsets, advances that move the location, and the
// instructions a common entry's version does not define.
TEST(DwarfReader, FrameInstructionsByTheirTable) {
    ::Run run;
    Bytes bytes = {0x45, 0x83, 0x02, DW_CFA_advance_loc2, 0x10, 0x00,
                   0x2F, 0x03, 0x02, DW_CFA_def_cfa_sf,   0x0D, 0x7E};
    Sections s({{".debug_frame", bytes}});
    CommonEntry cie;
    cie.version = 3;
    cie.code_align = 2;
    cie.data_align = -4;
    ByteReader in = s.set.reader(FRAME);
    uint64_t location = 0x1000;
    FrameInstruction ins;
    std::vector<std::vector<int64_t>> got;
    while (in.position() < bytes.size()) {
        ASSERT_EQ(read_instruction(run, in, bytes.size(), cie, 4, "test", &location, &ins),
                  InstructionRead::DONE);
        got.push_back(
            {ins.opcode, int64_t(ins.values[0]), int64_t(ins.values[1]), int64_t(ins.location)});
    }
    const std::vector<std::vector<int64_t>> want = {
        {DW_CFA_advance_loc, 5, 0, 0x100A},   // 5 units of 2 bytes
        {DW_CFA_offset, 3, -8, 0x100A},       // register 3 at 2 x -4
        {DW_CFA_advance_loc2, 16, 0, 0x102A}, // 16 units more
        {0x2F, 3, 8, 0x102A},                 // GNU's negative offset: -(2 x -4)
        {DW_CFA_def_cfa_sf, 13, 8, 0x102A}};  // -2 x -4
    EXPECT_EQ(got, want);
    cie.version = 1;
    in.seek(6);
    std::string messages = capture_stderr([&] {
        EXPECT_EQ(read_instruction(run, in, bytes.size(), cie, 4, "test", &location, &ins),
                  InstructionRead::UNKNOWN);
    });
    EXPECT_NE(messages.find("(423)"), std::string::npos);
}

// The tree of a unit: depths, null entries, the end after the top-level entry's children,
// indirect forms, and bytes after the tree.
TEST(DwarfReader, EntriesOfAUnit) {
    Bytes abbrev = concat({leb({1, DW_TAG_compile_unit}),
                           {1},
                           leb({DW_AT_name, DW_FORM_indirect, 0, 0}),
                           leb({2, DW_TAG_variable}),
                           {0},
                           leb({DW_AT_external, DW_FORM_flag_present, 0, 0}),
                           {0}});
    Bytes entries =
        concat({{1}, leb({DW_FORM_indirect, DW_FORM_string}), {'u', 0}, {2, 2, 0, 0, 7}});
    ByteWriter info;
    info.u32(7 + entries.size());
    info.u16(4);
    info.u32(0);
    info.u8(4);
    info.bytes(entries.data(), entries.size());
    Sections s({{".debug_abbrev", abbrev}, {".debug_info", info.take()}});
    Abbreviations tables(s.set);
    UnitReader units(s.set, INFO);
    UnitHeader header;
    ASSERT_EQ(units.next(&header), UnitStep::READ);
    EntryReader reader(s.set, INFO, header, tables);
    Entry entry;
    std::vector<std::pair<EntryReader::Next, unsigned>> walk;
    AttributeValue value;
    EntryReader::Next next;
    while ((next = reader.next(&entry)) != EntryReader::Next::END) {
        ASSERT_NE(next, EntryReader::Next::FAILED);
        walk.push_back({next, entry.depth});
        for (uint32_t k = 0; entry.abbreviation && k < entry.abbreviation->count; ++k) {
            ASSERT_TRUE(reader.value(tables.spec(*entry.abbreviation, k), &value));
        }
        if (entry.code == 1) {
            EXPECT_EQ(value.indirect_count, 2u);
            EXPECT_EQ(std::string(value.value.text, value.value.text_length), "u");
        }
    }
    using N = EntryReader::Next;
    const std::vector<std::pair<N, unsigned>> want = {
        {N::ENTRY, 0}, {N::ENTRY, 1}, {N::ENTRY, 1}, {N::NULL_ENTRY, 1}};
    EXPECT_EQ(walk, want);
    std::string messages = capture_stderr([&] { reader.finish(); });
    EXPECT_NE(messages.find("(662)"), std::string::npos) << "the 7 after the tree";
    EXPECT_TRUE(units.done());
}

// A macro unit's header: its line offset and operand table read, a version that is
// neither GNU's 4 nor 5 refused with 420, a header cut inside its operand table with 422.
TEST(DwarfReader, MacroUnitHeaders) {
    ::Run run;
    Bytes whole = {5, 0, 6, 0x10, 0, 0, 0, 1, 0xE0, 2, DW_FORM_udata, DW_FORM_string};
    Sections s({{".debug_macro", whole}});
    const Section& section = s.set[MACRO_SECTION];
    ByteReader in(whole.data(), whole.size(), ByteOrder::little);
    MacroUnitHeader h;
    ASSERT_TRUE(read_macro_header(run, in, section, &h));
    EXPECT_EQ(h.line_offset, 0x10u);
    ASSERT_EQ(h.operand_forms.size(), 1u);
    EXPECT_EQ(h.operand_forms[0].second, Bytes({DW_FORM_udata, DW_FORM_string}));
    const std::pair<Bytes, const char*> bad[] = {{{3, 0, 0}, "(420)"},
                                                 {{5, 0, 4, 1, 0xE0, 9, DW_FORM_udata}, "(422)"}};
    for (const auto& [bytes, code] : bad) {
        ByteReader cut(bytes.data(), bytes.size(), ByteOrder::little);
        std::string messages =
            capture_stderr([&] { EXPECT_FALSE(read_macro_header(run, cut, section, &h)); });
        EXPECT_NE(messages.find(code), std::string::npos) << messages;
    }
}

} // namespace
