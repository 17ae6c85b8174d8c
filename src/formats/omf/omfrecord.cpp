#include "formats/omf/omfrecord.h"

#include "common/alert.h"
#include "common/format.h"
#include "common/options.h"
#include "model/run.h"

bool RecordReader::next(Run& run, OmfRecord* record, bool report) {
    record->offset = position_;
    uint8_t type;
    if (!input_.read_at(position_, &type, 1)) return false; // the end of the file
    if (escape_ >= 0 && type == escape_) {
        if (!input_.holds(position_ + 1, 3)) {
            if (report) message(run.messages, 1041);
            return false;
        }
        position_ += 4;
        if (!input_.read_at(position_, &type, 1)) return false;
    }
    uint8_t length_bytes[2];
    bool whole = input_.read_at(position_ + 1, length_bytes, 2);
    uint16_t length = whole ? uint16_t(length_bytes[0] | length_bytes[1] << 8) : 0;
    whole = whole && input_.read_at(position_ + 3, length, &record->bytes);
    if (!whole) {
        if (report) message(run.messages, 1041);
        return false;
    }
    record->type = type;
    record->length = length;
    unsigned sum = type + length_bytes[0] + length_bytes[1];
    for (uint8_t byte : record->bytes)
        sum += byte;
    sum &= 0xFF;
    if (sum != 0) {
        if (report) message(run.messages, 1040, unsigned(type), sum);
        return false;
    }
    if (report && run.options.verbose_level > 1)
        hex_dump(stdout, 0, 16, record->bytes.data(), record->bytes.size(), "%04lX:", true);
    position_ += 3 + uint64_t(length);
    return true;
}

bool read_name(ByteReader& in, std::string* name) {
    uint8_t length = in.u8();
    name->assign(length, '\0');
    return in.bytes(name->data(), length);
}

void RecordWriter::write(uint8_t type, const std::vector<uint8_t>& content) {
    ByteWriter record(ByteOrder::little);
    record.u8(type);
    record.u16(content.size() + 1);
    record.bytes(content.data(), content.size());
    unsigned sum = 0;
    for (uint8_t byte : record.bytes())
        sum += byte;
    record.u8(-sum & 0xFF);
    output_.write(record.bytes());
}
