// The DWARF dump's line-number programs: one group per distinct program the units name,
// its header (with the entry formats of version 5) and its statement program, each
// sequence followed by the rows it appended once it ends. The rows are not kept: when a
// sequence ends the reader runs its opcodes again from its start to give them.
#include <algorithm>
#include <ctime>
#include <string>

#include "common/alert.h"
#include "common/osdep.h"
#include "formats/elf/dwarf_constants.h"
#include "formats/elf/dwarf_dump.h"

namespace dwarf {

namespace {

// A time stamp of a line-number file entry as text.
std::string time_text(uint64_t stamp) {
    std::string result = stamp <= UINT32_MAX ? ctime_text(static_cast<time_t>(stamp)) : "";
    if (result.empty()) return "?";
    if (result.back() == '\n') result.pop_back();
    return result;
}

const char* bytes_word(uint64_t size) {
    return size == 1 ? "byte" : "bytes";
}

} // namespace

void DwarfDump::dump_lines() {
    sections_.load(LINE);
    if (!heading(LINE)) return;
    std::sort(line_references_.begin(), line_references_.end());
    for (size_t k = 0; k < line_references_.size(); ++k) {
        uint64_t offset = line_references_[k];
        if (k > 0 && offset == line_references_[k - 1]) continue;
        if (offset >= sections_[LINE].bytes.size()) {
            message(run.messages, 648, unsigned(offset));
            continue;
        }
        printf("\nGroup %u @ 0x%08lX\n\n", unsigned(k + 1), static_cast<unsigned long>(offset));
        dump_line_program(offset);
    }
}

void DwarfDump::dump_line_program(uint64_t offset) {
    LineProgramReader program(sections_, offset);
    LineHeader header;
    switch (program.header(&header)) {
    case LineProgramReader::HeaderRead::FAILED: return;
    case LineProgramReader::HeaderRead::UNKNOWN_VERSION:
        printf("size=%lu ver=%u\n", static_cast<unsigned long>(header.length), header.version);
        return;
    case LineProgramReader::HeaderRead::OK: break;
    }
    print_line_header(header);
    if (header.version >= 5) {
        if (!print_entries(program, false) || !print_entries(program, true)) return;
    } else {
        print_v2_entries(program);
    }
    if (program.start_program()) dump_statements(program, header);
}

void DwarfDump::print_line_header(const LineHeader& h) {
    printf("size=%lu ver=%u", static_cast<unsigned long>(h.length), h.version);
    if (h.version >= 5) printf(" addrsize=%u segsize=%u", h.address_size, h.segment_size);
    printf(" prolog=%lu\n", static_cast<unsigned long>(h.header_length));
    printf("min_len=%u", unsigned(h.min_length));
    if (h.version >= 4) printf(" max_ops=%u", unsigned(h.max_ops));
    printf(" def_stmt=%s line_base=%d line_range=%u opcode_base=%u\n", bool_text(h.default_is_stmt),
           int(h.line_base), unsigned(h.line_range), unsigned(h.opcode_base));
    printf("opcode lengths:");
    for (unsigned opcode = 1; opcode <= h.lengths.size(); ++opcode) {
        unsigned count = h.lengths[opcode - 1];
        printf(" %u", count);
        if (checked_length(opcode, h.version) && count != standard_length(opcode)) printf("(?)");
    }
    printf("\n");
}

// The directory or file entries of a version 5 header: their format, then each entry's
// fields. False when they cannot be read.
bool DwarfDump::print_entries(LineProgramReader& program, bool files) {
    std::vector<EntryFormat> formats;
    if (!program.entry_formats(&formats)) return false;
    printf("%s entry format:", files ? "File" : "Directory");
    for (const EntryFormat& f : formats)
        printf(" %s[%s]", LNCT.full(f.content, 5), FORM.full(f.form, 5));
    printf("\n%s:\n", files ? "Files" : "Includes");
    uint64_t count = 0;
    if (!program.entry_count(&count)) return false;
    if (count == 0) printf("        None\n");
    for (uint64_t k = 0; k < count; ++k) {
        FileEntry entry;
        if (!program.entry(formats, &entry)) return false;
        print_file_entry(entry, files, long(k));
    }
    return true;
}

void DwarfDump::print_file_entry(const FileEntry& e, bool files, long number) {
    printf("%5ld.  ", number);
    if (e.name)
        print_string(e.name, e.name_length);
    else
        printf("?? no path");
    printf("\n");
    if (!files) return;
    printf("           dir: %5lu", static_cast<unsigned long>(e.directory));
    if (e.has_time)
        printf(", time: %s (0x%08lX)", time_text(e.time).c_str(),
               static_cast<unsigned long>(e.time));
    if (e.has_size) printf(", %lu %s", static_cast<unsigned long>(e.size), bytes_word(e.size));
    if (e.has_md5)
        printf(", md5: 0x%016llX%016llX", static_cast<unsigned long long>(e.md5_high),
               static_cast<unsigned long long>(e.md5_low));
    printf("\n");
}

void DwarfDump::print_v2_entries(LineProgramReader& program) {
    printf("Includes:\n");
    long number = 0;
    std::string name;
    while (program.next_directory(&name))
        printf("%5ld.  \"%s\"\n", ++number, name.c_str());
    if (number == 0) printf("        None\n");
    printf("Files:\n");
    number = 0;
    FileEntry entry;
    while (program.next_file(&name, &entry)) {
        entry.name = name.c_str();
        entry.name_length = name.size();
        print_file_entry(entry, true, ++number);
    }
    if (number == 0) printf("        None\n");
}

// The statement program: each opcode with its operand, and the rows of each sequence
// once it ends.
void DwarfDump::dump_statements(LineProgramReader& program, const LineHeader& header) {
    LineState state = program.initial_state();
    long sequence = 0;
    bool in_sequence = false;
    uint64_t sequence_start = 0;
    LineOp op;
    while (!program.at_end()) {
        if (!in_sequence) {
            printf("\n\nStatement program sequence %ld\n\n", ++sequence);
            in_sequence = true;
            sequence_start = program.position();
        }
        LineStep step = program.step(&state, &op);
        print_line_op(op, header.version);
        if (step == LineStep::OVERRUN || step == LineStep::BAD) {
            program.complain(step, op.offset);
            return;
        }
        if (step == LineStep::END) {
            printf("\nGenerated line number matrix:\n\nstmt    address   file        line        "
                   "column      is_stmt      basic_block\n");
            program.replay(sequence_start, op.offset, [](uint64_t at, const LineState& s) {
                printf("%5.5lu:  %016llX  %-10lu  %-10lld  %-10ld  %-5s        %-5s\n",
                       static_cast<unsigned long>(at), static_cast<unsigned long long>(s.address),
                       static_cast<unsigned long>(s.file), static_cast<long long>(s.line),
                       static_cast<long>(static_cast<int32_t>(s.column)), bool_text(s.is_stmt),
                       bool_text(s.basic_block));
            });
            in_sequence = false;
            state = program.initial_state();
        } else if (step == LineStep::ROW) {
            state.basic_block = false;
        }
    }
}

void DwarfDump::print_line_op(const LineOp& op, unsigned version) {
    printf("%5.5lu:  ", static_cast<unsigned long>(op.offset));
    switch (op.kind) {
    case LineOp::CUT: break;
    case LineOp::EMPTY_EXTENDED: printf("%-24s", "?? extended opcode"); break;
    case LineOp::EXTENDED: printf("%-24s", LNE.full(op.opcode, version)); break;
    case LineOp::STANDARD: printf("%-24s", LNS.full(op.opcode, version)); break;
    case LineOp::SPECIAL:
        printf("SPECIAL(line=%lld, addr=%lld)", static_cast<long long>(op.line_advance),
               static_cast<long long>(op.address_advance));
        break;
    }
    switch (op.operand) {
    case LineOp::NONE: break;
    case LineOp::ADDRESS: printf(": 0x%016llX", static_cast<unsigned long long>(op.value)); break;
    case LineOp::UNSIGNED: printf(": %llu", static_cast<unsigned long long>(op.value)); break;
    case LineOp::SIGNED: printf(": %lld", static_cast<long long>(op.signed_value)); break;
    case LineOp::FIXED: printf(": %u", unsigned(op.value)); break;
    case LineOp::ARGS: printf(": %u args", unsigned(op.value)); break;
    case LineOp::FILE:
        printf(": \"%s\" dir: %5lu, time: %s (0x%08lX), %lu %s", op.file_name.c_str(),
               static_cast<unsigned long>(op.directory), time_text(op.time).c_str(),
               static_cast<unsigned long>(op.time), static_cast<unsigned long>(op.size),
               bytes_word(op.size));
        break;
    }
    printf("\n");
}

} // namespace dwarf
