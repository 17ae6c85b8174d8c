// ARM.
#include "model/machine.h"
#include "model/run.h"

namespace {

const char* const REGISTERS[] = {
    "",     "r0",   "r1",   "r2",   "r3",   "r4",    "r5",     "r6",       "r7",     "r8",
    "r9",   "r10",  "r11",  "r12",  "r13",  "r14",   "r15",    "r0_1",     "r1_2",   "r2_3",
    "r3_4", "r4_5", "r5_6", "r6_7", "r8_9", "r9_10", "r10_11", "PARAMREG", "DATAREG"};

const char* const OPTIONS[] = {"SPEEDOPT", "SPACEOPT", "GLOBOPT", "ARMV4",   "ARMV4T",
                               "ARMV5",    "ARMV5T",   "THUMBV4", "THUMBV5", "MATH",
                               "EVAR",     "EXP",      nullptr};

// clang-format off
const BasicTypeInfo BASIC_TYPES[] = {
    {"i", 4, BASIC_SIGNED}, {"s", 2, BASIC_SIGNED}, {"c", 1, BASIC_SIGNED}, {"l", 4, BASIC_SIGNED},
    {"ui", 4, BASIC_UNSIGNED}, {"us", 2, BASIC_UNSIGNED}, {"uc", 1, BASIC_UNSIGNED},
    {"ul", 4, BASIC_UNSIGNED}, {"f", 4, BASIC_FLOAT}, {"d", 4, BASIC_FLOAT},
    {"x", 4, BASIC_SIGNED}, {"ux", 4, BASIC_UNSIGNED}, {"nx", 1, BASIC_SIGNED},
    {"unx", 1, BASIC_UNSIGNED}, {"b", 10, BASIC_BIT}, {"v", 0, BASIC_VOID},
    {nullptr, 0, 0}};

const QualifierInfo QUALIFIERS[] = {
    {"const", 'C', 0x1}, {"volatile", 'V', 0x2}, {"far", 'F', 0x4}, {"near", 'N', 0x8},
    {"interrupt", 'I', 0x10}, {"persistent", 'S', 0x20}, {"code", 'D', 0x100},
    {"fast", 'Q', 0x200}, {"thumb", 'T', 0x400}, {"arm", 'A', 0x800},
    {nullptr, 0, 0}};
// clang-format on

bool matches_name(Run&, const char* name) {
    return name_contains(name, "ARM") || name_contains(name, "AT91R") ||
           name_contains(name, "AT91M");
}

// r0..r15 are registers 1..16; the pairs r0_1..r6_7 start at r0..r6 and r8_9..r10_11
// at r8..r10.
bool register_location(Run&, uint32_t n, ValuePair* answer) {
    if (n >= 1 && n <= 16)
        answer->value = n - 1;
    else if (n >= 17 && n <= 23)
        answer->value = n - 17;
    else if (n >= 24 && n <= 26)
        answer->value = n - 15;
    else
        return false;
    return true;
}

} // namespace

// clang-format off
const ProcessorDescriptor arm_processor = {
    REGISTERS, sizeof REGISTERS / sizeof REGISTERS[0], OPTIONS, matches_name, BASIC_TYPES,
    {false, false, nullptr, register_location}, // variable_location
    {4, 0, 0}, // type_size
    QUALIFIERS,
    2, // instruction_step
    4, // last_instruction_length
};
// clang-format on
