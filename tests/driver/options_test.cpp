// The command line: options, limits, output naming.
#include "common/options.h"
#include "driver/formats.h"
#include "driver/options.h"
#include "test_support.h"

namespace {

using Words = std::vector<std::string>;

class CommandLineTest : public testing::Test {
  protected:
    void SetUp() override { reset_without_messages(); }
    void TearDown() override { reset_run_state(); }

    RunTables parse(const Words& words, std::string* err = nullptr, int* status = nullptr) {
        RunTables tables;
        std::string out = capture_stderr([&] { tables = parse_command_line(words); }, status);
        if (err) *err = out;
        return tables;
    }
};

TEST_F(CommandLineTest, InputsThenOutputsAndTheirNames) {
    RunTables t = parse({"a.sym", "b.hex", "-ocod", "-o", "ihex", "out", "-Ocod", "x.bin"});
    EXPECT_EQ(t.inputs, (Words{"a.sym", "b.hex"}));
    ASSERT_EQ(t.outputs.size(), 2u);
    EXPECT_EQ(t.outputs[0].format, 7u);
    EXPECT_FALSE(t.outputs[0].name.has_value());
    EXPECT_EQ(t.outputs[1].format, 5u);
    // The repeated -ocod added nothing, so x.bin replaces the Intel HEX name.
    EXPECT_EQ(*t.outputs[1].name, "x.bin");
}

TEST_F(CommandLineTest, OutputKeyTakesTheNextWordOnlyWhenItIsNoOption) {
    std::string err;
    int status = 0;
    parse({"-o", "-v"}, &err, &status);
    EXPECT_EQ(status, 1); // empty key
    EXPECT_NE(err.find("(602)"), std::string::npos);
}

TEST_F(CommandLineTest, LettersIgnoreTrailingCharacters) {
    parse({"-vv", "-V", "-c", "-Bx", "-fkm"});
    EXPECT_EQ(options.verbose_level, 3);
    EXPECT_TRUE(options.identify_only);
    EXPECT_TRUE(options.big_endian);
    EXPECT_TRUE(options.fake_globals);
    EXPECT_FALSE(options.fake_redefinitions);
}

TEST_F(CommandLineTest, ProcessorNameAndList) {
    parse({"-pPIC18F452,452,PIC18", "-p18F4550,x"});
    EXPECT_EQ(options.processor_name, "18F4550");
    EXPECT_EQ(options.processor_list, (Words{"x"}));
    std::string err;
    parse({"-p"}, &err);
    EXPECT_NE(err.find("(609)"), std::string::npos);
    EXPECT_EQ(options.processor_name, "18F4550");
    parse({"-p" + std::string(200, 'P')});
    EXPECT_EQ(options.processor_name.size(), 127u);
}

TEST_F(CommandLineTest, ProgramClassesAccumulateUpTo63) {
    std::string list;
    for (int k = 0; k < 62; ++k)
        list += (k ? "," : "") + std::to_string(k);
    std::string err;
    parse({"-n" + list}, &err);
    EXPECT_EQ(err, "");
    EXPECT_EQ(options.program_classes.size(), 62u);
    parse({"-nA,B"}, &err);
    EXPECT_EQ(options.program_classes.size(), 63u);
    EXPECT_EQ(options.program_classes.back(), "A");
    EXPECT_EQ(err,
              "(0) Maximum number of program classes reached. List may be truncated. (warning)\n");
}

TEST_F(CommandLineTest, SixtyThreeClassesInOneOptionStillWarn) {
    std::string list;
    for (int k = 0; k < 63; ++k)
        list += (k ? "," : "") + std::to_string(k);
    std::string err;
    parse({"-n" + list}, &err);
    EXPECT_EQ(options.program_classes.size(), 63u);
    EXPECT_NE(err.find("Maximum number of program classes"), std::string::npos);
    parse({"-n"}, &err);
    EXPECT_NE(err.find("(610)"), std::string::npos);
}

TEST_F(CommandLineTest, WarningThresholdForms) {
    parse({"-w3!"});
    EXPECT_EQ(message_state.warning_threshold, 3);
    EXPECT_TRUE(message_state.warnings_are_errors);
    reset_without_messages();
    std::string err;
    parse({"-w!3"}, &err);
    EXPECT_NE(err.find("(393)"), std::string::npos);
    EXPECT_TRUE(message_state.warnings_are_errors);
    EXPECT_EQ(message_state.warning_threshold, 0);
    parse({"-w2", "-w-10"}, &err);
    EXPECT_NE(err.find("(523)"), std::string::npos);
    EXPECT_EQ(message_state.warning_threshold, 2);
    parse({"-w-9"});
    EXPECT_EQ(message_state.warning_threshold, -9);
}

TEST_F(CommandLineTest, TemplateForms) {
    parse({"-e3"});
    EXPECT_TRUE(message_state.template_mode);
    EXPECT_FALSE(options.strip_extensions);
    parse({"-e3", "-e"});
    EXPECT_TRUE(options.strip_extensions);
    EXPECT_TRUE(message_state.template_mode); // the value 3 stays
    reset_without_messages();
    parse({"-e0", "-e"});
    EXPECT_FALSE(message_state.template_mode);
}

TEST_F(CommandLineTest, LongOptions) {
    parse({"--EMAX=7", "--foo", "--", "--MsgDisable=12:off", "--pathspec=C:\\src,/home/src"});
    EXPECT_EQ(message_state.error_limit, 7);
    ASSERT_GT(message_state.disable.size(), 12u);
    EXPECT_EQ(message_state.disable[12], 4);
    EXPECT_EQ(apply_pathspec("C:\\src\\main.c"), "/home/src\\main.c");
    EXPECT_EQ(apply_pathspec("other.c"), "other.c");
    std::string err;
    parse({"--pathspec=only"}, &err);
    EXPECT_NE(err.find("(608)"), std::string::npos);
}

TEST_F(CommandLineTest, MissingDescriptionFileIsReportedAndTheRunGoesOn) {
    std::string err;
    int status = 0;
    parse({"--edf=/nonexistent/x.txt", "a"}, &err, &status);
    EXPECT_EQ(status, -1);
    EXPECT_EQ(err, "Could not open error description file /nonexistent/x.txt\n\n");
}

TEST_F(CommandLineTest, TablesHoldAtMost127Entries) {
    Words words;
    for (int k = 0; k < 127; ++k)
        words.push_back("in" + std::to_string(k));
    int status = 0;
    RunTables t = parse(words, nullptr, &status);
    EXPECT_EQ(status, -1);
    EXPECT_EQ(t.inputs.size(), 127u);
    words.push_back("one-more");
    std::string err;
    parse(words, &err, &status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(err.find("(611)"), std::string::npos);
}

TEST_F(CommandLineTest, UnknownOptionPrintsTheUsage) {
    std::string err;
    int status = 0;
    parse({"-q"}, &err, &status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(err, std::string("Unrecognized option '-q'") + USAGE_TEXT);
    EXPECT_EQ(strlen(USAGE_TEXT), 571u);
}

TEST(OutputNames, ExtensionRulesAndTheChain) {
    OutputRequest named{5, std::string("out")};
    EXPECT_EQ(output_file_name(named, "", "a.obj", "hex"), "out.hex");
    named.name = "out.bin";
    EXPECT_EQ(output_file_name(named, "", "a.obj", "hex"), "out.bin");
    named.name = "dir.d/out";
    EXPECT_EQ(output_file_name(named, "", "a.obj", "hex"), "dir.d/out.hex");
    named.name = "dir.d\\out";
    EXPECT_EQ(output_file_name(named, "", "a.obj", "hex"), "dir.d\\out.hex");
    OutputRequest unnamed{7, std::nullopt};
    EXPECT_EQ(output_file_name(unnamed, "", "a.obj", "cod"), "a.cod");
    EXPECT_EQ(output_file_name(unnamed, "a.cod", "a.obj", "hex"), "a.hex");
    EXPECT_EQ(output_file_name(unnamed, "", "prog", "hex"), "prog.hex");
    EXPECT_EQ(output_file_name(unnamed, "", std::string(123, 'n'), "hex").size(), 127u);
    // One character more is refused rather than cut to another name.
    int status = 0;
    std::string err = capture_stderr(
        [&] { output_file_name(unnamed, "", std::string(124, 'n'), "hex"); }, &status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(err.find("(417)"), std::string::npos) << err;
}

} // namespace

namespace {

TEST(FormatKeys, ExactPrefixAndAmbiguousMatches) {
    reset_without_messages();
    unsigned got = 0;
    std::string err = capture_stderr([&] { got = find_format_key("c"); });
    EXPECT_EQ(got, 7u); // cod comes before coff
    EXPECT_EQ(err, "(603) An error, warning or message was generated, but no description is "
                   "available\n");
    err = capture_stderr([&] { got = find_format_key("i"); });
    EXPECT_EQ(got, 5u); // ihex, with icoff reported
    EXPECT_EQ(err.rfind("(603) ", 0), 0u);
    err = capture_stderr([&] {
        EXPECT_EQ(find_format_key("cod"), 7u);
        EXPECT_EQ(find_format_key("omf"), 4u);
        EXPECT_EQ(find_format_key("s"), 6u);
        EXPECT_EQ(find_format_key("coff"), 9u);
    });
    EXPECT_EQ(err, "");
    err = capture_stderr([&] { got = find_format_key("t"); });
    EXPECT_EQ(got, 14u); // tsk, with titxt reported
    EXPECT_EQ(err.rfind("(603) ", 0), 0u);
    int status = 0;
    capture_stderr([&] { find_format_key("hex"); }, &status);
    EXPECT_EQ(status, 1);
    capture_stderr([&] { find_format_key(""); }, &status);
    EXPECT_EQ(status, 1);
    EXPECT_STREQ(format_at(12).extension, "d43");
    reset_run_state();
}

} // namespace
