// The case-insensitive text search that processor names are matched with.
#include <gtest/gtest.h>

#include "model/encdec.h"

namespace {

TEST(TextSearch, FindIgnoresCase) {
    const struct {
        const char *text, *pattern;
        long at; // -1: not found
    } rows[] = {
        {"xPIC18F452", "pic18", 1}, {"xPIC18F452", "f452", 6}, {"xPIC18F452", "pic16", -1},
        {"xPIC18F452", "", 0},      {"", "pic", -1},           {"", "", -1},
        {"ppPic", "PIC", 2}, // a partial match does not hide a later full one inside it
        {"PI", "pic", -1},   // the pattern may not run past the end of the text
        {"Dspic", "DSP", 0}, // the first position is compared whatever its character
        {"Dspic", "dsp", 0},
    };
    for (const auto& row : rows) {
        const char* found = find_text_nocase(row.text, row.pattern);
        EXPECT_EQ(found ? found - row.text : -1, row.at) << row.text << " " << row.pattern;
    }
}

} // namespace
