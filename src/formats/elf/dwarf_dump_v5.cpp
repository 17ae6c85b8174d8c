// The DWARF dump's sections of version 5, each shown only when the file has it: the
// string offsets (.debug_str_offsets), the line strings (.debug_line_str, with the
// string table's rule: at -v), the address table (.debug_addr) and the range and location
// lists (.debug_rnglists, .debug_loclists).
#include "common/alert.h"
#include "common/options.h"
#include "formats/elf/dwarf_constants.h"
#include "formats/elf/dwarf_dump_parts.h"

namespace dwarf_dump_parts {

namespace {

// The header every set of these sections begins with; false (with the message said) when
// the set cannot be dumped. On success *end is where the set ends.
bool set_header(ByteReader& in, const Slot& slot, unsigned number, uint64_t* end,
                unsigned* version) {
    const uint64_t start = in.position();
    printf("\nSet %u @ 0x%08lX\n", number, static_cast<unsigned long>(start));
    uint32_t length = in.u32();
    if (length == 0xFFFFFFFF) {
        message(421, slot.name, unsigned(start));
        return false;
    }
    *version = in.u16();
    if (!in.ok() || length < 4 || length > in.size() - start - 4) {
        message(422, slot.name, unsigned(start), "section");
        return false;
    }
    *end = start + 4 + uint64_t(length);
    printf("size=%lu, ver=%u", static_cast<unsigned long>(length), *version);
    if (*version != 5) {
        printf("\n");
        message(420, slot.name, unsigned(start), "version", *version);
        return false;
    }
    return true;
}

// The kinds of list entries by the shape of their operands: those of the range lists,
// and these two.
constexpr unsigned DEFAULT_LOCATION = 0x100, VIEW_PAIR = 0x101, UNKNOWN_KIND = 0x102;
// A vendor entry of location lists: the views of the entry that follows.
constexpr uint8_t GNU_VIEW_PAIR = 0x09;

void print_sized(uint64_t value, unsigned size) {
    if (size == 8)
        printf("0x%016llX", static_cast<unsigned long long>(value));
    else
        printf("0x%08lX", static_cast<unsigned long>(value));
}

} // namespace

void DwarfDump::dump_v5_sections() {
    if (slots_[STR_OFFSETS].found) dump_str_offsets();
    if (slots_[LINE_STR].found && options.verbose_level != 0 && heading(slots_[LINE_STR]))
        dump_strings(slots_[LINE_STR]);
    if (slots_[ADDR].found) dump_addresses();
    if (slots_[RNGLISTS].found) dump_list_sets(RNGLISTS);
    if (slots_[LOCLISTS].found) dump_list_sets(LOCLISTS);
}

void DwarfDump::dump_str_offsets() {
    const Slot& slot = slots_[STR_OFFSETS];
    heading(slot);
    ByteReader in = reader(slot);
    for (unsigned number = 1; in.position() < in.size(); ++number) {
        uint64_t end = 0;
        unsigned version = 0;
        if (!set_header(in, slot, number, &end, &version)) return;
        in.u16(); // padding
        printf("\n");
        for (unsigned index = 0; in.position() + 4 <= end; ++index) {
            uint32_t offset = in.u32();
            size_t length = 0;
            const char* text = string_at(STR, offset, &length);
            printf("  %5u: 0x%08lX ", index, static_cast<unsigned long>(offset));
            if (text) {
                // Any number of offsets may name one string.
                charge(length);
                print_string(text, length);
            } else {
                printf("?? Invalid string table offset");
            }
            printf("\n");
        }
        in.seek(end);
    }
}

void DwarfDump::dump_addresses() {
    const Slot& slot = slots_[ADDR];
    heading(slot);
    ByteReader in = reader(slot);
    for (unsigned number = 1; in.position() < in.size(); ++number) {
        uint64_t end = 0;
        unsigned version = 0;
        if (!set_header(in, slot, number, &end, &version)) return;
        unsigned address_size = in.u8();
        unsigned segment_size = in.u8();
        printf(", addrsize=%u, segsize=%u\n", address_size, segment_size);
        if (!in.ok() || in.position() > end) {
            message(422, slot.name, unsigned(in.position()), "section");
            return;
        }
        if (!known_address_size(address_size)) {
            message(661, address_size);
            in.seek(end);
            continue;
        }
        for (unsigned index = 0; in.position() + address_size <= end; ++index) {
            printf("  %5u: ", index);
            print_sized(in.uint(address_size), address_size);
            printf("\n");
        }
        in.seek(end);
    }
}

bool DwarfDump::list_set_header(ByteReader& in, const Slot& slot, uint64_t* end,
                                ValueContext* context, uint32_t* offsets) {
    unsigned segment_size = 0;
    context->address_size = in.u8();
    segment_size = in.u8();
    *offsets = in.u32();
    if (!in.ok() || in.position() > *end) {
        printf("\n");
        message(422, slot.name, unsigned(in.position()), "section");
        return false;
    }
    printf(", addrsize=%u, segsize=%u, offsets=%lu\n", context->address_size, segment_size,
           static_cast<unsigned long>(*offsets));
    if (!known_address_size(context->address_size)) {
        message(661, context->address_size);
        return false;
    }
    const uint64_t table = in.position();
    if (*offsets > (*end - table) / 4) {
        message(422, slot.name, unsigned(table), "set");
        return false;
    }
    for (uint32_t k = 0; k < *offsets; ++k)
        printf("  offset %5lu: 0x%08lX\n", static_cast<unsigned long>(k),
               static_cast<unsigned long>(in.u32()));
    return true;
}

// The sets of .debug_rnglists or .debug_loclists: their headers, offset tables and lists,
// each entry named by its kind with its operands (and a location's operations).
void DwarfDump::dump_list_sets(SlotIndex index) {
    const Slot& slot = slots_[index];
    load(slots_[index]);
    heading(slot);
    const bool locations = index == LOCLISTS;
    const NameFamily& kinds = locations ? LLE : RLE;
    ByteReader in = reader(slot);
    for (unsigned number = 1; in.position() < in.size(); ++number) {
        uint64_t end = 0;
        unsigned version = 0;
        if (!set_header(in, slot, number, &end, &version)) return;
        ValueContext context;
        context.version = 5;
        context.bytes = slot.bytes.data();
        uint32_t offsets = 0;
        if (!list_set_header(in, slot, &end, &context, &offsets)) {
            in.seek(end);
            continue;
        }
        const unsigned size = context.address_size;
        bool list_open = false;
        while (in.position() < end) {
            const uint64_t at = in.position();
            if (!list_open) {
                printf("List @ 0x%08lX\n", static_cast<unsigned long>(at));
                if (locations && view_lists_[1].count(at)) {
                    if (!print_views(in, views_end(1, at, end), "  ", slot)) break;
                    continue;
                }
                list_open = true;
            }
            uint8_t kind = in.u8();
            printf("  %s", kinds.full(kind, 5));
            // Range and location entries share their first kinds; locations add one
            // without operands (default_location) and move the rest up by one.
            unsigned shape = kind;
            if (locations && kind == DW_LLE_default_location)
                shape = DEFAULT_LOCATION;
            else if (locations && kind == GNU_VIEW_PAIR)
                shape = VIEW_PAIR;
            else if (locations && kind > DW_LLE_default_location)
                shape = kind <= DW_LLE_start_length ? kind - 1u : UNKNOWN_KIND;
            else if (!locations && kind > DW_RLE_start_length)
                shape = UNKNOWN_KIND;
            uint64_t first = 0, second = 0;
            switch (shape) {
            case DW_RLE_end_of_list: list_open = false; break;
            case DW_RLE_base_addressx:
                first = in.uleb128();
                printf("(%llu)", static_cast<unsigned long long>(first));
                break;
            case DW_RLE_startx_endx:
            case DW_RLE_startx_length:
            case DW_RLE_offset_pair:
            case VIEW_PAIR:
                first = in.uleb128();
                second = in.uleb128();
                printf(shape == DW_RLE_startx_endx || shape == VIEW_PAIR ? "(%llu, %llu)"
                       : shape == DW_RLE_startx_length                   ? "(%llu, 0x%08llX)"
                                                                         : "(0x%08llX, 0x%08llX)",
                       static_cast<unsigned long long>(first),
                       static_cast<unsigned long long>(second));
                break;
            case DW_RLE_base_address:
                first = in.uint(size);
                printf("(0x%08llX)", static_cast<unsigned long long>(first));
                break;
            case DW_RLE_start_end:
                first = in.uint(size);
                second = in.uint(size);
                printf("(0x%08llX, 0x%08llX)", static_cast<unsigned long long>(first),
                       static_cast<unsigned long long>(second));
                break;
            case DW_RLE_start_length:
                first = in.uint(size);
                second = in.uleb128();
                printf("(0x%08llX, 0x%08llX)", static_cast<unsigned long long>(first),
                       static_cast<unsigned long long>(second));
                break;
            case DEFAULT_LOCATION: break;
            default:
                printf("\n");
                message(423, slot.name, locations ? "location list entry" : "range list entry",
                        unsigned(kind), unsigned(at));
                in.seek(end);
                continue;
            }
            bool described = locations && shape != DW_RLE_end_of_list &&
                             shape != DW_RLE_base_addressx && shape != DW_RLE_base_address &&
                             shape != VIEW_PAIR;
            uint64_t length = described ? in.uleb128() : 0;
            if (!in.ok() || in.position() > end) {
                printf("\n");
                message(422, slot.name, unsigned(at), "set");
                in.seek(end);
                break;
            }
            if (described) printf(" size=%llu", static_cast<unsigned long long>(length));
            printf("\n");
            if (described) {
                uint64_t expression_end = in.position() + length;
                if (length > end - in.position()) {
                    message(422, slot.name, unsigned(at), "set");
                    break;
                }
                ByteReader expression = reader(slot);
                expression.seek(in.position());
                print_expression(expression, length, context, 665);
                in.seek(expression_end);
            }
        }
        in.seek(end);
    }
}

} // namespace dwarf_dump_parts
