// Benchmark: writing a large program as Extended OMF-51, beside the plain OMF-51 writer on
// the same program in the same run.
//
// The synthetic program (synthetic_program.h: 500 modules with their side files, 200 000
// symbols, 1 000 000 line records at full size) and its code image are read and
// normalised, then written as Extended OMF-51 (the side files give the type model a
// global scope, so the typed writer runs: module, procedure and block scopes, typed debug
// items, type definitions, line numbers and the code of each function's lines), and, for
// comparison, as plain OMF-51. Addresses are written as their low 16 bits, as the
// formats hold them. Each measurement runs in a child process of its own so that its
// peak memory is its own; the best of three runs counts. The Extended OMF-51 run (read,
// normalise, write) must grow near-linearly: at most 12 times the tenth size's time at
// full size.
//
// usage: eomf51_bench [WORK_DIR]   (default: a new directory below /tmp)
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include "child_run.h"
#include "common/options.h"
#include "formats/descriptors.h"
#include "synthetic_program.h"
#include "timed_write.h"

namespace {

using Timing = WriteTiming;

// The program read, normalised and written in the format (to "out.abs" or "out.omf", the
// format's own extension), in a child process; the timing goes through the pipe. The
// processor is the synthetic program's own (its side files name its registers); the
// writer takes pointer sizes from it.
template <const FormatDescriptor& format> void timed_run(const std::string& dir, int report) {
    std::string output = std::string("out.") + format.extension;
    timed_write(dir, report, format, output.c_str(), [] {
        options.processor_name = "18F452";
        options.program_classes = {"CODE"};
    });
}

// The best of three runs (by the write's time).
bool best_of_three(void (*run)(const std::string&, int), const std::string& dir, Timing* best) {
    for (int k = 0; k < 3; ++k) {
        Timing t;
        if (!run_in_child(run, dir, &t)) return false;
        if (k == 0 || t.write < best->write) *best = t;
    }
    return true;
}

double total(const Timing& t) {
    return t.read + t.normalise + t.write;
}

} // namespace

int main(int argc, char** argv) {
    std::string root = synthetic::work_root(argc, argv, "symvert-eomf51-bench");
    if (root.empty()) return 2;
    const synthetic::Size* sizes[2] = {&synthetic::TENTH, &synthetic::FULL};
    const char* labels[2] = {"tenth", "full"};
    Timing extended[2], plain[2];
    for (int k = 0; k < 2; ++k) {
        std::string dir = root + "/" + labels[k];
        if (system(("mkdir -p " + dir).c_str()) != 0) return 2;
        synthetic::generate(dir, *sizes[k]);
        synthetic::generate_image(dir, *sizes[k]);
        if (!best_of_three(timed_run<eomf51_format>, dir, &extended[k]) ||
            !best_of_three(timed_run<omf51_format>, dir, &plain[k])) {
            fprintf(stderr, "a run at %s failed\n", dir.c_str());
            return 1;
        }
        for (auto [name, t] :
             {std::pair{"Extended OMF-51", extended[k]}, std::pair{"OMF-51", plain[k]}})
            printf("%-6s %-15s read %.3f s, normalise %.3f s, write %.3f s (%ld KiB), peak "
                   "memory %ld MiB\n",
                   labels[k], name, t.read, t.normalise, t.write, t.output_kib, t.peak_kib / 1024);
    }
    double ratio = total(extended[1]) / total(extended[0]);
    // A writer that writes nothing yet takes no measurable time: no ratio for it.
    auto write_ratio = [](const Timing* t) {
        return t[0].write > 0 ? t[1].write / t[0].write : 0.0;
    };
    printf("ratio full / tenth, run with Extended OMF-51: %.2f (near-linear when at most 12); "
           "the write alone %.2f; OMF-51's write %.2f\n",
           ratio, write_ratio(extended), write_ratio(plain));
    if (argc <= 1 && system(("rm -rf " + root).c_str()) != 0) return 2;
    return ratio <= 12 ? 0 : 1;
}
