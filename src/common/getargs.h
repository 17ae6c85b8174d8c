// Argument words read from standard input or a command file, for a run started with
// no words or with "@file".
#pragma once

#include <cstdio>
#include <string>
#include <vector>

// Reads words from the stream. Entry 0 is the empty string that stands where a program
// name would; the result's size is the word count. An interactive stream (a terminal)
// is read one logical line at a time, with the prompt "name> ".
std::vector<std::string> getargs(FILE* in, const char* program_name, bool interactive);

// The same on standard input, interactive when it is a terminal.
std::vector<std::string> getargs(const char* program_name);
