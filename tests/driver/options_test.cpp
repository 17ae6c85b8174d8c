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
    void SetUp() override { reset_without_messages(); }
    void TearDown() override { reset_run_state(); }

    std::string parse(const Words& words) {
        return capture_stderr([&] { parse_command_line(words); });
    }
};

TEST_F(CommandLineTest, OptionValues) {
    parse({"-vv", "-V", "-c", "-Bx", "-fkm"}); // letters ignore what follows them
    EXPECT_EQ(options.verbose_level, 3);
    EXPECT_TRUE(options.identify_only);
    EXPECT_TRUE(options.big_endian);
    EXPECT_TRUE(options.fake_globals);
    EXPECT_FALSE(options.fake_redefinitions);
    parse({"-pPIC18F452,452,PIC18", "-p18F4550,x", "-p"});
    EXPECT_EQ(options.processor_name, "18F4550");
    EXPECT_EQ(options.processor_list, (Words{"x"}));
    parse({"-p" + std::string(200, 'P')});
    EXPECT_EQ(options.processor_name.size(), 127u);
    parse({"-w3!", "-e3"});
    EXPECT_EQ(message_state.warning_threshold, 3);
    EXPECT_TRUE(message_state.warnings_are_errors);
    EXPECT_TRUE(message_state.template_mode);
    EXPECT_FALSE(options.strip_extensions);
    parse({"-w2", "-w-10", "-e3", "-e"}); // the value 3 of -e stays
    EXPECT_EQ(message_state.warning_threshold, 2);
    EXPECT_TRUE(options.strip_extensions);
    EXPECT_TRUE(message_state.template_mode);
    parse({"-w-9", "-e0", "-e"});
    EXPECT_EQ(message_state.warning_threshold, -9);
    EXPECT_FALSE(message_state.template_mode);
    reset_without_messages();
    parse({"-w!3"});
    EXPECT_TRUE(message_state.warnings_are_errors);
    EXPECT_EQ(message_state.warning_threshold, 0);
    parse({"--EMAX=7", "--MsgDisable=12:off", "--pathspec=C:\\src,/home/src"});
    EXPECT_EQ(message_state.error_limit, 7);
    ASSERT_GT(message_state.disable.size(), 12u);
    EXPECT_EQ(message_state.disable[12], 4);
    EXPECT_EQ(apply_pathspec("C:\\src\\main.c"), "/home/src\\main.c");
    EXPECT_EQ(apply_pathspec("other.c"), "other.c");
}

TEST(OutputNames, ExtensionRules) {
    const struct {
        const char* name;
        const char* written;
    } rows[] = {{"out", "out.hex"},
                {"out.bin", "out.bin"},
                {"dir.d/out", "dir.d/out.hex"},
                {"dir.d\\out", "dir.d\\out.hex"}};
    for (const auto& row : rows)
        EXPECT_EQ(output_file_name({5, std::string(row.name)}, "", "a.obj", "hex"), row.written);
    EXPECT_EQ(output_file_name({7, std::nullopt}, "", "prog", "hex"), "prog.hex");
}

// An exact key wins over the longer keys it begins; a prefix of one key alone finds it.
// Ambiguous prefixes are the cases' (driver/cases/key-*).
TEST(FormatKeys, ExactAndPrefixMatches) {
    const struct {
        const char* key;
        const char* found;
    } rows[] = {{"cod", "cod"}, {"coff", "coff"}, {"omf", "omf51"}, {"s", "s19"}, {"ub", "ubrof"}};
    reset_without_messages();
    for (const auto& row : rows) {
        unsigned got = 0;
        std::string err = capture_stderr([&] { got = find_format_key(row.key); });
        EXPECT_STREQ(format_at(got).key, row.found) << row.key;
        EXPECT_EQ(err, "") << row.key;
    }
    reset_run_state();
}

} // namespace
