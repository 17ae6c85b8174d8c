// ELF files: the writer, which puts the whole store into one 32-bit ELF executable with
// the DWARF sections of dwarf.cpp. Every piece follows the one before it without
// padding: the segments' sections, ".strtab", ".symtab", the DWARF sections and
// ".shstrtab", then the section and program header tables; the header is written last,
// at offset 0.
#include "formats/elf.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>

#include "common/alert.h"
#include "common/options.h"
#include "formats/descriptors.h"
#include "formats/dwarf.h"
#include "formats/hexfields.h"
#include "model/machine.h"
#include "model/store.h"
#include "model/type.h"

const ElfMachineName elf_machine_names[] = {
    {0, "No machine"},
    {1, "AT&T WE 32100"},
    {2, "SPARC"},
    {3, "Intel 80386"},
    {4, "Motorola 68000"},
    {5, "Motorola 88000"},
    {7, "Intel 80860"},
    {8, "MIPS I or PIC32MX Architecture"},
    {9, "IBM System/370 Processor"},
    {10, "MIPS RS3000 Little-endian"},
    {15, "Hewlett-Packard PA-RISC"},
    {17, "Fujitsu VPP500"},
    {18, "Enhanced instruction set SPARC"},
    {19, "Intel 80960"},
    {20, "PowerPC"},
    {21, "64-bit PowerPC"},
    {22, "IBM System/390 Processor"},
    {36, "NEC V800"},
    {37, "Fujitsu FR20"},
    {38, "TRW RH-32"},
    {39, "Motorola RCE"},
    {40, "Advanced RISC Machines ARM"},
    {41, "Digital Alpha"},
    {42, "Hitachi SH"},
    {43, "SPARC Version 9"},
    {44, "Siemens TriCore embedded processor"},
    {45, "Argonaut RISC Core, Argonaut Technologies Inc."},
    {46, "Hitachi H8/300"},
    {47, "Hitachi H8/300H"},
    {48, "Hitachi H8S"},
    {49, "Hitachi H8/500"},
    {50, "Intel IA-64 processor architecture"},
    {51, "Stanford MIPS-X"},
    {52, "Motorola ColdFire"},
    {53, "Motorola M68HC12"},
    {54, "Fujitsu MMA Multimedia Accelerator"},
    {55, "Siemens PCP"},
    {56, "Sony nCPU embedded RISC processor"},
    {57, "Denso NDR1 microprocessor"},
    {58, "Motorola Star*Core processor"},
    {59, "Toyota ME16 processor"},
    {60, "STMicroelectronics ST100 processor"},
    {61, "Advanced Logic Corp. TinyJ embedded processor family"},
    {62, "AMD x86-64 architecture"},
    {63, "Sony DSP Processor"},
    {64, "Digital Equipment Corp. PDP-10"},
    {65, "Digital Equipment Corp. PDP-11"},
    {66, "Siemens FX66 microcontroller"},
    {67, "STMicroelectronics ST9+ 8/16 bit microcontroller"},
    {68, "STMicroelectronics ST7 8-bit microcontroller"},
    {69, "Motorola MC68HC16 Microcontroller"},
    {70, "Motorola MC68HC11 Microcontroller"},
    {71, "Motorola MC68HC08 Microcontroller"},
    {72, "Motorola MC68HC05 Microcontroller"},
    {73, "Silicon Graphics SVx"},
    {74, "STMicroelectronics ST19 8-bit microcontroller"},
    {75, "Digital VAX"},
    {76, "Axis Communications 32-bit embedded processor"},
    {77, "Infineon Technologies 32-bit embedded processor"},
    {78, "Element 14 64-bit DSP Processor"},
    {79, "LSI Logic 16-bit DSP Processor"},
    {80, "Knuth's educational 64-bit processor"},
    {81, "Harvard University machine-independent object files"},
    {82, "SiTera Prism"},
    {83, "Atmel AVR 8-bit microcontroller"},
    {84, "Fujitsu FR30"},
    {85, "Mitsubishi D10V"},
    {86, "Mitsubishi D30V"},
    {87, "NEC v850"},
    {88, "Mitsubishi M32R"},
    {89, "Matsushita MN10300"},
    {90, "Matsushita MN10200"},
    {91, "picoJava"},
    {92, "OpenRISC 32-bit embedded processor"},
    {93, "ARC Cores Tangent-A5"},
    {94, "Tensilica Xtensa Architecture"},
    {95, "Alphamosaic VideoCore processor"},
    {96, "Thompson Multimedia General Purpose Processor"},
    {97, "National Semiconductor 32000 series"},
    {98, "Tenor Network TPC processor"},
    {99, "Trebia SNP 1000 processor"},
    {100, "STMicroelectronics ST200 microcontroller"},
    {101, "Ubicom IP2xxx microcontroller family"},
    {102, "MAX Processor"},
    {103, "National Semiconductor CompactRISC microprocessor"},
    {104, "Fujitsu F2MC16"},
    {105, "Texas Instruments embedded microcontroller msp430"},
    {106, "Analog Devices Blackfin (DSP) processor"},
    {107, "S1C33 Family of Seiko Epson processors"},
    {108, "Sharp embedded microprocessor"},
    {109, "Arca RISC Microprocessor"},
    {110, "Microprocessor series from PKU-Unity Ltd. and MPRC of Peking University"},
    {118, "Microchip Technology dsPIC30F DSC"},
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
    void write();

  private:
    void add_symbol(const SymbolRecord& symbol, uint16_t section);
    void write_segments();
    void write_section(const SegmentRecord& segment, const SegmentRecord& space,
                       const std::vector<const DataBlock*>& blocks);
    uint32_t add_section(const std::string& name, ElfSectionHeader header);
    uint32_t write_piece(const std::vector<uint8_t>& bytes, const std::string& name, uint32_t type,
                         unsigned failure);

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
};

ElfWriter::ElfWriter(FILE* out, const char* name, const ElfMachineHooks& hooks, uint16_t machine)
    : output_(out, name, 413), hooks_(hooks), order_(run_byte_order()), sections_(1), programs_(1),
      symbols_(order_), entries_(global_entries()) {
    header_.machine = machine;
}

void ElfWriter::add_symbol(const SymbolRecord& symbol, uint16_t section) {
    ElfSymbol entry;
    entry.name = names_.add(symbol.name);
    entry.value = symbol.value;
    auto found = entries_.find(symbol.name);
    uint8_t binding = (symbol.flags & SYM_LOCAL) ? STB_LOCAL : STB_GLOBAL;
    entry.info = static_cast<uint8_t>(
        binding << 4 | symbol_type(found != entries_.end() ? found->second : nullptr));
    entry.other = hooks_.symbol_other(symbol);
    entry.shndx = section;
    symbols_.record(entry);
}

uint32_t ElfWriter::add_section(const std::string& name, ElfSectionHeader header) {
    header.name = section_names_.add(name);
    sections_.push_back(header);
    return static_cast<uint32_t>(sections_.size() - 1);
}

// A section whose bytes follow the last piece; answers its index.
uint32_t ElfWriter::write_piece(const std::vector<uint8_t>& bytes, const std::string& name,
                                uint32_t type, unsigned failure) {
    ElfSectionHeader header;
    header.type = type;
    header.offset = static_cast<uint32_t>(offset_);
    header.size = static_cast<uint32_t>(bytes.size());
    if (failure == 413)
        output_.write_at(offset_, bytes);
    else
        output_.write_at(offset_, bytes, failure, name.c_str());
    offset_ += bytes.size();
    return add_section(name, header);
}

void ElfWriter::write_section(const SegmentRecord& segment, const SegmentRecord& space,
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
            output_.write_at(offset_ + (uint64_t(block->address) + skip - segment.load_address),
                             block->bytes.data() + skip, held - skip);
        stored = std::max(stored, end - segment.load_address);
    }
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
void ElfWriter::write_segments() {
    std::vector<std::vector<const DataBlock*>> blocks(store.segments.count() + 1);
    for (const DataBlock* block : store.data)
        if (block->segment >= 1 && block->segment <= store.segments.count())
            blocks[block->segment].push_back(block);
    for (uint32_t k = 1; k <= store.segments.count(); ++k) {
        const SegmentRecord* segment = store.segments[k - 1];
        const SegmentRecord* space = segment_of(segment->space);
        if (!space || space == segment) continue;
        write_section(*segment, *space, blocks[k]);
    }
}

void ElfWriter::write() {
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
    write_segments();
    hooks_.finish_header(&header_.flags);

    uint32_t strtab = write_piece(names_.bytes(), ".strtab", SHT_STRTAB, 413);
    uint32_t symtab = write_piece(symbols_.bytes(), ".symtab", SHT_SYMTAB, 413);
    sections_[symtab].link = strtab;
    sections_[symtab].entsize = ELF_SYMBOL_SIZE;
    std::vector<DebugSection> debug;
    dwarf_emit(debug);
    for (const DebugSection& section : debug)
        write_piece(section.bytes, section.name, hooks_.debug_section_type, 621);
    // The section-name table names itself.
    uint32_t shstrtab_name = section_names_.add(".shstrtab");
    ElfSectionHeader names;
    names.name = shstrtab_name;
    names.type = SHT_STRTAB;
    names.offset = static_cast<uint32_t>(offset_);
    names.size = static_cast<uint32_t>(section_names_.bytes().size());
    output_.write_at(offset_, section_names_.bytes());
    offset_ += section_names_.bytes().size();
    sections_.push_back(names);
    header_.shstrndx = static_cast<uint16_t>(sections_.size() - 1);

    ByteWriter table(order_);
    for (const ElfSectionHeader& section : sections_)
        table.record(section);
    header_.shoff = static_cast<uint32_t>(offset_);
    header_.shnum = static_cast<uint16_t>(sections_.size());
    output_.write_at(offset_, table.bytes());
    offset_ += table.size();

    header_.phoff = static_cast<uint32_t>(offset_);
    header_.phnum = static_cast<uint16_t>(programs_.size());
    ElfProgramHeader& phdr = programs_.front();
    phdr.type = PT_PHDR;
    phdr.offset = header_.phoff;
    phdr.filesz = phdr.memsz = static_cast<uint32_t>(ELF_PROGRAM_HEADER_SIZE * programs_.size());
    ByteWriter program_table(order_);
    for (const ElfProgramHeader& program : programs_)
        program_table.record(program);
    output_.write_at(offset_, program_table.bytes());

    const uint8_t magic[4] = {0x7F, 'E', 'L', 'F'};
    std::copy(magic, magic + 4, header_.ident);
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
}

int elf_write(FILE* out, const char* name) {
    uint16_t machine = choose_machine();
    const ElfMachineHooks* hooks = elf_hooks_for(machine);
    if (!hooks) {
        alert("C", "ELF: Could not find valid extension");
        return 0;
    }
    ElfWriter(out, name, *hooks, machine).write();
    return 1;
}

} // namespace

const FormatDescriptor elf_format = {
    detect_never,  read_placeholder, elf_write, dump_placeholder,
    reset_nothing, "ELF/DWARF",      "elf",     "elf",
    true,
};
