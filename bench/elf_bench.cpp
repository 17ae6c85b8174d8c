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
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/options.h"
#include "formats/descriptors.h"
#include "synthetic_program.h"
#include "timed_write.h"

namespace {

// The program read, normalised and written in the format, in a child process; the
// timing goes through the pipe.
template <const FormatDescriptor& format> void timed_run(const std::string& dir, int report) {
    timed_write(dir, report, format, "out.bin", [](::Run& run) {
        run.options.processor_name = "18F452";
        run.options.processor_list = {"H8/300"};
        run.options.program_classes = {"CODE"};
    });
}

} // namespace

int main(int argc, char** argv) {
    std::string root = synthetic::work_root(argc, argv, "symvert-elf-bench");
    if (root.empty()) return 2;
    std::vector<WriterRun> writers = {{"ELF/DWARF", timed_run<elf_format>, {}},
                                      {"COFF", timed_run<coff_format>, {}}};
    if (!measure_writers(root, writers)) return 1;
    const WriterRun &elf = writers[0], &coff = writers[1];
    double ratio = total_time(elf.at[1]) / total_time(elf.at[0]);
    printf("ratio full / tenth, run with ELF/DWARF: %.2f (near-linear when at most 12); the "
           "write alone %.2f; COFF's write %.2f\n",
           ratio, write_ratio(elf), write_ratio(coff));
    if (argc <= 1 && system(("rm -rf " + root).c_str()) != 0) return 2;
    return ratio <= 12 ? 0 : 1;
}
