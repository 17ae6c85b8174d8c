// Replays kept fuzz inputs through a target's code, built with the ordinary compiler:
// each file named, and each file of each directory named (in name order), runs once as
// the libFuzzer target would run it. A crash, a sanitizer report or an input that takes
// too long fails; messages and dumps go to the null device. Built for Windows too.
//
// usage: fuzz_replay TARGET FILE_OR_DIRECTORY...
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "targets.h"

namespace {

const unsigned INPUT_SECONDS = 20; // for one input, under the sanitizers on a slow machine

int report_fd = 2; // standard error as it was before it went to the null device

// Ends the process when one input runs longer than INPUT_SECONDS.
class Watchdog {
  public:
    Watchdog() : thread_([this] { watch(); }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        changed_.notify_one();
        thread_.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    void start(const std::string& input) {
        std::lock_guard<std::mutex> lock(mutex_);
        input_ = input;
        deadline_ = std::chrono::steady_clock::now() + std::chrono::seconds(INPUT_SECONDS);
        changed_.notify_one();
    }

  private:
    void watch() {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!done_) {
            if (!input_.empty() && std::chrono::steady_clock::now() >= deadline_) {
                const char text[] = "fuzz_replay: an input took too long (hang): ";
                (void)!write(report_fd, text, sizeof text - 1);
                (void)!write(report_fd, input_.c_str(), unsigned(input_.size()));
                (void)!write(report_fd, "\n", 1);
                _exit(2);
            }
            if (input_.empty())
                changed_.wait(lock);
            else
                changed_.wait_until(lock, deadline_);
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::string input_;
    std::chrono::steady_clock::time_point deadline_;
    bool done_ = false;
    std::thread thread_;
};

} // namespace

// Sanitizer reports go where standard error went before; present in sanitized builds only.
extern "C" void __sanitizer_set_report_fd(void* fd) __attribute__((weak));

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: fuzz_replay TARGET FILE_OR_DIRECTORY...\n");
        return 2;
    }
    fuzz::Target target;
    if (!target.choose(argv[1])) {
        fprintf(stderr, "fuzz_replay: no target %s\n", argv[1]);
        return 2;
    }
    namespace fs = std::filesystem;
    std::vector<std::string> inputs;
    for (int k = 2; k < argc; ++k) {
        std::error_code error;
        if (fs::is_directory(argv[k], error)) {
            std::vector<std::string> files;
            for (const fs::directory_entry& entry : fs::directory_iterator(argv[k]))
                if (entry.is_regular_file()) files.push_back(entry.path().string());
            std::sort(files.begin(), files.end());
            inputs.insert(inputs.end(), files.begin(), files.end());
        } else if (fs::is_regular_file(argv[k], error)) {
            inputs.push_back(argv[k]);
        } else {
            fprintf(stderr, "fuzz_replay: no file or directory %s\n", argv[k]);
            return 2;
        }
    }
    FILE* report = fdopen(dup(1), "w");
    report_fd = dup(2);
    if (!report || report_fd < 0 || !freopen(NULL_DEVICE, "w", stdout) ||
        !freopen(NULL_DEVICE, "w", stderr))
        return 2;
    // Buffered, as a file would be: the Windows runtime takes NUL for a terminal and would
    // write every character on its own.
    static char out_buffer[1 << 16], error_buffer[1 << 16];
    setvbuf(stdout, out_buffer, _IOFBF, sizeof out_buffer);
    setvbuf(stderr, error_buffer, _IOFBF, sizeof error_buffer);
    if (__sanitizer_set_report_fd)
        __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<intptr_t>(report_fd)));
    auto start = std::chrono::steady_clock::now();
    {
        Watchdog watchdog;
        for (const std::string& input : inputs) {
            std::ifstream in(input, std::ios::binary);
            std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
            fprintf(report, "%s\n", input.c_str());
            fflush(report);
            watchdog.start(input);
            target.run(bytes.data(), bytes.size());
        }
    }
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    fprintf(report, "%s: %zu inputs in %.1f s\n", argv[1], inputs.size(), seconds);
    fclose(report);
    return 0;
}
