// The run from the argument words to the exit status.
#pragma once

#include <string>
#include <vector>

// Resets the process-wide state, so a run can be started again in-process.
void reset_run_state();

// The whole run. args are the program's argument words without the program name.
// Answers the exit status; fatal paths end it by RunEnd, which this catches.
int run(const std::vector<std::string>& args);
