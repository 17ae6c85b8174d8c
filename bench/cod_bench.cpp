// Benchmark: writing the .COD file of a large program.
//
// The synthetic PIC18 program of the debug-information benchmark (symbol file with one
// side file per module) and its code image as Intel HEX are read and normalised, then
// written as .COD; at full size that is 500 modules, 200 000 symbols, 1 000 000 line
// records and 1.25 MiB of code. Each size runs in a child process of its own so that
// its peak memory is its own; the best of three runs counts. The run (read, normalise,
// write) must grow near-linearly: at most 12 times the tenth size's time at full size.
// The write alone is shown too: its instruction count grows linearly (10.8 times under
// callgrind), but its time grows a little faster once the store no longer fits the
// caches.
//
// usage: cod_bench [WORK_DIR]   (default: a new directory below /tmp)
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
#include "synthetic_program.h"
#include "timed_write.h"

namespace {

using Timing = WriteTiming;

// The timed run, in a child process; reports its timing through the pipe.
void timed_run(const std::string& dir, int report) {
    timed_write(dir, report, cod_format, "out.cod", [] { options.processor_name = "18F452"; });
}

} // namespace

int main(int argc, char** argv) {
    std::string root = synthetic::work_root(argc, argv, "symvert-cod-bench");
    if (root.empty()) return 2;
    const synthetic::Size* sizes[2] = {&synthetic::TENTH, &synthetic::FULL};
    Timing best[2];
    for (int k = 0; k < 2; ++k) {
        std::string dir = root + (k == 0 ? "/tenth" : "/full");
        if (system(("mkdir -p " + dir).c_str()) != 0) return 2;
        synthetic::generate(dir, *sizes[k]);
        synthetic::generate_image(dir, *sizes[k]);
        for (int run = 0; run < 3; ++run) {
            Timing t;
            if (!run_in_child(timed_run, dir, &t)) {
                fprintf(stderr, "the run at %s failed\n", dir.c_str());
                return 1;
            }
            if (run == 0 || t.write < best[k].write) best[k] = t;
        }
        printf("%-6s read %.3f s, normalise %.3f s, write .COD %.3f s (%ld KiB), peak memory "
               "%ld MiB\n",
               k == 0 ? "tenth" : "full", best[k].read, best[k].normalise, best[k].write,
               best[k].output_kib, best[k].peak_kib / 1024);
    }
    auto total = [](const Timing& t) { return t.read + t.normalise + t.write; };
    double ratio = total(best[1]) / total(best[0]);
    printf("ratio full / tenth, run with .COD: %.2f (near-linear when at most 12); the write "
           "alone %.2f\n",
           ratio, best[1].write / best[0].write);
    if (argc <= 1 && system(("rm -rf " + root).c_str()) != 0) return 2;
    return ratio <= 12 ? 0 : 1;
}
