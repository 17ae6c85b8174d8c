// Paths, the installation directory, time stamps.
#include <cstdlib>

#include "common/osdep.h"
#include "test_support.h"

namespace {

std::string str(const std::unique_ptr<char[]>& p) {
    return p ? p.get() : "(none)";
}

TEST(Paths, JoinPutsExactlyOneSeparator) {
    EXPECT_EQ(str(path_join("dir/", "/name")), "dir/name");
    EXPECT_EQ(str(path_join("dir\\", "name")), "dir/name");
    EXPECT_EQ(str(path_join("dir", "name")), "dir/name");
    EXPECT_EQ(str(path_join("", "name")), "(none)");
}

TEST(Paths, SplittingTakesBackslashThenSlashThenColon) {
    EXPECT_STREQ(base_name("a\\b/c"), "b/c");
    EXPECT_STREQ(base_name("a/b/c"), "c");
    EXPECT_STREQ(base_name("c:file"), "file");
    EXPECT_STREQ(base_name("plain"), "plain");
    EXPECT_EQ(str(dir_name("x/y\\z")), "x/y");
    EXPECT_EQ(str(dir_name("/usr/bin/symvert")), "/usr/bin");
    EXPECT_EQ(str(dir_name("plain")), "(none)");
    EXPECT_TRUE(is_absolute_path("c:\\x"));
    EXPECT_TRUE(is_absolute_path("\\\\server\\x"));
    EXPECT_TRUE(is_absolute_path("/etc/x"));
    EXPECT_FALSE(is_absolute_path("dat/x"));
}

TEST(Install, DirectoryIsTwoLevelsAboveTheProgram) {
    // The tests run from the build tree's bin directory, like the program.
    std::string program = str(program_path());
    std::string top = program.substr(0, program.rfind('/'));
    top = top.substr(0, top.rfind('/'));
    EXPECT_EQ(str(install_dir(0)), top);
    EXPECT_EQ(str(install_file(5, "en_msgs.txt")), top + "/dat/en_msgs.txt");
    EXPECT_EQ(str(install_file(5, "c:en_msgs.txt")), "c:en_msgs.txt");
    EXPECT_EQ(str(install_dir(7)), top + "/resources");
}

TEST(Time, SourceDateEpochFixesNow) {
    setenv("SOURCE_DATE_EPOCH", "1234567890", 1);
    EXPECT_EQ(now_time(), 1234567890);
    setenv("SOURCE_DATE_EPOCH", "junk", 1);
    EXPECT_GT(now_time(), 1600000000);
    unsetenv("SOURCE_DATE_EPOCH");
}

} // namespace
