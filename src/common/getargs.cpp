#include "common/getargs.h"

#include <cstring>

#include "common/alert.h"
#include "common/osdep.h"

namespace {

const size_t LINE_BUFFER = 8192; // a line holds at most 8191 characters
const size_t WORD_LIMIT = 255;

// Character supply over the lines of the stream, with "\" at a line end continuing the
// logical line.
class WordReader {
  public:
    WordReader(MessageState& messages, FILE* in, const char* program_name, bool interactive,
               const char* source)
        : messages_(messages), in_(in), program_name_(program_name), interactive_(interactive),
          source_(source) {}

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
    MessageState& messages_;
    bool at_line_end(size_t k) const {
        return k >= line_.size() || line_[k] == '\n' || line_[k] == '\r';
    }

    bool read_line() {
        if (interactive_) {
            fprintf(stderr, "%s> ", program_name_);
            fflush(stderr);
        }
        // As fgets reads a line into the buffer, counting every byte taken (a line's text
        // ends at a zero byte, as the buffer's would).
        char buffer[LINE_BUFFER];
        size_t taken = 0;
        for (int c; taken < LINE_BUFFER - 1 && (c = getc(in_)) != EOF;) {
            buffer[taken++] = static_cast<char>(c);
            if (c == '\n') break;
        }
        if (taken == 0) {
            eof_ = true;
            return false;
        }
        total_ += taken;
        if (total_ > COMMAND_TEXT_LIMIT) {
            message(messages_, 416, source_, std::to_string(COMMAND_TEXT_LIMIT).c_str(), "command");
            end_run(1);
        }
        line_.assign(buffer, strnlen(buffer, taken));
        pos_ = 0;
        if (line_.size() >= LINE_BUFFER - 1) message(messages_, 337);
        return true;
    }

    FILE* in_;
    const char* program_name_;
    bool interactive_;
    const char* source_;
    uint64_t total_ = 0;
    std::string line_ = "\\"; // a lone continuation: the first request reads a line
    size_t pos_ = 0;
    bool eof_ = false;
};

bool is_blank(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

} // namespace

std::vector<std::string> getargs(MessageState& messages, FILE* in, const char* program_name,
                                 bool interactive, const char* source) {
    WordReader reader(messages, in, program_name, interactive, source);
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
                message(messages, 917, 0);
            }
        }
        words.push_back(std::move(word));
    }
    return words;
}

std::vector<std::string> getargs(MessageState& messages, const char* program_name,
                                 const char* source) {
    return getargs(messages, stdin, program_name, stdin_is_terminal(), source);
}
