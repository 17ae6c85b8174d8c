// Reading location and range lists.
#include "formats/elf/dwarf_lists.h"

#include "common/alert.h"
#include "formats/elf/dwarf_constants.h"
#include "formats/elf/dwarf_tables.h"
#include "model/run.h"

namespace dwarf {

bool read_location_entry(Run& run, ByteReader& in, const Section& section, unsigned address_size,
                         unsigned version, LocationEntry* entry) {
    LocationEntry& e = *entry;
    e = LocationEntry();
    e.offset = in.position();
    e.low = in.uint(address_size);
    e.high = in.uint(address_size);
    if (!in.ok()) {
        message(run.messages, 422, section.name, unsigned(e.offset), "section");
        return false;
    }
    if (e.low == 0 && e.high == 0) return true;
    // From version 3 on, an entry whose start is the largest address sets the base of
    // the entries after it.
    const uint64_t base_mark =
        address_size == 8 ? UINT64_MAX : (uint64_t(1) << (8 * address_size)) - 1;
    if (version >= 3 && e.low == base_mark) {
        e.kind = LocationEntry::BASE;
        return true;
    }
    e.length = in.u16();
    if (!in.ok()) {
        message(run.messages, 422, section.name, unsigned(e.offset), "section");
        return false;
    }
    e.kind = LocationEntry::RANGE;
    return true;
}

EntryRead read_split_location_entry(Run& run, ByteReader& in, const Section& section,
                                    SplitLocationEntry* entry) {
    SplitLocationEntry& e = *entry;
    e = SplitLocationEntry();
    e.offset = in.position();
    e.kind = in.u8();
    switch (e.kind) {
    case DW_LLE_GNU_end_of_list_entry: break;
    case DW_LLE_GNU_base_address_selection_entry: e.first = in.uleb128(); break;
    case DW_LLE_GNU_start_end_entry:
    case DW_LLE_GNU_view_pair:
        e.first = in.uleb128();
        e.second = in.uleb128();
        break;
    case DW_LLE_GNU_start_length_entry:
        e.first = in.uleb128();
        e.second = in.u32();
        break;
    default:
        message(run.messages, 423, section.name, "location list entry", unsigned(e.kind),
                unsigned(e.offset));
        return EntryRead::UNKNOWN;
    }
    e.described = e.kind == DW_LLE_GNU_start_end_entry || e.kind == DW_LLE_GNU_start_length_entry;
    if (e.described) e.length = in.u16();
    if (in.ok()) return EntryRead::OK;
    message(run.messages, 422, section.name, unsigned(e.offset), "section");
    return EntryRead::CUT;
}

bool read_view_pair(Run& run, ByteReader& in, uint64_t end, const Section& section, uint64_t* begin,
                    uint64_t* last) {
    uint64_t at = in.position();
    *begin = in.uleb128();
    *last = in.uleb128();
    if (in.ok() && in.position() <= end) return true;
    message(run.messages, 422, section.name, unsigned(at), "view list");
    return false;
}

SetStart read_set_header(Run& run, ByteReader& in, const Section& section, SetHeader* header) {
    SetHeader& h = *header;
    h = SetHeader();
    const uint64_t start = h.offset = in.position();
    h.length = in.u32();
    if (h.length == 0xFFFFFFFF) {
        message(run.messages, 421, section.name, unsigned(start));
        return SetStart::FAILED;
    }
    h.version = in.u16();
    if (!in.ok() || h.length < 4 || h.length > in.size() - start - 4) {
        message(run.messages, 422, section.name, unsigned(start), "section");
        return SetStart::FAILED;
    }
    h.end = start + 4 + uint64_t(h.length);
    if (h.version == 5) return SetStart::OK;
    message(run.messages, 420, section.name, unsigned(start), "version", h.version);
    return SetStart::BAD_VERSION;
}

ListSetRead read_list_set_header(Run& run, ByteReader& in, const Section& section, uint64_t end,
                                 ListSetHeader* header) {
    ListSetHeader& h = *header;
    h.address_size = in.u8();
    h.segment_size = in.u8();
    h.offsets = in.u32();
    if (!in.ok() || in.position() > end) {
        message(run.messages, 422, section.name, unsigned(in.position()), "section");
        return ListSetRead::CUT;
    }
    if (!known_address_size(h.address_size)) {
        message(run.messages, 661, h.address_size);
        return ListSetRead::BAD_ADDRESS_SIZE;
    }
    const uint64_t table = in.position();
    if (h.offsets > (end - table) / 4) {
        message(run.messages, 422, section.name, unsigned(table), "set");
        return ListSetRead::BAD_OFFSETS;
    }
    h.offset_table.clear();
    for (uint32_t k = 0; k < h.offsets; ++k)
        h.offset_table.push_back(in.u32());
    return ListSetRead::OK;
}

namespace {

ListEntry::Shape shape_of(uint8_t kind, bool locations) {
    if (locations && kind == DW_LLE_default_location) return ListEntry::DEFAULT_LOCATION;
    if (locations && kind == DW_LLE_GNU_view_pair) return ListEntry::VIEW_PAIR;
    if (locations && kind > DW_LLE_default_location)
        return kind <= DW_LLE_start_length ? ListEntry::Shape(kind - 1u) : ListEntry::UNKNOWN;
    if (!locations && kind > DW_RLE_start_length) return ListEntry::UNKNOWN;
    return ListEntry::Shape(kind);
}

} // namespace

ListEntryRead read_list_entry(Run& run, ByteReader& in, const Section& section, uint64_t end,
                              bool locations, unsigned address_size, ListEntry* entry) {
    ListEntry& e = *entry;
    e = ListEntry();
    e.offset = in.position();
    e.kind = in.u8();
    e.shape = shape_of(e.kind, locations);
    switch (e.shape) {
    case ListEntry::END_OF_LIST:
    case ListEntry::DEFAULT_LOCATION: break;
    case ListEntry::BASE_ADDRESSX: e.first = in.uleb128(); break;
    case ListEntry::STARTX_ENDX:
    case ListEntry::STARTX_LENGTH:
    case ListEntry::OFFSET_PAIR:
    case ListEntry::VIEW_PAIR:
        e.first = in.uleb128();
        e.second = in.uleb128();
        break;
    case ListEntry::BASE_ADDRESS: e.first = in.uint(address_size); break;
    case ListEntry::START_END:
        e.first = in.uint(address_size);
        e.second = in.uint(address_size);
        break;
    case ListEntry::START_LENGTH:
        e.first = in.uint(address_size);
        e.second = in.uleb128();
        break;
    case ListEntry::UNKNOWN:
        message(run.messages, 423, section.name,
                locations ? "location list entry" : "range list entry", unsigned(e.kind),
                unsigned(e.offset));
        return ListEntryRead::UNKNOWN;
    }
    e.described = locations && e.shape != ListEntry::END_OF_LIST &&
                  e.shape != ListEntry::BASE_ADDRESSX && e.shape != ListEntry::BASE_ADDRESS &&
                  e.shape != ListEntry::VIEW_PAIR;
    if (e.described) e.length = in.uleb128();
    if (!in.ok() || in.position() > end) {
        message(run.messages, 422, section.name, unsigned(e.offset), "set");
        return ListEntryRead::CUT;
    }
    e.expression = in.position();
    if (e.described && e.length > end - in.position()) {
        message(run.messages, 422, section.name, unsigned(e.offset), "set");
        return ListEntryRead::DESCRIPTION_PAST;
    }
    return ListEntryRead::OK;
}

} // namespace dwarf
