// DWARF constants as enumerations, made from the rows of dwarf.def: the standard's names
// of every version and the vendors' that producers write.
#pragma once

#include <cstdint>

#define DWARF_ENUMERATOR(prefix, value, name) DW_##prefix##_##name = value,

enum DwarfTag : uint16_t {
#define DW_TAG(value, name, version, vendor) DWARF_ENUMERATOR(TAG, value, name)
#include "formats/elf/dwarf.def"
#undef DW_TAG
};

enum DwarfAttribute : uint16_t {
#define DW_AT(value, name, version, vendor) DWARF_ENUMERATOR(AT, value, name)
#include "formats/elf/dwarf.def"
#undef DW_AT
};

enum DwarfForm : uint16_t {
#define DW_FORM(value, name, version, vendor, layout, kind) DWARF_ENUMERATOR(FORM, value, name)
#include "formats/elf/dwarf.def"
#undef DW_FORM
};

enum DwarfEncoding : uint8_t {
#define DW_ATE(value, name, version, vendor) DWARF_ENUMERATOR(ATE, value, name)
#include "formats/elf/dwarf.def"
#undef DW_ATE
};

enum DwarfLanguage : uint16_t {
#define DW_LANG(value, name, version, vendor) DWARF_ENUMERATOR(LANG, value, name)
#include "formats/elf/dwarf.def"
#undef DW_LANG
};

enum DwarfLineOpcode : uint8_t {
#define DW_LNS(value, name, version, vendor) DWARF_ENUMERATOR(LNS, value, name)
#include "formats/elf/dwarf.def"
#undef DW_LNS
};

enum DwarfLineExtendedOpcode : uint8_t {
#define DW_LNE(value, name, version, vendor) DWARF_ENUMERATOR(LNE, value, name)
#include "formats/elf/dwarf.def"
#undef DW_LNE
};

enum DwarfOperation : uint8_t {
#define DW_OP(value, name, version, vendor, first, second) DWARF_ENUMERATOR(OP, value, name)
#include "formats/elf/dwarf.def"
#undef DW_OP
};

enum DwarfFrameInstruction : uint8_t {
#define DW_CFA(value, name, version, vendor, first, second) DWARF_ENUMERATOR(CFA, value, name)
#include "formats/elf/dwarf.def"
#undef DW_CFA
};

enum DwarfUnitType : uint8_t {
#define DW_UT(value, name, version, vendor) DWARF_ENUMERATOR(UT, value, name)
#include "formats/elf/dwarf.def"
#undef DW_UT
};

enum DwarfLineContent : uint16_t {
#define DW_LNCT(value, name, version, vendor) DWARF_ENUMERATOR(LNCT, value, name)
#include "formats/elf/dwarf.def"
#undef DW_LNCT
};

enum DwarfRangeListEntry : uint8_t {
#define DW_RLE(value, name, version, vendor) DWARF_ENUMERATOR(RLE, value, name)
#include "formats/elf/dwarf.def"
#undef DW_RLE
};

enum DwarfLocationListEntry : uint8_t {
#define DW_LLE(value, name, version, vendor) DWARF_ENUMERATOR(LLE, value, name)
#include "formats/elf/dwarf.def"
#undef DW_LLE
};

// GNU's macro entries of version 4 share the standard's values and names: one enumerator.
#define DWARF_MACRO_DWARF(value, name) DWARF_ENUMERATOR(MACRO, value, name)
#define DWARF_MACRO_GNU(value, name)
enum DwarfMacro : uint8_t {
#define DW_MACRO(value, name, version, vendor, first, second) DWARF_MACRO_##vendor(value, name)
#include "formats/elf/dwarf.def"
#undef DW_MACRO
};
#undef DWARF_MACRO_DWARF
#undef DWARF_MACRO_GNU

enum DwarfIndex : uint16_t {
#define DW_IDX(value, name, version, vendor) DWARF_ENUMERATOR(IDX, value, name)
#include "formats/elf/dwarf.def"
#undef DW_IDX
};

#undef DWARF_ENUMERATOR
