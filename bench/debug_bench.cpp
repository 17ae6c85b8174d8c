// Benchmark: reading a large program's symbol file with its side files, normalising the
// store and writing the symbol file again.
//
// The program is the synthetic one of synthetic_program.h. Each size runs in a child
// process of its own so that its peak memory is its own; the best of three runs counts.
//
// usage: debug_bench [WORK_DIR]   (default: a new directory below /tmp)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

#include "child_run.h"
#include "common/alert.h"
#include "common/options.h"
#include "driver/normalize.h"
#include "driver/run.h"
#include "formats/descriptors.h"
#include "model/run.h"
#include "synthetic_program.h"

namespace {

using synthetic::generate;
using synthetic::Size;

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct Timing {
    double elapsed;
    long peak_kib;
    double phases[3]; // read, normalise, write
};

// The timed run, in a child process: read, normalise, write.
void timed_run(const std::string& dir, int report) {
    if (chdir(dir.c_str()) != 0) _exit(2);
    ::Run run;
    run.messages.error_limit = 1000000;
    run.options.processor_name = "18F452";
    auto start = std::chrono::steady_clock::now();
    FILE* in = fopen("prog.sym", "r");
    FILE* out = fopen("out.sym", "w");
    if (!in || !out) _exit(2);
    Timing t{};
    double* phases = t.phases;
    try {
        auto at = std::chrono::steady_clock::now();
        norval_format.read(run, in, "prog.sym");
        phases[0] = seconds_since(at);
        at = std::chrono::steady_clock::now();
        normalize_store(run);
        phases[1] = seconds_since(at);
        at = std::chrono::steady_clock::now();
        norval_format.write(run, out, "out.sym");
        phases[2] = seconds_since(at);
    } catch (const RunEnd&) {
        _exit(3);
    }
    fclose(out);
    fclose(in);
    t.elapsed = seconds_since(start);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    t.peak_kib = usage.ru_maxrss;
    if (write(report, &t, sizeof t) != static_cast<ssize_t>(sizeof t)) _exit(4);
    _exit(0);
}

bool measure(const std::string& dir, double* elapsed, long* peak_kib, double* phases) {
    Timing t{};
    if (!run_in_child(timed_run, dir, &t)) return false;
    *elapsed = t.elapsed;
    *peak_kib = t.peak_kib;
    for (int p = 0; p < 3; ++p)
        phases[p] = t.phases[p];
    return true;
}

} // namespace

int main(int argc, char** argv) {
    std::string root = synthetic::work_root(argc, argv, "symvert-debug-bench");
    if (root.empty()) return 2;
    double times[2];
    long peaks[2];
    const Size* sizes[2] = {&synthetic::TENTH, &synthetic::FULL};
    for (int k = 0; k < 2; ++k) {
        std::string dir = root + (k == 0 ? "/tenth" : "/full");
        if (system(("mkdir -p " + dir).c_str()) != 0) return 2;
        auto start = std::chrono::steady_clock::now();
        synthetic::generate(dir, *sizes[k]);
        printf("generated %u modules, %u symbols, %u lines in %.2f s\n", sizes[k]->modules,
               sizes[k]->symbols, sizes[k]->lines, seconds_since(start));
        // The best of three runs: the machine is shared, and the slower runs measure the
        // neighbours rather than the program.
        double phases[3] = {0, 0, 0};
        times[k] = -1;
        for (int run = 0; run < 3; ++run) {
            double elapsed, run_phases[3];
            long peak;
            if (!measure(dir, &elapsed, &peak, run_phases)) {
                fprintf(stderr, "the run at %s failed\n", dir.c_str());
                return 1;
            }
            if (times[k] < 0 || elapsed < times[k]) {
                times[k] = elapsed;
                peaks[k] = peak;
                for (int p = 0; p < 3; ++p)
                    phases[p] = run_phases[p];
            }
        }
        printf("%-6s read + normalise + write .sym: %.3f s (%.3f + %.3f + %.3f), peak memory "
               "%ld MiB\n",
               k == 0 ? "tenth" : "full", times[k], phases[0], phases[1], phases[2],
               peaks[k] / 1024);
    }
    double ratio = times[1] / times[0];
    printf("ratio full / tenth: %.2f (near-linear when at most 12)\n", ratio);
    if (argc <= 1 && system(("rm -rf " + root).c_str()) != 0) return 2;
    return ratio <= 12 ? 0 : 1;
}
