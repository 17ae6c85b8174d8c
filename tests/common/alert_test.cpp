// Numbered and lettered messages: layout, counting, limits, templates. (Description-file
// lines, --msgdisable, --emax and %m are in the driver's cases.)
#include <cstdlib>
#include <cstring>
#include <map>

#include "test_support.h"

namespace {

class Messages : public testing::Test {
  protected:
    MessageState messages;
    void SetUp() override {
        start_without_messages(messages);
        for (const char* name : {"NVC_ERR_FORMAT", "NVC_WARN_FORMAT", "NVC_MSG_FORMAT"})
            unsetenv(name);
    }
    void TearDown() override { SetUp(); }

    void use_file(const std::string& text) {
        ASSERT_TRUE(load_message_file(messages, temp_file(text).c_str()));
    }
};

TEST_F(Messages, LayoutByKind) {
    set_message_context(messages, "prog.cof");
    EXPECT_EQ(capture_stderr([&] { message(messages, 1037, "COFF header"); }),
              "prog.cof: (1037) An error, warning or message was generated, but no "
              "description is available\n");
    EXPECT_TRUE(errors_reported(messages));
    start_without_messages(messages);
    use_file("1037 E bad %s\n659 M note %u\n523 3 careful %d\n13 F stop\n20 E here\n");
    unsigned line = 5;
    set_message_context(messages, "a.sym");
    EXPECT_EQ(capture_stderr([&] { message(messages, 1037, "thing"); }),
              "a.sym: (1037) bad thing\n");
    EXPECT_EQ(capture_stderr([&] { message(messages, 659, 7u); }), "a.sym: note 7\n");
    EXPECT_EQ(capture_stderr([&] { message(messages, 523, -4); }),
              "a.sym: (523) careful -4 (warning)\n");
    EXPECT_EQ(messages.error_count, 1u);
    EXPECT_EQ(messages.warning_count, 1u);
    set_message_context(messages, "x.sdb", &line);
    line = 42; // the line is read at each message
    EXPECT_EQ(capture_stderr([&] { message(messages, 20); }), "x.sdb: 42: (20) here\n");
    int status = 0;
    EXPECT_EQ(capture_stderr([&] { message(messages, 13); }, &status), "x.sdb: 42: (13) stop\n");
    EXPECT_EQ(status, 1);
}

TEST_F(Messages, LetteredErrorsStopAtTheFourthUnlessInitialised) {
    int status = 0;
    std::string out = capture_stderr(
        [&] {
            for (int k = 0; k < 5; ++k)
                alert(messages, "E", "lettered %d", k);
        },
        &status);
    EXPECT_EQ(out, "(0) lettered 0\n(0) lettered 1\n(0) lettered 2\ntoo many errors (4)\n");
    EXPECT_EQ(status, 1);
}

TEST_F(Messages, ThresholdAndDisableListHideWhatTheyMay) {
    use_file("40 3 minor\n51 F cannot hide\n53 M info\n60 2 w\n61 E e\n110 1 w\n");
    set_warning_threshold(messages, 5);
    EXPECT_EQ(capture_stderr([&] { EXPECT_EQ(message(messages, 40), 0); }), "");
    EXPECT_EQ(capture_stderr([&] { alert(messages, "W", "shown"); }), "(0) shown (warning)\n");
    EXPECT_EQ(capture_stderr([&] { alert(messages, "2", "level two"); }), "");
    EXPECT_EQ(messages.warning_count, 0u); // lettered warnings are not counted
    set_warning_threshold(messages, 0);
    disable_messages(messages, "53,51:off");
    EXPECT_EQ(capture_stderr([&] { message(messages, 53); }), "");
    int status = 0;
    EXPECT_EQ(capture_stderr([&] { message(messages, 51); }, &status), "(51) cannot hide\n");
    EXPECT_EQ(status, 1);
    capture_stderr([&] { message(messages, 110); });
    EXPECT_FALSE(errors_reported(messages));
    set_warnings_are_errors(messages);
    EXPECT_TRUE(errors_reported(messages));
    disable_messages(messages, "0"); // every warning
    EXPECT_EQ(capture_stderr([&] { message(messages, 60); }), "");
    EXPECT_EQ(capture_stderr([&] { message(messages, 61); }), "(61) e\n");
}

TEST_F(Messages, TemplatesReplaceTheLayout) {
    setenv("NVC_ERR_FORMAT", "%a|%f|%l|%n|%s|%q%%|%c", 1);
    setenv("NVC_WARN_FORMAT", "W:%n:%s%", 1);
    setenv("NVC_MSG_FORMAT", "M%n:%s", 1);
    use_file("1037 E bad %s\n101 4 careful\n102 M fyi\n");
    set_template_mode(messages, true);
    set_message_context(messages, "in.hex");
    EXPECT_EQ(capture_stderr([&] { message(messages, 1037, "x"); }),
              "symvert|in.hex||1037|bad x|q%|\n");
    EXPECT_EQ(capture_stderr([&] { message(messages, 101); }), "W:101:careful\n");
    EXPECT_EQ(capture_stderr([&] { message(messages, 102); }), "M102:fyi\n");
    // A malformed line of a description file is told as lettered message 3.
    std::string said = capture_stderr([&] { use_file("oops\n"); });
    EXPECT_EQ(said.substr(0, 48), "M3:Malformed error information on line 1, in fil");
}

TEST_F(Messages, OverlongTextIsCutNotOverrun) {
    use_file("1037 E %s\n");
    std::string huge(5000, 'y');
    EXPECT_EQ(capture_stderr([&] { message(messages, 1037, huge.c_str()); }),
              "(1037) " + std::string(511 - 7, 'y') + "\n");
    EXPECT_EQ(capture_stderr([&] { message_line("%s", huge.c_str()); }).size(), 2047u);
}

// The conversion letters of a text.
std::string conversions(const std::string& t) {
    std::string out;
    for (size_t k = 0; k < t.size(); ++k) {
        if (t[k] != '%') continue;
        size_t j = k + 1;
        while (j < t.size() && strchr("-+ #0123456789.", t[j]))
            ++j;
        if (j < t.size() && t[j] != '%' && t[j] != 'm') out += t[j];
        k = j;
    }
    return out;
}

// Every line of the installed description files parses; the conversions take only the
// kinds of argument the program passes (strings, unsigned or int numbers, a character
// code), and every translation has the same numbers with the same conversions as English.
TEST(MessageFile, EveryLineIsWellFormedAndTranslationsAgree) {
    MessageState messages;
    std::map<unsigned, std::string> english;
    for (const char* language : {"en", "de", "fr"}) {
        std::string path = std::string(SYMVERT_SOURCE_DIR) + "/dat/" + language + "_msgs.txt";
        start_without_messages(messages);
        std::string out =
            capture_stderr([&] { EXPECT_TRUE(load_message_file(messages, path.c_str())); });
        EXPECT_EQ(out, "") << language;
        std::map<unsigned, std::string> these;
        for (const auto& entry : messages.primary) {
            if (!entry) continue;
            EXPECT_NE(entry->kind, KIND_UNKNOWN) << language << " " << entry->number;
            std::string conv = conversions(entry->text);
            EXPECT_EQ(conv.find_first_not_of("sudcX"), std::string::npos)
                << language << " message " << entry->number << ": " << entry->text;
            these[entry->number] = conv;
        }
        if (english.empty())
            english = these;
        else
            EXPECT_EQ(these, english) << language;
    }
    EXPECT_FALSE(english.empty());
}

} // namespace
