// The measured conversion the writer benchmarks share: the synthetic program of a
// directory (prog.sym with its side files, prog.hex) read, normalised and written in one
// format, in the child process run_in_child started.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

#include "common/alert.h"
#include "common/format.h"
#include "common/options.h"
#include "driver/normalize.h"
#include "driver/run.h"
#include "formats/descriptors.h"

struct WriteTiming {
    double read = 0, normalise = 0, write = 0;
    long peak_kib = 0;
    long output_kib = 0;
};

inline double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Runs in the child: options are set by the caller after the run state is reset (set_up),
// the timing goes to report, and the child ends.
template <typename SetUp>
[[noreturn]] void timed_write(const std::string& dir, int report, const FormatDescriptor& format,
                              const char* output, SetUp set_up) {
    if (chdir(dir.c_str()) != 0) _exit(2);
    reset_run_state();
    message_state.error_limit = 1000000;
    set_up();
    FILE* sym = fopen("prog.sym", "r");
    FILE* hex = fopen("prog.hex", "r");
    FILE* out = fopen(output, "wb");
    if (!sym || !hex || !out) _exit(2);
    WriteTiming t;
    try {
        auto at = std::chrono::steady_clock::now();
        norval_format.read(sym, "prog.sym");
        ihex_format.read(hex, "prog.hex");
        t.read = seconds_since(at);
        at = std::chrono::steady_clock::now();
        normalize_store();
        t.normalise = seconds_since(at);
        at = std::chrono::steady_clock::now();
        format.write(out, output);
        fflush(out);
        t.write = seconds_since(at);
    } catch (const RunEnd&) {
        _exit(3);
    }
    fseek(out, 0, SEEK_END);
    t.output_kib = ftell(out) / 1024;
    fclose(out);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    t.peak_kib = usage.ru_maxrss;
    if (write(report, &t, sizeof t) != sizeof t) _exit(4);
    _exit(0);
}
