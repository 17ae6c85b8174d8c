// The checked allocator: exhaustion ends the run with "can't allocate %u bytes of
// memory".
#pragma once

#include <cstddef>

// Reports exhaustion for a request of size bytes and ends the run (status 1).
[[noreturn]] void out_of_memory(size_t size);
// Only the report, for the handler that ends the run itself.
void report_out_of_memory(size_t size);
// The size of the last request that operator new could not meet.
size_t last_failed_allocation();
