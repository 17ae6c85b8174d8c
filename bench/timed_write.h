// The measured conversion the writer benchmarks share: the synthetic program of a
// directory (prog.sym with its side files, prog.hex) read, normalised and written in one
// format, in the child process run_in_child started.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#include "child_run.h"

#include "common/alert.h"
#include "common/format.h"
#include "common/options.h"
#include "driver/normalize.h"
#include "driver/run.h"
#include "formats/descriptors.h"
#include "model/run.h"
#include "synthetic_program.h"

struct WriteTiming {
    double read = 0, normalise = 0, write = 0;
    long peak_kib = 0;
    long output_kib = 0;
};

inline double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Runs in the child: options are set by the caller on a fresh run (set_up),
// the timing goes to report, and the child ends.
template <typename SetUp>
[[noreturn]] void timed_write(const std::string& dir, int report, const FormatDescriptor& format,
                              const char* output, SetUp set_up) {
    if (chdir(dir.c_str()) != 0) _exit(2);
    ::Run run;
    run.messages.error_limit = 1000000;
    set_up(run);
    FILE* sym = fopen("prog.sym", "r");
    FILE* hex = fopen("prog.hex", "r");
    FILE* out = fopen(output, "wb");
    if (!sym || !hex || !out) _exit(2);
    WriteTiming t;
    try {
        auto at = std::chrono::steady_clock::now();
        norval_format.read(run, sym, "prog.sym");
        ihex_format.read(run, hex, "prog.hex");
        t.read = seconds_since(at);
        at = std::chrono::steady_clock::now();
        normalize_store(run);
        t.normalise = seconds_since(at);
        at = std::chrono::steady_clock::now();
        format.write(run, out, output);
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

inline double total_time(const WriteTiming& t) {
    return t.read + t.normalise + t.write;
}

// One writer measured at the two sizes of the synthetic program.
struct WriterRun {
    const char* name;
    void (*run)(const std::string& dir, int report);
    WriteTiming at[2]; // tenth, full
};

// The synthetic program at a tenth and at full size, each in a directory below root, and
// every writer run on each: the best of three runs (by the write's time) counts. Prints a
// line per size and writer. Answers whether every run succeeded.
inline bool measure_writers(const std::string& root, std::vector<WriterRun>& writers) {
    const synthetic::Size* sizes[2] = {&synthetic::TENTH, &synthetic::FULL};
    const char* labels[2] = {"tenth", "full"};
    int width = 0;
    for (const WriterRun& w : writers)
        width = std::max(width, int(std::string(w.name).size()));
    for (int k = 0; k < 2; ++k) {
        std::string dir = root + "/" + labels[k];
        if (system(("mkdir -p " + dir).c_str()) != 0) return false;
        synthetic::generate(dir, *sizes[k]);
        synthetic::generate_image(dir, *sizes[k]);
        for (WriterRun& w : writers) {
            for (int run = 0; run < 3; ++run) {
                WriteTiming t;
                if (!run_in_child(w.run, dir, &t)) {
                    fprintf(stderr, "a run of %s at %s failed\n", w.name, dir.c_str());
                    return false;
                }
                if (run == 0 || t.write < w.at[k].write) w.at[k] = t;
            }
            const WriteTiming& t = w.at[k];
            printf("%-6s %-*s read %.3f s, normalise %.3f s, write %.3f s (%ld KiB), peak "
                   "memory %ld MiB\n",
                   labels[k], width, w.name, t.read, t.normalise, t.write, t.output_kib,
                   t.peak_kib / 1024);
        }
    }
    return true;
}

// The write's growth from the tenth to full size; 0 for a writer too fast to measure.
inline double write_ratio(const WriterRun& w) {
    return w.at[0].write > 0 ? w.at[1].write / w.at[0].write : 0.0;
}
