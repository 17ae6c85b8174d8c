// What the command line cannot show: each reader's answer (the driver does not use it)
// and failed writes. Reading and writing themselves are checked by the cases.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "common/alert.h"
#include "driver/normalize.h"
#include "driver/run.h"
#include "formats/descriptors.h"
#include "model/run.h"
#include "model/store.h"
#include "test_support.h"

namespace {

// The reader's answer, after detection as in a run, for files that the cases read (paths
// below tests/).
TEST(ReaderAnswers, WholeAndFailedReads) {
    ::Run run;
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
        {pe_format, "pe/cases/cut-short/cut.pe", 0},
        {pe_format, "pe/cases/cut-header-and-names/header.pe", 0},
        {pe_format, "pe/cases/cut-header-and-names/names.pe", 0},
        {omf51_format, "omf/cases/read-items-lines-content/read.omf", 1},
        {omf51_format, "omf/cases/read-checksum-error/sum.omf", 1},
        {omf51_format, "omf/cases/wrong-dialect/typed.abs", 0},
        {eomf51_format, "omf/cases/read-eomf51-written/prog.abs", 1},
        {eomf51_format, "omf/cases/eomf51-unknown-type/t.abs", 0},
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
        run = ::Run();
        std::string path = std::string(SYMVERT_SOURCE_DIR "/tests/") + row.path;
        FILE* in = fopen(path.c_str(), "rb");
        ASSERT_NE(in, nullptr) << path;
        testing::internal::CaptureStderr();
        row.format.detect(run, in); // the COFF readers take the target and byte order from it
        rewind(in);
        EXPECT_EQ(row.format.read(run, in, "in"), row.result) << row.path;
        testing::internal::GetCapturedStderr();
        fclose(in);
    }
}

TEST(ImageWrite, FailedWritesReport413Once) {
    FILE* full = fopen("/dev/full", "w");
    if (!full) GTEST_SKIP() << "no /dev/full";
    ::Run run;
    set_message_context(run.messages, "test");
    uint8_t bytes[16] = {};
    for (int k = 0; k < 20000; ++k)
        add_data(run, k * 16, 16, bytes, 0);
    normalize_store(run);
    for (const FormatDescriptor* format : {&ihex_format, &s19_format, &titxt_format}) {
        std::string text = capture_stderr(
            [&] { EXPECT_EQ(format->write(run, full, "full.out"), 0) << format->key; });
        EXPECT_EQ(count_of(text, "(413)"), 1u) << text;
    }
    fclose(full);
}

} // namespace
