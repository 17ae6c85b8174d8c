// The POSIX side of the operating-system services (Linux and other Unix systems).
#include <cerrno>
#include <climits>
#include <csignal>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/osdep.h"

const char PATH_SEPARATOR = '/';
const char* const NULL_DEVICE = "/dev/null";
const char* const BUILD_NOTICE =
    "Portable build: settings come from the command line and the environment.";

std::unique_ptr<char[]> program_path() {
    char buffer[PATH_MAX + 1];
    ssize_t length = readlink("/proc/self/exe", buffer, PATH_MAX);
    if (length <= 0) return nullptr;
    buffer[length] = '\0';
    return copy_text(buffer);
}

int stricmp_portable(const char* a, const char* b) {
    return strcasecmp(a, b);
}

bool stdin_is_terminal() {
    return isatty(fileno(stdin)) != 0;
}

bool regular_file_size(FILE* stream, uint64_t* size) {
    struct stat info;
    if (fstat(fileno(stream), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    *size = static_cast<uint64_t>(info.st_size);
    return true;
}

std::string file_identity(FILE* stream) {
    struct stat info;
    if (fstat(fileno(stream), &info) != 0) return "";
    return std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
}

FILE* open_bytes_stream(const uint8_t* data, size_t size) {
    if (size == 0) return tmpfile();
    return fmemopen(const_cast<uint8_t*>(data), size, "rb");
}

long process_id() {
    return static_cast<long>(getpid());
}

bool process_running(long id) {
    return kill(static_cast<pid_t>(id), 0) == 0 || errno != ESRCH;
}

bool utc_calendar(time_t when, tm* out) {
    return gmtime_r(&when, out) != nullptr;
}

bool local_calendar(time_t when, tm* out) {
    return localtime_r(&when, out) != nullptr;
}
