// Reading line-number programs: headers of versions 2 to 5, their entries, and the
// state machine that runs the statement program.
#include "formats/elf/dwarf_lines.h"

#include "common/alert.h"
#include "formats/elf/dwarf_constants.h"
#include "model/run.h"
#include "model/store.h"

namespace dwarf {

namespace {

// The operand counts of the standard opcodes 1 to 12 (opcode 9's operand is a fixed
// two bytes, which the programs this reader knows count as none or one).
constexpr uint8_t STANDARD_LENGTHS[12] = {0, 1, 1, 1, 1, 0, 0, 0, 1, 0, 0, 1};

} // namespace

unsigned standard_length(unsigned opcode) {
    return opcode >= 1 && opcode <= 12 ? STANDARD_LENGTHS[opcode - 1] : 0;
}

bool checked_length(unsigned opcode, unsigned version) {
    return opcode <= 8 || (version >= 3 && opcode >= 10 && opcode <= 12);
}

LineProgramReader::LineProgramReader(const SectionSet& sections, uint64_t offset)
    : run_(sections.run()), sections_(sections), in_(sections.reader(LINE)) {
    in_.seek(offset);
    header_.offset = offset;
}

void LineProgramReader::cut(const char* what) const {
    message(run_.messages, 422, sections_[LINE].name, unsigned(header_.offset), what);
}

LineProgramReader::HeaderRead LineProgramReader::header(LineHeader* header) {
    LineHeader& h = header_;
    h.length = in_.u32();
    if (!in_.ok()) {
        cut("section");
        return HeaderRead::FAILED;
    }
    if (h.length == 0xFFFFFFFF) {
        message(run_.messages, 421, "line-number program", unsigned(h.offset));
        return HeaderRead::FAILED;
    }
    h.end = h.offset + 4 + uint64_t(h.length);
    if (h.end > in_.size()) {
        message(run_.messages, 649, unsigned(h.end));
        return HeaderRead::FAILED;
    }
    // Units may name programs that overlap one another: what is read of them is measured.
    charge_read_allowance(run_, h.end - h.offset);
    h.version = in_.u16();
    *header = h;
    if (!known_version(h.version)) {
        message(run_.messages, 420, "line-number program", unsigned(h.offset), "version",
                h.version);
        return HeaderRead::UNKNOWN_VERSION;
    }
    context_ = UnitContext::of_version(h.version, &sections_, LINE);
    if (h.version >= 5) {
        h.address_size = context_.address_size = in_.u8();
        h.segment_size = in_.u8();
    }
    h.header_length = in_.u32();
    h.program = in_.position() + uint64_t(h.header_length);
    h.min_length = in_.u8();
    if (h.version >= 4) h.max_ops = in_.u8();
    h.default_is_stmt = in_.u8() != 0;
    h.line_base = static_cast<int8_t>(in_.u8());
    h.line_range = in_.u8();
    h.opcode_base = in_.u8();
    if (!fits()) {
        cut("program");
        return HeaderRead::FAILED;
    }
    for (unsigned opcode = 1; opcode < h.opcode_base && in_.ok(); ++opcode)
        h.lengths.push_back(in_.u8());
    *header = h;
    return HeaderRead::OK;
}

bool LineProgramReader::entry_formats(std::vector<EntryFormat>* formats) {
    uint8_t fields = in_.u8();
    formats->clear();
    for (unsigned k = 0; k < fields && in_.ok(); ++k) {
        uint64_t content = in_.uleb128();
        formats->push_back({content, in_.uleb128()});
    }
    return entries_fit();
}

bool LineProgramReader::entry_count(uint64_t* count) {
    *count = in_.uleb128();
    return entries_fit();
}

bool LineProgramReader::entries_fit() const {
    if (fits()) return true;
    message(run_.messages, 422, sections_[LINE].name, unsigned(in_.position()), "program");
    return false;
}

bool LineProgramReader::entry(const std::vector<EntryFormat>& formats, FileEntry* entry) {
    FileEntry& e = *entry;
    e = FileEntry();
    const uint64_t at = in_.position();
    for (const EntryFormat& f : formats) {
        FormValue v;
        uint64_t value_at = in_.position();
        ValueRead read = read_value(in_, f.form, 0, context_, header_.end, &v);
        if (read != ValueRead::OK) {
            if (read == ValueRead::UNKNOWN_FORM)
                message(run_.messages, 647);
            else
                message(run_.messages, 422, sections_[LINE].name, unsigned(value_at), "program");
            return false;
        }
        switch (f.content) {
        case DW_LNCT_path:
            if (v.kind == FormValue::STRING && v.text) {
                e.name = v.text;
                e.name_length = v.text_length;
                // A string of a table may be named by any number of entries.
                if (f.form != DW_FORM_string) charge_read_allowance(run_, e.name_length);
            }
            break;
        case DW_LNCT_directory_index: e.directory = v.number; break;
        case DW_LNCT_timestamp:
            e.time = v.number;
            e.has_time = v.kind != FormValue::BLOCK;
            break;
        case DW_LNCT_size:
            e.size = v.number;
            e.has_size = true;
            break;
        case DW_LNCT_MD5:
            e.md5_high = v.high;
            e.md5_low = v.number;
            e.has_md5 = v.kind == FormValue::WIDE;
            break;
        default: break;
        }
    }
    // An entry of no bytes is one more that nothing in the file pays for.
    if (in_.position() == at) charge_read_allowance(run_, 1);
    return true;
}

bool LineProgramReader::next_directory(std::string* name) {
    *name = in_.cstring(SIZE_MAX);
    return in_.ok() && !name->empty();
}

bool LineProgramReader::next_file(std::string* name, FileEntry* entry) {
    *name = in_.cstring(SIZE_MAX);
    if (!in_.ok() || name->empty()) return false;
    *entry = FileEntry();
    entry->directory = in_.uleb128();
    entry->time = in_.uleb128();
    entry->size = in_.uleb128();
    entry->has_time = entry->has_size = true;
    return true;
}

bool LineProgramReader::start_program() {
    if (!fits()) {
        cut("program");
        return false;
    }
    if (header_.program > header_.end) {
        message(run_.messages, 650);
        return false;
    }
    in_.seek(header_.program);
    return true;
}

LineState LineProgramReader::initial_state() const {
    LineState s;
    s.is_stmt = header_.default_is_stmt;
    return s;
}

void LineProgramReader::complain(LineStep step, uint64_t offset) const {
    if (step == LineStep::OVERRUN)
        message(run_.messages, 422, sections_[LINE].name, unsigned(offset), "program");
    else if (step == LineStep::BAD)
        message(run_.messages, 650);
}

void LineProgramReader::advance(LineState& s, uint64_t operations) const {
    if (header_.max_ops <= 1) {
        s.address += operations * header_.min_length;
    } else {
        s.address += header_.min_length * ((s.op_index + operations) / header_.max_ops);
        s.op_index = (s.op_index + operations) % header_.max_ops;
    }
}

LineStep LineProgramReader::execute(ByteReader& in, LineState* state, LineOp* op) const {
    *op = LineOp();
    op->offset = in.position();
    op->opcode = in.u8();
    if (op->opcode == 0) return run_extended(in, *state, *op);
    if (op->opcode < header_.opcode_base) return run_standard(in, *state, *op);
    op->kind = LineOp::SPECIAL;
    unsigned adjusted = op->opcode - header_.opcode_base;
    int64_t line_advance = header_.line_base;
    uint64_t operations = 0;
    if (header_.line_range) {
        line_advance += adjusted % header_.line_range;
        operations = adjusted / header_.line_range;
    }
    op->line_advance = line_advance;
    op->address_advance = operations * header_.min_length;
    state->line += line_advance;
    advance(*state, operations);
    return LineStep::ROW;
}

LineStep LineProgramReader::run_extended(ByteReader& in, LineState& s, LineOp& op) const {
    const uint64_t end = header_.end;
    uint64_t length = in.uleb128();
    if (!in.ok() || in.position() > end) return LineStep::OVERRUN;
    if (length == 0) {
        op.kind = LineOp::EMPTY_EXTENDED;
        return LineStep::BAD;
    }
    const uint64_t next = in.position() + length;
    if (length > end - in.position()) return LineStep::OVERRUN;
    op.kind = LineOp::EXTENDED;
    op.opcode = in.u8();
    LineStep step = LineStep::NONE;
    auto within = [&] { return in.ok() && in.position() <= next; };
    if (op.opcode == DW_LNE_end_sequence) {
        step = LineStep::END;
    } else if (op.opcode == DW_LNE_set_address) {
        op.operand = LineOp::ADDRESS;
        op.value = length - 1 <= 8 ? in.uint(size_t(length - 1)) : 0;
        s.address = op.value;
        s.op_index = 0;
    } else if (op.opcode == DW_LNE_define_file) {
        op.file_name = in.cstring(SIZE_MAX);
        op.directory = in.uleb128();
        op.time = in.uleb128();
        op.size = in.uleb128();
        if (!within()) return LineStep::OVERRUN;
        op.operand = LineOp::FILE;
    } else if (op.opcode == DW_LNE_set_discriminator && LNE.has(op.opcode, header_.version)) {
        op.value = in.uleb128();
        if (!within()) return LineStep::OVERRUN;
        op.operand = LineOp::UNSIGNED;
    }
    in.seek(next);
    return step;
}

LineStep LineProgramReader::run_standard(ByteReader& in, LineState& s, LineOp& op) const {
    op.kind = LineOp::STANDARD;
    const bool known = LNS.has(op.opcode, header_.version);
    LineStep step = LineStep::NONE;
    switch (known ? op.opcode : 0) {
    case DW_LNS_copy: step = LineStep::ROW; break;
    case DW_LNS_advance_pc:
        op.value = in.uleb128();
        op.operand = LineOp::UNSIGNED;
        advance(s, op.value);
        break;
    case DW_LNS_advance_line:
        op.signed_value = in.sleb128();
        op.operand = LineOp::SIGNED;
        s.line += op.signed_value;
        break;
    case DW_LNS_set_file:
        s.file = op.value = in.uleb128();
        op.operand = LineOp::UNSIGNED;
        break;
    case DW_LNS_set_column:
        s.column = op.value = in.uleb128();
        op.operand = LineOp::UNSIGNED;
        break;
    case DW_LNS_negate_stmt: s.is_stmt = !s.is_stmt; break;
    case DW_LNS_set_basic_block: s.basic_block = true; break;
    case DW_LNS_const_add_pc:
        if (header_.line_range) advance(s, (255u - header_.opcode_base) / header_.line_range);
        break;
    case DW_LNS_fixed_advance_pc:
        op.value = in.u16();
        op.operand = LineOp::FIXED;
        s.address += op.value;
        s.op_index = 0;
        break;
    case DW_LNS_set_prologue_end:
    case DW_LNS_set_epilogue_begin: break;
    case DW_LNS_set_isa:
        op.value = in.uleb128();
        op.operand = LineOp::UNSIGNED;
        break;
    default: {
        const std::vector<uint8_t>& lengths = header_.lengths;
        unsigned count = op.opcode - 1u < lengths.size() ? lengths[op.opcode - 1] : 0;
        op.operand = LineOp::ARGS;
        op.value = count;
        for (unsigned k = 0; k < count && in.ok(); ++k)
            in.uleb128();
        break;
    }
    }
    return in.ok() && in.position() <= header_.end ? step : LineStep::OVERRUN;
}

void LineProgramReader::replay(uint64_t from, uint64_t last,
                               const std::function<void(uint64_t, const LineState&)>& row) const {
    ByteReader again = in_;
    again.seek(from);
    LineState s = initial_state();
    LineOp op;
    while (again.position() <= last) {
        LineStep step = execute(again, &s, &op);
        if (step == LineStep::ROW || step == LineStep::END) row(op.offset, s);
        if (step != LineStep::NONE && step != LineStep::ROW) break;
        // A row clears the flag that the rows after it start without.
        if (step == LineStep::ROW) s.basic_block = false;
    }
}

} // namespace dwarf
