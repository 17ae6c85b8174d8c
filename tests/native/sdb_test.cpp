// The side-file reader: what the scope dump of the end-to-end cases does not show (values,
// definitions, numbers, member places), nesting past any stack, and damaged side files.
#include <gtest/gtest.h>

#include <algorithm>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <unistd.h>

#include "debug_helpers.h"
#include "model/run.h"

namespace {

const std::string HEAD = "[p GLOBOPT AUTOSTATIC ]\n";

TEST(SdbRead, FieldsTheScopeDumpDoesNotShow) {
    ::Run run;
    start_run(run, "16F877");
    ScopeEntry* m =
        read_text(run, HEAD + "\"99999999999 a.c\n"
                              "[v F12 `ui 0 s 1 ticks ]\n"
                              "[v F13 `ui 0 s 1 @77 ]\n"
                              "[v _x `i 0 e 0 @32 ]\n"
                              "[v _x `l 0 e 1 @32 ]\n"
                              "[v _h `[99999999999]i 99999999999a e 99999999999 @-99999999999 ]\n"
                              "[s S3 node 6 *S3 next 1 0 `c 4a name 4 1 . 0 . 1 5 :3:2 ]\n"
                              "[e E2 . `l A -1 B 2147483647 ]\n"
                              "[d edition pro ]\n"
                              "[d edition std ]\n"
                              "[v _f `(v 0 e 1 0 ]\n"
                              "{\n}\n"
                              "7 3 0 2 9\n");
    ASSERT_NE(m, nullptr);
    ScopeEntry* ticks = entries_named(m, "_ticks").at(0);
    EXPECT_EQ(ticks->asm_name(), "F12");
    EXPECT_EQ(ticks->value, 0u);
    EXPECT_EQ(entries_named(m, "F13").at(0)->value, 77u);
    ScopeEntry* x = entries_named(m, "_x").at(0);
    EXPECT_EQ(x->value, 32u);
    EXPECT_EQ(x->defined, 1u);
    ScopeEntry* h = entries_named(m, "_h").at(0);
    EXPECT_EQ(h->line, 2147483647u);
    EXPECT_EQ(h->value, uint32_t(INT32_MIN));
    EXPECT_EQ(h->type->outermost().value, 2147483647u);
    ScopeEntry* node = entries_named(m, "S3").at(0);
    EXPECT_EQ(node->aggregate().size, 6u);
    EXPECT_EQ(node->aggregate().is_union, 0);
    ASSERT_EQ(node->aggregate().members.size(), 3u);
    EXPECT_EQ(node->aggregate().members[0].type->base().entry, node);
    EXPECT_EQ(node->aggregate().members[1].offset, 1);
    const Member& bits = node->aggregate().members[2];
    EXPECT_EQ(bits.type, nullptr); // "." is not a type string
    EXPECT_EQ(bits.size, 1);
    EXPECT_EQ(bits.offset, 5);
    EXPECT_EQ(bits.bit_width, 3);
    EXPECT_EQ(bits.bit_offset, 2);
    ScopeEntry* e2 = entries_named(m, "E2").at(0);
    EXPECT_EQ(e2->aggregate().base_size, 4);
    EXPECT_EQ(e2->aggregate().enumerators[0].value, -1);
    EXPECT_EQ(*find_define(run, "edition"), "pro"); // the first define of a name wins
    // The first number after a function goes to its entry and the scope's numbers; a
    // fifth is dropped.
    ScopeEntry* function = first_scope(m, SC_FUNC);
    EXPECT_EQ(function->scope().function, entries_named(m, "_f").at(0));
    EXPECT_EQ(function->scope().function->defined, 7u);
    EXPECT_EQ((std::vector<int32_t>(function->scope().numbers, function->scope().numbers + 4)),
              (std::vector<int32_t>{7, 3, 0, 2}));
    EXPECT_EQ(sdb_file_name("noext"), "noext.sdb");
}

// Read and dumped in constant stack; the dump stops with 426 once its indentation passes
// 16 blanks for each byte read (plus 64 KiB); cut in the middle, the open scopes all end.
TEST(SdbRead, DeepNestingIsReadAndDumpedInConstantStack) {
    ::Run run;
    start_run(run, "16F877");
    const int depth = 100000;
    std::string text = HEAD;
    for (int k = 0; k < depth; ++k)
        text += "{\n";
    text += "[v _deep `i 0 a 0 1 ]\n";
    for (int k = 0; k < depth; ++k)
        text += "}\n";
    ScopeEntry* module = read_text(run, text);
    ScopeEntry* scope = module;
    int levels = 0;
    for (; !scope->scope().entries.empty() && scope->scope().entries[0]->sclass == SC_BLOCK;
         ++levels)
        scope = scope->scope().entries[0];
    EXPECT_EQ(levels, depth);
    EXPECT_EQ(find_global_entry(run, "_deep"), scope->scope().entries.at(0));
    std::string err;
    std::string dump = written_text(
        [&](FILE* out) { err = capture_stderr([&] { dump_scope(run, module, out); }); });
    EXPECT_TRUE(has_message(err, 426, {std::to_string(16 * text.size() + 65536)})) << err;
    EXPECT_LT(dump.size(), 16 * text.size() + 65536 + 64 * 1024);
    start_run(run, "16F877");
    EXPECT_EQ(read_text(run, text.substr(0, text.size() / 2))->entry_count(), 1u);
    // 101 levels stay within it: the indentation grows by 4 for each, with no cap.
    start_run(run, "16F877");
    std::string opens, closes;
    for (int k = 0; k < 101; ++k)
        opens += "{\n", closes += "}\n";
    dump = dump_text(run, read_text(run, HEAD + opens + "[v _deep `i 0 a 0 1 ]\n" + closes));
    EXPECT_NE(dump.find("\n" + std::string(404, ' ') + "auto: _deep `i2 "), std::string::npos);
}

// Every side file of the sample programs, cut at each length and with each byte flipped,
// reads and dumps without a fault (the damage sweep feeds one file at a time, so the side
// files of a symbol file are swept here).
void read_variant(::Run& run, const std::vector<uint8_t>& bytes, size_t length, bool fake) {
    start_run(run, "16F877");
    run.options.fake_redefinitions = fake;
    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<long>(length));
    ASSERT_NE(read_sdb_contents(run, "x.obj", "x.sdb", &cut), nullptr);
    FILE* out = fopen("/dev/null", "w");
    dump_global_scope(run, out);
    fclose(out);
}

TEST(SdbDamage, EveryCutAndFlipOfTheSampleSideFiles) {
    ::Run run;
    std::vector<std::string> files;
    std::string root = std::string(SYMVERT_SOURCE_DIR) + "/tests/data/debug/";
    for (const char* program : {"arm", "dspic", "holtek", "i8051", "pic16", "pic18", "pic32"}) {
        DIR* dir = opendir((root + program).c_str());
        ASSERT_NE(dir, nullptr) << program;
        while (dirent* f = readdir(dir)) {
            std::string name = f->d_name;
            if (name.size() > 4 && name.substr(name.size() - 4) == ".sdb")
                files.push_back(root + program + "/" + name);
        }
        closedir(dir);
    }
    ASSERT_GE(files.size(), 20u);
    FILE* saved = fdopen(dup(2), "w");
    ASSERT_TRUE(freopen("/dev/null", "w", stderr));
    for (const std::string& path : files) {
        std::ifstream in(path, std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
        for (size_t cut = 0; cut <= bytes.size(); ++cut)
            read_variant(run, bytes, cut, cut % 2 == 1);
        for (size_t at = 0; at < bytes.size(); ++at) {
            std::vector<uint8_t> flipped = bytes;
            flipped[at] ^= (at & 1) ? 0xFF : 0x81;
            read_variant(run, flipped, flipped.size(), at % 2 == 0);
        }
    }
    fflush(stderr);
    dup2(fileno(saved), 2);
    fclose(saved);
}

} // namespace
