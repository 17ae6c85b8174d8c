// OMF-51 and Extended OMF-51: the longest record, and writer rules the command line
// cannot reach (names past 255, a typedef buffer past 32 KiB). Reading, writing and
// the dumps and detection are checked by the cases in omf/cases.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/options.h"
#include "debug_helpers.h"
#include "driver/normalize.h"
#include "formats/descriptors.h"
#include "formats/omf/omfrecord.h"
#include "model/run.h"
#include "model/store.h"

namespace {

// One framed record: type, length, content, checksum.
Bytes frame(uint8_t type, const Bytes& content) {
    Bytes record{type, uint8_t(content.size() + 1), uint8_t((content.size() + 1) >> 8)};
    for (uint8_t byte : content)
        record.push_back(byte);
    unsigned sum = 0;
    for (uint8_t b : record)
        sum += b;
    record.push_back(uint8_t(-sum));
    return record;
}

Bytes name(const std::string& text) {
    Bytes bytes{uint8_t(text.size())};
    for (char c : text)
        bytes.push_back(uint8_t(c));
    return bytes;
}

// The records of a file, checked as they are read.
std::vector<OmfRecord> records_of(::Run& run, const Bytes& bytes) {
    std::vector<OmfRecord> records;
    FILE* in = fmemopen(const_cast<uint8_t*>(bytes.data()), bytes.size(), "rb");
    if (!in) return records; // an empty file
    RecordReader reader(in);
    OmfRecord record;
    std::string err = capture_stderr([&] {
        while (reader.next(run, &record, true))
            records.push_back(record);
    });
    EXPECT_EQ(err, "");
    fclose(in);
    return records;
}

Bytes content_of(const OmfRecord& record) {
    return Bytes(record.bytes.begin(), record.bytes.end() - 1);
}

Outcome read(::Run& run, const FormatDescriptor& format, const Bytes& bytes) {
    return run_on(run, bytes, [&](FILE* in) { return format.read(run, in, "in.omf"); });
}

const Bytes HEADER = frame(0x02, name("PROG") + Bytes{0xFF, 0x00});

// ---- The record frame ----

TEST(OmfRecordFrame, TheLongestRecord) {
    ::Run run;
    Bytes big(0xFFFE - 3, 0x5A);
    Bytes long_file = HEADER + frame(0x06, Bytes{0, 0, 0} + big);
    std::vector<OmfRecord> records = records_of(run, long_file);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].length, 0xFFFF);
    EXPECT_EQ(records[1].offset, HEADER.size());
    EXPECT_EQ(read(run, omf51_format, long_file).result, 1);
    ASSERT_EQ(run.store.data.count(), 1u);
    EXPECT_EQ(run.store.data[0]->size, big.size());
}

// ---- Reading ----

// ---- Writing ----

// Names that no input through the command line can hold: the 255 kept of 300.
TEST(OmfWrite, ExtendedNamesAreCutTo255) {
    ::Run run;
    add_segment(run, "XDATA", 0, 0x10000, 0, 1);
    uint32_t file = add_file(run, "m.c");
    add_symbol(run, ("_" + std::string(300, 'n')).c_str(), 3, 1, file, 0);
    normalize_store(run);
    std::vector<OmfRecord> records = records_of(run, written_by(run, eomf51_format, "out.abs"));
    ASSERT_EQ(records.size(), 5u);
    const Bytes expected = Bytes{1} + Bytes{0, 0x41, 3, 0, 0} + name(std::string(255, 'n'));
    EXPECT_EQ(content_of(records[2]), expected);
}

// Members with names of 200 characters take one member list each: far more than 32768
// bytes of descriptors for one structure. One message; the typedef record stays within.
TEST(TypedWrite, TypedefBufferLimit) {
    ::Run run;
    start_run(run, "8051");
    add_segment(run, "DATA", 0, 0x80, 0, 1);
    add_symbol(run, "_one", 0x20, 1, add_file(run, "m.c"), 0);
    std::string text = "[p GLOBOPT ]\n\"1 m.c\n[s S1 big 200 ";
    for (int k = 0; k < 170; ++k)
        text += "`uc " + std::string(196, 'm') + std::to_string(1000 + k) + " 1 " +
                std::to_string(k) + " ";
    text += "]\n[v _one S1 0 e 1 @32 ]\n";
    EXPECT_EQ(capture_stderr([&] { read_text(run, text, "m.obj"); }), "");
    normalize_store(run);
    Bytes bytes;
    std::string err = capture_stderr([&] { bytes = written_by(run, eomf51_format, "out.abs"); });
    EXPECT_EQ(err, "(622) type description buffer full: the type is not written\n");
    size_t largest = 0;
    for (const OmfRecord& r : records_of(run, bytes))
        if (r.type == 0x20) largest = std::max(largest, r.content_size());
    EXPECT_GT(largest, 32000u);
    EXPECT_LE(largest, 32768u);
}

} // namespace
