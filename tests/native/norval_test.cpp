// The native symbol file: detection, reading (with side files) and writing.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <set>
#include <tuple>
#include <unistd.h>

#include "debug_helpers.h"
#include "formats/descriptors.h"
#include "model/store.h"

namespace {

bool detects(const std::string& text) {
    FILE* in = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
    if (!in) in = tmpfile(); // fmemopen refuses an empty buffer
    bool yes = norval_format.detect(in);
    fclose(in);
    return yes;
}

void read_sym(const std::string& text, const char* name = "prog.sym") {
    FILE* in = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
    ASSERT_NE(in, nullptr);
    norval_format.read(in, name);
    fclose(in);
}

std::string write_sym() {
    return written_text([](FILE* out) { norval_format.write(out, "out.sym"); });
}

SymbolRecord* symbol(const char* name) {
    return find_symbol(name);
}

// Runs the body in a fresh temporary directory, then goes back.
class InDirectory {
  public:
    InDirectory() {
        char pattern[] = "/tmp/symvert-norval-XXXXXX";
        dir_ = mkdtemp(pattern);
        if (!getcwd(saved_, sizeof saved_)) saved_[0] = 0;
        if (chdir(dir_.c_str()) != 0) dir_.clear();
    }
    ~InDirectory() {
        if (saved_[0] && chdir(saved_) != 0) return;
        std::string command = "rm -rf " + dir_;
        if (system(command.c_str()) != 0) return;
    }
    void write(const char* name, const std::string& text) { std::ofstream(name) << text; }

  private:
    std::string dir_;
    char saved_[PATH_MAX];
};

TEST(NorvalDetect, FirstLineDecides) {
    EXPECT_TRUE(detects("%locals\n"));
    EXPECT_TRUE(detects("%segments\r\nrest\n"));
    EXPECT_TRUE(detects("main 1A0 3\n"));
    EXPECT_TRUE(detects("main +1A0 - x\n")); // a lone sign counts as a number
    EXPECT_FALSE(detects("main 1A0\n"));
    EXPECT_FALSE(detects("main 1A0 xyz\n"));
    EXPECT_FALSE(detects("%locals")); // a line without its end cannot be read
    EXPECT_FALSE(detects(""));
    EXPECT_FALSE(detects(" %locals\n"));
    EXPECT_TRUE(detects("m 1 2 " + std::string(248, 'x') + "\n"));  // 254 characters
    EXPECT_FALSE(detects("m 1 2 " + std::string(249, 'x') + "\n")); // one too many
}

TEST(NorvalRead, SymbolsAndTheirSegments) {
    start_run("");
    read_sym("_g 5 0\n"
             "%locals\n"
             "main.c\n"
             "_a 10\n"
             "_b 20 0 ABS\n"
             "_c 30 0 text\n"
             "_d 40 0 text\n"
             "_e zz 0 data\n"
             "_f -1\n"
             "_h 123456789AB\n"
             "lonely\n");
    ASSERT_EQ(store.files.count(), 2u);
    EXPECT_EQ(store.files[0]->name, "prog.sym"); // records before any file line
    EXPECT_EQ(symbol("_g")->file, 1u);
    EXPECT_EQ(symbol("_g")->flags, uint32_t(SYM_ABSOLUTE));
    EXPECT_EQ(symbol("_a")->flags, uint32_t(SYM_ABSOLUTE | SYM_LOCAL));
    EXPECT_EQ(symbol("_a")->file, 2u);
    EXPECT_EQ(symbol("_b")->segment, 0u);
    EXPECT_EQ(symbol("_b")->flags, uint32_t(SYM_ABSOLUTE | SYM_LOCAL));
    ASSERT_EQ(store.segments.count(), 2u);
    const SegmentRecord* text = store.segments[0];
    EXPECT_EQ(text->name, "text");
    EXPECT_EQ(text->space, 1u);
    EXPECT_EQ(text->size, 0u);
    EXPECT_EQ(symbol("_c")->segment, 1u);
    EXPECT_EQ(symbol("_c")->flags, uint32_t(SYM_LOCAL));
    EXPECT_EQ(symbol("_d")->segment, 1u);
    EXPECT_EQ(store.segments[1]->space, 2u);
    EXPECT_EQ(symbol("_e")->value, 0x40u); // unreadable: the value read before stays
    EXPECT_EQ(symbol("_f")->value, 0xFFFFFFFFu);
    EXPECT_EQ(symbol("_h")->value, 0xFFFFFFFFu);
    EXPECT_EQ(symbol("lonely"), nullptr);
    EXPECT_EQ(store.symbols.count(), 8u);
}

TEST(NorvalRead, SegmentLinesLineRecordsAndBounds) {
    start_run("");
    read_sym("%segments\n"
             "text 0 7FF CODE\n"
             "far 100 1FF CODE 8000\n"
             "odd 300\n"
             "%locals\n"
             "a.c\n"
             "12 1F4 0 text\n"
             "__Ltext 0\n"
             "__Htext 7FF\n"
             "__Btext 55\n"
             "__Itext 1\n"
             "__Lfar 100 0 ABS\n"
             "__Hfar 1FF 0 ABS\n"
             "main 150 0 text\n"
             "high 900 0 text\n");
    ASSERT_EQ(store.segments.count(), 4u);
    const SegmentRecord* code = store.segments[0];
    EXPECT_EQ(code->name, "CODE");
    EXPECT_EQ(code->space, 1u);
    const SegmentRecord* text = store.segments[1];
    EXPECT_EQ(text->address, 0u);
    EXPECT_EQ(text->size, 0x800u);
    EXPECT_EQ(text->load_address, 0u);
    EXPECT_EQ(text->space, 1u);
    EXPECT_EQ(store.segments[2]->load_address, 0x8000u);
    EXPECT_EQ(store.segments[2]->size, 0x100u);
    EXPECT_EQ(store.segments[3]->size, 0u); // no high address
    EXPECT_EQ(store.segments[3]->space, 0u);

    ASSERT_EQ(store.lines.count(), 1u);
    const LineRecord* line = store.lines[0];
    EXPECT_EQ(line->line, 12u);
    EXPECT_EQ(line->address, 0x1F4u);
    EXPECT_EQ(line->segment, 2u); // text is the segment found by name
    EXPECT_EQ(line->file, 2u);    // file 1 is the symbol file, named by its segment lines
    EXPECT_EQ(line->kind, 2u);

    ASSERT_EQ(store.bounds.count(), 2u);
    const BoundsRecord* bounds = find_bounds("text");
    EXPECT_EQ(bounds->low, 0u);
    EXPECT_EQ(bounds->high, 0x7FFu);
    EXPECT_EQ(bounds->init, 1u);
    EXPECT_EQ(store.symbols.count(), 2u); // the bounds lines are not symbols
    // "far" (later in the list) also holds 0x150 and wins; 0x900 is in neither.
    EXPECT_EQ(symbol("main")->bounds, find_bounds("far"));
    EXPECT_EQ(symbol("high")->bounds, nullptr);
}

TEST(NorvalRead, LinesThatEndTheReading) {
    start_run("");
    read_sym("a 1\r\n" + std::string("b 2 ") + std::string(250, 'x') + "\n" + "c 3\n");
    EXPECT_NE(symbol("a"), nullptr);
    EXPECT_NE(symbol("b"), nullptr); // exactly 254 characters fit
    EXPECT_NE(symbol("c"), nullptr);
    start_run("");
    read_sym("a 1\n" + std::string("b 2 ") + std::string(251, 'x') + "\n" + "c 3\n");
    EXPECT_NE(symbol("a"), nullptr);
    EXPECT_EQ(symbol("b"), nullptr);
    EXPECT_EQ(symbol("c"), nullptr);
    start_run("");
    read_sym("a 1\nlast 2");
    EXPECT_EQ(symbol("last"), nullptr);
}

TEST(NorvalRead, ObjectLinesBringInTheirSideFiles) {
    InDirectory dir;
    dir.write("main.sdb", "[p GLOBOPT ]\n\"1 main.c\n[v _x `i 0 e 1 @32 ]\n");
    start_run("16F877");
    read_sym("%locals\n"
             "main.obj\n"
             "main.c\n"
             "_x 20 0 BANK0\n"
             "lib.obj\n"
             "lib.c\n"
             "helper.c\n"
             "LIB.OBJ\n");
    ScopeEntry* global = type_model.global_scope;
    ASSERT_NE(global, nullptr);
    std::vector<ScopeEntry*> modules;
    for (ScopeEntry* e : global->entries)
        if (e->is_scope()) modules.push_back(e);
    ASSERT_EQ(modules.size(), 3u);
    EXPECT_EQ(modules[0]->sclass, SC_MODULE);
    EXPECT_EQ(modules[0]->entry_count(), 2u); // no filename entries from the symbol file
    EXPECT_EQ(modules[1]->name, "lib.obj");
    EXPECT_EQ(modules[1]->sclass, SC_NO_SIDE_FILE);
    ASSERT_EQ(modules[1]->entry_count(), 2u);
    EXPECT_EQ(modules[1]->entries[0]->name, "lib.c");
    EXPECT_EQ(modules[1]->entries[1]->name, "helper.c");
    EXPECT_EQ(modules[1]->entries[1]->line, 0u);
    EXPECT_EQ(modules[2]->name, "LIB.OBJ");
    // Files: main.obj, main.c, lib.obj, lib.c, helper.c; LIB.OBJ is lib.obj again.
    EXPECT_EQ(store.files.count(), 5u);
    EXPECT_EQ(symbol("_x")->file, 2u);
}

TEST(NorvalRead, NoProcessorMeansNoSideFileScope) {
    InDirectory dir;
    start_run("");
    std::string err = capture_stderr([] { read_sym("%locals\nmain.obj\nmain.c\n_x 1\n"); });
    EXPECT_NE(err.find("(669)"), std::string::npos);
    EXPECT_EQ(type_model.global_scope, nullptr);
    EXPECT_NE(symbol("_x"), nullptr);
}

TEST(NorvalWrite, RecordsMergeInFileSegmentAddressOrder) {
    start_run("");
    uint32_t a = add_file("a.c");
    uint32_t b = add_file("b.obj");
    uint32_t c = add_file("c.c");
    (void)b;
    add_segment("text", 0, 0x100, 0, 1);
    add_symbol("_late", 0x30, 1, a, 0);
    add_symbol("_s1", 0x20, 1, a, SYM_LOCAL);
    add_symbol("ABS0", 5, 0, 0, SYM_ABSOLUTE);
    add_symbol("_s3", 0x10, 0, c, 0);
    add_symbol("_bad", 0x11, 7, c, 0); // no such segment: no name written
    add_line(4, 0x20, 1, a, 2);
    add_line(3, 0x10, 1, a, 2);
    add_line(9, 0x30, 0, c, 2);
    add_line(2147483648u, 0x40, 0, c, 2);
    EXPECT_EQ(write_sym(), "ABS0 5\n"
                           "%locals\n"
                           "a.c\n"
                           "3 10 1 text\n"
                           "_s1 20 1 text\n"
                           "4 20 1 text\n"
                           "_late 30 1 text\n"
                           "b.obj\n"
                           "c.c\n"
                           "_s3 10 0\n"
                           "9 30 0\n"
                           "-2147483648 40 0\n"
                           "_bad 11 7\n");
    // The lists stay sorted for later writers.
    EXPECT_EQ(store.symbols[0]->name, "ABS0");
    EXPECT_EQ(store.lines[0]->line, 3u);
    // "%locals" and the file headers are written once per run.
    add_file("d.c");
    add_symbol("_d", 1, 0, 4, SYM_ABSOLUTE);
    std::string again = write_sym();
    EXPECT_EQ(again.find("%locals"), std::string::npos);
    EXPECT_EQ(again.find("a.c"), std::string::npos);
    EXPECT_NE(again.find("d.c\n_d 1\n"), std::string::npos);
}

TEST(NorvalWrite, AFailedOutputIsReportedOnce) {
    FILE* full = fopen("/dev/full", "w");
    if (!full) GTEST_SKIP() << "no /dev/full";
    start_run("");
    for (uint32_t k = 0; k < 20000; ++k)
        add_symbol(("_s" + std::to_string(k)).c_str(), k, 0, 0, SYM_ABSOLUTE);
    std::string err = capture_stderr([&] { norval_format.write(full, "full.sym"); });
    fclose(full);
    EXPECT_NE(err.find("(413)"), std::string::npos) << err;
    EXPECT_EQ(err.find("(413)"), err.rfind("(413)")) << err;
}

// The records of the store as (file, name, value, segment) texts, for comparisons
// that do not depend on segment numbering.
std::multiset<std::string> store_contents() {
    std::multiset<std::string> out;
    for (const SymbolRecord* s : store.symbols)
        out.insert(file_of(s->file)->name + " " + s->name + " " + std::to_string(s->value) + " " +
                   segment_name(s->segment));
    for (const LineRecord* l : store.lines)
        out.insert(file_of(l->file)->name + " #" + std::to_string(l->line) + " " +
                   std::to_string(l->address) + " " + segment_name(l->segment));
    return out;
}

TEST(NorvalWrite, SampleProgramsSurviveARoundTrip) {
    for (const char* program : {"pic16", "dspic", "arm"}) {
        std::string dir = std::string(SYMVERT_SOURCE_DIR) + "/tests/data/debug/" + program;
        char saved[PATH_MAX];
        ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
        ASSERT_EQ(chdir(dir.c_str()), 0);
        std::ifstream in("prog.sym", std::ios::binary);
        std::string original((std::istreambuf_iterator<char>(in)), {});
        std::string first, second, third;
        std::multiset<std::string> read_back;
        capture_stderr([&] {
            start_run("");
            options.processor_name = program == std::string("pic16")   ? "16F877"
                                     : program == std::string("dspic") ? "30F2010"
                                                                       : "AT91R40008";
            read_sym(original);
            std::multiset<std::string> contents = store_contents();
            first = write_sym();
            start_run("");
            read_sym(first);
            EXPECT_EQ(store_contents(), contents) << program;
            second = write_sym();
            start_run("");
            read_sym(second);
            third = write_sym();
        });
        // Records with equal keys may change places from one write to the next (the sort
        // is not stable), so the lines are compared as sets.
        auto lines_of = [](const std::string& text) {
            std::multiset<std::string> lines;
            size_t start = 0;
            for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
                lines.insert(text.substr(start, end - start));
            return lines;
        };
        EXPECT_EQ(lines_of(second), lines_of(third)) << program;
        EXPECT_EQ(first.substr(0, first.find("%locals")).find('\n'), std::string::npos);
        ASSERT_EQ(chdir(saved), 0);
    }
}

} // namespace
