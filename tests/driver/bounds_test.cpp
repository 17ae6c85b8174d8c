// What a hostile or never-ending input may make the program do: each file is made here,
// shaped as a stress test would shape it, and the run must end quickly with its message.
#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "common/alloc.h"
#include "debug_helpers.h"
#include "driver/formats.h"
#include "driver/normalize.h"
#include "formats/coff/coff_internal.h"
#include "model/encdec.h"
#include "model/store.h"

namespace {

using Words = std::vector<std::string>;

// A fresh directory holding the files given, by name (made by mkdtemp, so that a directory
// left by an earlier run of a reused process number is never met).
std::string folder_with(const std::vector<std::pair<std::string, Bytes>>& files) {
    std::string dir = std::string(testing::TempDir()) + "symvert_bounds_XXXXXX";
    if (!mkdtemp(dir.data())) return "/nonexistent";
    for (const auto& [name, bytes] : files) {
        FILE* f = fopen((dir + "/" + name).c_str(), "wb");
        fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
    }
    return dir;
}

Bytes text_bytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// Runs the built program (beside this test program) in dir, as a build script would;
// answers its standard error and sets *status.
std::string run_words(const std::string& dir, const Words& words, int* status) {
    char self[4096];
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) return "no /proc/self/exe";
    std::string program(self, static_cast<size_t>(length));
    program = program.substr(0, program.rfind('/') + 1) + "symvert";
    std::string errors = dir + "/stderr.txt";
    pid_t child = fork();
    if (child == 0) {
        if (chdir(dir.c_str()) != 0 || !freopen(errors.c_str(), "w", stderr) ||
            !freopen("/dev/null", "w", stdout))
            _exit(99);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& word : words)
            argv.push_back(const_cast<char*>(word.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(98);
    }
    int wait_status = 0;
    waitpid(child, &wait_status, 0);
    *status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
    FILE* in = fopen(errors.c_str(), "rb");
    Bytes bytes = in ? read_all(in) : Bytes();
    if (in) fclose(in);
    return std::string(bytes.begin(), bytes.end());
}

// A COFF-family file whose sections all point at one shared area: every section's line
// numbers name the same table of `entries` entries (filled with 0x01, so that each is a
// line whatever the entry size), or every section's contents are the same `entries`
// bytes. The string table is empty.
Bytes shared_area_coff(uint16_t magic, ByteOrder order, unsigned sections, uint32_t entries,
                       bool share_contents) {
    const size_t area_at = COFF_FILE_HEADER_SIZE + sections * COFF_SECTION_HEADER_SIZE;
    const size_t area_size = share_contents ? entries : size_t(entries) * 16;
    Bytes file(area_at + area_size + 4, 0);
    CoffFileHeader header;
    header.nscns = static_cast<uint16_t>(sections);
    header.symptr = static_cast<uint32_t>(area_at + area_size);
    encode(file.data(), header, order);
    store_uint(file.data(), magic, 2, ByteOrder::big); // the magic reads big-endian always
    for (unsigned k = 0; k < sections; ++k) {
        CoffSectionHeader s;
        memcpy(s.name, ".text", 5);
        if (share_contents) {
            s.size = entries;
            s.scnptr = static_cast<uint32_t>(area_at);
        } else {
            s.flags = COFF_SECTION_BSS;
            s.lnnoptr = static_cast<uint32_t>(area_at);
            s.nlnno = static_cast<uint16_t>(entries);
        }
        encode(file.data() + COFF_FILE_HEADER_SIZE + k * COFF_SECTION_HEADER_SIZE, s, order);
    }
    memset(file.data() + area_at, 1, area_size);
    store_uint(file.data() + area_at + area_size, 4, 4, order);
    return file;
}

// An ELF file whose 200 symbol-table sections all name one area of 4,096 symbols.
Bytes shared_symbol_table_elf() {
    const unsigned sections = 200;
    const uint32_t area_size = 4096 * 16, area_at = 52 + 40 * sections;
    Bytes file(area_at + area_size, 1);
    const uint8_t ident[16] = {0x7F, 'E', 'L', 'F', 1, 1, 1};
    memcpy(file.data(), ident, sizeof ident);
    const uint32_t header[] = {2, 40, 1, 0, 0, 52, 0, 52, 0, 0, 40, sections, 0};
    const unsigned widths[] = {2, 2, 4, 4, 4, 4, 4, 2, 2, 2, 2, 2, 2};
    for (size_t k = 0, at = 16; k < 13; at += widths[k], ++k)
        store_uint(file.data() + at, header[k], widths[k], ByteOrder::little);
    const uint32_t section[] = {0, 2 /* symbol table */, 0, 0, area_at, area_size, 0, 0, 4, 16};
    for (unsigned k = 0; k < sections; ++k)
        for (unsigned f = 0; f < 10; ++f)
            store_uint(file.data() + 52 + 40 * k + 4 * f, section[f], 4, ByteOrder::little);
    return file;
}

// A side file of about 9 KB, and a symbol file naming its module `mentions` times.
std::vector<std::pair<std::string, Bytes>> module_named(int mentions) {
    std::string sdb = "[p GLOBOPT AUTOSTATIC ]\n\"1 m.c\n";
    for (int k = 0; sdb.size() < 9000; ++k)
        sdb += "[v _x" + std::to_string(k) + " `uc 0 e 1 @" + std::to_string(k) + " ]\n";
    std::string sym;
    for (int k = 0; k < mentions; ++k)
        sym += "m.obj\n";
    return {{"m.sdb", text_bytes(sdb)}, {"m.sym", text_bytes(sym)}};
}

// Sections sharing one line table or one data area would multiply it by their number;
// the file is refused once what it makes passes twice its size (415), and its dump once
// it would print more entries than the file could hold (419; the ICOFF dump counts
// lines, no more). An ELF file's symbol tables sharing one area are refused in the same
// way. A module named thousands of times would read its side file as often (425).
TEST(Bounds, AreasUsedMoreThanOnceAreRefused) {
    const Bytes coff = shared_area_coff(0x8300, ByteOrder::big, 200, 8192, false);
    const struct {
        std::vector<std::pair<std::string, Bytes>> files;
        Words words;
        unsigned message; // 0: none, status 0
    } rows[] = {
        {{{"shared.cof", coff}}, {"-icoff", "shared.cof", "-oihex", "out"}, 415},
        {{{"shared.cof", shared_area_coff(MCOFF_MAGIC, ByteOrder::little, 200, 8192, false)}},
         {"-imcoff", "shared.cof", "-oihex", "out"},
         415},
        {{{"shared.cof", shared_area_coff(ICOFF_MAGIC, ByteOrder::big, 200, 8192, false)}},
         {"-iicoff", "shared.cof", "-oihex", "out"},
         415},
        {{{"shared.cof", shared_area_coff(0x8300, ByteOrder::big, 1000, 1 << 20, true)}},
         {"-icoff", "shared.cof", "-oihex", "out"},
         415},
        {{{"shared.cof", coff}}, {"-d", "-v", "-icoff", "shared.cof"}, 419},
        {{{"shared.cof", shared_area_coff(MCOFF_MAGIC, ByteOrder::little, 200, 8192, false)}},
         {"-d", "-v", "-imcoff", "shared.cof"},
         419},
        {{{"shared.cof", shared_symbol_table_elf()}}, {"-d", "-v", "shared.cof"}, 419},
        {module_named(3), {"-p16F877", "-inorval", "m.sym", "-oihex", "out"}, 0},
        {module_named(30), {"-p16F877", "-inorval", "m.sym", "-oihex", "out"}, 0},
        {module_named(3000), {"-p16F877", "-inorval", "m.sym", "-oihex", "out"}, 425},
    };
    for (const auto& row : rows) {
        std::string dir = folder_with(row.files);
        int status = 0;
        std::string err = run_words(dir, row.words, &status);
        std::string shown = row.words[row.words.size() - (row.words[0] == "-d" ? 1 : 3)];
        EXPECT_EQ(status, row.message ? 1 : 0) << err;
        if (row.message) {
            EXPECT_TRUE(has_message(err, row.message, {shown})) << err;
            EXPECT_NE(access((dir + "/out.hex").c_str(), F_OK), 0);
        }
    }
}

// A file that uses each area once is read whole, up to the same measure: the allowance is
// twice the file and a little more, counting each record and each data byte.
TEST(Bounds, TheAllowanceCountsRecordsAndDataBytes) {
    ::Run run;
    begin_read_allowance(run, "a.bin", 10);
    Bytes bytes(4000, 0xAA);
    add_data(run, 0, 4000, bytes.data(), 0); // 4001
    for (int k = 0; k < 114; ++k)
        add_line(run, 1, 0, 0, 0, 2); // 4115 = 2 * 10 + 4096 - 1
    add_symbol(run, "s", 0, 0, 0, 0); // 4116: the limit itself
    int status = 0;
    std::string err = capture_stderr([&] { add_line(run, 2, 0, 0, 0, 2); }, &status);
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(has_message(err, 415)) << err;
    end_read_allowance(run); // outside a read nothing is counted
    for (int k = 0; k < 10000; ++k)
        add_line(run, 1, 0, 0, 0, 2);
}

const std::string HEAD = "[p GLOBOPT AUTOSTATIC ]\n\"1 m.c\n";

// Side-file lines for k from `from` to `to`, made by a format given k and k - 1.
std::string numbered(int from, int to, const char* format) {
    std::string text;
    char line[128];
    for (int k = from; k <= to; ++k) {
        snprintf(line, sizeof line, format, k, k - 1);
        text += line;
    }
    return text;
}

// Look-ups stay linear however many entries share a name: a scope that declares one name
// 80,000 times finds its latest declaration ("x" and "_x", which share a chain, keep
// their own); a type name hidden by one local is found for 80,000 locals ("word" the
// local, "_word" the typedef); under -k, a local redeclared after each of 20,000 line
// directives opens a faked block inside the one before, and look-ups from the innermost
// still find the latest declaration and the type names declared outside all of them.
TEST(Bounds, LookUpsStayLinear) {
    ::Run run;
    start_run(run, "16F877");
    ScopeEntry* m = read_text(run, HEAD + "[v x `uc 0 e 1 @5 ]\n" +
                                       numbered(1, 80000, "[v _x `uc 0 e 1 @%d ]\n"));
    EXPECT_EQ(entries_named(m, "_x").size(), 80000u);
    run.type_model.current_scope = m;
    EXPECT_EQ(find_redeclaration(run, "_x")->value, 80000u);
    EXPECT_EQ(find_redeclaration(run, "x")->value, 5u);

    start_run(run, "16F877");
    m = read_text(run, HEAD + "[v _word `ui 0 t 0 ]\n[v _f `(v 0 e 1 @0 ]\n{\n\"2\n" +
                           "[v word `uc 0 a 0 0 ]\n" +
                           numbered(1, 80000, "[v a%d `word 0 a 0 0 ]\n") +
                           "[v _w `_word 0 a 0 0 ]\n}\n");
    run.type_model.current_scope = first_scope(m, SC_FUNC);
    EXPECT_EQ(run.type_model.current_scope->entry_count(), 80002u);
    EXPECT_EQ(find_type_name(run, "word")->sclass, SC_AUTO);
    EXPECT_EQ(find_type_name(run, "_word")->sclass, SC_TYPEDEF);

    start_run(run, "16F877");
    run.options.fake_redefinitions = true;
    m = read_text(run, HEAD + "[v _word `ui 0 t 0 ]\n[v _f `(v 0 e 1 @0 ]\n{\n" +
                           numbered(2, 20001, "\"%d\n[v x `i 0 a 0 %d ]\n") +
                           "[v w `_word 0 a 0 0 ]\n}\n");
    ScopeEntry* scope = first_scope(m, SC_FUNC);
    int depth = 0;
    for (; ScopeEntry* inner = first_scope(scope, SC_BLOCK); ++depth) {
        EXPECT_TRUE(inner->flags & ENTRY_FAKED);
        scope = inner;
    }
    EXPECT_EQ(depth, 19999);
    ASSERT_EQ(entries_named(scope, "x").size(), 1u);
    EXPECT_EQ(entries_named(scope, "x")[0]->value, 20000u);
    EXPECT_EQ(entries_named(scope, "w").at(0)->type->base().text, "ui");
    run.type_model.current_scope = scope;
    EXPECT_EQ(find_redeclaration(run, "x"), entries_named(scope, "x")[0]);
    EXPECT_EQ(find_type_name(run, "_word")->sclass, SC_TYPEDEF);
    EXPECT_EQ(find_type_name(run, "i")->sclass, SC_TYPEDEF);
}

// A typedef that names another shares its nodes: 8,000 chained typedefs, each a pointer
// to the one before, make one node each, not 32 million in all.
TEST(Bounds, TypedefChainsShareTheirNodes) {
    ::Run run;
    start_run(run, "16F877");
    ScopeEntry* m = read_text(run, HEAD + "[v _t0 `i 0 t 0 ]\n" +
                                       numbered(1, 7999, "[v _t%d `*_t%d 0 t 0 ]\n") +
                                       "[v _v `_t7999 0 e 1 @32 ]\n");
    const Type* type = entries_named(m, "_v").at(0)->type;
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(type->count(), 8000u);
    EXPECT_EQ(type->outermost().kind, TYPE_POINTER);
    EXPECT_EQ(type->base().kind, TYPE_BASIC);
    EXPECT_LT(run.type_model.link_pool.size(), 16000u);
}

// A side file that never ends is refused at its limit; the module is read without it.
TEST(Bounds, SideFileOnADeviceIsRefused) {
    ::Run run;
    std::string dir = folder_with({});
    ASSERT_EQ(symlink("/dev/zero", (dir + "/m.sdb").c_str()), 0);
    start_run(run, "16F877");
    ScopeEntry* scope = nullptr;
    std::string err = capture_stderr([&] { scope = read_sdb(run, (dir + "/m.obj").c_str()); });
    EXPECT_EQ(scope, nullptr);
    EXPECT_TRUE(has_message(err, 416, {"m.sdb"})) << err;
}

// A file whose parts would lie past the 4 GiB its 32-bit offsets reach is not written:
// the message names the first part that would pass them and the byte it would reach.
// ICOFF: the file and two section headers (100 bytes), the 16 bytes of "next", then "big"
// up to its last block. ELF: the 52-byte header, then "big" ("next" is its space).
TEST(Bounds, FilesPast32BitOffsetsAreRefused) {
    ::Run run;
    for (const auto& [key, reach] : {std::pair<const char*, uint64_t>{"icoff", 116 + 0xFFFFFFF0ull},
                                     {"elf", 52 + 0xFFFFFFF0ull}}) {
        run = ::Run();
        Bytes bytes(16, 0x5A);
        add_segment(run, "next", 0, 16, 0, 1);
        add_data(run, 0, 16, bytes.data(), 1);
        add_segment(run, "big", 0, 0xFFFFFFF0u, 0, 1);
        add_data(run, 0, 16, bytes.data(), 2);
        add_data(run, 0xFFFFFFE0u, 16, bytes.data(), 2);
        FILE* out = tmpfile();
        int answer = -1;
        std::string err = capture_stderr(
            [&] { answer = format_at(find_format_key(run, key)).write(run, out, "out"); });
        EXPECT_EQ(answer, 0);
        EXPECT_TRUE(has_message(err, 418, {"section \"big\"", std::to_string(reach)})) << err;
        EXPECT_FALSE(has_message(err, 413)) << err;
        fseek(out, 0, SEEK_END);
        EXPECT_EQ(ftell(out), 0);
        fclose(out);
    }
}

// What a writer's format cannot hold it leaves out with one warning per file: scopes
// nested past 400 levels (Extended OMF-51, Holtek DBG), and numbers past the 15 bits of
// a Holtek DBG number (33,000 file indexes here).
TEST(Bounds, WritersTellOnceWhatTheyLeaveOut) {
    ::Run run;
    auto nested = [](::Run& run) {
        read_text(run, HEAD + "[v _f `(v 0 e 1 @0 ]\n" +
                           numbered(1, 402, "{\n[v a%d `i 0 a 0 0 ]\n") + numbered(1, 402, "}\n"));
    };
    auto many_files = [](::Run& run) {
        for (uint32_t k = 0; k < 33000; ++k)
            add_line(run, 1, k, 0, add_file(run, ("f" + std::to_string(k) + ".c").c_str()), 2);
    };
    const struct {
        const char* key;
        void (*fill)(::Run&);
        unsigned number;
        size_t blocks; // Extended OMF-51's do block definitions written, if counted
    } rows[] = {{"eomf51", nested, 427, 401}, {"htk", nested, 427, 0}, {"htk", many_files, 428, 0}};
    for (const auto& row : rows) {
        start_run(run, "16F877");
        row.fill(run);
        normalize_store(run);
        std::vector<uint8_t> bytes;
        std::string err = capture_stderr(
            [&] { bytes = written_by(run, format_at(find_format_key(run, row.key)), "o"); });
        std::string tag = "(" + std::to_string(row.number) + ")";
        EXPECT_TRUE(has_message(err, row.number, {"\"o\""})) << row.key << err;
        EXPECT_EQ(err.find(tag), err.rfind(tag)) << row.key;
        // Extended OMF-51 follows scopes to depth 400. The module is at depth 0, the
        // function's scope at 1 and nested block k's at k + 1; a block's definition is
        // written with the scope that holds it. So blocks 401 and 402 (held at depths 401
        // and 402) are left out, and with the function's own do block 401 definitions
        // (type 0x10, length 3, do block, no name) are written.
        if (row.blocks) {
            const std::string text(bytes.begin(), bytes.end());
            EXPECT_EQ(count_of(text, std::string("\x10\x03\x00\x01\x00", 5)), row.blocks);
        }
    }
}

// A request the allocator cannot meet is reported with its size.
TEST(Bounds, AllocationFailureNamesItsSize) {
    std::string err = capture_stderr([] { report_out_of_memory(5000000000u); });
    EXPECT_EQ(err, "can't allocate 5000000000 bytes of memory\n");
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's allocator reports failed requests itself";
#else
    const size_t huge = size_t(1) << 62;
    bool thrown = false;
    try {
        ::operator delete(::operator new(huge));
    } catch (const std::bad_alloc&) {
        thrown = true;
    }
    EXPECT_TRUE(thrown);
    EXPECT_EQ(last_failed_allocation(), huge);
#endif
}

} // namespace
