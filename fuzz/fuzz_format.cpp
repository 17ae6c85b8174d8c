// libFuzzer target: what fuzz/targets.h describes for the target named at build time
// (a format key, "sdb" or "dwarf"). ::Run with -close_fd_mask=3 to keep messages and dumps
// off the terminal.
#include <cstdio>
#include <cstdlib>

#include "targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fuzz::Target target = [] {
        fuzz::Target chosen;
        if (!chosen.choose(SYMVERT_FUZZ_TARGET)) {
            fprintf(stderr, "no fuzz target %s\n", SYMVERT_FUZZ_TARGET);
            abort();
        }
        return chosen;
    }();
    target.run(data, size);
    return 0;
}
