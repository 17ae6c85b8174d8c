// The side-file reader and the scope dump.
#include <gtest/gtest.h>

#include <algorithm>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <unistd.h>

#include "debug_helpers.h"

namespace {

const char* const HEAD = "[p GLOBOPT AUTOSTATIC ]\n";

class SdbTest : public testing::Test {
  protected:
    void SetUp() override { start_run("16F877"); }
};

TEST_F(SdbTest, ModuleScopeJoinsTheGlobalScopeUnderTheObjectName) {
    ScopeEntry* module = read_text(std::string(HEAD) + "\"3 main.c\n[v _x `i 0 e 1 @32 ]\n");
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(module->sclass, SC_MODULE);
    EXPECT_EQ(module->name, "m.obj");
    EXPECT_EQ(type_model.global_scope->entries.back(), module);
    EXPECT_EQ(type_model.current_scope, type_model.global_scope);
    EXPECT_EQ(type_model.current_line, 1u);
    ASSERT_EQ(module->entry_count(), 2u);
    EXPECT_EQ(module->entries[0]->sclass, SC_FILENAME);
    EXPECT_EQ(module->entries[0]->name, "main.c");
    ScopeEntry* x = module->entries[1];
    EXPECT_EQ(x->sclass, SC_EXTERN);
    EXPECT_EQ(x->value, 32u);
    EXPECT_EQ(x->defined, 1u);
    EXPECT_EQ(x->line, 3u);
    EXPECT_EQ(sdb_file_name("dir.v2/main.obj"), "dir.v2/main.sdb");
    EXPECT_EQ(sdb_file_name("noext"), "noext.sdb");
}

TEST_F(SdbTest, MissingOrEmptySideFileGivesAnEmptyClass15Scope) {
    ScopeEntry* missing = read_sdb_contents("a.obj", "a.sdb", nullptr);
    ASSERT_NE(missing, nullptr);
    EXPECT_EQ(missing->sclass, SC_NO_SIDE_FILE);
    EXPECT_TRUE(missing->entries.empty());
    ScopeEntry* empty = read_text("");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->sclass, SC_NO_SIDE_FILE);
    EXPECT_EQ(dump_text(type_model.global_scope)
                  .substr(dump_text(type_model.global_scope).find("\"a.obj")),
              "\"a.obj\" 0-0\n{\n}\n\"m.obj\" 1-1\n{\n}\n");
}

TEST_F(SdbTest, FirstLineChecksAndOptionWords) {
    std::string err = capture_stderr([] {
        ScopeEntry* module =
            read_text("[x GLOBOPT PIC17 SPEEDOPT BOGUS ] TRAILING\n[v _a `i 0 e 1 0 ]\n");
        ASSERT_NE(module, nullptr);
        EXPECT_EQ(module->entry_count(), 1u);
    });
    EXPECT_TRUE(has_message(err, 630, {"m.sdb"}));
    EXPECT_EQ(err.find("\"[x\""), std::string::npos);
    EXPECT_EQ(err.find("\"GLOBOPT\""), std::string::npos);
    EXPECT_TRUE(has_message(err, 637, {"\"BOGUS\"", "m.sdb"}));
    EXPECT_EQ(err.find("TRAILING"), std::string::npos); // words after "]" are not options
}

TEST_F(SdbTest, WithoutAProcessorNothingIsRead) {
    start_run("");
    std::string err =
        capture_stderr([] { EXPECT_EQ(read_text("[p GLOBOPT ]\n[v _a `i 0 e 1 0 ]\n"), nullptr); });
    EXPECT_NE(err.find("(669)"), std::string::npos);
    EXPECT_EQ(type_model.global_scope, nullptr);
    // A first line of option words selects the family.
    ScopeEntry* module = read_text("[p AVOCET FAST_DBL ]\n[v _a `m 0 e 1 0 ]\n");
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(selected_processor(), &pic18_processor);
}

const char* const REDECLARED = "[p GLOBOPT ]\n"
                               "\"10 main.c\n"
                               "[v _main `(v 0 e 1 0 ]\n"
                               "{\n"
                               "\"11\n"
                               "[v _t `i 0 a 0 1 ]\n"
                               "[v _t `i 0 a 0 1 ]\n"
                               "\"13\n"
                               "[v _t `l 0 a 0 4 ]\n"
                               "[v _u `c 0 a 0 8 ]\n"
                               "\"15\n"
                               "[v _t `c 0 a 0 9 ]\n"
                               "\"17\n"
                               "}\n"
                               "7 3 0 2 9\n";

TEST_F(SdbTest, RedeclaredLocalsStayInTheFunctionWithoutK) {
    ScopeEntry* module = read_text(REDECLARED);
    ScopeEntry* function = first_scope(module, SC_FUNC);
    ASSERT_NE(function, nullptr);
    std::vector<ScopeEntry*> ts = entries_named(function, "_t");
    ASSERT_EQ(ts.size(), 3u); // the identical second declaration added nothing
    EXPECT_EQ(ts[1]->value, 4u);
    type_model.current_scope = function;
    EXPECT_EQ(find_redeclaration("_t"), ts[2]);
    EXPECT_EQ(find_type_name("_t"), ts[2]);
    EXPECT_EQ(find_type_name("t"), nullptr); // locals match their exact name only
    // The first number went to the function's entry and the scope's numbers; a fifth is
    // dropped.
    EXPECT_EQ(function->function, module->entries[1]);
    EXPECT_EQ(function->function->defined, 7u);
    EXPECT_EQ((std::vector<int32_t>(function->numbers, function->numbers + 4)),
              (std::vector<int32_t>{7, 3, 0, 2}));
    EXPECT_EQ(function->first_line, 10u);
    EXPECT_EQ(function->last_line, 17u);
}

TEST_F(SdbTest, RedeclaredLocalsOpenAFakedBlockWithK) {
    options.fake_redefinitions = true;
    ScopeEntry* module = read_text(REDECLARED);
    ScopeEntry* function = first_scope(module, SC_FUNC);
    ASSERT_NE(function, nullptr);
    ASSERT_EQ(function->entry_count(), 2u); // the first _t and the faked block
    ScopeEntry* faked = function->entries[1];
    EXPECT_EQ(faked->sclass, SC_BLOCK);
    EXPECT_EQ(faked->flags, ENTRY_FAKED);
    EXPECT_EQ(faked->first_line, 13u);
    EXPECT_EQ(faked->last_line, 17u);
    // The slot was emptied by the line directive at 15: a second faked block nests.
    ASSERT_EQ(faked->entry_count(), 3u);
    EXPECT_EQ(faked->entries[0]->value, 4u);
    EXPECT_EQ(faked->entries[1]->name, "_u");
    ScopeEntry* nested = faked->entries[2];
    EXPECT_EQ(nested->flags, ENTRY_FAKED);
    EXPECT_EQ(nested->entries[0]->value, 9u);
    EXPECT_EQ(dump_text(module), "filename: \"main.c\"\n"
                                 "extern: _main `(v0 10\n"
                                 "func: _main() 10-17\n"
                                 "{\n"
                                 "    auto: _t `i2 11\n"
                                 "    block: 13-17 (faked)\n"
                                 "    {\n"
                                 "        auto: _t `i4 13\n"
                                 "        auto: _u `i1 13\n"
                                 "        block: 15-17 (faked)\n"
                                 "        {\n"
                                 "            auto: _t `i1 15\n"
                                 "        }\n"
                                 "    }\n"
                                 "}\n");
}

TEST_F(SdbTest, ExternAndStaticRedeclarationsUpdateTheEarlierEntry) {
    ScopeEntry* module =
        read_text(std::string(HEAD) + "[v _f `(i 0 e 0 @0 ]\n"
                                      "[v _x `i 0 e 0 @32 ]\n"
                                      "[v _x `l 0 e 1 @32 ]\n"
                                      "[v _x `c 0 e 0 @32 ]\n" // defined went down: a new entry
                                      "[v _y `i 0 e 0 @40 ]\n"
                                      "[v _y `i 0 e 1 @41 ]\n" // another address: a new entry
                                      "[v _f `(i 0 e 1 @0 ]\n"
                                      "{\n}\n12\n");
    std::vector<ScopeEntry*> xs = entries_named(module, "_x");
    ASSERT_EQ(xs.size(), 2u);
    EXPECT_EQ(type_text(xs[0]->type), "i4");
    EXPECT_EQ(xs[0]->defined, 1u);
    EXPECT_EQ(entries_named(module, "_y").size(), 2u);
    std::vector<ScopeEntry*> fs = entries_named(module, "_f");
    ASSERT_EQ(fs.size(), 1u);
    EXPECT_EQ(first_scope(module, SC_FUNC)->function, fs[0]);
    EXPECT_EQ(fs[0]->defined, 12u);
}

TEST_F(SdbTest, VariableFieldRules) {
    ScopeEntry* module =
        read_text(std::string(HEAD) + "[v F12 `ui 0 s 1 ticks ]\n"
                                      "[v F13 `ui 0 s 1 @77 ]\n"
                                      "[v _table `Dc 16a e 1 @256 ]\n"
                                      "[v _none `nosuchtype 4a e 1 @9 ]\n"
                                      "[v _local `i 0 a 0 2 ]\n" // autos of a module are dropped
                                      "[v _main `(v 0 e 1 0 ]\n"
                                      "{\n"
                                      "[v _r `i 0 r 0 fsr ]\n"
                                      "[v _w `i 0 a 0 w ]\n"
                                      "[v _n `i 0 r 0 nosuchreg ]\n"
                                      "[v _p `i 0 p 0 wreg ]\n"
                                      "}\n");
    ASSERT_NE(module, nullptr);
    ScopeEntry* ticks = entries_named(module, "_ticks").at(0);
    EXPECT_EQ(ticks->asm_name, "F12");
    EXPECT_EQ(ticks->value, 0u);
    ScopeEntry* f13 = entries_named(module, "F13").at(0);
    EXPECT_EQ(f13->asm_name, "");
    EXPECT_EQ(f13->value, 77u);
    EXPECT_EQ(type_text(entries_named(module, "_table").at(0)->type), "[16]const const i1");
    EXPECT_EQ(type_text(entries_named(module, "_none").at(0)->type), "[4]");
    EXPECT_TRUE(entries_named(module, "_local").empty());
    ScopeEntry* function = first_scope(module, SC_FUNC);
    ASSERT_EQ(function->entry_count(), 4u);
    const uint32_t classes[] = {SC_REG, SC_REG, SC_REG, SC_REG};
    const uint32_t values[] = {3, 1, 0, 2};
    for (uint32_t k = 0; k < 4; ++k) {
        EXPECT_EQ(function->entries[k]->sclass, classes[k]) << k;
        EXPECT_EQ(function->entries[k]->value, values[k]) << k;
    }
}

TEST_F(SdbTest, StructuresUnionsAndForwardEntries) {
    ScopeEntry* module = nullptr;
    std::string err = capture_stderr([&] {
        module = read_text(std::string(HEAD) +
                           "[v _head *S3 0 e 1 @60 ]\n"
                           "[s S3 node 6 *S3 next 1 0 `c 4a name 4 1 . 0 . 1 5 :3:2 ]\n"
                           "[u U1 . 2 `ui word 2 0 `uc 2a bytes 2 0 ]\n"
                           "[s S3 again 1 `c x 1 0 ]\n");
    });
    EXPECT_EQ(err, "Encountered type string .\n");
    std::vector<ScopeEntry*> s3 = entries_named(module, "S3");
    ASSERT_EQ(s3.size(), 2u); // the forward entry was filled; a defined one is not reused
    ScopeEntry* node = s3[0];
    EXPECT_EQ(node->tag, "node");
    EXPECT_EQ(node->size, 6u);
    EXPECT_EQ(node->is_union, 0);
    ASSERT_EQ(node->member_count(), 3u);
    EXPECT_EQ(node->members[0].type->base().entry, node);
    EXPECT_EQ(type_text(node->members[1].type), "[4]i1");
    EXPECT_EQ(node->members[1].offset, 1);
    const Member& bits = node->members[2];
    EXPECT_EQ(bits.name, "");
    EXPECT_EQ(bits.type, nullptr); // "." is not a type string
    EXPECT_EQ(bits.size, 1);
    EXPECT_EQ(bits.offset, 5);
    EXPECT_EQ(bits.bit_width, 3);
    EXPECT_EQ(bits.bit_offset, 2);
    ScopeEntry* u1 = entries_named(module, "U1").at(0);
    EXPECT_EQ(u1->is_union, 1);
    EXPECT_EQ(u1->tag, "");
    EXPECT_EQ(type_text(entries_named(module, "_head").at(0)->type), "*struct node");
}

TEST_F(SdbTest, EnumerationsAndDefines) {
    ScopeEntry* module = read_text(std::string(HEAD) + "[v _m E2 0 e 1 @1 ]\n"
                                                       "[e E2 . `l A -1 B 2147483647 ]\n"
                                                       "[e E3 mode ]\n"
                                                       "[d edition pro ]\n"
                                                       "[d edition std ]\n");
    ScopeEntry* e2 = entries_named(module, "E2").at(0);
    EXPECT_EQ(e2->sclass, SC_ENUM);
    EXPECT_EQ(e2->tag, ".");
    EXPECT_EQ(e2->base_size, 4);
    ASSERT_EQ(e2->enumerator_count(), 2u);
    EXPECT_EQ(e2->enumerators[0].value, -1);
    EXPECT_EQ(e2->enumerators[1].value, 2147483647);
    EXPECT_EQ(entries_named(module, "E3").at(0)->base_size, 0);
    ASSERT_NE(find_define("edition"), nullptr);
    EXPECT_EQ(*find_define("edition"), "pro"); // the first define of a name wins
    // The forward entry made by the type string comes before the variable.
    EXPECT_EQ(dump_text(module), "enum: E2(.) = { A=-1 B=2147483647 }\n"
                                 "extern: _m `Unknown type 0\n"
                                 "enum: E3(mode) = { }\n");
}

TEST_F(SdbTest, LineDirectivesAndFileNames) {
    ScopeEntry* module = read_text(std::string(HEAD) + "\"5 a.c\n"
                                                       "\"2 b.h\n"
                                                       "\"3\n"
                                                       "\"8 b.h\n"
                                                       "\"20 a.c\n"
                                                       "[v _main `(v 0 e 1 0 ]\n"
                                                       "{\n"
                                                       "\"21\n"
                                                       "{\n"
                                                       "\"22 b.h\n"
                                                       "\"4\n"
                                                       "}\n"
                                                       "\"30\n"
                                                       "}\n");
    std::vector<std::string> files;
    for (ScopeEntry* e : module->entries)
        if (e->sclass == SC_FILENAME) files.push_back(e->name + ":" + std::to_string(e->line));
    EXPECT_EQ(files, (std::vector<std::string>{"a.c:5", "b.h:2", "a.c:20"}));
    ScopeEntry* function = first_scope(module, SC_FUNC);
    EXPECT_EQ(function->file_name, "a.c");
    ScopeEntry* block = first_scope(function, SC_BLOCK);
    EXPECT_EQ(block->file_name, "a.c");
    // The block switched files: its lines restart there; the function sees the lowest.
    EXPECT_EQ(block->first_line, 4u);
    EXPECT_EQ(block->last_line, 22u);
    EXPECT_EQ(function->first_line, 4u);
    EXPECT_EQ(function->last_line, 30u);
    EXPECT_EQ(module->first_line, 20u);
    EXPECT_EQ(module->last_line, 30u);
}

TEST_F(SdbTest, MalformedRecordsAreReportedWithTheirPosition) {
    std::string err = capture_stderr([] {
        ScopeEntry* module = read_text(std::string(HEAD) + "[v _a `i 0 q 0 1 ]\n"
                                                           "[v _b `i 0 e 0 1 x\n"
                                                           "[d ok 1 oops\n"
                                                           "  junk [v _c `i 0 e 0 1 ]\n");
        ASSERT_NE(module, nullptr);
        EXPECT_EQ(entries_named(module, "_a").at(0)->sclass, SC_NULL);
        EXPECT_EQ(entries_named(module, "_b").size(), 1u);
        EXPECT_TRUE(entries_named(module, "_c").empty()); // the scope ended at "junk"
    });
    EXPECT_TRUE(has_message(err, 629, {"\"q\"", "m.sdb", " 2, column 12"}));
    EXPECT_TRUE(has_message(err, 627, {"']'", "m.sdb", " 3, column 18"}));
    EXPECT_TRUE(has_message(err, 0, {"malformed define in .SDB file m.sdb"}));
    EXPECT_TRUE(has_message(err, 631, {"\"junk\"", "m.sdb", " 5, column 3"}));
    EXPECT_NE(find_define("ok"), nullptr); // stored all the same
}

// (Cuts at every length are swept below; these are the recoveries worth pinning.)
TEST_F(SdbTest, RecordsCutShortByTheEndOfTheFile) {
    start_run("16F877");
    std::string err = capture_stderr([] {
        ScopeEntry* module = read_text(std::string(HEAD) + "[v _a `i 0 e 1 5");
        EXPECT_EQ(entries_named(module, "_a").size(), 1u); // only its "]" was missing
        module = read_text(std::string(HEAD) + "[v _b `i 0 e");
        EXPECT_TRUE(entries_named(module, "_b").empty());
        module = read_text(std::string(HEAD) + "[s S1 t 2 `i x 2");
        EXPECT_EQ(entries_named(module, "S1").at(0)->member_count(), 1u);
    });
    EXPECT_TRUE(has_message(err, 627, {" 2, column 16"}));
    EXPECT_TRUE(has_message(err, 627, {" 2, column 12"}));
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 2);
}

TEST_F(SdbTest, DeepNestingIsReadAndDumpedInConstantStack) {
    const int depth = 100000;
    std::string text = HEAD;
    for (int k = 0; k < depth; ++k)
        text += "{\n";
    text += "[v _deep `i 0 a 0 1 ]\n";
    for (int k = 0; k < depth; ++k)
        text += "}\n";
    ScopeEntry* module = read_text(text);
    ScopeEntry* scope = module;
    int levels = 0;
    while (!scope->entries.empty() && scope->entries[0]->sclass == SC_BLOCK) {
        scope = scope->entries[0];
        ++levels;
    }
    EXPECT_EQ(levels, depth);
    EXPECT_EQ(scope->entries.at(0)->name, "_deep");
    EXPECT_EQ(find_global_entry("_deep"), scope->entries[0]);
    // Indenting 100,000 levels deep would print 60 GB: the dump stops with message 426
    // once its indentation passes 16 blanks for each byte read (plus 64 KiB).
    std::string err;
    std::string deep_dump =
        written_text([&](FILE* out) { err = capture_stderr([&] { dump_scope(module, out); }); });
    EXPECT_TRUE(has_message(err, 426, {std::to_string(16 * text.size() + 65536)})) << err;
    EXPECT_LT(deep_dump.size(), 16 * text.size() + 65536 + 64 * 1024);
    // 101 levels stay within it: the indentation grows by 4 for each, with no cap.
    start_run("16F877");
    std::string shallow = HEAD;
    for (int k = 0; k < 101; ++k)
        shallow += "{\n";
    shallow += "[v _deep `i 0 a 0 1 ]\n";
    for (int k = 0; k < 101; ++k)
        shallow += "}\n";
    std::string dump = dump_text(read_text(shallow));
    EXPECT_EQ(std::count(dump.begin(), dump.end(), '}'), 101);
    EXPECT_NE(dump.find("\n" + std::string(404, ' ') + "auto: _deep `i2 "), std::string::npos);
    // Cut in the middle, the open scopes all end with the file.
    start_run("16F877");
    module = read_text(text.substr(0, text.size() / 2));
    EXPECT_EQ(module->entry_count(), 1u);
}

TEST_F(SdbTest, HugeNumbersAndLongNamesAreHeldNotOverrun) {
    std::string long_name(5000, 'n');
    std::string file(3000, 'f');
    ScopeEntry* module =
        read_text(std::string(HEAD) + "\"99999999999 " + file + "\n[v _" + long_name +
                  " `[99999999999]i 99999999999a e 99999999999 @-99999999999 ]\n");
    ScopeEntry* entry = module->entries.at(1);
    EXPECT_EQ(entry->name.size(), 5001u);
    EXPECT_EQ(module->entries[0]->name.size(), 2047u);
    EXPECT_EQ(type_model.current_line, 1u);
    EXPECT_EQ(entry->line, 2147483647u);
    EXPECT_EQ(entry->value, uint32_t(INT32_MIN));
    EXPECT_EQ(entry->type->outermost().value, 2147483647u);
}

// Every side file of the sample programs, cut at each length and with each byte flipped,
// reads and dumps without a fault. (The damage sweep feeds only one file at a time, so
// the side files of a symbol file are swept here.)
std::vector<std::string> corpus_side_files() {
    std::vector<std::string> found;
    std::string root = std::string(SYMVERT_SOURCE_DIR) + "/tests/data/debug";
    DIR* top = opendir(root.c_str());
    if (!top) return found;
    while (dirent* program = readdir(top)) {
        if (program->d_name[0] == '.') continue;
        std::string dir = root + "/" + program->d_name;
        DIR* files = opendir(dir.c_str());
        if (!files) continue;
        while (dirent* f = readdir(files)) {
            std::string name = f->d_name;
            if (name.size() > 4 && name.substr(name.size() - 4) == ".sdb")
                found.push_back(dir + "/" + name);
        }
        closedir(files);
    }
    closedir(top);
    std::sort(found.begin(), found.end());
    return found;
}

void read_variant(const std::vector<uint8_t>& bytes, size_t length, bool fake) {
    start_run("16F877");
    options.fake_redefinitions = fake;
    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<long>(length));
    ScopeEntry* module = read_sdb_contents("x.obj", "x.sdb", &cut);
    ASSERT_NE(module, nullptr);
    FILE* out = fopen("/dev/null", "w");
    dump_global_scope(out);
    fclose(out);
}

TEST(SdbDamage, EveryCutAndFlipOfTheSampleSideFiles) {
    std::vector<std::string> files = corpus_side_files();
    ASSERT_GE(files.size(), 20u);
    FILE* saved = fdopen(dup(2), "w");
    ASSERT_TRUE(freopen("/dev/null", "w", stderr));
    unsigned long variants = 0;
    for (const std::string& path : files) {
        std::ifstream in(path, std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
        for (size_t cut = 0; cut <= bytes.size(); ++cut, ++variants)
            read_variant(bytes, cut, cut % 2 == 1);
        for (size_t at = 0; at < bytes.size(); ++at, ++variants) {
            std::vector<uint8_t> flipped = bytes;
            flipped[at] ^= (at & 1) ? 0xFF : 0x81;
            read_variant(flipped, flipped.size(), at % 2 == 0);
        }
    }
    fflush(stderr);
    dup2(fileno(saved), 2);
    fclose(saved);
    EXPECT_GT(variants, 20000u);
}

} // namespace
