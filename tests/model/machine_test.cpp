// Processor descriptors: selection, tables, variable locations and type sizes.
#include <gtest/gtest.h>

#include "debug_helpers.h"
#include "model/run.h"
#include "model/store.h"

namespace {

TEST(ProcessorSelection, ByNameThenByOptionWords) {
    ::Run run;
    const struct {
        const char* name;
        std::vector<std::string> list;
        const char* words;
        const ProcessorDescriptor* chosen; // null: none, with message 669 or 668
        unsigned message;
    } rows[] = {
        {"16F877", {}, "", &pic_processor, 0},
        {"14000", {}, "", &pic_processor, 0},
        {"rf509af", {}, "", &pic_processor, 0},
        {"PIC18F452", {}, "", &pic_processor, 0}, // "PIC" comes first
        {"PIC32MX360", {}, "", &pic_processor, 0},
        {"18F452", {}, "", &pic18_processor, 0},
        {"18c242", {}, "", &pic18_processor, 0},
        {"30F2010", {}, "", &dspic_processor, 0},
        {"24FJ128GA", {}, "", &dspic_processor, 0},
        {"24F16KA101", {}, "", &dspic_processor, 0},
        {"32MX360F512L", {}, "", &pic32_processor, 0},
        {"x8051y", {}, "", &i8051_processor, 0},
        {"AT89C51", {"8051"}, "", &i8051_processor, 0},
        {"AT91R40008", {}, "", &arm_processor, 0},
        {"ht46r24", {}, "", &holtek_processor, 0},
        // The name tests are case-sensitive where they are: lower-case 30f and 32mx fit
        // nothing; no words makes every family a candidate.
        {"30f2010", {}, "", nullptr, 669},
        {"32mx360", {}, "", nullptr, 669},
        {"arm7", {}, "", nullptr, 669},
        {"", {}, "", nullptr, 669},
        {"", {"8051"}, "HOLTEK GLOBOPT", &holtek_processor, 0}, // 8051 needs a name
        {"", {}, "AVOCET FAST_DBL", &pic18_processor, 0},
        {"", {}, "holtek globopt", &holtek_processor, 0}, // words ignore case
        {"", {}, "  PIC30   SPEEDOPT  ] AVOCET", &dspic_processor, 0},
        {"", {}, "THUMBV4 EVAR", &arm_processor, 0},
        {"", {}, "GLOBOPT AUTOSTATIC", nullptr, 669},
        {"", {}, "GLOBOPT NOSUCHOPTION", nullptr, 668},
        {"", {}, "]", nullptr, 669},
    };
    for (const auto& row : rows) {
        run = ::Run();
        run.options.processor_name = row.name;
        run.options.processor_list = row.list;
        bool chosen = false;
        std::string err = capture_stderr([&] { chosen = select_processor(run, row.words); });
        EXPECT_EQ(chosen ? selected_processor(run) : nullptr, row.chosen) << row.name << row.words;
        EXPECT_EQ(has_message(err, row.message), row.message != 0) << row.name << row.words;
        EXPECT_EQ(run.type_model.global_scope != nullptr, chosen);
    }
    // The first selection stays.
    run = ::Run();
    ASSERT_TRUE(select_processor(run, "HOLTEK"));
    ScopeEntry* global = run.type_model.global_scope;
    run.options.processor_name = "16F877";
    EXPECT_TRUE(select_processor(run, "AVOCET FAST_DBL"));
    EXPECT_EQ(selected_processor(run), &holtek_processor);
    EXPECT_EQ(run.type_model.global_scope, global);
}

TEST(ProcessorTables, RegisterAndOptionLookups) {
    ::Run run;
    start_run(run, "30F2010");
    EXPECT_EQ(find_register(run, "w37"), 24u);
    EXPECT_EQ(find_register(run, "W0"), 0u);
    EXPECT_EQ(find_register(run, ""), 0u);
    EXPECT_EQ(find_register(run, nullptr), 0u);
    EXPECT_STREQ(register_name(run, 30), "LPARAMREG");
    EXPECT_STREQ(register_name(run, 31), "");
    EXPECT_STREQ(register_name(run, 0), "");
    EXPECT_TRUE(processor_has_option(run, "PIC30"));
    EXPECT_FALSE(processor_has_option(run, "pic30"));
    EXPECT_FALSE(processor_has_option(run, "AVOCET"));
}

// A function "main" in a module, a block in it, and a variable of the class.
struct Frame {
    ScopeEntry *module, *function, *block, *variable;
};

Frame frame_with(::Run& run, uint32_t sclass, uint32_t value) {
    Frame f;
    f.module = new_scope(run, SC_MODULE);
    f.module->name = "main.obj";
    run.type_model.current_scope = f.module;
    ScopeEntry* declaring = new_entry(run, SC_EXTERN);
    declaring->name = "main";
    f.function = new_scope(run, SC_FUNC);
    f.function->make_scope().function = declaring;
    run.type_model.current_scope = f.function;
    f.block = new_scope(run, SC_BLOCK);
    f.variable = new_entry(run, sclass);
    f.variable->name = "_v";
    f.variable->value = value;
    return f;
}

// Where the variable is, as "value/segment" in hexadecimal, or "none"; the segment is
// BEEF where the rule leaves the caller's pair as it was.
std::string where(::Run& run, ScopeEntry* entry, const ScopeEntry* scope) {
    ValuePair at{0xDEAD, 0xBEEF};
    if (!variable_location(run, entry, scope, &at)) return "none";
    char text[32];
    snprintf(text, sizeof text, "%X/%X", at.value, at.segment);
    return text;
}

void pic_frame_symbols(::Run& run, const char* processor) {
    start_run(run, processor);
    add_symbol(run, "?amain", 0x40, 2, 0, 0);
    add_symbol(run, "??main", 0x60, 2, 0, 0);
    add_symbol(run, "?main", 0x50, 3, 0, 0);
}

// Autos at "?a" + function (or "??" in a professional edition), parameters at "?".
TEST(VariableLocation, FramesOfThePicFamiliesComeFromSymbols) {
    ::Run run;
    for (const char* name : {"16F877", "18F452"}) {
        pic_frame_symbols(run, name);
        Frame f = frame_with(run, SC_AUTO, 3);
        EXPECT_EQ(where(run, f.variable, f.block), "43/2");
        EXPECT_TRUE(f.variable->flags & ENTRY_LOCATED);
        EXPECT_EQ(f.variable->location_value, 0x43u);
        Frame p = frame_with(run, SC_PARAM, 1);
        EXPECT_EQ(where(run, p.variable, p.function), "51/3");
        pic_frame_symbols(run, name);
        run.type_model.defines = std::make_unique<HashTable<std::string, std::string>>(8);
        run.type_model.defines->insert("edition", "pro");
        f = frame_with(run, SC_AUTO, 3);
        EXPECT_EQ(where(run, f.variable, f.block), "63/2");
        p = frame_with(run, SC_PARAM, 1);
        EXPECT_EQ(where(run, p.variable, p.function), "51/3");
    }
    start_run(run, "16F877");
    Frame f = frame_with(run, SC_AUTO, 3);
    EXPECT_EQ(where(run, f.variable, f.block), "none"); // no ?amain
    EXPECT_FALSE(f.variable->flags & ENTRY_LOCATED);
    add_symbol(run, "?amain", 0x40, 2, 0, 0);
    EXPECT_EQ(where(run, f.variable, f.module), "none"); // a module is not a function scope
    EXPECT_EQ(where(run, nullptr, f.module), "none");
    ScopeEntry* typedef_entry = new_entry(run, SC_TYPEDEF);
    typedef_entry->name = "?amain";
    EXPECT_EQ(where(run, typedef_entry, f.module), "none");
}

TEST(VariableLocation, ExternsAndStaticsAreKeptOnceFound) {
    ::Run run;
    start_run(run, "16F877");
    add_symbol(run, "_v", 0x20, 1, 0, 0);
    add_symbol(run, "F12", 0x30, 2, 0, 0);
    Frame f = frame_with(run, SC_EXTERN, 0);
    EXPECT_EQ(where(run, f.variable, f.function), "20/1");
    run.store.symbols[0]->value = 0x99; // later calls answer the kept pair
    EXPECT_EQ(where(run, f.variable, f.function), "20/1");
    ScopeEntry* ticks = new_entry(run, SC_STATIC);
    ticks->name = "_ticks";
    ticks->set_asm_name("F12");
    EXPECT_EQ(where(run, ticks, f.function), "30/2");
}

TEST(VariableLocation, DspicFramesAndStaticsOfTheScopeFile) {
    ::Run run;
    start_run(run, "30F2010");
    uint32_t main_file = add_file(run, "main.obj");
    uint32_t other_file = add_file(run, "pwm.obj");
    add_symbol(run, "_count", 0x832, 1, other_file, 0);
    add_symbol(run, "_count", 0x80C, 1, main_file, 0);
    run.store.files[main_file - 1]->symbols.push_back(
        run.store.symbols[1]); // as normalisation does
    Frame f = frame_with(run, SC_AUTO, 4);
    f.function->make_scope().numbers[1] = -10;
    f.function->make_scope().numbers[3] = -14;
    EXPECT_EQ(where(run, f.variable, f.block), "FFFFFFFA/0");
    Frame p = frame_with(run, SC_PARAM, 2);
    p.function->make_scope().numbers[3] = -14;
    EXPECT_EQ(where(run, p.variable, p.block), "FFFFFFF4/0");
    ScopeEntry* count = new_entry(run, SC_STATIC);
    count->name = "_count";
    EXPECT_EQ(where(run, count, f.module), "80C/1"); // this module's own, not the first
    ScopeEntry* elsewhere = new_entry(run, SC_STATIC);
    elsewhere->name = "_count";
    EXPECT_EQ(where(run, elsewhere, f.function), "832/1"); // a function scope names no file
}

// dsPIC leaves the segment as the caller set it; Holtek takes the RAM space or 0; the
// 8051 needs the DATA segment.
TEST(VariableLocation, RegisterVariablesByFamily) {
    ::Run run;
    const struct {
        const char* processor;
        uint32_t reg;
        const char* at;
    } rows[] = {
        {"16F877", 1, "none"},        {"18F452", 3, "none"},        {"30F2010", 1, "0/BEEF"},
        {"30F2010", 2, "1/BEEF"},     {"30F2010", 16, "F/BEEF"},    {"30F2010", 17, "0/BEEF"},
        {"30F2010", 23, "C/BEEF"},    {"30F2010", 24, "none"},      {"32MX360F512L", 18, "11/BEEF"},
        {"AT91R40008", 5, "4/BEEF"},  {"AT91R40008", 17, "0/BEEF"}, {"AT91R40008", 23, "6/BEEF"},
        {"AT91R40008", 24, "9/BEEF"}, {"AT91R40008", 27, "none"},   {"HT46R24", 1, "5/0"},
        {"HT46R24", 2, "0/0"},        {"HT46R24", 3, "none"},       {"8051", 10, "none"},
    };
    for (const auto& row : rows) {
        start_run(run, row.processor);
        Frame f = frame_with(run, SC_REG, row.reg);
        EXPECT_EQ(where(run, f.variable, f.block), row.at) << row.processor << " r" << row.reg;
        EXPECT_FALSE(f.variable->flags & ENTRY_LOCATED);
    }
    start_run(run, "HT46R24");
    Frame h = frame_with(run, SC_REG, 1);
    add_segment(run, "CODE", 0, 0, 0, 1);
    add_segment(run, "RAM", 0x40, 0xC0, 0x40, 7);
    EXPECT_EQ(where(run, h.variable, h.block), "5/7");
    start_run(run, "8051");
    add_segment(run, "DATA", 0, 0x80, 0, 3);
    const std::pair<uint32_t, const char*> i8051[] = {
        {10, "2/3"}, {14, "4/3"}, {8, "7/3"}, {15, "none"}}; // WR1, LR1, r7
    for (const auto& [reg, at] : i8051) {
        Frame f = frame_with(run, SC_REG, reg);
        EXPECT_EQ(where(run, f.variable, f.block), at) << reg;
    }
}

// A qualifier node ("Vi") has no size of its own; an array size past 32 bits wraps as
// 32-bit arithmetic does.
TEST(TypeSize, PointersByFamilyAndComposites) {
    ::Run run;
    const struct {
        const char* processor;
        const char* type;
        uint32_t size;
    } rows[] = {
        {"16F877", "*Fuc", 2}, {"16F877", "*Dc", 2},        {"16F877", "*Vc", 1},
        {"16F877", "*c", 1},   {"16F877", "[3][4]*Fc", 24}, {"16F877", "(i", 0},
        {"16F877", "Vi", 0},   {"16F877", "m", 3},          {"8051", "*Nuc", 1},
        {"8051", "*Auc", 1},   {"8051", "*Puc", 1},         {"8051", "*Xuc", 2},
        {"8051", "*uc", 2},    {"AT91R40008", "b", 10},     {"AT91R40008", "*.Tc", 4},
        {"30F2010", "v", 2},   {"30F2010", "[5]unx", 5},    {"30F2010", "[2147483648][2]i", 0},
    };
    for (const auto& row : rows) {
        start_run(run, row.processor);
        EXPECT_EQ(type_size(run, TypeRef(parse_type(run, row.type))), row.size)
            << row.processor << " " << row.type;
    }
    // Structures and enumerations take their entries' sizes.
    run.type_model.current_scope =
        read_text(run, "[p PIC30 ]\n[s S1 pair 6 `i a 2 0 `l b 4 2 ]\n[e E1 colour `l RED 0 ]\n");
    ASSERT_NE(run.type_model.current_scope, nullptr);
    EXPECT_EQ(type_size(run, TypeRef(parse_type(run, "[2]S1"))), 12u);
    EXPECT_EQ(type_size(run, TypeRef(parse_type(run, "E1"))), 4u);
}

} // namespace
