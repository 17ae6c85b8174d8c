// Reading call frame entries.
#include "formats/elf/dwarf_frames.h"

#include "common/alert.h"
#include "model/run.h"

namespace dwarf {

namespace {

bool known_cie_version(unsigned version) {
    return version == 1 || version == 3 || version == 4;
}

// The fields of a common entry after its augmentation, up to its instructions.
void read_fields(ByteReader& in, CommonEntry& cie) {
    if (cie.version >= 4) {
        cie.address_size = in.u8();
        cie.segment_size = in.u8();
    }
    cie.code_align = in.uleb128();
    cie.data_align = in.sleb128();
    cie.return_column = cie.version == 1 ? in.u8() : in.uleb128();
}

} // namespace

FrameReader::FrameReader(const SectionSet& sections, unsigned address_size)
    : run_(sections.run()), sections_(sections), in_(sections.reader(FRAME)),
      address_size_(address_size) {}

FrameReader::Next FrameReader::next(FrameEntry* entry) {
    FrameEntry& e = *entry;
    e = FrameEntry();
    in_.seek(next_);
    const uint64_t size = in_.size();
    e.offset = in_.position();
    e.length = in_.u32();
    if (e.length == 0xFFFFFFFF) {
        message(run_.messages, 421, "call frame entry", unsigned(e.offset));
        uint64_t wide = in_.u64();
        if (!in_.ok() || wide > in_.remaining()) return Next::STOP;
        next_ = in_.position() + wide;
        return Next::SKIP;
    }
    e.end = next_ = e.offset + 4 + uint64_t(e.length);
    if (e.end > size) {
        message(run_.messages, 657, unsigned(e.length));
        return Next::STOP;
    }
    e.id = in_.u32();
    if (e.id == 0xFFFFFFFF)
        read_common(e);
    else
        read_description(e);
    return Next::ENTRY;
}

void FrameReader::read_common(FrameEntry& e) {
    e.kind = FrameEntry::COMMON;
    if (e.length < 7) {
        e.state = FrameEntry::TOO_SHORT;
        message(run_.messages, 651);
        return;
    }
    e.cie.version = in_.u8();
    e.augmentation = in_.cstring(SIZE_MAX);
    if (!in_.ok() || in_.position() > e.end) {
        e.state = FrameEntry::CUT;
        message(run_.messages, 652);
    } else if (!e.augmentation.empty()) {
        e.state = FrameEntry::AUGMENTED;
    } else if (!known_cie_version(e.cie.version)) {
        e.state = FrameEntry::UNKNOWN_VERSION;
        message(run_.messages, 420, "common information entry", unsigned(e.offset), "version",
                e.cie.version);
    } else {
        read_fields(in_, e.cie);
        e.state = in_.ok() && in_.position() <= e.end ? FrameEntry::WHOLE : FrameEntry::FIELDS_CUT;
        if (e.state == FrameEntry::FIELDS_CUT) message(run_.messages, 652);
        e.address_size = e.cie.address_size ? e.cie.address_size : address_size_;
    }
}

void FrameReader::read_description(FrameEntry& e) {
    e.kind = FrameEntry::DESCRIPTION;
    if (e.length < 9) {
        e.state = FrameEntry::TOO_SHORT;
        message(run_.messages, 653);
        return;
    }
    // The common entry the pointer names gives the alignment factors, and from version
    // 4 on the address size.
    const uint64_t size = in_.size();
    ByteReader common = sections_.reader(FRAME);
    common.seek(uint64_t(e.id) + 4);
    const bool pointer_past = uint64_t(e.id) + 8 > size;
    bool usable = !pointer_past && common.u32() == 0xFFFFFFFF;
    if (usable) {
        e.cie.version = common.u8();
        usable =
            common.cstring(SIZE_MAX).empty() && common.ok() && known_cie_version(e.cie.version);
        if (usable) read_fields(common, e.cie);
        usable = usable && common.ok();
    }
    e.address_size = usable && e.cie.address_size ? e.cie.address_size : address_size_;
    e.location = in_.uint(e.address_size);
    e.range = in_.uint(e.address_size);
    if (pointer_past) {
        e.state = FrameEntry::POINTER_PAST;
        message(run_.messages, 654);
    } else if (!usable) {
        e.state = FrameEntry::NOT_COMMON;
        message(run_.messages, 655, 0xFFFFFFFFu);
    } else if (!in_.ok() || in_.position() > e.end) {
        e.state = FrameEntry::CUT;
        message(run_.messages, 656);
    }
}

void FrameReader::finish() {
    in_.seek(next_);
    if (in_.position() < in_.size())
        message(run_.messages, 422, sections_[FRAME].name, unsigned(in_.position()), "section");
}

} // namespace dwarf
