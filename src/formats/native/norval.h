// What the NORVALE symbol-file writer keeps for the rest of the run (run.norval): the "%locals"
// line and each file's header line are written at most once.
#pragma once

#include <cstdint>

struct NorvalWriter {
    bool locals_written = false;
    uint32_t last_file_headed = 0;
};
