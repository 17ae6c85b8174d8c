// Line input and buffered output for the text image formats.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "common/alert.h"

// The longest text image read: a full 4 GiB address space would take more, but no
// firmware image comes near it.
constexpr uint64_t TEXT_IMAGE_LIMIT = uint64_t(1) << 30;

// Reads a stream line by line the way a fixed line buffer does: a line is at most
// `limit` characters, its newline included; a longer one is delivered in pieces of
// `limit` characters, each counting as a line of its own. The text is followed by at
// least PADDING zero bytes, so fixed field positions read past a short line find the
// terminator, never stale or foreign bytes.
//
// A line that lies wholly inside the block read from the stream is handed out where it
// lies: the PADDING bytes after it are saved, zeroed, and put back before the next line
// is looked for. Only a line that straddles two blocks is copied.
class LineReader {
  public:
    static constexpr size_t PADDING = 16;

    // A stream longer than max_bytes is refused with message 416 naming the kind of
    // file, and its reading ends there: no real file of its format is that long, but a
    // device that never ends would be read forever.
    LineReader(MessageState& messages, FILE* in, size_t limit, const char* kind = nullptr,
               uint64_t max_bytes = TEXT_IMAGE_LIMIT);

    // The next line, or false at the end of the stream.
    bool next();

    const char* text() const { return text_; }
    size_t length() const { return length_; }
    // Length without the line end (a newline, with a carriage return before it).
    size_t content_length() const;
    unsigned number() const { return number_; }

  private:
    MessageState& messages_;
    static constexpr size_t SLACK = 64;
    bool refill();
    bool next_straddling();
    void restore_after_line();

    FILE* in_;
    size_t limit_;
    const char* kind_;
    uint64_t max_bytes_;
    uint64_t total_ = 0;
    std::vector<char> chunk_; // the block read, then room for the padding
    size_t chunk_pos_ = 0;
    size_t chunk_end_ = 0;
    bool at_end_ = false;
    char* saved_at_ = nullptr; // where the padding of the last line stands in the block
    char saved_[PADDING] = {};
    char line_[512 + SLACK] = {};
    const char* text_ = line_;
    size_t length_ = 0;
    unsigned number_ = 0;
};

// Writes the two upper-case hexadecimal digits of a byte at out; answers the position
// after them.
namespace textio_detail {
struct PairTexts {
    char text[512];
    constexpr PairTexts() : text() {
        const char digits[] = "0123456789ABCDEF";
        for (int value = 0; value < 256; ++value) {
            text[2 * value] = digits[value >> 4];
            text[2 * value + 1] = digits[value & 0xF];
        }
    }
};
inline constexpr PairTexts PAIR_TEXTS;
} // namespace textio_detail

inline char* hex_pair(char* out, unsigned value) {
    memcpy(out, textio_detail::PAIR_TEXTS.text + 2 * (value & 0xFF), 2);
    return out + 2;
}

// Writes the count bytes as pairs of upper-case hexadecimal digits at out, adds the
// bytes to *sum and answers the position after the digits.
char* hex_text(char* out, const uint8_t* bytes, unsigned count, unsigned* sum);

// Text written through a large buffer; the writer calls flush() at its end. The first failed write
// reports message 413 with the output's name; later ones say nothing more, since the stream stays
// broken.
class TextOutput {
  public:
    TextOutput(MessageState& messages, FILE* out, const char* name);

    void put(char c) {
        if (used_ == buffer_.size()) flush();
        buffer_[used_++] = c;
    }
    void put(const char* text, size_t length) {
        if (used_ + length <= buffer_.size()) {
            memcpy(buffer_.data() + used_, text, length);
            used_ += length;
        } else {
            put_long(text, length);
        }
    }
    // Two upper-case hexadecimal digits.
    void put_hex2(unsigned value) {
        if (used_ + 2 > buffer_.size()) flush();
        buffer_[used_++] = DIGITS[(value >> 4) & 0xF];
        buffer_[used_++] = DIGITS[value & 0xF];
    }
    // `digits` upper-case hexadecimal digits of value, most significant first.
    void put_hex(uint32_t value, int digits);
    // At least min_digits digits, more when the value needs them (like "%04X").
    void put_hex_min(uint32_t value, int min_digits);
    // Room for at most `length` characters written in place; commit() says where they end.
    char* reserve(size_t length) {
        if (used_ + length > buffer_.size()) flush();
        return buffer_.data() + used_;
    }
    void commit(const char* end) { used_ = static_cast<size_t>(end - buffer_.data()); }
    // Writes what is buffered; call it at the end of the output.
    void flush();
    bool failed() const { return failed_; }

  private:
    MessageState& messages_;
    void put_long(const char* text, size_t length);

    static constexpr char DIGITS[] = "0123456789ABCDEF";
    FILE* out_;
    const char* name_;
    std::vector<char> buffer_;
    size_t used_ = 0;
    bool failed_ = false;
};
