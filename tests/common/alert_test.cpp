// Numbered and lettered messages: description files, layout, counting, limits.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>

#include "test_support.h"

namespace {

class Messages : public testing::Test {
  protected:
    void SetUp() override {
        reset_without_messages();
        unsetenv("NVC_ERR_FORMAT");
        unsetenv("NVC_WARN_FORMAT");
        unsetenv("NVC_MSG_FORMAT");
    }
    void TearDown() override { reset_run_state(); }

    void use_file(const std::string& text) {
        ASSERT_TRUE(load_message_file(temp_file(text).c_str()));
    }
};

TEST_F(Messages, NoDescriptionCountsAsAnErrorWithTheFileName) {
    set_message_context("prog.cof");
    std::string out = capture_stderr([] { message(1037, "COFF header"); });
    EXPECT_EQ(out, "prog.cof: (1037) An error, warning or message was generated, but no "
                   "description is available\n");
    EXPECT_TRUE(errors_reported());
}

TEST_F(Messages, PlainLayoutByKind) {
    use_file("1037 E bad %s\n659 M note %u\n523 3 careful %d\n13 F stop\n");
    set_message_context("a.sym");
    EXPECT_EQ(capture_stderr([] { message(1037, "thing"); }), "a.sym: (1037) bad thing\n");
    EXPECT_EQ(capture_stderr([] { message(659, 7u); }), "a.sym: note 7\n");
    EXPECT_EQ(capture_stderr([] { message(523, -4); }), "a.sym: (523) careful -4 (warning)\n");
    EXPECT_EQ(message_state.error_count, 1u);
    EXPECT_EQ(message_state.warning_count, 1u);
    int status = 0;
    EXPECT_EQ(capture_stderr([] { message(13); }, &status), "a.sym: (13) stop\n");
    EXPECT_EQ(status, 1);
}

TEST_F(Messages, LineReferenceIsReadAtEachMessage) {
    use_file("20 E here\n");
    unsigned line = 5;
    set_message_context("x.sdb", &line);
    line = 42;
    EXPECT_EQ(capture_stderr([] { message(20); }), "x.sdb: 42: (20) here\n");
}

TEST_F(Messages, ErrorLimitStopsAfterPrintingTheErrorPastIt) {
    use_file("30 E oops\n");
    set_error_limit(2);
    int status = 0;
    std::string out = capture_stderr(
        [] {
            message(30);
            message(30);
            message(30);
            message(30);
        },
        &status);
    EXPECT_EQ(out, "(30) oops\n(30) oops\n(30) oops\ntoo many errors (3)\n");
    EXPECT_EQ(status, 1);
}

TEST_F(Messages, LetteredErrorsStopAtTheFourthUnlessInitialised) {
    int status = 0;
    std::string out = capture_stderr(
        [] {
            for (int k = 0; k < 5; ++k)
                alert("E", "lettered %d", k);
        },
        &status);
    EXPECT_EQ(out, "(0) lettered 0\n(0) lettered 1\n(0) lettered 2\ntoo many errors (4)\n");
    EXPECT_EQ(status, 1);
}

TEST_F(Messages, ThresholdHidesLowWarningsButNotLetteredOnes) {
    use_file("40 3 minor\n");
    set_warning_threshold(5);
    EXPECT_EQ(capture_stderr([] { EXPECT_EQ(message(40), 0); }), "");
    EXPECT_EQ(message_state.warning_count, 0u);
    EXPECT_EQ(capture_stderr([] { alert("W", "shown"); }), "(0) shown (warning)\n");
    EXPECT_EQ(capture_stderr([] { alert("2", "level two"); }), "");
    // Lettered warnings are not counted.
    EXPECT_EQ(message_state.warning_count, 0u);
}

TEST_F(Messages, DisableListHidesByNumber) {
    use_file("50 E can hide\n51 F cannot hide\n52 1 warn\n53 M info\n");
    disable_messages("50:OFF,52,53");
    EXPECT_EQ(capture_stderr([] { EXPECT_EQ(message(50), 0); }), "");
    EXPECT_EQ(message_state.error_count, 0u);
    EXPECT_EQ(capture_stderr([] { message(52); }), "");
    EXPECT_EQ(capture_stderr([] { message(53); }), "");
    disable_messages("51:off");
    int status = 0;
    EXPECT_EQ(capture_stderr([] { message(51); }, &status), "(51) cannot hide\n");
    EXPECT_EQ(status, 1);
}

TEST_F(Messages, DisableZeroHidesEveryWarning) {
    use_file("60 2 w\n61 E e\n");
    disable_messages("0");
    EXPECT_EQ(capture_stderr([] { message(60); }), "");
    EXPECT_EQ(capture_stderr([] { message(61); }), "(61) e\n");
}

TEST_F(Messages, MalformedLinesAreReportedAndSkipped) {
    std::string path =
        temp_file("# comment\n70 E\n71 X odd kind\n20000 E too big\n-1 E neg\n\n72 E ok\n");
    std::string out = capture_stderr([&] { load_message_file(path.c_str()); });
    std::string expected;
    for (unsigned line : {2u, 3u, 4u, 5u, 6u})
        expected += "Malformed error information on line " + std::to_string(line) + ", in file " +
                    path + "\n\n";
    EXPECT_EQ(out, expected);
    // The odd kind is kept with kind 0: warning layout, not counted.
    EXPECT_EQ(capture_stderr([] { message(71); }), "(71) odd kind (warning)\n");
    EXPECT_EQ(message_state.warning_count, 0u);
    EXPECT_EQ(message_state.error_count, 0u);
    EXPECT_EQ(capture_stderr([] { message(72); }), "(72) ok\n");
}

TEST_F(Messages, LongLinesAreReadInPieces) {
    std::string text = "80 E " + std::string(300, 'x') + "\n";
    std::string out = capture_stderr([&] { use_file(text); });
    // The second piece has no number or kind of its own: malformed.
    EXPECT_NE(out.find("line 2"), std::string::npos);
    EXPECT_EQ(find_message_entry(80)->text, std::string(250, 'x'));
}

TEST_F(Messages, PercentMIsTheSavedSystemError) {
    use_file("90 E failed: %m\n91 E plain%m\n");
    errno = ENOENT;
    EXPECT_EQ(capture_stderr([] { message(90); }), "(90) failed: No such file or directory\n");
    errno = 0;
    EXPECT_EQ(capture_stderr([] { message(91); }), "(91) plain\n");
}

TEST_F(Messages, TemplatesReplaceTheLayout) {
    setenv("NVC_ERR_FORMAT", "%a|%f|%l|%n|%s|%q%%|%c", 1);
    setenv("NVC_WARN_FORMAT", "W:%n:%s%", 1);
    setenv("NVC_MSG_FORMAT", "M:%s", 1);
    use_file("1037 E bad %s\n101 4 careful\n102 M fyi\n");
    set_template_mode(true);
    set_message_context("in.hex");
    EXPECT_EQ(capture_stderr([] { message(1037, "x"); }), "symvert|in.hex||1037|bad x|q%|\n");
    EXPECT_EQ(capture_stderr([] { message(101); }), "W:101:careful\n");
    EXPECT_EQ(capture_stderr([] { message(102); }), "M:fyi\n");
    unsetenv("NVC_ERR_FORMAT");
    unsetenv("NVC_WARN_FORMAT");
    unsetenv("NVC_MSG_FORMAT");
}

TEST_F(Messages, WarningsCountAsErrorsOnlyWhenAsked) {
    use_file("110 1 w\n");
    capture_stderr([] { message(110); });
    EXPECT_FALSE(errors_reported());
    set_warnings_are_errors();
    EXPECT_TRUE(errors_reported());
}

TEST_F(Messages, OverlongTextIsCutNotOverrun) {
    use_file("1037 E %s\n");
    std::string huge(5000, 'y');
    std::string out = capture_stderr([&] { message(1037, huge.c_str()); });
    EXPECT_EQ(out, "(1037) " + std::string(511 - 7, 'y') + "\n");
    std::string line = capture_stderr([&] { message_line("%s", huge.c_str()); });
    EXPECT_EQ(line.size(), 2047u);
}

// The conversions of a text, as a string of conversion letters.
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
    std::map<unsigned, std::string> english;
    for (const char* language : {"en", "de", "fr"}) {
        std::string path = std::string(SYMVERT_SOURCE_DIR) + "/dat/" + language + "_msgs.txt";
        FILE* probe = fopen(path.c_str(), "r");
        if (!probe) continue;
        fclose(probe);
        reset_without_messages();
        std::string out = capture_stderr([&] { EXPECT_TRUE(load_message_file(path.c_str())); });
        EXPECT_EQ(out, "") << language;
        std::map<unsigned, std::string> these;
        for (const auto& entry : message_state.primary) {
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
    reset_run_state();
}

} // namespace
