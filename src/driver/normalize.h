// Completes the store between the last read and the first write: line end addresses,
// per-file tables, sorted and merged data blocks assigned to segments, widened
// segments; with -v, the summary on standard error.
#pragma once

struct Run;

void normalize_store(Run& run);
