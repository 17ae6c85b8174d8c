// P&E map files: detection, the reader and the writer. The file is a header (the magic
// text, the record count, the file count), the source file names, then one record per
// address carrying a symbol name, a source line, or both. Counts and line numbers are
// big-endian, addresses little-endian, whatever the run's byte order.
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "common/alert.h"
#include "common/binio.h"
#include "common/sort.h"
#include "formats/descriptors.h"
#include "model/run.h"
#include "model/store.h"

namespace {

// ---- Record layouts ----

constexpr char PE_MAGIC[] = "P&E Microcomputer Map File\x1A";
constexpr size_t PE_MAGIC_SIZE = sizeof PE_MAGIC - 1;

struct PeHeader {
    uint8_t magic[PE_MAGIC_SIZE] = {};
    uint16_t record_count = 0;
    uint8_t file_count = 0;
};
template <class F> constexpr void layout(F& f, PeHeader& r) {
    f("magic", r.magic);
    f("record_count", r.record_count, ByteOrder::big);
    f("file_count", r.file_count);
}

// The fixed part of an address record; the symbol name follows, NUL-terminated (empty
// when the record has no symbol).
struct PeRecord {
    uint32_t address = 0;
    uint8_t file = 0;  // the file's position in the header, 0 for none
    uint16_t line = 0; // 0 for no line
};
template <class F> constexpr void layout(F& f, PeRecord& r) {
    f("address", r.address, ByteOrder::little);
    f("file", r.file);
    f("line", r.line, ByteOrder::big);
}

// The most a file can number: one byte of files, two bytes of records.
constexpr size_t PE_MAX_FILES = 255;
constexpr size_t PE_MAX_RECORDS = 65535;

// A name is held in 152 bytes when read: 151 characters and the terminator. The reader
// cuts a longer name there and reads on past its terminator; the writer cuts every name
// to the same length, so that what symvert writes it reads back whole.
constexpr size_t PE_NAME_LIMIT = 151;

constexpr unsigned PE_WRITE_FAILED = 413;
constexpr unsigned PE_SHORT_READ = 1037;
constexpr unsigned PE_TOO_LARGE = 414;

// ---- Detection ----

bool pe_detect(Run&, FILE* in) {
    uint8_t magic[PE_MAGIC_SIZE];
    return ByteReader(in).read_at(0, magic, sizeof magic) &&
           memcmp(magic, PE_MAGIC, sizeof magic) == 0;
}

// ---- Reading ----

// The magic is not checked again: a file read with -i pe is taken as it is. The counts
// only bound the loops; each name and record is read once its bytes are known to be
// there, so a count that promises more than the file holds ends the read at the first
// piece that is missing, with what came before it kept in the store.
int pe_read(Run& run, FILE* in, const char*) {
    ByteReader input(in);
    PeHeader header;
    if (!input.record(&header)) {
        message(run.messages, PE_SHORT_READ, "P&E file header");
        return 0;
    }
    for (unsigned k = 0; k < header.file_count; ++k) {
        std::string name = input.cstring(PE_NAME_LIMIT);
        if (!input.ok()) {
            message(run.messages, PE_SHORT_READ, "P&E file name");
            return 0;
        }
        add_file(run, name.c_str());
    }
    for (unsigned k = 0; k < header.record_count; ++k) {
        PeRecord record;
        input.record(&record);
        std::string name = input.cstring(PE_NAME_LIMIT);
        if (!input.ok()) {
            message(run.messages, PE_SHORT_READ, "P&E record");
            return 0;
        }
        // The file byte is the store's file number as it stands.
        if (!name.empty()) add_symbol(run, name.c_str(), record.address, 0, record.file, 0);
        if (record.line != 0) add_line(run, record.line, record.address, 0, record.file, 2);
    }
    return 1;
}

// ---- Writing ----

// What the writer orders symbols and line records by: file number, segment number, then
// value or address. File and segment numbers compare as differences, values and
// addresses as unsigned numbers.
struct PlaceKey {
    uint32_t file, segment, address;
};

int compare_places(const PlaceKey& a, const PlaceKey& b) {
    if (int32_t c = static_cast<int32_t>(a.file - b.file)) return c;
    if (int32_t c = static_cast<int32_t>(a.segment - b.segment)) return c;
    return a.address < b.address ? -1 : a.address > b.address ? 1 : 0;
}

PlaceKey place_of(const SymbolRecord* symbol) {
    return {symbol->file, symbol->segment, symbol->value};
}

PlaceKey place_of(const LineRecord* line) {
    return {line->file, line->segment, line->address};
}

// Sorts a store list in place. The keys are sorted beside the record pointers, so
// comparing does not chase pointers; the order, equal places included, is the one the
// comparison gives over the records themselves.
template <typename Record> void sort_by_place(Vector<Record*>& records) {
    struct Keyed {
        PlaceKey key;
        Record* record;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(records.count());
    for (Record* record : records)
        keyed.push_back({place_of(record), record});
    sort_items(keyed, [](const Keyed& a, const Keyed& b) { return compare_places(a.key, b.key); });
    for (size_t k = 0; k < keyed.size(); ++k)
        records[static_cast<uint32_t>(k)] = keyed[k].record;
}

// One address record to be written: a symbol, a line record, or both.
struct MergedRecord {
    const SymbolRecord* symbol;
    const LineRecord* line;
};

// Walks the two sorted lists side by side. A symbol and a line record at the same file,
// segment and address share a record; otherwise the one that sorts first makes a record
// of its own.
std::vector<MergedRecord> merge_records(Run& run) {
    std::vector<MergedRecord> merged;
    merged.reserve(run.store.symbols.count() + run.store.lines.count());
    uint32_t s = 0, l = 0;
    while (s < run.store.symbols.count() && l < run.store.lines.count()) {
        const SymbolRecord* symbol = run.store.symbols[s];
        const LineRecord* line = run.store.lines[l];
        int order = compare_places(place_of(line), place_of(symbol));
        if (order == 0) {
            merged.push_back({symbol, line});
            ++s, ++l;
        } else if (order < 0) {
            merged.push_back({nullptr, line});
            ++l;
        } else {
            merged.push_back({symbol, nullptr});
            ++s;
        }
    }
    for (; s < run.store.symbols.count(); ++s)
        merged.push_back({run.store.symbols[s], nullptr});
    for (; l < run.store.lines.count(); ++l)
        merged.push_back({nullptr, run.store.lines[l]});
    return merged;
}

// A name as the file carries it: upper-cased and cut to what a reader's buffer holds.
std::string map_name(const std::string& name) {
    std::string text = name.substr(0, PE_NAME_LIMIT);
    for (char& c : text)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return text;
}

bool has_records(const FileRecord* file) {
    return file->symbol_count != 0 || file->line_count != 0;
}

// The files that have symbols or line records are listed, in file-list order; each
// one's output_index becomes its position in the list (from 1), every other file's 0.
void write_file_names(Run& run, ByteWriter& out) {
    uint32_t position = 0;
    for (FileRecord* file : run.store.files) {
        file->output_index = has_records(file) ? ++position : 0;
        if (file->output_index != 0) out.cstring(map_name(file->name));
    }
}

void write_record(Run& run, ByteWriter& out, const MergedRecord& merged) {
    PeRecord record;
    if (merged.line) {
        const FileRecord* file = file_of(run, merged.line->file);
        record.address = merged.line->address;
        record.file = static_cast<uint8_t>(file ? file->output_index : 0);
        record.line = static_cast<uint16_t>(merged.line->line);
    } else {
        record.address = merged.symbol->value;
    }
    out.record(record);
    out.cstring(merged.symbol ? map_name(merged.symbol->name) : std::string());
}

// A store that needs more files or records than the counts can number is refused with a
// message, and the output is left empty: counts written modulo 256 or 65536 would make
// the reader take names for records and records for names.
int pe_write(Run& run, FILE* out, const char* name) {
    sort_by_place(run.store.symbols);
    sort_by_place(run.store.lines);
    std::vector<MergedRecord> records = merge_records(run);
    size_t file_count = 0;
    for (const FileRecord* file : run.store.files)
        file_count += has_records(file);
    if (file_count > PE_MAX_FILES || records.size() > PE_MAX_RECORDS) {
        message(run.messages, PE_TOO_LARGE, name, static_cast<unsigned>(file_count),
                static_cast<unsigned>(records.size()));
        return 0;
    }

    ByteWriter bytes;
    PeHeader header;
    memcpy(header.magic, PE_MAGIC, PE_MAGIC_SIZE);
    header.record_count = static_cast<uint16_t>(records.size());
    header.file_count = static_cast<uint8_t>(file_count);
    bytes.record(header);
    write_file_names(run, bytes);
    for (const MergedRecord& record : records)
        write_record(run, bytes, record);

    OutputFile output(run.messages, out, name, PE_WRITE_FAILED);
    output.write(bytes.bytes());
    output.finish();
    return 1;
}

} // namespace

// The format has no dump.
const FormatDescriptor pe_format = {
    pe_detect, pe_read, pe_write, dump_placeholder, "P&E", "pe", "pe", true,
};
