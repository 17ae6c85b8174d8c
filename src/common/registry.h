// Installation settings: registry values under HKEY_LOCAL_MACHINE. The product key is
// "Software\NORVALE Software\QXCC\std\<version>", the installation key the same followed
// by "\PL3". On Windows they are read from the registry (registry_win32.cpp); a POSIX
// system has no registry, so both values are absent there (registry_posix.cpp) and the
// fall-backs apply: installation two levels above the program, language 9.
#pragma once

#include <cstdint>
#include <string>

// The value's number in the status below when it exists with another type.
constexpr int REGISTRY_WRONG_TYPE = 160;

// A REG_DWORD value of the product key ("language"). 0 on success; otherwise the
// system's error number (2 when the key or the value does not exist), or
// REGISTRY_WRONG_TYPE.
int registry_dword(const char* value_name, uint32_t* value);
// A text value of the installation key ("instdir"): REG_SZ taken as it is, REG_EXPAND_SZ
// with its %NAME% references expanded (a result past 4099 characters fails). Statuses as
// for registry_dword; a value past 2047 bytes fails too.
int registry_string(const char* value_name, std::string* value);
