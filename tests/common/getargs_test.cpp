// Argument words typed at a terminal: prompts, quotes, continuation. (Command files and
// words piped in are read by the driver's command-file cases.)
#include "common/getargs.h"
#include "test_support.h"

namespace {

using Words = std::vector<std::string>;

TEST(Getargs, InteractiveReadsOneLogicalLineWithAPromptForEachPart) {
    MessageState messages;
    const struct {
        const char* typed;
        Words words;
        const char* prompts;
    } rows[] = {
        {"a \"b c\" d\nnot read\n", {"", "a", "b c", "d"}, "symvert> "},
        {"a'b c'd x\"y'z\"\n", {"", "ab cd", "xy'z"}, "symvert> "},
        {"a b \\\nc\nnot read\n", {"", "a", "b", "c"}, "symvert> symvert> "},
        {"x 'rest of it\nand more", {"", "x", "rest of it\n"}, "symvert> "}, // one line only
    };
    for (const auto& row : rows) {
        std::string text = row.typed;
        FILE* in = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
        Words words;
        EXPECT_EQ(capture_stderr([&] { words = getargs(messages, in, "symvert", true); }),
                  row.prompts);
        EXPECT_EQ(words, row.words) << row.typed;
        fclose(in);
    }
}

} // namespace
