// The line reader and the hexadecimal field reader of the text image formats (their
// writers' hex text is checked by the hex cases).
#include <gtest/gtest.h>

#include <cstdio>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "common/textio.h"
#include "formats/hexfields.h"

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
        LineReader reader(file, limit);
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

// The digit pairs of 40 bytes, with the pair at `bad` (if any) replaced.
std::string pairs(const std::vector<uint8_t>& bytes, size_t bad, const char* replacement) {
    std::string text;
    char pair[3];
    for (size_t k = 0; k < bytes.size(); ++k) {
        snprintf(pair, sizeof pair, k % 3 ? "%02X" : "%02x", bytes[k]);
        text += k == bad ? replacement : pair;
    }
    return text;
}

TEST(HexField, AgreesWithHexByteForEveryKindOfPair) {
    std::mt19937 random(7);
    std::vector<uint8_t> bytes(40);
    const char* const replacements[] = {"G0",
                                        "0g",
                                        "\x80"
                                        "0",
                                        "0\xff",
                                        "/0",
                                        ":0",
                                        "@A",
                                        "`a",
                                        " 1",
                                        "0\n"};
    for (int round = 0; round < 400; ++round) {
        for (uint8_t& b : bytes)
            b = static_cast<uint8_t>(random());
        size_t bad = round % 3 == 0 ? bytes.size() : random() % bytes.size();
        std::string text = pairs(bytes, bad, replacements[random() % std::size(replacements)]);
        unsigned count = 1 + random() % 40;
        uint8_t out[40];
        unsigned sum = hex_field(text.c_str(), count, out);
        unsigned want_sum = 0;
        for (unsigned k = 0; k < count; ++k) {
            unsigned value = hex_byte(text.c_str() + 2 * k);
            want_sum += value;
            ASSERT_EQ(out[k], static_cast<uint8_t>(value)) << round << " " << k;
        }
        ASSERT_EQ(sum, want_sum) << round;
    }
}

} // namespace
