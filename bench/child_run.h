// Runs one measurement in a child process of its own, so that the peak memory it
// reports is its own and the next measurement starts from a fresh process.
#pragma once

#include <string>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

// The child calls work(dir, fd), which writes one Result to fd and ends the child with
// _exit(0) (another status on failure). Answers whether a whole Result arrived.
template <typename Result>
bool run_in_child(void (*work)(const std::string& dir, int fd), const std::string& dir,
                  Result* result) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        work(dir, fds[1]);
        _exit(1);
    }
    close(fds[1]);
    ssize_t got = read(fds[0], result, sizeof *result);
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return got == static_cast<ssize_t>(sizeof *result) && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}
