// Argument words read from standard input or a command file, for a run started with
// no words or with "@file".
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "common/alert.h"

// Reads words from the stream. Entry 0 is the empty string that stands where a program
// name would; the result's size is the word count. An interactive stream (a terminal)
// is read one logical line at a time, with the prompt "name> ".
// Input past COMMAND_TEXT_LIMIT bytes (a device that never ends, say) ends the run with
// message 416 naming the source.
std::vector<std::string> getargs(MessageState& messages, FILE* in, const char* program_name,
                                 bool interactive, const char* source = "standard input");

// The same on standard input, interactive when it is a terminal.
std::vector<std::string> getargs(MessageState& messages, const char* program_name,
                                 const char* source = "standard input");

// The most a command file or standard input may hold: 127 inputs and 127 outputs with
// names of 255 characters and every option come to well under 100 KiB.
constexpr uint64_t COMMAND_TEXT_LIMIT = uint64_t(1) << 20;
