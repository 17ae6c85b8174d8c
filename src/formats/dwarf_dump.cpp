// The DWARF dump: the debugging sections an ELF file holds, printed after its headers.
// Every count, length and offset comes from the file, so each is checked against the
// section that holds it before it is used; a damaged structure ends with its message and
// the other sections are still dumped.
#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstring>
#include <ctime>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/alert.h"
#include "common/options.h"
#include "formats/dwarf.h"
#include "formats/dwarf_constants.h"
#include "model/store.h"

namespace {

// ---- Names ----

struct NameRow {
    uint32_t value;
    const char* name;
};

// One family of DWARF constants: names in two styles, DW_TAG_compile_unit (full) and
// "compile unit" (plain), and the range its producers may use for their own values.
class NameFamily {
  public:
    NameFamily(const char* prefix, std::initializer_list<NameRow> rows, uint32_t user_low = 1,
               uint32_t user_high = 0)
        : user_low_(user_low), user_high_(user_high) {
        for (const NameRow& row : rows) {
            std::string plain = row.name;
            std::replace(plain.begin(), plain.end(), '_', ' ');
            names_.emplace(row.value,
                           Names{"DW_" + std::string(prefix) + "_" + row.name, std::move(plain)});
        }
    }
    bool has(uint64_t value) const { return value <= UINT32_MAX && names_.count(uint32_t(value)); }
    const char* full(uint64_t value) const { return name(value, true); }
    const char* plain(uint64_t value) const { return name(value, false); }

  private:
    struct Names {
        std::string full, plain;
    };
    const char* name(uint64_t value, bool full) const {
        auto found = value <= UINT32_MAX ? names_.find(uint32_t(value)) : names_.end();
        if (found != names_.end()) return (full ? found->second.full : found->second.plain).c_str();
        static char unknown[48];
        bool user = value >= user_low_ && value <= user_high_;
        snprintf(unknown, sizeof unknown, "?? 0x%08lX%s", static_cast<unsigned long>(value),
                 user ? " (user-defined)" : "");
        return unknown;
    }

    std::unordered_map<uint32_t, Names> names_;
    uint32_t user_low_, user_high_;
};

#define NAME_ROW(value, name) {value, #name},
const NameFamily TAG("TAG",
                     {
#define DW_TAG NAME_ROW
#include "formats/dwarf.def"
#undef DW_TAG
                     },
                     0x4080, 0xFFFF);
const NameFamily AT("AT",
                    {
#define DW_AT NAME_ROW
#include "formats/dwarf.def"
#undef DW_AT
                    },
                    0x2000, 0x3FFF);
const NameFamily FORM("FORM", {
#define DW_FORM NAME_ROW
#include "formats/dwarf.def"
#undef DW_FORM
                              });
const NameFamily OP("OP",
                    {
#define DW_OP NAME_ROW
#include "formats/dwarf.def"
#undef DW_OP
                    },
                    0xE0, 0xFF);
const NameFamily CFA("CFA",
                     {
#define DW_CFA NAME_ROW
#include "formats/dwarf.def"
#undef DW_CFA
                     },
                     0x1C, 0x3F);
const NameFamily MACINFO("MACINFO", {
#define DW_MACINFO NAME_ROW
#include "formats/dwarf.def"
#undef DW_MACINFO
                                    });
const NameFamily ATE("ATE",
                     {
#define DW_ATE NAME_ROW
#include "formats/dwarf.def"
#undef DW_ATE
                     },
                     0x80, 0xFF);
const NameFamily LANG("LANG",
                      {
#define DW_LANG NAME_ROW
#include "formats/dwarf.def"
#undef DW_LANG
                      },
                      0x8000, 0xFFFF);
const NameFamily LNS("LNS", {
#define DW_LNS NAME_ROW
#include "formats/dwarf.def"
#undef DW_LNS
                            });
const NameFamily LNE("LNE", {
#define DW_LNE NAME_ROW
#include "formats/dwarf.def"
#undef DW_LNE
                            });
const NameFamily ACCESS("ACCESS", {
#define DW_ACCESS NAME_ROW
#include "formats/dwarf.def"
#undef DW_ACCESS
                                  });
const NameFamily VIS("VIS", {
#define DW_VIS NAME_ROW
#include "formats/dwarf.def"
#undef DW_VIS
                            });
const NameFamily VIRTUALITY("VIRTUALITY", {
#define DW_VIRTUALITY NAME_ROW
#include "formats/dwarf.def"
#undef DW_VIRTUALITY
                                          });
const NameFamily ID("ID", {
#define DW_ID NAME_ROW
#include "formats/dwarf.def"
#undef DW_ID
                          });
const NameFamily CC("CC", {
#define DW_CC NAME_ROW
#include "formats/dwarf.def"
#undef DW_CC
                          });
const NameFamily INL("INL", {
#define DW_INL NAME_ROW
#include "formats/dwarf.def"
#undef DW_INL
                            });
const NameFamily ORD("ORD", {
#define DW_ORD NAME_ROW
#include "formats/dwarf.def"
#undef DW_ORD
                            });
const NameFamily DSC("DSC", {
#define DW_DSC NAME_ROW
#include "formats/dwarf.def"
#undef DW_DSC
                            });
#undef NAME_ROW

// The family that names an attribute's values, if any.
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

// ---- Sections ----

struct Slot {
    const char* name;
    const char* description;
    bool found = false;
    uint32_t offset = 0;
    uint32_t size = 0;
    std::vector<uint8_t> bytes;
};

enum SlotIndex : unsigned {
    STR,
    ABBREV,
    INFO,
    LINE,
    FRAME,
    PUBNAMES,
    PUBTYPES,
    ARANGES,
    MACINFO_SLOT,
    LOC,
    RANGES,
    SLOT_COUNT
};

// Indirect forms may name indirect forms; past this many the value counts as unreadable.
constexpr unsigned MAX_INDIRECT = 16;
// Standard line-number opcodes and their operand counts in DWARF 2.
constexpr uint8_t STANDARD_LENGTHS[8] = {0, 1, 1, 1, 1, 0, 0, 0};

const char* bool_text(bool value) {
    return value ? "true" : "false";
}

bool known_address_size(uint64_t size) {
    return size == 1 || size == 2 || size == 4 || size == 8;
}

// An address value in the layout of its size.
void print_address(uint64_t value, unsigned size) {
    switch (size) {
    case 1: printf("0x%02X", unsigned(value)); break;
    case 2: printf("0x%04X", unsigned(value)); break;
    case 4: printf("0x%08lX", static_cast<unsigned long>(value)); break;
    default: printf("0x%08llX", static_cast<unsigned long long>(value)); break;
    }
}

// A time stamp of a line-number file entry as text.
std::string time_text(uint64_t stamp) {
    time_t t = static_cast<time_t>(stamp);
    const char* text = stamp <= UINT32_MAX ? ctime(&t) : nullptr;
    std::string result = text ? text : "?";
    if (!result.empty() && result.back() == '\n') result.pop_back();
    return result;
}

// An abbreviation: its tag, whether it has children, its attribute and form pairs.
struct Abbreviation {
    uint64_t tag = 0;
    uint8_t children = 0;
    std::vector<std::pair<uint64_t, uint64_t>> attributes;
};
using AbbreviationTable = std::unordered_map<uint64_t, Abbreviation>;

// The state of a line-number program and the rows it appends.
struct LineRow {
    uint64_t offset;
    uint64_t address;
    uint64_t file;
    int64_t line;
    uint64_t column;
    bool is_stmt;
    bool basic_block;
};

struct LineHeader {
    uint8_t min_length = 1;
    bool default_is_stmt = true;
    int8_t line_base = 0;
    uint8_t line_range = 0;
    uint8_t opcode_base = 0;
    std::vector<uint8_t> lengths; // of opcodes 1 to opcode_base - 1
};

class DwarfDump {
  public:
    DwarfDump(ByteReader& file, const std::vector<ElfSectionHeader>& sections,
              const std::vector<uint8_t>& names);
    void run();

  private:
    ByteReader reader(const Slot& slot) const {
        return ByteReader(slot.bytes.data(), slot.bytes.size(), file_.order());
    }
    void load(Slot& slot);
    bool heading(const Slot& slot);

    void dump_strings();
    void dump_abbreviations();
    const AbbreviationTable& table_at(uint64_t offset);
    void dump_info();
    bool dump_unit(ByteReader& in, uint64_t start, uint64_t end, uint64_t abbrev_offset);
    bool print_value(ByteReader& in, uint64_t attribute, uint64_t form);
    void dump_lines();
    void dump_line_program(uint64_t offset);
    void dump_statements(ByteReader& in, uint64_t end, const LineHeader& header);
    void dump_frames();
    void dump_frame_instructions(ByteReader& in, uint64_t end, uint64_t code_align,
                                 int64_t data_align, uint64_t location, unsigned overrun);
    void dump_pubnames();
    void dump_aranges();
    void dump_macinfo();
    void dump_locations();
    bool print_operation(ByteReader& in, uint64_t end);

    ByteReader& file_;
    Slot slots_[SLOT_COUNT] = {
        {".debug_str", "string table", false, 0, 0, {}},
        {".debug_abbrev", "abbreviation table", false, 0, 0, {}},
        {".debug_info", "debug contributions", false, 0, 0, {}},
        {".debug_line", "line number information", false, 0, 0, {}},
        {".debug_frame", "call frame information", false, 0, 0, {}},
        {".debug_pubnames", "name lookup table", false, 0, 0, {}},
        {".debug_pubtypes", "name lookup table", false, 0, 0, {}},
        {".debug_aranges", "address range table", false, 0, 0, {}},
        {".debug_macinfo", "macro information", false, 0, 0, {}},
        {".debug_loc", "location lists", false, 0, 0, {}},
        {".debug_ranges", "address ranges", false, 0, 0, {}},
    };
    std::unordered_map<uint64_t, AbbreviationTable> tables_;
    std::vector<uint64_t> line_references_;
    unsigned address_size_ = 4; // of the last unit read
};

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

void DwarfDump::load(Slot& slot) {
    if (!slot.found) return;
    if (!file_.read_at(slot.offset, slot.size, &slot.bytes)) {
        message(666, slot.name, slot.description);
        slot.bytes.clear();
    }
}

// Two line ends, then the section's heading; false when the file has no such section.
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
    if (options.verbose_level != 0 && heading(slots_[STR])) dump_strings();
    load(slots_[ABBREV]);
    if (heading(slots_[ABBREV])) dump_abbreviations();
    load(slots_[INFO]);
    if (heading(slots_[INFO])) dump_info();
    slots_[INFO].bytes = std::vector<uint8_t>();
    slots_[ABBREV].bytes = std::vector<uint8_t>();
    slots_[STR].bytes = std::vector<uint8_t>();
    tables_.clear();
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
}

// ---- Strings and abbreviations ----

void DwarfDump::dump_strings() {
    const std::vector<uint8_t>& table = slots_[STR].bytes;
    for (size_t at = 0; at < table.size();) {
        const void* end = memchr(table.data() + at, 0, table.size() - at);
        size_t length = end ? size_t(static_cast<const uint8_t*>(end) - (table.data() + at))
                            : table.size() - at;
        printf("0x%08lX: \"%.*s\"\n", static_cast<unsigned long>(at), int(length),
               reinterpret_cast<const char*>(table.data() + at));
        at += length + 1;
    }
}

void DwarfDump::dump_abbreviations() {
    ByteReader in = reader(slots_[ABBREV]);
    while (in.remaining() && in.ok()) {
        uint64_t at = in.position();
        uint64_t code = in.uleb128();
        if (!in.ok() || code == 0) continue; // the end of a table
        uint64_t tag = in.uleb128();
        uint8_t children = in.u8();
        if (!in.ok()) break;
        printf("\n@ 0x%08lX\n%5.5lu(%c): %s\n", static_cast<unsigned long>(at),
               static_cast<unsigned long>(code),
               children == 1   ? 'Y'
               : children == 0 ? 'N'
                               : '?',
               TAG.full(tag));
        for (;;) {
            uint64_t attribute = in.uleb128();
            uint64_t form = in.uleb128();
            if (!in.ok() || (attribute == 0 && form == 0)) break;
            printf("          %-30s %s\n", AT.full(attribute), FORM.full(form));
        }
    }
}

// The abbreviations of the table at offset, read once: up to its closing zero code or
// the section's end; the first of two equal codes is the one found.
const AbbreviationTable& DwarfDump::table_at(uint64_t offset) {
    auto known = tables_.find(offset);
    if (known != tables_.end()) return known->second;
    AbbreviationTable& table = tables_[offset];
    ByteReader in = reader(slots_[ABBREV]);
    in.seek(offset);
    for (;;) {
        uint64_t code = in.uleb128();
        if (!in.ok() || code == 0) break;
        Abbreviation abbreviation;
        abbreviation.tag = in.uleb128();
        abbreviation.children = in.u8();
        for (;;) {
            uint64_t attribute = in.uleb128();
            uint64_t form = in.uleb128();
            if (!in.ok() || (attribute == 0 && form == 0)) break;
            abbreviation.attributes.push_back({attribute, form});
        }
        if (!in.ok()) break;
        table.emplace(code, std::move(abbreviation));
    }
    return table;
}

// ---- Units and entries ----

void DwarfDump::dump_info() {
    ByteReader in = reader(slots_[INFO]);
    const uint64_t size = in.size();
    for (unsigned number = 1; in.position() < size; ++number) {
        uint64_t start = in.position();
        printf("\nCompilation Unit %u @ 0x%08lX\n", number, static_cast<unsigned long>(start));
        uint32_t length = in.u32();
        if (!in.ok()) break;
        if (length < 7) {
            message(659, unsigned(length));
            break;
        }
        uint16_t version = in.u16();
        uint32_t abbrev_offset = in.u32();
        uint8_t address_size = in.u8();
        if (!in.ok()) break;
        printf("size=%lu ver=0x%04X abbrev offset=0x%08lX, addrsize=%u\n\n",
               static_cast<unsigned long>(length), unsigned(version),
               static_cast<unsigned long>(abbrev_offset), unsigned(address_size));
        if (abbrev_offset >= slots_[ABBREV].bytes.size()) {
            message(660, unsigned(slots_[ABBREV].bytes.size()));
            break;
        }
        if (!known_address_size(address_size)) {
            message(661, unsigned(address_size));
            break;
        }
        address_size_ = address_size;
        uint64_t end = std::min<uint64_t>(start + 4 + length, size);
        if (version >= 2 && version <= 4) dump_unit(in, start, end, abbrev_offset);
        in.seek(start + 4 + uint64_t(length));
    }
}

// The unit's entries from the reader's position; false when the unit's dump ended on a
// fault. Bytes other than zero after the entry tree are reported once.
bool DwarfDump::dump_unit(ByteReader& in, uint64_t start, uint64_t end, uint64_t abbrev_offset) {
    const AbbreviationTable& table = table_at(abbrev_offset);
    ByteReader unit = reader(slots_[INFO]);
    unit.seek(in.position());
    int depth = 0;
    while (unit.position() < end) {
        uint64_t at = unit.position();
        uint64_t code = unit.uleb128();
        if (!unit.ok()) return false;
        if (code == 0) {
            if (options.verbose_level >= 4) printf("%*s+<NULL ENTRY>\n", 2 * depth, "");
            if (depth == 0 || --depth == 0) break;
            continue;
        }
        auto found = table.find(code);
        if (found == table.end()) {
            message(658);
            return false;
        }
        const Abbreviation& abbreviation = found->second;
        printf("%*s+%s (%lu) @ 0x%lX (0x%lX)\n", 2 * depth, "", TAG.plain(abbreviation.tag),
               static_cast<unsigned long>(code), static_cast<unsigned long>(at - start),
               static_cast<unsigned long>(at));
        for (auto [attribute, form] : abbreviation.attributes) {
            printf("%*s %s", 2 * depth, "", AT.plain(attribute));
            if (!print_value(unit, attribute, form) || unit.position() > end) {
                printf("\n");
                return false;
            }
            printf("\n");
        }
        if (abbreviation.children == 1)
            ++depth;
        else if (depth == 0)
            break;
    }
    for (uint64_t at = unit.position(); at < end; ++at)
        if (slots_[INFO].bytes[at] != 0) {
            message(662, unsigned(abbrev_offset));
            break;
        }
    return true;
}

// One attribute value, after "[form] = "; false when the value cannot be read.
bool DwarfDump::print_value(ByteReader& in, uint64_t attribute, uint64_t form) {
    printf("[%s] = ", FORM.plain(form));
    for (unsigned nesting = 0; form == DW_FORM_indirect; ++nesting) {
        form = in.uleb128();
        if (!in.ok() || nesting == MAX_INDIRECT) return false;
        printf("%s: ", FORM.plain(form));
    }
    const NameFamily* names = value_names(attribute);
    uint64_t value = 0;
    bool numeric = true;
    auto named = [&](uint64_t v) {
        bool known = names && names->has(v);
        if (known) printf("%s (", names->plain(v));
        return known;
    };
    switch (form) {
    case DW_FORM_addr:
    case DW_FORM_ref_addr:
        value = in.uint(address_size_);
        if (!in.ok()) return false;
        print_address(value, address_size_);
        break;
    case DW_FORM_data1:
    case DW_FORM_ref1:
    case DW_FORM_flag:
    case DW_FORM_data2:
    case DW_FORM_ref2:
    case DW_FORM_data4:
    case DW_FORM_ref4:
    case DW_FORM_data8:
    case DW_FORM_ref8:
    case DW_FORM_ref_udata:
    case DW_FORM_sdata:
    case DW_FORM_udata: {
        size_t width = form == DW_FORM_data1 || form == DW_FORM_ref1 || form == DW_FORM_flag ? 1
                       : form == DW_FORM_data2 || form == DW_FORM_ref2                       ? 2
                       : form == DW_FORM_data4 || form == DW_FORM_ref4                       ? 4
                       : form == DW_FORM_data8 || form == DW_FORM_ref8                       ? 8
                                                                                             : 0;
        int64_t signed_value = 0;
        if (width)
            value = in.uint(width);
        else if (form == DW_FORM_sdata)
            value = static_cast<uint64_t>(signed_value = in.sleb128());
        else
            value = in.uleb128();
        if (!in.ok()) return false;
        bool closes = form != DW_FORM_flag && named(value);
        switch (form) {
        case DW_FORM_data1:
        case DW_FORM_ref1: printf("0x%02X", unsigned(value)); break;
        case DW_FORM_data2:
        case DW_FORM_ref2: printf("0x%04X", unsigned(value)); break;
        case DW_FORM_data4:
        case DW_FORM_ref4: printf("0x%08lX", static_cast<unsigned long>(value)); break;
        case DW_FORM_flag: printf("%s", bool_text(value != 0)); break;
        case DW_FORM_sdata: printf("%lld", static_cast<long long>(signed_value)); break;
        case DW_FORM_udata: printf("%llu", static_cast<unsigned long long>(value)); break;
        default: printf("0x%08llX", static_cast<unsigned long long>(value)); break;
        }
        if (closes) printf(")");
        break;
    }
    case DW_FORM_block1:
    case DW_FORM_block2:
    case DW_FORM_block4:
    case DW_FORM_block: {
        numeric = false;
        uint64_t length = form == DW_FORM_block1   ? in.u8()
                          : form == DW_FORM_block2 ? in.u16()
                          : form == DW_FORM_block4 ? in.u32()
                                                   : in.uleb128();
        if (!in.ok()) return false;
        printf(form == DW_FORM_block1   ? "0x%02llX"
               : form == DW_FORM_block4 ? "0x%08llX"
                                        : "0x%04llX",
               static_cast<unsigned long long>(length));
        in.skip(length);
        if (!in.ok()) return false;
        break;
    }
    case DW_FORM_string: {
        numeric = false;
        std::string text = in.cstring(SIZE_MAX);
        if (!in.ok()) return false;
        printf("\"%s\"", text.c_str());
        break;
    }
    case DW_FORM_strp: {
        numeric = false;
        uint32_t offset = in.u32();
        if (!in.ok()) return false;
        const std::vector<uint8_t>& strings = slots_[STR].bytes;
        const void* end = offset < strings.size()
                              ? memchr(strings.data() + offset, 0, strings.size() - offset)
                              : nullptr;
        if (end)
            printf("\"%s\"", reinterpret_cast<const char*>(strings.data()) + offset);
        else
            printf("?? Invalid string table offset: 0x%08lX", static_cast<unsigned long>(offset));
        break;
    }
    default: printf("?? Unknown form 0x%lX", static_cast<unsigned long>(form)); return false;
    }
    if (numeric && attribute == DW_AT_stmt_list) line_references_.push_back(value);
    return true;
}

// ---- Line-number programs ----

void DwarfDump::dump_lines() {
    Slot& slot = slots_[LINE];
    load(slot);
    if (!heading(slot)) return;
    std::sort(line_references_.begin(), line_references_.end());
    for (size_t k = 0; k < line_references_.size(); ++k) {
        uint64_t offset = line_references_[k];
        if (k > 0 && offset == line_references_[k - 1]) continue;
        if (offset >= slot.bytes.size()) {
            message(648, unsigned(offset));
            continue;
        }
        printf("\nGroup %u @ 0x%08lX\n\n", unsigned(k + 1), static_cast<unsigned long>(offset));
        dump_line_program(offset);
    }
}

void DwarfDump::dump_line_program(uint64_t offset) {
    ByteReader in = reader(slots_[LINE]);
    in.seek(offset);
    uint32_t length = in.u32();
    if (!in.ok()) return;
    uint64_t end = offset + 4 + uint64_t(length);
    if (end > in.size()) {
        message(649, unsigned(end));
        return;
    }
    // Units may name programs that overlap one another; what they print is measured.
    charge_read_allowance(end - offset);
    uint16_t version = in.u16();
    uint32_t header_length = in.u32();
    uint64_t program = in.position() + uint64_t(header_length);
    LineHeader header;
    header.min_length = in.u8();
    if (version >= 4) in.u8(); // maximum operations per instruction
    header.default_is_stmt = in.u8() != 0;
    header.line_base = static_cast<int8_t>(in.u8());
    header.line_range = in.u8();
    header.opcode_base = in.u8();
    if (!in.ok()) return;
    printf("size=%lu ver=%u prolog=%lu\n", static_cast<unsigned long>(length), unsigned(version),
           static_cast<unsigned long>(header_length));
    printf("min_len=%u def_stmt=%s line_base=%d line_range=%u opcode_base=%u\n",
           unsigned(header.min_length), bool_text(header.default_is_stmt), int(header.line_base),
           unsigned(header.line_range), unsigned(header.opcode_base));
    printf("opcode lengths:");
    for (unsigned opcode = 1; opcode < header.opcode_base && in.ok(); ++opcode) {
        uint8_t count = in.u8();
        header.lengths.push_back(count);
        printf(" %u", unsigned(count));
        if (opcode <= 8 && count != STANDARD_LENGTHS[opcode - 1]) printf("(?)");
    }
    printf("\nIncludes:\n");
    long number = 0;
    for (std::string name = in.cstring(SIZE_MAX); in.ok() && !name.empty();
         name = in.cstring(SIZE_MAX))
        printf("%5ld.  \"%s\"\n", ++number, name.c_str());
    if (number == 0) printf("        None\n");
    printf("Files:\n");
    number = 0;
    for (std::string name = in.cstring(SIZE_MAX); in.ok() && !name.empty();
         name = in.cstring(SIZE_MAX)) {
        uint64_t directory = in.uleb128(), time = in.uleb128(), size = in.uleb128();
        printf("%5ld.  \"%s\"\n           dir: %5lu, time: %s (0x%08lX), %lu %s\n", ++number,
               name.c_str(), static_cast<unsigned long>(directory), time_text(time).c_str(),
               static_cast<unsigned long>(time), static_cast<unsigned long>(size),
               size == 1 ? "byte" : "bytes");
    }
    if (number == 0) printf("        None\n");
    if (version < 2 || version > 4 || program > end) return;
    in.seek(program);
    dump_statements(in, end, header);
}

// The statement program up to end: each opcode with its operand, and the rows of each
// sequence once it ends.
void DwarfDump::dump_statements(ByteReader& in, uint64_t end, const LineHeader& header) {
    struct State {
        uint64_t address = 0, file = 1, column = 0;
        int64_t line = 1;
        bool is_stmt, basic_block = false;
    };
    const State initial{0, 1, 0, 1, header.default_is_stmt, false};
    State state = initial;
    std::vector<LineRow> rows;
    long sequence = 0;
    bool in_sequence = false;
    auto append_row = [&](uint64_t at) {
        rows.push_back({at, state.address, state.file, state.line, state.column, state.is_stmt,
                        state.basic_block});
        state.basic_block = false;
    };
    auto print_matrix = [&]() {
        printf(
            "\nGenerated line number matrix:\n\nstmt    address   file        line        column "
            "     is_stmt      basic_block\n");
        for (const LineRow& row : rows)
            printf("%5.5lu:  %016llX  %-10lu  %-10lld  %-10ld  %-5s        %-5s\n",
                   static_cast<unsigned long>(row.offset),
                   static_cast<unsigned long long>(row.address),
                   static_cast<unsigned long>(row.file), static_cast<long long>(row.line),
                   static_cast<long>(row.column), bool_text(row.is_stmt),
                   bool_text(row.basic_block));
        rows.clear();
    };
    while (in.position() < end && in.ok()) {
        if (!in_sequence) {
            printf("\n\nStatement program sequence %ld\n\n", ++sequence);
            in_sequence = true;
        }
        uint64_t at = in.position();
        uint8_t opcode = in.u8();
        printf("%5.5lu:  ", static_cast<unsigned long>(at));
        if (opcode == 0) {
            uint64_t length = in.uleb128();
            uint64_t next = in.position() + length;
            if (!in.ok() || length == 0 || next > end) {
                printf("%-24s\n", "?? extended opcode");
                break;
            }
            uint8_t sub = in.u8();
            printf("%-24s", LNE.full(sub));
            if (sub == DW_LNE_end_sequence) {
                printf("\n");
                append_row(at);
                print_matrix();
                state = initial;
                in_sequence = false;
            } else if (sub == DW_LNE_set_address) {
                uint64_t operand = length - 1 <= 8 ? in.uint(size_t(length - 1)) : 0;
                printf(": 0x%016llX\n", static_cast<unsigned long long>(operand));
                state.address = operand;
            } else if (sub == DW_LNE_define_file) {
                std::string name = in.cstring(SIZE_MAX);
                uint64_t directory = in.uleb128(), time = in.uleb128(), size = in.uleb128();
                printf(": \"%s\" dir: %5lu, time: %s (0x%08lX), %lu %s\n", name.c_str(),
                       static_cast<unsigned long>(directory), time_text(time).c_str(),
                       static_cast<unsigned long>(time), static_cast<unsigned long>(size),
                       size == 1 ? "byte" : "bytes");
            } else {
                printf("\n");
            }
            in.seek(next);
            continue;
        }
        if (opcode < header.opcode_base) {
            printf("%-24s", LNS.full(opcode));
            switch (opcode) {
            case DW_LNS_copy:
                printf("\n");
                append_row(at);
                continue;
            case DW_LNS_advance_pc: {
                uint64_t advance = in.uleb128();
                printf(": %llu\n", static_cast<unsigned long long>(advance));
                state.address += advance * header.min_length;
                continue;
            }
            case DW_LNS_advance_line: {
                int64_t advance = in.sleb128();
                printf(": %lld\n", static_cast<long long>(advance));
                state.line += advance;
                continue;
            }
            case DW_LNS_set_file:
                state.file = in.uleb128();
                printf(": %llu\n", static_cast<unsigned long long>(state.file));
                continue;
            case DW_LNS_set_column:
                state.column = in.uleb128();
                printf(": %llu\n", static_cast<unsigned long long>(state.column));
                continue;
            case DW_LNS_negate_stmt: state.is_stmt = !state.is_stmt; break;
            case DW_LNS_set_basic_block: state.basic_block = true; break;
            case DW_LNS_const_add_pc:
                if (header.line_range)
                    state.address += uint64_t((255 - header.opcode_base) / header.line_range) *
                                     header.min_length;
                break;
            case DW_LNS_fixed_advance_pc: {
                uint16_t advance = in.u16();
                printf(": %u\n", unsigned(advance));
                state.address += advance;
                continue;
            }
            default: {
                unsigned count =
                    opcode - 1u < header.lengths.size() ? header.lengths[opcode - 1] : 0;
                printf(": %u args\n", count);
                for (unsigned k = 0; k < count; ++k)
                    in.uleb128();
                continue;
            }
            }
            printf("\n");
            continue;
        }
        unsigned adjusted = opcode - header.opcode_base;
        int64_t line_advance = header.line_base;
        uint64_t address_advance = 0;
        if (header.line_range) {
            line_advance += adjusted % header.line_range;
            address_advance = uint64_t(adjusted / header.line_range) * header.min_length;
        }
        printf("SPECIAL(line=%lld, addr=%lld)\n", static_cast<long long>(line_advance),
               static_cast<long long>(address_advance));
        state.line += line_advance;
        state.address += address_advance;
        append_row(at);
    }
    if (!rows.empty()) print_matrix();
}

// ---- Call frame information ----

void DwarfDump::dump_frames() {
    Slot& slot = slots_[FRAME];
    load(slot);
    if (!heading(slot)) return;
    ByteReader in = reader(slot);
    const uint64_t size = in.size();
    while (in.position() + 4 <= size) {
        uint64_t start = in.position();
        uint32_t length = in.u32();
        uint64_t end = start + 4 + uint64_t(length);
        if (end > size) {
            message(657, unsigned(length));
            return;
        }
        uint32_t id = in.u32();
        if (id == 0xFFFFFFFF) {
            printf("\nCommon Information Entry @ 0x%08lX\n", static_cast<unsigned long>(start));
            if (length < 7) {
                message(651);
            } else {
                uint8_t version = in.u8();
                printf("size=%lu ver=%u\nAugmentation: ", static_cast<unsigned long>(length),
                       unsigned(version));
                std::string augmentation = in.cstring(SIZE_MAX);
                if (!in.ok() || in.position() > end) {
                    message(652);
                } else if (!augmentation.empty()) {
                    printf("\"%s\" (unknown)\n", augmentation.c_str());
                } else {
                    printf("None\n");
                    uint64_t code_align = in.uleb128();
                    int64_t data_align = in.sleb128();
                    uint8_t return_column = in.u8();
                    if (!in.ok() || in.position() > end) {
                        message(652);
                    } else {
                        printf("code align=%llu, data align=%lld, return col=%d\n",
                               static_cast<unsigned long long>(code_align),
                               static_cast<long long>(data_align), int(return_column));
                        dump_frame_instructions(in, end, code_align, data_align, 0, 652);
                    }
                }
            }
        } else {
            printf("\nFrame Description Entry @ 0x%08lX\n", static_cast<unsigned long>(start));
            if (length < 9) {
                message(653);
            } else {
                uint64_t location = in.uint(address_size_);
                uint64_t range = in.uint(address_size_);
                printf("size=%lu CIE_pointer=0x%08lX location range=0x%08llX..0x%08llX\n",
                       static_cast<unsigned long>(length), static_cast<unsigned long>(id),
                       static_cast<unsigned long long>(location),
                       static_cast<unsigned long long>(location + range));
                // The common entry the pointer names gives the alignment factors.
                ByteReader common = reader(slot);
                common.seek(uint64_t(id) + 4);
                if (uint64_t(id) + 8 > size) {
                    message(654);
                } else if (common.u32() != 0xFFFFFFFF) {
                    message(655, 0xFFFFFFFFu);
                } else {
                    common.u8(); // version
                    std::string augmentation = common.cstring(SIZE_MAX);
                    uint64_t code_align = common.uleb128();
                    int64_t data_align = common.sleb128();
                    if (!common.ok() || !augmentation.empty())
                        message(655, 0xFFFFFFFFu);
                    else if (in.ok() && in.position() <= end)
                        dump_frame_instructions(in, end, code_align, data_align, location, 656);
                }
            }
        }
        in.seek(end);
    }
}

// The instructions of an entry up to end, each on its own line; overrun is the message
// for instructions that run past the entry.
void DwarfDump::dump_frame_instructions(ByteReader& in, uint64_t end, uint64_t code_align,
                                        int64_t data_align, uint64_t location, unsigned overrun) {
    while (in.ok() && in.position() < end) {
        uint8_t byte = in.u8();
        uint8_t primary = byte & 0xC0;
        uint8_t low = byte & 0x3F;
        printf("        %s", CFA.full(primary ? primary : byte));
        switch (primary ? primary : byte) {
        case DW_CFA_advance_loc:
            location += low * code_align;
            printf(" (%u, loc -> 0x%08llX)", unsigned(low),
                   static_cast<unsigned long long>(location));
            break;
        case DW_CFA_offset:
            printf(" (r%u, %lld)", unsigned(low),
                   static_cast<long long>(int64_t(in.uleb128()) * data_align));
            break;
        case DW_CFA_restore: printf(" (r%u)", unsigned(low)); break;
        case DW_CFA_set_loc:
            location = in.uint(address_size_);
            printf(" (0x%08llX)", static_cast<unsigned long long>(location));
            break;
        case DW_CFA_advance_loc1:
        case DW_CFA_advance_loc2:
        case DW_CFA_advance_loc4: {
            uint64_t delta = in.uint(byte == DW_CFA_advance_loc1   ? 1
                                     : byte == DW_CFA_advance_loc2 ? 2
                                                                   : 4);
            location += delta * code_align;
            printf(" (%llu, loc -> 0x%08llX)", static_cast<unsigned long long>(delta),
                   static_cast<unsigned long long>(location));
            break;
        }
        case DW_CFA_offset_extended: {
            uint64_t reg = in.uleb128();
            int64_t offset = int64_t(in.uleb128()) * data_align;
            printf(" (r%llu, %lld)", static_cast<unsigned long long>(reg),
                   static_cast<long long>(offset));
            break;
        }
        case DW_CFA_restore_extended:
        case DW_CFA_undefined:
        case DW_CFA_same_value:
        case DW_CFA_def_cfa_register:
            printf(" (r%llu)", static_cast<unsigned long long>(in.uleb128()));
            break;
        case DW_CFA_register: {
            uint64_t reg = in.uleb128();
            uint64_t other = in.uleb128();
            printf(" (r%llu, r%llu)", static_cast<unsigned long long>(reg),
                   static_cast<unsigned long long>(other));
            break;
        }
        case DW_CFA_def_cfa: {
            uint64_t reg = in.uleb128();
            uint64_t offset = in.uleb128();
            printf(" (r%llu, %llu)", static_cast<unsigned long long>(reg),
                   static_cast<unsigned long long>(offset));
            break;
        }
        case DW_CFA_def_cfa_offset:
            printf(" (%llu)", static_cast<unsigned long long>(in.uleb128()));
            break;
        case DW_CFA_nop:
        case DW_CFA_remember_state:
        case DW_CFA_restore_state: break;
        default:
            // An instruction DWARF 2 does not know: its operands cannot be told apart.
            printf("\n");
            return;
        }
        printf("\n");
        if (!in.ok() || in.position() > end) {
            message(overrun);
            return;
        }
    }
}

// ---- Name lookup, address ranges, macros, locations ----

void DwarfDump::dump_pubnames() {
    Slot& slot = slots_[PUBNAMES];
    load(slot);
    if (!heading(slot)) return;
    ByteReader in = reader(slot);
    for (unsigned number = 1; in.position() < in.size(); ++number) {
        uint64_t start = in.position();
        printf("\nSet %u @ 0x%08lX\n", number, static_cast<unsigned long>(start));
        uint32_t length = in.u32();
        if (!in.ok()) return;
        if (length <= 19) {
            message(663, unsigned(length));
            return;
        }
        uint16_t version = in.u16();
        uint32_t info_offset = in.u32();
        uint32_t info_size = in.u32();
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
        printf("\nSet %u @ 0x%08lX\n", number, static_cast<unsigned long>(start));
        uint32_t length = in.u32();
        if (!in.ok()) return;
        if (length <= 9) {
            message(664, unsigned(length));
            return;
        }
        uint16_t version = in.u16();
        uint32_t info_offset = in.u32();
        uint8_t address_size = in.u8();
        uint8_t segment_size = in.u8();
        printf("size=%lu, ver=%u, offs=0x%08lX addrsize=%u, segsize=%u%s\n",
               static_cast<unsigned long>(length), unsigned(version),
               static_cast<unsigned long>(info_offset), unsigned(address_size),
               unsigned(segment_size), segment_size == 0 ? " (flat)" : "");
        uint64_t end = std::min<uint64_t>(start + 4 + uint64_t(length), in.size());
        if (in.ok() && known_address_size(address_size)) {
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
        printf("  %s", MACINFO.full(type));
        if (type == 3) {
            uint64_t line = in.uleb128();
            uint64_t file = in.uleb128();
            printf("(%lld, %lld)", static_cast<long long>(line), static_cast<long long>(file));
        } else if (type == 1 || type == 2 || type == 255) {
            uint64_t line = in.uleb128();
            std::string text = in.cstring(SIZE_MAX);
            printf("(%lld, \"%s\")", static_cast<long long>(line), text.c_str());
        }
        printf("\n");
    }
}

void DwarfDump::dump_locations() {
    Slot& slot = slots_[LOC];
    load(slot);
    if (!heading(slot)) return;
    ByteReader in = reader(slot);
    const unsigned size = address_size_;
    for (unsigned number = 1; in.ok() && in.position() < in.size(); ++number) {
        printf("\nSet %u @ 0x%08lX\n", number, static_cast<unsigned long>(in.position()));
        for (;;) {
            uint64_t low = in.uint(size);
            uint64_t high = in.uint(size);
            if (!in.ok() || (low == 0 && high == 0)) break;
            uint16_t length = in.u16();
            if (!in.ok()) break;
            printf("range=0x%08lX..0x%08lX size=%u\n", static_cast<unsigned long>(low),
                   static_cast<unsigned long>(high), unsigned(length));
            uint64_t end = in.position() + length;
            while (in.ok() && in.position() < end)
                if (!print_operation(in, end)) {
                    message(665);
                    break;
                }
            if (end > in.size()) return;
            in.seek(end);
        }
    }
}

// One operation of a location expression ending at end; false when it runs past it.
bool DwarfDump::print_operation(ByteReader& in, uint64_t end) {
    uint8_t op = in.u8();
    printf("  %s", OP.full(op));
    auto fits = [&]() { return in.ok() && in.position() <= end; };
    if (op == DW_OP_addr) {
        uint64_t address = in.uint(address_size_);
        if (fits()) printf("(0x%08llX)", static_cast<unsigned long long>(address));
    } else if (op == DW_OP_const1u || op == DW_OP_pick || op == DW_OP_deref_size ||
               op == DW_OP_xderef_size) {
        unsigned value = in.u8();
        if (fits()) printf("(%u)", value);
    } else if (op == DW_OP_const1s) {
        int value = int8_t(in.u8());
        if (fits()) printf("(%d)", value);
    } else if (op == DW_OP_const2u) {
        unsigned value = in.u16();
        if (fits()) printf("(%u)", value);
    } else if (op == DW_OP_const2s || op == DW_OP_skip || op == DW_OP_bra) {
        int value = int16_t(in.u16());
        if (fits()) printf("(%d)", value);
    } else if (op == DW_OP_const4u) {
        unsigned long value = in.u32();
        if (fits()) printf("(%lu)", value);
    } else if (op == DW_OP_const4s) {
        long value = int32_t(in.u32());
        if (fits()) printf("(%ld)", value);
    } else if (op == DW_OP_const8u || op == DW_OP_const8s) {
        unsigned long long value = in.u64();
        if (fits()) printf("(0x%08llX)", value);
    } else if (op == DW_OP_constu || op == DW_OP_plus_uconst || op == DW_OP_regx ||
               op == DW_OP_piece) {
        unsigned long long value = in.uleb128();
        if (fits()) printf("(%llu)", value);
    } else if (op == DW_OP_consts || op == DW_OP_fbreg ||
               (op >= DW_OP_breg0 && op <= DW_OP_breg31)) {
        long long value = in.sleb128();
        if (fits()) printf("(%lld)", value);
    } else if (op == DW_OP_bregx) {
        unsigned long long reg = in.uleb128();
        long long offset = in.sleb128();
        if (fits()) printf("(%llu, %lld)", reg, offset);
    }
    printf("\n");
    return fits();
}

} // namespace

void dwarf_dump(ByteReader& file, const std::vector<ElfSectionHeader>& sections,
                const std::vector<uint8_t>& section_names) {
    DwarfDump(file, sections, section_names).run();
}
