// UBROF files, the object and debug files of IAR tool chains: detection and a readable
// dump of their records. Reading into the store and writing are not supported; both
// answer success and do nothing.
//
// A file is a header (the byte 0xA5 and a time stamp) and then records up to the end
// record, each a tag byte and the fields its tag gives. Numbers are big-endian; a name is
// a length byte and that many characters. A running CRC covers every byte read, tag bytes
// included; a CRC record holds the CRC of the bytes since the previous CRC record (or the
// start of the file) up to its own tag, and the dump checks it.
#include <algorithm>
#include <string>
#include <type_traits>
#include <vector>

#include "common/alert.h"
#include "common/binio.h"
#include "common/format.h"
#include "common/options.h"
#include "formats/descriptors.h"
#include "model/run.h"

namespace {

constexpr uint8_t FILE_MAGIC = 0xA5;
constexpr uint16_t CRC_POLYNOMIAL = 0x8005;
constexpr size_t CRC_COPY_LIMIT = 4096; // covered bytes kept for the dump of a wrong CRC
constexpr uint8_t J_NAMED = 0x11;       // the J record kind that carries a name

// ---- Record layouts ----
//
// Each record is a plain struct and its fields in file order, declared once as a layout
// function in the manner of binio.h. f(name, field) reads a number of the field's own
// width, an array of bytes as one field, a time stamp, or a name; f(name, items, count)
// reads count bytes, or count records of their own layout. A layout may look at a field
// it has read already to decide what follows.

// Second, minute, hour, day, month and the year minus 1900.
struct TimeStamp {
    uint8_t second, minute, hour, day, month, year;
};
template <class F> constexpr void layout(F& f, TimeStamp& r) {
    f("second", r.second);
    f("minute", r.minute);
    f("hour", r.hour);
    f("day", r.day);
    f("month", r.month);
    f("year", r.year);
}

bool valid(const TimeStamp& t) {
    return t.second < 60 && t.minute < 60 && t.hour < 24 && t.day < 32 && t.month < 13;
}

struct VersionRecord { // tag 0xBD
    uint8_t version;
    uint8_t rest[13];
};
template <class F> void layout(F& f, VersionRecord& r) {
    f("version", r.version);
    f("rest", r.rest);
}

struct C0Record { // tag 0xC0
    uint8_t bytes[6];
};
template <class F> void layout(F& f, C0Record& r) {
    f("bytes", r.bytes);
}

struct DebugRecord { // tag 0x52
    uint8_t prefix[5];
    std::string name;
    TimeStamp modified;
};
template <class F> void layout(F& f, DebugRecord& r) {
    f("prefix", r.prefix);
    f("name", r.name);
    f("modified", r.modified);
}

struct SegmentRange {
    uint32_t start, length;
};
template <class F> void layout(F& f, SegmentRange& r) {
    f("start", r.start);
    f("length", r.length);
}

struct SegmentRecord { // tag 0x01 or 0x02 with a first byte of 0
    uint8_t zero;
    uint8_t header[3];
    std::string name;
    uint8_t flags;
    uint8_t count;
    std::vector<SegmentRange> ranges;
};
template <class F> void layout(F& f, SegmentRecord& r) {
    f("zero", r.zero);
    f("header", r.header);
    f("name", r.name);
    f("flags", r.flags);
    f("count", r.count);
    f("ranges", r.ranges, r.count);
}

struct ProgramRecord { // tag 0x01 or 0x02 with any other first byte
    uint8_t version, flags, language, day, month, year;
    std::string name;
};
template <class F> void layout(F& f, ProgramRecord& r) {
    f("version", r.version);
    f("flags", r.flags);
    f("language", r.language);
    f("day", r.day);
    f("month", r.month);
    f("year", r.year);
    f("name", r.name);
}

struct TranslatorRecord { // tag 0x54
    uint8_t bytes[2];
    std::string name;
};
template <class F> void layout(F& f, TranslatorRecord& r) {
    f("bytes", r.bytes);
    f("name", r.name);
}

struct AuxRecord { // tag 0x53
    uint8_t bytes[2];
};
template <class F> void layout(F& f, AuxRecord& r) {
    f("bytes", r.bytes);
}

struct OriginRecord { // tag 0x51
    uint8_t segment;
    uint32_t address;
};
template <class F> void layout(F& f, OriginRecord& r) {
    f("segment", r.segment);
    f("address", r.address);
}

struct DataRecord { // tag 0x39
    uint8_t count;
    std::vector<uint8_t> bytes;
};
template <class F> void layout(F& f, DataRecord& r) {
    f("count", r.count);
    f("bytes", r.bytes, r.count);
}

struct SymbolRecord { // tag 0x4C
    uint8_t type;
    uint16_t segment;
    uint32_t address;
    std::string name;
    uint8_t tail[3];
};
template <class F> void layout(F& f, SymbolRecord& r) {
    f("type", r.type);
    f("segment", r.segment);
    f("address", r.address);
    f("name", r.name);
    f("tail", r.tail);
}

struct StatementRecord { // tag 0x47
    uint16_t line, segment, end_line;
    uint8_t flags;
    uint16_t word;
};
template <class F> void layout(F& f, StatementRecord& r) {
    f("line", r.line);
    f("segment", r.segment);
    f("end_line", r.end_line);
    f("flags", r.flags);
    f("word", r.word);
}

struct JRecord { // tag 0x4A
    uint16_t word;
    uint8_t kind;
    std::string name;
};
template <class F> void layout(F& f, JRecord& r) {
    f("word", r.word);
    f("kind", r.kind);
    if (r.kind == J_NAMED) f("name", r.name);
}

struct CrcRecord { // tag 0x3F
    uint16_t crc;
};
template <class F> void layout(F& f, CrcRecord& r) {
    f("crc", r.crc);
}

// ---- The running CRC ----

// The CRC of the bytes read since the last reset, with their count and a copy of the
// first of them. Each byte enters least significant bit first.
struct RunningCrc {
    uint16_t value = 0;
    uint64_t count = 0;
    std::vector<uint8_t> copy;

    void add(uint8_t byte) {
        for (unsigned bit = 0; bit < 8; ++bit) {
            bool feedback = ((value >> 15) ^ (byte >> bit)) & 1;
            value = uint16_t(value << 1);
            if (feedback) value ^= CRC_POLYNOMIAL;
        }
        if (copy.size() < CRC_COPY_LIMIT) copy.push_back(byte);
        ++count;
    }
    void reset() { *this = RunningCrc(); }
};

// ---- Reading ----

// What the dump keeps while it walks the records.
struct UbrofDump {
    UbrofDump(Run& run, FILE* in) : run(run), file(in, ByteOrder::big) {}

    Run& run;

    // count bytes at the cursor, under the CRC; false when the file holds fewer.
    bool take(uint8_t* out, size_t count) {
        if (!file.bytes(out, count)) return false;
        for (size_t k = 0; k < count; ++k)
            crc.add(out[k]);
        return true;
    }
    // The byte at the cursor, left to be read.
    bool peek(uint8_t* out) { return file.read_at(file.position(), out, 1); }
    template <class R> bool read(R& record);
    template <class T> bool read_field(const char* name, T& field);

    ByteReader file;
    RunningCrc crc;
    uint64_t tag_offset = 0; // of the record being dumped
    uint16_t crc_at_tag = 0; // the running CRC just after that record's tag
    uint8_t segment = 0;     // set by origin records
    uint32_t address = 0;    // set by origin records, moved on by data records
};

// Reads a layout's fields from the dump's cursor. The first field that cannot be read is
// reported and ends the reading: the end of the file where a byte is needed is message
// 1044, a field of several bytes cut short is 1045 with the bytes wanted, a name cut
// anywhere (its length byte included) is 1046.
class FieldReader {
  public:
    explicit FieldReader(UbrofDump& dump) : dump_(dump) {}
    bool ok() const { return ok_; }

    template <class T> std::enable_if_t<std::is_integral<T>::value> operator()(const char*, T& v) {
        uint8_t raw[sizeof(T)];
        if (field(raw, sizeof raw)) v = T(load_uint(raw, sizeof raw, ByteOrder::big));
    }
    template <size_t N> void operator()(const char*, uint8_t (&bytes)[N]) { field(bytes, N); }
    void operator()(const char*, TimeStamp& stamp) {
        uint8_t raw[record_size<TimeStamp>()];
        if (field(raw, sizeof raw)) stamp = decode<TimeStamp>(raw, ByteOrder::big);
    }
    void operator()(const char*, std::string& name) {
        if (!ok_) return;
        uint8_t length = 0;
        char text[255];
        if (!dump_.take(&length, 1) || !dump_.take(reinterpret_cast<uint8_t*>(text), length)) {
            ok_ = false;
            message(dump_.run.messages, 1046);
            return;
        }
        name.assign(text, length);
    }
    void operator()(const char*, std::vector<uint8_t>& bytes, size_t count) {
        bytes.assign(count, 0);
        field(bytes.data(), count);
    }
    template <class R> void operator()(const char*, std::vector<R>& items, size_t count) {
        for (size_t k = 0; k < count && ok_; ++k) {
            R item{};
            layout(*this, item);
            if (ok_) items.push_back(item);
        }
    }

  private:
    bool field(uint8_t* out, size_t count) {
        if (!ok_) return false;
        if (!dump_.take(out, count)) {
            ok_ = false;
            if (count == 1)
                message(dump_.run.messages, 1044);
            else
                message(dump_.run.messages, 1045, unsigned(count));
        }
        return ok_;
    }

    UbrofDump& dump_;
    bool ok_ = true;
};

template <class R> bool UbrofDump::read(R& record) {
    FieldReader reader(*this);
    layout(reader, record);
    return reader.ok();
}

template <class T> bool UbrofDump::read_field(const char* name, T& field) {
    FieldReader reader(*this);
    reader(name, field);
    return reader.ok();
}

// ---- The dump ----

// What a record's dump tells the walk over the records.
enum class Step { next, end, fail };

bool verbose(Run& run) {
    return run.options.verbose_level > 0;
}

void print_stamp(const TimeStamp& t) {
    printf("%d/%d/%d %02d:%02d:%02d", t.year + 1900, int(t.month), int(t.day), int(t.hour),
           int(t.minute), int(t.second));
}

Step dump_end(Run&, UbrofDump&) {
    return Step::end;
}

Step dump_version(Run&, UbrofDump& d) {
    static const uint8_t EXPECTED[13] = {0x00, 0x00, 0x05, 0xBA, 0x02, 0xBE, 0xFF,
                                         0xBF, 0x02, 0xC0, 0xFF, 0xC1, 0x05};
    VersionRecord r{};
    if (!d.read(r)) return Step::fail;
    printf("UBROF version %d\n", int(r.version));
    if (std::equal(std::begin(r.rest), std::end(r.rest), EXPECTED)) return Step::next;
    printf("Funny BD record; should be:\nBD 06 ");
    for (uint8_t byte : EXPECTED)
        printf("%02X ", unsigned(byte));
    printf("but was:\nBD %02X ", unsigned(r.version));
    for (uint8_t byte : r.rest)
        printf("%02X ", unsigned(byte));
    printf("\n");
    return Step::next;
}

Step dump_c0(Run&, UbrofDump& d) {
    C0Record r{};
    if (!d.read(r)) return Step::fail;
    const uint8_t* b = r.bytes;
    printf("C0 record: %02X %02X %02X %02X %02X %02X\n", unsigned(b[0]), unsigned(b[1]),
           unsigned(b[2]), unsigned(b[3]), unsigned(b[4]), unsigned(b[5]));
    return Step::next;
}

Step dump_debug(Run& run, UbrofDump& d) {
    static const uint8_t USUAL_PREFIX[5] = {0x00, 0xB9, 0x00, 0x00, 0x00};
    DebugRecord r{};
    if (!d.read(r)) return Step::fail;
    if (!valid(r.modified)) {
        message(run.messages, 1050);
        return Step::fail;
    }
    printf("Debug record: ");
    if (!std::equal(std::begin(r.prefix), std::end(r.prefix), USUAL_PREFIX))
        for (uint8_t byte : r.prefix)
            printf("%02X ", unsigned(byte));
    printf("\"%s\" modified ", r.name.c_str());
    print_stamp(r.modified);
    printf("\n");
    return Step::next;
}

Step dump_segment(UbrofDump& d) {
    SegmentRecord r{};
    if (!d.read(r)) return Step::fail;
    printf("Segment: ");
    // The record's four bytes before its name, as they stand: the 0 that makes it a
    // segment record, then the three header bytes.
    if (r.header[0] || r.header[1] || r.header[2])
        printf("%02X %02X %02X %02X ", unsigned(r.zero), unsigned(r.header[0]),
               unsigned(r.header[1]), unsigned(r.header[2]));
    printf("\"%s\" flags 0x%X\nStart\tLength\n", r.name.c_str(), unsigned(r.flags));
    for (const SegmentRange& range : r.ranges)
        printf("0x%04lX\t0x%04lX\n", static_cast<unsigned long>(range.start),
               static_cast<unsigned long>(range.length));
    printf("\n");
    return Step::next;
}

Step dump_program(Run& run, UbrofDump& d) {
    static const char* const WIDTHS[4] = {"8 bit ", "16 bit ", "32 bit ", "segmented  "};
    ProgramRecord r{};
    if (!d.read(r)) return Step::fail;
    if (r.day >= 32 || r.month >= 13) {
        message(run.messages, 1051);
        return Step::fail;
    }
    printf("Program: \"%s\" %d/%d/%d ", r.name.c_str(), r.year + 1900, int(r.month), int(r.day));
    printf(" version %d, language 0x%0X, ", int(r.version), unsigned(r.language));
    if (r.language == 0x00) printf("(Assembler) ");
    if (r.language == 0x10) printf("(C) ");
    printf("%s", WIDTHS[(r.flags & 6) >> 1]);
    if (r.flags & 1) printf("normal bit order");
    printf("\n");
    return Step::next;
}

// Tags 0x01 and 0x02 hold a segment record when their first byte is 0, else a program
// record whose version is that byte.
Step dump_segment_or_program(Run& run, UbrofDump& d) {
    uint8_t first;
    if (!d.peek(&first)) {
        message(run.messages, 1044);
        return Step::fail;
    }
    return first == 0 ? dump_segment(d) : dump_program(run, d);
}

Step dump_translator(Run&, UbrofDump& d) {
    TranslatorRecord r{};
    if (!d.read(r)) return Step::fail;
    printf("Translator: 0x%02X 0x%02X \"%s\"\n", unsigned(r.bytes[0]), unsigned(r.bytes[1]),
           r.name.c_str());
    return Step::next;
}

Step dump_aux(Run&, UbrofDump& d) {
    AuxRecord r{};
    if (!d.read(r)) return Step::fail;
    printf("Aux record: 0x%02X 0x%02X\n", unsigned(r.bytes[0]), unsigned(r.bytes[1]));
    return Step::next;
}

Step dump_origin(Run& run, UbrofDump& d) {
    OriginRecord r{};
    if (!d.read(r)) return Step::fail;
    d.segment = r.segment;
    d.address = r.address;
    if (verbose(run))
        printf("Origin 0x%lX in segment %d\n", static_cast<unsigned long>(d.address),
               int(d.segment));
    return Step::next;
}

Step dump_data(Run& run, UbrofDump& d) {
    DataRecord r{};
    if (!d.read(r)) return Step::fail;
    printf("Data: %d bytes in seg %d at 0x%lX\n", int(r.count), int(d.segment),
           static_cast<unsigned long>(d.address));
    if (verbose(run)) hex_dump(stdout, d.address, 16, r.bytes.data(), r.count, "%04lX:", true);
    d.address += r.count;
    return Step::next;
}

Step dump_symbol(Run&, UbrofDump& d) {
    static const char* const TYPES[6] = {nullptr,      "public/abs ",  "public/reloc ",
                                         "local/abs ", "local/reloc ", "external "};
    static const char* const SEGMENTS[8] = {nullptr,  "CODE ", "DATA ",     "XDATA ",
                                            "IDATA ", "BIT ",  "REGISTER ", "CONST "};
    SymbolRecord r{};
    if (!d.read(r)) return Step::fail;
    printf("Symbol; ");
    if (r.type >= 1 && r.type <= 5)
        printf("%s", TYPES[r.type]);
    else
        printf("type?? 0x%02X ", unsigned(r.type));
    if (r.segment >= 1 && r.segment <= 7)
        printf("%s", SEGMENTS[r.segment]);
    else
        printf("segment 0x%X ", unsigned(r.segment));
    printf("addr = 0x%lX  \"%s\"", static_cast<unsigned long>(r.address), r.name.c_str());
    if (r.tail[0] || r.tail[1] || r.tail[2])
        printf(" %02X %02X %02X", unsigned(r.tail[0]), unsigned(r.tail[1]), unsigned(r.tail[2]));
    printf("\n");
    return Step::next;
}

Step dump_statement(Run&, UbrofDump& d) {
    StatementRecord r{};
    if (!d.read(r)) return Step::fail;
    printf("Statement: line %u", unsigned(r.line));
    if (r.end_line != r.line) printf("-%u", unsigned(r.end_line));
    printf(" seg %X flags %X %X\n", unsigned(r.segment), unsigned(r.flags), unsigned(r.word));
    return Step::next;
}

Step dump_j(Run&, UbrofDump& d) {
    JRecord r{};
    return d.read(r) ? Step::next : Step::fail;
}

// The CRC word must equal the running CRC as it stood after this record's tag; the word's
// own two bytes are not part of what it covers. A match starts the next block.
Step check_crc(Run& run, UbrofDump& d) {
    CrcRecord r{};
    if (!d.read(r)) return Step::fail;
    d.crc.count -= 2;
    if (r.crc != d.crc_at_tag) {
        message(run.messages, 1049);
        if (verbose(run))
            hex_dump(stdout, 0, 16, d.crc.copy.data(),
                     size_t(std::min<uint64_t>(d.crc.count, d.crc.copy.size())), "%04lX:", true);
        return Step::fail;
    }
    if (verbose(run))
        printf("CRC matched at %lX\n", static_cast<unsigned long>(uint32_t(d.tag_offset)));
    d.crc.reset();
    return Step::next;
}

struct RecordKind {
    uint8_t tag;
    Step (*dump)(Run& run, UbrofDump& d);
};

const RecordKind RECORD_KINDS[] = {
    {0xFF, dump_end},
    {0xBD, dump_version},
    {0xC0, dump_c0},
    {0x52, dump_debug},
    {0x01, dump_segment_or_program},
    {0x02, dump_segment_or_program},
    {0x54, dump_translator},
    {0x53, dump_aux},
    {0x51, dump_origin},
    {0x39, dump_data},
    {0x4C, dump_symbol},
    {0x47, dump_statement},
    {0x4A, dump_j},
    {0x3F, check_crc},
};

const RecordKind* record_kind(uint8_t tag) {
    for (const RecordKind& kind : RECORD_KINDS)
        if (kind.tag == tag) return &kind;
    return nullptr;
}

// ---- The format's operations ----

bool ubrof_detect(Run&, FILE* in) {
    ByteReader file(in, ByteOrder::big);
    uint8_t raw[1 + record_size<TimeStamp>()];
    return file.read_at(0, raw, sizeof raw) && raw[0] == FILE_MAGIC &&
           valid(decode<TimeStamp>(raw + 1, ByteOrder::big));
}

int ubrof_read(Run&, FILE*, const char*) {
    return 1;
}

int ubrof_write(Run&, FILE*, const char*) {
    return 1;
}

bool ubrof_dump(Run& run, FILE* in) {
    UbrofDump d(run, in);
    // An empty file is reported but not held against the dump; any other file that ends
    // before its end record fails.
    if (d.file.size() == 0) {
        message(run.messages, 1044);
        return true;
    }
    uint8_t magic = 0;
    TimeStamp stamp{};
    if (!d.read_field("magic", magic)) return false;
    if (magic != FILE_MAGIC) {
        message(run.messages, 1047);
        return false;
    }
    if (!d.read_field("stamp", stamp)) return false;
    if (!valid(stamp)) {
        message(run.messages, 1048);
        return false;
    }
    printf("UBROF file: ");
    print_stamp(stamp);
    printf(" ");
    for (;;) {
        d.tag_offset = d.file.position();
        uint8_t tag = 0;
        if (!d.read_field("tag", tag)) return false;
        d.crc_at_tag = d.crc.value;
        const RecordKind* kind = record_kind(tag);
        if (!kind) {
            message(run.messages, 1052);
            return false;
        }
        Step step = kind->dump(run, d);
        if (step != Step::next) return step == Step::end;
    }
}

} // namespace

const FormatDescriptor ubrof_format = {
    ubrof_detect, ubrof_read, ubrof_write, ubrof_dump, "UBROF", "ubrof", "d43", true,
};
