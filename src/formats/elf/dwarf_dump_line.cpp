// The DWARF dump's line-number programs: one group per distinct program the units name,
// its header (with the entry formats of version 5) and its statement program, each
// sequence followed by the rows it appended once it ends. The rows are not kept: when a
// sequence ends its opcodes are run again from its start to print them, so a sequence of
// any length takes no memory.
#include <algorithm>
#include <cstring>
#include <ctime>
#include <string>

#include "common/alert.h"
#include "common/osdep.h"
#include "formats/elf/dwarf_constants.h"
#include "formats/elf/dwarf_dump_parts.h"

namespace dwarf_dump_parts {

namespace {

// The operand counts of the standard opcodes 1 to 12 (opcode 9's operand is a fixed
// two bytes, which the programs this dump knows count as none or one).
constexpr uint8_t STANDARD_LENGTHS[12] = {0, 1, 1, 1, 1, 0, 0, 0, 1, 0, 0, 1};

// Whether a standard opcode's operand count is flagged when it differs from the
// standard's: opcodes 1 to 8, and from version 3 on those that version added.
bool checked_length(unsigned opcode, unsigned version) {
    return opcode <= 8 || (version >= 3 && opcode >= 10 && opcode <= 12);
}

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

struct DwarfDump::LineHeader {
    unsigned version = 2;
    uint8_t min_length = 1;
    uint8_t max_ops = 1;
    bool default_is_stmt = true;
    int8_t line_base = 0;
    uint8_t line_range = 0;
    uint8_t opcode_base = 0;
    std::vector<uint8_t> lengths; // of opcodes 1 to opcode_base - 1
};

namespace {

// The state machine's registers.
struct LineState {
    uint64_t address = 0, file = 1, column = 0, op_index = 0;
    int64_t line = 1;
    bool is_stmt = true, basic_block = false;
};

enum class Step { NONE, ROW, END, OVERRUN, BAD };

// Runs one opcode at the reader's position, printing it when print is set. Answers ROW
// when the opcode appended a row, END at the end of a sequence (the row appended, the
// state not yet reset), OVERRUN when its operands run past end, BAD for an extended
// opcode of length 0.
Step run_opcode(ByteReader& in, uint64_t end, const DwarfDump::LineHeader& h, LineState& s,
                bool print) {
    const unsigned version = h.version;
    auto advance = [&](uint64_t operations) {
        if (h.max_ops <= 1) {
            s.address += operations * h.min_length;
        } else {
            s.address += h.min_length * ((s.op_index + operations) / h.max_ops);
            s.op_index = (s.op_index + operations) % h.max_ops;
        }
    };
    auto fits = [&] { return in.ok() && in.position() <= end; };
    const uint64_t at = in.position();
    uint8_t opcode = in.u8();
    if (print) printf("%5.5lu:  ", static_cast<unsigned long>(at));
    // An opcode whose operands run past the end still ends its line.
    auto overrun = [&] {
        if (print) printf("\n");
        return Step::OVERRUN;
    };
    if (opcode == 0) {
        uint64_t length = in.uleb128();
        if (!fits()) return overrun();
        if (length == 0) {
            if (print) printf("%-24s\n", "?? extended opcode");
            return Step::BAD;
        }
        uint64_t next = in.position() + length;
        if (length > end - in.position()) return overrun();
        uint8_t sub = in.u8();
        if (print) printf("%-24s", LNE.full(sub, version));
        Step step = Step::NONE;
        if (sub == DW_LNE_end_sequence) {
            if (print) printf("\n");
            step = Step::END;
        } else if (sub == DW_LNE_set_address) {
            uint64_t operand = length - 1 <= 8 ? in.uint(size_t(length - 1)) : 0;
            if (print) printf(": 0x%016llX\n", static_cast<unsigned long long>(operand));
            s.address = operand;
            s.op_index = 0;
        } else if (sub == DW_LNE_define_file) {
            std::string name = in.cstring(SIZE_MAX);
            uint64_t directory = in.uleb128(), time = in.uleb128(), size = in.uleb128();
            if (!in.ok() || in.position() > next) return overrun();
            if (print)
                printf(": \"%s\" dir: %5lu, time: %s (0x%08lX), %lu %s\n", name.c_str(),
                       static_cast<unsigned long>(directory), time_text(time).c_str(),
                       static_cast<unsigned long>(time), static_cast<unsigned long>(size),
                       bytes_word(size));
        } else if (sub == DW_LNE_set_discriminator && LNE.has(sub, version)) {
            uint64_t discriminator = in.uleb128();
            if (!in.ok() || in.position() > next) return overrun();
            if (print) printf(": %llu\n", static_cast<unsigned long long>(discriminator));
        } else if (print) {
            printf("\n");
        }
        in.seek(next);
        return step;
    }
    if (opcode < h.opcode_base) {
        if (print) printf("%-24s", LNS.full(opcode, version));
        const bool known = LNS.has(opcode, version);
        Step step = Step::NONE;
        uint64_t operand = 0;
        switch (known ? opcode : 0) {
        case DW_LNS_copy: step = Step::ROW; break;
        case DW_LNS_advance_pc:
            operand = in.uleb128();
            advance(operand);
            if (print) printf(": %llu", static_cast<unsigned long long>(operand));
            break;
        case DW_LNS_advance_line: {
            int64_t delta = in.sleb128();
            s.line += delta;
            if (print) printf(": %lld", static_cast<long long>(delta));
            break;
        }
        case DW_LNS_set_file:
            s.file = in.uleb128();
            if (print) printf(": %llu", static_cast<unsigned long long>(s.file));
            break;
        case DW_LNS_set_column:
            s.column = in.uleb128();
            if (print) printf(": %llu", static_cast<unsigned long long>(s.column));
            break;
        case DW_LNS_negate_stmt: s.is_stmt = !s.is_stmt; break;
        case DW_LNS_set_basic_block: s.basic_block = true; break;
        case DW_LNS_const_add_pc:
            if (h.line_range) advance((255u - h.opcode_base) / h.line_range);
            break;
        case DW_LNS_fixed_advance_pc:
            operand = in.u16();
            s.address += operand;
            s.op_index = 0;
            if (print) printf(": %u", unsigned(operand));
            break;
        case DW_LNS_set_prologue_end:
        case DW_LNS_set_epilogue_begin: break;
        case DW_LNS_set_isa:
            operand = in.uleb128();
            if (print) printf(": %llu", static_cast<unsigned long long>(operand));
            break;
        default: {
            unsigned count = opcode - 1u < h.lengths.size() ? h.lengths[opcode - 1] : 0;
            if (print) printf(": %u args", count);
            for (unsigned k = 0; k < count && in.ok(); ++k)
                in.uleb128();
            break;
        }
        }
        if (print) printf("\n");
        return fits() ? step : Step::OVERRUN;
    }
    unsigned adjusted = opcode - h.opcode_base;
    int64_t line_advance = h.line_base;
    uint64_t operations = 0;
    if (h.line_range) {
        line_advance += adjusted % h.line_range;
        operations = adjusted / h.line_range;
    }
    if (print)
        printf("SPECIAL(line=%lld, addr=%lld)\n", static_cast<long long>(line_advance),
               static_cast<long long>(operations * h.min_length));
    s.line += line_advance;
    advance(operations);
    return Step::ROW;
}

} // namespace

void DwarfDump::dump_lines() {
    Slot& slot = slots_[LINE];
    load(slot);
    if (!heading(slot)) return;
    std::sort(line_references_.begin(), line_references_.end());
    for (size_t k = 0; k < line_references_.size(); ++k) {
        uint64_t offset = line_references_[k];
        if (k > 0 && offset == line_references_[k - 1]) continue;
        if (offset >= slot.bytes.size()) {
            message(648, unsigned(offset));
            continue;
        }
        printf("\nGroup %u @ 0x%08lX\n\n", unsigned(k + 1), static_cast<unsigned long>(offset));
        dump_line_program(offset);
    }
}

// The directory or file entries of a version 5 header: their format, then each entry's
// fields. False when they cannot be read (with the message said).
bool DwarfDump::print_entry_formats(ByteReader& in, uint64_t end, const char* what,
                                    const ValueContext& context, long first) {
    const bool files = strcmp(what, "File") == 0;
    uint8_t count = in.u8();
    std::vector<std::pair<uint64_t, uint64_t>> formats;
    for (unsigned k = 0; k < count && in.ok(); ++k) {
        uint64_t content = in.uleb128();
        formats.push_back({content, in.uleb128()});
    }
    if (!in.ok() || in.position() > end) {
        message(422, slots_[LINE].name, unsigned(in.position()), "program");
        return false;
    }
    printf("%s entry format:", what);
    for (auto [content, form] : formats)
        printf(" %s[%s]", LNCT.full(content, 5), FORM.full(form, 5));
    printf("\n%s:\n", files ? "Files" : "Includes");
    uint64_t entries = in.uleb128();
    if (!in.ok() || in.position() > end) {
        message(422, slots_[LINE].name, unsigned(in.position()), "program");
        return false;
    }
    if (entries == 0) printf("        None\n");
    for (uint64_t k = 0; k < entries; ++k) {
        uint64_t at = in.position();
        const char* name = nullptr;
        size_t name_length = 0;
        uint64_t directory = 0, time = 0, size = 0, md5_high = 0, md5_low = 0;
        bool has_time = false, has_size = false, has_md5 = false;
        for (auto [content, form] : formats) {
            FormValue v;
            bool unknown = false;
            uint64_t value_at = in.position();
            if (!read_value(in, form, 0, context, end, &v, &unknown)) {
                if (unknown)
                    message(647);
                else
                    message(422, slots_[LINE].name, unsigned(value_at), "program");
                return false;
            }
            switch (content) {
            case DW_LNCT_path:
                if (v.kind == FormValue::STRING && v.text) {
                    name = v.text;
                    name_length = v.text_length;
                    if (form != DW_FORM_string) charge(name_length);
                }
                break;
            case DW_LNCT_directory_index: directory = v.number; break;
            case DW_LNCT_timestamp:
                time = v.number;
                has_time = v.kind != FormValue::BLOCK;
                break;
            case DW_LNCT_size:
                size = v.number;
                has_size = true;
                break;
            case DW_LNCT_MD5:
                md5_high = v.high;
                md5_low = v.number;
                has_md5 = v.kind == FormValue::WIDE;
                break;
            default: break;
            }
        }
        // An entry of no bytes is one more line that nothing in the file pays for.
        if (in.position() == at) charge(1);
        printf("%5ld.  ", long(first + long(k)));
        if (name)
            print_string(name, name_length);
        else
            printf("?? no path");
        printf("\n");
        if (!files) continue;
        printf("           dir: %5lu", static_cast<unsigned long>(directory));
        if (has_time)
            printf(", time: %s (0x%08lX)", time_text(time).c_str(),
                   static_cast<unsigned long>(time));
        if (has_size) printf(", %lu %s", static_cast<unsigned long>(size), bytes_word(size));
        if (has_md5)
            printf(", md5: 0x%016llX%016llX", static_cast<unsigned long long>(md5_high),
                   static_cast<unsigned long long>(md5_low));
        printf("\n");
    }
    return true;
}

void DwarfDump::dump_line_program(uint64_t offset) {
    const Slot& slot = slots_[LINE];
    ByteReader in = reader(slot);
    in.seek(offset);
    uint32_t length = in.u32();
    if (!in.ok()) {
        message(422, slot.name, unsigned(offset), "section");
        return;
    }
    if (length == 0xFFFFFFFF) {
        message(421, "line-number program", unsigned(offset));
        return;
    }
    uint64_t end = offset + 4 + uint64_t(length);
    if (end > in.size()) {
        message(649, unsigned(end));
        return;
    }
    // Units may name programs that overlap one another; what they print is measured.
    charge(end - offset);
    LineHeader header;
    header.version = in.u16();
    if (!known_version(header.version)) {
        printf("size=%lu ver=%u\n", static_cast<unsigned long>(length), header.version);
        message(420, "line-number program", unsigned(offset), "version", header.version);
        return;
    }
    ValueContext context;
    context.version = header.version;
    context.bytes = slot.bytes.data();
    unsigned segment_size = 0;
    if (header.version >= 5) {
        context.address_size = in.u8();
        segment_size = in.u8();
    }
    uint32_t header_length = in.u32();
    uint64_t program = in.position() + uint64_t(header_length);
    header.min_length = in.u8();
    if (header.version >= 4) header.max_ops = in.u8();
    header.default_is_stmt = in.u8() != 0;
    header.line_base = static_cast<int8_t>(in.u8());
    header.line_range = in.u8();
    header.opcode_base = in.u8();
    if (!in.ok() || in.position() > end) {
        message(422, slot.name, unsigned(offset), "program");
        return;
    }
    printf("size=%lu ver=%u", static_cast<unsigned long>(length), header.version);
    if (header.version >= 5) printf(" addrsize=%u segsize=%u", context.address_size, segment_size);
    printf(" prolog=%lu\n", static_cast<unsigned long>(header_length));
    printf("min_len=%u", unsigned(header.min_length));
    if (header.version >= 4) printf(" max_ops=%u", unsigned(header.max_ops));
    printf(" def_stmt=%s line_base=%d line_range=%u opcode_base=%u\n",
           bool_text(header.default_is_stmt), int(header.line_base), unsigned(header.line_range),
           unsigned(header.opcode_base));
    printf("opcode lengths:");
    for (unsigned opcode = 1; opcode < header.opcode_base && in.ok(); ++opcode) {
        uint8_t count = in.u8();
        header.lengths.push_back(count);
        printf(" %u", unsigned(count));
        if (checked_length(opcode, header.version) && count != STANDARD_LENGTHS[opcode - 1])
            printf("(?)");
    }
    printf("\n");
    if (header.version >= 5) {
        if (!print_entry_formats(in, end, "Directory", context, 0) ||
            !print_entry_formats(in, end, "File", context, 0))
            return;
    } else {
        printf("Includes:\n");
        long number = 0;
        for (std::string name = in.cstring(SIZE_MAX); in.ok() && !name.empty();
             name = in.cstring(SIZE_MAX))
            printf("%5ld.  \"%s\"\n", ++number, name.c_str());
        if (number == 0) printf("        None\n");
        printf("Files:\n");
        number = 0;
        for (std::string name = in.cstring(SIZE_MAX); in.ok() && !name.empty();
             name = in.cstring(SIZE_MAX)) {
            uint64_t directory = in.uleb128(), time = in.uleb128(), size = in.uleb128();
            printf("%5ld.  \"%s\"\n           dir: %5lu, time: %s (0x%08lX), %lu %s\n", ++number,
                   name.c_str(), static_cast<unsigned long>(directory), time_text(time).c_str(),
                   static_cast<unsigned long>(time), static_cast<unsigned long>(size),
                   bytes_word(size));
        }
        if (number == 0) printf("        None\n");
    }
    if (!in.ok() || in.position() > end) {
        message(422, slot.name, unsigned(offset), "program");
        return;
    }
    if (program > end) {
        message(650);
        return;
    }
    in.seek(program);
    dump_statements(in, program, end, header);
}

// The statement program from start up to end: each opcode with its operand, and the
// rows of each sequence once it ends.
void DwarfDump::dump_statements(ByteReader& in, uint64_t start, uint64_t end,
                                const LineHeader& header) {
    LineState initial;
    initial.is_stmt = header.default_is_stmt;
    auto after_row = [&](LineState& s, Step step) {
        if (step == Step::END)
            s = initial;
        else
            s.basic_block = false;
    };
    auto print_matrix = [&](uint64_t from, uint64_t to) {
        printf(
            "\nGenerated line number matrix:\n\nstmt    address   file        line        column "
            "     is_stmt      basic_block\n");
        ByteReader again = reader(slots_[LINE]);
        again.seek(from);
        LineState s = initial;
        while (again.position() <= to) {
            uint64_t at = again.position();
            Step step = run_opcode(again, end, header, s, false);
            if (step == Step::ROW || step == Step::END)
                printf("%5.5lu:  %016llX  %-10lu  %-10lld  %-10ld  %-5s        %-5s\n",
                       static_cast<unsigned long>(at), static_cast<unsigned long long>(s.address),
                       static_cast<unsigned long>(s.file), static_cast<long long>(s.line),
                       static_cast<long>(static_cast<int32_t>(s.column)), bool_text(s.is_stmt),
                       bool_text(s.basic_block));
            if (step == Step::END || step == Step::OVERRUN || step == Step::BAD) break;
            after_row(s, step);
        }
    };
    LineState state = initial;
    long sequence = 0;
    bool in_sequence = false;
    uint64_t sequence_start = start;
    while (in.position() < end) {
        if (!in_sequence) {
            printf("\n\nStatement program sequence %ld\n\n", ++sequence);
            in_sequence = true;
            sequence_start = in.position();
        }
        uint64_t at = in.position();
        Step step = run_opcode(in, end, header, state, true);
        if (step == Step::OVERRUN) {
            message(422, slots_[LINE].name, unsigned(at), "program");
            return;
        }
        if (step == Step::BAD) {
            message(650);
            return;
        }
        if (step == Step::END) {
            print_matrix(sequence_start, at);
            in_sequence = false;
        }
        after_row(state, step);
    }
}

} // namespace dwarf_dump_parts
