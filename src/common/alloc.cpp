#include "common/alloc.h"

#include <cstdio>
#include <new>
#include <stdexcept>

#include "common/alert.h"

void out_of_memory(size_t size) {
    fprintf(stderr, "can't allocate %u bytes of memory\n", static_cast<unsigned>(size));
    end_run(1);
}

std::vector<uint8_t> alloc(size_t size) {
    try {
        return std::vector<uint8_t>(size, 0);
    } catch (const std::bad_alloc&) {
        out_of_memory(size);
    } catch (const std::length_error&) {
        out_of_memory(size);
    }
}
