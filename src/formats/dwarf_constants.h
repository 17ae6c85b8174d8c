// DWARF version 2 constants as enumerations, made from the lists in dwarf.def.
#pragma once

#include <cstdint>

enum DwarfTag : uint16_t {
#define DW_TAG(value, name) DW_TAG_##name = value,
#include "formats/dwarf.def"
#undef DW_TAG
};

enum DwarfAttribute : uint16_t {
#define DW_AT(value, name) DW_AT_##name = value,
#include "formats/dwarf.def"
#undef DW_AT
};

enum DwarfForm : uint8_t {
#define DW_FORM(value, name) DW_FORM_##name = value,
#include "formats/dwarf.def"
#undef DW_FORM
};

enum DwarfEncoding : uint8_t {
#define DW_ATE(value, name) DW_ATE_##name = value,
#include "formats/dwarf.def"
#undef DW_ATE
};

enum DwarfLanguage : uint16_t {
#define DW_LANG(value, name) DW_LANG_##name = value,
#include "formats/dwarf.def"
#undef DW_LANG
};

enum DwarfLineOpcode : uint8_t {
#define DW_LNS(value, name) DW_LNS_##name = value,
#include "formats/dwarf.def"
#undef DW_LNS
};

enum DwarfLineExtendedOpcode : uint8_t {
#define DW_LNE(value, name) DW_LNE_##name = value,
#include "formats/dwarf.def"
#undef DW_LNE
};

enum DwarfOperation : uint8_t {
#define DW_OP(value, name) DW_OP_##name = value,
#include "formats/dwarf.def"
#undef DW_OP
};

enum DwarfFrameInstruction : uint8_t {
#define DW_CFA(value, name) DW_CFA_##name = value,
#include "formats/dwarf.def"
#undef DW_CFA
};
