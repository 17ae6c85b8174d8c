// The type model: type strings, printing, name lookups, equality and the type table.
#include <gtest/gtest.h>

#include "debug_helpers.h"

namespace {

class TypeModelTest : public testing::Test {
  protected:
    void SetUp() override { start_run("16F877"); }

    // A scope of the class opened in the current scope and made current.
    ScopeEntry* open(uint32_t sclass) {
        ScopeEntry* scope = new_scope(sclass);
        add_entry(scope);
        type_model.current_scope = scope;
        return scope;
    }
    ScopeEntry* declare(const char* name, uint32_t sclass, const char* type = "i") {
        ScopeEntry* entry = new_entry(sclass);
        entry->name = name;
        entry->type = type ? parse_type(type) : nullptr;
        add_entry(entry);
        chain_entry(type_model.current_scope, entry);
        return entry;
    }
    // A structure entry with plain members of the given types.
    ScopeEntry* structure(const char* name, const char* tag, std::vector<const char*> members) {
        ScopeEntry* s = declare(name, SC_STRUCT, nullptr);
        s->tag = tag;
        int32_t offset = 0;
        for (const char* member_type : members) {
            Member m;
            m.name = "m" + std::to_string(offset);
            m.type = parse_type(member_type);
            m.size = 2;
            m.offset = offset;
            offset += 2;
            s->members.push_back(m);
        }
        s->size = static_cast<uint32_t>(offset);
        return s;
    }
};

std::vector<uint32_t> kinds(const Type* type) {
    std::vector<uint32_t> out;
    for (const TypeNode* node : type->base_first())
        out.push_back(node->kind);
    return out;
}

TEST_F(TypeModelTest, PrefixesBecomeNodesWithTheFirstOutermost) {
    Type* type = parse_type("*[4]S1");
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(kinds(type), (std::vector<uint32_t>{TYPE_STRUCT, TYPE_ARRAY, TYPE_POINTER}));
    EXPECT_EQ(TypeRef(type, 1).node().text, "[4]");
    EXPECT_EQ(TypeRef(type, 1).node().value, 4u);
    // The undeclared S1 became a forward structure entry of the current scope.
    ScopeEntry* s1 = type->base().entry;
    ASSERT_NE(s1, nullptr);
    EXPECT_EQ(s1->sclass, SC_STRUCT);
    EXPECT_TRUE(s1->members.empty());
    EXPECT_EQ(find_type_name("S1"), s1);

    // "[10" without its "]" counts too; "*." and a character is a qualified pointer.
    Type* open = parse_type("[10i");
    EXPECT_EQ(open->outermost().text, "[10]");
    EXPECT_EQ(open->outermost().value, 10u);
    Type* qualified = parse_type("*.Nuc");
    EXPECT_EQ(qualified->outermost().text, "*.N");
    EXPECT_EQ(qualified->outermost().value, uint32_t('.'));

    Type* e = parse_type("`(E7");
    EXPECT_EQ(kinds(e), (std::vector<uint32_t>{TYPE_ENUM, TYPE_FUNCTION}));
    EXPECT_EQ(e->base().entry->sclass, SC_ENUM);
    EXPECT_EQ(e->outermost().text, "(");
}

TEST_F(TypeModelTest, QualifierLettersInARowMergeIntoOneNode) {
    Type* type = parse_type("DV*i");
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(kinds(type), (std::vector<uint32_t>{TYPE_BASIC, TYPE_POINTER, TYPE_QUALIFIER}));
    EXPECT_EQ(type->outermost().text, "DV");
    EXPECT_EQ(type->outermost().value, 0x80002u);

    // Qualifiers on both sides of a pointer stay apart.
    Type* both = parse_type("V*Dc");
    EXPECT_EQ(kinds(both),
              (std::vector<uint32_t>{TYPE_BASIC, TYPE_QUALIFIER, TYPE_POINTER, TYPE_QUALIFIER}));

    // The text keeps 15 letters; the flags of all of them are ORed.
    Type* many = parse_type("VVVVVVVVVVVVVVVVVVVVDi");
    EXPECT_EQ(many->outermost().text, std::string(15, 'V'));
    EXPECT_EQ(many->outermost().value, 0x80002u);
}

TEST_F(TypeModelTest, StringsThatAreNotTypes) {
    std::string err = capture_stderr([] { EXPECT_EQ(parse_type("*9x"), nullptr); });
    EXPECT_EQ(err, "Encountered type string 9x\n");
    err = capture_stderr([] { EXPECT_EQ(parse_type("undeclared"), nullptr); });
    EXPECT_EQ(err, "");
    err = capture_stderr([] { EXPECT_EQ(parse_type(""), nullptr); });
    EXPECT_EQ(err, "Encountered type string \n");
    // An upper-case letter at the end is a qualifier with nothing to qualify.
    err = capture_stderr([] { EXPECT_EQ(parse_type("V"), nullptr); });
    EXPECT_EQ(err, "Encountered type string \n");
}

TEST_F(TypeModelTest, UnknownQualifierIsReportedAndAddsNothing) {
    Type* type = nullptr;
    std::string err = capture_stderr([&] { type = parse_type("QVi"); });
    EXPECT_EQ(err, "Unknown qualifier Q\n");
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(type->outermost().text, "QV");
    EXPECT_EQ(type->outermost().value, 0x2u);
}

TEST_F(TypeModelTest, TypedefNameGivesACopyOfItsDefinition) {
    ScopeEntry* byte = declare("_byte", SC_TYPEDEF, "*Duc");
    Type* type = parse_type("[3]byte");
    ASSERT_NE(type, nullptr);
    EXPECT_NE(type, byte->type);
    EXPECT_EQ(type->count(), 4u);
    EXPECT_EQ(type_text(type), "[3]*const const u1");
    EXPECT_EQ(byte->type->count(), 3u); // the definition is untouched
}

TEST_F(TypeModelTest, VeryLongTypeStringsParseWithoutDeepRecursion) {
    std::string text(200000, '*');
    text += "i";
    Type* type = parse_type(text.c_str());
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(type->count(), 200001u);
    EXPECT_EQ(type_hash(TypeRef(type)), 200000u * 3 * 256 + 1 + 2);
    EXPECT_TRUE(types_equal(TypeRef(type), TypeRef(copy_type(type))));
}

TEST_F(TypeModelTest, PrintTypeShortForms) {
    ScopeEntry* tagged = structure("S1", "point", {"i", "i"});
    ScopeEntry* untagged = structure("S2", "", {"i"});
    (void)tagged;
    (void)untagged;
    EXPECT_EQ(type_text(parse_type("`*DVuc")), "*const volatile eeprom const u1");
    EXPECT_EQ(type_text(parse_type("(*S1")), "(*struct point");
    EXPECT_EQ(type_text(parse_type("[2][3]S2")), "[2][3]struct S2");
    EXPECT_EQ(type_text(parse_type("*E4")), "*Unknown type");
    EXPECT_EQ(type_text(parse_type("f")), "f3");
    EXPECT_EQ(type_text(parse_type("b")), "b0");
    EXPECT_EQ(type_text(nullptr), "");
}

TEST_F(TypeModelTest, FunctionAndBitPredicatesLookThroughQualifiers) {
    EXPECT_TRUE(is_function_type(parse_type("VI(v")));
    EXPECT_FALSE(is_function_type(parse_type("*(v")));
    EXPECT_TRUE(is_bit_type(parse_type("Vb")));
    EXPECT_FALSE(is_bit_type(parse_type("[8]b")));
    EXPECT_FALSE(is_function_type(nullptr));
}

TEST_F(TypeModelTest, UnderscoreNamesAnswerTypeLookupsWithoutIt) {
    ScopeEntry* word = declare("_word", SC_TYPEDEF, "ui");
    EXPECT_EQ(find_type_name("word"), word);
    EXPECT_EQ(find_type_name("_word"), word);
    EXPECT_EQ(find_type_name("__word"), nullptr);
}

TEST_F(TypeModelTest, LocalsHideOnlyWhatTheyNameExactlyAndWereDeclaredBefore) {
    ScopeEntry* module = open(SC_MODULE);
    ScopeEntry* outer_x = declare("x", SC_TYPEDEF, "uc");
    ScopeEntry* function = open(SC_FUNC);
    // An auto "_x" matches the chain of "x" but does not hide the typedef x.
    declare("_x", SC_AUTO, "i");
    EXPECT_EQ(find_type_name("x"), outer_x);
    ScopeEntry* auto_x = declare("x", SC_AUTO, "l");
    EXPECT_EQ(find_type_name("x"), auto_x);

    // In an inner block, a local of the function declared after the block was opened
    // is passed over.
    ScopeEntry* block = open(SC_BLOCK);
    type_model.current_scope = function;
    declare("y", SC_AUTO, "i");
    type_model.current_scope = module;
    ScopeEntry* module_y = declare("y", SC_TYPEDEF, "c");
    type_model.current_scope = block;
    EXPECT_EQ(find_type_name("y"), module_y);
    EXPECT_EQ(find_type_name("x"), auto_x);
}

TEST_F(TypeModelTest, RedeclarationsAreSeenOnlyThroughFakedBlocks) {
    open(SC_MODULE);
    ScopeEntry* function = open(SC_FUNC);
    declare("a", SC_AUTO);
    ScopeEntry* later = declare("a", SC_AUTO);
    EXPECT_EQ(find_redeclaration("a"), later);
    EXPECT_EQ(find_redeclaration("_a"), nullptr);

    ScopeEntry* faked = open(SC_BLOCK);
    faked->flags = ENTRY_FAKED;
    EXPECT_EQ(find_redeclaration("a"), later);
    type_model.current_scope = function;
    open(SC_BLOCK);
    EXPECT_EQ(find_redeclaration("a"), nullptr);
}

TEST_F(TypeModelTest, GlobalEntrySearchIsDepthFirst) {
    open(SC_MODULE)->name = "one.obj";
    open(SC_FUNC);
    ScopeEntry* inner = declare("_count", SC_STATIC);
    type_model.current_scope = type_model.global_scope;
    open(SC_MODULE)->name = "two.obj";
    declare("_count", SC_EXTERN);
    ScopeEntry* only = declare("_only", SC_EXTERN);
    EXPECT_EQ(find_global_entry("_count"), inner);
    EXPECT_EQ(find_global_entry("_only"), only);
    EXPECT_EQ(find_global_entry("one.obj")->sclass, SC_MODULE);
    EXPECT_EQ(find_global_entry("nothing"), nullptr);
}

TEST_F(TypeModelTest, WalkVisitsEntriesInOrderAndLeavesScopesAfterThem) {
    ScopeEntry* module = open(SC_MODULE);
    module->name = "m.obj";
    declare("_a", SC_EXTERN);
    ScopeEntry* function = open(SC_FUNC);
    declare("_b", SC_AUTO);
    ScopeEntry* skipped = open(SC_BLOCK);
    skipped->name = "skip";
    declare("_hidden", SC_AUTO);
    type_model.current_scope = module;
    declare("_c", SC_EXTERN);
    (void)function;
    std::string trace;
    walk_scope(
        module,
        [&](ScopeEntry* e, ScopeEntry* holder) {
            trace += (e->name.empty() ? std::string(storage_class_name(e->sclass)) : e->name) +
                     "@" + (holder == module ? "m" : "f") + " ";
            return e->name != "skip";
        },
        [&](ScopeEntry* scope) {
            trace += "end-" + std::string(storage_class_name(scope->sclass)) + " ";
        });
    EXPECT_EQ(trace, "_a@m func@m _b@f skip@f end-func _c@m ");
}

TEST_F(TypeModelTest, EqualityComparesShapesNotNames) {
    EXPECT_TRUE(types_equal(TypeRef(parse_type("i")), TypeRef(parse_type("s"))));
    EXPECT_FALSE(types_equal(TypeRef(parse_type("i")), TypeRef(parse_type("ui"))));
    EXPECT_TRUE(types_equal(TypeRef(parse_type("*.Fi")), TypeRef(parse_type("*i"))));
    EXPECT_FALSE(types_equal(TypeRef(parse_type("[3]i")), TypeRef(parse_type("[4]i"))));
    EXPECT_FALSE(types_equal(TypeRef(parse_type("Vi")), TypeRef(parse_type("Di"))));
    EXPECT_FALSE(types_equal(TypeRef(parse_type("*i")), TypeRef(parse_type("i"))));
    // An inner part of a type is a type of its own.
    Type* pointer = parse_type("*[3]i");
    EXPECT_TRUE(types_equal(TypeRef(pointer).inner(), TypeRef(parse_type("[3]i"))));
}

TEST_F(TypeModelTest, SeparateStructuresOfOneShapeShareATableCell) {
    ScopeEntry* a = structure("S1", "point", {"i", "*uc"});
    ScopeEntry* b = structure("S2", "point", {"s", "*uc"});
    ScopeEntry* c = structure("S3", "other", {"i", "*uc"});
    (void)a;
    (void)b;
    (void)c;
    TypeTable table;
    type_table_add(table, TypeRef(parse_type("S1")), 1);
    type_table_add(table, TypeRef(parse_type("S2")), 2); // equal: the first index stays
    type_table_add(table, TypeRef(parse_type("S3")), 3);
    ASSERT_NE(type_table_find(table, TypeRef(parse_type("S2"))), nullptr);
    EXPECT_EQ(*type_table_find(table, TypeRef(parse_type("S2"))), 1u);
    EXPECT_EQ(*type_table_find(table, TypeRef(parse_type("S3"))), 3u);
    EXPECT_EQ(type_table_find(table, TypeRef(parse_type("*S3"))), nullptr);
    EXPECT_EQ(table.cells.count(), 2u);
}

TEST_F(TypeModelTest, SelfReferringStructureDiffersFromADistinctCopy) {
    ScopeEntry* a = structure("S1", "node", {"*S1", "i"});
    ScopeEntry* b = structure("S2", "node", {"*S2", "i"});
    EXPECT_FALSE(types_equal(TypeRef(parse_type("S1")), TypeRef(parse_type("S2"))));
    EXPECT_TRUE(types_equal(TypeRef(parse_type("S1")), TypeRef(parse_type("S1"))));
    EXPECT_EQ(type_model.visited_a.order.front(), a);
    EXPECT_EQ(type_model.visited_b.order.front(), b);
}

TEST_F(TypeModelTest, LongChainsOfNestedStructuresCompareWithoutDeepRecursion) {
    // Two parallel chains S<k> { T<k-1> } ending in a plain member: equal shapes.
    const int depth = 50000;
    std::vector<ScopeEntry*> left, right;
    for (int k = 0; k < depth; ++k) {
        std::string lname = "S" + std::to_string(k), rname = "T" + std::to_string(k);
        std::string lprev = "S" + std::to_string(k - 1), rprev = "T" + std::to_string(k - 1);
        left.push_back(structure(lname.c_str(), "", {k ? lprev.c_str() : "i"}));
        right.push_back(structure(rname.c_str(), "", {k ? rprev.c_str() : "i"}));
    }
    std::string top_l = "S" + std::to_string(depth - 1), top_r = "T" + std::to_string(depth - 1);
    EXPECT_TRUE(
        types_equal(TypeRef(parse_type(top_l.c_str())), TypeRef(parse_type(top_r.c_str()))));
    // One difference at the bottom makes the whole chains differ.
    right.front()->members[0].offset = 1;
    EXPECT_FALSE(
        types_equal(TypeRef(parse_type(top_l.c_str())), TypeRef(parse_type(top_r.c_str()))));
}

} // namespace
