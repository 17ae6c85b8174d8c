// Location expressions and call frame instructions, each read by the operand layouts of
// its table: an operation or instruction whose layout no version and no vendor gives
// cannot be read past.
#pragma once

#include <cstdint>

#include "common/binio.h"
#include "formats/elf/dwarf_forms.h"
#include "formats/elf/dwarf_tables.h"

struct Run;

namespace dwarf {

// One operation of a location expression: its operands as read (a signed one holds its
// value's bits; a block its length, the bytes lie at block_offset).
struct Operation {
    uint64_t offset = 0;
    uint8_t opcode = 0;
    Operand kinds[2] = {Operand::NONE, Operand::NONE};
    uint64_t values[2] = {0, 0};
    uint64_t block_offset = 0;
};

enum class OperationRead { DONE, OVERRUN, UNKNOWN };

// Reads the operation at the reader's position of an expression ending at end. In a
// structure of version 3 or later an operation that no table row lays out is UNKNOWN
// (said, with the place: where); in one of version 2 it is read without operands, as
// the standard of its version knows none of them.
OperationRead read_operation(Run& run, ByteReader& in, uint64_t end, const UnitContext& unit,
                             const char* where, Operation* op);

// The common information entry's fields that its description entries take.
struct CommonEntry {
    unsigned version = 1;
    unsigned address_size = 0; // 0: not given (before version 4)
    unsigned segment_size = 0;
    uint64_t code_align = 0;
    int64_t data_align = 0;
    uint64_t return_column = 0;
};

// The version whose names and instructions a common entry of this version uses.
inline unsigned frame_names_version(unsigned cie_version) {
    return cie_version <= 1 ? 2 : cie_version;
}

// One call frame instruction, with the location it reaches when it advances.
struct FrameInstruction {
    uint64_t offset = 0;
    uint8_t byte = 0;
    uint8_t opcode = 0; // the byte, or for a primary instruction its high two bits
    FrameOperand kinds[2] = {FrameOperand::NONE, FrameOperand::NONE};
    uint64_t values[2] = {0, 0}; // a factored offset holds its value's bits
    uint64_t location = 0;
};

enum class InstructionRead { DONE, OVERRUN, UNKNOWN };

// Reads the instruction at the reader's position of an entry ending at end, *location
// the entry's location before it. An instruction that the entry's version does not
// define is UNKNOWN (said).
InstructionRead read_instruction(Run& run, ByteReader& in, uint64_t end, const CommonEntry& cie,
                                 unsigned address_size, const char* section, uint64_t* location,
                                 FrameInstruction* instruction);

} // namespace dwarf
