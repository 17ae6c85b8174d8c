// Holtek.
#include <strings.h>

#include "model/machine.h"
#include "model/run.h"

namespace {

const char* const REGISTERS[] = {"", "a", "iar0"};

const char* const OPTIONS[] = {"HOLTEK", "GLOBOPT", "AUTOSTATIC", "IEEE_DBL", "FORCEBANK", nullptr};

// clang-format off
const BasicTypeInfo BASIC_TYPES[] = {
    {"i", 2, BASIC_SIGNED}, {"s", 2, BASIC_SIGNED}, {"c", 1, BASIC_SIGNED}, {"l", 4, BASIC_SIGNED},
    {"ui", 2, BASIC_UNSIGNED}, {"us", 2, BASIC_UNSIGNED}, {"uc", 1, BASIC_UNSIGNED},
    {"ul", 4, BASIC_UNSIGNED}, {"f", 3, BASIC_FLOAT}, {"d", 4, BASIC_FLOAT},
    {"x", 2, BASIC_SIGNED}, {"ux", 2, BASIC_UNSIGNED}, {"b", 0, BASIC_BIT}, {"v", 0, BASIC_VOID},
    {nullptr, 0, 0}};

const QualifierInfo QUALIFIERS[] = {
    {"const", 'D', 0x80000}, {"volatile", 'V', 0x2}, {"far", 'F', 0x4}, {"near", 'N', 0x8},
    {"interrupt", 'I', 0x10}, {"persistent", 'S', 0x20}, {"control", 'W', 0x100},
    {"bank0", 'P', 0x200}, {"bank1", 'X', 0x400}, {"bank2", 'Y', 0x800}, {"bank3", 'Z', 0x1000},
    {"fastcall", 'T', 0x2000}, {"eeprom", 'E', 0x40000}, {"const", 'C', 0x80000},
    {nullptr, 0, 0}};
// clang-format on

bool matches_name(Run&, const char* name) {
    return strncasecmp(name, "HT", 2) == 0;
}

// The accumulator lives at RAM address 5, the indirect register iar0 at 0.
bool register_location(Run& run, uint32_t n, ValuePair* answer) {
    if (n != 1 && n != 2) return false;
    uint32_t space = 0;
    segment_space(run, "RAM", &space);
    answer->value = n == 1 ? 5 : 0;
    answer->segment = space;
    return true;
}

} // namespace

// clang-format off
const ProcessorDescriptor holtek_processor = {
    REGISTERS, sizeof REGISTERS / sizeof REGISTERS[0], OPTIONS, matches_name, BASIC_TYPES,
    {false, false, "??", register_location}, // variable_location
    {1, 0x80000 | 0x4, 2}, // type_size
    QUALIFIERS,
    1, // instruction_step
    1, // last_instruction_length
};
// clang-format on
