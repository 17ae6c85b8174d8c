// What the command line cannot show: detection answers, each reader's answer (the driver
// does not use it), the start address, failed writes. Reading and writing themselves are
// checked by the cases in hex, holtek and vendor.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "common/alert.h"
#include "driver/normalize.h"
#include "driver/run.h"
#include "formats/descriptors.h"
#include "formats/hexfields.h"
#include "model/store.h"

namespace {

FILE* file_holding(const std::string& bytes) {
    FILE* file = tmpfile();
    fwrite(bytes.data(), 1, bytes.size(), file);
    rewind(file);
    return file;
}

TEST(ImageDetection, EachDetectorsAnswer) {
    const struct {
        const FormatDescriptor& format;
        const char* text;
        bool yes;
    } rows[] = {
        {ihex_format, ":0400000001020304F2\ngarbage\n", true},
        {ihex_format, ":0400000001020304F2  \r\n", true},
        {ihex_format, ":\n", true},
        {ihex_format, ":0400000001020304F3\n", false}, // checksum
        {ihex_format, ":0400000001020304F\n", false},  // odd digit count
        {ihex_format, ":04000000010203 4F2\n", false}, // inner blank
        {ihex_format, " :0400000001020304F2\n", false},
        {ihex_format, "", false},
        {s19_format, "S00600004844521B\r\n", true},
        {s19_format, "S9\n", true},
        {s19_format, "S1070000414243445B\n", true}, // checksum not examined
        {s19_format, "S107000041424344E\n", false}, // odd length
        {s19_format, "SA070000414243445B\n", false},
        {s19_format, "S10700004142434G5B\n", false},
        {s19_format, ":00000001FF\n", false},
        {titxt_format, "@1F00\n", true},
        {titxt_format, "@1F0\n", false},
        {titxt_format, "q\n", true},
        {titxt_format, "q \n", false},
        {titxt_format, "01 AB ff\n", true},
        {titxt_format, "01 AB \n", false}, // a trailing blank breaks the rhythm
        {titxt_format, "01 AB,ff\n", false},
        {titxt_format, "", false},
    };
    for (const auto& row : rows) {
        FILE* in = file_holding(row.text);
        EXPECT_EQ(row.format.detect(in), row.yes) << row.format.key << " " << row.text;
        fclose(in);
    }
}

// The reader's answer, after detection as in a run, for files that the cases read (paths
// below tests/).
TEST(ReaderAnswers, WholeAndFailedReads) {
    const struct {
        const FormatDescriptor& format;
        const char* path;
        int result;
    } rows[] = {
        {ihex_format, "data/images/gaps.hex", 1},
        {ihex_format, "hex/cases/ihex_record_types/records.hex", 1},
        {ihex_format, "data/images/badsum.hex", 0},
        {ihex_format, "data/images/badstart.hex", 0},
        {ihex_format, "data/images/truncated.hex", 0},
        {ihex_format, "hex/cases/ihex_unknown_type_checksum/bad6.hex", 0},
        {s19_format, "data/images/gaps.s19", 1},
        {s19_format, "hex/cases/s19_records_and_stops/mix.s19", 1},
        {s19_format, "hex/cases/s19_records_and_stops/sx.s19", 1},
        {s19_format, "data/images/blankline.s19", 0},
        {titxt_format, "data/images/gaps.txt", 1},
        {tsk_format, "data/images/prog.tsk", 1},
        {tsk_format, "data/images/empty.tsk", 1},
        {tsk_format, "data/images/short.tsk", 0},
        {tsk_format, "data/images/header48.tsk", 0},
        {tsk_format, "holtek/cases/tsk/tsk_refused_headers/h12.tsk", 0},
        {tsk_format, "holtek/cases/tsk/tsk_refused_headers/cut.tsk", 0},
        {htk_format, "data/htk/holtek.dbg", 1},
        {htk_format, "holtek/cases/dbg/read-checksum-and-escape/sum.dbg", 1},
        {htk_format, "holtek/cases/dbg/read-bad-type/bad.dbg", 0},
        {pe_format, "data/pe/hand.pe", 1},
        {pe_format, "vendor/cases/pe/cut-short/cut.pe", 0},
        {pe_format, "vendor/cases/pe/cut-header-and-names/header.pe", 0},
        {pe_format, "vendor/cases/pe/cut-header-and-names/names.pe", 0},
        {omf51_format, "vendor/cases/omf/read-items-lines-content/read.omf", 1},
        {omf51_format, "vendor/cases/omf/read-checksum-error/sum.omf", 1},
        {omf51_format, "vendor/cases/omf/wrong-dialect/typed.abs", 0},
        {eomf51_format, "vendor/cases/omf/read-eomf51-written/prog.abs", 1},
        {eomf51_format, "vendor/cases/omf/eomf51-unknown-type/t.abs", 0},
        {ubrof_format, "data/ubrof/program.d43", 1},
        {coff_format, "data/coff/h8300/prog.coff", 1},
        {coff_format, "data/coff/bad/name-offset.cof", 1},
        {coff_format, "data/coff/bad/strsize3.cof", 0},
        {coff_format, "data/coff/bad/short-header.cof", 0},
        {icoff_format, "data/icoff/small.cof", 1},
        {icoff_format, "data/icoff/bad/truncated.cof", 0},
        {mcoff_format, "data/pic/blink.cof", 1},
        {mcoff_format, "data/pic/bad/no-rom-width.cof", 1},
        {mcoff_format, "data/coff/pic30/small.cof", 0},
    };
    for (const auto& row : rows) {
        reset_run_state();
        std::string path = std::string(SYMVERT_SOURCE_DIR "/tests/") + row.path;
        FILE* in = fopen(path.c_str(), "rb");
        ASSERT_NE(in, nullptr) << path;
        testing::internal::CaptureStderr();
        row.format.detect(in); // the COFF readers take the target and byte order from it
        rewind(in);
        EXPECT_EQ(row.format.read(in, "in"), row.result) << row.path;
        testing::internal::GetCapturedStderr();
        fclose(in);
    }
    reset_run_state();
}

// The start address is kept for the ELF writer; only the last start record counts.
TEST(ImageRead, StartAddressRecords) {
    const struct {
        const FormatDescriptor& format;
        const char* text;
        uint32_t entry;
    } rows[] = {
        {ihex_format, ":0400000300120034B3\n:00000001FF\n", 0x12 * 16 + 0x34},
        {ihex_format, ":0400000512345678E3\n:00000001FF\n", 0x12345678},
        {ihex_format, ":00000001FF\n", 0},
        {s19_format, "S70512345678FF\n", 0x12345678},
        {s19_format, "S804123456FF\n", 0x123456},
        {s19_format, "S9031234B6\n", 0x1234},
    };
    for (const auto& row : rows) {
        reset_run_state();
        FILE* in = file_holding(row.text);
        EXPECT_EQ(row.format.read(in, "in"), 1) << row.text;
        EXPECT_EQ(entry_address, row.entry) << row.text;
        fclose(in);
    }
    reset_run_state();
}

TEST(ImageWrite, FailedWritesReport413Once) {
    FILE* full = fopen("/dev/full", "w");
    if (!full) GTEST_SKIP() << "no /dev/full";
    reset_run_state();
    set_message_context("test");
    uint8_t bytes[16] = {};
    for (int k = 0; k < 20000; ++k)
        add_data(k * 16, 16, bytes, 0);
    normalize_store();
    for (const FormatDescriptor* format : {&ihex_format, &s19_format, &titxt_format}) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(format->write(full, "full.out"), 0) << format->key;
        fflush(stderr);
        std::string text = testing::internal::GetCapturedStderr();
        EXPECT_NE(text.find("(413)"), std::string::npos) << text;
        EXPECT_EQ(text.find("(413)"), text.rfind("(413)")) << text;
    }
    fclose(full);
    reset_run_state();
}

} // namespace
