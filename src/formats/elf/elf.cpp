// ELF files: the machine table, detection and the loading of a file's headers and string
// tables that the reader and the dump share, and the format's descriptor. The reader,
// the writer and the dump have a file each.
#include "formats/elf/elf.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <unordered_map>

#include "common/alert.h"
#include "common/options.h"
#include "formats/descriptors.h"
#include "formats/elf/elf_file.h"
#include "formats/hex/hexfields.h"
#include "model/run.h"
#include "model/store.h"
#include "model/type.h"

const ElfMachineName elf_machine_names[] = {
    {EM_NONE, "No machine"},
    {EM_M32, "AT&T WE 32100"},
    {EM_SPARC, "SPARC"},
    {EM_386, "Intel 80386"},
    {EM_68K, "Motorola 68000"},
    {EM_88K, "Motorola 88000"},
    {EM_860, "Intel 80860"},
    {EM_MIPS, "MIPS I or PIC32MX Architecture"},
    {EM_S370, "IBM System/370 Processor"},
    {EM_MIPS_RS3_LE, "MIPS RS3000 Little-endian"},
    {EM_PARISC, "Hewlett-Packard PA-RISC"},
    {EM_VPP500, "Fujitsu VPP500"},
    {EM_SPARC32PLUS, "Enhanced instruction set SPARC"},
    {EM_960, "Intel 80960"},
    {EM_PPC, "PowerPC"},
    {EM_PPC64, "64-bit PowerPC"},
    {EM_S390, "IBM System/390 Processor"},
    {EM_V800, "NEC V800"},
    {EM_FR20, "Fujitsu FR20"},
    {EM_RH32, "TRW RH-32"},
    {EM_RCE, "Motorola RCE"},
    {EM_ARM, "Advanced RISC Machines ARM"},
    {EM_FAKE_ALPHA, "Digital Alpha"},
    {EM_SH, "Hitachi SH"},
    {EM_SPARCV9, "SPARC Version 9"},
    {EM_TRICORE, "Siemens TriCore embedded processor"},
    {EM_ARC, "Argonaut RISC Core, Argonaut Technologies Inc."},
    {EM_H8_300, "Hitachi H8/300"},
    {EM_H8_300H, "Hitachi H8/300H"},
    {EM_H8S, "Hitachi H8S"},
    {EM_H8_500, "Hitachi H8/500"},
    {EM_IA_64, "Intel IA-64 processor architecture"},
    {EM_MIPS_X, "Stanford MIPS-X"},
    {EM_COLDFIRE, "Motorola ColdFire"},
    {EM_68HC12, "Motorola M68HC12"},
    {EM_MMA, "Fujitsu MMA Multimedia Accelerator"},
    {EM_PCP, "Siemens PCP"},
    {EM_NCPU, "Sony nCPU embedded RISC processor"},
    {EM_NDR1, "Denso NDR1 microprocessor"},
    {EM_STARCORE, "Motorola Star*Core processor"},
    {EM_ME16, "Toyota ME16 processor"},
    {EM_ST100, "STMicroelectronics ST100 processor"},
    {EM_TINYJ, "Advanced Logic Corp. TinyJ embedded processor family"},
    {EM_X86_64, "AMD x86-64 architecture"},
    {EM_PDSP, "Sony DSP Processor"},
    {EM_PDP10, "Digital Equipment Corp. PDP-10"},
    {EM_PDP11, "Digital Equipment Corp. PDP-11"},
    {EM_FX66, "Siemens FX66 microcontroller"},
    {EM_ST9PLUS, "STMicroelectronics ST9+ 8/16 bit microcontroller"},
    {EM_ST7, "STMicroelectronics ST7 8-bit microcontroller"},
    {EM_68HC16, "Motorola MC68HC16 Microcontroller"},
    {EM_68HC11, "Motorola MC68HC11 Microcontroller"},
    {EM_68HC08, "Motorola MC68HC08 Microcontroller"},
    {EM_68HC05, "Motorola MC68HC05 Microcontroller"},
    {EM_SVX, "Silicon Graphics SVx"},
    {EM_ST19, "STMicroelectronics ST19 8-bit microcontroller"},
    {EM_VAX, "Digital VAX"},
    {EM_CRIS, "Axis Communications 32-bit embedded processor"},
    {EM_JAVELIN, "Infineon Technologies 32-bit embedded processor"},
    {EM_FIREPATH, "Element 14 64-bit DSP Processor"},
    {EM_ZSP, "LSI Logic 16-bit DSP Processor"},
    {EM_MMIX, "Knuth's educational 64-bit processor"},
    {EM_HUANY, "Harvard University machine-independent object files"},
    {EM_PRISM, "SiTera Prism"},
    {EM_AVR, "Atmel AVR 8-bit microcontroller"},
    {EM_FR30, "Fujitsu FR30"},
    {EM_D10V, "Mitsubishi D10V"},
    {EM_D30V, "Mitsubishi D30V"},
    {EM_V850, "NEC v850"},
    {EM_M32R, "Mitsubishi M32R"},
    {EM_MN10300, "Matsushita MN10300"},
    {EM_MN10200, "Matsushita MN10200"},
    {EM_PJ, "picoJava"},
    {EM_OPENRISC, "OpenRISC 32-bit embedded processor"},
    {EM_ARC_A5, "ARC Cores Tangent-A5"},
    {EM_XTENSA, "Tensilica Xtensa Architecture"},
    {EM_VIDEOCORE, "Alphamosaic VideoCore processor"},
    {EM_TMM_GPP, "Thompson Multimedia General Purpose Processor"},
    {EM_NS32K, "National Semiconductor 32000 series"},
    {EM_TPC, "Tenor Network TPC processor"},
    {EM_SNP1K, "Trebia SNP 1000 processor"},
    {EM_ST200, "STMicroelectronics ST200 microcontroller"},
    {EM_IP2K, "Ubicom IP2xxx microcontroller family"},
    {EM_MAX, "MAX Processor"},
    {EM_CR, "National Semiconductor CompactRISC microprocessor"},
    {EM_F2MC16, "Fujitsu F2MC16"},
    {EM_MSP430, "Texas Instruments embedded microcontroller msp430"},
    {EM_BLACKFIN, "Analog Devices Blackfin (DSP) processor"},
    {EM_SE_C33, "S1C33 Family of Seiko Epson processors"},
    {EM_SEP, "Sharp embedded microprocessor"},
    {EM_ARCA, "Arca RISC Microprocessor"},
    {EM_UNICORE, "Microprocessor series from PKU-Unity Ltd. and MPRC of Peking University"},
    {EM_DSPIC30F, "Microchip Technology dsPIC30F DSC"},
    {0, nullptr},
};

bool identify(Run& run, const uint8_t* ident) {
    auto refuse = [&run](const char* format, int value) {
        if (run.options.verbose_level >= 2) fprintf(stderr, format, value);
        return false;
    };
    if (ident[EI_MAG0] != ELFMAG0 || ident[EI_MAG1] != ELFMAG1 || ident[EI_MAG2] != ELFMAG2 ||
        ident[EI_MAG3] != ELFMAG3)
        return refuse("Magic number not ELF\n", 0);
    if (ident[EI_CLASS] != ELFCLASS32) return refuse("Not 32 bit ELF\n", 0);
    uint8_t data = ident[EI_DATA];
    if (data != ELFDATA2LSB && data != ELFDATA2MSB)
        return refuse("Not big or little-endian ELF (%d)\n", data);
    run.options.big_endian = data == ELFDATA2MSB;
    if (ident[EI_VERSION] != EV_CURRENT)
        return refuse("Unsupported ELF Version %d\n", ident[EI_VERSION]);
    return true;
}

bool elf_detect(Run& run, FILE* in) {
    uint8_t raw[ELF_HEADER_SIZE];
    if (!ByteReader(in).read_at(0, raw, sizeof raw)) {
        if (run.options.verbose_level >= 2) fputs("ELF header too short\n", stderr);
        return false;
    }
    return identify(run, raw);
}

std::string table_name(const std::vector<uint8_t>& table, uint32_t offset) {
    if (offset >= table.size()) return "(unknown)";
    const uint8_t* start = table.data() + offset;
    const void* end = memchr(start, 0, table.size() - offset);
    size_t length = end ? size_t(static_cast<const uint8_t*>(end) - start) : table.size() - offset;
    return std::string(reinterpret_cast<const char*>(start), length);
}

namespace {

// A table of count entries of entry_size bytes at offset, each holding one record.
template <class Record>
bool read_table(ByteReader& input, uint32_t offset, uint32_t count, uint32_t entry_size,
                std::vector<Record>* records) {
    if (entry_size < record_size<Record>()) return false;
    for (uint32_t k = 0; k < count; ++k) {
        Record record;
        if (!input.record_at(offset + uint64_t(k) * entry_size, &record)) return false;
        records->push_back(record);
    }
    return true;
}

} // namespace

std::vector<uint8_t> section_bytes(Run& run, ByteReader& input, const ElfSectionHeader& section) {
    std::vector<uint8_t> bytes;
    if (section.type != SHT_NOBITS && input.holds(section.offset, section.size))
        charge_read_allowance(run, section.size);
    if (section.type == SHT_NOBITS || !input.read_at(section.offset, section.size, &bytes))
        bytes.clear();
    return bytes;
}

bool load_elf(Run& run, ByteReader& input, ElfFile* file) {
    uint8_t raw[ELF_HEADER_SIZE];
    if (!input.read_at(0, raw, sizeof raw)) {
        message(run.messages, 1037, "ELF header");
        return false;
    }
    if (!identify(run, raw)) return false;
    input.set_order(run_byte_order(run.options));
    file->header = decode<ElfHeader>(raw, input.order());
    const ElfHeader& h = file->header;
    if (h.shnum != 0) {
        if (!read_table(input, h.shoff, h.shnum, h.shentsize, &file->sections)) {
            message(run.messages, 1037, "ELF section headers");
            return false;
        }
        if (h.shstrndx >= h.shnum) {
            alert(run.messages, "E", "Bad ELF string table index\n");
            return false;
        }
        file->section_names = section_bytes(run, input, file->sections[h.shstrndx]);
        for (const ElfSectionHeader& section : file->sections)
            if (table_name(file->section_names, section.name) == ".strtab")
                file->symbol_names = section_bytes(run, input, section);
    }
    if (h.phnum != 0 && !read_table(input, h.phoff, h.phnum, h.phentsize, &file->programs)) {
        message(run.messages, 1037, "ELF program headers");
        return false;
    }
    return true;
}

const FormatDescriptor elf_format = {
    elf_detect, elf_read, elf_write, elf_dump, "ELF/DWARF", "elf", "elf", true,
};
