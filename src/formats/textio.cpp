#include "formats/textio.h"

#include <cstring>

#include "common/alert.h"

namespace {
constexpr size_t CHUNK_SIZE = 1 << 16;
constexpr size_t OUTPUT_SIZE = 1 << 16;
} // namespace

LineReader::LineReader(FILE* in, size_t limit)
    : in_(in), limit_(limit < 511 ? limit : 511), chunk_(CHUNK_SIZE + SLACK) {}

bool LineReader::refill() {
    if (at_end_) return false;
    chunk_end_ = fread(chunk_.data(), 1, CHUNK_SIZE, in_);
    chunk_pos_ = 0;
    if (chunk_end_ == 0) at_end_ = true;
    return chunk_end_ != 0;
}

bool LineReader::next() {
    size_t length = 0;
    while (length < limit_) {
        if (chunk_pos_ == chunk_end_ && !refill()) break;
        const char* start = chunk_.data() + chunk_pos_;
        size_t available = chunk_end_ - chunk_pos_;
        size_t wanted = limit_ - length;
        if (available > wanted) available = wanted;
        const void* newline = memchr(start, '\n', available);
        size_t take = newline ? static_cast<size_t>(static_cast<const char*>(newline) - start) + 1
                              : available;
        // Most record lines are short: a copy of fixed size is a few register moves. The
        // chunk has SLACK bytes beyond its end and the line buffer room for them.
        if (take <= SLACK && length + SLACK <= sizeof line_)
            memcpy(line_ + length, start, SLACK);
        else
            memcpy(line_ + length, start, take);
        length += take;
        chunk_pos_ += take;
        if (newline) break;
    }
    if (length == 0) return false;
    memset(line_ + length, 0, PADDING);
    length_ = length;
    ++number_;
    return true;
}

size_t LineReader::content_length() const {
    size_t n = length_;
    if (n > 0 && line_[n - 1] == '\n') --n;
    if (n > 0 && line_[n - 1] == '\r') --n;
    return n;
}

TextOutput::TextOutput(FILE* out, const char* name)
    : out_(out), name_(name), buffer_(OUTPUT_SIZE) {}

void TextOutput::put_long(const char* text, size_t length) {
    while (length > 0) {
        if (used_ == buffer_.size()) flush();
        size_t n = buffer_.size() - used_;
        if (n > length) n = length;
        memcpy(buffer_.data() + used_, text, n);
        used_ += n;
        text += n;
        length -= n;
    }
}

void TextOutput::put_hex(uint32_t value, int digits) {
    if (used_ + 8 > buffer_.size()) flush();
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
        buffer_[used_++] = DIGITS[(value >> shift) & 0xF];
}

void TextOutput::put_hex_min(uint32_t value, int min_digits) {
    int digits = 1;
    while (digits < 8 && (value >> (digits * 4)) != 0)
        ++digits;
    put_hex(value, digits > min_digits ? digits : min_digits);
}

void TextOutput::flush() {
    if (used_ == 0) return;
    if (fwrite(buffer_.data(), 1, used_, out_) != used_ || fflush(out_) != 0) {
        if (!failed_) message(413, name_);
        failed_ = true;
    }
    used_ = 0;
}
