// Reading macro information.
#include "formats/elf/dwarf_macros.h"

#include <algorithm>

#include "common/alert.h"
#include "formats/elf/dwarf_constants.h"
#include "model/run.h"
#include "model/store.h"

namespace dwarf {

bool read_macinfo_entry(ByteReader& in, MacinfoEntry* entry) {
    MacinfoEntry& e = *entry;
    e.type = in.uleb128();
    e.line = e.file = 0;
    e.text.clear();
    if (!in.ok()) return false;
    if (e.type == 3) {
        e.line = in.uleb128();
        e.file = in.uleb128();
    } else if (e.type == 1 || e.type == 2 || e.type == 255) {
        e.line = in.uleb128();
        e.text = in.cstring(SIZE_MAX);
    }
    return in.ok();
}

namespace {

// The flags of a macro unit's header.
constexpr uint8_t OFFSET_SIZE_FLAG = 1, LINE_OFFSET_FLAG = 2, OPERANDS_TABLE_FLAG = 4;

} // namespace

bool read_macro_header(Run& run, ByteReader& in, const Section& section, MacroUnitHeader* header) {
    MacroUnitHeader& h = *header;
    h = MacroUnitHeader();
    h.offset = in.position();
    h.version = in.u16();
    h.flags = in.u8();
    if (in.ok() && h.version != 4 && h.version != 5) {
        message(run.messages, 420, section.name, unsigned(h.offset), "version", h.version);
        return false;
    }
    h.offset_size = h.flags & OFFSET_SIZE_FLAG ? 8 : 4;
    h.has_line_offset = h.flags & LINE_OFFSET_FLAG;
    if (h.has_line_offset) h.line_offset = in.uint(h.offset_size);
    if (h.flags & OPERANDS_TABLE_FLAG) {
        unsigned count = in.u8();
        for (unsigned k = 0; k < count && in.ok(); ++k) {
            uint8_t type = in.u8();
            uint64_t forms = in.uleb128();
            if (!in.ok() || forms > in.remaining()) {
                in.fail();
                break;
            }
            std::vector<uint8_t> list(forms);
            in.bytes(list.data(), list.size());
            h.operand_forms.push_back({type, std::move(list)});
        }
    }
    if (in.ok()) return true;
    message(run.messages, 422, section.name, unsigned(h.offset), "section");
    return false;
}

namespace {

// One operand of a known entry type.
uint64_t read_operand(Run& run, ByteReader& in, MacroOperand kind, const MacroUnitHeader& header,
                      const UnitContext& unit, MacroEntry& e) {
    switch (kind) {
    case MacroOperand::NONE: return 0;
    case MacroOperand::LINE:
    case MacroOperand::FILE: return in.uleb128();
    case MacroOperand::STRING: {
        uint64_t at = in.position();
        e.text = unit.sections->string_at(unit.section, at, &e.text_length);
        if (e.text)
            in.seek(at + e.text_length + 1);
        else
            in.fail();
        return 0;
    }
    case MacroOperand::STRP: {
        uint64_t offset = in.uint(header.offset_size);
        e.text = unit.sections->string_at(STR, offset, &e.text_length);
        // A string of the table may be named by any number of entries.
        if (e.text) charge_read_allowance(run, e.text_length);
        return offset;
    }
    case MacroOperand::STRX: {
        uint64_t index = in.uleb128();
        ByteReader offsets = unit.sections->reader(STR_OFFSETS);
        offsets.seek(unit.str_offsets_base + index * unit.offset_size);
        uint64_t offset = offsets.uint(unit.offset_size);
        if (offsets.ok() && index <= UINT32_MAX) {
            e.text = unit.sections->string_at(STR, offset, &e.text_length);
            if (e.text) charge_read_allowance(run, e.text_length);
        }
        return index;
    }
    case MacroOperand::UNIT:
    case MacroOperand::SUP: return in.uint(header.offset_size);
    }
    return 0;
}

} // namespace

MacroEntryRead read_macro_entry(Run& run, ByteReader& in, const Section& section,
                                const MacroUnitHeader& header, const UnitContext& unit,
                                MacroEntry* entry) {
    MacroEntry& e = *entry;
    e = MacroEntry();
    e.offset = in.position();
    e.type = in.u8();
    if (!in.ok()) {
        message(run.messages, 422, section.name, unsigned(e.offset), "unit");
        return MacroEntryRead::CUT;
    }
    if (e.type == 0) return MacroEntryRead::OK;
    e.layout = macro_layout(e.type, header.version);
    auto described = std::find_if(header.operand_forms.begin(), header.operand_forms.end(),
                                  [&](const auto& f) { return f.first == e.type; });
    if (e.layout.known) {
        e.values[0] = read_operand(run, in, e.layout.first, header, unit, e);
        e.values[1] = read_operand(run, in, e.layout.second, header, unit, e);
    } else if (described != header.operand_forms.end()) {
        UnitContext forms = unit;
        forms.offset_size = header.offset_size;
        for (uint8_t form : described->second) {
            e.operands.emplace_back();
            if (read_value(in, form, 0, forms, in.size(), &e.operands.back()) != ValueRead::OK)
                in.fail();
        }
    } else {
        message(run.messages, 423, section.name, "macro entry", unsigned(e.type),
                unsigned(e.offset));
        return MacroEntryRead::UNKNOWN;
    }
    if (in.ok()) return MacroEntryRead::OK;
    message(run.messages, 422, section.name, unsigned(e.offset), "unit");
    return MacroEntryRead::CUT;
}

} // namespace dwarf
