// The native symbol file: what its end-to-end cases cannot show (detection of each kind
// of first line, the bounds record a symbol lies in, a failed write).
#include <gtest/gtest.h>

#include "debug_helpers.h"
#include "formats/descriptors.h"
#include "model/store.h"

namespace {

// A stream over the text, which must outlive it.
FILE* text_stream(const std::string& text) {
    return text.empty() ? tmpfile() : fmemopen(const_cast<char*>(text.data()), text.size(), "r");
}

TEST(NorvalDetect, FirstLineDecides) {
    ::Run run;
    const struct {
        std::string line;
        bool yes;
    } rows[] = {
        {"%locals\n", true},
        {"%segments\r\nrest\n", true},
        {"main 1A0 3\n", true},
        {"main +1A0 - x\n", true}, // a lone sign counts as a number
        {"main 1A0\n", false},
        {"main 1A0 xyz\n", false},
        {"%locals", false}, // a line without its end cannot be read
        {"", false},
        {" %locals\n", false},
        {"m 1 2 " + std::string(248, 'x') + "\n", true}, // 254 characters
        {"m 1 2 " + std::string(249, 'x') + "\n", false},
    };
    for (const auto& row : rows) {
        FILE* in = text_stream(row.line);
        EXPECT_EQ(norval_format.detect(run, in), row.yes) << row.line;
        fclose(in);
    }
}

// "far", later in the list, also holds 0x150 and wins; 0x900 is in neither.
TEST(NorvalRead, ASymbolTakesTheLastBoundsHoldingIt) {
    ::Run run;
    start_run(run, "");
    std::string text = "__Ltext 0\n__Htext 7FF\n__Lfar 100 0 ABS\n__Hfar 1FF 0 ABS\n"
                       "main 150 0 text\nhigh 900 0 text\n";
    FILE* in = text_stream(text);
    norval_format.read(run, in, "prog.sym");
    fclose(in);
    EXPECT_EQ(find_symbol(run, "main")->bounds, find_bounds(run, "far"));
    EXPECT_EQ(find_symbol(run, "high")->bounds, nullptr);
}

TEST(NorvalWrite, AFailedOutputIsReportedOnce) {
    ::Run run;
    FILE* full = fopen("/dev/full", "w");
    if (!full) GTEST_SKIP() << "no /dev/full";
    start_run(run, "");
    for (uint32_t k = 0; k < 20000; ++k)
        add_symbol(run, ("_s" + std::to_string(k)).c_str(), k, 0, 0, SYM_ABSOLUTE);
    std::string err = capture_stderr([&] { norval_format.write(run, full, "full.sym"); });
    fclose(full);
    EXPECT_NE(err.find("(413)"), std::string::npos) << err;
    EXPECT_EQ(err.find("(413)"), err.rfind("(413)")) << err;
}

} // namespace
