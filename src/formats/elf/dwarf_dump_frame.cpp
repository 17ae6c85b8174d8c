// The DWARF dump's call frame information (.debug_frame): common information entries of
// versions 1 (DWARF 2), 3 and 4, the description entries that name them, and the
// instructions of both.
#include "common/alert.h"
#include "formats/elf/dwarf_dump.h"
#include "formats/elf/dwarf_frames.h"

namespace dwarf {

void DwarfDump::dump_frames() {
    sections_.load(FRAME);
    if (!heading(FRAME)) return;
    FrameReader frames(sections_, address_size_);
    FrameEntry e;
    while (!frames.done()) {
        FrameReader::Next next = frames.next(&e);
        if (next == FrameReader::Next::STOP) return;
        if (next == FrameReader::Next::SKIP) continue;
        const bool common = e.kind == FrameEntry::COMMON;
        printf("\n%s @ 0x%08lX\n", common ? "Common Information Entry" : "Frame Description Entry",
               static_cast<unsigned long>(e.offset));
        if (e.state == FrameEntry::TOO_SHORT) continue;
        if (!common) {
            printf("size=%lu CIE_pointer=0x%08lX location range=0x%08llX..0x%08llX\n",
                   static_cast<unsigned long>(e.length), static_cast<unsigned long>(e.id),
                   static_cast<unsigned long long>(e.location),
                   static_cast<unsigned long long>(e.location + e.range));
            if (e.state == FrameEntry::WHOLE)
                print_instructions(frames.instructions(), e.end, e.cie, e.address_size, e.location,
                                   656);
            continue;
        }
        printf("size=%lu ver=%u\nAugmentation: ", static_cast<unsigned long>(e.length),
               e.cie.version);
        if (e.state == FrameEntry::CUT) continue;
        if (e.state == FrameEntry::AUGMENTED) {
            printf("\"%s\" (unknown)\n", e.augmentation.c_str());
            continue;
        }
        printf("None\n");
        if (e.state != FrameEntry::WHOLE) continue;
        if (e.cie.version >= 4)
            printf("addrsize=%u, segsize=%u, ", e.cie.address_size, e.cie.segment_size);
        printf("code align=%llu, data align=%lld, return col=%d\n",
               static_cast<unsigned long long>(e.cie.code_align),
               static_cast<long long>(e.cie.data_align), int(e.cie.return_column));
        print_instructions(frames.instructions(), e.end, e.cie, e.address_size, 0, 652);
    }
    frames.finish();
}

// The instructions of an entry up to end, each on its own line; overrun is the message
// for instructions that run past the entry.
void DwarfDump::print_instructions(ByteReader& in, uint64_t end, const CommonEntry& cie,
                                   unsigned address_size, uint64_t location, unsigned overrun) {
    const unsigned version = frame_names_version(cie.version);
    FrameInstruction ins;
    while (in.ok() && in.position() < end) {
        InstructionRead read = read_instruction(run, in, end, cie, address_size,
                                                sections_[FRAME].name, &location, &ins);
        printf("        %s", CFA.full(ins.opcode, version));
        if (read == InstructionRead::UNKNOWN) {
            printf("\n");
            return;
        }
        for (unsigned k = 0; k < 2 && ins.kinds[k] != FrameOperand::NONE; ++k) {
            const uint64_t value = ins.values[k];
            printf(k == 0 ? " (" : ", ");
            switch (ins.kinds[k]) {
            case FrameOperand::REGISTER:
            case FrameOperand::LOW_REGISTER:
                printf("r%llu", static_cast<unsigned long long>(value));
                break;
            case FrameOperand::FACTORED:
            case FrameOperand::FACTORED_SIGNED:
            case FrameOperand::NEGATIVE_FACTORED:
                printf("%lld", static_cast<long long>(value));
                break;
            case FrameOperand::ADDRESS:
                printf("0x%08llX", static_cast<unsigned long long>(value));
                break;
            case FrameOperand::DELTA1:
            case FrameOperand::DELTA2:
            case FrameOperand::DELTA4:
            case FrameOperand::DELTA8:
            case FrameOperand::LOW_DELTA:
                printf("%llu, loc -> 0x%08llX", static_cast<unsigned long long>(value),
                       static_cast<unsigned long long>(ins.location));
                break;
            default: printf("%llu", static_cast<unsigned long long>(value)); break;
            }
            if (k == 1 || ins.kinds[1] == FrameOperand::NONE) printf(")");
        }
        printf("\n");
        if (read == InstructionRead::OVERRUN) {
            message(run.messages, overrun);
            return;
        }
    }
}

} // namespace dwarf
