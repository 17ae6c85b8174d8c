// The machine hooks: what an ELF file of the MIPS (PIC32) and dsPIC machines holds
// otherwise than the generic file every other machine gets.
#include <initializer_list>

#include "common/options.h"
#include "formats/elf/elf.h"
#include "model/run.h"
#include "model/store.h"

namespace {

// sh_flags by what a section stores: writable data when nothing, else code.
uint32_t flags_by_contents(Run&, const SegmentRecord&, uint32_t stored) {
    return stored == 0 ? SHF_WRITE | SHF_ALLOC : SHF_ALLOC | SHF_EXECINSTR;
}

uint8_t no_symbol_other(const SymbolRecord&) {
    return 0;
}

int8_t byte_addresses(Run&, const SegmentRecord&) {
    return 1;
}

void header_unchanged(uint32_t*) {}

bool accepts_every_machine(uint16_t) {
    return true;
}

// The generic hooks give the DWARF sections the type of notes.
const ElfMachineHooks generic_hooks = {
    accepts_every_machine, header_unchanged, flags_by_contents,
    no_symbol_other,       byte_addresses,   SHT_NOTE,
};

// ---- MIPS (PIC32) ----

bool accepts_mips(uint16_t machine) {
    return machine == EM_MIPS;
}

// A function whose bounds record says it was compiled as MIPS16 code.
uint8_t mips16_other(const SymbolRecord& symbol) {
    return symbol.bounds && symbol.bounds->init == 1 ? STO_MIPS16 : 0;
}

const ElfMachineHooks mips_hooks = {
    accepts_mips, header_unchanged, flags_by_contents, mips16_other, byte_addresses, SHT_MIPS_DWARF,
};

// ---- dsPIC ----

bool accepts_dspic(uint16_t machine) {
    return machine == EM_DSPIC30F;
}

void dspic_header(uint32_t* flags) {
    *flags |= EF_DSPIC_FLAGS;
}

// Program memory: code, addressed in words of two bytes.
uint32_t dspic_section_flags(Run& run, const SegmentRecord& space, uint32_t) {
    return is_program_class(run.options, space.name.c_str()) ? SHF_ALLOC | SHF_EXECINSTR
                                                             : SHF_WRITE | SHF_ALLOC;
}

int8_t dspic_address_unit(Run& run, const SegmentRecord& space) {
    return is_program_class(run.options, space.name.c_str()) ? 2 : 1;
}

const ElfMachineHooks dspic_hooks = {
    accepts_dspic, dspic_header, dspic_section_flags, no_symbol_other, dspic_address_unit, SHT_NOTE,
};

} // namespace

const ElfMachineHooks* elf_hooks_for(uint16_t machine) {
    for (const ElfMachineHooks* hooks : {&mips_hooks, &dspic_hooks, &generic_hooks})
        if (hooks->accepts_machine(machine)) return hooks;
    return nullptr;
}
