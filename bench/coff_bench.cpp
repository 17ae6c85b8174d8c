// Benchmark: the synthetic program (synthetic_program.h, with its Intel HEX image) read,
// normalised and written as COFF for the H8/300, the COFF then dumped at verbose level 1;
// and the same program written as Microchip COFF for the PIC18F452. Both at one tenth
// and at full size, each run in a child process of its own so that its peak memory is
// its own; the best of five runs counts. The conversions must stay near linear: at most
// 12 times the tenth's time at full size.
//
// usage: coff_bench [WORK_DIR]   (default: a new directory below /tmp)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/alert.h"
#include "common/options.h"
#include "driver/normalize.h"
#include "driver/run.h"
#include "formats/descriptors.h"
#include "model/run.h"
#include "synthetic_program.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

enum Job { COFF, MCOFF };

// Reads the program, normalises, writes; for COFF also dumps the result. Reports
// "seconds peak_kib write_seconds dump_seconds output_bytes" on the pipe.
void timed_run(const std::string& dir, Job job, int report) {
    if (chdir(dir.c_str()) != 0) _exit(2);
    ::Run run;
    run.messages.error_limit = 1000000;
    run.options.processor_name = "18F452";
    run.options.processor_list = job == COFF ? std::vector<std::string>{"H8/300"}
                                             : std::vector<std::string>{"452F", "PIC18"};
    run.options.program_classes = {"CODE"};
    const FormatDescriptor& format = job == COFF ? coff_format : mcoff_format;
    auto start = std::chrono::steady_clock::now();
    double write_time = 0, dump_time = 0;
    long output_bytes = 0;
    try {
        FILE* sym = fopen("prog.sym", "r");
        FILE* hex = fopen("prog.hex", "r");
        if (!sym || !hex) _exit(2);
        norval_format.read(run, sym, "prog.sym");
        ihex_format.read(run, hex, "prog.hex");
        fclose(sym);
        fclose(hex);
        normalize_store(run);
        auto at = std::chrono::steady_clock::now();
        FILE* out = fopen("out.cof", "wb");
        if (!out) _exit(2);
        format.write(run, out, "out.cof");
        fseeko(out, 0, SEEK_END);
        output_bytes = ftello(out);
        fclose(out);
        write_time = seconds_since(at);
        if (job == COFF) {
            at = std::chrono::steady_clock::now();
            run.options.verbose_level = 1;
            FILE* in = fopen("out.cof", "rb");
            if (!in || !freopen("/dev/null", "w", stdout)) _exit(2);
            if (!coff_format.dump(run, in)) _exit(4);
            fflush(stdout);
            fclose(in);
            dump_time = seconds_since(at);
        }
    } catch (const RunEnd&) {
        _exit(3);
    }
    double elapsed = seconds_since(start);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    dprintf(report, "%f %ld %f %f %ld\n", elapsed, usage.ru_maxrss, write_time, dump_time,
            output_bytes);
    _exit(0);
}

struct Result {
    double elapsed = -1, write = 0, dump = 0;
    long peak_kib = 0, bytes = 0;
};

bool measure(const std::string& dir, Job job, Result* best) {
    for (int run = 0; run < 5; ++run) {
        int fds[2];
        if (pipe(fds) != 0) return false;
        fflush(stdout); // the child must not print what is still buffered here
        pid_t child = fork();
        if (child == 0) {
            close(fds[0]);
            timed_run(dir, job, fds[1]);
        }
        close(fds[1]);
        char text[160] = {0};
        ssize_t got = read(fds[0], text, sizeof text - 1);
        close(fds[0]);
        int status = 0;
        waitpid(child, &status, 0);
        Result r;
        if (got <= 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
            sscanf(text, "%lf %ld %lf %lf %ld", &r.elapsed, &r.peak_kib, &r.write, &r.dump,
                   &r.bytes) != 5)
            return false;
        if (best->elapsed < 0 || r.elapsed < best->elapsed) *best = r;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    std::string root;
    if (argc > 1) {
        root = argv[1];
    } else {
        char pattern[] = "/tmp/symvert-coff-bench-XXXXXX";
        if (!mkdtemp(pattern)) return 2;
        root = pattern;
    }
    const synthetic::Size sizes[2] = {synthetic::TENTH, synthetic::FULL};
    const char* labels[2] = {"tenth", "full"};
    Result results[2][2];
    for (int k = 0; k < 2; ++k) {
        std::string dir = root + "/" + labels[k];
        if (system(("mkdir -p " + dir).c_str()) != 0) return 2;
        synthetic::generate(dir, sizes[k]);
        synthetic::generate_image(dir, sizes[k]);
        for (Job job : {COFF, MCOFF}) {
            Result& r = results[job][k];
            if (!measure(dir, job, &r)) {
                fprintf(stderr, "the %s run at %s failed\n", job == COFF ? "COFF" : "mcoff",
                        dir.c_str());
                return 1;
            }
            if (job == COFF)
                printf("%-6s COFF: %.3f s (write %.3f, dump at level 1 %.3f), %ld KiB written, "
                       "peak memory %ld MiB\n",
                       labels[k], r.elapsed, r.write, r.dump, r.bytes / 1024, r.peak_kib / 1024);
            else
                printf("%-6s Microchip COFF: %.3f s (write %.3f), %ld KiB written, peak memory "
                       "%ld MiB\n",
                       labels[k], r.elapsed, r.write, r.bytes / 1024, r.peak_kib / 1024);
        }
    }
    bool near_linear = true;
    for (Job job : {COFF, MCOFF}) {
        double ratio = results[job][1].elapsed / results[job][0].elapsed;
        printf("ratio full / tenth, %s: %.2f (near-linear when at most 12); the write alone "
               "%.2f\n",
               job == COFF ? "COFF" : "Microchip COFF", ratio,
               results[job][1].write / results[job][0].write);
        near_linear = near_linear && ratio <= 12;
    }
    if (argc <= 1 && system(("rm -rf " + root).c_str()) != 0) return 2;
    return near_linear ? 0 : 1;
}
