// The record frame of OMF-51, Extended OMF-51 and Holtek debug files: a type byte, a
// 16-bit little-endian length counting the bytes that follow it (the content and the
// checksum), the content, and a checksum byte that makes all the record's bytes sum to
// 0 modulo 256. Records follow one another to the end of the file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/binio.h"

struct Run;

struct OmfRecord {
    uint8_t type = 0;
    uint16_t length = 0;        // the content's bytes and the checksum
    uint64_t offset = 0;        // where the record's reading began in the file
    std::vector<uint8_t> bytes; // the content and the checksum, `length` of them

    size_t content_size() const { return bytes.empty() ? 0 : bytes.size() - 1; }
    // A reader over the content (the checksum left out).
    ByteReader content() const {
        return ByteReader(bytes.data(), content_size(), ByteOrder::little);
    }
};

// Reads one record after the other from a file. With an escape type, a type byte of that
// value is followed by three bytes outside any record, and the byte after them is the
// record's type.
class RecordReader {
  public:
    explicit RecordReader(FILE* file, int escape = -1)
        : input_(file, ByteOrder::little), escape_(escape) {}
    // The next record. False at the end of the file, and for a record cut short (message
    // 1041) or with a wrong checksum (message 1040 with the type and the sum) when
    // reporting; at -v -v a reported record's bytes are printed as a hex dump.
    bool next(Run& run, OmfRecord* record, bool report);

  private:
    ByteReader input_;
    int escape_;
    uint64_t position_ = 0;
};

// A name string: a length byte and the characters; false when they run past the reader.
bool read_name(ByteReader& in, std::string* name);

// The content of a record being built, written out framed.
class RecordWriter {
  public:
    explicit RecordWriter(OutputFile& output) : output_(output) {}
    // Writes the record: type, length, content and checksum.
    void write(uint8_t type, const std::vector<uint8_t>& content);

  private:
    OutputFile& output_;
};
