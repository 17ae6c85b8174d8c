// libFuzzer target: one format's detection, read (with normalisation and every writer)
// and dump over the fuzzer's input. The format key is fixed at build time. Run with
// -close_fd_mask=3 to keep messages and dumps off the terminal.
#include "../tests/damage/exercise.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const unsigned format = find_format_key(SYMVERT_FUZZ_FORMAT);
    exercise(format, data, size);
    return 0;
}
