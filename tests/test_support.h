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
#include "common/format.h"
#include "common/options.h"
#include "driver/run.h"
#include "model/run.h"

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

using Bytes = std::vector<uint8_t>;

// The parts one after the other: concat for a list of parts, + for two named ones.
inline Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
inline Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// How many times part occurs in text, overlapping occurrences included.
inline size_t count_of(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
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

// A fresh run with no message description file at all.
inline void start_without_messages(MessageState& messages) {
    messages = MessageState();
    messages.message_file_named = true; // no language file
    messages.fallback_loaded = true;    // and an empty fallback table
}

inline void start_without_messages(::Run& run) {
    run = ::Run();
    start_without_messages(run.messages);
}

// The rest of a stream, whatever its length.
inline std::vector<uint8_t> read_all(FILE* in) {
    std::vector<uint8_t> bytes;
    uint8_t buffer[65536];
    for (size_t got; (got = fread(buffer, 1, sizeof buffer, in)) > 0;)
        bytes.insert(bytes.end(), buffer, buffer + got);
    return bytes;
}

// A stream over bytes; an empty one is an empty temporary file, since fmemopen refuses a
// size of 0.
inline FILE* open_bytes(const std::vector<uint8_t>& bytes) {
    if (bytes.empty()) return tmpfile();
    return fmemopen(const_cast<uint8_t*>(bytes.data()), bytes.size(), "rb");
}

// What a format's writer wrote, under the output name given, to out (a fresh temporary file
// when none is given); out is closed.
inline std::vector<uint8_t> written_by(::Run& run, const FormatDescriptor& format, const char* name,
                                       FILE* out = nullptr) {
    if (!out) out = tmpfile();
    format.write(run, out, name);
    fflush(out);
    rewind(out);
    std::vector<uint8_t> bytes = read_all(out);
    fclose(out);
    return bytes;
}

// What an operation on a stream over some bytes answered, printed and reported.
struct Outcome {
    int result = 0;
    std::string out, err;
};

template <typename F>
Outcome run_on(::Run& run, const std::vector<uint8_t>& bytes, F operation, unsigned verbose = 0) {
    run.options.verbose_level = uint8_t(verbose);
    Outcome o;
    FILE* in = open_bytes(bytes);
    testing::internal::CaptureStdout();
    o.err = capture_stderr([&] { o.result = int(operation(in)); });
    fflush(stdout);
    o.out = testing::internal::GetCapturedStdout();
    fclose(in);
    return o;
}

// Whether one line of the messages carries the number and every fragment (the texts
// themselves belong to the message description file).
inline bool has_message(const std::string& messages, unsigned number,
                        std::vector<std::string> fragments = {}) {
    std::string tag = "(" + std::to_string(number) + ")";
    size_t start = 0;
    while (start < messages.size()) {
        size_t end = messages.find('\n', start);
        if (end == std::string::npos) end = messages.size();
        std::string line = messages.substr(start, end - start);
        bool all = line.find(tag) != std::string::npos;
        for (const std::string& f : fragments)
            all = all && line.find(f) != std::string::npos;
        if (all) return true;
        start = end + 1;
    }
    return false;
}
