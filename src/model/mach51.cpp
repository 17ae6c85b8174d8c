// 8051.
#include "common/options.h"
#include "model/machine.h"
#include "model/run.h"

namespace {

const char* const REGISTERS[] = {"",   "r0",  "r1",  "r2",  "r3",  "r4",  "r5", "r6",
                                 "r7", "WR0", "WR1", "WR2", "WR3", "LR0", "LR1"};

const char* const OPTIONS[] = {"NOTREGPAR", "HARDFLOAT", "SPEEDOPT", "SPACEOPT",
                               "GLOBOPT",   "HUGE_CODE", nullptr};

// clang-format off
const BasicTypeInfo BASIC_TYPES[] = {
    {"i", 2, BASIC_SIGNED}, {"s", 2, BASIC_SIGNED}, {"c", 1, BASIC_SIGNED}, {"l", 4, BASIC_SIGNED},
    {"ui", 2, BASIC_UNSIGNED}, {"us", 2, BASIC_UNSIGNED}, {"uc", 1, BASIC_UNSIGNED},
    {"ul", 4, BASIC_UNSIGNED}, {"f", 4, BASIC_FLOAT}, {"d", 4, BASIC_FLOAT},
    {"x", 2, BASIC_SIGNED}, {"ux", 2, BASIC_UNSIGNED}, {"b", 0, BASIC_BIT}, {"v", 0, BASIC_VOID},
    {nullptr, 0, 0}};

const QualifierInfo QUALIFIERS[] = {
    {"const", 'C', 0x1}, {"volatile", 'V', 0x2}, {"far", 'F', 0x4}, {"near", 'N', 0x8},
    {"interrupt", 'I', 0x10}, {"persistent", 'S', 0x20}, {"reentrant", 'R', 0x40},
    {"idata", 'A', 0x100}, {"pdata", 'P', 0x200}, {"bank2", 'Y', 0x400}, {"bank3", 'Z', 0x800},
    {"code", 'D', 0x1000}, {"xdata", 'X', 0x2000}, {"basenear", 'B', 0x4000},
    {nullptr, 0, 0}};
// clang-format on

bool matches_name(Run& run, const char* name) {
    return (!run.options.processor_list.empty() && run.options.processor_list[0] == "8051") ||
           name_contains(name, "8051");
}

// r0..r7 are bytes 0..7 of the register bank, WR0..WR3 the pairs at 0, 2, 4, 6 and
// LR0, LR1 the quads at 0 and 4; all in the DATA space.
bool register_location(Run& run, uint32_t n, ValuePair* answer) {
    uint32_t value;
    if (n >= 1 && n <= 8)
        value = n - 1;
    else if (n >= 9 && n <= 12)
        value = 2 * n - 18;
    else if (n == 13 || n == 14)
        value = 4 * n - 52;
    else
        return false;
    uint32_t space;
    if (!segment_space(run, "DATA", &space)) return false;
    answer->value = value;
    answer->segment = space;
    return true;
}

} // namespace

// clang-format off
const ProcessorDescriptor i8051_processor = {
    REGISTERS, sizeof REGISTERS / sizeof REGISTERS[0], OPTIONS, matches_name, BASIC_TYPES,
    {false, false, nullptr, register_location}, // variable_location
    // Near, idata and pdata pointers address one byte-wide space.
    {2, 0x8 | 0x100 | 0x200, 1}, // type_size
    QUALIFIERS,
    0, // instruction_step
    0, // last_instruction_length
};
// clang-format on
