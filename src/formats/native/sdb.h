// Symbolic-debug side files (".sdb"): the compiler's description of one object module's
// scopes, variables and types, read into the type model.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "model/type.h"

struct Run;

// "main.obj" gives "main.sdb": everything from the last "." replaced.
std::string sdb_file_name(const char* object_name);

// Reads the side file of an object module into a module scope appended to the global
// scope. The scope is of class 15 when the side file is missing or empty; the answer is
// null when no processor could be selected.
ScopeEntry* read_sdb(Run& run, const char* object_name);

// The same from side-file contents already in memory; null contents stand for a file
// that cannot be opened. sdb_name is the name messages give.
ScopeEntry* read_sdb_contents(Run& run, const char* object_name, const char* sdb_name,
                              const std::vector<uint8_t>* contents);

// The scope's entries, nested scopes indented by 4 more columns.
void dump_scope(Run& run, const ScopeEntry* scope, FILE* out = stderr, int indent = 0);
// "Global block:" and the dump of the global scope, when there is one.
void dump_global_scope(Run& run, FILE* out = stderr);
