#include "common/osdep.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/registry.h"
#include "common/version.h"

namespace {

const char* const SUBDIRECTORIES[] = {nullptr,   "bin", "lib",     "help",
                                      "include", "dat", "sources", "resources"};

bool is_separator(char c) {
    return c == '/' || c == '\\';
}

const char* last_separator(const char* path) {
    const char* p = strrchr(path, '\\');
    if (!p) p = strrchr(path, '/');
    if (!p) p = strrchr(path, ':');
    return p;
}

} // namespace

std::unique_ptr<char[]> copy_text(const std::string& text) {
    auto out = std::make_unique<char[]>(text.size() + 1);
    memcpy(out.get(), text.c_str(), text.size() + 1);
    return out;
}

std::unique_ptr<char[]> path_join(const char* dir, const char* name) {
    if (!dir || !*dir) return nullptr;
    std::string out = dir;
    if (is_separator(out.back())) out.pop_back();
    out += PATH_SEPARATOR;
    if (is_separator(*name)) ++name;
    out += name;
    return copy_text(out);
}

bool is_absolute_path(const char* name) {
    if (!name || !*name) return false;
    return name[0] == '/' || name[1] == ':' || (name[0] == '\\' && name[1] == '\\');
}

const char* base_name(const char* path) {
    if (!path) return nullptr;
    const char* p = last_separator(path);
    return p ? p + 1 : path;
}

std::unique_ptr<char[]> dir_name(const char* path) {
    if (!path) return nullptr;
    const char* p = last_separator(path);
    if (!p) return nullptr;
    return copy_text(std::string(path, p));
}

std::unique_ptr<char[]> install_dir(int index) {
    std::string dir;
    std::string value;
    if (registry_string("instdir", &value) == 0) {
        dir = value;
    } else {
        std::unique_ptr<char[]> program = program_path();
        std::unique_ptr<char[]> bin = dir_name(program.get());
        std::unique_ptr<char[]> top = dir_name(bin.get());
        if (!top) return nullptr;
        dir = top.get();
        if (dir.empty()) dir = "/";
    }
    if (index <= 0 || index > 7) return copy_text(dir);
    return path_join(dir.c_str(), SUBDIRECTORIES[index]);
}

std::unique_ptr<char[]> install_file(int index, const char* name) {
    if (is_absolute_path(name)) return copy_text(name);
    std::unique_ptr<char[]> dir = install_dir(index);
    if (!dir) return nullptr;
    return path_join(dir.get(), name);
}

namespace {

// SOURCE_DATE_EPOCH as a time, when it is set to a valid count of seconds.
bool source_date_epoch(time_t* out) {
    const char* epoch = getenv("SOURCE_DATE_EPOCH");
    if (!epoch || !*epoch) return false;
    char* end = nullptr;
    errno = 0;
    long long value = strtoll(epoch, &end, 10);
    if (errno != 0 || !end || *end != '\0' || value < 0) return false;
    *out = static_cast<time_t>(value);
    return true;
}

} // namespace

time_t now_time() {
    time_t epoch;
    if (source_date_epoch(&epoch)) return epoch;
    return time(nullptr);
}

bool now_calendar(tm* out) {
    time_t epoch;
    // A given epoch is shown in UTC, so that the file does not depend on the time zone
    // of the machine that wrote it; the real clock is shown in local time.
    if (source_date_epoch(&epoch)) return utc_calendar(epoch, out);
    return local_calendar(time(nullptr), out);
}

std::string ctime_text(time_t when) {
    static const char* const DAYS[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const MONTHS[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    tm at;
    if (!local_calendar(when, &at) || at.tm_wday < 0 || at.tm_wday > 6 || at.tm_mon < 0 ||
        at.tm_mon > 11)
        return "";
    char text[64];
    snprintf(text, sizeof text, "%s %s%3d %.2d:%.2d:%.2d %d\n", DAYS[at.tm_wday], MONTHS[at.tm_mon],
             at.tm_mday, at.tm_hour, at.tm_min, at.tm_sec, at.tm_year + 1900);
    return text;
}

void upper_case(char* text) {
    for (; *text; ++text)
        *text = static_cast<char>(toupper(static_cast<unsigned char>(*text)));
}

void print_version_banner() {
    char edition[] = "std";
    upper_case(edition);
    printf("\nProduct:\t%s\nEdition:\t%s\nComponent:\t%s\nVersion:\t%s%s\nBuild date:\tAug 20 "
           "2009\nRelease:\t%s\n",
           "QXCC", edition, "symvert", SYMVERT_VERSION, "PL3", "");
    printf("%s\n", BUILD_NOTICE);
}

bool read_stream(FILE* stream, uint64_t limit, std::vector<uint8_t>* out) {
    out->clear();
    uint8_t buffer[65536];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, stream)) > 0) {
        if (got > limit - out->size()) {
            out->clear();
            return false;
        }
        out->insert(out->end(), buffer, buffer + got);
    }
    return true;
}
