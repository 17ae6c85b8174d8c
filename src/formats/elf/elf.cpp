// ELF files: detection, the dump (whose DWARF part is dwarf_dump.cpp) and the writer,
// which puts the whole store into one 32-bit ELF executable with the DWARF sections of
// dwarf.cpp. Every piece follows the one before it without
// padding: the segments' sections, ".strtab", ".symtab", the DWARF sections and
// ".shstrtab", then the section and program header tables; the header is written last,
// at offset 0.
#include "formats/elf/elf.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <unordered_map>

#include "common/alert.h"
#include "common/options.h"
#include "formats/descriptors.h"
#include "formats/elf/dwarf.h"
#include "formats/hex/hexfields.h"
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

namespace {

// -p candidates tried for e_machine: the processor name, then at most this many items.
constexpr size_t MAX_MACHINE_CANDIDATES = 128;

// ---- Writer ----

// The first machine whose description holds one of the -p names (the processor name,
// then its items up to an empty one), tried in that order; 0 when none does.
uint16_t choose_machine() {
    std::vector<const std::string*> candidates{&options.processor_name};
    for (const std::string& item : options.processor_list) {
        if (item.empty() || candidates.size() > MAX_MACHINE_CANDIDATES) break;
        candidates.push_back(&item);
    }
    for (const std::string* name : candidates)
        for (const ElfMachineName* row = elf_machine_names; row->description; ++row)
            if (std::string_view(row->description).find(*name) != std::string_view::npos)
                return row->machine;
    return 0;
}

// A string table: an empty name at offset 0, then each name added, never shared.
class StringTable {
  public:
    StringTable() { bytes_.push_back(0); }
    uint32_t add(const std::string& name) {
        uint32_t offset = static_cast<uint32_t>(bytes_.size());
        bytes_.insert(bytes_.end(), name.begin(), name.end());
        bytes_.push_back(0);
        return offset;
    }
    const std::vector<uint8_t>& bytes() const { return bytes_; }

  private:
    std::vector<uint8_t> bytes_;
};

// The first entry of each name in a depth-first walk of the global scope.
std::unordered_map<std::string_view, const ScopeEntry*> global_entries() {
    std::unordered_map<std::string_view, const ScopeEntry*> entries;
    walk_scope(
        static_cast<const ScopeEntry*>(type_model.global_scope),
        [&entries](const ScopeEntry* entry, const ScopeEntry*) {
            entries.emplace(entry->name, entry);
            return true;
        },
        [](const ScopeEntry*) {});
    return entries;
}

uint8_t symbol_type(const ScopeEntry* entry) {
    if (!entry) return STT_NOTYPE;
    switch (entry->sclass) {
    case SC_EXTERN:
    case SC_GLOBAL:
    case SC_STATIC: return is_function_type(entry->type) ? STT_FUNC : STT_OBJECT;
    case SC_AUTO:
    case SC_PARAM: return STT_OBJECT;
    case SC_MODULE:
    case SC_NO_SIDE_FILE: return STT_SECTION;
    case SC_FUNC: return STT_FUNC;
    case SC_FILENAME: return STT_FILE;
    default: return STT_NOTYPE;
    }
}

// A symbol of the store in file order: its place in that order and its record.
struct PlacedSymbol {
    uint32_t order;
    const SymbolRecord* record;
};

class ElfWriter {
  public:
    ElfWriter(FILE* out, const char* name, const ElfMachineHooks& hooks, uint16_t machine);
    // False when the file is not written.
    bool write();

  private:
    // A run of bytes of the file, written once the whole file is laid out.
    struct Piece {
        uint64_t offset;
        const uint8_t* bytes;
        size_t size;
        unsigned failure; // 413, or the message that names the piece
        std::string name;
    };

    void add_symbol(const SymbolRecord& symbol, uint16_t section);
    void lay_out_segments();
    void lay_out_section(const SegmentRecord& segment, const SegmentRecord& space,
                         const std::vector<const DataBlock*>& blocks);
    uint32_t add_section(const std::string& name, ElfSectionHeader header);
    uint32_t add_piece(const std::vector<uint8_t>& bytes, const std::string& name, uint32_t type,
                       unsigned failure);
    void place(const std::vector<uint8_t>& bytes, const std::string& what);
    bool fits(const std::string& what, uint64_t size);

    const char* name_;
    OutputFile output_;
    const ElfMachineHooks& hooks_;
    ByteOrder order_;
    ElfHeader header_;
    uint64_t offset_ = ELF_HEADER_SIZE;
    StringTable names_, section_names_;
    std::vector<ElfSectionHeader> sections_;
    std::vector<ElfProgramHeader> programs_;
    ByteWriter symbols_;
    std::unordered_map<std::string_view, const ScopeEntry*> entries_;
    std::vector<PlacedSymbol> by_value_; // the symbols with a segment, sorted by value
    std::vector<Piece> pieces_;
    std::string overflow_; // the first part that would pass the 32-bit offsets, if any
    uint64_t overflow_at_ = 0;
};

// ELF32 offsets and sizes are 32-bit: no part of the file may end past 4 GiB.
constexpr uint64_t ELF_OFFSET_LIMIT = uint64_t(1) << 32;

ElfWriter::ElfWriter(FILE* out, const char* name, const ElfMachineHooks& hooks, uint16_t machine)
    : name_(name), output_(out, name, 413), hooks_(hooks), order_(run_byte_order()), sections_(1),
      programs_(1), symbols_(order_), entries_(global_entries()) {
    header_.machine = machine;
}

void ElfWriter::add_symbol(const SymbolRecord& symbol, uint16_t section) {
    ElfSymbol entry;
    entry.name = names_.add(symbol.name);
    entry.value = symbol.value;
    auto found = entries_.find(symbol.name);
    uint8_t binding = (symbol.flags & SYM_LOCAL) ? STB_LOCAL : STB_GLOBAL;
    entry.info =
        elf_symbol_info(binding, symbol_type(found != entries_.end() ? found->second : nullptr));
    entry.other = hooks_.symbol_other(symbol);
    entry.shndx = section;
    symbols_.record(entry);
}

uint32_t ElfWriter::add_section(const std::string& name, ElfSectionHeader header) {
    header.name = section_names_.add(name);
    sections_.push_back(header);
    return static_cast<uint32_t>(sections_.size() - 1);
}

// Whether a part of the file that begins at the current offset ends within 4 GiB; the
// first that does not is kept, with its end, for the message.
bool ElfWriter::fits(const std::string& what, uint64_t size) {
    if (offset_ + size <= ELF_OFFSET_LIMIT) return true;
    if (overflow_.empty()) {
        overflow_ = what;
        overflow_at_ = offset_ + size;
    }
    return false;
}

// Bytes that follow the last piece.
void ElfWriter::place(const std::vector<uint8_t>& bytes, const std::string& what) {
    fits(what, bytes.size());
    pieces_.push_back({offset_, bytes.data(), bytes.size(), 413, what});
    offset_ += bytes.size();
}

// A section whose bytes follow the last piece; answers its index.
uint32_t ElfWriter::add_piece(const std::vector<uint8_t>& bytes, const std::string& name,
                              uint32_t type, unsigned failure) {
    ElfSectionHeader header;
    header.type = type;
    header.offset = static_cast<uint32_t>(offset_);
    header.size = static_cast<uint32_t>(bytes.size());
    fits("section \"" + name + "\"", bytes.size());
    pieces_.push_back({offset_, bytes.data(), bytes.size(), failure, name});
    offset_ += bytes.size();
    return add_section(name, header);
}

void ElfWriter::lay_out_section(const SegmentRecord& segment, const SegmentRecord& space,
                                const std::vector<const DataBlock*>& blocks) {
    int unit = hooks_.address_unit(space);
    if (unit < 1) unit = 1;
    uint32_t address = segment.address / uint32_t(unit);
    ElfSectionHeader header;
    header.addr = address;
    header.size = segment.size;
    header.offset = static_cast<uint32_t>(offset_);
    // Each block at its distance from the segment's load address; a block that starts
    // below it keeps only what lies at or above it.
    uint64_t stored = 0;
    for (const DataBlock* block : blocks) {
        uint64_t end = uint64_t(block->address) + block->size;
        if (end <= segment.load_address) continue;
        uint32_t skip =
            block->address < segment.load_address ? segment.load_address - block->address : 0;
        size_t held = std::min<size_t>(block->size, block->bytes.size());
        if (skip < held)
            pieces_.push_back({offset_ + (uint64_t(block->address) + skip - segment.load_address),
                               block->bytes.data() + skip, held - skip, 413, segment.name});
        stored = std::max(stored, end - segment.load_address);
    }
    fits("section \"" + segment.name + "\"", stored);
    if (segment.size != 0) {
        ElfProgramHeader load;
        load.type = PT_LOAD;
        load.offset = static_cast<uint32_t>(offset_);
        load.vaddr = load.paddr = address;
        load.filesz = static_cast<uint32_t>(stored);
        load.memsz = segment.size;
        programs_.push_back(load);
    }
    header.type = stored ? SHT_PROGBITS : SHT_NOBITS;
    header.flags = hooks_.section_flags(space, static_cast<uint32_t>(stored));
    uint16_t index = static_cast<uint16_t>(add_section(segment.name, header));
    offset_ += stored;
    // The symbols whose value lies in the segment, in file order.
    auto from = std::lower_bound(
        by_value_.begin(), by_value_.end(), segment.address,
        [](const PlacedSymbol& s, uint32_t value) { return s.record->value < value; });
    std::vector<PlacedSymbol> inside;
    uint64_t end = uint64_t(segment.address) + segment.size;
    for (auto at = from; at != by_value_.end() && at->record->value < end; ++at)
        inside.push_back(*at);
    std::sort(inside.begin(), inside.end(),
              [](const PlacedSymbol& a, const PlacedSymbol& b) { return a.order < b.order; });
    for (const PlacedSymbol& symbol : inside)
        add_symbol(*symbol.record, index);
}

// One section per segment whose space is another segment of the list.
void ElfWriter::lay_out_segments() {
    std::vector<std::vector<const DataBlock*>> blocks(store.segments.count() + 1);
    for (const DataBlock* block : store.data)
        if (block->segment >= 1 && block->segment <= store.segments.count())
            blocks[block->segment].push_back(block);
    for (uint32_t k = 1; k <= store.segments.count(); ++k) {
        const SegmentRecord* segment = store.segments[k - 1];
        const SegmentRecord* space = segment_of(segment->space);
        if (!space || space == segment) continue;
        lay_out_section(*segment, *space, blocks[k]);
    }
}

bool ElfWriter::write() {
    symbols_.zeros(ELF_SYMBOL_SIZE); // the null symbol
    uint32_t order = 0;
    for (const FileRecord* file : store.files)
        for (const SymbolRecord* symbol : file->symbols) {
            if (symbol->segment == 0)
                add_symbol(*symbol, SHN_ABS);
            else
                by_value_.push_back({order, symbol});
            ++order;
        }
    std::stable_sort(by_value_.begin(), by_value_.end(),
                     [](const PlacedSymbol& a, const PlacedSymbol& b) {
                         return a.record->value < b.record->value;
                     });
    // The whole file is laid out before anything is written, so that a file that would
    // pass the 4 GiB its offsets reach is refused with nothing written.
    lay_out_segments();
    hooks_.finish_header(&header_.flags);

    uint32_t strtab = add_piece(names_.bytes(), ".strtab", SHT_STRTAB, 413);
    uint32_t symtab = add_piece(symbols_.bytes(), ".symtab", SHT_SYMTAB, 413);
    sections_[symtab].link = strtab;
    sections_[symtab].entsize = ELF_SYMBOL_SIZE;
    std::vector<DebugSection> debug;
    dwarf_emit(debug);
    for (const DebugSection& section : debug)
        add_piece(section.bytes, section.name, hooks_.debug_section_type, 621);
    // The section-name table names itself.
    uint32_t shstrtab_name = section_names_.add(".shstrtab");
    ElfSectionHeader names;
    names.name = shstrtab_name;
    names.type = SHT_STRTAB;
    names.offset = static_cast<uint32_t>(offset_);
    names.size = static_cast<uint32_t>(section_names_.bytes().size());
    place(section_names_.bytes(), "section \".shstrtab\"");
    sections_.push_back(names);
    header_.shstrndx = static_cast<uint16_t>(sections_.size() - 1);

    ByteWriter table(order_);
    for (const ElfSectionHeader& section : sections_)
        table.record(section);
    header_.shoff = static_cast<uint32_t>(offset_);
    header_.shnum = static_cast<uint16_t>(sections_.size());
    place(table.bytes(), "section header table");

    header_.phoff = static_cast<uint32_t>(offset_);
    header_.phnum = static_cast<uint16_t>(programs_.size());
    ElfProgramHeader& phdr = programs_.front();
    phdr.type = PT_PHDR;
    phdr.offset = header_.phoff;
    phdr.filesz = phdr.memsz = static_cast<uint32_t>(ELF_PROGRAM_HEADER_SIZE * programs_.size());
    ByteWriter program_table(order_);
    for (const ElfProgramHeader& program : programs_)
        program_table.record(program);
    place(program_table.bytes(), "program header table");
    if (!overflow_.empty()) {
        message(418, name_, overflow_.c_str(), std::to_string(overflow_at_).c_str(), "ELF");
        return false;
    }
    for (const Piece& piece : pieces_) {
        if (piece.failure == 413)
            output_.write_at(piece.offset, piece.bytes, piece.size);
        else
            output_.write_at(piece.offset, piece.bytes, piece.size, piece.failure,
                             piece.name.c_str());
    }

    const uint8_t magic[4] = {ELFMAG0, ELFMAG1, ELFMAG2, ELFMAG3};
    std::copy(magic, magic + 4, header_.ident + EI_MAG0);
    header_.ident[EI_CLASS] = ELFCLASS32;
    header_.ident[EI_DATA] = order_ == ByteOrder::big ? ELFDATA2MSB : ELFDATA2LSB;
    header_.ident[EI_VERSION] = EV_CURRENT;
    header_.ident[EI_OSABI] = ELFOSABI_STANDALONE;
    header_.type = ET_EXEC;
    header_.version = EV_CURRENT;
    header_.entry = entry_address;
    header_.ehsize = ELF_HEADER_SIZE;
    header_.phentsize = ELF_PROGRAM_HEADER_SIZE;
    header_.shentsize = ELF_SECTION_HEADER_SIZE;
    ByteWriter header(order_);
    header.record(header_);
    output_.write_at(0, header.bytes());
    output_.finish();
    return true;
}

int elf_write(FILE* out, const char* name) {
    uint16_t machine = choose_machine();
    const ElfMachineHooks* hooks = elf_hooks_for(machine);
    if (!hooks) {
        alert("C", "ELF: Could not find valid extension");
        return 0;
    }
    return ElfWriter(out, name, *hooks, machine).write() ? 1 : 0;
}

// ---- Detection and dump ----

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
std::string value_name(const NamedValue* table, uint32_t value) {
    char text[128];
    for (const NamedValue* row = table; row->name; ++row)
        if (row->value == value) {
            if (options.verbose_level >= 3)
                snprintf(text, sizeof text, "%s (0x%X)", row->name, unsigned(value));
            else
                snprintf(text, sizeof text, "%s", row->name);
            return text;
        }
    snprintf(text, sizeof text, "0x%X", unsigned(value));
    return text;
}

std::string machine_name(uint16_t machine) {
    std::vector<NamedValue> table;
    for (const ElfMachineName* row = elf_machine_names; row->description; ++row)
        table.push_back({row->machine, row->description});
    table.push_back({0, nullptr});
    return value_name(table.data(), machine);
}

// The header's identification checks; the run's byte order follows the file from the
// moment its data encoding is known to be valid. Each failed check is told at -v -v.
bool identify(const uint8_t* ident) {
    auto refuse = [](const char* format, int value) {
        if (options.verbose_level >= 2) fprintf(stderr, format, value);
        return false;
    };
    if (ident[EI_MAG0] != ELFMAG0 || ident[EI_MAG1] != ELFMAG1 || ident[EI_MAG2] != ELFMAG2 ||
        ident[EI_MAG3] != ELFMAG3)
        return refuse("Magic number not ELF\n", 0);
    if (ident[EI_CLASS] != ELFCLASS32) return refuse("Not 32 bit ELF\n", 0);
    uint8_t data = ident[EI_DATA];
    if (data != ELFDATA2LSB && data != ELFDATA2MSB)
        return refuse("Not big or little-endian ELF (%d)\n", data);
    options.big_endian = data == ELFDATA2MSB;
    if (ident[EI_VERSION] != EV_CURRENT)
        return refuse("Unsupported ELF Version %d\n", ident[EI_VERSION]);
    return true;
}

bool elf_detect(FILE* in) {
    uint8_t raw[ELF_HEADER_SIZE];
    if (!ByteReader(in).read_at(0, raw, sizeof raw)) {
        if (options.verbose_level >= 2) fputs("ELF header too short\n", stderr);
        return false;
    }
    return identify(raw);
}

// A NUL-terminated name at an offset of a string table; "(unknown)" outside it.
std::string table_name(const std::vector<uint8_t>& table, uint32_t offset) {
    if (offset >= table.size()) return "(unknown)";
    const uint8_t* start = table.data() + offset;
    const void* end = memchr(start, 0, table.size() - offset);
    size_t length = end ? size_t(static_cast<const uint8_t*>(end) - start) : table.size() - offset;
    return std::string(reinterpret_cast<const char*>(start), length);
}

// What the dump loads before it prints: the header, the section and program headers
// and the two string tables.
struct ElfFile {
    ElfHeader header;
    std::vector<ElfSectionHeader> sections;
    std::vector<ElfProgramHeader> programs;
    std::vector<uint8_t> section_names;
    std::vector<uint8_t> symbol_names;
};

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

// A section's bytes; empty when they are not in the file. Sections may share one area,
// so what is loaded is measured.
std::vector<uint8_t> section_bytes(ByteReader& input, const ElfSectionHeader& section) {
    std::vector<uint8_t> bytes;
    if (section.type != SHT_NOBITS && input.holds(section.offset, section.size))
        charge_read_allowance(section.size);
    if (section.type == SHT_NOBITS || !input.read_at(section.offset, section.size, &bytes))
        bytes.clear();
    return bytes;
}

bool load_elf(ByteReader& input, ElfFile* file) {
    uint8_t raw[ELF_HEADER_SIZE];
    if (!input.read_at(0, raw, sizeof raw)) {
        message(1037, "ELF header");
        return false;
    }
    if (!identify(raw)) return false;
    input.set_order(run_byte_order());
    file->header = decode<ElfHeader>(raw, input.order());
    const ElfHeader& h = file->header;
    if (h.shnum != 0) {
        if (!read_table(input, h.shoff, h.shnum, h.shentsize, &file->sections)) {
            message(1037, "ELF section headers");
            return false;
        }
        if (h.shstrndx >= h.shnum) {
            alert("E", "Bad ELF string table index\n");
            return false;
        }
        file->section_names = section_bytes(input, file->sections[h.shstrndx]);
        for (const ElfSectionHeader& section : file->sections)
            if (table_name(file->section_names, section.name) == ".strtab")
                file->symbol_names = section_bytes(input, section);
    }
    if (h.phnum != 0 && !read_table(input, h.phoff, h.phnum, h.phentsize, &file->programs)) {
        message(1037, "ELF program headers");
        return false;
    }
    return true;
}

void print_elf_header(const ElfHeader& h) {
    printf("ELF header:\n");
    printf("\tClass:   \t%s\n", value_name(CLASS_NAMES, h.ident[EI_CLASS]).c_str());
    printf("\tData:   \t%s\n", value_name(DATA_NAMES, h.ident[EI_DATA]).c_str());
    printf("\tVersion:\t0x%X\n", unsigned(h.ident[EI_VERSION]));
    printf("\tOS ABI:\t\t%s\n", value_name(OSABI_NAMES, h.ident[EI_OSABI]).c_str());
    printf("\tType:   \t%s\n", value_name(TYPE_NAMES, h.type).c_str());
    printf("\tMachine:\t%s\n", machine_name(h.machine).c_str());
    printf("\tProg hdrs:\t%d [0x%X]", int(h.phnum), unsigned(h.phentsize));
    if (options.verbose_level >= 2) printf(" (@ 0x%lX)", static_cast<unsigned long>(h.phoff));
    printf("\n\tSec hdrs:\t%d [0x%X]", int(h.shnum), unsigned(h.shentsize));
    if (options.verbose_level >= 2) printf(" (@ 0x%lX)", static_cast<unsigned long>(h.shoff));
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
void print_first_bytes(ByteReader& input, uint32_t offset, uint32_t size) {
    if (options.verbose_level < 3) return;
    uint8_t bytes[16];
    size_t count =
        std::min<uint64_t>({sizeof bytes, size, input.size() > offset ? input.size() - offset : 0});
    input.read_at(offset, bytes, count);
    printf("\n\t%4lX: ", static_cast<unsigned long>(offset));
    for (size_t k = 0; k < count; ++k)
        printf(" %2.2X", bytes[k]);
}

void print_symbols(ByteReader& input, const ElfFile& file, const ElfSectionHeader& section) {
    printf("Section header entry size: 0x%X\n", unsigned(section.entsize));
    printf("Symbol Table\n");
    if (section.entsize == 0) return;
    for (uint64_t k = 0; k < section.size / section.entsize; ++k) {
        // Symbol-table sections may share one area; what they print is measured.
        charge_read_allowance(1);
        ElfSymbol symbol;
        if (!input.record_at(section.offset + k * section.entsize, &symbol)) break;
        std::string kind = value_name(BINDING_NAMES, elf_symbol_binding(symbol.info)) + "/" +
                           value_name(SYMBOL_TYPE_NAMES, elf_symbol_type(symbol.info));
        printf("\t%-20s  0x%08lX  %-5ld  %-26s  0x%02X  0x%04X\n",
               table_name(file.symbol_names, symbol.name).c_str(),
               static_cast<unsigned long>(symbol.value),
               static_cast<long>(static_cast<int32_t>(symbol.size)), kind.c_str(),
               unsigned(symbol.other), unsigned(symbol.shndx));
    }
}

void print_sections(ByteReader& input, const ElfFile& file) {
    printf("\nString table:\n\n");
    print_strings(file.symbol_names);
    if (options.verbose_level >= 3) print_strings(file.section_names);
    printf(
        "\nSections:\n\nNo.   Name                 Type                           Address  Size   "
        "  Link     ");
    if (options.verbose_level >= 2) printf("Offset   Info     Align    ");
    printf("Flags\n");
    for (size_t k = 0; k < file.sections.size(); ++k) {
        const ElfSectionHeader& s = file.sections[k];
        printf("%4.4X  %-20.20s %-30.30s", unsigned(k),
               table_name(file.section_names, s.name).c_str(),
               value_name(SECTION_TYPE_NAMES, s.type).c_str());
        for (uint32_t field : {s.addr, s.size, s.link})
            printf(" %08lX", static_cast<unsigned long>(field));
        if (options.verbose_level >= 2)
            for (uint32_t field : {s.offset, s.info, s.addralign})
                printf(" %08lX", static_cast<unsigned long>(field));
        if (s.flags & SHF_WRITE) printf(" WRITE");
        if (s.flags & SHF_ALLOC) printf(" ALLOC");
        if (s.flags & SHF_EXECINSTR) printf(" EXECINSTR");
        if (s.size != 0 && (s.flags & SHF_ALLOC) && s.type != SHT_NOBITS)
            print_first_bytes(input, s.offset, s.size);
        printf("\n");
        if (options.verbose_level != 0 && s.type == SHT_SYMTAB) print_symbols(input, file, s);
    }
}

void print_programs(ByteReader& input, const ElfFile& file) {
    printf("\nProgram Headers:\n\nNo.   Type                                 Virtual  Physical "
           "Filesize Memsize  Flg ");
    if (options.verbose_level >= 2) printf("Align    ");
    printf("\n");
    for (size_t k = 0; k < file.programs.size(); ++k) {
        const ElfProgramHeader& p = file.programs[k];
        printf("%4.4X  %-36.36s", unsigned(k), value_name(SEGMENT_TYPE_NAMES, p.type).c_str());
        for (uint32_t field : {p.vaddr, p.paddr, p.filesz, p.memsz})
            printf(" %08lX", static_cast<unsigned long>(field));
        printf(" %c%c%c", (p.flags & PF_R) ? 'r' : '-', (p.flags & PF_W) ? 'w' : '-',
               (p.flags & PF_X) ? 'x' : '-');
        if (options.verbose_level >= 2) printf(" %08lX", static_cast<unsigned long>(p.align));
        if (p.filesz != 0) print_first_bytes(input, p.offset, p.filesz);
        printf("\n");
    }
}

bool elf_dump(FILE* in) {
    ByteReader input(in);
    ElfFile file;
    if (!load_elf(input, &file)) return false;
    print_elf_header(file.header);
    if (!file.sections.empty()) print_sections(input, file);
    print_programs(input, file);
    if (!file.sections.empty()) dwarf_dump(input, file.sections, file.section_names);
    return true;
}

} // namespace

const FormatDescriptor elf_format = {
    elf_detect, read_placeholder, elf_write, elf_dump, reset_nothing, "ELF/DWARF", "elf", "elf",
    true,
};
