// Argument words from a stream: quoting, continuation, prompts.
#include "common/getargs.h"
#include "test_support.h"

namespace {

std::vector<std::string> words_of(const std::string& text, bool interactive,
                                  std::string* prompts = nullptr) {
    FILE* in = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
    std::vector<std::string> words;
    std::string err = capture_stderr([&] { words = getargs(in, "symvert", interactive); });
    if (prompts) *prompts = err;
    fclose(in);
    return words;
}

using Words = std::vector<std::string>;

TEST(Getargs, QuotedPartsJoinAndKeepBlanks) {
    std::string prompts;
    Words w = words_of("a \"b c\" d\n", true, &prompts);
    EXPECT_EQ(w, (Words{"", "a", "b c", "d"}));
    EXPECT_EQ(prompts, "symvert> ");
    EXPECT_EQ(words_of("a'b c'd x\"y'z\"\n", false), (Words{"", "ab cd", "xy'z"}));
}

TEST(Getargs, CommandFileIsReadToItsEnd) {
    EXPECT_EQ(words_of("-v\n\n  in.sym\t-ocod\nout\n", false),
              (Words{"", "-v", "in.sym", "-ocod", "out"}));
    EXPECT_EQ(words_of("", false), (Words{""}));
    EXPECT_EQ(words_of("last", false), (Words{"", "last"}));
}

TEST(Getargs, InteractiveReadsOneLogicalLine) {
    std::string prompts;
    EXPECT_EQ(words_of("a b \\\nc\nnot read\n", true, &prompts), (Words{"", "a", "b", "c"}));
    EXPECT_EQ(prompts, "symvert> symvert> ");
}

TEST(Getargs, UnclosedQuoteRunsToTheEnd) {
    EXPECT_EQ(words_of("x 'rest of it\nand more", false), (Words{"", "x", "rest of it\nand more"}));
}

TEST(Getargs, LongWordsAreCutWithAMessage) {
    reset_without_messages();
    std::string text = std::string(300, 'w') + " next\n";
    std::string err;
    Words w = words_of(text, false, &err);
    ASSERT_EQ(w.size(), 3u);
    EXPECT_EQ(w[1], std::string(255, 'w'));
    EXPECT_EQ(w[2], "next");
    EXPECT_NE(err.find("(917)"), std::string::npos);
    reset_run_state();
}

TEST(Getargs, OverlongLinesAreReportedAndReadOn) {
    reset_without_messages();
    std::string text = std::string(9000, ' ') + "tail\n";
    std::string err;
    Words w = words_of(text, false, &err);
    EXPECT_EQ(w, (Words{"", "tail"}));
    EXPECT_NE(err.find("(337)"), std::string::npos);
    reset_run_state();
}

} // namespace
