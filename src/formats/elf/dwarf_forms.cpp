// Reading attribute values by the layouts of their forms.
#include "formats/elf/dwarf_forms.h"

#include <algorithm>
#include <cstring>

#include "formats/elf/dwarf_constants.h"

namespace dwarf {

UnitContext UnitContext::of_version(unsigned version, const SectionSet* sections,
                                    SectionId section) {
    UnitContext unit;
    unit.version = version;
    unit.sections = sections;
    unit.section = section;
    // A table of version 5 begins with an eight-byte header; the split units of version 4
    // index tables that have none.
    unit.str_offsets_base = unit.addr_base = version >= 5 ? 8 : 0;
    return unit;
}

bool is_string_form(uint64_t form) {
    const FormRow* row = form_row(form);
    return row &&
           (row->kind == FormClass::STRING_OFFSET || row->kind == FormClass::LINE_STRING_OFFSET ||
            row->kind == FormClass::STRING_INDEX);
}

namespace {

// A block after its length, which must end by end.
bool read_block(ByteReader& in, FormLayout layout, const UnitContext& unit, uint64_t end,
                FormValue& v) {
    v.kind = FormValue::BLOCK;
    v.number = layout == FormLayout::BLOCK1   ? in.u8()
               : layout == FormLayout::BLOCK2 ? in.u16()
               : layout == FormLayout::BLOCK4 ? in.u32()
                                              : in.uleb128();
    if (in.ok() && v.number > end - std::min(end, in.position())) return false;
    if (in.ok()) v.block = (*unit.sections)[unit.section].bytes.data() + in.position();
    in.skip(v.number);
    return true;
}

// A string inside the unit, whose terminator must come before end.
bool read_string(ByteReader& in, const UnitContext& unit, uint64_t end, FormValue& v) {
    v.kind = FormValue::STRING;
    const uint8_t* bytes = (*unit.sections)[unit.section].bytes.data();
    uint64_t at = in.position();
    const void* nul = at < end ? memchr(bytes + at, 0, end - at) : nullptr;
    if (!nul) return false;
    v.text = reinterpret_cast<const char*>(bytes + at);
    v.text_length = size_t(static_cast<const uint8_t*>(nul) - (bytes + at));
    in.seek(at + v.text_length + 1);
    return true;
}

// The bytes of the form's layout; false when the value's bytes cannot be there.
bool read_bytes(ByteReader& in, const FormRow& row, int64_t implicit_value, const UnitContext& unit,
                uint64_t end, FormValue& v) {
    switch (row.layout) {
    case FormLayout::NOTHING: v.number = 1; break;
    case FormLayout::ADDRESS:
        v.kind = FormValue::ADDRESS;
        v.number = in.uint(unit.address_size);
        break;
    case FormLayout::REF_ADDR:
        if (unit.version == 2) v.kind = FormValue::ADDRESS;
        v.number = in.uint(unit.version == 2 ? unit.address_size : unit.offset_size);
        break;
    case FormLayout::U8: v.number = in.u8(); break;
    case FormLayout::U16: v.number = in.u16(); break;
    case FormLayout::U24: v.number = in.uint(3); break;
    case FormLayout::U32: v.number = in.u32(); break;
    case FormLayout::U64: v.number = in.u64(); break;
    case FormLayout::U128: {
        v.kind = FormValue::WIDE;
        uint64_t first = in.u64(), second = in.u64();
        bool big = in.order() == ByteOrder::big;
        v.high = big ? first : second;
        v.number = big ? second : first;
        break;
    }
    case FormLayout::ULEB: v.number = in.uleb128(); break;
    case FormLayout::SLEB:
        v.signed_value = in.sleb128();
        v.number = static_cast<uint64_t>(v.signed_value);
        break;
    case FormLayout::OFFSET: v.number = in.uint(unit.offset_size); break;
    case FormLayout::IMPLICIT:
        v.signed_value = implicit_value;
        v.number = static_cast<uint64_t>(implicit_value);
        break;
    case FormLayout::BLOCK1:
    case FormLayout::BLOCK2:
    case FormLayout::BLOCK4:
    case FormLayout::BLOCK:
        if (!read_block(in, row.layout, unit, end, v)) return false;
        break;
    case FormLayout::STRING:
        if (!read_string(in, unit, end, v)) return false;
        break;
    case FormLayout::INDIRECT: return false;
    }
    return in.ok() && in.position() <= end;
}

// The string an offset or an index names, when its table has it.
void look_up_string(const FormRow& row, const UnitContext& unit, FormValue& v) {
    const SectionSet& sections = *unit.sections;
    v.kind = FormValue::STRING;
    uint64_t offset = v.number;
    if (row.kind == FormClass::STRING_INDEX) {
        ByteReader offsets = sections.reader(STR_OFFSETS);
        offsets.seek(unit.str_offsets_base + v.number * unit.offset_size);
        offset = offsets.uint(unit.offset_size);
        if (!offsets.ok() || v.number > UINT32_MAX) return; // no text: shown as such
    }
    v.text = sections.string_at(row.kind == FormClass::LINE_STRING_OFFSET ? LINE_STR : STR, offset,
                                &v.text_length);
}

void look_up_address(const UnitContext& unit, FormValue& v) {
    ByteReader addresses = unit.sections->reader(ADDR);
    uint64_t index = v.number;
    addresses.seek(unit.addr_base + index * unit.address_size);
    uint64_t address = addresses.uint(unit.address_size);
    v.kind = FormValue::ADDRESS;
    if (addresses.ok() && index <= UINT32_MAX)
        v.number = address;
    else
        v.missing = true;
}

} // namespace

ValueRead read_value(ByteReader& in, uint64_t form, int64_t implicit_value, const UnitContext& unit,
                     uint64_t end, FormValue* value) {
    FormValue& v = *value;
    v = FormValue();
    v.form = form;
    const FormRow* row = form_row(form);
    if (!row || !FORM.has(form, unit.version) || row->layout == FormLayout::INDIRECT)
        return ValueRead::UNKNOWN_FORM;
    switch (row->kind) {
    case FormClass::SIGNED: v.kind = FormValue::SIGNED; break;
    case FormClass::FLAG: v.kind = FormValue::FLAG; break;
    default: break;
    }
    if (!read_bytes(in, *row, implicit_value, unit, end, v)) return ValueRead::OVERRUN;
    if (row->kind == FormClass::STRING_OFFSET || row->kind == FormClass::LINE_STRING_OFFSET ||
        row->kind == FormClass::STRING_INDEX)
        look_up_string(*row, unit, v);
    else if (row->kind == FormClass::ADDRESS_INDEX)
        look_up_address(unit, v);
    return ValueRead::OK;
}

} // namespace dwarf
