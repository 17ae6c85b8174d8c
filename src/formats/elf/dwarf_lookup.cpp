// Reading the lookup and index tables.
#include "formats/elf/dwarf_lookup.h"

#include <algorithm>

#include "common/alert.h"
#include "model/run.h"
#include "model/store.h"

namespace dwarf {

// ---- Name lookup and address range sets ----

namespace {

// The length every set begins with: STOP (said) for a 64-bit set or one too short to
// hold its header.
LookupRead read_set_length(Run& run, ByteReader& in, const char* what, uint32_t shortest,
                           unsigned too_short, LookupSet& set) {
    set = LookupSet();
    set.offset = in.position();
    set.length = in.u32();
    if (set.length == 0xFFFFFFFF) {
        message(run.messages, 421, what, unsigned(set.offset));
        return LookupRead::STOP;
    }
    if (in.ok() && set.length < shortest) {
        message(run.messages, too_short, unsigned(set.length));
        return LookupRead::STOP;
    }
    set.next = set.offset + 4 + uint64_t(set.length);
    set.end = std::min<uint64_t>(set.next, in.size());
    return LookupRead::OK;
}

LookupRead header_read(Run& run, ByteReader& in, const Section& section, const LookupSet& set) {
    if (in.ok()) return LookupRead::OK;
    message(run.messages, 422, section.name, unsigned(set.offset), "section");
    return LookupRead::STOP;
}

} // namespace

LookupRead read_name_set(Run& run, ByteReader& in, const Section& section, LookupSet* set) {
    if (read_set_length(run, in, "name lookup set", 20, 663, *set) == LookupRead::STOP)
        return LookupRead::STOP;
    set->version = in.u16();
    set->info_offset = in.u32();
    set->info_size = in.u32();
    return header_read(run, in, section, *set);
}

LookupRead read_range_set(Run& run, ByteReader& in, const Section& section, LookupSet* set) {
    if (read_set_length(run, in, "address range set", 10, 664, *set) == LookupRead::STOP)
        return LookupRead::STOP;
    set->version = in.u16();
    set->info_offset = in.u32();
    set->address_size = in.u8();
    set->segment_size = in.u8();
    if (header_read(run, in, section, *set) == LookupRead::STOP) return LookupRead::STOP;
    // The tuples start at a multiple of their size from the section's start.
    if (known_address_size(set->address_size)) {
        uint64_t tuple = 2 * uint64_t(set->address_size);
        in.seek((in.position() + tuple - 1) / tuple * tuple);
    }
    return LookupRead::OK;
}

bool read_lookup_name(ByteReader& in, const LookupSet& set, uint32_t* offset, std::string* name) {
    if (!in.ok() || in.position() >= set.end) return false;
    *offset = in.u32();
    if (!in.ok() || *offset == 0) return false;
    *name = in.cstring(SIZE_MAX);
    return in.ok();
}

bool read_range(ByteReader& in, const LookupSet& set, uint64_t* address, uint64_t* length) {
    if (!known_address_size(set.address_size)) return false;
    if (in.position() + 2 * uint64_t(set.address_size) > set.end) return false;
    *address = in.uint(set.address_size);
    *length = in.uint(set.address_size);
    return in.ok() && (*address != 0 || *length != 0);
}

// ---- Tables of version 5 ----

void read_string_offsets(ByteReader& in, uint64_t end, bool padded,
                         std::vector<uint32_t>* offsets) {
    if (padded) in.u16();
    offsets->clear();
    while (in.position() + 4 <= end)
        offsets->push_back(in.u32());
}

bool read_addresses(Run& run, ByteReader& in, const Section& section, const SetHeader& set,
                    unsigned* address_size, unsigned* segment_size,
                    std::vector<uint64_t>* addresses) {
    *address_size = in.u8();
    *segment_size = in.u8();
    addresses->clear();
    if (!in.ok() || in.position() > set.end) {
        message(run.messages, 422, section.name, unsigned(in.position()), "section");
        return false;
    }
    if (!known_address_size(*address_size)) {
        message(run.messages, 661, *address_size);
        return true;
    }
    read_address_table(in, set.end, *address_size, addresses);
    return true;
}

void read_address_table(ByteReader& in, uint64_t end, unsigned address_size,
                        std::vector<uint64_t>* addresses) {
    addresses->clear();
    while (in.position() + address_size <= end)
        addresses->push_back(in.uint(address_size));
}

// ---- The name index ----

NameIndexReader::NameIndexReader(const SectionSet& sections, ByteReader& in)
    : run_(sections.run()), sections_(sections), in_(in),
      context_(UnitContext::of_version(5, &sections, NAMES)) {}

uint64_t NameIndexReader::number_at(uint64_t table, uint32_t k, unsigned width) const {
    ByteReader at = sections_.reader(NAMES);
    at.seek(table + uint64_t(k) * width);
    return at.uint(width);
}

NameIndexReader::Start NameIndexReader::header(NameIndexHeader* header) {
    NameIndexHeader& h = header_;
    h = NameIndexHeader();
    SetStart start = read_set_header(run_, in_, sections_[NAMES], &h.set);
    *header = h;
    if (start != SetStart::OK)
        return start == SetStart::FAILED ? Start::FAILED : Start::BAD_VERSION;
    in_.u16(); // padding
    for (uint32_t* count : {&h.comp_units, &h.local_type_units, &h.foreign_type_units, &h.buckets,
                            &h.names, &h.abbrev_size})
        *count = in_.u32();
    uint32_t augmentation_size = in_.u32();
    const uint64_t end = h.set.end;
    if (in_.ok() && in_.position() <= end && augmentation_size <= end - in_.position()) {
        std::vector<uint8_t> text(augmentation_size);
        in_.bytes(text.data(), text.size());
        h.augmentation.assign(text.begin(), std::find(text.begin(), text.end(), 0));
    } else {
        in_.fail();
    }
    // The tables one after another; each must fit the set.
    uint64_t at = in_.position();
    auto place = [&](uint64_t* table, uint64_t count, unsigned width) {
        *table = at;
        at += count * width;
    };
    place(&comp_units_, h.comp_units, 4);
    place(&local_units_, h.local_type_units, 4);
    place(&foreign_units_, h.foreign_type_units, 8);
    place(&buckets_, h.buckets, 4);
    place(&hashes_, h.buckets ? h.names : 0, 4);
    place(&strings_, h.names, 4);
    place(&entries_, h.names, 4);
    uint64_t abbreviations = at;
    pool_ = at + h.abbrev_size;
    *header = h;
    if (!in_.ok() || in_.position() > end || pool_ > end || !read_abbreviations(abbreviations)) {
        message(run_.messages, 422, sections_[NAMES].name, unsigned(h.set.offset), "set");
        return Start::CUT;
    }
    return Start::OK;
}

bool NameIndexReader::read_abbreviations(uint64_t start) {
    ByteReader in = sections_.reader(NAMES);
    in.seek(start);
    abbreviations_.clear();
    for (;;) {
        IndexAbbreviation abbreviation;
        abbreviation.code = in.uleb128();
        if (!in.ok() || in.position() > pool_) return false;
        if (abbreviation.code == 0) return true;
        abbreviation.tag = in.uleb128();
        for (;;) {
            uint64_t index = in.uleb128(), form = in.uleb128();
            if (!in.ok() || in.position() > pool_) return false;
            if (index == 0 && form == 0) break;
            abbreviation.attributes.push_back({index, form});
        }
        abbreviations_.push_back(std::move(abbreviation));
    }
}

bool NameIndexReader::entries(uint64_t offset, const std::function<void(const IndexEntry&)>& each) {
    const uint64_t end = header_.set.end;
    ByteReader in = sections_.reader(NAMES);
    in.seek(pool_ + offset);
    IndexEntry entry;
    for (;;) {
        entry.offset = in.position();
        uint64_t code = in.uleb128();
        if (!in.ok() || in.position() > end) {
            message(run_.messages, 422, sections_[NAMES].name, unsigned(entry.offset),
                    "name index");
            return false;
        }
        if (code == 0) return true;
        auto found = std::find_if(abbreviations_.begin(), abbreviations_.end(),
                                  [&](const IndexAbbreviation& a) { return a.code == code; });
        if (found == abbreviations_.end()) {
            message(run_.messages, 658);
            return false;
        }
        entry.abbreviation = &*found;
        entry.values.resize(found->attributes.size());
        const uint64_t before = in.position();
        for (size_t k = 0; k < found->attributes.size(); ++k) {
            uint64_t at = in.position();
            ValueRead read =
                read_value(in, found->attributes[k].second, 0, context_, end, &entry.values[k]);
            if (read == ValueRead::UNKNOWN_FORM) message(run_.messages, 647);
            if (read == ValueRead::OVERRUN)
                message(run_.messages, 422, sections_[NAMES].name, unsigned(at), "name index");
            if (read != ValueRead::OK) return false;
        }
        // Names may share their entries: what is read of the pool is measured.
        charge_read_allowance(run_, 1 + in.position() - before);
        each(entry);
    }
}

} // namespace dwarf
