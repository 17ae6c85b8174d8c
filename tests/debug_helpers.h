// Shared set-up for the type model, processor and side-file tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/alert.h"
#include "common/options.h"
#include "driver/run.h"
#include "formats/native/sdb.h"
#include "model/machine.h"
#include "model/type.h"
#include "test_support.h"

// A clean run with the processor chosen by -p (none when the name is empty), and a
// high error limit so that tests can provoke many errors.
inline void start_run(::Run& run, const char* processor = "16F877") {
    run = ::Run();
    run.messages.error_limit = 100000;
    run.options.processor_name = processor;
    if (*processor) select_processor(run, "");
}

// Reads side-file text as the module "m.obj" (side file "m.sdb").
inline ScopeEntry* read_text(::Run& run, const std::string& text, const char* object = "m.obj") {
    std::vector<uint8_t> bytes(text.begin(), text.end());
    std::string sdb = sdb_file_name(object);
    return read_sdb_contents(run, object, sdb.c_str(), &bytes);
}

// The dump of a scope as text.
inline std::string dump_text(::Run& run, const ScopeEntry* scope) {
    return written_text([&](FILE* out) { dump_scope(run, scope, out); });
}

inline std::string type_text(::Run& run, const Type* type) {
    return written_text([&](FILE* out) { print_type(run, type, out); });
}

// The entries of a scope with the given name, in order.
inline std::vector<ScopeEntry*> entries_named(const ScopeEntry* scope, const std::string& name) {
    std::vector<ScopeEntry*> found;
    for (ScopeEntry* e : scope->scope().entries)
        if (e->name == name) found.push_back(e);
    return found;
}

// The first nested scope of a class.
inline ScopeEntry* first_scope(const ScopeEntry* scope, uint32_t sclass) {
    for (ScopeEntry* e : scope->scope().entries)
        if (e->sclass == sclass) return e;
    return nullptr;
}
