// Line-number programs: the header (with the entry formats of version 5), the directory
// and file entries, and the statement program run opcode by opcode through the state
// machine. The rows are visited, not kept: a sequence of any length takes no memory, and
// a sequence's rows can be visited again from its start.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/binio.h"
#include "formats/elf/dwarf_forms.h"
#include "formats/elf/dwarf_sections.h"

struct Run;

namespace dwarf {

struct LineHeader {
    uint64_t offset = 0; // of the program in .debug_line
    uint32_t length = 0;
    uint64_t end = 0;
    unsigned version = 2;
    unsigned address_size = 4;
    unsigned segment_size = 0;
    uint32_t header_length = 0;
    uint64_t program = 0; // where the statement program begins
    uint8_t min_length = 1;
    uint8_t max_ops = 1;
    bool default_is_stmt = true;
    int8_t line_base = 0;
    uint8_t line_range = 0;
    uint8_t opcode_base = 0;
    std::vector<uint8_t> lengths; // operand counts of opcodes 1 to opcode_base - 1
};

// The standard's operand count of a standard opcode, and whether a program's count for
// it is checked against it (opcodes 1 to 8, and those of version 3 in later programs).
unsigned standard_length(unsigned opcode);
bool checked_length(unsigned opcode, unsigned version);

// The content and form of one field of a version 5 directory or file entry.
struct EntryFormat {
    uint64_t content, form;
};

// A directory or file entry.
struct FileEntry {
    const char* name = nullptr; // nullptr: none given
    size_t name_length = 0;
    uint64_t directory = 0, time = 0, size = 0, md5_high = 0, md5_low = 0;
    bool has_time = false, has_size = false, has_md5 = false;
};

// The state machine's registers.
struct LineState {
    uint64_t address = 0, file = 1, column = 0, op_index = 0;
    int64_t line = 1;
    bool is_stmt = true, basic_block = false;
};

// One opcode of a statement program, as read.
struct LineOp {
    enum Kind { CUT, EMPTY_EXTENDED, EXTENDED, STANDARD, SPECIAL } kind = CUT;
    enum Operand { NONE, ADDRESS, UNSIGNED, SIGNED, FIXED, ARGS, FILE } operand = NONE;
    uint64_t offset = 0;
    uint8_t opcode = 0; // a standard opcode, or an extended one's own
    uint64_t value = 0;
    int64_t signed_value = 0;
    std::string file_name; // of define_file
    uint64_t directory = 0, time = 0, size = 0;
    int64_t line_advance = 0; // of a special opcode
    uint64_t address_advance = 0;
};

// What running an opcode did: NONE, appended a ROW, ended the sequence (END: the row
// appended, the registers not yet reset), ran past the program (OVERRUN), or met an
// extended opcode of length 0 (BAD).
enum class LineStep { NONE, ROW, END, OVERRUN, BAD };

class LineProgramReader {
  public:
    LineProgramReader(const SectionSet& sections, uint64_t offset);
    enum class HeaderRead { OK, UNKNOWN_VERSION, FAILED };
    // The header up to the opcode lengths; the version alone for a version this reader
    // does not know. What is wrong is said.
    HeaderRead header(LineHeader* header);
    const UnitContext& context() const { return context_; }

    // Version 5: the format of the directory or the file entries, how many follow, and
    // each of them.
    bool entry_formats(std::vector<EntryFormat>* formats);
    bool entry_count(uint64_t* count);
    bool entry(const std::vector<EntryFormat>& formats, FileEntry* entry);
    // Versions 2 to 4: the next directory, or file, of the lists that an empty name ends.
    bool next_directory(std::string* name);
    bool next_file(std::string* name, FileEntry* entry);
    // After the entries: false (said) when the header runs past the program, or the
    // program would begin past its end.
    bool start_program();

    // The statement program from start_program() on.
    LineState initial_state() const;
    bool at_end() const { return in_.position() >= header_.end; }
    uint64_t position() const { return in_.position(); }
    LineStep step(LineState* state, LineOp* op) { return execute(in_, state, op); }
    // Says what stopped the program at the opcode at offset: OVERRUN or BAD.
    void complain(LineStep step, uint64_t offset) const;
    // Runs the sequence's opcodes again from its first, from, up to the one at last,
    // giving each row appended with the opcode's offset.
    void replay(uint64_t from, uint64_t last,
                const std::function<void(uint64_t, const LineState&)>& row) const;

  private:
    LineStep execute(ByteReader& in, LineState* state, LineOp* op) const;
    LineStep run_extended(ByteReader& in, LineState& s, LineOp& op) const;
    LineStep run_standard(ByteReader& in, LineState& s, LineOp& op) const;
    void advance(LineState& s, uint64_t operations) const;
    bool fits() const { return in_.ok() && in_.position() <= header_.end; }
    bool entries_fit() const;
    void cut(const char* what) const;

    Run& run_;
    const SectionSet& sections_;
    ByteReader in_;
    LineHeader header_;
    UnitContext context_;
};

} // namespace dwarf
