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
#include "common/getargs.h"
#include "debug_helpers.h"
#include "driver/formats.h"
#include "driver/normalize.h"
#include "formats/coff/coff_internal.h"
#include "model/encdec.h"
#include "model/store.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A fresh directory for one test's files.
std::string scratch_dir() {
    static int counter = 0;
    std::string dir = std::string(testing::TempDir()) + "symvert_bounds_" +
                      std::to_string(::getpid()) + "_" + std::to_string(counter++);
    mkdir(dir.c_str(), 0755);
    return dir;
}

void write_file(const std::string& path, const Bytes& bytes) {
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

// Runs the built program (beside this test program) on the words in a child process, as
// a build script would; answers its standard error and sets *status.
std::string run_words(const std::vector<std::string>& words, int* status) {
    char self[4096];
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) return "no /proc/self/exe";
    std::string program(self, static_cast<size_t>(length));
    program = program.substr(0, program.rfind('/') + 1) + "symvert";
    std::string errors =
        std::string(testing::TempDir()) + "symvert_bounds_stderr_" + std::to_string(::getpid());
    pid_t child = fork();
    if (child == 0) {
        if (!freopen(errors.c_str(), "w", stderr) || !freopen("/dev/null", "w", stdout)) _exit(99);
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
    std::string text;
    if (in) {
        Bytes bytes = read_all(in);
        text.assign(bytes.begin(), bytes.end());
        fclose(in);
    }
    unlink(errors.c_str());
    return text;
}

// A COFF-family file whose sections all point at one shared area: every section's line
// numbers name the same table of `entries` entries (filled with 0x01, so that each is a
// line whatever the entry size), or every section's contents are the same `entries`
// bytes. The string table is empty.
Bytes shared_area_coff(uint16_t magic, ByteOrder order, uint16_t optional_size, unsigned sections,
                       uint32_t entries, bool share_contents) {
    const size_t area_at =
        COFF_FILE_HEADER_SIZE + optional_size + sections * COFF_SECTION_HEADER_SIZE;
    const size_t area_size = share_contents ? entries : size_t(entries) * 16;
    Bytes file(area_at + area_size + 4, 0);
    CoffFileHeader header;
    header.magic = 0;
    header.nscns = static_cast<uint16_t>(sections);
    header.symptr = static_cast<uint32_t>(area_at + area_size);
    header.opthdr = optional_size;
    encode(file.data(), header, order);
    file[0] = static_cast<uint8_t>(magic >> 8); // the magic reads big-endian whatever the order
    file[1] = static_cast<uint8_t>(magic);
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
        encode(file.data() + COFF_FILE_HEADER_SIZE + optional_size + k * COFF_SECTION_HEADER_SIZE,
               s, order);
    }
    memset(file.data() + area_at, 1, area_size);
    Bytes four(4);
    store_uint(four.data(), 4, 4, order);
    memcpy(file.data() + area_at + area_size, four.data(), 4);
    return file;
}

struct CoffKind {
    const char* key;
    uint16_t magic;
    ByteOrder order;
    uint16_t optional_size;
};

const CoffKind coff_kinds[] = {
    {"coff", 0x8300, ByteOrder::big, 0},
    {"mcoff", MCOFF_MAGIC, ByteOrder::little, 0},
    {"icoff", ICOFF_MAGIC, ByteOrder::big, 0},
};

// Sections sharing one line table would multiply it by their number; the file is refused
// once what it makes passes twice its size, in each of the three COFF readers.
TEST(Bounds, SectionsSharingOneLineTableAreRefused) {
    for (const CoffKind& kind : coff_kinds) {
        SCOPED_TRACE(kind.key);
        std::string dir = scratch_dir();
        write_file(dir + "/shared.cof",
                   shared_area_coff(kind.magic, kind.order, kind.optional_size, 200, 8192, false));
        int status = 0;
        std::string err = run_words(
            {"-i" + std::string(kind.key), dir + "/shared.cof", "-oihex", dir + "/out.hex"},
            &status);
        EXPECT_EQ(status, 1);
        EXPECT_NE(err.find("(415)"), std::string::npos) << err;
        EXPECT_NE(err.find("shared.cof"), std::string::npos) << err;
        EXPECT_NE(access((dir + "/out.hex").c_str(), F_OK), 0);
    }
}

// Their dump would print the one table once per section: it is refused in the same way.
TEST(Bounds, DumpOfSectionsSharingOneLineTableIsRefused) {
    for (const CoffKind& kind : coff_kinds) {
        if (std::string(kind.key) == "icoff") continue; // its dump counts lines, no more
        SCOPED_TRACE(kind.key);
        std::string dir = scratch_dir();
        write_file(dir + "/shared.cof",
                   shared_area_coff(kind.magic, kind.order, kind.optional_size, 200, 8192, false));
        int status = 0;
        std::string err =
            run_words({"-d", "-v", "-i" + std::string(kind.key), dir + "/shared.cof"}, &status);
        EXPECT_EQ(status, 1);
        EXPECT_NE(err.find("(419)"), std::string::npos) << err;
    }
}

// An ELF file whose symbol-table sections all name one area: its dump is refused once
// it has printed twice as many symbols as the file could hold.
TEST(Bounds, ElfSymbolTablesSharingOneAreaAreRefused) {
    const unsigned sections = 200;
    const uint32_t area_size = 4096 * 16;
    const uint32_t area_at = 52 + 40 * sections;
    Bytes file(area_at + area_size, 1);
    const uint8_t ident[16] = {0x7F, 'E', 'L', 'F', 1, 1, 1};
    memcpy(file.data(), ident, sizeof ident);
    auto put = [&](size_t at, uint32_t value, unsigned width) {
        store_uint(file.data() + at, value, width, ByteOrder::little);
    };
    const uint32_t header[] = {2, 40, 1, 0, 0, 52, 0, 52, 0, 0, 40, sections, 0};
    const unsigned widths[] = {2, 2, 4, 4, 4, 4, 4, 2, 2, 2, 2, 2, 2};
    for (size_t k = 0, at = 16; k < 13; at += widths[k], ++k)
        put(at, header[k], widths[k]);
    for (unsigned k = 0; k < sections; ++k) {
        const uint32_t section[] = {0, 2 /* symbol table */, 0, 0, area_at, area_size, 0, 0, 4, 16};
        for (unsigned f = 0; f < 10; ++f)
            put(52 + 40 * k + 4 * f, section[f], 4);
    }
    std::string dir = scratch_dir();
    write_file(dir + "/shared.elf", file);
    int status = 0;
    std::string err = run_words({"-d", "-v", dir + "/shared.elf"}, &status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(err.find("(419)"), std::string::npos) << err;
}

// Sections sharing one data area would copy it once per section.
TEST(Bounds, SectionsSharingOneDataAreaAreRefused) {
    std::string dir = scratch_dir();
    write_file(dir + "/shared.cof",
               shared_area_coff(0x8300, ByteOrder::big, 0, 1000, 1 << 20, true));
    int status = 0;
    std::string err =
        run_words({"-icoff", dir + "/shared.cof", "-oihex", dir + "/out.hex"}, &status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(err.find("(415)"), std::string::npos) << err;
    EXPECT_NE(access((dir + "/out.hex").c_str(), F_OK), 0);
}

// A file that uses each area once is read whole, up to the same measure: the allowance is
// twice the file and a little more, counting each record and each data byte.
TEST(Bounds, TheAllowanceCountsRecordsAndDataBytes) {
    reset_run_state();
    begin_read_allowance("a.bin", 10);
    Bytes bytes(4000, 0xAA);
    add_data(0, 4000, bytes.data(), 0); // 4001
    for (int k = 0; k < 114; ++k)
        add_line(1, 0, 0, 0, 2); // 4115 = 2 * 10 + 4096 - 1
    add_symbol("s", 0, 0, 0, 0); // 4116: the limit itself
    int status = 0;
    std::string err = capture_stderr([] { add_line(2, 0, 0, 0, 2); }, &status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(err.find("(415)"), std::string::npos) << err;
    // Outside a read nothing is counted.
    end_read_allowance();
    for (int k = 0; k < 10000; ++k)
        add_line(1, 0, 0, 0, 2);
}

// A scope that declares one name many times finds its latest declaration directly; the
// two names that share a chain ("x" and "_x") keep their own latest entries.
TEST(Bounds, RedeclarationsStayLinear) {
    start_run("16F877");
    std::string text = "[p GLOBOPT AUTOSTATIC ]\n\"1 m.c\n[v x `uc 0 e 1 @5 ]\n";
    const int count = 80000;
    for (int k = 0; k < count; ++k)
        text += "[v _x `uc 0 e 1 @" + std::to_string(100 + k) + " ]\n";
    ScopeEntry* module = read_text(text);
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(entries_named(module, "_x").size(), size_t(count));
    type_model.current_scope = module;
    ScopeEntry* latest = find_redeclaration("_x");
    ASSERT_NE(latest, nullptr);
    EXPECT_EQ(latest->value, uint32_t(100 + count - 1));
    ScopeEntry* plain = find_redeclaration("x");
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(plain->value, 5u);
}

// Type names are found without walking a scope: a function whose many locals are typed
// by a name that one local hides reads in linear time, and each look-up still finds the
// latest declaration before its point ("word" the local, "_word" the typedef).
TEST(Bounds, TypeNameLookupsStayLinear) {
    start_run("16F877");
    std::string text = "[p GLOBOPT AUTOSTATIC ]\n\"1 m.c\n[v _word `ui 0 t 0 ]\n"
                       "[v _f `(v 0 e 1 @0 ]\n{\n\"2\n[v word `uc 0 a 0 0 ]\n";
    const int count = 80000;
    for (int k = 0; k < count; ++k)
        text += "[v a" + std::to_string(k) + " `word 0 a 0 " + std::to_string(k) + " ]\n";
    text += "[v _w `_word 0 a 0 0 ]\n}\n";
    ScopeEntry* module = read_text(text);
    ASSERT_NE(module, nullptr);
    ScopeEntry* function = first_scope(module, SC_FUNC);
    ASSERT_NE(function, nullptr);
    EXPECT_EQ(function->entry_count(), uint32_t(count + 2));
    type_model.current_scope = function;
    ScopeEntry* local = find_type_name("word");
    ASSERT_NE(local, nullptr);
    EXPECT_EQ(local->sclass, SC_AUTO);
    ScopeEntry* typedef_entry = find_type_name("_word");
    ASSERT_NE(typedef_entry, nullptr);
    EXPECT_EQ(typedef_entry->sclass, SC_TYPEDEF);
}

// Under -k, a local redeclared after each line directive opens a faked block inside the
// one before; look-ups from the innermost still find the latest declaration, and type
// names declared outside all of them (the typedef "_word" and the basic "i").
TEST(Bounds, NestedFakedBlocksKeepTheirAnswers) {
    start_run("16F877");
    options.fake_redefinitions = true;
    const int count = 20000;
    std::string text = "[p GLOBOPT AUTOSTATIC ]\n\"1 m.c\n[v _word `ui 0 t 0 ]\n"
                       "[v _f `(v 0 e 1 @0 ]\n{\n";
    for (int k = 0; k < count; ++k)
        text += "\"" + std::to_string(k + 2) + "\n[v x `i 0 a 0 " + std::to_string(k) + " ]\n";
    text += "[v w `_word 0 a 0 0 ]\n}\n";
    ScopeEntry* module = read_text(text);
    ASSERT_NE(module, nullptr);
    ScopeEntry* scope = first_scope(module, SC_FUNC);
    int depth = 0;
    while (ScopeEntry* inner = first_scope(scope, SC_BLOCK)) {
        EXPECT_TRUE(inner->flags & ENTRY_FAKED);
        scope = inner;
        ++depth;
    }
    EXPECT_EQ(depth, count - 1);
    ASSERT_EQ(entries_named(scope, "x").size(), 1u);
    EXPECT_EQ(entries_named(scope, "x")[0]->value, uint32_t(count - 1));
    const ScopeEntry* w = entries_named(scope, "w").at(0);
    ASSERT_NE(w->type, nullptr);
    EXPECT_EQ(w->type->base().text, "ui");
    type_model.current_scope = scope;
    EXPECT_EQ(find_redeclaration("x"), entries_named(scope, "x")[0]);
    EXPECT_EQ(find_type_name("_word")->sclass, SC_TYPEDEF);
    EXPECT_EQ(find_type_name("i")->sclass, SC_TYPEDEF);
}

// A typedef that names another shares its nodes: 8,000 chained typedefs, each a pointer
// to the one before, make one node each, not 32 million in all.
TEST(Bounds, TypedefChainsShareTheirNodes) {
    start_run("16F877");
    const int count = 8000;
    std::string text = "[p GLOBOPT AUTOSTATIC ]\n\"1 m.c\n[v _t0 `i 0 t 0 ]\n";
    for (int k = 1; k < count; ++k)
        text += "[v _t" + std::to_string(k) + " `*_t" + std::to_string(k - 1) + " 0 t 0 ]\n";
    text += "[v _v `_t" + std::to_string(count - 1) + " 0 e 1 @32 ]\n";
    ScopeEntry* module = read_text(text);
    ASSERT_NE(module, nullptr);
    const Type* type = entries_named(module, "_v").at(0)->type;
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(type->count(), uint32_t(count));
    EXPECT_EQ(type->outermost().kind, TYPE_POINTER);
    EXPECT_EQ(type->base().kind, TYPE_BASIC);
    EXPECT_LT(type_model.link_pool.size(), size_t(2 * count));
}

// A side file that never ends is refused at its limit; the module is read without it.
TEST(Bounds, SideFileOnADeviceIsRefused) {
    std::string dir = scratch_dir();
    ASSERT_EQ(symlink("/dev/zero", (dir + "/m.sdb").c_str()), 0);
    start_run("16F877");
    ScopeEntry* scope = nullptr;
    std::string err = capture_stderr([&] { scope = read_sdb((dir + "/m.obj").c_str()); });
    EXPECT_EQ(scope, nullptr);
    EXPECT_NE(err.find("(416)"), std::string::npos) << err;
    EXPECT_NE(err.find("m.sdb"), std::string::npos) << err;
}

// A symbol file names a module in a few lists, and each mention reads its side file
// again: a few dozen mentions of a 9 KB side file read fine, thousands are refused.
TEST(Bounds, SideFileNamedManyTimesIsRefused) {
    std::string dir = scratch_dir();
    std::string sdb = "[p GLOBOPT AUTOSTATIC ]\n\"1 m.c\n";
    for (int k = 0; sdb.size() < 9000; ++k)
        sdb += "[v _x" + std::to_string(k) + " `uc 0 e 1 @" + std::to_string(k) + " ]\n";
    write_file(dir + "/m.sdb", Bytes(sdb.begin(), sdb.end()));
    for (int mentions : {3, 30, 3000}) {
        std::string sym;
        for (int k = 0; k < mentions; ++k)
            sym += dir + "/m.obj\n";
        write_file(dir + "/m.sym", Bytes(sym.begin(), sym.end()));
        int status = 0;
        std::string err =
            run_words({"-p16F877", "-inorval", dir + "/m.sym", "-oihex", dir + "/m.hex"}, &status);
        EXPECT_EQ(status, mentions == 3000) << mentions << err;
        EXPECT_EQ(err.find("(425)") != std::string::npos, mentions == 3000) << err;
    }
}

// A command file that never ends ends the run at its limit.
TEST(Bounds, CommandFileOnADeviceEndsTheRun) {
    int status = 0;
    std::string err = run_words({"@/dev/zero"}, &status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(err.find("(416)"), std::string::npos) << err;
    EXPECT_NE(err.find("/dev/zero"), std::string::npos) << err;
}

// A dump of a text image from a device ends at the format's limit.
TEST(Bounds, TextImageFromADeviceEndsAtItsLimit) {
    int status = 0;
    std::string err = run_words({"-d", "-ititxt", "/dev/zero"}, &status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(err.find("(416)"), std::string::npos) << err;
    EXPECT_NE(err.find("TI-TXT"), std::string::npos) << err;
}

// A composed output name longer than 127 characters is refused, not cut.
TEST(Bounds, LongOutputNameIsRefused) {
    std::string dir = scratch_dir();
    std::string hex = ":0400000001020304F2\n:00000001FF\n";
    write_file(dir + "/a.hex", Bytes(hex.begin(), hex.end()));
    std::string stem = dir + "/" + std::string(130 - dir.size(), 'n');
    int status = 0;
    std::string err = run_words({dir + "/a.hex", "-oihex", stem}, &status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(err.find("(417)"), std::string::npos) << err;
    EXPECT_NE(access((stem + ".hex").c_str(), F_OK), 0);
    EXPECT_NE(access((stem + ".hex").substr(0, 127).c_str(), F_OK), 0);
    // 127 characters are still accepted.
    std::string fits = dir + "/" + std::string(126 - dir.size() - 4, 'f');
    err = run_words({dir + "/a.hex", "-oihex", fits}, &status);
    EXPECT_EQ(status, 0) << err;
    EXPECT_EQ(access((fits + ".hex").c_str(), F_OK), 0);
}

// A file whose parts would lie past the 4 GiB its 32-bit offsets reach is not written:
// the message names the first part that would pass them and the byte it would reach.
TEST(Bounds, FilesPast32BitOffsetsAreRefused) {
    struct Case {
        const char* key;
        const char* part;
        uint64_t reach; // headers, then the part's bytes
    };
    // ICOFF: the file and two section headers (100 bytes), the 16 bytes of "next", then
    // "big" up to its last block. ELF: the 52-byte header, then "big" ("next" is its
    // space, no section of its own).
    for (const Case& c : {Case{"icoff", "section \"big\"", 116ull + 0xFFFFFFF0ull},
                          Case{"elf", "section \"big\"", 52ull + 0xFFFFFFF0ull}}) {
        SCOPED_TRACE(c.key);
        reset_run_state();
        Bytes bytes(16, 0x5A);
        add_segment("next", 0, 16, 0, 1);
        add_data(0, 16, bytes.data(), 1);
        add_segment("big", 0, 0xFFFFFFF0u, 0, 1);
        add_data(0, 16, bytes.data(), 2);
        add_data(0xFFFFFFE0u, 16, bytes.data(), 2);
        FILE* out = tmpfile();
        int status = 0;
        int answer = -1;
        std::string err = capture_stderr(
            [&] { answer = format_at(find_format_key(c.key)).write(out, "out"); }, &status);
        EXPECT_EQ(answer, 0);
        EXPECT_TRUE(has_message(err, 418, {c.part, std::to_string(c.reach)})) << err;
        EXPECT_EQ(err.find("(413)"), std::string::npos) << err;
        fseek(out, 0, SEEK_END);
        EXPECT_EQ(ftell(out), 0);
        fclose(out);
    }
}

// What a writer's format cannot hold it leaves out with one warning per file: scopes
// nested past 400 levels (Extended OMF-51, Holtek DBG), and numbers past the 15 bits of
// a Holtek DBG number (33,000 file indexes here).
TEST(Bounds, WritersTellOnceWhatTheyLeaveOut) {
    auto nested = [] {
        std::string text = "[p GLOBOPT AUTOSTATIC ]\n\"1 m.c\n[v _f `(v 0 e 1 @0 ]\n";
        for (int k = 0; k < 402; ++k)
            text += "{\n[v a" + std::to_string(k) + " `i 0 a 0 0 ]\n";
        for (int k = 0; k < 402; ++k)
            text += "}\n";
        read_text(text);
    };
    auto many_files = [] {
        for (uint32_t k = 0; k < 33000; ++k)
            add_line(1, k, 0, add_file(("f" + std::to_string(k) + ".c").c_str()), 2);
    };
    struct Case {
        const char* key;
        void (*fill)();
        unsigned number;
    };
    for (const Case& c :
         {Case{"eomf51", nested, 427}, Case{"htk", nested, 427}, Case{"htk", many_files, 428}}) {
        SCOPED_TRACE(std::string(c.key) + " " + std::to_string(c.number));
        start_run("16F877");
        c.fill();
        normalize_store();
        FILE* out = tmpfile();
        std::string err =
            capture_stderr([&] { format_at(find_format_key(c.key)).write(out, "o"); });
        fclose(out);
        EXPECT_TRUE(has_message(err, c.number, {"\"o\""})) << err;
        EXPECT_EQ(err.find("(" + std::to_string(c.number) + ")"),
                  err.rfind("(" + std::to_string(c.number) + ")"));
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
        void* block = ::operator new(huge);
        ::operator delete(block);
    } catch (const std::bad_alloc&) {
        thrown = true;
    }
    EXPECT_TRUE(thrown);
    EXPECT_EQ(last_failed_allocation(), huge);
#endif
}

} // namespace
