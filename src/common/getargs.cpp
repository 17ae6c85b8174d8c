#include "common/getargs.h"

#include <cstring>
#include <unistd.h>

#include "common/alert.h"

namespace {

const size_t LINE_BUFFER = 8192; // a line holds at most 8191 characters
const size_t WORD_LIMIT = 255;

// Character supply over the lines of the stream, with "\" at a line end continuing the
// logical line.
class WordReader {
  public:
    WordReader(FILE* in, const char* program_name, bool interactive)
        : in_(in), program_name_(program_name), interactive_(interactive) {}

    int peek() {
        for (;;) {
            if (eof_) return EOF;
            if (pos_ < line_.size() && line_[pos_] == '\\' && at_line_end(pos_ + 1)) {
                if (!read_line()) return EOF;
                continue;
            }
            if (pos_ >= line_.size()) {
                if (interactive_ || !read_line()) return EOF;
                continue;
            }
            return static_cast<unsigned char>(line_[pos_]);
        }
    }

    void advance() { ++pos_; }

  private:
    bool at_line_end(size_t k) const {
        return k >= line_.size() || line_[k] == '\n' || line_[k] == '\r';
    }

    bool read_line() {
        if (interactive_) {
            fprintf(stderr, "%s> ", program_name_);
            fflush(stderr);
        }
        char buffer[LINE_BUFFER];
        if (!fgets(buffer, sizeof buffer, in_)) {
            eof_ = true;
            return false;
        }
        line_ = buffer;
        pos_ = 0;
        if (line_.size() >= LINE_BUFFER - 1) message(337);
        return true;
    }

    FILE* in_;
    const char* program_name_;
    bool interactive_;
    std::string line_ = "\\"; // a lone continuation: the first request reads a line
    size_t pos_ = 0;
    bool eof_ = false;
};

bool is_blank(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

} // namespace

std::vector<std::string> getargs(FILE* in, const char* program_name, bool interactive) {
    WordReader reader(in, program_name, interactive);
    std::vector<std::string> words{""};
    for (;;) {
        while (is_blank(reader.peek()))
            reader.advance();
        if (reader.peek() == EOF) break;
        std::string word;
        int quote = 0;
        bool reported = false;
        for (int c = reader.peek(); c != EOF; c = reader.peek()) {
            reader.advance();
            if (quote == 0 && is_blank(c)) break;
            if (quote != 0 && c == quote) {
                quote = 0;
                continue;
            }
            if (quote == 0 && (c == '\'' || c == '"')) {
                quote = c;
                continue;
            }
            if (word.size() < WORD_LIMIT) word += static_cast<char>(c);
            if (word.size() == WORD_LIMIT && !reported) {
                reported = true;
                message(917, 0);
            }
        }
        words.push_back(std::move(word));
    }
    return words;
}

std::vector<std::string> getargs(const char* program_name) {
    return getargs(stdin, program_name, isatty(fileno(stdin)) != 0);
}
