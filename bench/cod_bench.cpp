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
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/options.h"
#include "formats/descriptors.h"
#include "model/run.h"
#include "synthetic_program.h"
#include "timed_write.h"

namespace {

// The timed run, in a child process; reports its timing through the pipe.
void timed_run(const std::string& dir, int report) {
    timed_write(dir, report, cod_format, "out.cod",
                [](::Run& run) { run.options.processor_name = "18F452"; });
}

} // namespace

int main(int argc, char** argv) {
    std::string root = synthetic::work_root(argc, argv, "symvert-cod-bench");
    if (root.empty()) return 2;
    std::vector<WriterRun> writers = {{".COD", timed_run, {}}};
    if (!measure_writers(root, writers)) return 1;
    const WriterRun& cod = writers[0];
    double ratio = total_time(cod.at[1]) / total_time(cod.at[0]);
    printf("ratio full / tenth, run with .COD: %.2f (near-linear when at most 12); the write "
           "alone %.2f\n",
           ratio, write_ratio(cod));
    if (argc <= 1 && system(("rm -rf " + root).c_str()) != 0) return 2;
    return ratio <= 12 ? 0 : 1;
}
