// Operating-system services: paths, the running program, the installation directory,
// the time stamp written into files, the version banner.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

// Directory joined to name with one "/" between them; null when dir is empty.
std::unique_ptr<char[]> path_join(const char* dir, const char* name);
// "/name", "\\\\server", or a drive letter and ":".
bool is_absolute_path(const char* name);
// The part after the last "\", else after the last "/", else after the last ":".
const char* base_name(const char* path);
// Everything before the last "\", else "/", else ":"; null when there is none.
std::unique_ptr<char[]> dir_name(const char* path);
// Full path of the running program file, or null.
std::unique_ptr<char[]> program_path();
// Installation directory (index 0) or its subdirectory 1..7
// ("bin", "lib", "help", "include", "dat", "sources", "resources"); null when unknown.
std::unique_ptr<char[]> install_dir(int index);
// The name itself when absolute, else joined to install_dir(index).
std::unique_ptr<char[]> install_file(int index, const char* name);

// "Now" for time stamps written into files: SOURCE_DATE_EPOCH when set.
time_t now_time();
// "Now" as a calendar date and time for dates written into files: SOURCE_DATE_EPOCH in
// UTC when set, else the clock in local time. False when it cannot be converted.
bool now_calendar(tm* out);

void print_version_banner();
void upper_case(char* text);

// Case-insensitive comparison of two texts.
int stricmp_portable(const char* a, const char* b);

// The whole rest of a stream, from its current position, into *out; false (and *out
// empty) when it holds more than limit bytes, as a device that never ends does.
bool read_stream(FILE* stream, uint64_t limit, std::vector<uint8_t>* out);

// Copies a string into a new owned buffer.
std::unique_ptr<char[]> copy_text(const std::string& text);
