// The run options (run.options): set by the command line (driver), read by the store,
// the readers and the writers of the run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Run;

struct Options {
    uint8_t verbose_level = 0;                // each -v and each -c
    bool identify_only = false;               // -c
    bool dump_inputs = false;                 // -d
    bool big_endian = false;                  // -b, and detection of COFF-family and ELF inputs
    bool fake_globals = false;                // -f
    bool fake_redefinitions = false;          // -k
    bool strip_underscore = false;            // -m
    bool strip_extensions = false;            // -e alone
    unsigned input_format = 0;                // -i: registry index, 0 = detect
    std::string processor_name;               // -p, first item
    std::vector<std::string> processor_list;  // -p, further items (at most 127)
    std::vector<std::string> program_classes; // -n (at most 63)
    std::string pathspec_find;                // --pathspec= first item
    std::string pathspec_replace;             // --pathspec= second item
    bool pathspec_set = false;
};

// The --pathspec= substitution: the first occurrence of the find text replaced.
std::string apply_pathspec(const Options& options, const std::string& name);

// Whether a segment name is one of the -n program classes (exact, case-sensitive).
bool is_program_class(const Options& options, const char* name);

// The verbose trace: "==> " and the text on standard error, when -v or -c was given.
void verbose(const Options& options, const char* format, ...) __attribute__((format(printf, 2, 3)));
