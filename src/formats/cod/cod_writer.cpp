// The .COD writer: the directory, memory map, code pages, line table and file names, and
// the order of the file's tables; the symbol tables are cod_symbols.cpp's.
#include <algorithm>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "common/options.h"
#include "common/osdep.h"
#include "common/sort.h"
#include "formats/cod/cod_writer.h"
#include "model/run.h"
#include "model/store.h"

namespace {

constexpr size_t MEMORY_MAP_BLOCK_ENTRIES = 4; // the rest of a map block stays zero
constexpr uint32_t CODE_TYPE = 1;
constexpr const char* COMPILER_NAME = "NORVALE";
constexpr const char* NOTICE_TEXT = "symvert, symbol file converter";
constexpr uint8_t LINE_FILE_CHANGE = 0xFF;
constexpr uint8_t LINE_WITHOUT_CODE = 0x90;
constexpr uint8_t LINE_FIRST_ADDRESS = 0x80;
constexpr uint8_t LINE_FURTHER_ADDRESS = 0;
// Line numbers and addresses are 16-bit fields of a line entry: the lines without code
// are filled in up to the highest line number the field holds, and one line gives
// entries for at most as many addresses as the field tells apart.
constexpr uint32_t LINE_NUMBER_LIMIT = 0xFFFF;
constexpr uint32_t LINE_ADDRESS_LIMIT = 0x10000;

// Directory.

void fill_directory(Run& run, CodDirectory& directory, const char* output_name) {
    static const char* const MONTHS[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    put_text(directory.source, output_name);
    tm when{};
    if (now_calendar(&when)) {
        char date[16];
        snprintf(date, sizeof date, "%02d%s%02d", when.tm_mday % 100, MONTHS[when.tm_mon % 12],
                 (when.tm_year % 100 + 100) % 100);
        put_text(directory.date, date);
        directory.time = static_cast<uint16_t>(when.tm_hour * 100 + when.tm_min);
    }
    put_text(directory.compiler, COMPILER_NAME);
    put_text(directory.notice, NOTICE_TEXT);
    directory.code_type = CODE_TYPE;
    put_text(directory.processor, run.options.processor_name);
}

// Memory map and code pages.

void write_memory_map(Run& run, BlockFile& file, CodDirectory& directory) {
    TableWriter map(file, directory.memory_map,
                    MEMORY_MAP_BLOCK_ENTRIES * record_size<CodMemoryRange>());
    for (const DataBlock* block : run.store.data)
        map.add(CodMemoryRange{static_cast<uint16_t>(block->address),
                               static_cast<uint16_t>(block->address + block->size - 1)});
    map.finish();
}

// The bytes of the data blocks, in store order, gathered into one page at a time; a
// page is written when the bytes move on to another one, so a page met again later is
// written again and its index entry then names the later block.
class PageWriter {
  public:
    PageWriter(BlockFile& file, CodDirectory& directory) : file_(file), directory_(directory) {}

    void add(uint32_t address, const uint8_t* bytes, uint32_t size) {
        while (size != 0) {
            uint32_t offset = address % COD_BLOCK_SIZE;
            uint32_t page = address / COD_BLOCK_SIZE;
            if (!open_ || page != page_) {
                flush();
                page_ = page;
                open_ = true;
            }
            uint32_t count = std::min<uint32_t>(size, COD_BLOCK_SIZE - offset);
            memcpy(page_bytes_ + offset, bytes, count);
            address += count;
            bytes += count;
            size -= count;
        }
    }

    void flush() {
        if (!open_) return;
        uint32_t block = file_.append(page_bytes_);
        if (page_ < CODE_INDEX_ENTRIES) directory_.code_index[page_] = static_cast<uint16_t>(block);
        memset(page_bytes_, 0, sizeof page_bytes_);
        open_ = false;
    }

  private:
    BlockFile& file_;
    CodDirectory& directory_;
    uint8_t page_bytes_[COD_BLOCK_SIZE] = {};
    uint32_t page_ = 0;
    bool open_ = false;
};

void write_code_pages(Run& run, BlockFile& file, CodDirectory& directory) {
    PageWriter pages(file, directory);
    for (const DataBlock* block : run.store.data)
        pages.add(block->address, block->bytes.data(),
                  static_cast<uint32_t>(std::min<size_t>(block->size, block->bytes.size())));
    pages.flush();
}

// Line table.

// A line record or a symbol placed by address; a line's code reaches up to the next
// item when that is a line too.
struct LineItem {
    uint32_t address;
    uint32_t line;
    uint32_t position; // of the line record in the writing order; SYMBOL_ITEM for a symbol
};
constexpr uint32_t SYMBOL_ITEM = UINT32_MAX;

int compare_numbers(uint32_t a, uint32_t b) {
    return a < b ? -1 : a > b ? 1 : 0;
}

// By address; at one address the lines first, by line number, then in writing order
// (so that of two records of one line at one address the first one written covers only
// that address).
inline int compare_line_items(const LineItem& a, const LineItem& b) {
    if (int c = compare_numbers(a.address, b.address)) return c;
    bool a_symbol = a.position == SYMBOL_ITEM;
    bool b_symbol = b.position == SYMBOL_ITEM;
    if (a_symbol != b_symbol) return a_symbol ? 1 : -1;
    if (a_symbol) return 0;
    if (int c = compare_numbers(a.line, b.line)) return c;
    return compare_numbers(a.position, b.position);
}

// The line records in writing order (by file, then line) with the number of addresses
// each one's code covers (0 when the next item by address is a symbol or there is none).
struct LineSpans {
    std::vector<const LineRecord*> lines;
    std::vector<uint32_t> spans;
};

LineSpans line_spans(Run& run) {
    LineSpans result;
    std::vector<LineItem> items;
    size_t lines = 0, symbols = 0;
    for (const FileRecord* file : run.store.files) {
        lines += file->lines.size();
        symbols += file->symbols.size();
    }
    items.reserve(lines + symbols);
    result.lines.reserve(lines);
    for (const FileRecord* file : run.store.files) {
        for (const LineRecord* line : file->lines) {
            items.push_back(
                {line->address, line->line, static_cast<uint32_t>(result.lines.size())});
            result.lines.push_back(line);
        }
        for (const SymbolRecord* symbol : file->symbols)
            items.push_back({symbol->value, 0, SYMBOL_ITEM});
    }
    sort_items(items,
               [](const LineItem& a, const LineItem& b) { return compare_line_items(a, b); });
    result.spans.assign(result.lines.size(), 0);
    for (size_t k = 0; k < items.size(); ++k) {
        if (items[k].position == SYMBOL_ITEM) continue;
        if (k + 1 < items.size() && items[k + 1].position != SYMBOL_ITEM)
            result.spans[items[k].position] = items[k + 1].address - items[k].address;
    }
    return result;
}

class LineTableWriter {
  public:
    LineTableWriter(Run& run, BlockFile& file, CodDirectory& directory)
        : run(run), table_(file, directory.lines),
          file_index_(run.store.files.count() + 1, NO_INDEX) {}

    void write(const LineSpans& spans) {
        const SegmentRecord* code = find_segment(run, "CODE");
        uint32_t code_segment = 0;
        for (uint32_t k = 0; code && k < run.store.segments.count(); ++k)
            if (run.store.segments[k] == code) code_segment = k + 1;
        uint32_t previous_file = 0;
        uint32_t index = 0;
        uint32_t remembered = 0;
        for (size_t k = 0; k < spans.lines.size(); ++k) {
            const LineRecord& line = *spans.lines[k];
            if (k == 0 || line.file != previous_file) {
                previous_file = line.file;
                index = name_index(line.file);
                entry(index, LINE_FILE_CHANGE, 0, 0);
                remembered = 0;
            }
            uint32_t last_without_code = std::min(line.line - 1, LINE_NUMBER_LIMIT);
            for (uint32_t n = remembered + 1; line.line != 0 && n <= last_without_code; ++n)
                entry(index, LINE_WITHOUT_CODE, n, 0);
            if (code_segment != 0 && line.segment == code_segment) {
                uint32_t count =
                    std::min(std::max<uint32_t>(spans.spans[k], 1), LINE_ADDRESS_LIMIT);
                for (uint32_t a = 0; a < count; ++a)
                    entry(index, a == 0 ? LINE_FIRST_ADDRESS : LINE_FURTHER_ADDRESS, line.line,
                          line.address + a);
            }
            remembered = line.line;
        }
    }

    void finish() { table_.finish(); }

    // The files in the order the line table first names them.
    const std::vector<const FileRecord*>& names() const { return names_; }

  private:
    static constexpr uint32_t NO_INDEX = UINT32_MAX;

    uint32_t name_index(uint32_t file) {
        if (file_index_[file] == NO_INDEX) {
            file_index_[file] = static_cast<uint32_t>(names_.size());
            names_.push_back(file_of(run, file));
        }
        return file_index_[file];
    }

    void entry(uint32_t file, uint8_t flags, uint32_t line, uint32_t address) {
        table_.add(CodLineEntry{static_cast<uint8_t>(file), flags, static_cast<uint16_t>(line),
                                static_cast<uint16_t>(address)});
    }

    Run& run;
    TableWriter table_;
    std::vector<uint32_t> file_index_; // by file number
    std::vector<const FileRecord*> names_;
};

// File names.

void write_file_names(BlockFile& file, CodDirectory& directory,
                      const std::vector<const FileRecord*>& names) {
    TableWriter table(file, directory.names);
    for (const FileRecord* record : names) {
        CodFileName entry;
        put_text(entry.name, record->name);
        table.add(entry);
    }
    table.finish();
}

} // namespace

int cod_write(Run& run, FILE* out, const char* name) {
    if (run.options.program_classes.empty()) run.options.program_classes = {"CODE", "ENTRY"};
    CodDirectory directory;
    fill_directory(run, directory, name);
    BlockFile file(run.messages, out, name);
    file.start();
    write_memory_map(run, file, directory);
    write_code_pages(run, file, directory);
    LineTableWriter lines(run, file, directory);
    lines.write(line_spans(run));
    lines.finish();
    write_file_names(file, directory, lines.names());
    write_symbol_tables(run, file, directory);
    file.write_directory(directory);
    // Its fields are laid out in both byte orders, and the run's order is left at the one
    // used last: the little-endian table entries of the directory.
    run.options.big_endian = false;
    return 1;
}
