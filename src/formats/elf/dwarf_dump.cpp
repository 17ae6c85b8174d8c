// The DWARF dump: the debugging sections an ELF file holds, printed after its headers.
// This part holds the name tables, the order of the sections, the string and
// abbreviation tables and the units with their entries; the line-number programs, the
// call frames, the small sections and those of version 5 have a file each.
//
// Every count, length and offset comes from the file, so each is checked against the
// section that holds it before it is used; a damaged structure ends with its message and
// the other sections are still dumped. What one area of the file may be printed for many
// times (a string named by many entries, a deep nesting's indentation, an abbreviation
// table that units name at many offsets) is measured by the dump's allowance.
#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstring>
#include <string>

#include "common/alert.h"
#include "common/options.h"
#include "formats/elf/dwarf.h"
#include "formats/elf/dwarf_constants.h"
#include "formats/elf/dwarf_dump_parts.h"
#include "model/store.h"

namespace dwarf_dump_parts {

// ---- Names ----

NameFamily::NameFamily(const char* prefix, std::initializer_list<NameRow> rows, uint32_t user_low,
                       uint32_t user_high)
    : small_(256, nullptr), user_low_(user_low), user_high_(user_high) {
    for (const NameRow& row : rows) {
        std::string plain = row.name;
        std::replace(plain.begin(), plain.end(), '_', ' ');
        std::vector<Names>& names = names_[row.value];
        names.push_back({row.since, "DW_" + std::string(prefix) + "_" + row.name, plain});
        std::stable_sort(names.begin(), names.end(),
                         [](const Names& a, const Names& b) { return a.since < b.since; });
    }
    for (const auto& [value, names] : names_)
        if (value < small_.size()) small_[value] = &names;
}

const NameFamily::Names* NameFamily::find(uint64_t value, unsigned version) const {
    const std::vector<Names>* names = nullptr;
    if (value < small_.size()) {
        names = small_[value];
    } else if (value <= UINT32_MAX) {
        auto found = names_.find(uint32_t(value));
        if (found != names_.end()) names = &found->second;
    }
    const Names* best = nullptr;
    if (names)
        for (const Names& n : *names)
            if (n.since <= version) best = &n;
    return best;
}

const char* NameFamily::unknown(uint64_t value) const {
    static char text[48];
    bool user = value >= user_low_ && value <= user_high_;
    // As the 32-bit long of the printed format holds it, on every platform.
    snprintf(text, sizeof text, "?? 0x%08lX%s", static_cast<unsigned long>(uint32_t(value)),
             user ? " (user-defined)" : "");
    return text;
}

const char* NameFamily::full(uint64_t value, unsigned version) const {
    const Names* n = find(value, version);
    return n ? n->full.c_str() : unknown(value);
}

const char* NameFamily::plain(uint64_t value, unsigned version) const {
    const Names* n = find(value, version);
    return n ? n->plain.c_str() : unknown(value);
}

#define NAME_ROW(value, name) {value, #name, 2},
#define NAME_SINCE(version, value, name) {value, #name, version},
const NameFamily TAG("TAG",
                     {
#define DW_TAG NAME_ROW
#define DW_TAG_SINCE NAME_SINCE
#include "formats/elf/dwarf.def"
#undef DW_TAG
#undef DW_TAG_SINCE
                     },
                     0x4080, 0xFFFF);
const NameFamily AT("AT",
                    {
#define DW_AT NAME_ROW
#define DW_AT_SINCE NAME_SINCE
#include "formats/elf/dwarf.def"
#undef DW_AT
#undef DW_AT_SINCE
                    },
                    0x2000, 0x3FFF);
const NameFamily FORM("FORM", {
#define DW_FORM NAME_ROW
#define DW_FORM_SINCE NAME_SINCE
#include "formats/elf/dwarf.def"
#undef DW_FORM
#undef DW_FORM_SINCE
                              });
const NameFamily OP("OP",
                    {
#define DW_OP NAME_ROW
#define DW_OP_SINCE NAME_SINCE
#include "formats/elf/dwarf.def"
#undef DW_OP
#undef DW_OP_SINCE
                    },
                    0xE0, 0xFF);
const NameFamily CFA("CFA",
                     {
#define DW_CFA NAME_ROW
#define DW_CFA_SINCE NAME_SINCE
#include "formats/elf/dwarf.def"
#undef DW_CFA
#undef DW_CFA_SINCE
                     },
                     0x1C, 0x3F);
const NameFamily MACINFO("MACINFO", {
#define DW_MACINFO NAME_ROW
#include "formats/elf/dwarf.def"
#undef DW_MACINFO
                                    });
const NameFamily ATE("ATE",
                     {
#define DW_ATE NAME_ROW
#define DW_ATE_SINCE NAME_SINCE
#include "formats/elf/dwarf.def"
#undef DW_ATE
#undef DW_ATE_SINCE
                     },
                     0x80, 0xFF);
const NameFamily LANG("LANG",
                      {
#define DW_LANG NAME_ROW
#define DW_LANG_SINCE NAME_SINCE
#include "formats/elf/dwarf.def"
#undef DW_LANG
#undef DW_LANG_SINCE
                      },
                      0x8000, 0xFFFF);
const NameFamily LNS("LNS", {
#define DW_LNS NAME_ROW
#define DW_LNS_SINCE NAME_SINCE
#include "formats/elf/dwarf.def"
#undef DW_LNS
#undef DW_LNS_SINCE
                            });
const NameFamily LNE("LNE", {
#define DW_LNE NAME_ROW
#define DW_LNE_SINCE NAME_SINCE
#include "formats/elf/dwarf.def"
#undef DW_LNE
#undef DW_LNE_SINCE
                            });
const NameFamily UT("UT",
                    {
#define DW_UT_SINCE NAME_SINCE
#include "formats/elf/dwarf.def"
#undef DW_UT_SINCE
                    },
                    0x80, 0xFF);
const NameFamily LNCT("LNCT",
                      {
#define DW_LNCT_SINCE NAME_SINCE
#include "formats/elf/dwarf.def"
#undef DW_LNCT_SINCE
                      },
                      0x2000, 0x3FFF);
const NameFamily RLE("RLE", {
#define DW_RLE_SINCE NAME_SINCE
#include "formats/elf/dwarf.def"
#undef DW_RLE_SINCE
                            });
const NameFamily LLE("LLE", {
#define DW_LLE_SINCE NAME_SINCE
#include "formats/elf/dwarf.def"
#undef DW_LLE_SINCE
                            });
namespace {
const NameFamily ACCESS("ACCESS", {
#define DW_ACCESS NAME_ROW
#include "formats/elf/dwarf.def"
#undef DW_ACCESS
                                  });
const NameFamily VIS("VIS", {
#define DW_VIS NAME_ROW
#include "formats/elf/dwarf.def"
#undef DW_VIS
                            });
const NameFamily VIRTUALITY("VIRTUALITY", {
#define DW_VIRTUALITY NAME_ROW
#include "formats/elf/dwarf.def"
#undef DW_VIRTUALITY
                                          });
const NameFamily ID("ID", {
#define DW_ID NAME_ROW
#include "formats/elf/dwarf.def"
#undef DW_ID
                          });
const NameFamily CC("CC", {
#define DW_CC NAME_ROW
#define DW_CC_SINCE NAME_SINCE
#include "formats/elf/dwarf.def"
#undef DW_CC
#undef DW_CC_SINCE
                          });
const NameFamily INL("INL", {
#define DW_INL NAME_ROW
#include "formats/elf/dwarf.def"
#undef DW_INL
                            });
const NameFamily ORD("ORD", {
#define DW_ORD NAME_ROW
#include "formats/elf/dwarf.def"
#undef DW_ORD
                            });
const NameFamily DSC("DSC", {
#define DW_DSC NAME_ROW
#include "formats/elf/dwarf.def"
#undef DW_DSC
                            });
} // namespace
#undef NAME_ROW
#undef NAME_SINCE

const NameFamily* value_names(uint64_t attribute) {
    switch (attribute) {
    case DW_AT_language: return &LANG;
    case DW_AT_encoding: return &ATE;
    case DW_AT_accessibility: return &ACCESS;
    case DW_AT_visibility: return &VIS;
    case DW_AT_virtuality: return &VIRTUALITY;
    case DW_AT_identifier_case: return &ID;
    case DW_AT_calling_convention: return &CC;
    case DW_AT_inline: return &INL;
    case DW_AT_ordering: return &ORD;
    case DW_AT_discr_list: return &DSC;
    default: return nullptr;
    }
}

namespace {

// Indirect forms may name indirect forms; past this many the form counts as bad.
constexpr unsigned MAX_INDIRECT = 16;

// An address value in the layout of its size.
void print_address(uint64_t value, unsigned size) {
    switch (size) {
    case 1: printf("0x%02X", unsigned(value)); break;
    case 2: printf("0x%04X", unsigned(value)); break;
    case 4: printf("0x%08lX", static_cast<unsigned long>(value)); break;
    default: printf("0x%08llX", static_cast<unsigned long long>(value)); break;
    }
}

// The vendor attribute that names the list of location views of a location list.
constexpr uint64_t GNU_LOCVIEWS = 0x2137;

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

bool is_string_form(uint64_t form) {
    switch (form) {
    case DW_FORM_strp:
    case DW_FORM_line_strp:
    case DW_FORM_strx:
    case DW_FORM_strx1:
    case DW_FORM_strx2:
    case DW_FORM_strx3:
    case DW_FORM_strx4: return true;
    default: return false;
    }
}

} // namespace

// ---- Sections ----

DwarfDump::DwarfDump(ByteReader& file, const std::vector<ElfSectionHeader>& sections,
                     const std::vector<uint8_t>& names)
    : file_(file) {
    for (const ElfSectionHeader& section : sections) {
        if (section.name >= names.size()) {
            alert("W", "Invalid ELF section header. Skipping.");
            continue;
        }
        const char* name = reinterpret_cast<const char*>(names.data()) + section.name;
        size_t length = strnlen(name, names.size() - section.name);
        if (length == 0) continue;
        std::string text(name, length);
        for (Slot& slot : slots_)
            if (text == slot.name) {
                slot.found = true;
                slot.offset = section.offset;
                slot.size = section.size;
            }
    }
}

void DwarfDump::load(Slot& slot, bool report) {
    if (!slot.found || !slot.bytes.empty()) return;
    slot.unreadable = !file_.read_at(slot.offset, slot.size, &slot.bytes);
    if (slot.unreadable) {
        slot.bytes.clear();
        if (report) message(666, slot.name, slot.description);
    }
}

bool DwarfDump::heading(const Slot& slot) {
    printf("\n\n");
    if (!slot.found) {
        printf("No %s (from %s)\n", slot.description, slot.name);
        return false;
    }
    printf("%c%s (%s):\n", toupper(static_cast<unsigned char>(slot.description[0])),
           slot.description + 1, slot.name);
    return true;
}

void DwarfDump::charge(uint64_t count) {
    charge_read_allowance(count);
}

void DwarfDump::run() {
    if (!slots_[INFO].found) {
        printf("\n\nNo DWARF found\n");
        return;
    }
    printf("\n\nDWARF:\n");
    if (!slots_[ABBREV].found) {
        message(667);
        return;
    }
    load(slots_[STR]);
    for (SlotIndex indexed : {STR_OFFSETS, LINE_STR, ADDR})
        load(slots_[indexed]);
    if (options.verbose_level != 0 && heading(slots_[STR])) dump_strings(slots_[STR]);
    load(slots_[ABBREV]);
    // The units tell the version of each abbreviation table they name, which its names
    // follow; the section's own message comes where it is dumped.
    load(slots_[INFO], false);
    note_table_versions();
    if (heading(slots_[ABBREV])) dump_abbreviations();
    if (slots_[INFO].unreadable) message(666, slots_[INFO].name, slots_[INFO].description);
    if (heading(slots_[INFO])) dump_info();
    slots_[INFO].bytes = std::vector<uint8_t>();
    slots_[ABBREV].bytes = std::vector<uint8_t>();
    tables_.clear();
    specs_ = std::vector<AttributeSpec>();
    if (line_references_.empty())
        printf("\nNo references to line number information\n");
    else
        dump_lines();
    dump_frames();
    dump_pubnames();
    heading(slots_[PUBTYPES]);
    dump_aranges();
    dump_macinfo();
    dump_locations();
    heading(slots_[RANGES]);
    dump_v5_sections();
}

// ---- Strings and abbreviations ----

void DwarfDump::dump_strings(const Slot& slot) {
    const std::vector<uint8_t>& table = slot.bytes;
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

void DwarfDump::print_string(const char* text, size_t length) {
    putchar('"');
    fwrite(text, 1, length, stdout);
    putchar('"');
}

const char* DwarfDump::string_at(SlotIndex slot, uint64_t offset, size_t* length) const {
    const std::vector<uint8_t>& strings = slots_[slot].bytes;
    if (offset >= strings.size()) return nullptr;
    const void* end = memchr(strings.data() + offset, 0, strings.size() - offset);
    if (!end) return nullptr;
    *length = size_t(static_cast<const uint8_t*>(end) - (strings.data() + offset));
    return reinterpret_cast<const char*>(strings.data() + offset);
}

// The version of the first unit that names each abbreviation offset.
void DwarfDump::note_table_versions() {
    ByteReader in = reader(slots_[INFO]);
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
        if (known_version(version)) table_versions_.emplace(offset, version);
        in.seek(start + 4 + length);
    }
}

void DwarfDump::dump_abbreviations() {
    ByteReader in = reader(slots_[ABBREV]);
    unsigned version = 2;
    bool table_start = true;
    while (in.remaining() && in.ok()) {
        uint64_t at = in.position();
        if (table_start) {
            auto named = table_versions_.find(at);
            version = named != table_versions_.end() ? named->second : 2;
        }
        uint64_t code = in.uleb128();
        table_start = code == 0;
        if (!in.ok()) break;
        if (code == 0) continue; // the end of a table
        uint64_t tag = in.uleb128();
        uint8_t children = in.u8();
        if (!in.ok()) break;
        printf("\n@ 0x%08lX\n%5.5lu(%c): %s\n", static_cast<unsigned long>(at),
               static_cast<unsigned long>(code),
               children == 1   ? 'Y'
               : children == 0 ? 'N'
                               : '?',
               TAG.full(tag, version));
        for (;;) {
            uint64_t attribute = in.uleb128();
            uint64_t form = in.uleb128();
            if (!in.ok() || (attribute == 0 && form == 0)) break;
            printf("          %-30s %s", AT.full(attribute, version), FORM.full(form, version));
            if (form == DW_FORM_implicit_const && FORM.has(form, version))
                printf(": %lld", static_cast<long long>(in.sleb128()));
            printf("\n");
        }
    }
    if (!in.ok()) message(422, slots_[ABBREV].name, unsigned(in.position()), "section");
}

// The abbreviations of the table at offset, read once: up to its closing zero code or
// the section's end; the first of two equal codes is the one found. Tables that units
// name at many offsets would be read again from each: what is read is measured.
const AbbreviationTable& DwarfDump::table_at(uint64_t offset) {
    auto known = tables_.find(offset);
    if (known != tables_.end()) return known->second;
    auto named = table_versions_.find(offset);
    const unsigned version = named != table_versions_.end() ? named->second : 2;
    AbbreviationTable& table = tables_[offset];
    ByteReader in = reader(slots_[ABBREV]);
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
    charge(in.position() - offset);
    return table;
}

// ---- Units and entries ----

void DwarfDump::dump_info() {
    const Slot& slot = slots_[INFO];
    ByteReader in = reader(slot);
    const uint64_t size = in.size();
    for (unsigned number = 1; in.position() < size; ++number) {
        uint64_t start = in.position();
        printf("\nCompilation Unit %u @ 0x%08lX\n", number, static_cast<unsigned long>(start));
        uint64_t length = in.u32();
        if (length == 0xFFFFFFFF) {
            length = in.u64();
            message(421, "unit", unsigned(start));
            if (!in.ok() || length > in.remaining()) break;
            in.seek(in.position() + length);
            continue;
        }
        if (!in.ok()) {
            message(422, slot.name, unsigned(start), "section");
            break;
        }
        if (length < 7) {
            message(659, unsigned(length));
            break;
        }
        const uint64_t next = start + 4 + length;
        uint16_t version = in.u16();
        if (!in.ok()) {
            message(422, slot.name, unsigned(start), "section");
            break;
        }
        if (!known_version(version)) {
            printf("size=%lu ver=0x%04X\n\n", static_cast<unsigned long>(length),
                   unsigned(version));
            message(420, "unit", unsigned(start), "version", unsigned(version));
            in.seek(next);
            continue;
        }
        ValueContext context;
        context.version = version;
        context.bytes = slot.bytes.data();
        uint8_t unit_type = DW_UT_compile;
        uint32_t abbrev_offset = 0;
        uint8_t address_size = 0;
        if (version == 5) {
            unit_type = in.u8();
            address_size = in.u8();
            abbrev_offset = in.u32();
        } else {
            abbrev_offset = in.u32();
            address_size = in.u8();
        }
        uint64_t id = 0;
        uint32_t type_offset = 0;
        const bool type_unit = unit_type == DW_UT_type || unit_type == DW_UT_split_type;
        const bool skeleton = unit_type == DW_UT_skeleton || unit_type == DW_UT_split_compile;
        if (type_unit || skeleton) id = in.u64();
        if (type_unit) type_offset = in.u32();
        if (!in.ok() || in.position() > next) {
            message(422, slot.name, unsigned(start), "section");
            break;
        }
        printf("size=%lu ver=0x%04X ", static_cast<unsigned long>(length), unsigned(version));
        if (version == 5) printf("unit type=%s ", UT.full(unit_type, version));
        printf("abbrev offset=0x%08lX, addrsize=%u", static_cast<unsigned long>(abbrev_offset),
               unsigned(address_size));
        if (type_unit)
            printf(" signature=0x%016llX type offset=0x%08lX", static_cast<unsigned long long>(id),
                   static_cast<unsigned long>(type_offset));
        else if (skeleton)
            printf(" dwo id=0x%016llX", static_cast<unsigned long long>(id));
        printf("\n\n");
        if (version == 5 && !UT.has(unit_type, version)) {
            message(420, "unit", unsigned(start), "unit type", unsigned(unit_type));
            in.seek(next);
            continue;
        }
        if (abbrev_offset >= slots_[ABBREV].bytes.size()) {
            message(660, unsigned(slots_[ABBREV].bytes.size()));
            break;
        }
        if (!known_address_size(address_size)) {
            message(661, unsigned(address_size));
            break;
        }
        address_size_ = context.address_size = address_size;
        dump_unit(in, start, std::min<uint64_t>(next, size), abbrev_offset, context);
        in.seek(next);
    }
}

// The bases that the unit's entry gives its indexed strings and addresses, which its own
// attributes may use before they come.
void DwarfDump::find_bases(ByteReader in, uint64_t end, const AbbreviationTable& table,
                           ValueContext& context) {
    auto found = table.by_code.find(in.uleb128());
    if (!in.ok() || found == table.by_code.end()) return;
    const Abbreviation& abbreviation = found->second;
    for (uint32_t k = 0; k < abbreviation.count; ++k) {
        const AttributeSpec& spec = specs_[abbreviation.first + k];
        FormValue value;
        bool unknown = false;
        if (spec.form == DW_FORM_indirect ||
            !read_value(in, spec.form, spec.implicit_value, context, end, &value, &unknown))
            return;
        if (spec.attribute == DW_AT_str_offsets_base) context.str_offsets_base = value.number;
        if (spec.attribute == DW_AT_addr_base) context.addr_base = value.number;
    }
}

// The unit's entries from the reader's position up to end. Bytes other than zero after
// the entry tree are reported once.
void DwarfDump::dump_unit(ByteReader& in, uint64_t start, uint64_t end, uint64_t abbrev_offset,
                          ValueContext& context) {
    const AbbreviationTable& table = table_at(abbrev_offset);
    const Slot& slot = slots_[INFO];
    ByteReader unit = reader(slot);
    unit.seek(in.position());
    if (context.version == 5) find_bases(unit, end, table, context);
    int depth = 0;
    while (unit.position() < end) {
        uint64_t at = unit.position();
        uint64_t code = unit.uleb128();
        if (!unit.ok() || unit.position() > end) {
            message(422, slot.name, unsigned(at), "unit");
            return;
        }
        const int indent = 2 * depth;
        if (code == 0) {
            if (options.verbose_level >= 4) {
                charge(indent);
                printf("%*s+<NULL ENTRY>\n", indent, "");
            }
            if (depth == 0 || --depth == 0) break;
            continue;
        }
        auto found = table.by_code.find(code);
        if (found == table.by_code.end()) {
            message(658);
            return;
        }
        const Abbreviation& abbreviation = found->second;
        charge(uint64_t(indent) * (1 + abbreviation.count));
        printf("%*s+%s (%lu) @ 0x%lX (0x%lX)\n", indent, "",
               TAG.plain(abbreviation.tag, context.version), static_cast<unsigned long>(code),
               static_cast<unsigned long>(at - start), static_cast<unsigned long>(at));
        for (uint32_t k = 0; k < abbreviation.count; ++k) {
            const AttributeSpec& spec = specs_[abbreviation.first + k];
            printf("%*s %s", indent, "", AT.plain(spec.attribute, context.version));
            uint64_t before = unit.position();
            if (!print_value(unit, spec, context, end)) {
                printf("\n");
                return;
            }
            // A value without bytes (a flag that is present, an implicit constant) is
            // one more line that the entry's code alone brings.
            if (unit.position() == before) charge(1);
            printf("\n");
        }
        if (abbreviation.children == 1)
            ++depth;
        else if (depth == 0)
            break;
    }
    for (uint64_t at = unit.position(); at < end; ++at)
        if (slot.bytes[at] != 0) {
            message(662, unsigned(abbrev_offset));
            break;
        }
}

bool DwarfDump::read_value(ByteReader& in, uint64_t form, int64_t implicit_value,
                           const ValueContext& context, uint64_t end, FormValue* value,
                           bool* unknown) {
    FormValue& v = *value;
    v = FormValue();
    *unknown = false;
    if (!FORM.has(form, context.version) || form == DW_FORM_indirect) {
        *unknown = true;
        return false;
    }
    switch (form) {
    case DW_FORM_addr:
        v.kind = FormValue::ADDRESS;
        v.number = in.uint(context.address_size);
        break;
    case DW_FORM_ref_addr:
        if (context.version == 2) {
            v.kind = FormValue::ADDRESS;
            v.number = in.uint(context.address_size);
        } else {
            v.number = in.uint(context.offset_size);
        }
        break;
    case DW_FORM_data1:
    case DW_FORM_ref1:
    case DW_FORM_strx1:
    case DW_FORM_addrx1: v.number = in.u8(); break;
    case DW_FORM_data2:
    case DW_FORM_ref2:
    case DW_FORM_strx2:
    case DW_FORM_addrx2: v.number = in.u16(); break;
    case DW_FORM_strx3:
    case DW_FORM_addrx3: v.number = in.uint(3); break;
    case DW_FORM_data4:
    case DW_FORM_ref4:
    case DW_FORM_ref_sup4:
    case DW_FORM_strx4:
    case DW_FORM_addrx4: v.number = in.u32(); break;
    case DW_FORM_sec_offset:
    case DW_FORM_strp:
    case DW_FORM_line_strp:
    case DW_FORM_strp_sup: v.number = in.uint(context.offset_size); break;
    case DW_FORM_data8:
    case DW_FORM_ref8:
    case DW_FORM_ref_sig8:
    case DW_FORM_ref_sup8: v.number = in.u64(); break;
    case DW_FORM_data16: {
        v.kind = FormValue::WIDE;
        uint64_t first = in.u64(), second = in.u64();
        bool big = in.order() == ByteOrder::big;
        v.high = big ? first : second;
        v.number = big ? second : first;
        break;
    }
    case DW_FORM_udata:
    case DW_FORM_ref_udata:
    case DW_FORM_strx:
    case DW_FORM_addrx:
    case DW_FORM_loclistx:
    case DW_FORM_rnglistx: v.number = in.uleb128(); break;
    case DW_FORM_sdata:
        v.kind = FormValue::SIGNED;
        v.signed_value = in.sleb128();
        v.number = static_cast<uint64_t>(v.signed_value);
        break;
    case DW_FORM_implicit_const:
        v.kind = FormValue::SIGNED;
        v.signed_value = implicit_value;
        v.number = static_cast<uint64_t>(implicit_value);
        break;
    case DW_FORM_flag:
        v.kind = FormValue::FLAG;
        v.number = in.u8();
        break;
    case DW_FORM_flag_present:
        v.kind = FormValue::FLAG;
        v.number = 1;
        break;
    case DW_FORM_block1:
    case DW_FORM_block2:
    case DW_FORM_block4:
    case DW_FORM_block:
    case DW_FORM_exprloc:
        v.kind = FormValue::BLOCK;
        v.number = form == DW_FORM_block1   ? in.u8()
                   : form == DW_FORM_block2 ? in.u16()
                   : form == DW_FORM_block4 ? in.u32()
                                            : in.uleb128();
        if (in.ok() && v.number > end - std::min(end, in.position())) return false;
        in.skip(v.number);
        break;
    case DW_FORM_string: {
        v.kind = FormValue::STRING;
        uint64_t at = in.position();
        const void* nul = at < end ? memchr(context.bytes + at, 0, end - at) : nullptr;
        if (!nul) return false;
        v.text = reinterpret_cast<const char*>(context.bytes + at);
        v.text_length = size_t(static_cast<const uint8_t*>(nul) - (context.bytes + at));
        in.seek(at + v.text_length + 1);
        break;
    }
    default: *unknown = true; return false;
    }
    if (!in.ok() || in.position() > end) return false;
    if (is_string_form(form)) {
        v.kind = FormValue::STRING;
        uint64_t offset = v.number;
        bool indexed = form != DW_FORM_strp && form != DW_FORM_line_strp;
        if (indexed) {
            ByteReader offsets = reader(slots_[STR_OFFSETS]);
            offsets.seek(context.str_offsets_base + v.number * context.offset_size);
            offset = offsets.uint(context.offset_size);
            if (!offsets.ok() || v.number > UINT32_MAX) return true; // no text: shown as such
        }
        v.text = string_at(form == DW_FORM_line_strp ? LINE_STR : STR, offset, &v.text_length);
    } else if (form == DW_FORM_addrx || (form >= DW_FORM_addrx1 && form <= DW_FORM_addrx4)) {
        ByteReader addresses = reader(slots_[ADDR]);
        uint64_t index = v.number;
        addresses.seek(context.addr_base + index * context.address_size);
        uint64_t address = addresses.uint(context.address_size);
        v.kind = FormValue::ADDRESS;
        if (addresses.ok() && index <= UINT32_MAX)
            v.number = address;
        else
            v.missing = true;
    }
    return true;
}

// One attribute value after "[form] = "; false (with its message) when it cannot be read.
bool DwarfDump::print_value(ByteReader& in, const AttributeSpec& spec, const ValueContext& context,
                            uint64_t end) {
    const unsigned version = context.version;
    uint64_t form = spec.form;
    printf("[%s] = ", FORM.plain(form, version));
    for (unsigned nesting = 0; form == DW_FORM_indirect; ++nesting) {
        uint64_t at = in.position();
        form = in.uleb128();
        if (!in.ok() || in.position() > end) {
            message(422, slots_[INFO].name, unsigned(at), "unit");
            return false;
        }
        if (nesting == MAX_INDIRECT || form == DW_FORM_implicit_const) {
            message(647);
            return false;
        }
        printf("%s: ", FORM.plain(form, version));
    }
    uint64_t at = in.position();
    FormValue v;
    bool unknown = false;
    if (!read_value(in, form, spec.implicit_value, context, end, &v, &unknown)) {
        if (unknown) {
            printf("?? Unknown form 0x%lX", static_cast<unsigned long>(form));
            message(647);
        } else {
            message(422, slots_[INFO].name, unsigned(at), "unit");
        }
        return false;
    }
    const NameFamily* names = value_names(spec.attribute);
    bool named = false;
    if (v.kind == FormValue::NUMBER || v.kind == FormValue::SIGNED) {
        named = names && names->has(v.number, version);
        if (named) printf("%s (", names->plain(v.number, version));
    }
    if (v.kind != FormValue::STRING && v.kind != FormValue::BLOCK && !v.missing)
        note_reference(spec.attribute, form, v.number, context);
    switch (v.kind) {
    case FormValue::ADDRESS:
        if (v.missing)
            printf("?? Invalid address index: 0x%08llX", static_cast<unsigned long long>(v.number));
        else
            print_address(v.number, context.address_size);
        break;
    case FormValue::FLAG: printf("%s", bool_text(v.number != 0)); break;
    case FormValue::SIGNED: printf("%lld", static_cast<long long>(v.signed_value)); break;
    case FormValue::WIDE:
        printf("0x%016llX%016llX", static_cast<unsigned long long>(v.high),
               static_cast<unsigned long long>(v.number));
        break;
    case FormValue::BLOCK:
        printf(form == DW_FORM_block1   ? "0x%02llX"
               : form == DW_FORM_block4 ? "0x%08llX"
                                        : "0x%04llX",
               static_cast<unsigned long long>(v.number));
        break;
    case FormValue::STRING:
        if (v.text) {
            // A string of a table may be named by any number of entries.
            if (form != DW_FORM_string) charge(v.text_length);
            print_string(v.text, v.text_length);
        } else if (form == DW_FORM_strp) {
            printf("?? Invalid string table offset: 0x%08lX", static_cast<unsigned long>(v.number));
        } else if (form == DW_FORM_line_strp) {
            printf("?? Invalid line string table offset: 0x%08lX",
                   static_cast<unsigned long>(v.number));
        } else {
            printf("?? Invalid string index: 0x%08llX", static_cast<unsigned long long>(v.number));
        }
        break;
    case FormValue::NUMBER:
        switch (form) {
        case DW_FORM_data1:
        case DW_FORM_ref1: printf("0x%02X", unsigned(v.number)); break;
        case DW_FORM_data2:
        case DW_FORM_ref2: printf("0x%04X", unsigned(v.number)); break;
        case DW_FORM_data4:
        case DW_FORM_ref4:
        case DW_FORM_ref_sup4:
        case DW_FORM_ref_addr:
        case DW_FORM_sec_offset:
        case DW_FORM_strp_sup: printf("0x%08lX", static_cast<unsigned long>(v.number)); break;
        case DW_FORM_udata:
        case DW_FORM_loclistx:
        case DW_FORM_rnglistx: printf("%llu", static_cast<unsigned long long>(v.number)); break;
        default: printf("0x%08llX", static_cast<unsigned long long>(v.number)); break;
        }
        break;
    }
    if (named) printf(")");
    return true;
}

// A line-number program, a location list or a list of location views that an attribute
// names.
void DwarfDump::note_reference(uint64_t attribute, uint64_t form, uint64_t value,
                               const ValueContext& context) {
    if (attribute == DW_AT_stmt_list) line_references_.push_back(value);
    const unsigned section = context.version >= 5 ? 1 : 0;
    const bool offset = form == DW_FORM_sec_offset ||
                        (context.version <= 3 && (form == DW_FORM_data4 || form == DW_FORM_data8));
    if (!offset) return;
    if (attribute == GNU_LOCVIEWS) view_lists_[section].insert(value);
    if (!names_location_list(attribute)) return;
    location_lists_[section].insert(value);
    if (context.version >= 3 && context.version <= 4)
        list_versions_.emplace(value, context.version);
}

} // namespace dwarf_dump_parts

void dwarf_dump(ByteReader& file, const std::vector<ElfSectionHeader>& sections,
                const std::vector<uint8_t>& section_names) {
    dwarf_dump_parts::DwarfDump(file, sections, section_names).run();
}
