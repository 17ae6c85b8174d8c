// Benchmark: writing a large program as ELF with DWARF, beside the generic COFF writer on
// the same program in the same run.
//
// The synthetic PIC18 program (synthetic_program.h: 500 modules with their side files,
// 200 000 symbols, 1 000 000 line records at full size) and its code image are read and
// normalised, then written as ELF/DWARF, and, for comparison, as H8/300 COFF. Each
// measurement runs in a child process of its own so that its peak memory is its own; the
// best of three runs counts. The ELF run (read, normalise, write) must grow near-linearly:
// at most 12 times the tenth size's time at full size.
//
// usage: elf_bench [WORK_DIR]   (default: a new directory below /tmp)
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

// The program read, normalised and written in the format, in a child process; the
// timing goes through the pipe.
template <const FormatDescriptor& format> void timed_run(const std::string& dir, int report) {
    timed_write(dir, report, format, "out.bin", [] {
        options.processor_name = "18F452";
        options.processor_list = {"H8/300"};
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
    std::string root = synthetic::work_root(argc, argv, "symvert-elf-bench");
    if (root.empty()) return 2;
    const synthetic::Size* sizes[2] = {&synthetic::TENTH, &synthetic::FULL};
    const char* labels[2] = {"tenth", "full"};
    Timing elf[2], coff[2];
    for (int k = 0; k < 2; ++k) {
        std::string dir = root + "/" + labels[k];
        if (system(("mkdir -p " + dir).c_str()) != 0) return 2;
        synthetic::generate(dir, *sizes[k]);
        synthetic::generate_image(dir, *sizes[k]);
        if (!best_of_three(timed_run<elf_format>, dir, &elf[k]) ||
            !best_of_three(timed_run<coff_format>, dir, &coff[k])) {
            fprintf(stderr, "a run at %s failed\n", dir.c_str());
            return 1;
        }
        for (auto [name, t] : {std::pair{"ELF/DWARF", elf[k]}, std::pair{"COFF", coff[k]}})
            printf("%-6s %-9s read %.3f s, normalise %.3f s, write %.3f s (%ld KiB), peak "
                   "memory %ld MiB\n",
                   labels[k], name, t.read, t.normalise, t.write, t.output_kib, t.peak_kib / 1024);
    }
    double ratio = total(elf[1]) / total(elf[0]);
    printf("ratio full / tenth, run with ELF/DWARF: %.2f (near-linear when at most 12); the "
           "write alone %.2f; COFF's write %.2f\n",
           ratio, elf[1].write / elf[0].write, coff[1].write / coff[0].write);
    if (argc <= 1 && system(("rm -rf " + root).c_str()) != 0) return 2;
    return ratio <= 12 ? 0 : 1;
}
