// The run from the argument words to the exit status.
#pragma once

#include <string>
#include <vector>

// The whole run, with a run object of its own (model/run.h). args are the program's argument words
// without the program name. Answers the exit status; fatal paths end it by RunEnd, which this
// catches.
int run_program(const std::vector<std::string>& args);
