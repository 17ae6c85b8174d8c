// The command line: what the driver's cases cannot see (the option values themselves,
// output names in other folders, every key abbreviation).
#include "common/options.h"
#include "driver/formats.h"
#include "driver/options.h"
#include "test_support.h"

namespace {

using Words = std::vector<std::string>;

class CommandLineTest : public testing::Test {
  protected:
    ::Run run;
    void SetUp() override { start_without_messages(run); }

    std::string parse(const Words& words) {
        return capture_stderr([&] { parse_command_line(run, words); });
    }
};

TEST_F(CommandLineTest, OptionValues) {
    parse({"-vv", "-V", "-c", "-Bx", "-fkm"}); // letters ignore what follows them
    EXPECT_EQ(run.options.verbose_level, 3);
    EXPECT_TRUE(run.options.identify_only);
    EXPECT_TRUE(run.options.big_endian);
    EXPECT_TRUE(run.options.fake_globals);
    EXPECT_FALSE(run.options.fake_redefinitions);
    parse({"-pPIC18F452,452,PIC18", "-p18F4550,x", "-p"});
    EXPECT_EQ(run.options.processor_name, "18F4550");
    EXPECT_EQ(run.options.processor_list, (Words{"x"}));
    parse({"-p" + std::string(200, 'P')});
    EXPECT_EQ(run.options.processor_name.size(), 127u);
    parse({"-w3!", "-e3"});
    EXPECT_EQ(run.messages.warning_threshold, 3);
    EXPECT_TRUE(run.messages.warnings_are_errors);
    EXPECT_TRUE(run.messages.template_mode);
    EXPECT_FALSE(run.options.strip_extensions);
    parse({"-w2", "-w-10", "-e3", "-e"}); // the value 3 of -e stays
    EXPECT_EQ(run.messages.warning_threshold, 2);
    EXPECT_TRUE(run.options.strip_extensions);
    EXPECT_TRUE(run.messages.template_mode);
    parse({"-w-9", "-e0", "-e"});
    EXPECT_EQ(run.messages.warning_threshold, -9);
    EXPECT_FALSE(run.messages.template_mode);
    start_without_messages(run);
    parse({"-w!3"});
    EXPECT_TRUE(run.messages.warnings_are_errors);
    EXPECT_EQ(run.messages.warning_threshold, 0);
    parse({"--EMAX=7", "--MsgDisable=12:off", "--pathspec=C:\\src,/home/src"});
    EXPECT_EQ(run.messages.error_limit, 7);
    ASSERT_GT(run.messages.disable.size(), 12u);
    EXPECT_EQ(run.messages.disable[12], 4);
    EXPECT_EQ(apply_pathspec(run.options, "C:\\src\\main.c"), "/home/src\\main.c");
    EXPECT_EQ(apply_pathspec(run.options, "other.c"), "other.c");
}

TEST(OutputNames, ExtensionRules) {
    ::Run run;
    const struct {
        const char* name;
        const char* written;
    } rows[] = {{"out", "out.hex"},
                {"out.bin", "out.bin"},
                {"dir.d/out", "dir.d/out.hex"},
                {"dir.d\\out", "dir.d\\out.hex"}};
    for (const auto& row : rows)
        EXPECT_EQ(output_file_name(run, {5, std::string(row.name)}, "", "a.obj", "hex"),
                  row.written);
    EXPECT_EQ(output_file_name(run, {7, std::nullopt}, "", "prog", "hex"), "prog.hex");
}

// An exact key wins over the longer keys it begins; a prefix of one key alone finds it.
// Ambiguous prefixes are the cases' (driver/cases/key-*).
TEST(FormatKeys, ExactAndPrefixMatches) {
    ::Run run;
    const struct {
        const char* key;
        const char* found;
    } rows[] = {{"cod", "cod"}, {"coff", "coff"}, {"omf", "omf51"}, {"s", "s19"}, {"ub", "ubrof"}};
    start_without_messages(run);
    for (const auto& row : rows) {
        unsigned got = 0;
        std::string err = capture_stderr([&] { got = find_format_key(run, row.key); });
        EXPECT_STREQ(format_at(got).key, row.found) << row.key;
        EXPECT_EQ(err, "") << row.key;
    }
}

} // namespace
