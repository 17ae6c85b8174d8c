// The symbol store: the one model every reader fills and every writer reads.
//
// Six lists of records (files, symbols, bounds, segments, data blocks, line records) and
// three first-wins indexes. Records are owned by the store, value-initialised, and refer
// to each other by 1-based file and segment numbers (0 = none).
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "common/hash.h"
#include "common/vector.h"

struct Run;

struct SymbolRecord;
struct LineRecord;

struct FileRecord {
    std::string name;
    std::vector<SymbolRecord*> symbols; // built by normalisation, store order
    uint32_t symbol_count = 0;
    std::vector<LineRecord*> lines; // built by normalisation, sorted by line
    uint32_t line_count = 0;
    uint32_t number = 0;
    uint32_t output_index = 0; // free for a writer
};

struct BoundsRecord {
    uint32_t low = 0;
    uint32_t high = 0;
    uint32_t init = 0;
    std::string name;
};

// Symbol flags.
enum : uint32_t {
    SYM_ABSOLUTE = 0x1,
    SYM_LOCAL = 0x2,
    SYM_KIND_MARK = 0x4,
    SYM_DESCRIBED = 0x8, // already written with its type information
};

struct SymbolRecord {
    uint32_t file = 0;
    uint32_t value = 0;
    BoundsRecord* bounds = nullptr;
    uint32_t segment = 0;
    uint32_t flags = 0;
    std::string name;
};

struct LineRecord {
    uint32_t file = 0;
    uint32_t address = 0;
    uint32_t end_address = 0;
    uint32_t segment = 0;
    uint32_t kind = 0;
    uint32_t line = 0;
    uint32_t output_index = 0;
};

struct SegmentRecord {
    uint32_t space = 0;
    uint32_t address = 0;
    uint32_t load_address = 0;
    uint32_t size = 0;
    std::string name;
};

struct DataBlock {
    uint32_t address = 0;
    uint32_t size = 0;
    std::vector<uint8_t> bytes;
    uint32_t segment = 0;
    // Sizes of the records joined into this block by add_data_piece, in the order they
    // were added, as runs of equal sizes; empty for a block made by add_data.
    // Normalisation splits the block at these boundaries wherever keeping the records
    // joined could change its result, and empties the list.
    struct PieceRun {
        uint32_t size;
        uint32_t count;
    };
    std::vector<PieceRun> pieces;

    // The sizes of the pieces one by one.
    std::vector<uint32_t> piece_sizes() const;
    // Number of pieces (0 for a block made by add_data).
    size_t piece_count() const;
};

// A value and the segment (or class) it belongs to.
struct ValuePair {
    uint32_t value = 0;
    uint32_t segment = 0;
};

// The indexes hash with FNV-1a, which spreads names that differ only in their digits,
// as a million symbols' names do.
struct NameHash {
    size_t operator()(std::string_view s) const;
};
// File names are matched without regard to letter case.
struct FileNameHash {
    size_t operator()(std::string_view s) const;
};
struct FileNameEqual {
    bool operator()(std::string_view a, std::string_view b) const;
};

// What one input file may add to the store. Every record and every data byte a reader
// makes comes from at least one byte of the file, and no two of them from the same
// byte, so a file of n bytes makes at most n of them. A file that makes more than
// twice that (with a small allowance for tiny files) uses areas of itself more than
// once, as sections sharing one line table or one data area do; it is refused with a
// message before it can take memory out of all proportion to its size.
struct ReadAllowance {
    std::string file;
    uint64_t file_size = 0;
    uint64_t limit = UINT64_MAX; // no limit outside a read
    uint64_t used = 0;
    unsigned message = 415; // 415 for a read, 419 for a dump
    // The side files read for this file, by identity (device and inode): whether each
    // was refused.
    std::map<std::string, bool> side_files;
    // What the side files of the modules a symbol file names may cost to read, in bytes,
    // and what they have cost.
    uint64_t side_file_limit = 0;
    uint64_t side_file_used = 0;
};
constexpr uint64_t READ_ALLOWANCE_SLACK = 4096;

// A symbol file names a module once in each list its symbols appear in (globals and
// locals, say): a few times, never thousands. Each mention reads the module's side file
// again and makes a module scope of that file's size, so a mention costs the file's
// bytes. Each side file may be read this many times in full, and its readings after the
// first may add at most SIDE_FILE_REREADING bytes, so that mentions of a large side file
// cannot make memory grow past what its first reading takes by much.
constexpr uint64_t SIDE_FILE_READINGS = 32;
constexpr uint64_t SIDE_FILE_REREADING = uint64_t(16) << 20;

struct Store {
    Vector<FileRecord*> files{25};
    Vector<SymbolRecord*> symbols{100};
    Vector<BoundsRecord*> bounds{30};
    Vector<SegmentRecord*> segments{25};
    Vector<DataBlock*> data{100};
    Vector<LineRecord*> lines{100};

    // Keys view the names held by the records themselves.
    HashTable<std::string_view, SymbolRecord*, NameHash> symbol_names;
    HashTable<uint32_t, SymbolRecord*> symbol_values;
    HashTable<std::string_view, FileRecord*, FileNameHash, FileNameEqual> file_names;

    // Owners of the records; the lists above hold pointers into these.
    std::deque<FileRecord> file_pool;
    std::deque<SymbolRecord> symbol_pool;
    std::deque<BoundsRecord> bounds_pool;
    std::deque<SegmentRecord> segment_pool;
    std::deque<DataBlock> data_pool;
    std::deque<LineRecord> line_pool;

    ReadAllowance allowance;
    // The program's start address, from an image's start record or an executable's
    // header, for the writers whose files carry one.
    uint32_t entry_address = 0;
};

// The allowance of the input file about to be read (its name and size), and its end.
// A dump measures what it prints from areas that several entries may point at by the
// same allowance, and is refused with message 419 past it.
void begin_read_allowance(Run& run, const char* file, uint64_t file_size, unsigned message = 415);
void end_read_allowance(Run& run);
// Counts records, data bytes or printed entries against the allowance; past it the run
// ends with the allowance's message.
void charge_read_allowance(Run& run, uint64_t count);
// A side file about to be read for the file being read, known by identity. The first
// visit of a regular file allows SIDE_FILE_READINGS readings of it (see above), and
// every reading is charged by its bytes with charge_side_file_read, which ends the run
// with message 425 past what the side files visited allow: a symbol file that names a
// module over and over cannot multiply the work. Answers false when an earlier visit
// refused the file (a device that never ends, say).
bool visit_side_file(Run& run, const std::string& identity, uint64_t regular_size);
void charge_side_file_read(Run& run, uint64_t bytes);
void refuse_side_file(Run& run, const std::string& identity);

uint32_t add_file(Run& run, const char* name);
FileRecord* find_file(Run& run, const char* name);
void add_symbol(Run& run, const char* name, uint32_t value, uint32_t segment, uint32_t file,
                uint32_t flags);
SymbolRecord* find_symbol(Run& run, const char* name);
SymbolRecord* find_symbol_by_value(Run& run, uint32_t value);
SymbolRecord* find_file_symbol(Run& run, const char* file_name, const char* symbol_name);
bool lookup_symbol(Run& run, const char* name, ValuePair* out);
bool lookup_file_symbol(Run& run, const char* file_name, const char* symbol_name, ValuePair* out);
void add_line(Run& run, uint32_t line, uint32_t address, uint32_t segment, uint32_t file,
              uint32_t kind);
void add_segment(Run& run, const char* name, uint32_t address, uint32_t size, uint32_t load_address,
                 uint32_t space);
SegmentRecord* find_segment(Run& run, const char* name);
SegmentRecord* segment_of(Run& run, uint32_t number);
uint32_t segment_of_address(Run& run, ValuePair pair, uint32_t scale);
BoundsRecord* add_bounds(Run& run, const char* name, uint32_t low, uint32_t high, uint32_t init);
BoundsRecord* find_bounds(Run& run, const char* name);
void add_data(Run& run, uint32_t address, uint32_t size, const uint8_t* bytes, uint32_t segment);
// As add_data, for readers that deliver an image as many small records: a record that
// continues the last block of the data list, itself made by add_data_piece (same segment
// number, starting right at its end, neither empty, ending below 4 GiB), is appended to
// that block instead of becoming a record of its own. Normalisation gives the same result
// as for separate records (it splits them again where they could differ), while a large
// image costs one buffer instead of a record per line.
void add_data_piece(Run& run, uint32_t address, uint32_t size, const uint8_t* bytes,
                    uint32_t segment);

// The file with that number, or null for 0 or a number beyond the list.
FileRecord* file_of(Run& run, uint32_t number);
// The segment's name, or "" for 0 or a number beyond the list.
const char* segment_name(Run& run, uint32_t number);
