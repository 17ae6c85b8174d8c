// Data blocks joined while reading (add_data_piece) must normalise exactly like the same
// records added one by one (add_data): same blocks, order, segments, bytes and segment
// sizes, whatever overlaps, repeats, empty records and segment boundaries they hold.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "driver/normalize.h"
#include "driver/run.h"
#include "model/run.h"
#include "model/store.h"

namespace {

struct Record {
    uint32_t address;
    std::vector<uint8_t> bytes;
    uint32_t segment;
};

struct Segment {
    uint32_t address, size, load;
};

// The store after normalisation, as text. *had_joins tells whether reading joined any
// records.
std::string normalised(::Run& run, const std::vector<Segment>& segments,
                       const std::vector<Record>& records, bool joined, bool* had_joins = nullptr) {
    run = ::Run();
    for (const Segment& s : segments)
        add_segment(run, "seg", s.address, s.size, s.load, 0);
    for (const Record& r : records) {
        uint32_t size = static_cast<uint32_t>(r.bytes.size());
        if (joined)
            add_data_piece(run, r.address, size, r.bytes.data(), r.segment);
        else
            add_data(run, r.address, size, r.bytes.data(), r.segment);
    }
    if (had_joins) {
        *had_joins = false;
        for (const DataBlock* block : run.store.data)
            if (block->piece_count() > 1) *had_joins = true;
    }
    normalize_store(run);
    std::string text;
    for (const DataBlock* block : run.store.data) {
        EXPECT_EQ(block->bytes.size(), block->size);
        EXPECT_TRUE(block->pieces.empty());
        text += std::to_string(block->segment) + "@" + std::to_string(block->address) + ":";
        for (uint8_t byte : block->bytes)
            text += std::to_string(byte) + ",";
        text += " ";
    }
    for (const SegmentRecord* s : run.store.segments)
        text += "[" + std::to_string(s->address) + "," + std::to_string(s->load_address) + "," +
                std::to_string(s->size) + "]";
    return text;
}

// Mostly consecutive records, with jumps back, repeats, empty records and segments whose
// edges cut through runs of records.
TEST(DataMerge, JoinedPiecesNormaliseLikeSeparateRecords) {
    ::Run run;
    std::mt19937 random(12345);
    auto pick = [&](uint32_t n) { return static_cast<uint32_t>(random() % n); };
    unsigned rounds_with_joins = 0;
    for (int round = 0; round < 3000; ++round) {
        std::vector<Segment> segments;
        for (uint32_t k = pick(4); k > 0; --k) {
            uint32_t load = pick(200);
            segments.push_back({load + pick(3) * 8, pick(120), load});
        }
        std::vector<Record> records;
        uint32_t address = pick(64);
        for (uint32_t k = 1 + pick(40); k > 0; --k) {
            uint32_t choice = pick(20);
            if (choice == 0)
                address = pick(256); // jump anywhere
            else if (choice == 1)
                address -= std::min(address, 4u); // overlap the last
            Record record{address, {}, pick(12) == 0 ? 1 + pick(2) : 0};
            uint32_t size = pick(15) == 0 ? 0 : 1 + pick(round % 2 ? 16 : 5);
            for (uint32_t b = 0; b < size; ++b)
                record.bytes.push_back(static_cast<uint8_t>(pick(256)));
            address += size;
            records.push_back(record);
        }
        std::string separate = normalised(run, segments, records, false);
        bool had_joins = false;
        std::string joined = normalised(run, segments, records, true, &had_joins);
        ASSERT_EQ(joined, separate) << "round " << round;
        rounds_with_joins += had_joins;
    }
    EXPECT_GT(rounds_with_joins, 2000u); // the joining path is what is being tried
}

TEST(DataMerge, ConsecutiveRecordsBecomeOneBlockWhileReading) {
    ::Run run;
    const uint8_t bytes[4] = {1, 2, 3, 4};
    add_data_piece(run, 0x100, 4, bytes, 0);
    add_data_piece(run, 0x104, 4, bytes, 0);
    add_data_piece(run, 0x108, 2, bytes, 0);
    add_data_piece(run, 0x200, 4, bytes, 0); // not adjacent
    add_data(run, 0x204, 4, bytes, 0);       // a plain record is never joined onto
    add_data_piece(run, 0x208, 4, bytes, 0);
    add_data_piece(run, 0xFFFFFFFC, 4, bytes, 0);
    ASSERT_EQ(run.store.data.count(), 5u);
    EXPECT_EQ(run.store.data[0]->size, 10u);
    EXPECT_EQ(run.store.data[0]->piece_sizes(), (std::vector<uint32_t>{4, 4, 2}));
    EXPECT_EQ(run.store.data[2]->pieces.size(), 0u);
}

} // namespace
