// The DWARF dump's call frame information (.debug_frame): common information entries of
// versions 1 (DWARF 2), 3 and 4, the description entries that name them, and the
// instructions of both.
#include <string>

#include "common/alert.h"
#include "formats/elf/dwarf_constants.h"
#include "formats/elf/dwarf_dump_parts.h"

namespace dwarf_dump_parts {

namespace {

// What a description entry takes from its common entry.
struct CommonEntry {
    unsigned version = 1;
    unsigned address_size = 0; // 0: the one read last (before version 4)
    uint64_t code_align = 0;
    int64_t data_align = 0;
};

// The version whose names and instructions a common entry of this version uses.
unsigned names_version(unsigned cie_version) {
    return cie_version <= 1 ? 2 : cie_version;
}

bool known_cie_version(unsigned version) {
    return version == 1 || version == 3 || version == 4;
}

// The fields of a common entry after its id, up to its instructions; false when they
// cannot be read or the augmentation is not empty.
bool read_common(ByteReader& in, CommonEntry* cie, std::string* augmentation,
                 unsigned* segment_size, unsigned* return_column) {
    cie->version = in.u8();
    *augmentation = in.cstring(SIZE_MAX);
    if (!in.ok() || !augmentation->empty() || !known_cie_version(cie->version)) return false;
    if (cie->version >= 4) {
        cie->address_size = in.u8();
        *segment_size = in.u8();
    }
    cie->code_align = in.uleb128();
    cie->data_align = in.sleb128();
    *return_column = cie->version == 1 ? in.u8() : unsigned(in.uleb128());
    return in.ok();
}

} // namespace

void DwarfDump::dump_frames() {
    Slot& slot = slots_[FRAME];
    load(slot);
    if (!heading(slot)) return;
    ByteReader in = reader(slot);
    const uint64_t size = in.size();
    while (in.position() + 4 <= size) {
        uint64_t start = in.position();
        uint32_t length = in.u32();
        if (length == 0xFFFFFFFF) {
            message(421, "call frame entry", unsigned(start));
            uint64_t wide = in.u64();
            if (!in.ok() || wide > in.remaining()) return;
            in.seek(in.position() + wide);
            continue;
        }
        uint64_t end = start + 4 + uint64_t(length);
        if (end > size) {
            message(657, unsigned(length));
            return;
        }
        uint32_t id = in.u32();
        if (id == 0xFFFFFFFF) {
            printf("\nCommon Information Entry @ 0x%08lX\n", static_cast<unsigned long>(start));
            if (length < 7) {
                message(651);
            } else {
                CommonEntry cie;
                cie.version = in.u8();
                printf("size=%lu ver=%u\nAugmentation: ", static_cast<unsigned long>(length),
                       cie.version);
                std::string augmentation = in.cstring(SIZE_MAX);
                if (!in.ok() || in.position() > end) {
                    message(652);
                } else if (!augmentation.empty()) {
                    printf("\"%s\" (unknown)\n", augmentation.c_str());
                } else if (!known_cie_version(cie.version)) {
                    printf("None\n");
                    message(420, "common information entry", unsigned(start), "version",
                            cie.version);
                } else {
                    printf("None\n");
                    unsigned segment_size = 0;
                    if (cie.version >= 4) {
                        cie.address_size = in.u8();
                        segment_size = in.u8();
                    }
                    cie.code_align = in.uleb128();
                    cie.data_align = in.sleb128();
                    uint64_t return_column = cie.version == 1 ? in.u8() : in.uleb128();
                    if (!in.ok() || in.position() > end) {
                        message(652);
                    } else {
                        if (cie.version >= 4)
                            printf("addrsize=%u, segsize=%u, ", cie.address_size, segment_size);
                        printf("code align=%llu, data align=%lld, return col=%d\n",
                               static_cast<unsigned long long>(cie.code_align),
                               static_cast<long long>(cie.data_align), int(return_column));
                        dump_frame_instructions(
                            in, end, cie.code_align, cie.data_align, 0, names_version(cie.version),
                            cie.address_size ? cie.address_size : address_size_, 652);
                    }
                }
            }
        } else {
            printf("\nFrame Description Entry @ 0x%08lX\n", static_cast<unsigned long>(start));
            if (length < 9) {
                message(653);
            } else {
                // The common entry the pointer names gives the alignment factors, and
                // from version 4 on the address size.
                ByteReader common = reader(slot);
                common.seek(uint64_t(id) + 4);
                CommonEntry cie;
                std::string augmentation;
                unsigned segment_size = 0, return_column = 0;
                bool pointer_past = uint64_t(id) + 8 > size;
                bool found = !pointer_past && common.u32() == 0xFFFFFFFF;
                bool usable = found && read_common(common, &cie, &augmentation, &segment_size,
                                                   &return_column);
                const unsigned address_size =
                    usable && cie.address_size ? cie.address_size : address_size_;
                uint64_t location = in.uint(address_size);
                uint64_t range = in.uint(address_size);
                printf("size=%lu CIE_pointer=0x%08lX location range=0x%08llX..0x%08llX\n",
                       static_cast<unsigned long>(length), static_cast<unsigned long>(id),
                       static_cast<unsigned long long>(location),
                       static_cast<unsigned long long>(location + range));
                if (pointer_past)
                    message(654);
                else if (!usable)
                    message(655, 0xFFFFFFFFu);
                else if (in.ok() && in.position() <= end)
                    dump_frame_instructions(in, end, cie.code_align, cie.data_align, location,
                                            names_version(cie.version), address_size, 656);
                else
                    message(656);
            }
        }
        in.seek(end);
    }
    if (in.position() < size) message(422, slot.name, unsigned(in.position()), "section");
}

// The instructions of an entry up to end, each on its own line; overrun is the message
// for instructions that run past the entry.
void DwarfDump::dump_frame_instructions(ByteReader& in, uint64_t end, uint64_t code_align,
                                        int64_t data_align, uint64_t location, unsigned version,
                                        unsigned address_size, unsigned overrun) {
    auto factored = [&](int64_t value) { return static_cast<long long>(value * data_align); };
    while (in.ok() && in.position() < end) {
        const uint64_t at = in.position();
        uint8_t byte = in.u8();
        uint8_t primary = byte & 0xC0;
        uint8_t low = byte & 0x3F;
        const uint8_t instruction = primary ? primary : byte;
        printf("        %s", CFA.full(instruction, version));
        switch (CFA.has(instruction, version) ? instruction : 0xFF) {
        case DW_CFA_advance_loc:
            location += low * code_align;
            printf(" (%u, loc -> 0x%08llX)", unsigned(low),
                   static_cast<unsigned long long>(location));
            break;
        case DW_CFA_offset:
            printf(" (r%u, %lld)", unsigned(low), factored(int64_t(in.uleb128())));
            break;
        case DW_CFA_restore: printf(" (r%u)", unsigned(low)); break;
        case DW_CFA_set_loc:
            location = in.uint(address_size);
            printf(" (0x%08llX)", static_cast<unsigned long long>(location));
            break;
        case DW_CFA_advance_loc1:
        case DW_CFA_advance_loc2:
        case DW_CFA_advance_loc4: {
            uint64_t delta = in.uint(byte == DW_CFA_advance_loc1   ? 1
                                     : byte == DW_CFA_advance_loc2 ? 2
                                                                   : 4);
            location += delta * code_align;
            printf(" (%llu, loc -> 0x%08llX)", static_cast<unsigned long long>(delta),
                   static_cast<unsigned long long>(location));
            break;
        }
        case DW_CFA_offset_extended:
        case DW_CFA_val_offset: {
            uint64_t reg = in.uleb128();
            int64_t offset = int64_t(in.uleb128());
            printf(" (r%llu, %lld)", static_cast<unsigned long long>(reg), factored(offset));
            break;
        }
        case DW_CFA_offset_extended_sf:
        case DW_CFA_val_offset_sf: {
            uint64_t reg = in.uleb128();
            int64_t offset = in.sleb128();
            printf(" (r%llu, %lld)", static_cast<unsigned long long>(reg), factored(offset));
            break;
        }
        case DW_CFA_restore_extended:
        case DW_CFA_undefined:
        case DW_CFA_same_value:
        case DW_CFA_def_cfa_register:
            printf(" (r%llu)", static_cast<unsigned long long>(in.uleb128()));
            break;
        case DW_CFA_register: {
            uint64_t reg = in.uleb128();
            uint64_t other = in.uleb128();
            printf(" (r%llu, r%llu)", static_cast<unsigned long long>(reg),
                   static_cast<unsigned long long>(other));
            break;
        }
        case DW_CFA_def_cfa: {
            uint64_t reg = in.uleb128();
            uint64_t offset = in.uleb128();
            printf(" (r%llu, %llu)", static_cast<unsigned long long>(reg),
                   static_cast<unsigned long long>(offset));
            break;
        }
        case DW_CFA_def_cfa_sf: {
            uint64_t reg = in.uleb128();
            int64_t offset = in.sleb128();
            printf(" (r%llu, %lld)", static_cast<unsigned long long>(reg), factored(offset));
            break;
        }
        case DW_CFA_def_cfa_offset:
            printf(" (%llu)", static_cast<unsigned long long>(in.uleb128()));
            break;
        case DW_CFA_def_cfa_offset_sf: printf(" (%lld)", factored(in.sleb128())); break;
        case DW_CFA_def_cfa_expression: {
            uint64_t length = in.uleb128();
            in.skip(length);
            printf(" (%llu)", static_cast<unsigned long long>(length));
            break;
        }
        case DW_CFA_expression:
        case DW_CFA_val_expression: {
            uint64_t reg = in.uleb128();
            uint64_t length = in.uleb128();
            in.skip(length);
            printf(" (r%llu, %llu)", static_cast<unsigned long long>(reg),
                   static_cast<unsigned long long>(length));
            break;
        }
        case DW_CFA_nop:
        case DW_CFA_remember_state:
        case DW_CFA_restore_state: break;
        default:
            // An instruction this version does not know: its operands cannot be told apart.
            printf("\n");
            message(423, slots_[FRAME].name, "call frame instruction", unsigned(byte),
                    unsigned(at));
            return;
        }
        printf("\n");
        if (!in.ok() || in.position() > end) {
            message(overrun);
            return;
        }
    }
}

} // namespace dwarf_dump_parts
