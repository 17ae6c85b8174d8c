// Benchmark: a side file whose module scope declares one name many times, each time
// with another address. Every declaration looks for the latest one of its name, so the
// reading time shows whether that look-up stays constant as the scope grows.
//
// Prints the time for 10k, 20k, 40k, 80k and 160k declarations and the ratio of each to
// the first: a linear reader keeps the ratio near the ratio of the counts.
//
// usage: redeclaration_bench
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "common/alert.h"
#include "common/options.h"
#include "driver/run.h"
#include "formats/sdb.h"
#include "model/machine.h"
#include "model/type.h"

namespace {

double read_seconds(int count) {
    std::string text = "[p GLOBOPT AUTOSTATIC ]\n\"1 m.c\n";
    for (int k = 0; k < count; ++k)
        text += "[v _x `uc 0 e 1 @" + std::to_string(k) + " ]\n";
    std::vector<uint8_t> bytes(text.begin(), text.end());
    reset_run_state();
    options.processor_name = "16F877";
    auto start = std::chrono::steady_clock::now();
    try {
        read_sdb_contents("m.obj", "m.sdb", &bytes);
    } catch (const RunEnd&) {
        return -1;
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main() {
    const int counts[] = {10000, 20000, 40000, 80000, 160000};
    double first = 0;
    printf("%10s %10s %8s %8s\n", "declared", "seconds", "ratio", "counts");
    for (int count : counts) {
        double best = 1e9;
        for (int run = 0; run < 3; ++run) {
            double t = read_seconds(count);
            if (t >= 0 && t < best) best = t;
        }
        if (first == 0) first = best;
        printf("%10d %10.4f %8.1f %8.1f\n", count, best, best / first, double(count) / counts[0]);
    }
    return 0;
}
