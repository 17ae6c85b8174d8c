// DWARF version 2 line-number programs, one per unit: a header naming the unit's
// directories and files, then the rows of the store's line records of those files.
#include <unordered_map>

#include "common/sort.h"
#include "formats/elf/dwarf.h"
#include "formats/elf/dwarf_constants.h"
#include "model/run.h"
#include "model/store.h"

namespace {

// Fixed header parameters.
constexpr uint8_t MINIMUM_INSTRUCTION_LENGTH = 1;
constexpr uint8_t DEFAULT_IS_STMT = 1;
constexpr int LINE_BASE = -5;
constexpr int LINE_RANGE = 15;
constexpr uint8_t OPCODE_BASE = 10;
// Operands (as ULEB counts) of the standard opcodes 1 to 9.
constexpr uint8_t STANDARD_OPCODE_LENGTHS[OPCODE_BASE - 1] = {0, 1, 1, 1, 1, 0, 0, 0, 0};
// The largest address advance a special opcode carries, (255 - 10) / 15, which is also
// what DW_LNS_const_add_pc adds.
constexpr uint32_t MAX_SPECIAL_ADVANCE = (255 - OPCODE_BASE) / LINE_RANGE;

int compare_u32(uint32_t a, uint32_t b) {
    return a < b ? -1 : a > b ? 1 : 0;
}

int by_address(const LineRecord* a, const LineRecord* b) {
    if (int c = compare_u32(a->address, b->address)) return c;
    return compare_u32(a->line, b->line);
}

// The state-machine registers the program follows.
struct LineState {
    uint32_t address = 0;
    uint32_t file = 1;
    uint32_t line = 1;
};

void extended(ByteWriter& out, DwarfLineExtendedOpcode opcode, const ByteWriter& operands) {
    out.u8(0);
    out.uleb128(1 + operands.size());
    out.u8(opcode);
    out.bytes(operands.bytes().data(), operands.size());
}

void write_header(ByteWriter& out, const UnitFiles& unit, size_t* header_length_at) {
    out.u16(2); // version
    *header_length_at = out.size();
    out.u32(0);
    out.u8(MINIMUM_INSTRUCTION_LENGTH);
    out.u8(DEFAULT_IS_STMT);
    out.u8(static_cast<uint8_t>(LINE_BASE));
    out.u8(LINE_RANGE);
    out.u8(OPCODE_BASE);
    for (uint8_t length : STANDARD_OPCODE_LENGTHS)
        out.uleb128(length);
    for (size_t k = 1; k < unit.directories.size(); ++k)
        out.cstring(unit.directories[k]);
    out.u8(0);
    for (size_t k = 1; k < unit.files.size(); ++k) {
        out.cstring(unit.files[k].name);
        out.uleb128(unit.files[k].directory);
        out.uleb128(0); // modification time
        out.uleb128(0); // length
    }
    out.u8(0);
    out.patch(*header_length_at, out.size() - *header_length_at - 4, 4);
}

// One row: from the state to the record's address and line.
void write_row(ByteWriter& out, LineState& state, const LineRecord& record, uint8_t address_size) {
    uint32_t address_delta = record.address - state.address;
    int64_t line_delta = int64_t(record.line) - int64_t(state.line);
    if (line_delta == 0) {
        // A line met again ends the sequence.
        out.u8(DW_LNS_advance_pc);
        out.uleb128(address_delta);
        extended(out, DW_LNE_end_sequence, ByteWriter(out.order()));
        state = LineState();
        return;
    }
    if (state.address == 0) {
        out.u8(DW_LNS_advance_line);
        out.sleb128(line_delta);
        ByteWriter operand(out.order());
        put_address(operand, record.address, address_size);
        extended(out, DW_LNE_set_address, operand);
        out.u8(DW_LNS_copy);
    } else {
        uint32_t advance = address_delta / MINIMUM_INSTRUCTION_LENGTH;
        if (advance >= MAX_SPECIAL_ADVANCE && advance < 2 * MAX_SPECIAL_ADVANCE) {
            out.u8(DW_LNS_const_add_pc);
            advance -= MAX_SPECIAL_ADVANCE;
        } else if (advance >= 2 * MAX_SPECIAL_ADVANCE) {
            out.u8(DW_LNS_advance_pc);
            out.uleb128(advance);
            advance = 0;
        }
        if (line_delta > LINE_BASE + LINE_RANGE - 1 || line_delta < LINE_BASE) {
            out.u8(DW_LNS_advance_line);
            out.sleb128(line_delta);
            line_delta = 0;
        }
        out.u8(static_cast<uint8_t>((line_delta - LINE_BASE) + LINE_RANGE * advance + OPCODE_BASE));
    }
    state.address = record.address;
    state.line = record.line;
}

} // namespace

void put_address(ByteWriter& out, uint64_t address, uint8_t address_size) {
    if (address_size == 1 || address_size == 2 || address_size == 4 || address_size == 8)
        out.uint(address, address_size);
}

SortedLines::SortedLines(Run& run) {
    // The records' pointers are sorted, not copies of their keys: this runs while the
    // whole model is held, and a large program has a million rows.
    order_.reserve(run.store.lines.count());
    for (const LineRecord* line : run.store.lines)
        order_.push_back(line);
    sort_items(order_, by_address);
    by_file_.resize(run.store.files.count() + 1);
    std::vector<uint32_t> counts(by_file_.size());
    for (const LineRecord* line : order_)
        if (line->file < counts.size()) ++counts[line->file];
    for (size_t file = 0; file < counts.size(); ++file)
        by_file_[file].reserve(counts[file]);
    for (uint32_t k = 0; k < order_.size(); ++k) {
        if (order_[k]->file < by_file_.size()) by_file_[order_[k]->file].push_back(k);
    }
}

const std::vector<uint32_t>& SortedLines::of_file(uint32_t file) const {
    return file < by_file_.size() ? by_file_[file] : none_;
}

void write_line_program(ByteWriter& line, const UnitFiles& unit, const SortedLines& lines,
                        uint8_t address_size, AddressRange* range) {
    ByteWriter out(line.order());
    out.u32(0); // unit_length
    size_t header_length_at = 0;
    write_header(out, unit, &header_length_at);

    // The entry of each store file, the last one linked to it winning; and the records
    // of those files in the run's order. Records of files the unit does not name are
    // skipped, so only these are walked.
    std::unordered_map<uint32_t, uint32_t> entry_of_file;
    std::vector<uint32_t> positions;
    for (uint32_t k = 1; k < unit.files.size(); ++k) {
        uint32_t file = unit.files[k].file;
        if (file == 0) continue;
        auto [slot, added] = entry_of_file.emplace(file, k);
        if (!added) {
            slot->second = k;
            continue;
        }
        const std::vector<uint32_t>& of_file = lines.of_file(file);
        positions.insert(positions.end(), of_file.begin(), of_file.end());
    }
    if (entry_of_file.size() > 1)
        sort_items(positions, [](uint32_t a, uint32_t b) { return compare_u32(a, b); });

    LineState state;
    for (uint32_t position : positions) {
        const LineRecord& record = lines.at(position);
        uint32_t index = entry_of_file[record.file];
        if (index != state.file) {
            out.u8(DW_LNS_set_file);
            out.uleb128(index);
            state.file = index;
        }
        range->take(record.address);
        write_row(out, state, record, address_size);
    }
    out.patch(0, out.size() - 4, 4);
    line.bytes(out.bytes().data(), out.size());
}
