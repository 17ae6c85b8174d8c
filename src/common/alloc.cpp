#include "common/alloc.h"

#include <cstdio>
#include <new>

#include "common/alert.h"

namespace {
size_t failed_request = 0;
}

void report_out_of_memory(size_t size) {
    fprintf(stderr, "can't allocate %zu bytes of memory\n", size);
    fflush(stderr);
}

void out_of_memory(size_t size) {
    report_out_of_memory(size);
    end_run(1);
}

size_t last_failed_allocation() {
    return failed_request;
}

// Every allocation of the program goes through here: a request that cannot be met is
// remembered with its size before std::bad_alloc unwinds the run, so that the run ends
// with the checked allocator's message and that size, whichever container made the
// request. Under AddressSanitizer its own allocator does the reporting.
#if defined(__SANITIZE_ADDRESS__)
#define SYMVERT_OWN_ALLOCATOR 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SYMVERT_OWN_ALLOCATOR 0
#endif
#endif
#ifndef SYMVERT_OWN_ALLOCATOR
#define SYMVERT_OWN_ALLOCATOR 1
#endif

#if SYMVERT_OWN_ALLOCATOR
#include <cstdlib>

void* operator new(size_t size) {
    if (void* block = malloc(size ? size : 1)) return block;
    failed_request = size;
    throw std::bad_alloc();
}
void* operator new[](size_t size) {
    return operator new(size);
}
void operator delete(void* block) noexcept {
    free(block);
}
void operator delete[](void* block) noexcept {
    free(block);
}
void operator delete(void* block, size_t) noexcept {
    free(block);
}
void operator delete[](void* block, size_t) noexcept {
    free(block);
}
#endif
