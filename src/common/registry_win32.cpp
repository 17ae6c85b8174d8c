// The Windows registry, read only.
#include <windows.h>

#include "common/registry.h"
#include "common/version.h"

namespace {

const char PRODUCT_KEY[] = "Software\\NORVALE Software\\QXCC\\std\\" SYMVERT_VERSION;
const char INSTALLATION_KEY[] = "Software\\NORVALE Software\\QXCC\\std\\" SYMVERT_VERSION "\\PL3";
const DWORD VALUE_BUFFER = 2048;
const DWORD EXPANDED_LIMIT = 4099; // characters of an expanded value

// Reads one value of a key of HKEY_LOCAL_MACHINE into buffer; *size is the buffer's size
// on entry and the value's on return. 0 or the system's error number.
int query_value(const char* key_name, const char* value_name, DWORD* type, BYTE* buffer,
                DWORD* size) {
    HKEY key;
    LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_name, 0, KEY_READ, &key);
    if (status != ERROR_SUCCESS) return static_cast<int>(status);
    status = RegQueryValueExA(key, value_name, nullptr, type, buffer, size);
    RegCloseKey(key);
    return static_cast<int>(status);
}

} // namespace

int registry_dword(const char* value_name, uint32_t* value) {
    DWORD type = 0, number = 0, size = sizeof number;
    int status =
        query_value(PRODUCT_KEY, value_name, &type, reinterpret_cast<BYTE*>(&number), &size);
    // A value of another type but no larger than a DWORD reads without error.
    if (status == 0 && (type != REG_DWORD || size != sizeof number)) return REGISTRY_WRONG_TYPE;
    if (status == ERROR_MORE_DATA) return REGISTRY_WRONG_TYPE;
    if (status == 0) *value = number;
    return status;
}

int registry_string(const char* value_name, std::string* value) {
    char buffer[VALUE_BUFFER + 1];
    DWORD type = 0, size = VALUE_BUFFER;
    int status =
        query_value(INSTALLATION_KEY, value_name, &type, reinterpret_cast<BYTE*>(buffer), &size);
    if (status != 0) return status;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return REGISTRY_WRONG_TYPE;
    // A stored text need not end in a zero byte.
    buffer[size] = '\0';
    if (type == REG_SZ) {
        *value = buffer;
        return 0;
    }
    char expanded[EXPANDED_LIMIT + 1];
    DWORD needed = ExpandEnvironmentStringsA(buffer, expanded, sizeof expanded);
    if (needed == 0) return static_cast<int>(GetLastError());
    if (needed > sizeof expanded) return ERROR_INSUFFICIENT_BUFFER;
    *value = expanded;
    return 0;
}
