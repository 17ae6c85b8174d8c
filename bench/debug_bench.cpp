// Benchmark: reading a large program's symbol file with its side files, normalising the
// store and writing the symbol file again.
//
// The generator writes a synthetic PIC18 program: at full size 500 modules, each with a
// side file (structures, typedefs, externs, functions with parameters, autos and nested
// blocks), 200 000 symbols and 1 000 000 line records in the symbol file. Each size runs
// in a child process of its own so that its peak memory is its own; the best of three
// runs counts.
//
// usage: debug_bench [WORK_DIR]   (default: a new directory below /tmp)
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

namespace {

struct Size {
    unsigned modules;
    unsigned symbols;
    unsigned lines;
};

const unsigned FUNCTIONS_PER_MODULE = 40;

// One module's side file.
void write_side_file(const std::string& path, unsigned module, unsigned externs) {
    FILE* out = fopen(path.c_str(), "w");
    if (!out) return;
    fprintf(out, "[p GLOBOPT FAST_DBL LARGE_MODEL ]\n[d edition pro ]\n\"1 types%u.h\n", module);
    fprintf(out, "[v _u8 `uc 0 t 0 ]\n[v _u16 `ui 0 t 0 ]\n");
    fprintf(out, "[e E1 state `uc S_IDLE 0 S_RUN 1 S_STOP 2 ]\n");
    fprintf(out,
            "[s S1 rec 8 `u16 id 2 0 E1 st 1 2 `uc flags 1 3 :3:0 *S1 next 2 4 `u16 crc 2 6 ]\n");
    fprintf(out, "\"5 m%u.c\n", module);
    for (unsigned k = 0; k < externs; ++k)
        fprintf(out, "[v _g%u_%u %s 0 e 1 @%u ]\n", module, k, k % 3 == 0 ? "S1" : "`[4]u16",
                256 + k * 8);
    unsigned line = 100;
    for (unsigned f = 0; f < FUNCTIONS_PER_MODULE; ++f) {
        fprintf(out, "\"%u\n[v _f%u_%u `(i 0 e 1 @0 ]\n{\n\"%u\n", line, module, f, line);
        fprintf(out, "[v _p `u16 0 p 0 0 ]\n[v _q *S1 0 p 0 2 ]\n\"%u\n", line + 1);
        fprintf(out, "[v _a `i 0 a 0 0 ]\n[v _b S1 0 a 0 2 ]\n[v _c `uc 0 r 0 prodl ]\n");
        fprintf(out, "\"%u\n{\n\"%u\n[v _t `l 0 a 0 10 ]\n\"%u\n}\n", line + 3, line + 4, line + 8);
        fprintf(out, "\"%u\n}\n1 14 0 4\n", line + 20);
        line += 25;
    }
    fclose(out);
}

// The symbol file and every side file of a program of the given size.
void generate(const std::string& dir, const Size& size) {
    unsigned per_module = size.symbols / size.modules;
    unsigned locals = FUNCTIONS_PER_MODULE * 2; // ?? and ? frame symbols
    unsigned externs = per_module - FUNCTIONS_PER_MODULE - locals;
    unsigned lines_per_module = size.lines / size.modules;
    FILE* sym = fopen((dir + "/prog.sym").c_str(), "w");
    if (!sym) return;
    uint32_t code = 0x100;
    for (unsigned m = 0; m < size.modules; ++m) {
        for (unsigned f = 0; f < FUNCTIONS_PER_MODULE; ++f)
            fprintf(sym, "_f%u_%u %X 0 CODE\n", m, f, code + f * 0x40);
        for (unsigned k = 0; k < externs; ++k)
            fprintf(sym, "_g%u_%u %X 0 BANK%u\n", m, k, 0x100000 + m * 0x1000 + k * 8, m % 4);
        code += FUNCTIONS_PER_MODULE * 0x40;
    }
    fprintf(sym, "__Ltext 100 0 ABS\n__Htext %X 0 ABS\n", code - 1);
    fprintf(sym, "%%segments\ntext 100 %X CODE\n", code - 1);
    for (unsigned b = 0; b < 4; ++b)
        fprintf(sym, "rbss%u %X %X BANK%u\n", b, 0x100000 + b * 0x1000, 0x100FFF + b * 0x1000, b);
    fprintf(sym, "%%locals\n");
    code = 0x100;
    for (unsigned m = 0; m < size.modules; ++m) {
        fprintf(sym, "m%u.obj\nm%u.c\n", m, m);
        for (unsigned f = 0; f < FUNCTIONS_PER_MODULE; ++f) {
            fprintf(sym, "??_f%u_%u %X 0 BANK%u\n", m, f, 0x200000 + m * 0x100 + f * 4, m % 4);
            fprintf(sym, "?_f%u_%u %X 0 BANK%u\n", m, f, 0x200002 + m * 0x100 + f * 4, m % 4);
        }
        for (unsigned k = 0; k < lines_per_module; ++k)
            fprintf(sym, "%u %X 0 CODE\n", 100 + k, code + k * 2);
        code += FUNCTIONS_PER_MODULE * 0x40;
        write_side_file(dir + "/m" + std::to_string(m) + ".sdb", m, externs);
    }
    fclose(sym);
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The timed run, in a child process: read, normalise, write. Prints "seconds peak_kib".
void timed_run(const std::string& dir, int report) {
    if (chdir(dir.c_str()) != 0) _exit(2);
    reset_run_state();
    message_state.error_limit = 1000000;
    options.processor_name = "18F452";
    auto start = std::chrono::steady_clock::now();
    FILE* in = fopen("prog.sym", "r");
    FILE* out = fopen("out.sym", "w");
    if (!in || !out) _exit(2);
    double phases[3];
    try {
        auto at = std::chrono::steady_clock::now();
        norval_format.read(in, "prog.sym");
        phases[0] = seconds_since(at);
        at = std::chrono::steady_clock::now();
        normalize_store();
        phases[1] = seconds_since(at);
        at = std::chrono::steady_clock::now();
        norval_format.write(out, "out.sym");
        phases[2] = seconds_since(at);
    } catch (const RunEnd&) {
        _exit(3);
    }
    fclose(out);
    fclose(in);
    double elapsed = seconds_since(start);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    dprintf(report, "%f %ld %f %f %f\n", elapsed, usage.ru_maxrss, phases[0], phases[1], phases[2]);
    _exit(0);
}

bool measure(const std::string& dir, double* elapsed, long* peak_kib, double* phases) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        timed_run(dir, fds[1]);
    }
    close(fds[1]);
    char text[128] = {0};
    ssize_t got = read(fds[0], text, sizeof text - 1);
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return got > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
           sscanf(text, "%lf %ld %lf %lf %lf", elapsed, peak_kib, &phases[0], &phases[1],
                  &phases[2]) == 5;
}

} // namespace

int main(int argc, char** argv) {
    std::string root;
    if (argc > 1) {
        root = argv[1];
    } else {
        char pattern[] = "/tmp/symvert-debug-bench-XXXXXX";
        if (!mkdtemp(pattern)) return 2;
        root = pattern;
    }
    const Size full = {500, 200000, 1000000};
    const Size tenth = {50, 20000, 100000};
    double times[2];
    long peaks[2];
    const Size* sizes[2] = {&tenth, &full};
    for (int k = 0; k < 2; ++k) {
        std::string dir = root + (k == 0 ? "/tenth" : "/full");
        if (system(("mkdir -p " + dir).c_str()) != 0) return 2;
        auto start = std::chrono::steady_clock::now();
        generate(dir, *sizes[k]);
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
