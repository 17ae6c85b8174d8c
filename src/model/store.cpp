#include "model/store.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <strings.h>

#include "common/alert.h"
#include "common/options.h"

Store store;

namespace {

const size_t STRIP_LIMIT = 263; // characters kept of a name whose extension is removed

// The name as the file index holds it: without its extension when -e is on.
std::string file_key(const char* name) {
    std::string key = name;
    if (options.strip_extensions) {
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

void Store::reset() {
    *this = Store();
}

void begin_read_allowance(const char* file, uint64_t file_size, unsigned message) {
    ReadAllowance& a = store.allowance;
    a.message = message;
    a.file = file;
    a.file_size = file_size;
    a.limit = 2 * file_size + READ_ALLOWANCE_SLACK;
    a.used = 0;
    a.side_file_limit = a.limit;
    a.side_file_used = 0;
}

void end_read_allowance() {
    store.allowance = ReadAllowance();
}

void charge_read_allowance(uint64_t count) {
    ReadAllowance& a = store.allowance;
    a.used += count;
    if (a.used <= a.limit) return;
    std::string file = a.file;
    std::string size = std::to_string(a.file_size), limit = std::to_string(a.limit);
    unsigned number = a.message;
    end_read_allowance();
    fatal_message(number, file.c_str(), size.c_str(), limit.c_str());
}

bool visit_side_file(const std::string& identity, uint64_t regular_size) {
    ReadAllowance& a = store.allowance;
    auto [at, first] = a.side_files.emplace(identity, false);
    if (first && a.limit != UINT64_MAX) {
        uint64_t again = std::min((SIDE_FILE_READINGS - 1) * regular_size, SIDE_FILE_REREADING);
        a.side_file_limit += regular_size + again;
    }
    return !at->second;
}

void charge_side_file_read(uint64_t bytes) {
    ReadAllowance& a = store.allowance;
    if (a.limit == UINT64_MAX) return;
    a.side_file_used += bytes;
    if (a.side_file_used <= a.side_file_limit) return;
    std::string file = a.file, limit = std::to_string(a.side_file_limit);
    end_read_allowance();
    fatal_message(425, file.c_str(), limit.c_str());
}

void refuse_side_file(const std::string& identity) {
    store.allowance.side_files[identity] = true;
}

uint32_t add_file(const char* name) {
    std::string key = file_key(name);
    if (FileRecord** found = store.file_names.find(key)) return (*found)->number;
    charge_read_allowance(1);
    FileRecord& file = store.file_pool.emplace_back();
    file.name = std::move(key);
    store.file_names.insert(file.name, &file);
    store.files.append(&file);
    file.number = store.files.count();
    return file.number;
}

FileRecord* find_file(const char* name) {
    if (!name) return nullptr;
    FileRecord** found = store.file_names.find(file_key(name));
    return found ? *found : nullptr;
}

void add_symbol(const char* name, uint32_t value, uint32_t segment, uint32_t file, uint32_t flags) {
    charge_read_allowance(1);
    SymbolRecord& symbol = store.symbol_pool.emplace_back();
    symbol.name = name;
    symbol.value = value;
    symbol.segment = segment;
    symbol.file = file;
    symbol.flags = flags;
    store.symbol_names.insert(symbol.name, &symbol);
    store.symbol_values.insert(value, &symbol);
    if (FileRecord* owner = file_of(file)) ++owner->symbol_count;
    store.symbols.append(&symbol);
}

SymbolRecord* find_symbol(const char* name) {
    SymbolRecord** found = store.symbol_names.find(name);
    return found ? *found : nullptr;
}

SymbolRecord* find_symbol_by_value(uint32_t value) {
    SymbolRecord** found = store.symbol_values.find(value);
    return found ? *found : nullptr;
}

SymbolRecord* find_file_symbol(const char* file_name, const char* symbol_name) {
    FileRecord* file = find_file(file_name);
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

bool lookup_symbol(const char* name, ValuePair* out) {
    return symbol_location(find_symbol(name), out);
}

bool lookup_file_symbol(const char* file_name, const char* symbol_name, ValuePair* out) {
    return symbol_location(find_file_symbol(file_name, symbol_name), out);
}

void add_line(uint32_t line, uint32_t address, uint32_t segment, uint32_t file, uint32_t kind) {
    charge_read_allowance(1);
    LineRecord& record = store.line_pool.emplace_back();
    record.line = line;
    record.address = address;
    record.segment = segment;
    record.file = file;
    record.kind = kind;
    if (FileRecord* owner = file_of(file)) ++owner->line_count;
    store.lines.append(&record);
}

void add_segment(const char* name, uint32_t address, uint32_t size, uint32_t load_address,
                 uint32_t space) {
    charge_read_allowance(1);
    SegmentRecord& segment = store.segment_pool.emplace_back();
    segment.name = name;
    segment.address = address;
    segment.size = size;
    segment.load_address = load_address;
    segment.space = space;
    store.segments.append(&segment);
}

SegmentRecord* find_segment(const char* name) {
    for (SegmentRecord* segment : store.segments)
        if (segment->name == name) return segment;
    return nullptr;
}

SegmentRecord* segment_of(uint32_t number) {
    if (number == 0 || number > store.segments.count()) return nullptr;
    return store.segments[number - 1];
}

FileRecord* file_of(uint32_t number) {
    if (number == 0 || number > store.files.count()) return nullptr;
    return store.files[number - 1];
}

const char* segment_name(uint32_t number) {
    SegmentRecord* segment = segment_of(number);
    return segment ? segment->name.c_str() : "";
}

uint32_t segment_of_address(ValuePair pair, uint32_t scale) {
    uint32_t scaled = pair.value * scale;
    for (uint32_t k = 0; k < store.segments.count(); ++k) {
        const SegmentRecord* segment = store.segments[k];
        if (segment->space == pair.segment && segment->address <= scaled &&
            scaled < segment->address + segment->size)
            return k + 1;
    }
    return pair.segment;
}

BoundsRecord* add_bounds(const char* name, uint32_t low, uint32_t high, uint32_t init) {
    charge_read_allowance(1);
    BoundsRecord& bounds = store.bounds_pool.emplace_back();
    bounds.name = name;
    bounds.low = low;
    bounds.high = high;
    bounds.init = init;
    store.bounds.append(&bounds);
    return &bounds;
}

BoundsRecord* find_bounds(const char* name) {
    for (BoundsRecord* bounds : store.bounds)
        if (bounds->name == name) return bounds;
    return nullptr;
}

void add_data(uint32_t address, uint32_t size, const uint8_t* bytes, uint32_t segment) {
    charge_read_allowance(uint64_t(size) + 1);
    DataBlock& block = store.data_pool.emplace_back();
    block.address = address;
    block.size = size;
    if (size) block.bytes.assign(bytes, bytes + size);
    block.segment = segment;
    store.data.append(&block);
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

void add_data_piece(uint32_t address, uint32_t size, const uint8_t* bytes, uint32_t segment) {
    DataBlock* last = store.data.empty() ? nullptr : store.data[store.data.count() - 1];
    uint64_t end = uint64_t(address) + size;
    if (last && !last->pieces.empty() && size != 0 && last->size != 0 && last->segment == segment &&
        uint64_t(last->address) + last->size == address && end <= UINT32_MAX) {
        charge_read_allowance(size);
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
    add_data(address, size, bytes, segment);
    store.data[store.data.count() - 1]->pieces.push_back({size, 1});
}
