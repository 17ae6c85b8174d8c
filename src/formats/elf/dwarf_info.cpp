// Reading units: abbreviation tables, unit headers and entries. Every count, length and
// offset comes from the file, so each is checked against the section that holds it
// before it is used; what cannot be read is said with the place it was met.
#include "formats/elf/dwarf_info.h"

#include <algorithm>

#include "common/alert.h"
#include "formats/elf/dwarf_constants.h"
#include "model/run.h"
#include "model/store.h"

namespace dwarf {

// ---- Abbreviations ----

void Abbreviations::note_versions(SectionId units) {
    ByteReader in = sections_.reader(units);
    while (in.remaining() >= 11) {
        uint64_t start = in.position();
        uint64_t length = in.u32();
        if (length == 0xFFFFFFFF) {
            length = in.u64();
            if (!in.ok() || length > in.remaining()) return;
            in.seek(in.position() + length);
            continue;
        }
        uint16_t version = in.u16();
        if (version == 5) in.skip(2);
        uint32_t offset = in.u32();
        if (!in.ok()) return;
        if (known_version(version)) versions_.emplace(offset, version);
        in.seek(start + 4 + length);
    }
}

unsigned Abbreviations::version_at(uint64_t offset) const {
    auto named = versions_.find(offset);
    return named != versions_.end() ? named->second : 2;
}

const AbbreviationTable& Abbreviations::table_at(uint64_t offset) {
    auto known = tables_.find(offset);
    if (known != tables_.end()) return known->second;
    const unsigned version = version_at(offset);
    AbbreviationTable& table = tables_[offset];
    ByteReader in = sections_.reader(ABBREV);
    in.seek(offset);
    for (;;) {
        uint64_t code = in.uleb128();
        if (!in.ok() || code == 0) break;
        Abbreviation abbreviation;
        abbreviation.tag = in.uleb128();
        abbreviation.children = in.u8();
        abbreviation.first = uint32_t(specs_.size());
        for (;;) {
            uint64_t attribute = in.uleb128();
            uint64_t form = in.uleb128();
            if (!in.ok() || (attribute == 0 && form == 0)) break;
            int64_t implicit_value = 0;
            if (form == DW_FORM_implicit_const && FORM.has(form, version))
                implicit_value = in.sleb128();
            specs_.push_back({attribute, form, implicit_value});
        }
        if (!in.ok()) break;
        abbreviation.count = uint32_t(specs_.size() - abbreviation.first);
        table.by_code.emplace(code, abbreviation);
    }
    charge_read_allowance(run_, in.position() - offset);
    return table;
}

void Abbreviations::clear() {
    tables_.clear();
    specs_ = std::vector<AttributeSpec>();
}

AbbreviationWalk::AbbreviationWalk(const SectionSet& sections, const Abbreviations& tables)
    : run_(sections.run()), sections_(sections), tables_(tables), in_(sections.reader(ABBREV)) {}

bool AbbreviationWalk::next(Item* item) {
    while (in_.remaining() && in_.ok()) {
        item->offset = in_.position();
        if (table_start_) version_ = tables_.version_at(item->offset);
        item->code = in_.uleb128();
        table_start_ = item->code == 0;
        if (!in_.ok()) return false;
        if (item->code == 0) continue; // the end of a table
        item->tag = in_.uleb128();
        item->children = in_.u8();
        item->version = version_;
        return in_.ok();
    }
    return false;
}

bool AbbreviationWalk::next_pair(const Item& item, AttributeSpec* spec, bool* has_value) {
    spec->attribute = in_.uleb128();
    spec->form = in_.uleb128();
    spec->implicit_value = 0;
    if (!in_.ok() || (spec->attribute == 0 && spec->form == 0)) return false;
    *has_value = spec->form == DW_FORM_implicit_const && FORM.has(spec->form, item.version);
    if (*has_value) spec->implicit_value = in_.sleb128();
    return true;
}

void AbbreviationWalk::finish() {
    if (!in_.ok())
        message(run_.messages, 422, sections_[ABBREV].name, unsigned(in_.position()), "section");
}

// ---- Unit headers ----

UnitReader::UnitReader(const SectionSet& sections, SectionId section)
    : run_(sections.run()), sections_(sections), section_(section), in_(sections.reader(section)) {}

UnitStep UnitReader::next(UnitHeader* header) {
    UnitHeader& h = *header;
    h = UnitHeader();
    const char* name = sections_[section_].name;
    const uint64_t start = h.offset = in_.position();
    uint64_t length = in_.u32();
    if (length == 0xFFFFFFFF) {
        length = in_.u64();
        message(run_.messages, 421, "unit", unsigned(start));
        if (!in_.ok() || length > in_.remaining()) return UnitStep::STOP;
        in_.seek(in_.position() + length);
        return UnitStep::SKIP;
    }
    if (!in_.ok()) {
        message(run_.messages, 422, name, unsigned(start), "section");
        return UnitStep::STOP;
    }
    if (length < 7) {
        message(run_.messages, 659, unsigned(length));
        return UnitStep::STOP;
    }
    h.length = length;
    h.next = start + 4 + length;
    h.version = in_.u16();
    if (!in_.ok()) {
        message(run_.messages, 422, name, unsigned(start), "section");
        return UnitStep::STOP;
    }
    h.read = UnitHeader::VERSION;
    if (!known_version(h.version)) {
        message(run_.messages, 420, "unit", unsigned(start), "version", unsigned(h.version));
        in_.seek(h.next);
        return UnitStep::SKIP;
    }
    if (!read_rest(h)) {
        message(run_.messages, 422, name, unsigned(start), "section");
        return UnitStep::STOP;
    }
    h.read = UnitHeader::WHOLE;
    UnitStep step = check(h);
    if (step != UnitStep::STOP) in_.seek(h.next);
    return step;
}

// The header after its version: false when it runs past the unit or the section.
bool UnitReader::read_rest(UnitHeader& h) {
    h.unit_type = DW_UT_compile;
    if (h.version == 5) {
        h.unit_type = in_.u8();
        h.address_size = in_.u8();
        h.abbrev_offset = in_.u32();
    } else {
        h.abbrev_offset = in_.u32();
        h.address_size = in_.u8();
        if (section_ == TYPES) h.unit_type = DW_UT_type;
    }
    h.type_unit = h.unit_type == DW_UT_type || h.unit_type == DW_UT_split_type;
    h.has_id = h.type_unit || h.unit_type == DW_UT_skeleton || h.unit_type == DW_UT_split_compile;
    if (h.has_id) h.id = in_.u64();
    if (h.type_unit) h.type_offset = in_.u32();
    h.entries = in_.position();
    return in_.ok() && in_.position() <= h.next;
}

UnitStep UnitReader::check(const UnitHeader& h) {
    if (h.version == 5 && !UT.has(h.unit_type, h.version)) {
        message(run_.messages, 420, "unit", unsigned(h.offset), "unit type", unsigned(h.unit_type));
        return UnitStep::SKIP;
    }
    if (h.abbrev_offset >= sections_[ABBREV].bytes.size()) {
        message(run_.messages, 660, unsigned(sections_[ABBREV].bytes.size()));
        return UnitStep::STOP;
    }
    if (!known_address_size(h.address_size)) {
        message(run_.messages, 661, unsigned(h.address_size));
        return UnitStep::STOP;
    }
    return UnitStep::READ;
}

// ---- Entries ----

EntryReader::EntryReader(const SectionSet& sections, SectionId section, const UnitHeader& unit,
                         Abbreviations& abbreviations)
    : run_(sections.run()), sections_(sections), abbreviations_(abbreviations),
      table_(abbreviations.table_at(unit.abbrev_offset)),
      context_(UnitContext::of_version(unit.version, &sections, section)),
      abbrev_offset_(unit.abbrev_offset),
      end_(std::min<uint64_t>(unit.next, sections[section].bytes.size())),
      in_(sections.reader(section)) {
    context_.address_size = unit.address_size;
    in_.seek(unit.entries);
    if (unit.version >= 4) find_bases(table_);
}

// The bases that the unit's entry gives its indexed strings and addresses, which its own
// attributes may use before they come.
void EntryReader::find_bases(const AbbreviationTable& table) {
    ByteReader in = in_;
    auto found = table.by_code.find(in.uleb128());
    if (!in.ok() || found == table.by_code.end()) return;
    const Abbreviation& abbreviation = found->second;
    for (uint32_t k = 0; k < abbreviation.count; ++k) {
        const AttributeSpec& spec = abbreviations_.spec(abbreviation, k);
        FormValue value;
        if (spec.form == DW_FORM_indirect ||
            read_value(in, spec.form, spec.implicit_value, context_, end_, &value) != ValueRead::OK)
            return;
        if (spec.attribute == DW_AT_str_offsets_base) context_.str_offsets_base = value.number;
        if (spec.attribute == DW_AT_addr_base || spec.attribute == DW_AT_GNU_addr_base)
            context_.addr_base = value.number;
    }
}

EntryReader::Next EntryReader::next(Entry* entry) {
    if (done_ || in_.position() >= end_) return Next::END;
    const uint64_t at = in_.position();
    uint64_t code = in_.uleb128();
    if (!in_.ok() || in_.position() > end_) {
        message(run_.messages, 422, sections_[context_.section].name, unsigned(at), "unit");
        return Next::FAILED;
    }
    *entry = Entry();
    entry->offset = at;
    entry->code = code;
    entry->depth = depth_;
    if (code == 0) {
        if (depth_ == 0 || --depth_ == 0) done_ = true;
        return Next::NULL_ENTRY;
    }
    auto found = table_.by_code.find(code);
    if (found == table_.by_code.end()) {
        message(run_.messages, 658);
        return Next::FAILED;
    }
    entry->abbreviation = &found->second;
    // Its children, if any, come after its values; a top-level entry without them is
    // the whole tree.
    if (found->second.children == 1)
        ++depth_;
    else if (depth_ == 0)
        done_ = true;
    return Next::ENTRY;
}

bool EntryReader::value(const AttributeSpec& spec, AttributeValue* value) {
    AttributeValue& v = *value;
    v.status = AttributeValue::FAILED;
    v.indirect_count = 0;
    const char* name = sections_[context_.section].name;
    uint64_t form = spec.form;
    for (unsigned nesting = 0; form == DW_FORM_indirect; ++nesting) {
        uint64_t at = in_.position();
        form = in_.uleb128();
        if (!in_.ok() || in_.position() > end_) {
            message(run_.messages, 422, name, unsigned(at), "unit");
            return false;
        }
        if (nesting == AttributeValue::MAX_INDIRECT || form == DW_FORM_implicit_const) {
            message(run_.messages, 647);
            return false;
        }
        v.indirect[v.indirect_count++] = form;
    }
    uint64_t at = in_.position();
    switch (read_value(in_, form, spec.implicit_value, context_, end_, &v.value)) {
    case ValueRead::OK: v.status = AttributeValue::OK; return true;
    case ValueRead::UNKNOWN_FORM:
        v.status = AttributeValue::UNKNOWN_FORM;
        message(run_.messages, 647);
        return false;
    case ValueRead::OVERRUN: break;
    }
    message(run_.messages, 422, name, unsigned(at), "unit");
    return false;
}

void EntryReader::finish() {
    const std::vector<uint8_t>& bytes = sections_[context_.section].bytes;
    for (uint64_t at = in_.position(); at < end_; ++at)
        if (bytes[at] != 0) {
            message(run_.messages, 662, unsigned(abbrev_offset_));
            break;
        }
}

} // namespace dwarf
