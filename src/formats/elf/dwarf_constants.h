// DWARF constants as enumerations, made from the lists in dwarf.def: the names of version
// 2 and those that versions 3 to 5 added.
#pragma once

#include <cstdint>

enum DwarfTag : uint16_t {
#define DW_TAG(value, name) DW_TAG_##name = value,
#define DW_TAG_SINCE(version, value, name) DW_TAG_##name = value,
#include "formats/elf/dwarf.def"
#undef DW_TAG
#undef DW_TAG_SINCE
};

enum DwarfAttribute : uint16_t {
#define DW_AT(value, name) DW_AT_##name = value,
#define DW_AT_SINCE(version, value, name) DW_AT_##name = value,
#include "formats/elf/dwarf.def"
#undef DW_AT
#undef DW_AT_SINCE
};

enum DwarfForm : uint8_t {
#define DW_FORM(value, name) DW_FORM_##name = value,
#define DW_FORM_SINCE(version, value, name) DW_FORM_##name = value,
#include "formats/elf/dwarf.def"
#undef DW_FORM
#undef DW_FORM_SINCE
};

enum DwarfEncoding : uint8_t {
#define DW_ATE(value, name) DW_ATE_##name = value,
#define DW_ATE_SINCE(version, value, name) DW_ATE_##name = value,
#include "formats/elf/dwarf.def"
#undef DW_ATE
#undef DW_ATE_SINCE
};

enum DwarfLanguage : uint16_t {
#define DW_LANG(value, name) DW_LANG_##name = value,
#define DW_LANG_SINCE(version, value, name) DW_LANG_##name = value,
#include "formats/elf/dwarf.def"
#undef DW_LANG
#undef DW_LANG_SINCE
};

enum DwarfLineOpcode : uint8_t {
#define DW_LNS(value, name) DW_LNS_##name = value,
#define DW_LNS_SINCE(version, value, name) DW_LNS_##name = value,
#include "formats/elf/dwarf.def"
#undef DW_LNS
#undef DW_LNS_SINCE
};

enum DwarfLineExtendedOpcode : uint8_t {
#define DW_LNE(value, name) DW_LNE_##name = value,
#define DW_LNE_SINCE(version, value, name) DW_LNE_##name = value,
#include "formats/elf/dwarf.def"
#undef DW_LNE
#undef DW_LNE_SINCE
};

enum DwarfOperation : uint8_t {
#define DW_OP(value, name) DW_OP_##name = value,
#define DW_OP_SINCE(version, value, name) DW_OP_##name = value,
#include "formats/elf/dwarf.def"
#undef DW_OP
#undef DW_OP_SINCE
};

enum DwarfFrameInstruction : uint8_t {
#define DW_CFA(value, name) DW_CFA_##name = value,
#define DW_CFA_SINCE(version, value, name) DW_CFA_##name = value,
#include "formats/elf/dwarf.def"
#undef DW_CFA
#undef DW_CFA_SINCE
};

enum DwarfUnitType : uint8_t {
#define DW_UT_SINCE(version, value, name) DW_UT_##name = value,
#include "formats/elf/dwarf.def"
#undef DW_UT_SINCE
};

enum DwarfLineContent : uint16_t {
#define DW_LNCT_SINCE(version, value, name) DW_LNCT_##name = value,
#include "formats/elf/dwarf.def"
#undef DW_LNCT_SINCE
};

enum DwarfRangeListEntry : uint8_t {
#define DW_RLE_SINCE(version, value, name) DW_RLE_##name = value,
#include "formats/elf/dwarf.def"
#undef DW_RLE_SINCE
};

enum DwarfLocationListEntry : uint8_t {
#define DW_LLE_SINCE(version, value, name) DW_LLE_##name = value,
#include "formats/elf/dwarf.def"
#undef DW_LLE_SINCE
};
