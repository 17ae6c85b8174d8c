#include "common/binio.h"

#include <algorithm>
#include <sys/types.h>

#include "common/alert.h"
#include "common/options.h"

ByteOrder run_byte_order(const Options& options) {
    return options.big_endian ? ByteOrder::big : ByteOrder::little;
}

// ---- Reading ----

ByteReader::ByteReader(FILE* file, ByteOrder order) : file_(file), order_(order) {
    if (file_ && fseeko(file_, 0, SEEK_END) == 0) {
        off_t end = ftello(file_);
        if (end > 0) size_ = static_cast<uint64_t>(end);
    }
}

ByteReader::ByteReader(const uint8_t* data, size_t size, ByteOrder order)
    : data_(data), size_(data ? size : 0), order_(order) {}

bool ByteReader::read_at(uint64_t offset, void* out, size_t count) {
    if (!holds(offset, count)) return false;
    if (count == 0) return true;
    if (data_) {
        memcpy(out, data_ + offset, count);
        return true;
    }
    if (file_position_ != offset && fseeko(file_, static_cast<off_t>(offset), SEEK_SET) != 0) {
        file_position_ = UINT64_MAX;
        return false;
    }
    size_t got = fread(out, 1, count, file_);
    file_position_ = offset + got;
    return got == count;
}

bool ByteReader::read_at(uint64_t offset, uint64_t count, std::vector<uint8_t>* out) {
    if (!holds(offset, count)) return false;
    out->assign(static_cast<size_t>(count), 0);
    return read_at(offset, out->data(), out->size());
}

bool ByteReader::bytes(void* out, size_t count) {
    if (!ok_ || !read_at(position_, out, count)) {
        ok_ = false;
        return false;
    }
    position_ += count;
    return true;
}

void ByteReader::skip(uint64_t count) {
    if (!ok_ || !holds(position_, count))
        ok_ = false;
    else
        position_ += count;
}

uint64_t ByteReader::uint(size_t width, ByteOrder order) {
    uint8_t raw[8];
    if (width > sizeof raw || !bytes(raw, width)) return 0;
    return load_uint(raw, width, order);
}

uint64_t ByteReader::uleb128() {
    uint64_t value = 0;
    for (unsigned shift = 0;; shift += 7) {
        uint8_t byte;
        if (!bytes(&byte, 1)) return 0;
        uint64_t payload = byte & 0x7F;
        // Past bit 63 a value may carry only zero bits (a padded encoding).
        if (shift >= 64 ? payload != 0 : shift > 57 && (payload >> (64 - shift)) != 0) {
            ok_ = false;
            return 0;
        }
        if (shift < 64) value |= payload << shift;
        if (!(byte & 0x80)) return value;
    }
}

int64_t ByteReader::sleb128() {
    uint64_t value = 0;
    for (unsigned shift = 0;; shift += 7) {
        uint8_t byte;
        if (!bytes(&byte, 1)) return 0;
        uint64_t payload = byte & 0x7F;
        if (shift >= 64) {
            // Past bit 63 only the sign may be repeated.
            bool negative = static_cast<int64_t>(value) < 0;
            if (payload != (negative ? 0x7Fu : 0u)) {
                ok_ = false;
                return 0;
            }
        } else if (shift > 57) {
            // The bits that do not fit must repeat bit 63 of the value.
            unsigned kept = 64 - shift;
            uint64_t extra = payload >> (kept - 1);
            uint64_t all = (uint64_t(1) << (8 - kept)) - 1;
            if (extra != 0 && extra != all) {
                ok_ = false;
                return 0;
            }
        }
        if (shift < 64) value |= payload << shift;
        if (!(byte & 0x80)) {
            if (shift + 7 < 64 && (byte & 0x40)) value |= ~uint64_t(0) << (shift + 7);
            return static_cast<int64_t>(value);
        }
    }
}

std::string ByteReader::cstring(size_t limit) {
    std::string name;
    uint8_t chunk[256];
    while (ok_) {
        size_t count = static_cast<size_t>(std::min<uint64_t>(sizeof chunk, remaining()));
        if (count == 0 || !read_at(position_, chunk, count)) break;
        const void* end = memchr(chunk, 0, count);
        size_t length = end ? static_cast<size_t>(static_cast<const uint8_t*>(end) - chunk) : count;
        if (name.size() < limit)
            name.append(reinterpret_cast<const char*>(chunk),
                        std::min(length, limit - name.size()));
        position_ += length;
        if (end) {
            ++position_;
            return name;
        }
    }
    ok_ = false;
    return std::string();
}

// ---- Writing ----

void ByteWriter::uint(uint64_t value, size_t width, ByteOrder order) {
    size_t at = bytes_.size();
    bytes_.resize(at + width);
    store_uint(bytes_.data() + at, value, width, order);
}

void ByteWriter::uleb128(uint64_t value) {
    do {
        uint8_t byte = value & 0x7F;
        value >>= 7;
        bytes_.push_back(value ? byte | 0x80 : byte);
    } while (value);
}

void ByteWriter::sleb128(int64_t value) {
    for (;;) {
        uint8_t byte = static_cast<uint8_t>(value) & 0x7F;
        value >>= 7; // arithmetic: the sign is kept
        bool done = (value == 0 && !(byte & 0x40)) || (value == -1 && (byte & 0x40));
        bytes_.push_back(done ? byte : byte | 0x80);
        if (done) return;
    }
}

void ByteWriter::bytes(const void* data, size_t count) {
    const uint8_t* from = static_cast<const uint8_t*>(data);
    bytes_.insert(bytes_.end(), from, from + count);
}

void ByteWriter::patch(size_t at, uint64_t value, size_t width, ByteOrder order) {
    if (bytes_.size() < at + width) bytes_.resize(at + width);
    store_uint(bytes_.data() + at, value, width, order);
}

// ---- Output files ----

void OutputFile::report() {
    ++failures_;
    message(messages_, failure_message_, name_);
}

void OutputFile::seek(uint64_t offset) {
    if (offset > UINT32_MAX || fseeko(file_, static_cast<off_t>(offset), SEEK_SET) != 0) {
        report();
        position_ = UNKNOWN;
        return;
    }
    position_ = offset;
}

// Writes at offset (seeking when the stream stands elsewhere); false after a failure,
// which leaves the position unknown.
bool OutputFile::put(uint64_t offset, const void* data, size_t count) {
    if (offset != position_) {
        if (offset > UINT32_MAX || fseeko(file_, static_cast<off_t>(offset), SEEK_SET) != 0) {
            position_ = UNKNOWN;
            return false;
        }
        position_ = offset;
    }
    if (count > UINT32_MAX - position_ || fwrite(data, 1, count, file_) != count) {
        position_ = UNKNOWN;
        return false;
    }
    position_ += count;
    return true;
}

void OutputFile::write_at(uint64_t offset, const void* data, size_t count) {
    if (count != 0 && !put(offset, data, count)) report();
}

void OutputFile::write_at(uint64_t offset, const void* data, size_t count, unsigned failure_message,
                          const char* piece) {
    if (count == 0 || put(offset, data, count)) return;
    ++failures_;
    message(messages_, failure_message, piece, name_);
}

void OutputFile::write(const void* data, size_t count) {
    if (count == 0) return;
    bool past_limit = position_ != UNKNOWN && count > UINT32_MAX - position_;
    if (past_limit || fwrite(data, 1, count, file_) != count) {
        report();
        position_ = UNKNOWN;
        return;
    }
    if (position_ != UNKNOWN) position_ += count;
}

void OutputFile::finish() {
    if (fflush(file_) != 0 && failures_ == 0) report();
}
