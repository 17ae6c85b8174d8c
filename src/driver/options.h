// The command line: argument words turned into the run options and the tables of
// input files and output requests.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct Run;

const unsigned MAX_FILES = 128;          // input table and output table entries
const unsigned MAX_PROGRAM_CLASSES = 64; // entries including the terminating one
const unsigned MAX_PROCESSOR_ITEMS = 128;
const size_t NAME_BUFFER = 128; // processor name and composed output names

struct OutputRequest {
    unsigned format = 0;             // registry number
    std::optional<std::string> name; // as given on the command line
};

struct RunTables {
    std::vector<std::string> inputs;
    std::vector<OutputRequest> outputs;
};

extern const char* const USAGE_TEXT;

// Parses the words (program name already dropped) into the run options and tables.
// -l, -h, --ver and unknown options end the run.
RunTables parse_command_line(Run& run, const std::vector<std::string>& words);

// The output file name for a request (extension rules, the last-output-name chain).
std::string output_file_name(Run& run, const OutputRequest& request,
                             const std::string& last_output_name, const std::string& first_input,
                             const char* extension);
