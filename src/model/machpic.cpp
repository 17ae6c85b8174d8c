// PIC10/12/14/16/17: the mid-range and baseline PICs.
#include <string_view>

#include "model/machine.h"
#include "model/run.h"

namespace {

const char* const REGISTERS[] = {"",        "w",     "wreg",  "fsr",     "fsr1", "tblptrl",
                                 "tblptrh", "prodl", "prodh", "tablreg", "prod"};

const char* const OPTIONS[] = {"AVOCET",   "NOTREGPAR", "HARDFLOAT", "GLOBOPT",  "AUTOSTATIC",
                               "PIC12",    "PIC14",     "PIC17",     "IEEE_DBL", "PICMIDHI",
                               "PICLOMID", "PIC42A",    "PAGED",     "NONPAGED", "CANREADCODE",
                               "SPACEOPT", "SPEEDOPT",  nullptr};

// clang-format off

const QualifierInfo QUALIFIERS[] = {
    {"const", 'D', 0x80000}, {"volatile", 'V', 0x2}, {"far", 'F', 0x4}, {"near", 'N', 0x8},
    {"interrupt", 'I', 0x10}, {"persistent", 'S', 0x20}, {"control", 'W', 0x100},
    {"bank0", 'P', 0x200}, {"bank1", 'X', 0x400}, {"bank2", 'Y', 0x800}, {"bank3", 'Z', 0x1000},
    {"fastcall", 'T', 0x2000}, {"eeprom", 'E', 0x40002}, {"const", 'C', 0x80000},
    {nullptr, 0, 0}};
// clang-format on

bool matches_name(Run&, const char* name) {
    for (const char* pattern : {"12C", "12F", "16C", "16F", "17C", "PIC", "RF509"})
        if (name_contains_nocase(name, pattern)) return true;
    return std::string_view(name) == "14000" || name_contains_nocase(name, "7C695");
}

} // namespace

// clang-format off
const BasicTypeInfo pic_basic_types[] = {
    {"i", 2, BASIC_SIGNED}, {"s", 2, BASIC_SIGNED}, {"c", 1, BASIC_SIGNED}, {"m", 3, BASIC_SIGNED},
    {"l", 4, BASIC_SIGNED}, {"ui", 2, BASIC_UNSIGNED}, {"us", 2, BASIC_UNSIGNED},
    {"uc", 1, BASIC_UNSIGNED}, {"um", 3, BASIC_UNSIGNED}, {"ul", 4, BASIC_UNSIGNED},
    {"f", 3, BASIC_FLOAT}, {"d", 4, BASIC_FLOAT}, {"x", 2, BASIC_SIGNED},
    {"ux", 2, BASIC_UNSIGNED}, {"b", 0, BASIC_BIT}, {"v", 0, BASIC_VOID},
    {nullptr, 0, 0}};

const ProcessorDescriptor pic_processor = {
    REGISTERS, sizeof REGISTERS / sizeof REGISTERS[0], OPTIONS, matches_name, pic_basic_types,
    {false, false, nullptr, nullptr}, // variable_location
    // Pointers into program memory (const) or far data need two bytes.
    {1, 0x80000 | 0x4, 2}, // type_size
    QUALIFIERS,
    1, // instruction_step
    1, // last_instruction_length
};
// clang-format on
