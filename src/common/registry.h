// Installation settings. On Windows these are registry values under the product key;
// this build has no registry, so both values are absent and the documented fall-backs
// (installation two levels above the program, language 9) apply.
#pragma once

#include <cstdint>
#include <string>

// 0 on success; otherwise a system error number (2 when the value does not exist).
int registry_dword(const char* value_name, uint32_t* value);
int registry_string(const char* value_name, std::string* value);
