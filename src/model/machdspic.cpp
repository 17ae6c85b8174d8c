// dsPIC30/33 and PIC24.
#include "model/machine.h"
#include "model/run.h"

namespace {

const char* const REGISTERS[] = {"",    "w0",  "w1",  "w2",  "w3",  "w4",       "w5",       "w6",
                                 "w7",  "w8",  "w9",  "w10", "w11", "w12",      "w13",      "w14",
                                 "w15", "w01", "w23", "w45", "w67", "w89",      "w1011",    "w1213",
                                 "w37", "w40", "w57", "a",   "b",   "PARAMREG", "LPARAMREG"};

const char* const OPTIONS[] = {"SPEEDOPT", "SPACEOPT", "GLOBOPT", "PIC30", nullptr};

// clang-format off
const BasicTypeInfo BASIC_TYPES[] = {
    {"i", 2, BASIC_SIGNED}, {"s", 2, BASIC_SIGNED}, {"c", 1, BASIC_SIGNED}, {"l", 4, BASIC_SIGNED},
    {"ui", 2, BASIC_UNSIGNED}, {"us", 2, BASIC_UNSIGNED}, {"uc", 1, BASIC_UNSIGNED},
    {"ul", 4, BASIC_UNSIGNED}, {"f", 4, BASIC_FLOAT}, {"d", 4, BASIC_FLOAT},
    {"x", 2, BASIC_SIGNED}, {"ux", 2, BASIC_UNSIGNED}, {"nx", 1, BASIC_SIGNED},
    {"unx", 1, BASIC_UNSIGNED}, {"b", 0, BASIC_BIT}, {"v", 2, BASIC_VOID},
    {nullptr, 0, 0}};

const QualifierInfo QUALIFIERS[] = {
    {"const", 'C', 0x400}, {"volatile", 'V', 0x2}, {"far", 'F', 0x4}, {"near", 'N', 0x8},
    {"interrupt", 'I', 0x10}, {"persistent", 'S', 0x20}, {"ydata", 'Y', 0x100},
    {"fastcall", 'T', 0x200}, {"const", 'D', 0x400},
    {nullptr, 0, 0}};
// clang-format on

bool matches_name(Run&, const char* name) {
    for (const char* pattern : {"PIC30", "30F", "PIC24", "24FJ", "24HJ", "33F", "24GS"})
        if (name_contains(name, pattern)) return true;
    return name_contains(name, "24F") && name_contains(name, "KA");
}

// w0..w15 are registers 1..16; the pairs w01..w1213 start at registers 0, 2, ... 12.
bool register_location(Run&, uint32_t n, ValuePair* answer) {
    if (n >= 1 && n <= 16) {
        answer->value = n - 1;
        return true;
    }
    if (n >= 17 && n <= 23) {
        answer->value = 2 * n - 34;
        return true;
    }
    return false;
}

} // namespace

// clang-format off
const ProcessorDescriptor dspic_processor = {
    REGISTERS, sizeof REGISTERS / sizeof REGISTERS[0], OPTIONS, matches_name, BASIC_TYPES,
    {true, true, nullptr, register_location}, // variable_location
    {2, 0, 0}, // type_size
    QUALIFIERS,
    2, // instruction_step
    2, // last_instruction_length
};
// clang-format on
