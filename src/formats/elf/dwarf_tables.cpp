// The name tables and operand layouts of the DWARF families, from the rows of dwarf.def.
#include "formats/elf/dwarf_tables.h"

#include <algorithm>
#include <cstdio>

#include "formats/elf/dwarf_constants.h"

namespace dwarf {

// ---- Names ----

NameFamily::NameFamily(const char* prefix, std::initializer_list<NameRow> rows, uint32_t user_low,
                       uint32_t user_high)
    : small_(256, nullptr), user_low_(user_low), user_high_(user_high) {
    for (const NameRow& row : rows) {
        std::string plain = row.name;
        std::replace(plain.begin(), plain.end(), '_', ' ');
        std::vector<Names>& names = names_[row.value];
        names.push_back(
            {row.since, row.vendor, "DW_" + std::string(prefix) + "_" + row.name, plain});
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
    // A few texts in turn, so that one line may show several unknown values.
    static char texts[4][48];
    static unsigned next = 0;
    char* text = texts[next++ % 4];
    bool user = value >= user_low_ && value <= user_high_;
    // As the 32-bit long of the printed format holds it, on every platform.
    snprintf(text, sizeof texts[0], "?? 0x%08lX%s", static_cast<unsigned long>(uint32_t(value)),
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

const char* NameFamily::vendor(uint64_t value, unsigned version) const {
    const Names* n = find(value, version);
    return n ? n->vendor : nullptr;
}

#define NAME_ROW(value, name, version, vendor) {value, #name, version, #vendor},
#define NAME_ROW6(value, name, version, vendor, a, b) NAME_ROW(value, name, version, vendor)
const NameFamily TAG("TAG",
                     {
#define DW_TAG NAME_ROW
#include "formats/elf/dwarf.def"
#undef DW_TAG
                     },
                     0x4080, 0xFFFF);
const NameFamily AT("AT",
                    {
#define DW_AT NAME_ROW
#include "formats/elf/dwarf.def"
#undef DW_AT
                    },
                    0x2000, 0x3FFF);
const NameFamily FORM("FORM", {
#define DW_FORM NAME_ROW6
#include "formats/elf/dwarf.def"
#undef DW_FORM
                              });
const NameFamily OP("OP",
                    {
#define DW_OP NAME_ROW6
#include "formats/elf/dwarf.def"
#undef DW_OP
                    },
                    0xE0, 0xFF);
const NameFamily CFA("CFA",
                     {
#define DW_CFA NAME_ROW6
#include "formats/elf/dwarf.def"
#undef DW_CFA
                     },
                     0x1C, 0x3F);
const NameFamily MACINFO("MACINFO", {
#define DW_MACINFO NAME_ROW
#include "formats/elf/dwarf.def"
#undef DW_MACINFO
                                    });
const NameFamily MACRO("MACRO",
                       {
#define DW_MACRO NAME_ROW6
#include "formats/elf/dwarf.def"
#undef DW_MACRO
                       },
                       0xE0, 0xFF);
const NameFamily ATE("ATE",
                     {
#define DW_ATE NAME_ROW
#include "formats/elf/dwarf.def"
#undef DW_ATE
                     },
                     0x80, 0xFF);
const NameFamily LANG("LANG",
                      {
#define DW_LANG NAME_ROW
#include "formats/elf/dwarf.def"
#undef DW_LANG
                      },
                      0x8000, 0xFFFF);
const NameFamily LNS("LNS", {
#define DW_LNS NAME_ROW
#include "formats/elf/dwarf.def"
#undef DW_LNS
                            });
const NameFamily LNE("LNE", {
#define DW_LNE NAME_ROW
#include "formats/elf/dwarf.def"
#undef DW_LNE
                            });
const NameFamily UT("UT",
                    {
#define DW_UT NAME_ROW
#include "formats/elf/dwarf.def"
#undef DW_UT
                    },
                    0x80, 0xFF);
const NameFamily LNCT("LNCT",
                      {
#define DW_LNCT NAME_ROW
#include "formats/elf/dwarf.def"
#undef DW_LNCT
                      },
                      0x2000, 0x3FFF);
const NameFamily RLE("RLE", {
#define DW_RLE NAME_ROW
#include "formats/elf/dwarf.def"
#undef DW_RLE
                            });
const NameFamily LLE("LLE", {
#define DW_LLE NAME_ROW
#include "formats/elf/dwarf.def"
#undef DW_LLE
                            });
const NameFamily IDX("IDX",
                     {
#define DW_IDX NAME_ROW
#include "formats/elf/dwarf.def"
#undef DW_IDX
                     },
                     0x2000, 0x3FFF);
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
#include "formats/elf/dwarf.def"
#undef DW_CC
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
#undef NAME_ROW6

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

// ---- Operand layouts ----

namespace {

// The forms of the standard lie below 0x40, GNU's from 0x1F00.
constexpr uint32_t GNU_FORMS = 0x1F00;

struct FormTables {
    FormRow standard[0x40] = {};
    FormRow gnu[0x40] = {};
    bool has_standard[0x40] = {}, has_gnu[0x40] = {};
    FormTables() {
        auto add = [this](uint32_t value, FormLayout layout, FormClass kind) {
            bool gnu_form = value >= GNU_FORMS;
            FormRow* rows = gnu_form ? gnu : standard;
            bool* has = gnu_form ? has_gnu : has_standard;
            rows[value - (gnu_form ? GNU_FORMS : 0)] = {layout, kind};
            has[value - (gnu_form ? GNU_FORMS : 0)] = true;
        };
#define DW_FORM(value, name, version, vendor, layout, kind)                                        \
    add(value, FormLayout::layout, FormClass::kind);
#include "formats/elf/dwarf.def"
#undef DW_FORM
    }
};

template <class Layout> struct OperandTable {
    Layout rows[256] = {};
};

const OperandTable<OperationLayout>& operation_table() {
    static const OperandTable<OperationLayout> table = [] {
        OperandTable<OperationLayout> t;
#define DW_OP(value, name, version, vendor, first, second)                                         \
    t.rows[value] = {true, Operand::first, Operand::second};
#include "formats/elf/dwarf.def"
#undef DW_OP
        return t;
    }();
    return table;
}

const OperandTable<FrameLayout>& frame_table() {
    static const OperandTable<FrameLayout> table = [] {
        OperandTable<FrameLayout> t;
#define DW_CFA(value, name, version, vendor, first, second)                                        \
    t.rows[value] = {true, FrameOperand::first, FrameOperand::second};
#include "formats/elf/dwarf.def"
#undef DW_CFA
        return t;
    }();
    return table;
}

struct MacroRow {
    uint8_t value;
    unsigned since;
    MacroLayout layout;
};
const MacroRow MACRO_ROWS[] = {
#define DW_MACRO(value, name, version, vendor, first, second)                                      \
    {value, version, {true, MacroOperand::first, MacroOperand::second}},
#include "formats/elf/dwarf.def"
#undef DW_MACRO
};

} // namespace

const FormRow* form_row(uint64_t form) {
    static const FormTables tables;
    if (form < 0x40) return tables.has_standard[form] ? &tables.standard[form] : nullptr;
    if (form >= GNU_FORMS && form < GNU_FORMS + 0x40)
        return tables.has_gnu[form - GNU_FORMS] ? &tables.gnu[form - GNU_FORMS] : nullptr;
    return nullptr;
}

const OperationLayout& operation_layout(uint8_t operation) {
    return operation_table().rows[operation];
}

const FrameLayout& frame_layout(uint8_t instruction) {
    return frame_table().rows[instruction];
}

MacroLayout macro_layout(uint8_t type, unsigned version) {
    MacroLayout found = {false, MacroOperand::NONE, MacroOperand::NONE};
    for (const MacroRow& row : MACRO_ROWS)
        if (row.value == type && row.since <= version) found = row.layout;
    return found;
}

} // namespace dwarf
