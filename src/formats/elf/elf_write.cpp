// The ELF writer: the whole store as one 32-bit ELF executable with the DWARF sections of
// dwarf.cpp. Every piece follows the one before it without padding: the segments'
// sections, ".strtab", ".symtab", the DWARF sections and ".shstrtab", then the section
// and program header tables; the header is written last, at offset 0.
#include <algorithm>
#include <cstring>
#include <string_view>
#include <unordered_map>

#include "common/alert.h"
#include "common/options.h"
#include "formats/elf/dwarf.h"
#include "formats/elf/elf_file.h"
#include "formats/hex/hexfields.h"
#include "model/run.h"
#include "model/store.h"
#include "model/type.h"

namespace {

// -p candidates tried for e_machine: the processor name, then at most this many items.
constexpr size_t MAX_MACHINE_CANDIDATES = 128;

// ---- Writer ----

// The first machine whose description holds one of the -p names (the processor name,
// then its items up to an empty one), tried in that order; 0 when none does.
uint16_t choose_machine(Run& run) {
    std::vector<const std::string*> candidates{&run.options.processor_name};
    for (const std::string& item : run.options.processor_list) {
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
std::unordered_map<std::string_view, const ScopeEntry*> global_entries(Run& run) {
    std::unordered_map<std::string_view, const ScopeEntry*> entries;
    walk_scope(
        static_cast<const ScopeEntry*>(run.type_model.global_scope),
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
    ElfWriter(Run& run, FILE* out, const char* name, const ElfMachineHooks& hooks,
              uint16_t machine);
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

    Run& run;
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

ElfWriter::ElfWriter(Run& run, FILE* out, const char* name, const ElfMachineHooks& hooks,
                     uint16_t machine)
    : run(run), name_(name), output_(run.messages, out, name, 413), hooks_(hooks),
      order_(run_byte_order(run.options)), sections_(1), programs_(1), symbols_(order_),
      entries_(global_entries(run)) {
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
    int unit = hooks_.address_unit(run, space);
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
    header.flags = hooks_.section_flags(run, space, static_cast<uint32_t>(stored));
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
    std::vector<std::vector<const DataBlock*>> blocks(run.store.segments.count() + 1);
    for (const DataBlock* block : run.store.data)
        if (block->segment >= 1 && block->segment <= run.store.segments.count())
            blocks[block->segment].push_back(block);
    for (uint32_t k = 1; k <= run.store.segments.count(); ++k) {
        const SegmentRecord* segment = run.store.segments[k - 1];
        const SegmentRecord* space = segment_of(run, segment->space);
        if (!space || space == segment) continue;
        lay_out_section(*segment, *space, blocks[k]);
    }
}

bool ElfWriter::write() {
    symbols_.zeros(ELF_SYMBOL_SIZE); // the null symbol
    uint32_t order = 0;
    for (const FileRecord* file : run.store.files)
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
    dwarf_emit(run, debug);
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
        message(run.messages, 418, name_, overflow_.c_str(), std::to_string(overflow_at_).c_str(),
                "ELF");
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
    header_.entry = run.store.entry_address;
    header_.ehsize = ELF_HEADER_SIZE;
    header_.phentsize = ELF_PROGRAM_HEADER_SIZE;
    header_.shentsize = ELF_SECTION_HEADER_SIZE;
    ByteWriter header(order_);
    header.record(header_);
    output_.write_at(0, header.bytes());
    output_.finish();
    return true;
}

} // namespace

int elf_write(Run& run, FILE* out, const char* name) {
    uint16_t machine = choose_machine(run);
    const ElfMachineHooks* hooks = elf_hooks_for(machine);
    if (!hooks) {
        alert(run.messages, "C", "ELF: Could not find valid extension");
        return 0;
    }
    return ElfWriter(run, out, name, *hooks, machine).write() ? 1 : 0;
}
