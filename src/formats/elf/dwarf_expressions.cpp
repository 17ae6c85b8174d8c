// Reading location expression operations and call frame instructions.
#include "formats/elf/dwarf_expressions.h"

#include <algorithm>

#include "common/alert.h"
#include "formats/elf/dwarf_constants.h"
#include "model/run.h"

namespace dwarf {

namespace {

// One operand of an operation; a block's bytes are passed over.
uint64_t read_operand(ByteReader& in, Operand kind, uint64_t end, const UnitContext& unit,
                      Operation& op) {
    auto block = [&](uint64_t length) {
        op.block_offset = in.position();
        if (in.ok() && length <= end - std::min(end, in.position()))
            in.skip(length);
        else
            in.fail();
        return length;
    };
    switch (kind) {
    case Operand::NONE: return 0;
    case Operand::ADDR: return in.uint(unit.address_size);
    case Operand::REF: return in.uint(unit.version == 2 ? unit.address_size : unit.offset_size);
    case Operand::U8: return in.u8();
    case Operand::S8: return static_cast<uint64_t>(int64_t(int8_t(in.u8())));
    case Operand::U16: return in.u16();
    case Operand::S16: return static_cast<uint64_t>(int64_t(int16_t(in.u16())));
    case Operand::U32: return in.u32();
    case Operand::S32: return static_cast<uint64_t>(int64_t(int32_t(in.u32())));
    case Operand::U64: return in.u64();
    case Operand::ULEB: return in.uleb128();
    case Operand::SLEB: return static_cast<uint64_t>(in.sleb128());
    case Operand::BLOCK: return block(in.uleb128());
    case Operand::BLOCK1: return block(in.u8());
    }
    return 0;
}

} // namespace

OperationRead read_operation(Run& run, ByteReader& in, uint64_t end, const UnitContext& unit,
                             const char* where, Operation* op) {
    *op = Operation();
    op->offset = in.position();
    op->opcode = in.u8();
    const OperationLayout& layout = operation_layout(op->opcode);
    if (!layout.known && unit.version >= 3) {
        message(run.messages, 423, where, "operation", unsigned(op->opcode), unsigned(op->offset));
        return OperationRead::UNKNOWN;
    }
    if (layout.known) {
        op->kinds[0] = layout.first;
        op->kinds[1] = layout.second;
        for (unsigned k = 0; k < 2; ++k)
            op->values[k] = read_operand(in, op->kinds[k], end, unit, *op);
    }
    return in.ok() && in.position() <= end ? OperationRead::DONE : OperationRead::OVERRUN;
}

InstructionRead read_instruction(Run& run, ByteReader& in, uint64_t end, const CommonEntry& cie,
                                 unsigned address_size, const char* section, uint64_t* location,
                                 FrameInstruction* instruction) {
    FrameInstruction& ins = *instruction;
    ins = FrameInstruction();
    ins.offset = in.position();
    ins.byte = in.u8();
    const uint8_t primary = ins.byte & 0xC0, low = ins.byte & 0x3F;
    ins.opcode = primary ? primary : ins.byte;
    const FrameLayout& layout = frame_layout(ins.opcode);
    if (!layout.known || !CFA.has(ins.opcode, frame_names_version(cie.version))) {
        message(run.messages, 423, section, "call frame instruction", unsigned(ins.byte),
                unsigned(ins.offset));
        return InstructionRead::UNKNOWN;
    }
    // Offsets are factored by the data alignment; the product keeps its low 64 bits.
    auto factored = [&](uint64_t value) { return value * static_cast<uint64_t>(cie.data_align); };
    const FrameOperand kinds[2] = {layout.first, layout.second};
    for (unsigned k = 0; k < 2; ++k) {
        ins.kinds[k] = kinds[k];
        uint64_t& value = ins.values[k];
        switch (kinds[k]) {
        case FrameOperand::NONE: break;
        case FrameOperand::ADDRESS: *location = value = in.uint(address_size); break;
        case FrameOperand::DELTA1: value = in.u8(); break;
        case FrameOperand::DELTA2: value = in.u16(); break;
        case FrameOperand::DELTA4: value = in.u32(); break;
        case FrameOperand::DELTA8: value = in.u64(); break;
        case FrameOperand::LOW_DELTA:
        case FrameOperand::LOW_REGISTER: value = low; break;
        case FrameOperand::REGISTER:
        case FrameOperand::ULEB: value = in.uleb128(); break;
        case FrameOperand::FACTORED: value = factored(in.uleb128()); break;
        case FrameOperand::FACTORED_SIGNED:
            value = factored(static_cast<uint64_t>(in.sleb128()));
            break;
        case FrameOperand::NEGATIVE_FACTORED: value = 0 - factored(in.uleb128()); break;
        case FrameOperand::BLOCK:
            value = in.uleb128();
            in.skip(value);
            break;
        }
        switch (kinds[k]) {
        case FrameOperand::DELTA1:
        case FrameOperand::DELTA2:
        case FrameOperand::DELTA4:
        case FrameOperand::DELTA8:
        case FrameOperand::LOW_DELTA: *location += value * cie.code_align; break;
        default: break;
        }
    }
    ins.location = *location;
    return in.ok() && in.position() <= end ? InstructionRead::DONE : InstructionRead::OVERRUN;
}

} // namespace dwarf
