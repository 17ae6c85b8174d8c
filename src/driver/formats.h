// The registry: the ordered table of the 15 formats. Its order is the detection order
// and the listing order; format numbers are 1-based positions in it (0 = none).
#pragma once

#include "common/format.h"

struct Run;

const unsigned FORMAT_COUNT = 15;

// The format with that 1-based number.
const FormatDescriptor& format_at(unsigned number);

// Resolves a -i/-o key: exact match, else the first entry it abbreviates (message 603
// for each further one); 602 for an empty key and 604 for no match end the run.
unsigned find_format_key(Run& run, const char* key);

// The -l listing, on standard error.
void print_format_listing();
