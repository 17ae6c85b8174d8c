// Processor descriptors: what the side files and the debug writers need to know about
// one target family (basic types, qualifier letters, registers, compiler option words,
// pointer sizes, where local variables live).
//
// Seven families, tried in a fixed order; one is selected per run, by the -p name or by
// the option words of the first side file, and never changes afterwards.
#pragma once

#include <cstdint>

#include "model/store.h"
#include "model/type.h"

struct Run;

struct BasicTypeInfo {
    const char* name; // null ends the table
    uint8_t size;     // bytes
    uint8_t basic_class;
};

struct QualifierInfo {
    const char* name;
    char letter; // 0 ends the table
    uint32_t flags;
};

// The rules in which the families differ when locating variables.
struct LocationRules {
    // Statics without an asm_name are looked up in the symbols of the file named by the
    // scope first (dsPIC).
    bool static_in_scope_file;
    // Autos and parameters sit at the function scope's numbers (index 1 for autos, 3 for
    // parameters) plus their frame offset, rather than at a "?a"/"?" symbol.
    bool frame_from_numbers;
    // The auto symbol's prefix; null: "?a", or "??" when the side files define edition
    // as "pro".
    const char* auto_prefix;
    // Register n of a reg variable; answers no when it has no address. May set the
    // answer's segment. Null: reg variables have no address.
    bool (*register_location)(Run& run, uint32_t n, ValuePair* answer);
};

// The rule in which the families differ when sizing types: a pointer takes
// qualified_pointer_size bytes when the node just inside it is a qualifier node with any
// of qualified_flags, else pointer_size.
struct SizeRules {
    uint32_t pointer_size;
    uint32_t qualified_flags; // 0: every pointer has the one size
    uint32_t qualified_pointer_size;
};

// A family's tables and rules; the operations variable_location and type_size below
// apply the selected family's rules.
struct ProcessorDescriptor {
    const char* const* registers; // index 0 is the empty name; a register's number is its index
    uint32_t register_count;
    const char* const* options; // compiler option words, ended by null
    bool (*matches_name)(Run& run, const char* name);
    const BasicTypeInfo* basic_types;
    LocationRules variable_location; // where variables live
    SizeRules type_size;             // how big pointers are
    const QualifierInfo* qualifiers;
    uint32_t instruction_step;        // address distance between two instructions
    uint32_t last_instruction_length; // assumed length of a function's last instruction
};

// The seven families, in selection order.
extern const ProcessorDescriptor pic_processor;    // PIC10/12/14/16/17
extern const ProcessorDescriptor pic18_processor;  // PIC18
extern const ProcessorDescriptor dspic_processor;  // dsPIC30/33, PIC24
extern const ProcessorDescriptor pic32_processor;  // PIC32 (MIPS)
extern const ProcessorDescriptor i8051_processor;  // 8051
extern const ProcessorDescriptor arm_processor;    // ARM
extern const ProcessorDescriptor holtek_processor; // Holtek

// Selection state.
struct Machine {
    const ProcessorDescriptor* selected = nullptr;
    bool selection_done = false;
};

// The basic types of the PIC and PIC18 families (the same for both).
extern const BasicTypeInfo pic_basic_types[];

// Chooses a descriptor from -p, else from the option words of text (up to a word "]");
// creates the global scope on success. Once a processor is selected, answers yes at once.
// Reports 668 when no family fits and 669 when several do.
bool select_processor(Run& run, const char* text);

// Selects the family the -p name belongs to, when there is one, as select_processor does
// (a family selected earlier stays).
bool select_processor_by_name(Run& run);
// Selects a family that the input itself gives (an ELF file's machine), creating the
// global scope; a family selected earlier stays.
void select_family(Run& run, const ProcessorDescriptor* family);

const ProcessorDescriptor* selected_processor(Run& run);

// Whether the word is one of the selected family's option words (case-sensitive).
bool processor_has_option(Run& run, const char* word);
// The register's number, or 0 for an empty, null or unknown name.
uint32_t find_register(Run& run, const char* name);
// The register's name, or "" for 0 or a number past the table.
const char* register_name(Run& run, uint32_t number);

// The selected family's operations; call them only once a processor is selected.
// Finds the address of a variable declared in the given scope; the answer pair is
// (value, segment number). A found location is kept in the entry.
bool variable_location(Run& run, ScopeEntry* entry, const ScopeEntry* scope, ValuePair* answer);
// Size in bytes of the type whose outermost node is the one referred to.
uint32_t type_size(Run& run, TypeRef node);
// The DWARF number of a register location variable_location found: the same number,
// except where the family's register table orders registers otherwise than its
// architecture numbers them (PIC32 lists t8 and t9 before s0 to s7).
uint32_t dwarf_register(Run& run, uint32_t location);
// The family's register whose location has that DWARF number (the inverse of the above);
// 0 when no register of the family has it.
uint32_t register_of_dwarf(Run& run, uint32_t number);

// The PIC32 family's DWARF register numbers (dwarf_register).
uint32_t mips_dwarf_register(uint32_t location);

// Building blocks of the family modules.

// The space of the first segment of that name, when there is one.
bool segment_space(Run& run, const char* name, uint32_t* space);

// Whether processor_name contains the pattern, ignoring case / case-sensitively.
bool name_contains_nocase(const char* name, const char* pattern);
bool name_contains(const char* name, const char* pattern);
