// The parts of the .COD writer that its two files share: the output as numbered blocks
// and the tables laid out in them.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "common/binio.h"
#include "common/options.h"
#include "formats/cod/cod_internal.h"

#include "model/run.h"

// A length-prefixed text in a field (at most its width - 1 characters).
template <size_t N> void put_text(uint8_t (&field)[N], std::string_view text) {
    size_t length = std::min(text.size(), N - 1);
    field[0] = static_cast<uint8_t>(length);
    memcpy(field + 1, text.data(), length);
}

// A name as the symbol tables give it: with -m, one leading underscore removed.
inline std::string_view table_name(Run& run, std::string_view name) {
    if (run.options.strip_underscore && !name.empty() && name[0] == '_') name.remove_prefix(1);
    return name;
}

// The output stream seen as numbered 512-byte blocks; each block that cannot be written
// whole is reported and writing goes on.
class BlockFile {
  public:
    BlockFile(MessageState& messages, FILE* out, const char* name)
        : output_(messages, out, name, 413) {}

    // The tables start at block 1; the directory is written last, over block 0.
    void start() { output_.seek(COD_BLOCK_SIZE); }

    // Writes the next block and answers its number.
    uint32_t append(const uint8_t* block) {
        output_.write(block, COD_BLOCK_SIZE);
        return next_++;
    }

    void write_directory(const CodDirectory& directory) {
        ByteWriter block(ByteOrder::little);
        block.record(directory);
        output_.write_at(0, block.bytes());
        output_.finish();
    }

  private:
    OutputFile output_;
    uint32_t next_ = 1;
};

// One table: records laid out in blocks that are written as they fill. A record never
// crosses a block boundary; the directory gets the table's first and last block.
class TableWriter {
  public:
    TableWriter(BlockFile& file, CodTableSpan& span, size_t capacity = COD_BLOCK_SIZE)
        : file_(file), span_(span), capacity_(capacity) {}

    template <class R> void add(const R& record) {
        encode(reserve(record_size<R>()), record, ByteOrder::little);
    }
    void add(const std::vector<uint8_t>& bytes) {
        memcpy(reserve(bytes.size()), bytes.data(), bytes.size());
    }

    // Writes the last block and enters the table in the directory (0 and 0 when the
    // table has no block).
    void finish() {
        if (used_ != 0) flush();
        span_.first = static_cast<uint16_t>(first_);
        span_.last = static_cast<uint16_t>(last_);
    }

  private:
    // Zero-filled room for a record of size bytes, in the next block when the rest of
    // this one is too small.
    uint8_t* reserve(size_t size) {
        if (used_ + size > capacity_) flush();
        uint8_t* at = block_ + used_;
        used_ += size;
        return at;
    }

    void flush() {
        last_ = file_.append(block_);
        if (first_ == 0) first_ = last_;
        memset(block_, 0, sizeof block_);
        used_ = 0;
    }

    BlockFile& file_;
    CodTableSpan& span_;
    size_t capacity_;
    uint8_t block_[COD_BLOCK_SIZE] = {};
    size_t used_ = 0;
    uint32_t first_ = 0;
    uint32_t last_ = 0;
};

// The symbol, long-symbol and locals tables (the locals only without -f), from the
// type model's variables and the store's symbols.
void write_symbol_tables(Run& run, BlockFile& file, CodDirectory& directory);
