// Benchmark: side files that declare one name many times. Every declaration looks for the
// latest one of its name, and every type string for its type's name, so the reading time
// shows whether those look-ups stay constant as the scopes grow. Two shapes:
// - flat: a module scope declares "_x" at ever other addresses;
// - nested: under -k, a function redeclares a local after each line directive, so each
//   redeclaration opens a faked block inside the one before, as deep as the count.
//
// Prints, for each shape, the time for 10k, 20k, 40k, 80k and 160k declarations and the
// ratio of each to the first: a linear reader keeps the ratio near the ratio of the
// counts.
//
// usage: redeclaration_bench
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "common/alert.h"
#include "common/options.h"
#include "driver/run.h"
#include "formats/native/sdb.h"
#include "model/machine.h"
#include "model/run.h"
#include "model/type.h"

namespace {

double read_seconds(bool nested, int count) {
    std::string text = "[p GLOBOPT AUTOSTATIC ]\n\"1 m.c\n";
    if (nested) text += "[v _f `(v 0 e 1 @0 ]\n{\n";
    for (int k = 0; k < count; ++k)
        if (nested)
            text += "\"" + std::to_string(k + 2) + "\n[v x `i 0 a 0 " + std::to_string(k) + " ]\n";
        else
            text += "[v _x `uc 0 e 1 @" + std::to_string(k) + " ]\n";
    if (nested) text += "}\n";
    std::vector<uint8_t> bytes(text.begin(), text.end());
    ::Run run;
    run.options.processor_name = "16F877";
    run.options.fake_redefinitions = nested;
    auto start = std::chrono::steady_clock::now();
    try {
        read_sdb_contents(run, "m.obj", "m.sdb", &bytes);
    } catch (const RunEnd&) {
        return -1;
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main() {
    const int counts[] = {10000, 20000, 40000, 80000, 160000};
    for (bool nested : {false, true}) {
        double first = 0;
        printf("%s\n%10s %10s %8s %8s\n", nested ? "nested (-k)" : "flat", "declared", "seconds",
               "ratio", "counts");
        for (int count : counts) {
            double best = 1e9;
            for (int run = 0; run < 3; ++run) {
                double t = read_seconds(nested, count);
                if (t >= 0 && t < best) best = t;
            }
            if (first == 0) first = best;
            printf("%10d %10.4f %8.1f %8.1f\n", count, best, best / first,
                   double(count) / counts[0]);
        }
    }
    return 0;
}
