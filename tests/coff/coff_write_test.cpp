// The COFF-family writers' rules that the cases in coff/cases do not reach: Microchip
// COFF bit variables packed into structures, a double of the float's size, an empty
// array left out, an assembler file's lines; failed writes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/osdep.h"
#include "debug_helpers.h"
#include "driver/normalize.h"
#include "formats/coff/coff.h"
#include "formats/coff/coff_internal.h"
#include "formats/descriptors.h"
#include "formats/hex/hexfields.h"
#include "formats/native/norval.h"
#include "model/encdec.h"
#include "model/run.h"
#include "model/store.h"
#include "test_support.h"

namespace {

std::vector<uint8_t> write_to_bytes(::Run& run, const FormatDescriptor& format,
                                    FILE* out = nullptr) {
    return written_by(run, format, "out.cof", out);
}

// A written COFF or Microchip COFF file taken apart; the run's byte order is the
// file's, as the writer left it.
struct Image {
    std::vector<uint8_t> bytes;
    bool microchip = false;
    CoffFileHeader header;
    std::vector<CoffSectionHeader> sections;
    ByteOrder order;

    Image(const ::Run& run, std::vector<uint8_t> written, bool mc)
        : bytes(std::move(written)), microchip(mc), order(run_byte_order(run.options)) {
        if (bytes.size() < COFF_FILE_HEADER_SIZE) return;
        header = decode<CoffFileHeader>(bytes.data(), order);
        for (unsigned k = 0; k < header.nscns; ++k)
            sections.push_back(decode<CoffSectionHeader>(
                bytes.data() + COFF_FILE_HEADER_SIZE + header.opthdr + 40 * k, order));
    }
    size_t entry_size() const { return microchip ? MCOFF_SYMBOL_SIZE : COFF_SYMBOL_SIZE; }
    const uint8_t* entry(uint32_t k) const {
        return bytes.data() + header.symptr + k * entry_size();
    }
    std::string name(const uint8_t* field) const {
        uint32_t offset = 0;
        if (name_in_place(field, order, &offset)) return name_from_field(field, COFF_NAME_SIZE);
        const char* strings = reinterpret_cast<const char*>(bytes.data()) + header.symptr +
                              header.nsyms * entry_size();
        return strings + offset;
    }

    // Each entry as "name class value section type", each auxiliary entry as "aux" and
    // its non-zero fields: t tag index, l line, s size, d first two dimensions, n next.
    std::vector<std::string> table() const {
        std::vector<std::string> rows;
        for (uint32_t k = 0; k < header.nsyms; ++k) {
            CoffSymbol s =
                decode<CoffSymbol>(entry(k), order, microchip ? MCOFF_TYPE_WIDTH : COFF_TYPE_WIDTH);
            char row[160];
            snprintf(row, sizeof row, "%s %d %X %d %X", name(s.name).c_str(), s.sclass,
                     unsigned(s.value), int(s.scnum), unsigned(s.type));
            rows.push_back(row);
            for (unsigned a = 0; a < s.numaux; ++a)
                rows.push_back(aux_text(entry(++k)));
        }
        return rows;
    }
    std::string aux_text(const uint8_t* aux) const {
        std::string text = "aux";
        char piece[40];
        auto add = [&](const char* label, uint32_t value) {
            if (!value) return;
            snprintf(piece, sizeof piece, " %s%u", label, unsigned(value));
            text += piece;
        };
        CoffAux entry = decode<CoffAux>(aux, order);
        add("t", entry.tag_index);
        add("l", entry.line);
        add("s", entry.size);
        if (entry.dimensions[0] || entry.dimensions[1]) {
            snprintf(piece, sizeof piece, " d%u,%u", unsigned(entry.dimensions[0]),
                     unsigned(entry.dimensions[1]));
            text += piece;
        }
        add("n", decode<CoffAuxLinks>(aux, order).next_index);
        return text;
    }
};

// A program of family 1: code class CODE with segment "text" at 0x100, data class
// BANK0 with "bss" at 0x20, one module "m.obj" whose side file is given, the frame
// symbols of main, and code bytes at 0x100.
class CoffWrite : public testing::Test {
  protected:
    ::Run run;
    void SetUp() override { start_run(run, "16F877"); }

    void program(const std::string& sdb, const char* classes = "CODE") {
        if (*classes) run.options.program_classes = {classes};
        uint32_t code = run.store.segments.count() + 1;
        add_segment(run, "CODE", 0, 0, 0, code);
        add_segment(run, "text", 0x100, 0x100, 0x100, code);
        uint32_t bank = run.store.segments.count() + 1;
        add_segment(run, "BANK0", 0, 0, 0, bank);
        add_segment(run, "bss", 0x20, 0x60, 0x20, bank);
        uint32_t file = add_file(run, file_name.c_str());
        for (auto [name, value, in_code] : symbols)
            add_symbol(run, name, value, in_code ? code : bank, file, 0);
        for (auto [line, address] : lines)
            add_line(run, line, address, code, file, 2);
        std::vector<uint8_t> bytes(0x60, 0xA5);
        add_data(run, code_bytes_at, uint32_t(bytes.size()), bytes.data(), 0);
        read_text(run, sdb);
        normalize_store(run);
    }

    std::string file_name = "m.c";
    uint32_t code_bytes_at = 0x100; // 0x200 for targets that count code in 2-byte units
    // Name, value, and whether it lies in code (else in BANK0).
    std::vector<std::tuple<const char*, uint32_t, bool>> symbols = {
        {"_main", 0x100, true},  {"__end_of_main", 0x130, true},
        {"?_main", 0x40, false}, {"?a_main", 0x50, false},
        {"_g", 0x20, false},     {"_helper", 0x140, true},
        {"start", 0, true},
    };
    std::vector<std::pair<uint32_t, uint32_t>> lines = {
        {10, 0x100}, {11, 0x104}, {12, 0x108}, {14, 0x110}, {16, 0x12E}, {21, 0x140},
    };
};

std::vector<std::string> rows(std::initializer_list<const char*> list) {
    return std::vector<std::string>(list.begin(), list.end());
}

TEST_F(CoffWrite, EveryFailedWriteIsReported) {
    run.options.processor_list = {"H8/300"};
    program("[p GLOBOPT ]\n");
    FILE* full = fopen("/dev/full", "wb");
    ASSERT_NE(full, nullptr);
    std::string err = capture_stderr([&] { coff_format.write(run, full, "full.cof"); });
    fclose(full);
    EXPECT_NE(err.find("(413)"), std::string::npos) << err;
    EXPECT_NE(err.find("full.cof"), std::string::npos);
}

// The Microchip line entries of a section: "source index:line:address:function index".
std::vector<std::string> microchip_lines(const Image& image, unsigned k) {
    std::vector<std::string> found;
    for (unsigned j = 0; j < image.sections[k].nlnno; ++j) {
        MicrochipLine l = decode<MicrochipLine>(
            image.bytes.data() + image.sections[k].lnnoptr + 16 * j, ByteOrder::little);
        char text[64];
        snprintf(text, sizeof text, "%u:%u:%X:%u", unsigned(l.srcndx), unsigned(l.lnno),
                 unsigned(l.paddr), unsigned(l.fcnndx));
        found.push_back(text);
    }
    return found;
}

TEST_F(CoffWrite, MicrochipFilesBitVariablesAndOptions) {
    start_run(run, "18F452");
    run.options.processor_list = {"1234", "PIC18"};
    run.options.strip_underscore = true;
    symbols = {{"_flag0", 0x100, false}, {"_flag3", 0x103, false}, {"_flag9", 0x201, false},
               {"_flags", 0x20, false},  {"_dbl", 0x30, false},    {"_none", 0x33, false},
               {"_keep", 0x34, false},   {"label", 0x35, false}};
    lines = {};
    uint32_t boot = add_file(run, "boot.as");
    add_line(run, 3, 0x150, 1, boot, 2);
    add_line(run, 4, 0x154, 1, boot, 2);
    program(R"([p GLOBOPT ]
"1 a.h
"2 m.c
[v _flag3 `b 0 e 1 @259 ]
[v _flag0 `b 0 e 1 @256 ]
[v _flag9 `b 0 e 1 @513 ]
[v _dbl `d 0 e 3 @48 ]
[v _none `[0]uc 0 e 1 @51 ]
[v _keep `uc 0 e 1 @52 ]
)");
    Image image(run, write_to_bytes(run, mcoff_format), true);
    EXPECT_EQ(image.table(),
              rows({// a.h produced nothing and is gone.
                    ".file 103 0 -2 0", "aux t8",
                    // A double of the float's size is a float; an empty array is left out.
                    "dbl 2 30 3 6", "keep 2 34 3 C",
                    // Bits 0x100 and 0x103 in the structure of byte 0x20, with a filler.
                    ".u0 10 0 -2 0", "aux s1 n13", "flag0 18 0 -2 C", "aux s1", "- 18 1 -2 C",
                    "aux s2", "flag3 18 3 -2 C", "aux s1", ".eos 102 0 -1 0", "aux t4 s1",
                    "__flagsbits 2 20 1 8", "aux t4 s1",
                    // Bit 0x201: byte 0x40 has no symbol of its own.
                    ".u1 10 0 -2 0", "aux s1 n23", "- 18 0 -2 C", "aux s1", "flag9 18 1 -2 C",
                    "aux s1", ".eos 102 0 -1 0", "aux t16 s1", "_bitvars2 2 40 1 8", "aux t16 s1",
                    ".eof 107 0 0 0", "flags 6 20 0 0", "none 6 33 0 0", "label 6 35 0 0",
                    // The assembler file.
                    ".file 103 0 -2 0", "aux t34", ".eof 107 0 0 0"}));
    EXPECT_EQ(microchip_lines(image, 3), rows({"30:3:150:0", "30:3:152:0", "30:4:154:0"}));
}

// The family after the id gives the ROM width of the families that count code in words;
// PIC18 counts it in bytes of 8 bits, and a family none of these is refused (600).
TEST_F(CoffWrite, MicrochipFamiliesGiveTheRomWidth) {
    const std::pair<const char*, uint32_t> families[] = {
        {"PIC12", 12}, {"PIC14", 14}, {"PIC16", 16}, {"PIC18", 8}, {"PIC17", 0}};
    for (const auto& [family, width] : families) {
        start_run(run, "16F877");
        run.options.processor_list = {"877", family};
        program("[p GLOBOPT ]\n");
        std::vector<uint8_t> bytes;
        std::string err = capture_stderr([&] { bytes = write_to_bytes(run, mcoff_format); });
        EXPECT_EQ(err.find("(600)") != std::string::npos, width == 0) << family << err;
        if (width == 0) continue;
        ASSERT_GE(bytes.size(), COFF_FILE_HEADER_SIZE + MCOFF_OPTIONAL_HEADER_SIZE) << family;
        auto header = decode<MicrochipOptionalHeader>(bytes.data() + COFF_FILE_HEADER_SIZE,
                                                      ByteOrder::little);
        EXPECT_EQ(header.rom_width, width) << family;
    }
}

} // namespace
