// The ELF dump: the header, the string tables, the sections with their symbol tables and
// the program headers, then the DWARF sections (dwarf_dump.cpp).
#include <algorithm>
#include <cstring>

#include "common/alert.h"
#include "common/options.h"
#include "formats/elf/dwarf.h"
#include "formats/elf/elf_file.h"
#include "model/run.h"
#include "model/store.h"

namespace {

struct NamedValue {
    uint32_t value;
    const char* name;
};

const NamedValue CLASS_NAMES[] = {{ELFCLASSNONE, "Invalid class"},
                                  {ELFCLASS32, "32-bit objects"},
                                  {ELFCLASS64, "64-bit objects"},
                                  {0, nullptr}};
const NamedValue DATA_NAMES[] = {{ELFDATANONE, "Invalid data encoding"},
                                 {ELFDATA2LSB, "2's complement, little endian"},
                                 {ELFDATA2MSB, "2's complement, big endian"},
                                 {0, nullptr}};
const NamedValue OSABI_NAMES[] = {{ELFOSABI_SYSV, "UNIX System V Revision 4"},
                                  {ELFOSABI_HPUX, "HP-UX"},
                                  {ELFOSABI_NETBSD, "NetBSD"},
                                  {ELFOSABI_LINUX, "Linux"},
                                  {ELFOSABI_HURD, "Hurd"},
                                  {ELFOSABI_SOLARIS, "Solaris"},
                                  {ELFOSABI_AIX, "AIX"},
                                  {ELFOSABI_IRIX, "IRIX"},
                                  {ELFOSABI_FREEBSD, "FreeBSD"},
                                  {ELFOSABI_TRU64, "TRU64 UNIX"},
                                  {ELFOSABI_MODESTO, "Novell Modesto"},
                                  {ELFOSABI_OPENBSD, "OpenBSD"},
                                  {ELFOSABI_ARM, "ARM"},
                                  {ELFOSABI_STANDALONE, "Standalone (embedded)"},
                                  {0, nullptr}};
const NamedValue TYPE_NAMES[] = {{ET_NONE, "ET_NONE"}, {ET_EXEC, "ET_EXEC"}, {ET_REL, "ET_REL"},
                                 {ET_DYN, "ET_DYN"},   {ET_CORE, "ET_CORE"}, {0, nullptr}};
const NamedValue SECTION_TYPE_NAMES[] = {{SHT_NULL, "Unused"},
                                         {SHT_PROGBITS, "Program data"},
                                         {SHT_SYMTAB, "Symbol table"},
                                         {SHT_STRTAB, "String table"},
                                         {SHT_RELA, "Reloc entries with addends"},
                                         {SHT_HASH, "Symbol hash table"},
                                         {SHT_DYNAMIC, "Dynamic linking information"},
                                         {SHT_NOTE, "Notes"},
                                         {SHT_NOBITS, "Prog space without data (bss)"},
                                         {SHT_REL, "Reloc entries, no addends"},
                                         {SHT_SHLIB, "Reserved"},
                                         {SHT_DYNSYM, "Dynamic linker symbol table"},
                                         {SHT_LOOS, "Start OS-specific"},
                                         {SHT_LOSUNW, "Sun-specific low bound. "},
                                         {SHT_GNU_VERDEF, "Version definition section. "},
                                         {SHT_GNU_VERNEED, "Version needs section. "},
                                         {SHT_GNU_VERSYM, "Version symbol table. "},
                                         {SHT_HISUNW, "Sun-specific high bound. "},
                                         {SHT_HIOS, "End OS-specific type"},
                                         {SHT_LOPROC, "Start of processor-specific"},
                                         {SHT_HIPROC, "End of processor-specific"},
                                         {SHT_LOUSER, "Start of application-specific"},
                                         {SHT_HIUSER, "End of application-specific"},
                                         {0, nullptr}};
const NamedValue SEGMENT_TYPE_NAMES[] = {{PT_NULL, "Unused"},
                                         {PT_LOAD, "Loadable program segment"},
                                         {PT_DYNAMIC, "Dynamic linking information"},
                                         {PT_INTERP, "Program interpreter"},
                                         {PT_NOTE, "Auxiliary information"},
                                         {PT_SHLIB, "Reserved"},
                                         {PT_PHDR, "Program header table"},
                                         {0, nullptr}};
const NamedValue SYMBOL_TYPE_NAMES[] = {
    {STT_NOTYPE, "unspecified"}, {STT_OBJECT, "data object"},
    {STT_FUNC, "code object"},   {STT_SECTION, "associated with a section"},
    {STT_FILE, "file name"},     {0, nullptr}};
const NamedValue BINDING_NAMES[] = {{STB_LOCAL, "Local symbol"},
                                    {STB_GLOBAL, "Global symbol"},
                                    {STB_WEAK, "Weak symbol"},
                                    {0, nullptr}};

// A value by its table: its name, with the value at -v -v -v; 0x%X when it has none.
std::string value_name(Run& run, const NamedValue* table, uint32_t value) {
    char text[128];
    for (const NamedValue* row = table; row->name; ++row)
        if (row->value == value) {
            if (run.options.verbose_level >= 3)
                snprintf(text, sizeof text, "%s (0x%X)", row->name, unsigned(value));
            else
                snprintf(text, sizeof text, "%s", row->name);
            return text;
        }
    snprintf(text, sizeof text, "0x%X", unsigned(value));
    return text;
}

std::string machine_name(Run& run, uint16_t machine) {
    std::vector<NamedValue> table;
    for (const ElfMachineName* row = elf_machine_names; row->description; ++row)
        table.push_back({row->machine, row->description});
    table.push_back({0, nullptr});
    return value_name(run, table.data(), machine);
}

// The header's identification checks; the run's byte order follows the file from the
// moment its data encoding is known to be valid. Each failed check is told at -v -v.

void print_elf_header(Run& run, const ElfHeader& h) {
    printf("ELF header:\n");
    printf("\tClass:   \t%s\n", value_name(run, CLASS_NAMES, h.ident[EI_CLASS]).c_str());
    printf("\tData:   \t%s\n", value_name(run, DATA_NAMES, h.ident[EI_DATA]).c_str());
    printf("\tVersion:\t0x%X\n", unsigned(h.ident[EI_VERSION]));
    printf("\tOS ABI:\t\t%s\n", value_name(run, OSABI_NAMES, h.ident[EI_OSABI]).c_str());
    printf("\tType:   \t%s\n", value_name(run, TYPE_NAMES, h.type).c_str());
    printf("\tMachine:\t%s\n", machine_name(run, h.machine).c_str());
    printf("\tProg hdrs:\t%d [0x%X]", int(h.phnum), unsigned(h.phentsize));
    if (run.options.verbose_level >= 2) printf(" (@ 0x%lX)", static_cast<unsigned long>(h.phoff));
    printf("\n\tSec hdrs:\t%d [0x%X]", int(h.shnum), unsigned(h.shentsize));
    if (run.options.verbose_level >= 2) printf(" (@ 0x%lX)", static_cast<unsigned long>(h.shoff));
    printf("\n\tStrtab:\t\t0x%X\n", unsigned(h.shstrndx));
    printf("\tStart addr:\t0x%lX\n\n", static_cast<unsigned long>(h.entry));
}

void print_strings(const std::vector<uint8_t>& table) {
    for (size_t at = 0; at < table.size();) {
        const void* end = memchr(table.data() + at, 0, table.size() - at);
        size_t length = end ? size_t(static_cast<const uint8_t*>(end) - (table.data() + at))
                            : table.size() - at;
        printf("%08lX: %.*s\n", static_cast<unsigned long>(uint32_t(at)), int(length),
               reinterpret_cast<const char*>(table.data() + at));
        at += length + 1;
    }
}

// At -v -v -v: the first bytes (at most 16) of what lies at offset.
void print_first_bytes(Run& run, ByteReader& input, uint32_t offset, uint32_t size) {
    if (run.options.verbose_level < 3) return;
    uint8_t bytes[16];
    size_t count =
        std::min<uint64_t>({sizeof bytes, size, input.size() > offset ? input.size() - offset : 0});
    input.read_at(offset, bytes, count);
    printf("\n\t%4lX: ", static_cast<unsigned long>(offset));
    for (size_t k = 0; k < count; ++k)
        printf(" %2.2X", bytes[k]);
}

void print_symbols(Run& run, ByteReader& input, const ElfFile& file,
                   const ElfSectionHeader& section) {
    printf("Section header entry size: 0x%X\n", unsigned(section.entsize));
    printf("Symbol Table\n");
    if (section.entsize == 0) return;
    for (uint64_t k = 0; k < section.size / section.entsize; ++k) {
        // Symbol-table sections may share one area; what they print is measured.
        charge_read_allowance(run, 1);
        ElfSymbol symbol;
        if (!input.record_at(section.offset + k * section.entsize, &symbol)) break;
        std::string kind = value_name(run, BINDING_NAMES, elf_symbol_binding(symbol.info)) + "/" +
                           value_name(run, SYMBOL_TYPE_NAMES, elf_symbol_type(symbol.info));
        printf("\t%-20s  0x%08lX  %-5ld  %-26s  0x%02X  0x%04X\n",
               table_name(file.symbol_names, symbol.name).c_str(),
               static_cast<unsigned long>(symbol.value),
               static_cast<long>(static_cast<int32_t>(symbol.size)), kind.c_str(),
               unsigned(symbol.other), unsigned(symbol.shndx));
    }
}

void print_sections(Run& run, ByteReader& input, const ElfFile& file) {
    printf("\nString table:\n\n");
    print_strings(file.symbol_names);
    if (run.options.verbose_level >= 3) print_strings(file.section_names);
    printf(
        "\nSections:\n\nNo.   Name                 Type                           Address  Size   "
        "  Link     ");
    if (run.options.verbose_level >= 2) printf("Offset   Info     Align    ");
    printf("Flags\n");
    for (size_t k = 0; k < file.sections.size(); ++k) {
        const ElfSectionHeader& s = file.sections[k];
        printf("%4.4X  %-20.20s %-30.30s", unsigned(k),
               table_name(file.section_names, s.name).c_str(),
               value_name(run, SECTION_TYPE_NAMES, s.type).c_str());
        for (uint32_t field : {s.addr, s.size, s.link})
            printf(" %08lX", static_cast<unsigned long>(field));
        if (run.options.verbose_level >= 2)
            for (uint32_t field : {s.offset, s.info, s.addralign})
                printf(" %08lX", static_cast<unsigned long>(field));
        if (s.flags & SHF_WRITE) printf(" WRITE");
        if (s.flags & SHF_ALLOC) printf(" ALLOC");
        if (s.flags & SHF_EXECINSTR) printf(" EXECINSTR");
        if (s.size != 0 && (s.flags & SHF_ALLOC) && s.type != SHT_NOBITS)
            print_first_bytes(run, input, s.offset, s.size);
        printf("\n");
        if (run.options.verbose_level != 0 && s.type == SHT_SYMTAB)
            print_symbols(run, input, file, s);
    }
}

void print_programs(Run& run, ByteReader& input, const ElfFile& file) {
    printf("\nProgram Headers:\n\nNo.   Type                                 Virtual  Physical "
           "Filesize Memsize  Flg ");
    if (run.options.verbose_level >= 2) printf("Align    ");
    printf("\n");
    for (size_t k = 0; k < file.programs.size(); ++k) {
        const ElfProgramHeader& p = file.programs[k];
        printf("%4.4X  %-36.36s", unsigned(k), value_name(run, SEGMENT_TYPE_NAMES, p.type).c_str());
        for (uint32_t field : {p.vaddr, p.paddr, p.filesz, p.memsz})
            printf(" %08lX", static_cast<unsigned long>(field));
        printf(" %c%c%c", (p.flags & PF_R) ? 'r' : '-', (p.flags & PF_W) ? 'w' : '-',
               (p.flags & PF_X) ? 'x' : '-');
        if (run.options.verbose_level >= 2) printf(" %08lX", static_cast<unsigned long>(p.align));
        if (p.filesz != 0) print_first_bytes(run, input, p.offset, p.filesz);
        printf("\n");
    }
}

} // namespace

bool elf_dump(Run& run, FILE* in) {
    ByteReader input(in);
    ElfFile file;
    if (!load_elf(run, input, &file)) return false;
    print_elf_header(run, file.header);
    if (!file.sections.empty()) print_sections(run, input, file);
    print_programs(run, input, file);
    if (!file.sections.empty()) dwarf_dump(run, input, file.sections, file.section_names);
    return true;
}
