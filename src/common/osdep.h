// Operating-system services: paths, the running program, the installation directory,
// the time stamp written into files, the version banner. One interface for both
// platforms: osdep.cpp holds what they share, osdep_posix.cpp and osdep_win32.cpp what
// each does its own way (the build takes one of the two).
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

// The separator path_join puts between a directory and a name: "/" on POSIX systems,
// "\\" on Windows.
extern const char PATH_SEPARATOR;
// The device that swallows what is written to it and reads as empty ("/dev/null", "NUL").
extern const char* const NULL_DEVICE;

// Directory joined to name with one PATH_SEPARATOR between them (a trailing separator of
// dir and a leading one of name give way to it); null when dir is empty.
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
// A time in local time as the text the C standard gives ctime, "Sun Sep  9 01:46:40
// 2001\n" (the day padded with a blank, which not every runtime's ctime does); empty
// when it cannot be converted.
std::string ctime_text(time_t when);

// The last line of the version banner: where this build takes its settings from.
extern const char* const BUILD_NOTICE;
void print_version_banner();
void upper_case(char* text);

// Case-insensitive comparison of two texts.
int stricmp_portable(const char* a, const char* b);

// Whether standard input is a terminal (words read from it are prompted for).
bool stdin_is_terminal();
// The size of the file open on stream when it is a regular file; false for a device or
// a pipe, which have none.
bool regular_file_size(FILE* stream, uint64_t* size);
// A text that names the file open on stream, the same for every name of the same file
// (the device and file number, or the volume and file index); empty when unknown.
std::string file_identity(FILE* stream);
// A time as a calendar date and time in UTC, or in the local time zone; false when it
// cannot be converted.
bool utc_calendar(time_t when, tm* out);
bool local_calendar(time_t when, tm* out);

// The whole rest of a stream, from its current position, into *out; false (and *out
// empty) when it holds more than limit bytes, as a device that never ends does.
bool read_stream(FILE* stream, uint64_t limit, std::vector<uint8_t>* out);

// For the tools built beside the program (the damage sweep, the fuzz targets and their
// replay): a stream that reads the given bytes, opened in binary mode (the caller keeps
// them while it is open; null when it cannot be made); this process's number, and
// whether a process of a number runs.
FILE* open_bytes_stream(const uint8_t* data, size_t size);
long process_id();
bool process_running(long id);

// Copies a string into a new owned buffer.
std::unique_ptr<char[]> copy_text(const std::string& text);
