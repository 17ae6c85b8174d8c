// The DWARF dump's small sections: name lookup (.debug_pubnames), address ranges
// (.debug_aranges), macros (.debug_macinfo) and location lists (.debug_loc), with the
// operations of location expressions, which the lists of version 5 share.
#include <algorithm>
#include <string>

#include "common/alert.h"
#include "formats/elf/dwarf_constants.h"
#include "formats/elf/dwarf_dump_parts.h"

namespace dwarf_dump_parts {

// Starts set `number` of a name-lookup or address-range section at `start`: prints its
// heading and reads its length. False, with its message, when no set can be read there: a
// 64-bit set (421), or a length that cannot hold the set's header (`too_short`).
bool DwarfDump::set_length(ByteReader& in, unsigned number, uint64_t start, const char* what,
                           uint32_t shortest, unsigned too_short, uint32_t* length) {
    printf("\nSet %u @ 0x%08lX\n", number, static_cast<unsigned long>(start));
    *length = in.u32();
    if (*length == 0xFFFFFFFF) {
        message(421, what, unsigned(start));
        return false;
    }
    if (in.ok() && *length < shortest) {
        message(too_short, unsigned(*length));
        return false;
    }
    return true;
}

void DwarfDump::dump_pubnames() {
    Slot& slot = slots_[PUBNAMES];
    load(slot);
    if (!heading(slot)) return;
    ByteReader in = reader(slot);
    for (unsigned number = 1; in.position() < in.size(); ++number) {
        uint64_t start = in.position();
        uint32_t length = 0;
        if (!set_length(in, number, start, "name lookup set", 20, 663, &length)) return;
        uint16_t version = in.u16();
        uint32_t info_offset = in.u32();
        uint32_t info_size = in.u32();
        if (!in.ok()) {
            message(422, slot.name, unsigned(start), "section");
            return;
        }
        printf("size=%lu, ver=%u, offs=0x%08lX, debug size=%lu\n",
               static_cast<unsigned long>(length), unsigned(version),
               static_cast<unsigned long>(info_offset), static_cast<unsigned long>(info_size));
        uint64_t end = std::min<uint64_t>(start + 4 + uint64_t(length), in.size());
        while (in.ok() && in.position() < end) {
            uint32_t offset = in.u32();
            if (!in.ok() || offset == 0) break;
            std::string name = in.cstring(SIZE_MAX);
            if (!in.ok()) break;
            printf("  0x%08lX: \"%s\"\n", static_cast<unsigned long>(offset), name.c_str());
        }
        if (!in.ok()) message(422, slot.name, unsigned(start), "set");
        in = reader(slot);
        in.seek(start + 4 + uint64_t(length));
    }
}

void DwarfDump::dump_aranges() {
    Slot& slot = slots_[ARANGES];
    load(slot);
    if (!heading(slot)) return;
    ByteReader in = reader(slot);
    for (unsigned number = 1; in.position() < in.size(); ++number) {
        uint64_t start = in.position();
        uint32_t length = 0;
        if (!set_length(in, number, start, "address range set", 10, 664, &length)) return;
        uint16_t version = in.u16();
        uint32_t info_offset = in.u32();
        uint8_t address_size = in.u8();
        uint8_t segment_size = in.u8();
        if (!in.ok()) {
            message(422, slot.name, unsigned(start), "section");
            return;
        }
        printf("size=%lu, ver=%u, offs=0x%08lX addrsize=%u, segsize=%u%s\n",
               static_cast<unsigned long>(length), unsigned(version),
               static_cast<unsigned long>(info_offset), unsigned(address_size),
               unsigned(segment_size), segment_size == 0 ? " (flat)" : "");
        // The size read here is the one the sections dumped later read addresses with.
        address_size_ = address_size;
        uint64_t end = std::min<uint64_t>(start + 4 + uint64_t(length), in.size());
        if (known_address_size(address_size)) {
            // The tuples start at a multiple of their size from the section's start.
            uint64_t tuple = 2 * uint64_t(address_size);
            in.seek((in.position() + tuple - 1) / tuple * tuple);
            while (in.position() + tuple <= end) {
                uint64_t address = in.uint(address_size);
                uint64_t range = in.uint(address_size);
                if (!in.ok() || (address == 0 && range == 0)) break;
                printf("  0x%08llX..0x%08llX\n", static_cast<unsigned long long>(address),
                       static_cast<unsigned long long>(address + range));
            }
        }
        in = reader(slot);
        in.seek(start + 4 + uint64_t(length));
    }
}

void DwarfDump::dump_macinfo() {
    Slot& slot = slots_[MACINFO_SLOT];
    load(slot);
    if (!heading(slot)) return;
    ByteReader in = reader(slot);
    unsigned number = 0;
    bool open = false;
    while (in.ok() && in.position() < in.size()) {
        if (!open) {
            printf("\nSet %u @ 0x%08lX\n", ++number, static_cast<unsigned long>(in.position()));
            open = true;
        }
        uint64_t type = in.uleb128();
        if (!in.ok()) break;
        if (type == 0) {
            open = false;
            continue;
        }
        if (type == 3) {
            uint64_t line = in.uleb128();
            uint64_t file = in.uleb128();
            if (!in.ok()) break;
            printf("  %s(%lld, %lld)\n", MACINFO.full(type, 2), static_cast<long long>(line),
                   static_cast<long long>(file));
        } else if (type == 1 || type == 2 || type == 255) {
            uint64_t line = in.uleb128();
            std::string text = in.cstring(SIZE_MAX);
            if (!in.ok()) break;
            printf("  %s(%lld, \"%s\")\n", MACINFO.full(type, 2), static_cast<long long>(line),
                   text.c_str());
        } else {
            printf("  %s\n", MACINFO.full(type, 2));
        }
    }
    if (!in.ok()) message(422, slot.name, unsigned(in.position()), "section");
}

void DwarfDump::dump_locations() {
    Slot& slot = slots_[LOC];
    load(slot);
    if (!heading(slot)) return;
    const unsigned size = address_size_;
    if (!known_address_size(size)) {
        message(661, size);
        return;
    }
    // An entry whose start is the largest address sets the base of the entries after it
    // (from version 3 on).
    const uint64_t base_mark = size == 8 ? UINT64_MAX : (uint64_t(1) << (8 * size)) - 1;
    ByteReader in = reader(slot);
    for (unsigned number = 1; in.ok() && in.position() < in.size(); ++number) {
        const uint64_t list = in.position();
        printf("\nSet %u @ 0x%08lX\n", number, static_cast<unsigned long>(list));
        if (view_lists_[0].count(list)) {
            if (!print_views(in, views_end(0, list, in.size()), "", slot)) return;
            continue;
        }
        ValueContext context;
        auto named = list_versions_.find(list);
        context.version = named != list_versions_.end() ? named->second : 2;
        context.address_size = size;
        context.bytes = slot.bytes.data();
        for (;;) {
            uint64_t at = in.position();
            uint64_t low = in.uint(size);
            uint64_t high = in.uint(size);
            if (!in.ok()) {
                message(422, slot.name, unsigned(at), "section");
                return;
            }
            if (low == 0 && high == 0) break;
            if (context.version >= 3 && low == base_mark) {
                printf("base=0x%08lX\n", static_cast<unsigned long>(high));
                continue;
            }
            uint16_t length = in.u16();
            if (!in.ok()) {
                message(422, slot.name, unsigned(at), "section");
                return;
            }
            printf("range=0x%08lX..0x%08lX size=%u\n", static_cast<unsigned long>(low),
                   static_cast<unsigned long>(high), unsigned(length));
            uint64_t end = in.position() + length;
            print_expression(in, length, context, 665);
            if (end > in.size()) return;
            in = reader(slot);
            in.seek(end);
        }
    }
}

uint64_t DwarfDump::views_end(unsigned section, uint64_t offset, uint64_t end) const {
    auto next = location_lists_[section].upper_bound(offset);
    return next != location_lists_[section].end() && *next < end ? *next : end;
}

bool DwarfDump::print_views(ByteReader& in, uint64_t end, const char* indent, const Slot& slot) {
    while (in.position() < end) {
        uint64_t at = in.position();
        uint64_t begin = in.uleb128();
        uint64_t last = in.uleb128();
        if (!in.ok() || in.position() > end) {
            message(422, slot.name, unsigned(at), "view list");
            return false;
        }
        printf("%sviews=%llu..%llu\n", indent, static_cast<unsigned long long>(begin),
               static_cast<unsigned long long>(last));
    }
    return true;
}

void DwarfDump::print_expression(ByteReader& in, uint64_t length, const ValueContext& context,
                                 unsigned overrun) {
    const uint64_t end = in.position() + length;
    while (in.ok() && in.position() < end) {
        OperationEnd result = print_operation(in, end, context);
        if (result == OperationEnd::OVERRUN) message(overrun);
        if (result != OperationEnd::DONE) return;
    }
}

// One operation of a location expression ending at end, on its own line.
OperationEnd DwarfDump::print_operation(ByteReader& in, uint64_t end, const ValueContext& context) {
    const uint64_t at = in.position();
    const unsigned version = context.version;
    uint8_t op = in.u8();
    printf("  %s", OP.full(op, version));
    auto fits = [&]() { return in.ok() && in.position() <= end; };
    auto block = [&](uint64_t length) {
        if (in.ok() && length <= end - std::min(end, in.position()))
            in.skip(length);
        else
            in.fail();
    };
    // From version 3 on, an operation of a later version, or one of the vendor operations
    // that producers of those versions write, is read past unnamed; one that no version
    // knows cannot be read past. Version 2 names and reads its own operations alone.
    const bool vendor = op >= 0xE0 && op != 0xF1 && op != 0xF8 && op <= 0xFD;
    const bool readable = OP.has(op, LAST_VERSION) || vendor;
    if (version >= 3 && !readable) {
        printf("\n");
        message(423, "location expression", "operation", unsigned(op), unsigned(at));
        return OperationEnd::UNKNOWN;
    }
    const uint8_t kind = version >= 3 || OP.has(op, version) ? op : 0;
    switch (kind) {
    case DW_OP_addr: {
        uint64_t address = in.uint(context.address_size);
        if (fits()) printf("(0x%08llX)", static_cast<unsigned long long>(address));
        break;
    }
    case DW_OP_const1u:
    case DW_OP_pick:
    case DW_OP_deref_size:
    case DW_OP_xderef_size: {
        unsigned value = in.u8();
        if (fits()) printf("(%u)", value);
        break;
    }
    case DW_OP_const1s: {
        int value = int8_t(in.u8());
        if (fits()) printf("(%d)", value);
        break;
    }
    case DW_OP_const2u:
    case DW_OP_call2: {
        unsigned value = in.u16();
        if (fits()) printf("(%u)", value);
        break;
    }
    case DW_OP_const2s:
    case DW_OP_skip:
    case DW_OP_bra: {
        int value = int16_t(in.u16());
        if (fits()) printf("(%d)", value);
        break;
    }
    case DW_OP_const4u:
    case DW_OP_call4:
    case 0xFA: { // GNU_parameter_ref
        unsigned long value = in.u32();
        if (fits()) printf("(%lu)", value);
        break;
    }
    case DW_OP_const4s: {
        long value = int32_t(in.u32());
        if (fits()) printf("(%ld)", value);
        break;
    }
    case DW_OP_const8u:
    case DW_OP_const8s: {
        unsigned long long value = in.u64();
        if (fits()) printf("(0x%08llX)", value);
        break;
    }
    case DW_OP_call_ref:
    case 0xFD: { // GNU_variable_value
        unsigned long value = static_cast<unsigned long>(in.uint(context.offset_size));
        if (fits()) printf("(0x%08lX)", value);
        break;
    }
    case DW_OP_constu:
    case DW_OP_plus_uconst:
    case DW_OP_regx:
    case DW_OP_piece:
    case DW_OP_addrx:
    case DW_OP_constx:
    case DW_OP_convert:
    case DW_OP_reinterpret:
    case 0xF7:   // GNU_convert
    case 0xF9:   // GNU_reinterpret
    case 0xFB:   // GNU_addr_index
    case 0xFC: { // GNU_const_index
        unsigned long long value = in.uleb128();
        if (fits()) printf("(%llu)", value);
        break;
    }
    case DW_OP_consts:
    case DW_OP_fbreg: {
        long long value = in.sleb128();
        if (fits()) printf("(%lld)", value);
        break;
    }
    case DW_OP_bregx: {
        unsigned long long reg = in.uleb128();
        long long offset = in.sleb128();
        if (fits()) printf("(%llu, %lld)", reg, offset);
        break;
    }
    case DW_OP_bit_piece:
    case DW_OP_regval_type:
    case 0xF5: { // GNU_regval_type
        unsigned long long first = in.uleb128();
        unsigned long long second = in.uleb128();
        if (fits()) printf("(%llu, %llu)", first, second);
        break;
    }
    case DW_OP_implicit_value:
    case DW_OP_entry_value:
    case 0xF3: { // GNU_entry_value
        unsigned long long length = in.uleb128();
        block(length);
        if (fits()) printf("(%llu)", length);
        break;
    }
    case DW_OP_implicit_pointer:
    case 0xF2: { // GNU_implicit_pointer
        unsigned long reference = static_cast<unsigned long>(in.uint(context.offset_size));
        long long offset = in.sleb128();
        if (fits()) printf("(0x%08lX, %lld)", reference, offset);
        break;
    }
    case DW_OP_const_type:
    case 0xF4: { // GNU_const_type
        unsigned long long type = in.uleb128();
        unsigned length = in.u8();
        block(length);
        if (fits()) printf("(%llu, %u)", type, length);
        break;
    }
    case DW_OP_deref_type:
    case DW_OP_xderef_type:
    case 0xF6: { // GNU_deref_type
        unsigned size = in.u8();
        unsigned long long type = in.uleb128();
        if (fits()) printf("(%u, %llu)", size, type);
        break;
    }
    default:
        if (op >= DW_OP_breg0 && op <= DW_OP_breg31) {
            long long value = in.sleb128();
            if (fits()) printf("(%lld)", value);
        }
        break;
    }
    printf("\n");
    return fits() ? OperationEnd::DONE : OperationEnd::OVERRUN;
}

} // namespace dwarf_dump_parts
