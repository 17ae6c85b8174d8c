// PIC18.
#include "model/machine.h"
#include "model/run.h"

namespace {

const char* const REGISTERS[] = {
    "",        "w",       "wreg",  "fsr0l", "fsr0h", "fsr1l", "fsr1h", "fsr2l",  "fsr2h", "tblptrl",
    "tblptrh", "tblptru", "prodl", "prodh", "fsr0",  "fsr1",  "fsr2",  "tblptr", "prod"};

const char* const OPTIONS[] = {"AVOCET",      "NOTREGPAR",  "HARDFLOAT",  "GLOBOPT",
                               "AUTOSTATIC",  "FAST_DBL",   "IEEE_DBL",   "SMALL_MODEL",
                               "LARGE_MODEL", "SMALL_DATA", "LARGE_DATA", "LFSROK",
                               "EMI_BYTE",    "EMI_WORD",   nullptr};

// clang-format off
const QualifierInfo QUALIFIERS[] = {
    {"const", 'D', 0x80000}, {"volatile", 'V', 0x2}, {"far", 'F', 0x4}, {"near", 'N', 0x8},
    {"interrupt", 'I', 0x10}, {"persistent", 'S', 0x20}, {"control", 'W', 0x100},
    {"fastcall", 'T', 0x1000}, {"low_priority", 'L', 0x20000}, {"bdata", 'B', 0x40000},
    {"const", 'C', 0x80000},
    {nullptr, 0, 0}};
// clang-format on

bool matches_name(Run&, const char* name) {
    return name_contains_nocase(name, "18C") || name_contains_nocase(name, "18F");
}

} // namespace

// clang-format off
const ProcessorDescriptor pic18_processor = {
    REGISTERS, sizeof REGISTERS / sizeof REGISTERS[0], OPTIONS, matches_name, pic_basic_types,
    {false, false, nullptr, nullptr}, // variable_location
    {2, 0, 0}, // type_size
    QUALIFIERS,
    2, // instruction_step
    2, // last_instruction_length
};
// clang-format on
