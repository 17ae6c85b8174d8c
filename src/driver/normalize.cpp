#include "driver/normalize.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "common/alert.h"
#include "common/options.h"
#include "common/sort.h"
#include "model/run.h"
#include "model/store.h"

namespace {

int compare_u32(uint32_t a, uint32_t b) {
    return a < b ? -1 : a > b ? 1 : 0;
}

// The sorts run over small key records that carry the compared fields beside the record
// pointer, so that comparing does not chase pointers across the whole store; the order
// (equal keys included) is the one the comparison rules give over the records.
struct LineByAddress {
    uint32_t address, line;
    LineRecord* record;
};
struct LineByNumber {
    uint32_t line, address, end_address;
    LineRecord* record;
};
struct BlockOrder {
    uint32_t segment, address;
    DataBlock* record;
};

int line_by_address(const LineByAddress& a, const LineByAddress& b) {
    if (int c = compare_u32(a.address, b.address)) return c;
    return compare_u32(a.line, b.line);
}

int line_by_number(const LineByNumber& a, const LineByNumber& b) {
    if (int c = compare_u32(a.line, b.line)) return c;
    if (int c = compare_u32(a.address, b.address)) return c;
    return compare_u32(a.end_address, b.end_address);
}

int data_block_order(const BlockOrder& a, const BlockOrder& b) {
    if (int c = compare_u32(a.segment, b.segment)) return c;
    return compare_u32(a.address, b.address);
}

int name_width(Run& run) {
    size_t width = 0;
    for (const SegmentRecord* segment : run.store.segments)
        width = std::max(width, segment->name.size());
    return static_cast<int>(width);
}

void close_line_ranges(Run& run) {
    if (run.store.lines.empty()) return;
    std::vector<LineByAddress> sorted;
    sorted.reserve(run.store.lines.count());
    for (LineRecord* line : run.store.lines)
        sorted.push_back({line->address, line->line, line});
    sort_items(sorted, line_by_address);
    for (size_t k = 0; k + 1 < sorted.size(); ++k) {
        uint32_t next = sorted[k + 1].address;
        sorted[k].record->end_address = next == sorted[k].address ? next : next - 1;
    }
    sorted.back().record->end_address = sorted.back().address;
}

// Each file's symbols and line records in store order, at most its count of each.
template <typename Record>
std::vector<std::vector<Record*>> records_by_file(Run& run, const Vector<Record*>& records,
                                                  uint32_t FileRecord::*count) {
    std::vector<std::vector<Record*>> buckets(run.store.files.count());
    for (Record* record : records) {
        FileRecord* file = file_of(run, record->file);
        if (!file) continue;
        std::vector<Record*>& bucket = buckets[record->file - 1];
        if (bucket.size() < file->*count) bucket.push_back(record);
    }
    return buckets;
}

std::vector<LineRecord*> sorted_by_number(const std::vector<LineRecord*>& lines) {
    std::vector<LineByNumber> keys;
    keys.reserve(lines.size());
    for (LineRecord* line : lines)
        keys.push_back({line->line, line->address, line->end_address, line});
    sort_items(keys, line_by_number);
    std::vector<LineRecord*> out;
    out.reserve(keys.size());
    for (const LineByNumber& key : keys)
        out.push_back(key.record);
    return out;
}

void build_file_tables(Run& run, int width) {
    auto symbols = records_by_file(run, run.store.symbols, &FileRecord::symbol_count);
    auto lines = records_by_file(run, run.store.lines, &FileRecord::line_count);
    const unsigned level = run.options.verbose_level;
    for (uint32_t n = 0; n < run.store.files.count(); ++n) {
        FileRecord* file = run.store.files[n];
        if (level >= 1)
            fprintf(stderr, "\nFile: %s\nSymbols: %u\n", file->name.c_str(), file->symbol_count);
        if (file->symbol_count != 0) {
            if (symbols[n].size() < file->symbol_count) fatal_message(run.messages, 606);
            file->symbols = std::move(symbols[n]);
            if (level >= 2)
                for (const SymbolRecord* symbol : file->symbols)
                    fprintf(stderr, "\t%-*s %-8lX %s\n", width, segment_name(run, symbol->segment),
                            static_cast<unsigned long>(symbol->value), symbol->name.c_str());
        }
        if (level >= 1) fprintf(stderr, "Lines: %u\n", file->line_count);
        if (file->line_count != 0) {
            if (lines[n].size() < file->line_count) fatal_message(run.messages, 607);
            file->lines = sorted_by_number(lines[n]);
            if (level >= 2)
                for (const LineRecord* line : file->lines)
                    fprintf(stderr, "\t%5.5lu: %lX-%lX %s\n",
                            static_cast<unsigned long>(line->line),
                            static_cast<unsigned long>(line->address),
                            static_cast<unsigned long>(line->end_address),
                            segment_name(run, line->segment));
        }
    }
}

// Number of the first segment whose load range holds the bytes, or 0.
uint32_t containing_segment(Run& run, uint32_t address, uint32_t size) {
    for (uint32_t k = 0; k < run.store.segments.count(); ++k) {
        const SegmentRecord* segment = run.store.segments[k];
        if (segment->load_address <= address &&
            uint64_t(address) + size <= uint64_t(segment->load_address) + segment->size)
            return k + 1;
    }
    return 0;
}

void assign_segments(Run& run) {
    for (DataBlock* block : run.store.data)
        if (block->segment == 0)
            block->segment = containing_segment(run, block->address, block->size);
}

// Blocks joined by add_data_piece stand for their pieces, the records as they were added.
// The result below equals that of separate records as long as the pieces of one block
// fall into one segment and, once sorted, no two blocks of a segment start at the same
// address or overlap: then the sorted order is the only one possible and the pieces of a
// block lie next to each other in it. Where that does not hold the blocks are split.

bool has_joined_pieces(Run& run) {
    for (const DataBlock* block : run.store.data)
        if (block->piece_count() > 1) return true;
    return false;
}

// The block's pieces become sizes[first..last).
void set_pieces(DataBlock& block, const std::vector<uint32_t>& sizes, size_t first, size_t last) {
    block.pieces.clear();
    for (size_t k = first; k < last; ++k) {
        if (!block.pieces.empty() && block.pieces.back().size == sizes[k])
            ++block.pieces.back().count;
        else
            block.pieces.push_back({sizes[k], 1});
    }
}

// Appends to out the block cut at the given piece indexes (ascending, each above 0):
// the block itself keeps the pieces before the first cut, new blocks take the rest.
void split_block(Run& run, DataBlock* block, const std::vector<size_t>& cuts,
                 Vector<DataBlock*>& out) {
    out.append(block);
    if (cuts.empty()) return;
    const std::vector<uint32_t> pieces = block->piece_sizes();
    std::vector<uint32_t> offsets(pieces.size() + 1, 0);
    for (size_t k = 0; k < pieces.size(); ++k)
        offsets[k + 1] = offsets[k] + pieces[k];
    for (size_t c = 0; c < cuts.size(); ++c) {
        size_t first = cuts[c];
        size_t last = c + 1 < cuts.size() ? cuts[c + 1] : pieces.size();
        DataBlock& part = run.store.data_pool.emplace_back();
        part.address = block->address + offsets[first];
        part.size = offsets[last] - offsets[first];
        part.bytes.assign(block->bytes.begin() + offsets[first],
                          block->bytes.begin() + offsets[last]);
        part.segment = block->segment;
        set_pieces(part, pieces, first, last);
        out.append(&part);
    }
    block->size = offsets[cuts[0]];
    block->bytes.resize(block->size);
    block->bytes.shrink_to_fit();
    set_pieces(*block, pieces, 0, cuts[0]);
}

// Cuts unassigned joined blocks where their pieces would be given different segments.
void split_at_segment_changes(Run& run) {
    if (run.store.segments.empty()) return;
    Vector<DataBlock*> out(run.store.data.count());
    std::vector<size_t> cuts;
    for (DataBlock* block : run.store.data) {
        cuts.clear();
        if (block->segment == 0 && block->piece_count() > 1) {
            uint32_t address = block->address;
            size_t index = 0;
            uint32_t current = 0;
            for (const DataBlock::PieceRun& piece : block->pieces)
                for (uint32_t k = 0; k < piece.count; ++k, ++index) {
                    uint32_t segment = containing_segment(run, address, piece.size);
                    if (index > 0 && segment != current) cuts.push_back(index);
                    current = segment;
                    address += piece.size;
                }
        }
        split_block(run, block, cuts, out);
    }
    run.store.data = std::move(out);
}

// The list, once sorted, as the pieces would be: no shared start, no overlap.
bool sorted_blocks_are_apart(Run& run) {
    for (uint32_t k = 1; k < run.store.data.count(); ++k) {
        const DataBlock* before = run.store.data[k - 1];
        const DataBlock* block = run.store.data[k];
        if (before->segment == block->segment &&
            (before->address == block->address ||
             uint64_t(before->address) + before->size > block->address))
            return false;
    }
    return true;
}

// Every joined block replaced by its pieces, in the order the pieces were added.
Vector<DataBlock*> separate_pieces(Run& run, const Vector<DataBlock*>& blocks) {
    Vector<DataBlock*> out(blocks.count());
    std::vector<size_t> cuts;
    for (DataBlock* block : blocks) {
        cuts.clear();
        for (size_t k = 1; k < block->piece_count(); ++k)
            cuts.push_back(k);
        split_block(run, block, cuts, out);
    }
    return out;
}

// A list already in strictly ascending order has one sorted order only, itself.
void sort_blocks(Run& run) {
    std::vector<BlockOrder> keys;
    keys.reserve(run.store.data.count());
    bool ascending = true;
    for (DataBlock* block : run.store.data) {
        keys.push_back({block->segment, block->address, block});
        if (keys.size() > 1 && data_block_order(keys[keys.size() - 2], keys.back()) >= 0)
            ascending = false;
    }
    if (ascending) return;
    sort_items(keys, data_block_order);
    for (uint32_t k = 0; k < keys.size(); ++k)
        run.store.data[k] = keys[k].record;
}

// Joins exactly adjacent blocks of one segment. Each chain of joins is measured first,
// so the surviving block's buffer grows once and every byte is copied once.
void merge_blocks(Run& run) {
    Vector<DataBlock*> merged(100);
    const uint32_t count = run.store.data.count();
    for (uint32_t k = 0; k < count;) {
        DataBlock* first = run.store.data[k];
        uint32_t end = k + 1;
        uint64_t total = first->size;
        for (const DataBlock* last = first; end < count; ++end) {
            const DataBlock* block = run.store.data[end];
            if (block->segment != last->segment || block->address != last->address + last->size)
                break;
            total += block->size;
            last = block;
        }
        first->bytes.reserve(total);
        for (uint32_t j = k + 1; j < end; ++j) {
            DataBlock* block = run.store.data[j];
            first->bytes.insert(first->bytes.end(), block->bytes.begin(), block->bytes.end());
            first->size += block->size;
            std::vector<uint8_t>().swap(block->bytes);
            std::vector<DataBlock::PieceRun>().swap(block->pieces);
        }
        std::vector<DataBlock::PieceRun>().swap(first->pieces);
        merged.append(first);
        k = end;
    }
    run.store.data = std::move(merged);
}

void sort_and_merge_blocks(Run& run) {
    bool joined = has_joined_pieces(run);
    if (joined) split_at_segment_changes(run);
    assign_segments(run);
    if (joined) {
        Vector<DataBlock*> unsorted = run.store.data;
        sort_blocks(run);
        if (!sorted_blocks_are_apart(run)) {
            run.store.data = separate_pieces(run, unsorted);
            sort_blocks(run);
        }
    } else {
        sort_blocks(run);
    }
    merge_blocks(run);
}

void print_data_summary(Run& run) {
    if (run.options.verbose_level < 1) return;
    // The sum as a 32-bit long holds it, on every platform.
    uint32_t total = 0;
    for (const DataBlock* block : run.store.data)
        total += block->size;
    fprintf(stderr, "\nData blocks: %u, total size %lX\n", run.store.data.count(),
            static_cast<unsigned long>(total));
    if (run.options.verbose_level < 2) return;
    for (const DataBlock* block : run.store.data) {
        fprintf(stderr, "\t%lX-%lX", static_cast<unsigned long>(block->address),
                static_cast<unsigned long>(uint32_t(block->address + block->size - 1)));
        if (segment_of(run, block->segment))
            fprintf(stderr, " %s", segment_name(run, block->segment));
        else
            fprintf(stderr, " seg %d", static_cast<int>(block->segment) - 1);
        fputc('\n', stderr);
    }
}

void widen_segments(Run& run) {
    // First (lowest) block of each segment, found in one pass over the sorted list.
    std::vector<DataBlock*> first(run.store.segments.count() + 1, nullptr);
    for (DataBlock* block : run.store.data)
        if (block->segment <= run.store.segments.count() && !first[block->segment])
            first[block->segment] = block;
    for (uint32_t k = 1; k <= run.store.segments.count(); ++k) {
        const DataBlock* block = first[k];
        if (!block) continue;
        SegmentRecord* segment = run.store.segments[k - 1];
        uint32_t end = segment->load_address + segment->size;
        if (block->address < segment->load_address && block->size != 0) {
            segment->address -= segment->load_address - block->address;
            segment->load_address = block->address;
        }
        if (block->address + block->size > end) end = block->address + block->size;
        if (end - segment->load_address > segment->size)
            segment->size = end - segment->load_address;
    }
}

void print_segment_summary(Run& run, int width) {
    if (run.options.verbose_level < 1) return;
    fprintf(stderr, "\nSegments: %u\n", run.store.segments.count());
    for (const SegmentRecord* segment : run.store.segments) {
        fprintf(stderr, "\t%-*s %lX", width, segment->name.c_str(),
                static_cast<unsigned long>(segment->address));
        if (segment->size != 0)
            fprintf(stderr, "-%lX",
                    static_cast<unsigned long>(uint32_t(segment->address + segment->size - 1)));
        if (segment->load_address != segment->address)
            fprintf(stderr, " Load@%lX", static_cast<unsigned long>(segment->load_address));
        fputc('\n', stderr);
    }
    fputc('\n', stderr);
}

} // namespace

void normalize_store(Run& run) {
    int width = 0;
    if (run.options.verbose_level >= 1) {
        width = name_width(run);
        fprintf(
            stderr, "\nFiles: %d, syms: %d, lines: %d\n", static_cast<int>(run.store.files.count()),
            static_cast<int>(run.store.symbols.count()), static_cast<int>(run.store.lines.count()));
    }
    // The inputs are read: the lists keep what they hold and no room to grow, since a
    // large program's million line records are held until the outputs are written.
    run.store.lines.shrink_to_fit();
    run.store.symbols.shrink_to_fit();
    close_line_ranges(run);
    build_file_tables(run, width);
    if (!run.store.data.empty()) {
        sort_and_merge_blocks(run);
        print_data_summary(run);
        widen_segments(run);
    }
    print_segment_summary(run, width);
}
