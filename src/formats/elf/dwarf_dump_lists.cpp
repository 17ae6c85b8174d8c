// The DWARF dump's location and range lists: .debug_loc (with the lists of location
// views), the split units' .debug_loc.dwo, .debug_rnglists and .debug_loclists, and the
// operations of location expressions, which all of them share.
#include "common/alert.h"
#include "formats/elf/dwarf_constants.h"
#include "formats/elf/dwarf_dump.h"

namespace dwarf {

void DwarfDump::dump_locations() {
    sections_.load(LOC);
    if (!heading(LOC)) return;
    const unsigned size = address_size_;
    if (!known_address_size(size)) {
        message(run.messages, 661, size);
        return;
    }
    ByteReader in = sections_.reader(LOC);
    for (unsigned number = 1; in.ok() && in.position() < in.size(); ++number) {
        const uint64_t list = in.position();
        printf("\nSet %u @ 0x%08lX\n", number, static_cast<unsigned long>(list));
        if (view_lists_[0].count(list)) {
            if (!print_views(in, views_end(0, list, in.size()), "", LOC)) return;
            continue;
        }
        if (sections_.split())
            print_split_location_list(in);
        else
            print_location_list(in, list);
    }
}

// The entries of the list at the reader's position, up to its end (or a damaged entry,
// after which the reader has failed).
void DwarfDump::print_location_list(ByteReader& in, uint64_t list) {
    auto named = list_versions_.find(list);
    UnitContext unit =
        UnitContext::of_version(named != list_versions_.end() ? named->second : 2, &sections_, LOC);
    unit.address_size = address_size_;
    LocationEntry entry;
    for (;;) {
        if (!read_location_entry(run, in, sections_[LOC], address_size_, unit.version, &entry)) {
            in.fail();
            return;
        }
        if (entry.kind == LocationEntry::END) return;
        if (entry.kind == LocationEntry::BASE) {
            printf("base=0x%08lX\n", static_cast<unsigned long>(entry.high));
            continue;
        }
        printf("range=0x%08lX..0x%08lX size=%u\n", static_cast<unsigned long>(entry.low),
               static_cast<unsigned long>(entry.high), unsigned(entry.length));
        if (!print_described(in, entry.length, unit)) return;
    }
}

// The expression of length bytes at the reader's position, and the reader after it;
// false (the reader failed) when it runs past the section.
bool DwarfDump::print_described(ByteReader& in, uint64_t length, const UnitContext& unit) {
    uint64_t end = in.position() + length;
    print_expression(in, length, unit, 665);
    if (end > in.size()) {
        in.fail();
        return false;
    }
    in = sections_.reader(LOC);
    in.seek(end);
    return true;
}

// A list of a split unit's .debug_loc.dwo (version 4), whose entries name addresses by
// their index in the program's address table.
void DwarfDump::print_split_location_list(ByteReader& in) {
    const UnitContext unit = UnitContext::of_version(4, &sections_, LOC);
    SplitLocationEntry e;
    for (;;) {
        EntryRead read = read_split_location_entry(run, in, sections_[LOC], &e);
        printf("  %s", LLE.full(e.kind, 4));
        if (read != EntryRead::OK) {
            printf("\n");
            in.fail();
            return;
        }
        if (e.kind == DW_LLE_GNU_end_of_list_entry) {
            printf("\n");
            return;
        }
        if (e.kind == DW_LLE_GNU_base_address_selection_entry)
            printf("(%llu)", static_cast<unsigned long long>(e.first));
        else
            printf(e.kind == DW_LLE_GNU_start_length_entry ? "(%llu, 0x%08llX)" : "(%llu, %llu)",
                   static_cast<unsigned long long>(e.first),
                   static_cast<unsigned long long>(e.second));
        if (!e.described) {
            printf("\n");
            continue;
        }
        printf(" size=%u\n", unsigned(e.length));
        if (!print_described(in, e.length, unit)) return;
    }
}

uint64_t DwarfDump::views_end(unsigned section, uint64_t offset, uint64_t end) const {
    auto next = location_lists_[section].upper_bound(offset);
    return next != location_lists_[section].end() && *next < end ? *next : end;
}

bool DwarfDump::print_views(ByteReader& in, uint64_t end, const char* indent, SectionId id) {
    while (in.position() < end) {
        uint64_t begin = 0, last = 0;
        if (!read_view_pair(run, in, end, sections_[id], &begin, &last)) return false;
        printf("%sviews=%llu..%llu\n", indent, static_cast<unsigned long long>(begin),
               static_cast<unsigned long long>(last));
    }
    return true;
}

// The operations of an expression of length bytes, each on its own line; overrun is the
// message for operations that run past it.
void DwarfDump::print_expression(ByteReader& in, uint64_t length, const UnitContext& unit,
                                 unsigned overrun) {
    const uint64_t end = in.position() + length;
    Operation op;
    while (in.ok() && in.position() < end) {
        OperationRead read = read_operation(run, in, end, unit, "location expression", &op);
        printf("  %s", OP.full(op.opcode, unit.version));
        if (read == OperationRead::DONE) {
            for (unsigned k = 0; k < 2 && op.kinds[k] != Operand::NONE; ++k) {
                const uint64_t value = op.values[k];
                printf(k == 0 ? "(" : ", ");
                switch (op.kinds[k]) {
                case Operand::ADDR:
                case Operand::U64:
                    printf("0x%08llX", static_cast<unsigned long long>(value));
                    break;
                case Operand::REF: printf("0x%08lX", static_cast<unsigned long>(value)); break;
                case Operand::U8:
                case Operand::U16:
                case Operand::BLOCK1: printf("%u", unsigned(value)); break;
                case Operand::S8:
                case Operand::S16: printf("%d", int(int64_t(value))); break;
                case Operand::U32: printf("%lu", static_cast<unsigned long>(value)); break;
                case Operand::S32: printf("%ld", static_cast<long>(int64_t(value))); break;
                case Operand::SLEB: printf("%lld", static_cast<long long>(value)); break;
                default: printf("%llu", static_cast<unsigned long long>(value)); break;
                }
            }
            if (op.kinds[0] != Operand::NONE) printf(")");
        }
        printf("\n");
        if (read == OperationRead::OVERRUN) message(run.messages, overrun);
        if (read != OperationRead::DONE) return;
    }
}

// ---- Range and location lists of version 5 ----

void DwarfDump::dump_list_sets(SectionId id) {
    sections_.load(id);
    heading(id);
    ByteReader in = sections_.reader(id);
    for (unsigned number = 1; in.position() < in.size(); ++number) {
        SetHeader set;
        if (!set_heading(number, set, read_set_header(run, in, sections_[id], &set))) return;
        ListSetHeader header;
        if (print_list_set_header(in, id, set, &header)) print_list_entries(in, id, set, header);
        in.seek(set.end);
    }
}

bool DwarfDump::print_list_set_header(ByteReader& in, SectionId id, const SetHeader& set,
                                      ListSetHeader* header) {
    ListSetRead read = read_list_set_header(run, in, sections_[id], set.end, header);
    if (read == ListSetRead::CUT) {
        printf("\n");
        return false;
    }
    printf(", addrsize=%u, segsize=%u, offsets=%lu\n", header->address_size, header->segment_size,
           static_cast<unsigned long>(header->offsets));
    if (read != ListSetRead::OK) return false;
    // The lists that the offset table names end the lists of views before them.
    const uint64_t table = in.position() - 4 * uint64_t(header->offsets);
    for (uint32_t k = 0; k < header->offsets && id == LOCLISTS; ++k)
        location_lists_[1].insert(table + header->offset_table[k]);
    for (uint32_t k = 0; k < header->offsets; ++k)
        printf("  offset %5lu: 0x%08lX\n", static_cast<unsigned long>(k),
               static_cast<unsigned long>(header->offset_table[k]));
    return true;
}

// The lists of a set, each entry named by its kind with its operands (and a location's
// operations).
void DwarfDump::print_list_entries(ByteReader& in, SectionId id, const SetHeader& set,
                                   const ListSetHeader& header) {
    const bool locations = id == LOCLISTS;
    const NameFamily& kinds = locations ? LLE : RLE;
    UnitContext unit = UnitContext::of_version(5, &sections_, id);
    unit.address_size = header.address_size;
    bool list_open = false;
    ListEntry e;
    while (in.position() < set.end) {
        const uint64_t at = in.position();
        if (!list_open) {
            printf("List @ 0x%08lX\n", static_cast<unsigned long>(at));
            if (locations && view_lists_[1].count(at)) {
                if (!print_views(in, views_end(1, at, set.end), "  ", id)) return;
                continue;
            }
            list_open = true;
        }
        ListEntryRead read =
            read_list_entry(run, in, sections_[id], set.end, locations, header.address_size, &e);
        printf("  %s", kinds.full(e.kind, 5));
        if (read == ListEntryRead::UNKNOWN) {
            printf("\n");
            return;
        }
        switch (e.shape) {
        case ListEntry::END_OF_LIST: list_open = false; break;
        case ListEntry::DEFAULT_LOCATION: break;
        case ListEntry::BASE_ADDRESSX:
            printf("(%llu)", static_cast<unsigned long long>(e.first));
            break;
        case ListEntry::BASE_ADDRESS:
            printf("(0x%08llX)", static_cast<unsigned long long>(e.first));
            break;
        default:
            printf(e.shape == ListEntry::STARTX_ENDX || e.shape == ListEntry::VIEW_PAIR
                       ? "(%llu, %llu)"
                   : e.shape == ListEntry::STARTX_LENGTH ? "(%llu, 0x%08llX)"
                                                         : "(0x%08llX, 0x%08llX)",
                   static_cast<unsigned long long>(e.first),
                   static_cast<unsigned long long>(e.second));
            break;
        }
        if (read == ListEntryRead::CUT) {
            printf("\n");
            return;
        }
        if (e.described) printf(" size=%llu", static_cast<unsigned long long>(e.length));
        printf("\n");
        if (read == ListEntryRead::DESCRIPTION_PAST) return;
        if (!e.described) continue;
        ByteReader expression = sections_.reader(id);
        expression.seek(e.expression);
        print_expression(expression, e.length, unit, 665);
        in.seek(e.expression + e.length);
    }
}

} // namespace dwarf
