// Reading an ELF file into the store: its program bytes at the addresses an image of it
// holds, its symbols file by file, its entry address, and through the DWARF reader its
// line records and, into the type model, its units' scopes, variables and types.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "common/alert.h"
#include "common/options.h"
#include "formats/elf/dwarf_model.h"
#include "formats/elf/elf_file.h"
#include "formats/hex/hexfields.h"
#include "model/machine.h"
#include "model/run.h"
#include "model/store.h"

namespace {

// The processor family of a machine that the -p name does not give.
const ProcessorDescriptor* family_of_machine(uint16_t machine) {
    switch (machine) {
    case EM_ARM: return &arm_processor;
    case EM_MIPS: return &pic32_processor;
    default: return nullptr;
    }
}

// The family: the one selected already, else the -p name's, else the machine's; none
// for a machine of no family.
bool choose_family(Run& run, const ElfHeader& header) {
    if (selected_processor(run)) return true;
    if (!run.options.processor_name.empty() && select_processor_by_name(run)) return true;
    if (const ProcessorDescriptor* family = family_of_machine(header.machine)) {
        select_family(run, family);
        return true;
    }
    return false;
}

bool has_section(const ElfFile& file, const char* name) {
    for (const ElfSectionHeader& section : file.sections)
        if (table_name(file.section_names, section.name) == name) return true;
    return false;
}

// The class segment of a section, by its flags: made, empty and in its own space, on
// first use (as the symbol file's class names are).
uint32_t class_segment(Run& run, uint32_t flags) {
    const char* name = flags & SHF_EXECINSTR ? "CODE" : flags & SHF_WRITE ? "DATA" : "CONST";
    for (uint32_t k = 1; k <= run.store.segments.count(); ++k)
        if (run.store.segments[k - 1]->name == name) return k;
    add_segment(run, name, 0, 0, 0, run.store.segments.count() + 1);
    return run.store.segments.count();
}

// Where a section's bytes are loaded, and how many the file stores: inside a loadable
// segment, at the segment's physical address plus the section's place in it (as an image
// of the file has them), as many as the segment stores from there; elsewhere, at its own
// address, all of them.
uint32_t load_address(const ElfFile& file, const ElfSectionHeader& section, uint32_t* stored) {
    *stored = section.type == SHT_NOBITS ? 0 : section.size;
    if (section.type == SHT_NOBITS) return section.addr;
    for (const ElfProgramHeader& p : file.programs)
        if (p.type == PT_LOAD && p.filesz != 0 && section.offset >= p.offset &&
            section.offset - p.offset < p.filesz) {
            *stored = std::min(section.size, p.filesz - (section.offset - p.offset));
            return p.paddr + (section.offset - p.offset);
        }
    return section.addr;
}

// The ARM ABI's marks of where code and data begin inside a section ("$a", "$t", "$d",
// with a suffix after a dot), which name no place of the program.
bool is_mapping_symbol(const std::string& name) {
    return name.size() >= 2 && name[0] == '$' && strchr("atdx", name[1]) &&
           (name.size() == 2 || name[2] == '.');
}

// Each allocated section becomes a segment of its class, and the bytes it stores a data
// block; answers the segment number of each section (0 for the others).
std::vector<uint32_t> read_sections(Run& run, ByteReader& input, const ElfFile& file) {
    std::vector<uint32_t> segments(file.sections.size(), 0);
    std::vector<uint8_t> bytes;
    for (size_t k = 1; k < file.sections.size(); ++k) {
        const ElfSectionHeader& s = file.sections[k];
        if (!(s.flags & SHF_ALLOC) || s.size == 0) continue;
        const uint32_t space = class_segment(run, s.flags);
        uint32_t stored = 0;
        const uint32_t load = load_address(file, s, &stored);
        add_segment(run, table_name(file.section_names, s.name).c_str(), s.addr, s.size, load,
                    space);
        segments[k] = run.store.segments.count();
        if (stored == 0) continue;
        if (!input.read_at(s.offset, stored, &bytes)) {
            message(run.messages, 1037, "ELF section");
            continue;
        }
        add_data(run, load, stored, bytes.data(), 0);
    }
    return segments;
}

// The symbols of .symtab: a file symbol starts the symbols of its file; those before
// any, and the global ones (which ELF gives no file), belong to the input file itself.
// Undefined, common and section symbols are not symbols of the program.
void read_symbols(Run& run, ByteReader& input, const ElfFile& file, const char* name,
                  const std::vector<uint32_t>& segments) {
    for (const ElfSectionHeader& table : file.sections) {
        if (table.type != SHT_SYMTAB || table.entsize < ELF_SYMBOL_SIZE) continue;
        uint32_t current = 0, own = 0;
        for (uint64_t k = 1; k < table.size / table.entsize; ++k) {
            ElfSymbol symbol;
            if (!input.record_at(table.offset + k * table.entsize, &symbol)) {
                message(run.messages, 1037, "ELF symbol table");
                return;
            }
            const uint8_t type = elf_symbol_type(symbol.info);
            std::string text = table_name(file.symbol_names, symbol.name);
            if (type == STT_FILE) {
                current = add_file(run, text.c_str());
                continue;
            }
            if (type == STT_SECTION || symbol.shndx == SHN_UNDEF || symbol.shndx == SHN_COMMON ||
                text.empty() || is_mapping_symbol(text))
                continue;
            const bool local = elf_symbol_binding(symbol.info) == STB_LOCAL;
            uint32_t file_number = local ? current : 0;
            if (file_number == 0) file_number = own ? own : (own = add_file(run, name));
            const bool absolute = symbol.shndx == SHN_ABS || symbol.shndx >= segments.size();
            add_symbol(run, text.c_str(), symbol.value, absolute ? 0 : segments[symbol.shndx],
                       file_number, (absolute ? 0x1 : 0) | (local ? 0x2 : 0));
        }
    }
}

} // namespace

int elf_read(Run& run, FILE* in, const char* name) {
    ByteReader input(in);
    ElfFile file;
    if (!load_elf(run, input, &file)) return 0;
    const bool family = choose_family(run, file.header);
    if (!family && has_section(file, ".debug_info"))
        message(run.messages, 429, name, unsigned(file.header.machine));
    if (file.header.type == ET_REL) message(run.messages, 430, name);
    std::vector<uint32_t> segments = read_sections(run, input, file);
    read_symbols(run, input, file, name, segments);
    if (file.header.type == ET_EXEC) run.store.entry_address = file.header.entry;
    read_dwarf(run, input, file, name, family);
    return 1;
}
