// Binary input and output shared by every binary format: a checked reader over a file
// or a byte buffer, a writer that grows a byte buffer, an output file written at
// explicit offsets, and record layouts declared once.
//
// Byte order is an argument here, never looked up: a format states the order of each
// reader and writer (or of a single call), taking the run's order where the run's order
// applies. Every read at an offset is checked against the bytes that exist, so no
// offset, count or length taken from a file can read outside it or size an allocation
// the file does not justify.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "common/alert.h"
#include "common/options.h"

struct Run;

enum class ByteOrder : uint8_t { little, big };

// The run's byte order (the big_endian option), for the formats whose fields follow it.
ByteOrder run_byte_order(const Options& options);

// ---- Integers of 1 to 8 bytes ----

inline uint64_t load_uint(const uint8_t* p, size_t width, ByteOrder order) {
    uint64_t value = 0;
    if (order == ByteOrder::big)
        for (size_t k = 0; k < width; ++k)
            value = (value << 8) | p[k];
    else
        for (size_t k = width; k-- > 0;)
            value = (value << 8) | p[k];
    return value;
}

inline void store_uint(uint8_t* p, uint64_t value, size_t width, ByteOrder order) {
    for (size_t k = 0; k < width; ++k) {
        size_t at = order == ByteOrder::big ? width - 1 - k : k;
        p[at] = static_cast<uint8_t>(value >> (8 * k));
    }
}

// ---- Record layouts ----
//
// A record is a plain struct. Its layout is declared once, as a function in the
// record's namespace that names each field in file order:
//
//   template <class F> constexpr void layout(F& f, CoffLine& r, unsigned line_width) {
//       f("address", r.address);
//       f.sized("line", r.line, line_width);
//   }
//
// f(name, field) takes an integer of its own width (signed ones are sign-extended when
// read), an array of integers, or a nested record; f(name, field, order) an integer in a
// fixed byte order; f.sized(name, field, width) an integer stored in fewer bytes than its
// type. The decoder, the encoder, the size and the field list below all come from it.

// Visits the fields of a layout with a per-field action.
template <class Derived> class FieldVisitor {
  public:
    template <class T> constexpr void operator()(const char* name, T& field) {
        visit(name, field, nullptr);
    }
    template <class T> constexpr void operator()(const char* name, T& field, ByteOrder order) {
        static_assert(std::is_integral<T>::value, "a byte order applies to an integer field");
        self().integer(name, field, sizeof(T), &order);
    }
    template <class T> constexpr void sized(const char* name, T& field, size_t width) {
        static_assert(std::is_integral<T>::value, "a width applies to an integer field");
        self().integer(name, field, width, nullptr);
    }

  private:
    constexpr Derived& self() { return static_cast<Derived&>(*this); }
    template <class T, size_t N>
    constexpr void visit(const char* name, T (&array)[N], const ByteOrder* order) {
        for (size_t k = 0; k < N; ++k)
            visit(name, array[k], order);
    }
    template <class T> constexpr void visit(const char* name, T& field, const ByteOrder* order) {
        if constexpr (std::is_integral<T>::value)
            self().integer(name, field, sizeof(T), order);
        else
            layout(self(), field);
    }
};

// The number of bytes a layout takes.
class FieldSizer : public FieldVisitor<FieldSizer> {
  public:
    template <class T> constexpr void integer(const char*, T&, size_t width, const ByteOrder*) {
        size += width;
    }
    size_t size = 0;
};

template <class R, class... A> constexpr size_t record_size(const A&... args) {
    R record{};
    FieldSizer sizer;
    layout(sizer, record, args...);
    return sizer.size;
}

class FieldDecoder : public FieldVisitor<FieldDecoder> {
  public:
    FieldDecoder(const uint8_t* at, ByteOrder order) : at_(at), order_(order) {}
    template <class T> void integer(const char*, T& field, size_t width, const ByteOrder* fixed) {
        uint64_t value = load_uint(at_, width, fixed ? *fixed : order_);
        if constexpr (std::is_signed<T>::value)
            if (width < 8 && (value >> (8 * width - 1)) & 1) value |= ~uint64_t(0) << (8 * width);
        field = static_cast<T>(value);
        at_ += width;
    }

  private:
    const uint8_t* at_;
    ByteOrder order_;
};

class FieldEncoder : public FieldVisitor<FieldEncoder> {
  public:
    FieldEncoder(uint8_t* at, ByteOrder order) : at_(at), order_(order) {}
    template <class T> void integer(const char*, T& field, size_t width, const ByteOrder* fixed) {
        store_uint(at_, static_cast<uint64_t>(field), width, fixed ? *fixed : order_);
        at_ += width;
    }

  private:
    uint8_t* at_;
    ByteOrder order_;
};

// A record from its bytes, record_size<R>(args...) of them.
template <class R, class... A> R decode(const uint8_t* bytes, ByteOrder order, const A&... args) {
    R record{};
    FieldDecoder decoder(bytes, order);
    layout(decoder, record, args...);
    return record;
}

// Lays a record out at bytes; answers the position after it.
template <class R, class... A>
uint8_t* encode(uint8_t* bytes, R record, ByteOrder order, const A&... args) {
    FieldEncoder encoder(bytes, order);
    layout(encoder, record, args...);
    return bytes + record_size<R>(args...);
}

// ---- Reading ----

// Reads a file or a byte buffer at explicit offsets or from a cursor. A read at an
// offset answers false when its bytes are not all there. Cursor reads answer 0 (or an
// empty name) once a read has failed, and ok() tells whether any did, so a format reads
// a run of fields and checks once.
class ByteReader {
  public:
    // The whole file, as long as seeking to its end finds it.
    explicit ByteReader(FILE* file, ByteOrder order = ByteOrder::little);
    ByteReader(const uint8_t* data, size_t size, ByteOrder order = ByteOrder::little);

    uint64_t size() const { return size_; }
    ByteOrder order() const { return order_; }
    void set_order(ByteOrder order) { order_ = order; }

    // Whether count bytes from offset lie inside the input.
    bool holds(uint64_t offset, uint64_t count) const {
        return offset <= size_ && count <= size_ - offset;
    }
    bool read_at(uint64_t offset, void* out, size_t count);
    // count bytes at offset into out, allocated only once they are known to exist.
    bool read_at(uint64_t offset, uint64_t count, std::vector<uint8_t>* out);
    template <class R, class... A> bool record_at(uint64_t offset, R* record, const A&... args) {
        uint8_t raw[MAX_RECORD];
        size_t size = record_size<R>(args...);
        if (size > sizeof raw || !read_at(offset, raw, size)) return false;
        *record = decode<R>(raw, order_, args...);
        return true;
    }

    // The cursor.
    uint64_t position() const { return position_; }
    void seek(uint64_t offset) { position_ = offset; }
    uint64_t remaining() const { return position_ < size_ ? size_ - position_ : 0; }
    bool ok() const { return ok_; }
    // Marks the reads failed, as a format does when what it read makes no sense.
    void fail() { ok_ = false; }

    bool bytes(void* out, size_t count);
    void skip(uint64_t count);
    uint64_t uint(size_t width) { return uint(width, order_); }
    uint64_t uint(size_t width, ByteOrder order);
    uint8_t u8() { return static_cast<uint8_t>(uint(1)); }
    uint16_t u16() { return static_cast<uint16_t>(uint(2)); }
    uint32_t u32() { return static_cast<uint32_t>(uint(4)); }
    uint64_t u64() { return uint(8); }
    uint16_t u16(ByteOrder order) { return static_cast<uint16_t>(uint(2, order)); }
    uint32_t u32(ByteOrder order) { return static_cast<uint32_t>(uint(4, order)); }
    // LEB128 numbers; one that runs past the input or does not fit 64 bits fails.
    uint64_t uleb128();
    int64_t sleb128();
    // A NUL-terminated name; its terminator must be there. A longer name than limit is
    // cut to limit characters, the cursor still passing its terminator.
    std::string cstring(size_t limit);
    template <class R, class... A> bool record(R* r, const A&... args) {
        if (!ok_ || !record_at(position_, r, args...)) {
            ok_ = false;
            return false;
        }
        position_ += record_size<R>(args...);
        return true;
    }

    static constexpr size_t MAX_RECORD = 512;

  private:
    FILE* file_ = nullptr;
    const uint8_t* data_ = nullptr;
    uint64_t size_ = 0;
    uint64_t file_position_ = UINT64_MAX; // where the stream stands, when known
    uint64_t position_ = 0;
    ByteOrder order_;
    bool ok_ = true;
};

// ---- Writing ----

// A byte buffer that grows as fields are appended, in the writer's byte order unless a
// call names another. Values are cut to their width. Earlier fields can be patched once
// what they hold is known (lengths, offsets, counts).
class ByteWriter {
  public:
    explicit ByteWriter(ByteOrder order = ByteOrder::little) : order_(order) {}

    ByteOrder order() const { return order_; }
    size_t size() const { return bytes_.size(); }
    const std::vector<uint8_t>& bytes() const { return bytes_; }
    uint8_t* data() { return bytes_.data(); }
    std::vector<uint8_t> take() { return std::move(bytes_); }
    // Cuts or zero-extends the buffer.
    void resize(size_t size) { bytes_.resize(size); }

    void uint(uint64_t value, size_t width) { uint(value, width, order_); }
    void uint(uint64_t value, size_t width, ByteOrder order);
    void u8(uint64_t value) { bytes_.push_back(static_cast<uint8_t>(value)); }
    void u16(uint64_t value) { uint(value, 2); }
    void u32(uint64_t value) { uint(value, 4); }
    void u64(uint64_t value) { uint(value, 8); }
    void u16(uint64_t value, ByteOrder order) { uint(value, 2, order); }
    void u32(uint64_t value, ByteOrder order) { uint(value, 4, order); }
    void uleb128(uint64_t value);
    void sleb128(int64_t value);
    void bytes(const void* data, size_t count);
    void zeros(size_t count) { bytes_.resize(bytes_.size() + count, 0); }
    void text(std::string_view text) { bytes(text.data(), text.size()); }
    void cstring(std::string_view text) {
        this->text(text);
        u8(0);
    }
    template <class R, class... A> void record(const R& r, const A&... args) {
        size_t at = bytes_.size();
        bytes_.resize(at + record_size<R>(args...));
        encode(bytes_.data() + at, r, order_, args...);
    }

    // Overwrites width bytes at an earlier offset (growing the buffer if it is short).
    void patch(size_t at, uint64_t value, size_t width) { patch(at, value, width, order_); }
    void patch(size_t at, uint64_t value, size_t width, ByteOrder order);
    template <class R, class... A> void patch_record(size_t at, const R& r, const A&... args) {
        size_t size = record_size<R>(args...);
        if (bytes_.size() < at + size) bytes_.resize(at + size);
        encode(bytes_.data() + at, r, order_, args...);
    }
    // Decodes the record at an earlier offset, lets change() alter it and lays it out again.
    template <class R, class Change, class... A>
    void update_record(size_t at, Change change, const A&... args) {
        size_t size = record_size<R>(args...);
        if (bytes_.size() < at + size) bytes_.resize(at + size);
        R r = decode<R>(bytes_.data() + at, order_, args...);
        change(r);
        encode(bytes_.data() + at, r, order_, args...);
    }

  private:
    std::vector<uint8_t> bytes_;
    ByteOrder order_;
};

// A binary output file, written at explicit offsets or one piece after another; gaps
// read back as zero bytes. Each seek or write that fails is reported with the message
// the format names and the output name, and writing goes on. Outputs are 32-bit files:
// a piece that would pass 4 GiB fails.
class OutputFile {
  public:
    OutputFile(MessageState& messages, FILE* file, const char* name, unsigned failure_message)
        : messages_(messages), file_(file), name_(name), failure_message_(failure_message) {}

    void write_at(uint64_t offset, const void* data, size_t count);
    void write_at(uint64_t offset, const std::vector<uint8_t>& data) {
        write_at(offset, data.data(), data.size());
    }
    // A piece whose failure a format reports with a message of its own, naming the piece
    // and then the output.
    void write_at(uint64_t offset, const void* data, size_t count, unsigned failure_message,
                  const char* piece);
    void write_at(uint64_t offset, const std::vector<uint8_t>& data, unsigned failure_message,
                  const char* piece) {
        write_at(offset, data.data(), data.size(), failure_message, piece);
    }
    // At the current position.
    void write(const void* data, size_t count);
    void write(const std::vector<uint8_t>& data) { write(data.data(), data.size()); }
    void seek(uint64_t offset);
    // Flushes the stream. A failure that shows only here is reported, unless a failure
    // of this output was reported already.
    void finish();

  private:
    void report();
    bool put(uint64_t offset, const void* data, size_t count);

    MessageState& messages_;
    FILE* file_;
    const char* name_;
    unsigned failure_message_;
    static constexpr uint64_t UNKNOWN = UINT64_MAX;
    uint64_t position_ = UNKNOWN; // where the stream stands, when known
    unsigned failures_ = 0;
};
