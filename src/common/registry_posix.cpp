// No registry on a POSIX system: every value is absent.
#include "common/registry.h"

namespace {
const int VALUE_NOT_FOUND = 2;
}

int registry_dword(const char*, uint32_t*) {
    return VALUE_NOT_FOUND;
}

int registry_string(const char*, std::string*) {
    return VALUE_NOT_FOUND;
}
