// PIC32 (MIPS).
#include <cstring>

#include "model/machine.h"
#include "model/run.h"

namespace {

const char* const REGISTERS[] = {"",   "zero", "at", "v0", "v1", "a0", "a1", "a2", "a3",
                                 "t0", "t1",   "t2", "t3", "t4", "t5", "t6", "t7", "t8",
                                 "t9", "s0",   "s1", "s2", "s3", "s4", "s5", "s6", "s7",
                                 "k0", "k1",   "gp", "sp", "s8", "ra"};

const char* const OPTIONS[] = {"GLOBOPT", "AUTOSTATIC", "IEEE_DBL", nullptr};

// clang-format off
const BasicTypeInfo BASIC_TYPES[] = {
    {"i", 4, BASIC_SIGNED}, {"s", 2, BASIC_SIGNED}, {"c", 1, BASIC_SIGNED}, {"l", 4, BASIC_SIGNED},
    {"ui", 4, BASIC_UNSIGNED}, {"us", 2, BASIC_UNSIGNED}, {"uc", 1, BASIC_UNSIGNED},
    {"ul", 4, BASIC_UNSIGNED}, {"f", 4, BASIC_FLOAT}, {"d", 4, BASIC_FLOAT},
    {"x", 2, BASIC_SIGNED}, {"ux", 4, BASIC_UNSIGNED}, {"b", 0, BASIC_BIT}, {"v", 0, BASIC_VOID},
    {nullptr, 0, 0}};

const QualifierInfo QUALIFIERS[] = {
    {"const", 'C', 0x1}, {"volatile", 'V', 0x2}, {"interrupt", 'I', 0x10},
    {"persistent", 'S', 0x20}, {"leaf", 'G', 0x80}, {"reentrant", 'R', 0x40}, {"fast", 'T', 0x100},
    {"sfr", 'X', 0x200}, {"cp0", 'W', 0x400}, {"mips16e", 'M', 0x800}, {"mips32r2", 'P', 0x1000},
    {nullptr, 0, 0}};
// clang-format on

bool matches_name(Run&, const char* name) {
    return strncmp(name, "32MX", 4) == 0;
}

bool register_location(Run&, uint32_t n, ValuePair* answer) {
    answer->value = n - 1;
    return true;
}

} // namespace

// clang-format off
const ProcessorDescriptor pic32_processor = {
    REGISTERS, sizeof REGISTERS / sizeof REGISTERS[0], OPTIONS, matches_name, BASIC_TYPES,
    {false, true, nullptr, register_location}, // variable_location
    {4, 0, 0}, // type_size
    QUALIFIERS,
    2, // instruction_step
    4, // last_instruction_length
};
// clang-format on

// The register table lists t0 to t9, then s0 to s7; MIPS numbers s0 to s7 16 to 23 and
// t8 and t9 24 and 25.
uint32_t mips_dwarf_register(uint32_t location) {
    constexpr uint32_t T8 = 16, S0 = 18, S7 = 25;
    if (location == T8 || location == T8 + 1) return location + 8;
    if (location >= S0 && location <= S7) return location - 2;
    return location;
}
