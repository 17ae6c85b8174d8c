// 32-bit ELF: its records, its named constants, the machine table and the machine hooks
// that adapt a written file to a processor family; shared by the ELF writer and the ELF
// dump. Every ELF number the program uses is named here.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/binio.h"

constexpr size_t ELF_IDENT_SIZE = 16;

struct SegmentRecord;
struct SymbolRecord;

// e_ident bytes and their values.
enum : size_t { EI_MAG0 = 0, EI_MAG1 = 1, EI_MAG2 = 2, EI_MAG3 = 3 };
enum : size_t { EI_CLASS = 4, EI_DATA = 5, EI_VERSION = 6, EI_OSABI = 7 };
constexpr uint8_t ELFMAG0 = 0x7F, ELFMAG1 = 'E', ELFMAG2 = 'L', ELFMAG3 = 'F';
enum : uint8_t { ELFCLASSNONE = 0, ELFCLASS32 = 1, ELFCLASS64 = 2 };
enum : uint8_t { ELFDATANONE = 0, ELFDATA2LSB = 1, ELFDATA2MSB = 2 };
enum : uint8_t {
    ELFOSABI_SYSV = 0,
    ELFOSABI_HPUX = 1,
    ELFOSABI_NETBSD = 2,
    ELFOSABI_LINUX = 3,
    ELFOSABI_HURD = 4,
    ELFOSABI_SOLARIS = 6,
    ELFOSABI_AIX = 7,
    ELFOSABI_IRIX = 8,
    ELFOSABI_FREEBSD = 9,
    ELFOSABI_TRU64 = 10,
    ELFOSABI_MODESTO = 11,
    ELFOSABI_OPENBSD = 12,
    ELFOSABI_ARM = 97,
    ELFOSABI_STANDALONE = 255,
};

struct ElfHeader {
    uint8_t ident[ELF_IDENT_SIZE] = {};
    uint16_t type = 0;
    uint16_t machine = 0;
    uint32_t version = 0;
    uint32_t entry = 0;
    uint32_t phoff = 0;
    uint32_t shoff = 0;
    uint32_t flags = 0;
    uint16_t ehsize = 0;
    uint16_t phentsize = 0;
    uint16_t phnum = 0;
    uint16_t shentsize = 0;
    uint16_t shnum = 0;
    uint16_t shstrndx = 0;
};
template <class F> constexpr void layout(F& f, ElfHeader& r) {
    f("e_ident", r.ident);
    f("e_type", r.type);
    f("e_machine", r.machine);
    f("e_version", r.version);
    f("e_entry", r.entry);
    f("e_phoff", r.phoff);
    f("e_shoff", r.shoff);
    f("e_flags", r.flags);
    f("e_ehsize", r.ehsize);
    f("e_phentsize", r.phentsize);
    f("e_phnum", r.phnum);
    f("e_shentsize", r.shentsize);
    f("e_shnum", r.shnum);
    f("e_shstrndx", r.shstrndx);
}

struct ElfSectionHeader {
    uint32_t name = 0;
    uint32_t type = 0;
    uint32_t flags = 0;
    uint32_t addr = 0;
    uint32_t offset = 0;
    uint32_t size = 0;
    uint32_t link = 0;
    uint32_t info = 0;
    uint32_t addralign = 0;
    uint32_t entsize = 0;
};
template <class F> constexpr void layout(F& f, ElfSectionHeader& r) {
    f("sh_name", r.name);
    f("sh_type", r.type);
    f("sh_flags", r.flags);
    f("sh_addr", r.addr);
    f("sh_offset", r.offset);
    f("sh_size", r.size);
    f("sh_link", r.link);
    f("sh_info", r.info);
    f("sh_addralign", r.addralign);
    f("sh_entsize", r.entsize);
}

struct ElfProgramHeader {
    uint32_t type = 0;
    uint32_t offset = 0;
    uint32_t vaddr = 0;
    uint32_t paddr = 0;
    uint32_t filesz = 0;
    uint32_t memsz = 0;
    uint32_t flags = 0;
    uint32_t align = 0;
};
template <class F> constexpr void layout(F& f, ElfProgramHeader& r) {
    f("p_type", r.type);
    f("p_offset", r.offset);
    f("p_vaddr", r.vaddr);
    f("p_paddr", r.paddr);
    f("p_filesz", r.filesz);
    f("p_memsz", r.memsz);
    f("p_flags", r.flags);
    f("p_align", r.align);
}

struct ElfSymbol {
    uint32_t name = 0;
    uint32_t value = 0;
    uint32_t size = 0;
    uint8_t info = 0;
    uint8_t other = 0;
    uint16_t shndx = 0;
};
template <class F> constexpr void layout(F& f, ElfSymbol& r) {
    f("st_name", r.name);
    f("st_value", r.value);
    f("st_size", r.size);
    f("st_info", r.info);
    f("st_other", r.other);
    f("st_shndx", r.shndx);
}

constexpr size_t ELF_HEADER_SIZE = record_size<ElfHeader>();
constexpr size_t ELF_SECTION_HEADER_SIZE = record_size<ElfSectionHeader>();
constexpr size_t ELF_PROGRAM_HEADER_SIZE = record_size<ElfProgramHeader>();
constexpr size_t ELF_SYMBOL_SIZE = record_size<ElfSymbol>();

// e_type and e_version.
enum : uint16_t { ET_NONE = 0, ET_REL = 1, ET_EXEC = 2, ET_DYN = 3, ET_CORE = 4 };
constexpr uint32_t EV_CURRENT = 1;

// e_machine: the machines of the machine table.
enum : uint16_t {
    EM_NONE = 0,
    EM_M32 = 1,
    EM_SPARC = 2,
    EM_386 = 3,
    EM_68K = 4,
    EM_88K = 5,
    EM_860 = 7,
    EM_MIPS = 8,
    EM_S370 = 9,
    EM_MIPS_RS3_LE = 10,
    EM_PARISC = 15,
    EM_VPP500 = 17,
    EM_SPARC32PLUS = 18,
    EM_960 = 19,
    EM_PPC = 20,
    EM_PPC64 = 21,
    EM_S390 = 22,
    EM_V800 = 36,
    EM_FR20 = 37,
    EM_RH32 = 38,
    EM_RCE = 39,
    EM_ARM = 40,
    EM_FAKE_ALPHA = 41,
    EM_SH = 42,
    EM_SPARCV9 = 43,
    EM_TRICORE = 44,
    EM_ARC = 45,
    EM_H8_300 = 46,
    EM_H8_300H = 47,
    EM_H8S = 48,
    EM_H8_500 = 49,
    EM_IA_64 = 50,
    EM_MIPS_X = 51,
    EM_COLDFIRE = 52,
    EM_68HC12 = 53,
    EM_MMA = 54,
    EM_PCP = 55,
    EM_NCPU = 56,
    EM_NDR1 = 57,
    EM_STARCORE = 58,
    EM_ME16 = 59,
    EM_ST100 = 60,
    EM_TINYJ = 61,
    EM_X86_64 = 62,
    EM_PDSP = 63,
    EM_PDP10 = 64,
    EM_PDP11 = 65,
    EM_FX66 = 66,
    EM_ST9PLUS = 67,
    EM_ST7 = 68,
    EM_68HC16 = 69,
    EM_68HC11 = 70,
    EM_68HC08 = 71,
    EM_68HC05 = 72,
    EM_SVX = 73,
    EM_ST19 = 74,
    EM_VAX = 75,
    EM_CRIS = 76,
    EM_JAVELIN = 77,
    EM_FIREPATH = 78,
    EM_ZSP = 79,
    EM_MMIX = 80,
    EM_HUANY = 81,
    EM_PRISM = 82,
    EM_AVR = 83,
    EM_FR30 = 84,
    EM_D10V = 85,
    EM_D30V = 86,
    EM_V850 = 87,
    EM_M32R = 88,
    EM_MN10300 = 89,
    EM_MN10200 = 90,
    EM_PJ = 91,
    EM_OPENRISC = 92,
    EM_ARC_A5 = 93,
    EM_XTENSA = 94,
    EM_VIDEOCORE = 95,
    EM_TMM_GPP = 96,
    EM_NS32K = 97,
    EM_TPC = 98,
    EM_SNP1K = 99,
    EM_ST200 = 100,
    EM_IP2K = 101,
    EM_MAX = 102,
    EM_CR = 103,
    EM_F2MC16 = 104,
    EM_MSP430 = 105,
    EM_BLACKFIN = 106,
    EM_SE_C33 = 107,
    EM_SEP = 108,
    EM_ARCA = 109,
    EM_UNICORE = 110,
    EM_DSPIC30F = 118,
};

// e_flags of the dsPIC machine that every file of it carries (bits 0 and 2).
constexpr uint32_t EF_DSPIC_FLAGS = 0x5;

// sh_type.
enum : uint32_t {
    SHT_NULL = 0,
    SHT_PROGBITS = 1,
    SHT_SYMTAB = 2,
    SHT_STRTAB = 3,
    SHT_RELA = 4,
    SHT_HASH = 5,
    SHT_DYNAMIC = 6,
    SHT_NOTE = 7,
    SHT_NOBITS = 8,
    SHT_REL = 9,
    SHT_SHLIB = 10,
    SHT_DYNSYM = 11,
    SHT_LOOS = 0x60000000,
    SHT_LOSUNW = 0x6FFFFFFB,
    SHT_GNU_VERDEF = 0x6FFFFFFD,
    SHT_GNU_VERNEED = 0x6FFFFFFE,
    SHT_GNU_VERSYM = 0x6FFFFFFF,
    SHT_HISUNW = 0x6FFFFFFF,
    SHT_HIOS = 0x6FFFFFFF,
    SHT_LOPROC = 0x70000000,
    SHT_MIPS_DWARF = 0x7000001E,
    SHT_HIPROC = 0x7FFFFFFF,
    SHT_LOUSER = 0x80000000,
    SHT_HIUSER = 0x8FFFFFFF,
};

// sh_flags.
enum : uint32_t { SHF_WRITE = 0x1, SHF_ALLOC = 0x2, SHF_EXECINSTR = 0x4 };
constexpr uint16_t SHN_UNDEF = 0, SHN_ABS = 0xFFF1, SHN_COMMON = 0xFFF2;

// p_type and p_flags.
enum : uint32_t {
    PT_NULL = 0,
    PT_LOAD = 1,
    PT_DYNAMIC = 2,
    PT_INTERP = 3,
    PT_NOTE = 4,
    PT_SHLIB = 5,
    PT_PHDR = 6,
};
enum : uint32_t { PF_X = 0x1, PF_W = 0x2, PF_R = 0x4 };

// st_info is the binding in its high four bits and the type in its low four.
enum : uint8_t { STB_LOCAL = 0, STB_GLOBAL = 1, STB_WEAK = 2 };
enum : uint8_t { STT_NOTYPE = 0, STT_OBJECT = 1, STT_FUNC = 2, STT_SECTION = 3, STT_FILE = 4 };
constexpr uint8_t elf_symbol_info(uint8_t binding, uint8_t type) {
    return static_cast<uint8_t>(binding << 4 | (type & 0xF));
}
constexpr uint8_t elf_symbol_binding(uint8_t info) {
    return info >> 4;
}
constexpr uint8_t elf_symbol_type(uint8_t info) {
    return info & 0xF;
}
// st_other of a MIPS function compiled as MIPS16 code.
constexpr uint8_t STO_MIPS16 = 0xF0;

// The machine table: e_machine values and their descriptions, ended by a row with a
// null description.
struct ElfMachineName {
    uint16_t machine;
    const char* description;
};
extern const ElfMachineName elf_machine_names[];

// How a written ELF file is adapted to a processor family, by its e_machine. The writer
// takes the first record of elf_hooks_for's list that accepts the machine.
struct ElfMachineHooks {
    bool (*accepts_machine)(uint16_t machine);
    // May change the finished header's e_flags.
    void (*finish_header)(uint32_t* flags);
    // sh_flags of a segment's section; space is the segment's space segment, stored the
    // bytes the file holds for it.
    uint32_t (*section_flags)(Run& run, const SegmentRecord& space, uint32_t stored);
    uint8_t (*symbol_other)(const SymbolRecord& symbol);
    // Divisor of the addresses of a segment in that space (1: byte addresses).
    int8_t (*address_unit)(Run& run, const SegmentRecord& space);
    uint32_t debug_section_type; // sh_type of the DWARF sections
};

// The hooks of the machine: MIPS (PIC32), dsPIC, else the generic ones that serve every
// other machine.
const ElfMachineHooks* elf_hooks_for(uint16_t machine);
