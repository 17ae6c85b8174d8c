// 32-bit ELF records and the machine table, shared by the ELF writer and the ELF dump.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/binio.h"

constexpr size_t ELF_IDENT_SIZE = 16;

// e_ident bytes.
enum : size_t { EI_CLASS = 4, EI_DATA = 5, EI_VERSION = 6, EI_OSABI = 7 };
constexpr uint8_t ELFCLASS32 = 1;
constexpr uint8_t ELFDATA2LSB = 1;
constexpr uint8_t ELFDATA2MSB = 2;
constexpr uint8_t ELFOSABI_STANDALONE = 0xFF;

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

// e_type, sh_type, p_type and symbol values the writer uses.
constexpr uint16_t ET_EXEC = 2;
constexpr uint32_t EV_CURRENT = 1;
enum : uint32_t { SHT_PROGBITS = 1, SHT_SYMTAB = 2, SHT_STRTAB = 3, SHT_NOBITS = 8 };
enum : uint32_t { PT_LOAD = 1, PT_PHDR = 6 };
constexpr uint16_t SHN_ABS = 0xFFF1;
enum : uint8_t { STB_LOCAL = 0, STB_GLOBAL = 1 };
enum : uint8_t { STT_NOTYPE = 0, STT_OBJECT = 1, STT_FUNC = 2, STT_SECTION = 3, STT_FILE = 4 };

// The machine table: e_machine values and their descriptions, ended by a row with a
// null description.
struct ElfMachineName {
    uint16_t machine;
    const char* description;
};
extern const ElfMachineName elf_machine_names[];
