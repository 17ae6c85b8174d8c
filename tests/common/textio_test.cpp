// The line reader of the text formats.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "common/textio.h"

namespace {

// What reading with a buffer of limit + 1 characters gives: pieces of at most `limit`
// characters, each ending at a newline when one comes first.
std::vector<std::string> expected_lines(const std::string& text, size_t limit) {
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        size_t length = end == std::string::npos ? text.size() - at : end - at + 1;
        if (length > limit) length = limit;
        lines.push_back(text.substr(at, length));
        at += length;
    }
    return lines;
}

TEST(LineReader, PiecesPaddingAndBlockBoundaries) {
    MessageState messages;
    std::mt19937 random(99);
    std::string text;
    // Well over one read block, with lines of every length around the limit, empty
    // lines, carriage returns and bytes of every value.
    while (text.size() < 300000) {
        size_t length = random() % 8 == 0 ? random() % 1200 : random() % 60;
        for (size_t k = 0; k < length; ++k) {
            char c = static_cast<char>(random() % 256);
            text += c == '\n' ? 'x' : c;
        }
        text += random() % 5 == 0 ? "\r\n" : "\n";
    }
    text += "last line without a newline";
    for (size_t limit : {511, 127}) {
        FILE* file = tmpfile();
        fwrite(text.data(), 1, text.size(), file);
        rewind(file);
        LineReader reader(messages, file, limit);
        std::vector<std::string> want = expected_lines(text, limit);
        size_t count = 0;
        while (reader.next()) {
            ASSERT_LT(count, want.size());
            ASSERT_EQ(std::string(reader.text(), reader.length()), want[count]) << count;
            for (size_t k = 0; k < LineReader::PADDING; ++k)
                ASSERT_EQ(reader.text()[reader.length() + k], '\0') << count;
            ++count;
            EXPECT_EQ(reader.number(), count);
            // Its content drops a line end: a newline, then a carriage return.
            std::string piece = want[count - 1];
            size_t content = piece.size() - (piece.back() == '\n');
            content -= content > 0 && piece[content - 1] == '\r';
            ASSERT_EQ(reader.content_length(), content) << count;
        }
        EXPECT_EQ(count, want.size());
        fclose(file);
    }
}

} // namespace
