// NORVALE Software symbol files (".sym"): the tool chain linker's plain-text list of
// segments, symbols, source files and line numbers. Each object file it names brings in
// that module's symbolic-debug side file.
//
//   %segments                      segment lines follow: name low high [class [load]]
//   text 0 7FF CODE
//   %locals                        every later symbol is local
//   main.obj                       file lines: later records belong to this file
//   main 1A0 0 text                symbol: name value (ignored) [segment|ABS]
//   12 1A0 0 text                  line: number value (ignored) [segment|ABS]
//   __Ltext 0 / __Htext 7FF        bounds of the program section "text"
#include <cctype>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/alert.h"
#include "formats/descriptors.h"
#include "formats/native/norval.h"
#include "formats/native/sdb.h"
#include "model/run.h"
#include "model/store.h"
#include "model/type.h"

namespace {

const int LINE_BUFFER = 256; // bytes; a line holds at most 254 characters and its end

// One line of the file, without its line end. No answer at the end of the file, for a
// line longer than the buffer, and for a last line without a line end: reading stops
// there as if the file ended.
bool read_line(FILE* in, std::string& line) {
    char buffer[LINE_BUFFER + 1];
    if (!fgets(buffer, sizeof buffer, in)) return false;
    size_t length = strlen(buffer);
    if (length == 0 || buffer[length - 1] != '\n') return false;
    --length;
    if (length > 0 && buffer[length - 1] == '\r') --length;
    if (length > LINE_BUFFER - 2) return false;
    line.assign(buffer, length);
    return true;
}

// The fields of a line; only the first five are kept, but all are counted.
struct Fields {
    std::string_view at[5];
    size_t count = 0;
};

Fields split_fields(std::string_view line) {
    Fields fields;
    size_t k = 0;
    while (k < line.size()) {
        while (k < line.size() && (line[k] == ' ' || line[k] == '\t'))
            ++k;
        size_t start = k;
        while (k < line.size() && line[k] != ' ' && line[k] != '\t')
            ++k;
        if (k == start) break;
        if (fields.count < 5) fields.at[fields.count] = line.substr(start, k - start);
        ++fields.count;
    }
    return fields;
}

bool is_hex_digit(char c) {
    return isxdigit(static_cast<unsigned char>(c)) != 0;
}

// An optional sign and hexadecimal digits only (a lone sign counts).
bool is_number_field(std::string_view field) {
    size_t k = field[0] == '+' || field[0] == '-' ? 1 : 0;
    for (; k < field.size(); ++k)
        if (!is_hex_digit(field[k])) return false;
    return true;
}

// Reads a hexadecimal number the way "%lx" does with a 32-bit long: optional sign,
// optional "0x", digits; too large a number reads as all ones. No answer when no digit.
bool read_hex(std::string_view field, uint32_t* out) {
    size_t k = 0;
    bool negative = k < field.size() && field[k] == '-';
    if (k < field.size() && (field[k] == '+' || field[k] == '-')) ++k;
    if (k + 2 < field.size() && field[k] == '0' && (field[k + 1] == 'x' || field[k + 1] == 'X') &&
        is_hex_digit(field[k + 2]))
        k += 2;
    if (k >= field.size() || !is_hex_digit(field[k])) return false;
    uint64_t value = 0;
    for (; k < field.size() && is_hex_digit(field[k]); ++k) {
        int c = static_cast<unsigned char>(field[k]);
        value = value * 16 + static_cast<uint64_t>(isdigit(c) ? c - '0' : toupper(c) - 'A' + 10);
        if (value > 0xFFFFFFFFu) value = 0x100000000u;
    }
    uint32_t result = value > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(value);
    *out = negative && value <= 0xFFFFFFFFu ? 0u - result : result;
    return true;
}

// A decimal line number as "%ld" reads it into a 32-bit long.
uint32_t read_decimal(std::string_view field) {
    int64_t value = 0;
    for (size_t k = 0; k < field.size() && isdigit(static_cast<unsigned char>(field[k])); ++k)
        if (value <= INT32_MAX) value = value * 10 + (field[k] - '0');
    return static_cast<uint32_t>(value > INT32_MAX ? INT32_MAX : value);
}

bool names_file(const std::string& line) {
    for (const char* mark : {".obj", ".OBJ", ".c", ".C", ".as", ".AS"})
        if (line.find(mark) != std::string::npos) return true;
    return false;
}

bool names_object(const std::string& line) {
    return line.find(".obj") != std::string::npos || line.find(".OBJ") != std::string::npos;
}

// A linker-defined property of a program section: "__L", "__H", "__B" or "__I" and the
// section's name.
bool is_bounds_name(std::string_view name) {
    return name.size() >= 3 && name[0] == '_' && name[1] == '_' &&
           (name[2] == 'L' || name[2] == 'H' || name[2] == 'B' || name[2] == 'I');
}

struct SymReader {
    SymReader(Run& run, const char* input_name) : run(run), input_name(input_name) {}

    Run& run;
    const char* input_name;
    uint32_t file = 0;
    bool in_segments = false;
    bool in_locals = false;
    ScopeEntry* side_scope = nullptr;
    // Number fields that do not read keep the value read before, as with sscanf.
    uint32_t value = 0;
    uint32_t second = 0;
    // Segment numbers by name, the first segment of a name winning as with find_segment;
    // kept up to date with every segment this reader adds.
    std::unordered_map<std::string, uint32_t> segment_numbers;
    uint32_t segments_seen = 0;
    std::string text; // a field as a C string

    // The number of the first segment of that name, made (empty, in its own space) when
    // there is none.
    uint32_t segment_number(std::string_view name) {
        for (; segments_seen < run.store.segments.count(); ++segments_seen)
            segment_numbers.emplace(run.store.segments[segments_seen]->name, segments_seen + 1);
        text.assign(name);
        auto found = segment_numbers.find(text);
        if (found != segment_numbers.end()) return found->second;
        add_segment(run, text.c_str(), 0, 0, 0, run.store.segments.count() + 1);
        return run.store.segments.count();
    }

    void file_line(const std::string& line) {
        file = add_file(run, line.c_str());
        if (names_object(line))
            side_scope = read_sdb(run, line.c_str());
        else if (side_scope && side_scope->sclass == SC_NO_SIDE_FILE)
            add_filename_entry(run, side_scope, line, 0);
    }

    void bounds(std::string_view name) {
        std::string section(name.substr(3));
        BoundsRecord* record = find_bounds(run, section.c_str());
        if (!record) record = add_bounds(run, section.c_str(), 0, 0, 0);
        switch (name[2]) {
        case 'L': record->low = value; break;
        case 'H': record->high = value; break;
        case 'I': record->init = value; break;
        default: break; // "__B" is not kept
        }
    }

    void record_line(const std::string& line) {
        if (file == 0) file = add_file(run, input_name);
        Fields fields = split_fields(line);
        if (fields.count < 2) return;
        uint32_t segment = 0;
        uint32_t flags = SYM_ABSOLUTE;
        if (fields.count >= 4 && fields.at[3] != "ABS") {
            segment = segment_number(fields.at[3]);
            flags = 0;
        }
        read_hex(fields.at[1], &value);
        // An unreadable third field keeps the earlier line's value, as value does.
        bool has_second = fields.count >= 3;
        if (has_second) read_hex(fields.at[2], &second);
        std::string_view name = fields.at[0];
        if (in_segments) {
            uint32_t load = value;
            if (fields.count >= 5) read_hex(fields.at[4], &load);
            uint32_t size = has_second ? second - value + 1 : 0;
            text.assign(name);
            add_segment(run, text.c_str(), value, size, load, segment);
        } else if (isdigit(static_cast<unsigned char>(name[0]))) {
            add_line(run, read_decimal(name), value, segment, file, 2);
        } else if (is_bounds_name(name)) {
            bounds(name);
        } else {
            text.assign(name);
            add_symbol(run, text.c_str(), value, segment, file,
                       flags | (in_locals ? uint32_t(SYM_LOCAL) : 0u));
        }
    }

    void line(const std::string& line) {
        if (line == "%segments") {
            in_segments = true;
        } else if (line == "%locals") {
            in_segments = false;
            in_locals = true;
        } else if (names_file(line)) {
            file_line(line);
        } else {
            record_line(line);
        }
    }
};

// Each symbol gets the last bounds record, in list order, whose range holds its value.
void assign_bounds(Run& run) {
    if (run.store.bounds.empty()) return;
    for (SymbolRecord* symbol : run.store.symbols)
        for (BoundsRecord* bounds : run.store.bounds)
            if (bounds->low <= symbol->value && symbol->value <= bounds->high)
                symbol->bounds = bounds;
}

bool detect(Run&, FILE* in) {
    std::string line;
    if (!read_line(in, line)) return false;
    if (line == "%locals" || line == "%segments") return true;
    Fields fields = split_fields(line);
    return fields.count >= 3 && is_number_field(fields.at[1]) && is_number_field(fields.at[2]);
}

int read(Run& run, FILE* in, const char* name) {
    SymReader reader(run, name);
    std::string line;
    while (read_line(in, line))
        reader.line(line);
    assign_bounds(run);
    return 1;
}

int compare_u32(uint32_t a, uint32_t b) {
    return a < b ? -1 : a > b ? 1 : 0;
}

int symbol_order(const SymbolRecord* a, const SymbolRecord* b) {
    if (int c = compare_u32(a->file, b->file)) return c;
    if (int c = compare_u32(a->segment, b->segment)) return c;
    return compare_u32(a->value, b->value);
}

int line_order(const LineRecord* a, const LineRecord* b) {
    if (int c = compare_u32(a->file, b->file)) return c;
    if (int c = compare_u32(a->segment, b->segment)) return c;
    return compare_u32(a->address, b->address);
}

bool line_goes_first(const LineRecord* line, const SymbolRecord* symbol) {
    if (line->file != symbol->file) return line->file < symbol->file;
    if (line->segment != symbol->segment) return line->segment < symbol->segment;
    return line->address < symbol->value;
}

struct SymWriter {
    Run& run;
    FILE* out;
    const char* name;
    uint32_t previous_file = 0;
    bool failed = false;

    // The first failed write is reported; the stream stays broken after it.
    void check(int written) {
        if (written >= 0 || failed) return;
        message(run.messages, 413, name);
        failed = true;
    }

    void headers_for(uint32_t file) {
        if (file == previous_file) return;
        previous_file = file;
        if (!run.norval.locals_written) {
            check(fputs("%locals\n", out));
            run.norval.locals_written = true;
        }
        for (uint32_t k = run.norval.last_file_headed + 1; k <= file; ++k)
            if (const FileRecord* record = file_of(run, k))
                check(fprintf(out, "%s\n", record->name.c_str()));
        if (file > run.norval.last_file_headed) run.norval.last_file_headed = file;
    }

    void segment_suffix(uint32_t segment) {
        if (segment_of(run, segment)) check(fprintf(out, " %s", segment_name(run, segment)));
        check(fputc('\n', out));
    }

    void write_line(const LineRecord* line) {
        headers_for(line->file);
        check(fprintf(out, "%ld %lX %X", static_cast<long>(static_cast<int32_t>(line->line)),
                      static_cast<unsigned long>(line->address), line->segment));
        segment_suffix(line->segment);
    }

    void write_symbol(const SymbolRecord* symbol) {
        headers_for(symbol->file);
        if (symbol->flags & SYM_ABSOLUTE) {
            check(fprintf(out, "%s %lX\n", symbol->name.c_str(),
                          static_cast<unsigned long>(symbol->value)));
            return;
        }
        check(fprintf(out, "%s %lX %X", symbol->name.c_str(),
                      static_cast<unsigned long>(symbol->value), symbol->segment));
        segment_suffix(symbol->segment);
    }
};

int write(Run& run, FILE* out, const char* name) {
    run.store.symbols.sort(symbol_order);
    run.store.lines.sort(line_order);
    SymWriter writer{run, out, name};
    uint32_t next_line = 0;
    const uint32_t line_count = run.store.lines.count();
    for (const SymbolRecord* symbol : run.store.symbols) {
        while (next_line < line_count && line_goes_first(run.store.lines[next_line], symbol))
            writer.write_line(run.store.lines[next_line++]);
        writer.write_symbol(symbol);
    }
    while (next_line < line_count)
        writer.write_line(run.store.lines[next_line++]);
    writer.check(fflush(out) == 0 ? 0 : -1);
    return 1;
}

} // namespace

const FormatDescriptor norval_format = {
    detect, read, write, dump_placeholder, "NORVALE Software", "norval", "sym", false,
};
