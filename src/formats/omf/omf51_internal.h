// What the OMF-51 and Extended OMF-51 modules share: the record types and the record
// tables that drive their readers and dumps, the debug items, and the module writer
// with its pending debug-item record.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "common/binio.h"
#include "formats/omf/omfrecord.h"

struct Run;

enum OmfRecordType : uint8_t {
    OMF_MODULE_HEADER = 0x02,
    OMF_MODULE_END = 0x04,
    OMF_CONTENT = 0x06,
    OMF_SCOPE_DEF = 0x10,
    OMF_DEBUG_ITEM = 0x12,
    OMF_KEIL_TYPEDEF = 0x20,
    OMF_KEIL_DEBUG_ITEM = 0x22,
    OMF_SOURCE_FILE_NAME = 0x24,
    OMF_KEIL_INFO = 0x70,
};

// Debug item definition types and scope block types.
enum : uint8_t { OMF_LOCAL = 0, OMF_PUBLIC = 1, OMF_SEGMENT_SYMBOLS = 2, OMF_LINES = 3 };
enum : uint8_t {
    OMF_MODULE_BLOCK = 0,
    OMF_DO_BLOCK = 1,
    OMF_PROCEDURE_BLOCK = 2,
    OMF_MODULE_END_BLOCK = 3,
    OMF_DO_END_BLOCK = 4,
    OMF_PROCEDURE_END_BLOCK = 5,
};

// Info byte of a symbol item.
enum : uint8_t {
    OMF_MEMORY_MASK = 0x07,
    OMF_BANK_GIVEN = 0x20,
    OMF_VARIABLE = 0x40,
    OMF_INDIRECT = 0x80
};
constexpr unsigned OMF_MEMORY_NUMBER = 5; // a symbol in no memory type's segment

// Memory type names: CODE, XDATA, DATA, IDATA, BIT; the dump adds NUMBER, ???6, ???7.
extern const char* const omf_memory_types[8];

// What a read keeps from one record to the next.
struct OmfReadState {
    uint32_t current_file = 0;
};

// One row of a record table: what a record type is called, how it is dumped and read
// (null: nothing).
struct OmfRecordKind {
    const char* name;
    uint8_t type;
    void (*dump)(Run& run, const OmfRecord& record);
    void (*read)(Run& run, const OmfRecord& record, OmfReadState& state);
};
using OmfRecordTable = std::vector<OmfRecordKind>;

// The thirteen rows of OMF-51, which Extended OMF-51 extends.
const OmfRecordTable& omf51_record_table();

// Reads every record into the store (message 1042 with format_name for a type the
// table does not have: the read fails). Missing memory-type segments are added first.
int read_omf_file(Run& run, FILE* in, const OmfRecordTable& table, const char* format_name);
// Prints the title, then every record as the table says.
bool dump_omf_file(Run& run, FILE* in, const char* title, const OmfRecordTable& table);

// Debug items, typed (Extended OMF-51: the type index named after the memory type).
void dump_debug_items(const OmfRecord& record, bool typed);
void read_debug_items(Run& run, const OmfRecord& record, OmfReadState& state);
// The name of a type index in a debug item.
std::string item_type_name(unsigned index);

// The memory type of a store segment: by the first letter of its name; NUMBER when it
// has none or no type begins with it.
unsigned omf_memory_type(Run& run, uint32_t segment);

// How a format writes names: module and scope names upper-cased, cut to module_limit;
// item names cut to item_limit, upper-cased or kept, with or without their first "_".
struct OmfNameRules {
    size_t module_limit;
    size_t item_limit;
    bool items_upper_case;
    bool items_lose_underscore;
};

// Writes a module's records. Debug items gather in a pending record that is written
// out before any other record, and before an item of another record or definition type
// or once it holds more than 500 bytes.
class OmfWriter {
  public:
    OmfWriter(Run& run, FILE* out, const char* name, const OmfNameRules& rules);

    // A record; the pending one is written out first.
    void record(uint8_t type, const std::vector<uint8_t>& content);
    // A record written at once, the pending one left pending (for before_flush).
    void record_now(uint8_t type, const std::vector<uint8_t>& content) {
        records_.write(type, content);
    }
    void module_header(const std::string& name);
    void module_end(const std::string& name);
    void scope(uint8_t block, const std::string& name);
    void content(uint32_t address, const uint8_t* bytes, size_t count);
    // Whether an item of that record and definition type would join the pending record.
    bool joins_pending(uint8_t type, uint8_t definition) const;
    void item(uint8_t type, uint8_t definition, const std::vector<uint8_t>& item);
    void flush();
    void finish() { flush(), output_.finish(); }

    // Appends a name string by the rules for module and scope names or for item names.
    void name_string(ByteWriter& out, const std::string& name, bool module) const;
    // A symbol item: segment id 0, info, offset, type index, name.
    std::vector<uint8_t> symbol_item(uint8_t info, uint32_t offset, uint8_t type_index,
                                     const std::string& name) const;
    static std::vector<uint8_t> line_item(uint32_t address, uint32_t line);

    // Called before the pending record is written out (Extended OMF-51: the source file
    // name and type definitions the items need).
    std::function<void()> before_flush;

  private:
    Run& run;
    OutputFile output_;
    RecordWriter records_;
    OmfNameRules rules_;
    bool pending_ = false;
    uint8_t pending_type_ = 0;
    std::vector<uint8_t> pending_content_;
};

// A module name: the file name without the text from its last ".".
std::string without_extension(const std::string& name);

// The OMF-51 writer (also Extended OMF-51's without a type model): per file its scope,
// debug items and lines, the program data after the first file's scope.
void write_plain_omf(Run& run, OmfWriter& writer);
