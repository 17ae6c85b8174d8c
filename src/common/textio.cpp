#include "common/textio.h"

#include <cstring>

#include "common/alert.h"
#include "common/options.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {
constexpr size_t CHUNK_SIZE = 1 << 16;
constexpr size_t OUTPUT_SIZE = 1 << 16;
} // namespace

LineReader::LineReader(MessageState& messages, FILE* in, size_t limit, const char* kind,
                       uint64_t max_bytes)
    : messages_(messages), in_(in), limit_(limit < 511 ? limit : 511), kind_(kind),
      max_bytes_(max_bytes), chunk_(CHUNK_SIZE + SLACK) {}

bool LineReader::refill() {
    if (at_end_) return false;
    chunk_end_ = fread(chunk_.data(), 1, CHUNK_SIZE, in_);
    chunk_pos_ = 0;
    total_ += chunk_end_;
    if (total_ > max_bytes_) {
        message(messages_, 416, messages_.current_input.c_str(), std::to_string(max_bytes_).c_str(),
                kind_ ? kind_ : "text");
        chunk_end_ = 0;
    }
    if (chunk_end_ == 0) at_end_ = true;
    return chunk_end_ != 0;
}

void LineReader::restore_after_line() {
    if (saved_at_) memcpy(saved_at_, saved_, PADDING);
    saved_at_ = nullptr;
}

bool LineReader::next() {
    restore_after_line();
    size_t available = chunk_end_ - chunk_pos_;
    if (available > limit_) available = limit_;
    char* start = chunk_.data() + chunk_pos_;
    const void* newline = available ? memchr(start, '\n', available) : nullptr;
    // A whole line inside the block: ended by its newline, or cut at the limit.
    size_t take = newline ? static_cast<size_t>(static_cast<const char*>(newline) - start) + 1
                  : available == limit_ ? limit_
                                        : 0;
    if (take == 0) return next_straddling();
    saved_at_ = start + take;
    memcpy(saved_, saved_at_, PADDING);
    memset(saved_at_, 0, PADDING);
    text_ = start;
    length_ = take;
    chunk_pos_ += take;
    ++number_;
    return true;
}

// A line that runs to the end of the block is gathered into the line buffer.
bool LineReader::next_straddling() {
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
        memcpy(line_ + length, start, take);
        length += take;
        chunk_pos_ += take;
        if (newline) break;
    }
    if (length == 0) return false;
    memset(line_ + length, 0, PADDING);
    text_ = line_;
    length_ = length;
    ++number_;
    return true;
}

size_t LineReader::content_length() const {
    size_t n = length_;
    if (n > 0 && text_[n - 1] == '\n') --n;
    if (n > 0 && text_[n - 1] == '\r') --n;
    return n;
}

TextOutput::TextOutput(MessageState& messages, FILE* out, const char* name)
    : messages_(messages), out_(out), name_(name), buffer_(OUTPUT_SIZE) {}

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
        if (!failed_) message(messages_, 413, name_);
        failed_ = true;
    }
    used_ = 0;
}

char* hex_text(char* out, const uint8_t* bytes, unsigned count, unsigned* sum) {
    unsigned k = 0;
#if defined(__SSE2__)
    for (; k + 16 <= count; k += 16) {
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + k));
        const __m128i low_nibble = _mm_set1_epi8(0x0F);
        __m128i high = _mm_and_si128(_mm_srli_epi16(b, 4), low_nibble);
        __m128i low = _mm_and_si128(b, low_nibble);
        __m128i nibbles[2] = {_mm_unpacklo_epi8(high, low), _mm_unpackhi_epi8(high, low)};
        for (int half = 0; half < 2; ++half) {
            // '0' + n, and 7 more from 10 on to reach 'A'.
            __m128i letters =
                _mm_and_si128(_mm_cmpgt_epi8(nibbles[half], _mm_set1_epi8(9)), _mm_set1_epi8(7));
            __m128i text = _mm_add_epi8(_mm_add_epi8(nibbles[half], _mm_set1_epi8('0')), letters);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32 * (k / 16) + 16 * half), text);
        }
        __m128i sums = _mm_sad_epu8(b, _mm_setzero_si128());
        *sum += static_cast<unsigned>(_mm_cvtsi128_si32(sums) + _mm_extract_epi16(sums, 4));
    }
#endif
    out += 2 * k;
    for (; k < count; ++k) {
        out = hex_pair(out, bytes[k]);
        *sum += bytes[k];
    }
    return out;
}
