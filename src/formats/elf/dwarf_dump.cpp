// The DWARF dump: the debugging sections an ELF file holds, printed after its headers.
// This part holds the order of the sections, the string and abbreviation tables and the
// units with their entries; the line-number programs, the call frames, the lists and
// the lookup, index and macro tables have a file each.
//
// What one area of the file may be printed for many times (a string named by many
// entries, a deep nesting's indentation) is measured by the dump's allowance.
#include "formats/elf/dwarf_dump.h"

#include <cctype>
#include <cinttypes>
#include <cstring>

#include "common/alert.h"
#include "common/options.h"
#include "formats/elf/dwarf.h"
#include "formats/elf/dwarf_constants.h"
#include "model/run.h"
#include "model/store.h"

namespace dwarf {

namespace {

// An address value in the layout of its size.
void print_address(uint64_t value, unsigned size) {
    switch (size) {
    case 1: printf("0x%02X", unsigned(value)); break;
    case 2: printf("0x%04X", unsigned(value)); break;
    case 4: printf("0x%08lX", static_cast<unsigned long>(value)); break;
    default: printf("0x%08llX", static_cast<unsigned long long>(value)); break;
    }
}

// A number in the layout of its form.
void print_number(const FormRow& row, uint64_t value) {
    switch (row.layout) {
    case FormLayout::U8: printf("0x%02X", unsigned(value)); break;
    case FormLayout::U16: printf("0x%04X", unsigned(value)); break;
    case FormLayout::U32:
    case FormLayout::OFFSET:
    case FormLayout::REF_ADDR: printf("0x%08lX", static_cast<unsigned long>(value)); break;
    case FormLayout::ULEB:
        if (row.kind != FormClass::REFERENCE) {
            printf("%llu", static_cast<unsigned long long>(value));
            break;
        }
        [[fallthrough]];
    default: printf("0x%08llX", static_cast<unsigned long long>(value)); break;
    }
}

// The vendor attribute that names the list of location views of a location list.
constexpr uint64_t GNU_LOCVIEWS = DW_AT_GNU_locviews;

// Attributes whose constant or section-offset values name a location list.
bool names_location_list(uint64_t attribute) {
    switch (attribute) {
    case DW_AT_location:
    case DW_AT_string_length:
    case DW_AT_return_addr:
    case DW_AT_data_member_location:
    case DW_AT_frame_base:
    case DW_AT_segment:
    case DW_AT_static_link:
    case DW_AT_use_location:
    case DW_AT_vtable_elem_location: return true;
    default: return false;
    }
}

} // namespace

// ---- Sections ----

bool DwarfDump::heading(SectionId id) {
    const Section& section = sections_[id];
    printf("\n\n");
    if (!section.found) {
        printf("No %s (from %s)\n", section.description, section.name);
        return false;
    }
    printf("%c%s (%s):\n", toupper(static_cast<unsigned char>(section.description[0])),
           section.description + 1, section.name);
    return true;
}

void DwarfDump::charge(uint64_t count) {
    charge_read_allowance(run, count);
}

void DwarfDump::print_string(const char* text, size_t length) {
    putchar('"');
    fwrite(text, 1, length, stdout);
    putchar('"');
}

void DwarfDump::print_all() {
    SectionSet& s = sections_;
    if (!s[INFO].found) {
        printf("\n\nNo DWARF found\n");
        return;
    }
    printf("\n\nDWARF:\n");
    if (!s[ABBREV].found) {
        message(run.messages, 667);
        return;
    }
    for (SectionId indexed : {STR, STR_OFFSETS, LINE_STR, ADDR})
        s.load(indexed);
    if (run.options.verbose_level != 0 && heading(STR)) dump_strings(STR);
    s.load(ABBREV);
    // The units tell the version of each abbreviation table they name, which its names
    // follow; the section's own message comes where it is dumped.
    s.load(INFO, false);
    abbreviations_.note_versions(INFO);
    for (size_t k = 0; k < s[TYPES].instances.size(); ++k) {
        s.select(TYPES, k);
        s.load(TYPES, false);
        abbreviations_.note_versions(TYPES);
    }
    if (heading(ABBREV)) dump_abbreviations();
    dump_unit_section(INFO);
    for (size_t k = 0; k < s[TYPES].instances.size(); ++k) {
        s.select(TYPES, k);
        s.load(TYPES, false);
        dump_unit_section(TYPES);
    }
    s.release(ABBREV);
    abbreviations_.clear();
    // The file names of a split unit come from the one program of .debug_line.dwo, which
    // no attribute names.
    if (s.split() && s[LINE].found) line_references_.push_back(0);
    if (line_references_.empty())
        printf("\nNo references to line number information\n");
    else
        dump_lines();
    if (s.split()) {
        // A split unit's file holds no frames, lookup or range tables of its own.
        if (s[MACINFO_SECTION].found) dump_macinfo();
        dump_macros();
        if (s[LOC].found) dump_locations();
    } else {
        dump_frames();
        dump_pubnames();
        heading(PUBTYPES);
        dump_aranges();
        dump_macinfo();
        dump_macros();
        dump_locations();
        heading(RANGES);
    }
    dump_later_sections();
}

// A section of units: its heading, its units, and its bytes released.
void DwarfDump::dump_unit_section(SectionId id) {
    Section& section = sections_[id];
    if (section.unreadable) message(run.messages, 666, section.name, section.description);
    if (heading(id)) dump_units(id);
    sections_.release(id);
}

// ---- Strings and abbreviations ----

void DwarfDump::dump_strings(SectionId id) {
    const std::vector<uint8_t>& table = sections_[id].bytes;
    for (size_t at = 0; at < table.size();) {
        const void* end = memchr(table.data() + at, 0, table.size() - at);
        size_t length = end ? size_t(static_cast<const uint8_t*>(end) - (table.data() + at))
                            : table.size() - at;
        printf("0x%08lX: ", static_cast<unsigned long>(at));
        print_string(reinterpret_cast<const char*>(table.data() + at), length);
        putchar('\n');
        at += length + 1;
    }
}

void DwarfDump::dump_abbreviations() {
    AbbreviationWalk walk(sections_, abbreviations_);
    AbbreviationWalk::Item item;
    while (walk.next(&item)) {
        printf("\n@ 0x%08lX\n%5.5lu(%c): %s\n", static_cast<unsigned long>(item.offset),
               static_cast<unsigned long>(item.code),
               item.children == 1   ? 'Y'
               : item.children == 0 ? 'N'
                                    : '?',
               TAG.full(item.tag, item.version));
        AttributeSpec spec;
        bool has_value = false;
        while (walk.next_pair(item, &spec, &has_value)) {
            printf("          %-30s %s", AT.full(spec.attribute, item.version),
                   FORM.full(spec.form, item.version));
            if (has_value) printf(": %lld", static_cast<long long>(spec.implicit_value));
            printf("\n");
        }
    }
    walk.finish();
}

// ---- Units and entries ----

void DwarfDump::dump_units(SectionId id) {
    UnitReader units(sections_, id);
    for (unsigned number = 1; !units.done(); ++number) {
        printf("\nCompilation Unit %u @ 0x%08lX\n", number,
               static_cast<unsigned long>(units.position()));
        UnitHeader header;
        UnitStep step = units.next(&header);
        print_unit_header(header);
        if (step == UnitStep::STOP) break;
        if (step == UnitStep::SKIP) continue;
        address_size_ = header.address_size;
        unit_version_ = header.version;
        dump_entries(id, header);
    }
}

void DwarfDump::print_unit_header(const UnitHeader& h) {
    if (h.read == UnitHeader::NOTHING) return;
    printf("size=%lu ver=0x%04X", static_cast<unsigned long>(h.length), unsigned(h.version));
    if (h.read == UnitHeader::VERSION) {
        printf("\n\n");
        return;
    }
    printf(" ");
    if (h.version == 5) printf("unit type=%s ", UT.full(h.unit_type, h.version));
    printf("abbrev offset=0x%08lX, addrsize=%u", static_cast<unsigned long>(h.abbrev_offset),
           unsigned(h.address_size));
    if (h.type_unit)
        printf(" signature=0x%016llX type offset=0x%08lX", static_cast<unsigned long long>(h.id),
               static_cast<unsigned long>(h.type_offset));
    else if (h.has_id)
        printf(" dwo id=0x%016llX", static_cast<unsigned long long>(h.id));
    printf("\n\n");
}

// The unit's entries, each indented by two blanks a level.
void DwarfDump::dump_entries(SectionId id, const UnitHeader& header) {
    EntryReader entries(sections_, id, header, abbreviations_);
    str_offsets_base_ = entries.context().str_offsets_base;
    Entry entry;
    for (;;) {
        switch (entries.next(&entry)) {
        case EntryReader::Next::FAILED: return;
        case EntryReader::Next::END: entries.finish(); return;
        case EntryReader::Next::NULL_ENTRY:
            if (run.options.verbose_level >= 4) {
                charge(2 * entry.depth);
                printf("%*s+<NULL ENTRY>\n", int(2 * entry.depth), "");
            }
            break;
        case EntryReader::Next::ENTRY:
            const int indent = int(2 * entry.depth);
            const Abbreviation& abbreviation = *entry.abbreviation;
            charge(uint64_t(indent) * (1 + abbreviation.count));
            printf("%*s+%s (%lu) @ 0x%lX (0x%lX)\n", indent, "",
                   TAG.plain(abbreviation.tag, entries.context().version),
                   static_cast<unsigned long>(entry.code),
                   static_cast<unsigned long>(entry.offset - header.offset),
                   static_cast<unsigned long>(entry.offset));
            for (uint32_t k = 0; k < abbreviation.count; ++k)
                if (!print_attribute(entries, abbreviations_.spec(abbreviation, k), indent)) return;
            break;
        }
    }
}

// One attribute's line; false when its value cannot be read, which ends the unit.
bool DwarfDump::print_attribute(EntryReader& entries, const AttributeSpec& spec, int indent) {
    const UnitContext& unit = entries.context();
    printf("%*s %s", indent, "", AT.plain(spec.attribute, unit.version));
    printf("[%s] = ", FORM.plain(spec.form, unit.version));
    AttributeValue value;
    const uint64_t before = entries.position();
    bool read = entries.value(spec, &value);
    for (unsigned k = 0; k < value.indirect_count; ++k)
        printf("%s: ", FORM.plain(value.indirect[k], unit.version));
    if (value.status == AttributeValue::UNKNOWN_FORM)
        printf("?? Unknown form 0x%lX", static_cast<unsigned long>(value.value.form));
    if (read) {
        // A value without bytes (a flag that is present, an implicit constant) is one
        // more line that the entry's code alone brings.
        if (entries.position() == before) charge(1);
        print_value(spec, value.value, unit);
    }
    printf("\n");
    return read;
}

void DwarfDump::print_value(const AttributeSpec& spec, const FormValue& v,
                            const UnitContext& unit) {
    const unsigned version = unit.version;
    const NameFamily* names = value_names(spec.attribute);
    bool named = false;
    if (v.kind == FormValue::NUMBER || v.kind == FormValue::SIGNED) {
        named = names && names->has(v.number, version);
        if (named) printf("%s (", names->plain(v.number, version));
    }
    if (v.kind != FormValue::STRING && v.kind != FormValue::BLOCK && !v.missing)
        note_reference(spec.attribute, v, unit);
    const FormRow& row = *form_row(v.form);
    switch (v.kind) {
    case FormValue::ADDRESS:
        if (v.missing)
            printf("?? Invalid address index: 0x%08llX", static_cast<unsigned long long>(v.number));
        else
            print_address(v.number, unit.address_size);
        break;
    case FormValue::FLAG: printf("%s", bool_text(v.number != 0)); break;
    case FormValue::SIGNED: printf("%lld", static_cast<long long>(v.signed_value)); break;
    case FormValue::WIDE:
        printf("0x%016llX%016llX", static_cast<unsigned long long>(v.high),
               static_cast<unsigned long long>(v.number));
        break;
    case FormValue::BLOCK:
        printf(row.layout == FormLayout::BLOCK1   ? "0x%02llX"
               : row.layout == FormLayout::BLOCK4 ? "0x%08llX"
                                                  : "0x%04llX",
               static_cast<unsigned long long>(v.number));
        break;
    case FormValue::STRING:
        if (v.text) {
            // A string of a table may be named by any number of entries.
            if (row.layout != FormLayout::STRING) charge(v.text_length);
            print_string(v.text, v.text_length);
        } else if (row.kind == FormClass::STRING_OFFSET) {
            printf("?? Invalid string table offset: 0x%08lX", static_cast<unsigned long>(v.number));
        } else if (row.kind == FormClass::LINE_STRING_OFFSET) {
            printf("?? Invalid line string table offset: 0x%08lX",
                   static_cast<unsigned long>(v.number));
        } else {
            printf("?? Invalid string index: 0x%08llX", static_cast<unsigned long long>(v.number));
        }
        break;
    case FormValue::NUMBER: print_number(row, v.number); break;
    }
    if (named) printf(")");
}

// A line-number program, a location list or a list of location views that an attribute
// names.
void DwarfDump::note_reference(uint64_t attribute, const FormValue& v, const UnitContext& unit) {
    if (attribute == DW_AT_stmt_list) line_references_.push_back(v.number);
    const unsigned section = unit.version >= 5 ? 1 : 0;
    const bool offset = v.form == DW_FORM_sec_offset ||
                        (unit.version <= 3 && (v.form == DW_FORM_data4 || v.form == DW_FORM_data8));
    if (!offset) return;
    // A split unit of version 5 gives its views from the end of the header of its one set
    // of .debug_loclists.dwo, where the offset table begins (as gcc writes them).
    const uint64_t base = sections_.split() && section == 1 ? (unit.offset_size == 8 ? 20 : 12) : 0;
    if (attribute == GNU_LOCVIEWS) view_lists_[section].insert(base + v.number);
    if (!names_location_list(attribute)) return;
    location_lists_[section].insert(v.number);
    if (unit.version >= 3 && unit.version <= 4) list_versions_.emplace(v.number, unit.version);
}

} // namespace dwarf

void dwarf_dump(Run& run, ByteReader& file, const std::vector<ElfSectionHeader>& sections,
                const std::vector<uint8_t>& section_names) {
    dwarf::SectionSet program(run, file, false), split(run, file, true);
    dwarf::find_sections(run, sections, section_names, &program, &split);
    const bool has_split = split[dwarf::INFO].found;
    if (!has_split || program[dwarf::INFO].found) dwarf::DwarfDump(run, program).print_all();
    if (has_split) dwarf::DwarfDump(run, split).print_all();
}
