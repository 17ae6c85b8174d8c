// Processor descriptors: selection, tables, variable locations and type sizes.
#include <gtest/gtest.h>

#include "debug_helpers.h"
#include "model/store.h"

namespace {

const ProcessorDescriptor* selected_by(const char* name, std::vector<std::string> list = {}) {
    reset_run_state();
    options.processor_name = name;
    options.processor_list = std::move(list);
    return select_processor("") ? selected_processor() : nullptr;
}

TEST(ProcessorSelection, ByName) {
    EXPECT_EQ(selected_by("16F877"), &pic_processor);
    EXPECT_EQ(selected_by("14000"), &pic_processor);
    EXPECT_EQ(selected_by("rf509af"), &pic_processor);
    EXPECT_EQ(selected_by("PIC18F452"), &pic_processor); // "PIC" comes first
    EXPECT_EQ(selected_by("PIC32MX360"), &pic_processor);
    EXPECT_EQ(selected_by("18F452"), &pic18_processor);
    EXPECT_EQ(selected_by("18c242"), &pic18_processor);
    EXPECT_EQ(selected_by("30F2010"), &dspic_processor);
    EXPECT_EQ(selected_by("24FJ128GA"), &dspic_processor);
    EXPECT_EQ(selected_by("24F16KA101"), &dspic_processor);
    EXPECT_EQ(selected_by("32MX360F512L"), &pic32_processor);
    EXPECT_EQ(selected_by("x8051y"), &i8051_processor);
    EXPECT_EQ(selected_by("AT89C51", {"8051"}), &i8051_processor);
    EXPECT_EQ(selected_by("AT91R40008"), &arm_processor);
    EXPECT_EQ(selected_by("ht46r24"), &holtek_processor);
}

TEST(ProcessorSelection, NamesThatFitNoFamilyFallBackToOptionWords) {
    // Case-sensitive tests: lower-case 30f and 32mx fit nothing; no words means every
    // family is a candidate.
    for (const char* name : {"30f2010", "32mx360", "arm7", ""}) {
        reset_run_state();
        options.processor_name = name;
        std::string err = capture_stderr([] { EXPECT_FALSE(select_processor("")); });
        EXPECT_NE(err.find("(669)"), std::string::npos) << name;
        EXPECT_EQ(type_model.global_scope, nullptr);
    }
    // A list entry 8051 needs a name to go with it: without one the words decide.
    reset_run_state();
    options.processor_list = {"8051"};
    EXPECT_TRUE(select_processor("HOLTEK GLOBOPT"));
    EXPECT_EQ(selected_processor(), &holtek_processor);
}

TEST(ProcessorSelection, ByOptionWords) {
    auto by_words = [](const char* text) {
        reset_run_state();
        return select_processor(text) ? selected_processor() : nullptr;
    };
    EXPECT_EQ(by_words("AVOCET FAST_DBL"), &pic18_processor);
    EXPECT_EQ(by_words("holtek globopt"), &holtek_processor); // words ignore case
    EXPECT_EQ(by_words("  PIC30   SPEEDOPT  ] AVOCET"), &dspic_processor);
    EXPECT_EQ(by_words("THUMBV4 EVAR"), &arm_processor);
    std::string err = capture_stderr([&] { EXPECT_EQ(by_words("GLOBOPT AUTOSTATIC"), nullptr); });
    EXPECT_NE(err.find("(669)"), std::string::npos);
    err = capture_stderr([&] { EXPECT_EQ(by_words("GLOBOPT NOSUCHOPTION"), nullptr); });
    EXPECT_NE(err.find("(668)"), std::string::npos);
    err = capture_stderr([&] { EXPECT_EQ(by_words("]"), nullptr); });
    EXPECT_NE(err.find("(669)"), std::string::npos);
}

TEST(ProcessorSelection, TheFirstSelectionStays) {
    reset_run_state();
    ASSERT_TRUE(select_processor("HOLTEK"));
    ScopeEntry* global = type_model.global_scope;
    options.processor_name = "16F877";
    EXPECT_TRUE(select_processor("AVOCET FAST_DBL"));
    EXPECT_EQ(selected_processor(), &holtek_processor);
    EXPECT_EQ(type_model.global_scope, global);
}

TEST(ProcessorTables, RegisterAndOptionLookups) {
    start_run("30F2010");
    EXPECT_EQ(find_register("w37"), 24u);
    EXPECT_EQ(find_register("W0"), 0u);
    EXPECT_EQ(find_register(""), 0u);
    EXPECT_EQ(find_register(nullptr), 0u);
    EXPECT_STREQ(register_name(30), "LPARAMREG");
    EXPECT_STREQ(register_name(31), "");
    EXPECT_STREQ(register_name(0), "");
    EXPECT_TRUE(processor_has_option("PIC30"));
    EXPECT_FALSE(processor_has_option("pic30"));
    EXPECT_FALSE(processor_has_option("AVOCET"));
}

// A function scope "main" holding one variable, for the location rules.
struct Frame {
    ScopeEntry* function;
    ScopeEntry* block;
    ScopeEntry* variable;
};

Frame frame_with(uint32_t sclass, uint32_t value, const char* function_name = "main") {
    ScopeEntry* module = new_scope(SC_MODULE);
    module->name = "main.obj";
    type_model.current_scope = module;
    ScopeEntry* declaring = new_entry(SC_EXTERN);
    declaring->name = function_name;
    ScopeEntry* function = new_scope(SC_FUNC);
    function->function = declaring;
    type_model.current_scope = function;
    ScopeEntry* block = new_scope(SC_BLOCK);
    ScopeEntry* variable = new_entry(sclass);
    variable->name = "_v";
    variable->value = value;
    return {function, block, variable};
}

ValuePair locate(ScopeEntry* entry, const ScopeEntry* scope, bool* found) {
    ValuePair answer{0xDEAD, 0xBEEF};
    *found = variable_location(entry, scope, &answer);
    return answer;
}

TEST(VariableLocation, FramesOfThePicFamiliesComeFromSymbols) {
    for (const char* name : {"16F877", "18F452"}) {
        start_run(name);
        add_symbol("?amain", 0x40, 2, 0, 0);
        add_symbol("??main", 0x60, 2, 0, 0);
        add_symbol("?main", 0x50, 3, 0, 0);
        Frame f = frame_with(SC_AUTO, 3);
        bool found = false;
        ValuePair at = locate(f.variable, f.block, &found);
        EXPECT_TRUE(found);
        EXPECT_EQ(at.value, 0x43u);
        EXPECT_EQ(at.segment, 2u);
        EXPECT_TRUE(f.variable->flags & ENTRY_LOCATED);
        EXPECT_EQ(f.variable->location_value, 0x43u);

        Frame p = frame_with(SC_PARAM, 1);
        at = locate(p.variable, p.function, &found);
        EXPECT_TRUE(found);
        EXPECT_EQ(at.value, 0x51u);
        EXPECT_EQ(at.segment, 3u);

        // A professional edition puts autos at "??": parameters stay at "?".
        start_run(name);
        add_symbol("?amain", 0x40, 2, 0, 0);
        add_symbol("??main", 0x60, 2, 0, 0);
        add_symbol("?main", 0x50, 3, 0, 0);
        type_model.defines = std::make_unique<HashTable<std::string, std::string>>(8);
        type_model.defines->insert("edition", "pro");
        f = frame_with(SC_AUTO, 3);
        at = locate(f.variable, f.block, &found);
        EXPECT_EQ(at.value, 0x63u);
        p = frame_with(SC_PARAM, 1);
        at = locate(p.variable, p.function, &found);
        EXPECT_EQ(at.value, 0x51u);
    }
}

TEST(VariableLocation, NoFunctionScopeOrNoSymbolMeansNoLocation) {
    start_run("16F877");
    Frame f = frame_with(SC_AUTO, 3);
    bool found = true;
    locate(f.variable, f.block, &found);
    EXPECT_FALSE(found); // no ?amain
    EXPECT_FALSE(f.variable->flags & ENTRY_LOCATED);
    add_symbol("?amain", 0x40, 2, 0, 0);
    ScopeEntry* module = f.function->parent;
    locate(f.variable, module, &found);
    EXPECT_FALSE(found); // a module is not a function scope
    locate(nullptr, module, &found);
    EXPECT_FALSE(found);
    ScopeEntry* typedef_entry = new_entry(SC_TYPEDEF);
    typedef_entry->name = "?amain";
    locate(typedef_entry, module, &found);
    EXPECT_FALSE(found);
}

TEST(VariableLocation, ExternsAndStaticsAreKeptOnceFound) {
    start_run("16F877");
    add_symbol("_v", 0x20, 1, 0, 0);
    add_symbol("F12", 0x30, 2, 0, 0);
    Frame f = frame_with(SC_EXTERN, 0);
    bool found = false;
    ValuePair at = locate(f.variable, f.function, &found);
    EXPECT_TRUE(found);
    EXPECT_EQ(at.value, 0x20u);
    // Later calls answer the kept pair, whatever the store says now.
    store.symbols[0]->value = 0x99;
    at = locate(f.variable, f.function, &found);
    EXPECT_EQ(at.value, 0x20u);

    ScopeEntry* f_static = new_entry(SC_STATIC);
    f_static->name = "_ticks";
    f_static->asm_name = "F12";
    at = locate(f_static, f.function, &found);
    EXPECT_TRUE(found);
    EXPECT_EQ(at.value, 0x30u);
    EXPECT_EQ(at.segment, 2u);
}

TEST(VariableLocation, DspicFramesAndStaticsOfTheScopeFile) {
    start_run("30F2010");
    uint32_t main_file = add_file("main.obj");
    uint32_t other_file = add_file("pwm.obj");
    add_symbol("_count", 0x832, 1, other_file, 0);
    add_symbol("_count", 0x80C, 1, main_file, 0);
    FileRecord* file = store.files[main_file - 1];
    file->symbols.push_back(store.symbols[1]); // as normalisation builds it

    Frame f = frame_with(SC_AUTO, 4);
    f.function->numbers[1] = -10;
    f.function->numbers[3] = -14;
    bool found = false;
    ValuePair at = locate(f.variable, f.block, &found);
    EXPECT_TRUE(found);
    EXPECT_EQ(at.value, uint32_t(-6));
    EXPECT_EQ(at.segment, 0u);
    Frame p = frame_with(SC_PARAM, 2);
    p.function->numbers[3] = -14;
    at = locate(p.variable, p.block, &found);
    EXPECT_EQ(at.value, uint32_t(-12));

    ScopeEntry* module = f.function->parent;
    ScopeEntry* count = new_entry(SC_STATIC);
    count->name = "_count";
    at = locate(count, module, &found);
    EXPECT_EQ(at.value, 0x80Cu); // this module's own, not the first of the name
    ScopeEntry* elsewhere = new_entry(SC_STATIC);
    elsewhere->name = "_count";
    at = locate(elsewhere, f.function, &found); // a function scope names no file
    EXPECT_EQ(at.value, 0x832u);
}

TEST(VariableLocation, RegisterVariablesByFamily) {
    struct Case {
        const char* processor;
        uint32_t reg;
        bool found;
        uint32_t value;
    };
    const Case cases[] = {
        {"16F877", 1, false, 0},      {"18F452", 3, false, 0},        {"30F2010", 1, true, 0},
        {"30F2010", 16, true, 15},    {"30F2010", 17, true, 0},       {"30F2010", 23, true, 12},
        {"30F2010", 24, false, 0},    {"32MX360F512L", 18, true, 17}, {"AT91R40008", 5, true, 4},
        {"AT91R40008", 17, true, 0},  {"AT91R40008", 23, true, 6},    {"AT91R40008", 24, true, 9},
        {"AT91R40008", 27, false, 0}, {"HT46R24", 1, true, 5},        {"HT46R24", 2, true, 0},
        {"HT46R24", 3, false, 0},
    };
    for (const Case& c : cases) {
        start_run(c.processor);
        Frame f = frame_with(SC_REG, c.reg);
        bool found = false;
        ValuePair at = locate(f.variable, f.block, &found);
        EXPECT_EQ(found, c.found) << c.processor << " r" << c.reg;
        if (found) {
            EXPECT_EQ(at.value, c.value) << c.processor << " r" << c.reg;
        }
        EXPECT_FALSE(f.variable->flags & ENTRY_LOCATED);
    }
    // dsPIC leaves the segment as the caller set it; Holtek takes the RAM space or 0.
    start_run("30F2010");
    Frame f = frame_with(SC_REG, 2);
    bool found = false;
    EXPECT_EQ(locate(f.variable, f.block, &found).segment, 0xBEEFu);
    start_run("HT46R24");
    f = frame_with(SC_REG, 1);
    EXPECT_EQ(locate(f.variable, f.block, &found).segment, 0u);
    add_segment("CODE", 0, 0, 0, 1);
    add_segment("RAM", 0x40, 0xC0, 0x40, 7);
    EXPECT_EQ(locate(f.variable, f.block, &found).segment, 7u);
}

TEST(VariableLocation, I8051RegistersNeedTheDataSegment) {
    start_run("8051");
    Frame f = frame_with(SC_REG, 10); // WR1
    bool found = true;
    locate(f.variable, f.block, &found);
    EXPECT_FALSE(found);
    add_segment("DATA", 0, 0x80, 0, 3);
    ValuePair at = locate(f.variable, f.block, &found);
    EXPECT_TRUE(found);
    EXPECT_EQ(at.value, 2u);
    EXPECT_EQ(at.segment, 3u);
    f.variable->value = 14; // LR1
    EXPECT_EQ(locate(f.variable, f.block, &found).value, 4u);
    f.variable->value = 8; // r7
    EXPECT_EQ(locate(f.variable, f.block, &found).value, 7u);
    f.variable->value = 15;
    locate(f.variable, f.block, &found);
    EXPECT_FALSE(found);
}

TEST(TypeSize, PointersByFamilyAndComposites) {
    auto size_of = [](const char* type) { return type_size(TypeRef(parse_type(type))); };
    start_run("16F877");
    EXPECT_EQ(size_of("*Fuc"), 2u);
    EXPECT_EQ(size_of("*Dc"), 2u);
    EXPECT_EQ(size_of("*Vc"), 1u);
    EXPECT_EQ(size_of("*c"), 1u);
    EXPECT_EQ(size_of("[3][4]*Fc"), 24u);
    EXPECT_EQ(size_of("(i"), 0u);
    EXPECT_EQ(size_of("Vi"), 0u); // a qualifier node has no size of its own
    EXPECT_EQ(size_of("m"), 3u);
    start_run("8051");
    EXPECT_EQ(size_of("*Nuc"), 1u);
    EXPECT_EQ(size_of("*Auc"), 1u);
    EXPECT_EQ(size_of("*Puc"), 1u);
    EXPECT_EQ(size_of("*Xuc"), 2u);
    EXPECT_EQ(size_of("*uc"), 2u);
    start_run("AT91R40008");
    EXPECT_EQ(size_of("b"), 10u);
    EXPECT_EQ(size_of("*.Tc"), 4u);
    start_run("30F2010");
    EXPECT_EQ(size_of("v"), 2u);
    EXPECT_EQ(size_of("[5]unx"), 5u);

    // Structures and enumerations take their entries' sizes.
    ScopeEntry* s = read_text("[p PIC30 ]\n[s S1 pair 6 `i a 2 0 `l b 4 2 ]\n"
                              "[e E1 colour `l RED 0 ]\n");
    ASSERT_NE(s, nullptr);
    type_model.current_scope = s;
    EXPECT_EQ(size_of("[2]S1"), 12u);
    EXPECT_EQ(size_of("E1"), 4u);
    // An array of a huge count wraps as 32-bit arithmetic does.
    EXPECT_EQ(size_of("[2147483648][2]i"), 0u);
}

} // namespace
