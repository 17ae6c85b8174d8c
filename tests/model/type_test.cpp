// The type model: type strings, printing, name lookups, equality and the type table.
#include <gtest/gtest.h>

#include "debug_helpers.h"

namespace {

class TypeModelTest : public testing::Test {
  protected:
    ::Run run;
    void SetUp() override { start_run(run, "16F877"); }

    // A scope of the class opened in the current scope and made current.
    ScopeEntry* open(uint32_t sclass) {
        ScopeEntry* scope = new_scope(run, sclass);
        add_entry(run, scope);
        run.type_model.current_scope = scope;
        return scope;
    }
    ScopeEntry* declare(const char* name, uint32_t sclass, const char* type = "i") {
        ScopeEntry* entry = new_entry(run, sclass);
        entry->name = name;
        entry->type = type ? parse_type(run, type) : nullptr;
        add_entry(run, entry);
        chain_entry(run, run.type_model.current_scope, entry);
        return entry;
    }
    // A structure entry with plain members of the given types.
    ScopeEntry* structure(const char* name, const char* tag, std::vector<const char*> members) {
        ScopeEntry* s = declare(name, SC_STRUCT, nullptr);
        s->make_aggregate().tag = tag;
        int32_t offset = 0;
        for (const char* member_type : members) {
            Member m;
            m.name = "m" + std::to_string(offset);
            m.type = parse_type(run, member_type);
            m.size = 2;
            m.offset = offset;
            offset += 2;
            s->make_aggregate().members.push_back(m);
        }
        s->make_aggregate().size = static_cast<uint32_t>(offset);
        return s;
    }
};

// Each prefix is a node, the first outermost; "[10" needs no "]"; "*." and a letter is a
// qualified pointer; qualifier letters in a row make one node (its text keeps 15, its
// value ORs all); an undeclared structure or enumeration becomes a forward entry.
TEST_F(TypeModelTest, TypeStringsParseAndPrint) {
    structure("S2", "point", {"i"});
    declare("_byte", SC_TYPEDEF, "*Duc");
    const struct {
        const char* text;
        std::vector<uint32_t> kinds; // base first
        const char* outer_text;
        uint32_t outer_value;
        const char* printed;
    } rows[] = {
        {"*[4]S1", {TYPE_STRUCT, TYPE_ARRAY, TYPE_POINTER}, "*", 0, "*[4]struct S1"},
        {"[10i", {TYPE_BASIC, TYPE_ARRAY}, "[10]", 10, "[10]i2"},
        {"*.Nuc", {TYPE_BASIC, TYPE_POINTER}, "*.N", '.', "*u1"},
        {"`(E7", {TYPE_ENUM, TYPE_FUNCTION}, "(", 0, "(Unknown type"},
        {"DV*i",
         {TYPE_BASIC, TYPE_POINTER, TYPE_QUALIFIER},
         "DV",
         0x80002,
         "const volatile eeprom const *i2"},
        {"V*Dc",
         {TYPE_BASIC, TYPE_QUALIFIER, TYPE_POINTER, TYPE_QUALIFIER},
         "V",
         0x2,
         "volatile eeprom *const const i1"},
        {"VVVVVVVVVVVVVVVVVVVVDi",
         {TYPE_BASIC, TYPE_QUALIFIER},
         "VVVVVVVVVVVVVVV",
         0x80002,
         "const volatile eeprom const i2"},
        {"[3]byte",
         {TYPE_BASIC, TYPE_QUALIFIER, TYPE_POINTER, TYPE_ARRAY},
         "[3]",
         3,
         "[3]*const const u1"},
        {"`*DVuc",
         {TYPE_BASIC, TYPE_QUALIFIER, TYPE_POINTER},
         "*",
         0,
         "*const volatile eeprom const u1"},
        {"(*S2", {TYPE_STRUCT, TYPE_POINTER, TYPE_FUNCTION}, "(", 0, "(*struct point"},
        {"[2][3]S1", {TYPE_STRUCT, TYPE_ARRAY, TYPE_ARRAY}, "[2]", 2, "[2][3]struct S1"},
        {"f", {TYPE_BASIC}, "f", 3, "f3"},
        {"b", {TYPE_BASIC}, "b", 4, "b0"},
    };
    for (const auto& row : rows) {
        Type* type = parse_type(run, row.text);
        ASSERT_NE(type, nullptr) << row.text;
        std::vector<uint32_t> kinds;
        for (const TypeNode* node : type->base_first())
            kinds.push_back(node->kind);
        EXPECT_EQ(kinds, row.kinds) << row.text;
        EXPECT_EQ(type->outermost().text, row.outer_text) << row.text;
        EXPECT_EQ(type->outermost().value, row.outer_value) << row.text;
        EXPECT_EQ(type_text(run, type), row.printed) << row.text;
    }
    ScopeEntry* s1 = find_type_name(run, "S1");
    ASSERT_NE(s1, nullptr);
    EXPECT_EQ(s1->sclass, SC_STRUCT);
    EXPECT_TRUE(s1->aggregate().members.empty());
    EXPECT_EQ(parse_type(run, "`(E7")->base().entry->sclass, SC_ENUM);
    EXPECT_EQ(find_type_name(run, "_byte")->type->count(), 3u); // the typedef was copied
    EXPECT_EQ(type_text(run, nullptr), "");
}

// An upper-case letter at the end is a qualifier with nothing to qualify.
TEST_F(TypeModelTest, StringsThatAreNotTypes) {
    const struct {
        const char* text;
        const char* message;
    } rows[] = {{"*9x", "Encountered type string 9x\n"},
                {"undeclared", ""},
                {"", "Encountered type string \n"},
                {"V", "Encountered type string \n"}};
    for (const auto& row : rows)
        EXPECT_EQ(capture_stderr([&] { EXPECT_EQ(parse_type(run, row.text), nullptr); }),
                  row.message);
}

TEST_F(TypeModelTest, VeryLongTypeStringsParseWithoutDeepRecursion) {
    std::string text(200000, '*');
    text += "i";
    Type* type = parse_type(run, text.c_str());
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(type->count(), 200001u);
}

TEST_F(TypeModelTest, FunctionAndBitPredicatesLookThroughQualifiers) {
    EXPECT_TRUE(is_function_type(parse_type(run, "VI(v")));
    EXPECT_FALSE(is_function_type(parse_type(run, "*(v")));
    EXPECT_TRUE(is_bit_type(parse_type(run, "Vb")));
    EXPECT_FALSE(is_bit_type(parse_type(run, "[8]b")));
    EXPECT_FALSE(is_function_type(nullptr));
}

TEST_F(TypeModelTest, UnderscoreNamesAnswerTypeLookupsWithoutIt) {
    ScopeEntry* word = declare("_word", SC_TYPEDEF, "ui");
    EXPECT_EQ(find_type_name(run, "word"), word);
    EXPECT_EQ(find_type_name(run, "_word"), word);
    EXPECT_EQ(find_type_name(run, "__word"), nullptr);
}

TEST_F(TypeModelTest, LocalsHideOnlyWhatTheyNameExactlyAndWereDeclaredBefore) {
    ScopeEntry* module = open(SC_MODULE);
    ScopeEntry* outer_x = declare("x", SC_TYPEDEF, "uc");
    ScopeEntry* function = open(SC_FUNC);
    // An auto "_x" matches the chain of "x" but does not hide the typedef x.
    declare("_x", SC_AUTO, "i");
    EXPECT_EQ(find_type_name(run, "x"), outer_x);
    ScopeEntry* auto_x = declare("x", SC_AUTO, "l");
    EXPECT_EQ(find_type_name(run, "x"), auto_x);

    // In an inner block, a local of the function declared after the block was opened
    // is passed over.
    ScopeEntry* block = open(SC_BLOCK);
    run.type_model.current_scope = function;
    declare("y", SC_AUTO, "i");
    run.type_model.current_scope = module;
    ScopeEntry* module_y = declare("y", SC_TYPEDEF, "c");
    run.type_model.current_scope = block;
    EXPECT_EQ(find_type_name(run, "y"), module_y);
    EXPECT_EQ(find_type_name(run, "x"), auto_x);
}

TEST_F(TypeModelTest, RedeclarationsAreSeenOnlyThroughFakedBlocks) {
    open(SC_MODULE);
    ScopeEntry* function = open(SC_FUNC);
    declare("a", SC_AUTO);
    ScopeEntry* later = declare("a", SC_AUTO);
    EXPECT_EQ(find_redeclaration(run, "a"), later);
    EXPECT_EQ(find_redeclaration(run, "_a"), nullptr);

    ScopeEntry* faked = open(SC_BLOCK);
    faked->flags = ENTRY_FAKED;
    EXPECT_EQ(find_redeclaration(run, "a"), later);
    run.type_model.current_scope = function;
    open(SC_BLOCK);
    EXPECT_EQ(find_redeclaration(run, "a"), nullptr);
}

TEST_F(TypeModelTest, GlobalEntrySearchIsDepthFirst) {
    open(SC_MODULE)->name = "one.obj";
    open(SC_FUNC);
    ScopeEntry* inner = declare("_count", SC_STATIC);
    run.type_model.current_scope = run.type_model.global_scope;
    open(SC_MODULE)->name = "two.obj";
    declare("_count", SC_EXTERN);
    ScopeEntry* only = declare("_only", SC_EXTERN);
    EXPECT_EQ(find_global_entry(run, "_count"), inner);
    EXPECT_EQ(find_global_entry(run, "_only"), only);
    EXPECT_EQ(find_global_entry(run, "one.obj")->sclass, SC_MODULE);
    EXPECT_EQ(find_global_entry(run, "nothing"), nullptr);
}

} // namespace
