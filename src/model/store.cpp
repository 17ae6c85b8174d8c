#include "model/store.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <strings.h>

#include "common/alert.h"
#include "common/options.h"
#include "model/run.h"

namespace {

const size_t STRIP_LIMIT = 263; // characters kept of a name whose extension is removed

// The name as the file index holds it: without its extension when -e is on.
std::string file_key(Run& run, const char* name) {
    std::string key = name;
    if (run.options.strip_extensions) {
        size_t dot = key.rfind('.');
        if (dot != std::string::npos) key.resize(dot);
        if (key.size() > STRIP_LIMIT) key.resize(STRIP_LIMIT);
    }
    return key;
}

} // namespace

namespace {

char lower(char c) {
    return static_cast<char>(tolower(static_cast<unsigned char>(c)));
}

template <typename Map> size_t fnv1a(std::string_view name, Map map) {
    uint64_t h = 1469598103934665603ull;
    for (char c : name) {
        h ^= static_cast<unsigned char>(map(c));
        h *= 1099511628211ull;
    }
    return static_cast<size_t>(h);
}

} // namespace

size_t NameHash::operator()(std::string_view s) const {
    return fnv1a(s, [](char c) { return c; });
}

size_t FileNameHash::operator()(std::string_view s) const {
    return fnv1a(s, lower);
}

bool FileNameEqual::operator()(std::string_view a, std::string_view b) const {
    if (a.size() != b.size()) return false;
    for (size_t k = 0; k < a.size(); ++k)
        if (lower(a[k]) != lower(b[k])) return false;
    return true;
}

void begin_read_allowance(Run& run, const char* file, uint64_t file_size, unsigned message) {
    ReadAllowance& a = run.store.allowance;
    a.message = message;
    a.file = file;
    a.file_size = file_size;
    a.limit = 2 * file_size + READ_ALLOWANCE_SLACK;
    a.used = 0;
    a.side_file_limit = a.limit;
    a.side_file_used = 0;
}

void end_read_allowance(Run& run) {
    run.store.allowance = ReadAllowance();
}

void charge_read_allowance(Run& run, uint64_t count) {
    ReadAllowance& a = run.store.allowance;
    a.used += count;
    if (a.used <= a.limit) return;
    std::string file = a.file;
    std::string size = std::to_string(a.file_size), limit = std::to_string(a.limit);
    unsigned number = a.message;
    end_read_allowance(run);
    fatal_message(run.messages, number, file.c_str(), size.c_str(), limit.c_str());
}

bool visit_side_file(Run& run, const std::string& identity, uint64_t regular_size) {
    ReadAllowance& a = run.store.allowance;
    auto [at, first] = a.side_files.emplace(identity, false);
    if (first && a.limit != UINT64_MAX) {
        uint64_t again = std::min((SIDE_FILE_READINGS - 1) * regular_size, SIDE_FILE_REREADING);
        a.side_file_limit += regular_size + again;
    }
    return !at->second;
}

void charge_side_file_read(Run& run, uint64_t bytes) {
    ReadAllowance& a = run.store.allowance;
    if (a.limit == UINT64_MAX) return;
    a.side_file_used += bytes;
    if (a.side_file_used <= a.side_file_limit) return;
    std::string file = a.file, limit = std::to_string(a.side_file_limit);
    end_read_allowance(run);
    fatal_message(run.messages, 425, file.c_str(), limit.c_str());
}

void refuse_side_file(Run& run, const std::string& identity) {
    run.store.allowance.side_files[identity] = true;
}

uint32_t add_file(Run& run, const char* name) {
    std::string key = file_key(run, name);
    if (FileRecord** found = run.store.file_names.find(key)) return (*found)->number;
    charge_read_allowance(run, 1);
    FileRecord& file = run.store.file_pool.emplace_back();
    file.name = std::move(key);
    run.store.file_names.insert(file.name, &file);
    run.store.files.append(&file);
    file.number = run.store.files.count();
    return file.number;
}

FileRecord* find_file(Run& run, const char* name) {
    if (!name) return nullptr;
    FileRecord** found = run.store.file_names.find(file_key(run, name));
    return found ? *found : nullptr;
}

void add_symbol(Run& run, const char* name, uint32_t value, uint32_t segment, uint32_t file,
                uint32_t flags) {
    charge_read_allowance(run, 1);
    SymbolRecord& symbol = run.store.symbol_pool.emplace_back();
    symbol.name = name;
    symbol.value = value;
    symbol.segment = segment;
    symbol.file = file;
    symbol.flags = flags;
    run.store.symbol_names.insert(symbol.name, &symbol);
    run.store.symbol_values.insert(value, &symbol);
    if (FileRecord* owner = file_of(run, file)) ++owner->symbol_count;
    run.store.symbols.append(&symbol);
}

SymbolRecord* find_symbol(Run& run, const char* name) {
    SymbolRecord** found = run.store.symbol_names.find(name);
    return found ? *found : nullptr;
}

SymbolRecord* find_symbol_by_value(Run& run, uint32_t value) {
    SymbolRecord** found = run.store.symbol_values.find(value);
    return found ? *found : nullptr;
}

SymbolRecord* find_file_symbol(Run& run, const char* file_name, const char* symbol_name) {
    FileRecord* file = find_file(run, file_name);
    if (!file) return nullptr;
    for (SymbolRecord* symbol : file->symbols)
        if (symbol->name == symbol_name) return symbol;
    return nullptr;
}

namespace {

// The symbol's value and segment, when there is a symbol.
bool symbol_location(const SymbolRecord* symbol, ValuePair* out) {
    if (!symbol) return false;
    out->value = symbol->value;
    out->segment = symbol->segment;
    return true;
}

} // namespace

bool lookup_symbol(Run& run, const char* name, ValuePair* out) {
    return symbol_location(find_symbol(run, name), out);
}

bool lookup_file_symbol(Run& run, const char* file_name, const char* symbol_name, ValuePair* out) {
    return symbol_location(find_file_symbol(run, file_name, symbol_name), out);
}

void add_line(Run& run, uint32_t line, uint32_t address, uint32_t segment, uint32_t file,
              uint32_t kind) {
    charge_read_allowance(run, 1);
    LineRecord& record = run.store.line_pool.emplace_back();
    record.line = line;
    record.address = address;
    record.segment = segment;
    record.file = file;
    record.kind = kind;
    if (FileRecord* owner = file_of(run, file)) ++owner->line_count;
    run.store.lines.append(&record);
}

void add_segment(Run& run, const char* name, uint32_t address, uint32_t size, uint32_t load_address,
                 uint32_t space) {
    charge_read_allowance(run, 1);
    SegmentRecord& segment = run.store.segment_pool.emplace_back();
    segment.name = name;
    segment.address = address;
    segment.size = size;
    segment.load_address = load_address;
    segment.space = space;
    run.store.segments.append(&segment);
}

SegmentRecord* find_segment(Run& run, const char* name) {
    for (SegmentRecord* segment : run.store.segments)
        if (segment->name == name) return segment;
    return nullptr;
}

SegmentRecord* segment_of(Run& run, uint32_t number) {
    if (number == 0 || number > run.store.segments.count()) return nullptr;
    return run.store.segments[number - 1];
}

FileRecord* file_of(Run& run, uint32_t number) {
    if (number == 0 || number > run.store.files.count()) return nullptr;
    return run.store.files[number - 1];
}

const char* segment_name(Run& run, uint32_t number) {
    SegmentRecord* segment = segment_of(run, number);
    return segment ? segment->name.c_str() : "";
}

uint32_t segment_of_address(Run& run, ValuePair pair, uint32_t scale) {
    uint32_t scaled = pair.value * scale;
    for (uint32_t k = 0; k < run.store.segments.count(); ++k) {
        const SegmentRecord* segment = run.store.segments[k];
        if (segment->space == pair.segment && segment->address <= scaled &&
            scaled < segment->address + segment->size)
            return k + 1;
    }
    return pair.segment;
}

BoundsRecord* add_bounds(Run& run, const char* name, uint32_t low, uint32_t high, uint32_t init) {
    charge_read_allowance(run, 1);
    BoundsRecord& bounds = run.store.bounds_pool.emplace_back();
    bounds.name = name;
    bounds.low = low;
    bounds.high = high;
    bounds.init = init;
    run.store.bounds.append(&bounds);
    return &bounds;
}

BoundsRecord* find_bounds(Run& run, const char* name) {
    for (BoundsRecord* bounds : run.store.bounds)
        if (bounds->name == name) return bounds;
    return nullptr;
}

void add_data(Run& run, uint32_t address, uint32_t size, const uint8_t* bytes, uint32_t segment) {
    charge_read_allowance(run, uint64_t(size) + 1);
    DataBlock& block = run.store.data_pool.emplace_back();
    block.address = address;
    block.size = size;
    if (size) block.bytes.assign(bytes, bytes + size);
    block.segment = segment;
    run.store.data.append(&block);
}

std::vector<uint32_t> DataBlock::piece_sizes() const {
    std::vector<uint32_t> sizes;
    sizes.reserve(piece_count());
    for (const PieceRun& run : pieces)
        sizes.insert(sizes.end(), run.count, run.size);
    return sizes;
}

size_t DataBlock::piece_count() const {
    size_t count = 0;
    for (const PieceRun& run : pieces)
        count += run.count;
    return count;
}

namespace {

// Room for `more` bytes at the end of a block that keeps growing by small pieces. While
// the buffer is small it grows eightfold: fewer copies and fewer fresh pages touched,
// and the untouched part of a reservation costs no memory.
void make_room(std::vector<uint8_t>& bytes, size_t more) {
    size_t needed = bytes.size() + more;
    if (needed <= bytes.capacity()) return;
    size_t capacity = bytes.capacity() < 4096 ? 4096 : bytes.capacity();
    const size_t quick_limit = size_t(64) << 20;
    while (capacity < needed)
        capacity = capacity < quick_limit ? capacity * 8 : capacity * 2;
    bytes.reserve(capacity);
}

} // namespace

void add_data_piece(Run& run, uint32_t address, uint32_t size, const uint8_t* bytes,
                    uint32_t segment) {
    DataBlock* last = run.store.data.empty() ? nullptr : run.store.data[run.store.data.count() - 1];
    uint64_t end = uint64_t(address) + size;
    if (last && !last->pieces.empty() && size != 0 && last->size != 0 && last->segment == segment &&
        uint64_t(last->address) + last->size == address && end <= UINT32_MAX) {
        charge_read_allowance(run, size);
        make_room(last->bytes, size);
        last->bytes.insert(last->bytes.end(), bytes, bytes + size);
        last->size += size;
        DataBlock::PieceRun& run = last->pieces.back();
        if (run.size == size && run.count < UINT32_MAX)
            ++run.count;
        else
            last->pieces.push_back({size, 1});
        return;
    }
    add_data(run, address, size, bytes, segment);
    run.store.data[run.store.data.count() - 1]->pieces.push_back({size, 1});
}
