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
#include <vector>

#include "common/options.h"
#include "formats/descriptors.h"
#include "synthetic_program.h"
#include "timed_write.h"

namespace {

// The program read, normalised and written in the format (to "out.abs" or "out.omf", the
// format's own extension), in a child process; the timing goes through the pipe. The
// processor is the synthetic program's own (its side files name its registers); the
// writer takes pointer sizes from it.
template <const FormatDescriptor& format> void timed_run(const std::string& dir, int report) {
    std::string output = std::string("out.") + format.extension;
    timed_write(dir, report, format, output.c_str(), [](::Run& run) {
        run.options.processor_name = "18F452";
        run.options.program_classes = {"CODE"};
    });
}

} // namespace

int main(int argc, char** argv) {
    std::string root = synthetic::work_root(argc, argv, "symvert-eomf51-bench");
    if (root.empty()) return 2;
    std::vector<WriterRun> writers = {{"Extended OMF-51", timed_run<eomf51_format>, {}},
                                      {"OMF-51", timed_run<omf51_format>, {}}};
    if (!measure_writers(root, writers)) return 1;
    const WriterRun &extended = writers[0], &plain = writers[1];
    double ratio = total_time(extended.at[1]) / total_time(extended.at[0]);
    printf("ratio full / tenth, run with Extended OMF-51: %.2f (near-linear when at most 12); "
           "the write alone %.2f; OMF-51's write %.2f\n",
           ratio, write_ratio(extended), write_ratio(plain));
    if (argc <= 1 && system(("rm -rf " + root).c_str()) != 0) return 2;
    return ratio <= 12 ? 0 : 1;
}
