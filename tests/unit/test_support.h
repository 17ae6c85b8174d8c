// Helpers shared by the unit tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "common/alert.h"
#include "driver/run.h"

// Writes text to a fresh temporary file and answers its path.
inline std::string temp_file(const std::string& text, const char* suffix = ".txt") {
    static int counter = 0;
    std::string path = std::string(testing::TempDir()) + "symvert_unit_" +
                       std::to_string(::getpid()) + "_" + std::to_string(counter++) + suffix;
    FILE* f = fopen(path.c_str(), "wb");
    fwrite(text.data(), 1, text.size(), f);
    fclose(f);
    return path;
}

// Runs f with standard error captured; answers what it wrote. A RunEnd thrown by f is
// caught and its status stored in *status (which is -1 when f returned normally).
template <typename F> std::string capture_stderr(F f, int* status = nullptr) {
    testing::internal::CaptureStderr();
    int got = -1;
    try {
        f();
    } catch (const RunEnd& end) {
        got = end.status;
    }
    fflush(stderr);
    if (status) *status = got;
    return testing::internal::GetCapturedStderr();
}

// What f writes to the stream it is given, as text.
template <typename F> std::string written_text(F f) {
    char* text = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    f(out);
    fclose(out);
    std::string result(text, size);
    free(text);
    return result;
}

// A clean process state with no message description file at all.
inline void reset_without_messages() {
    reset_run_state();
    message_state.message_file_named = true; // no language file
    message_state.fallback_loaded = true;    // and an empty fallback table
}

// The rest of a stream, whatever its length.
inline std::vector<uint8_t> read_all(FILE* in) {
    std::vector<uint8_t> bytes;
    uint8_t buffer[65536];
    for (size_t got; (got = fread(buffer, 1, sizeof buffer, in)) > 0;)
        bytes.insert(bytes.end(), buffer, buffer + got);
    return bytes;
}
