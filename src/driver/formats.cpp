#include "driver/formats.h"

#include <cstring>

#include "common/alert.h"
#include "formats/descriptors.h"
#include "model/run.h"

namespace {

const FormatDescriptor* const REGISTRY[FORMAT_COUNT] = {
    &norval_format, &pe_format,    &eomf51_format, &omf51_format, &ihex_format,
    &s19_format,    &cod_format,   &mcoff_format,  &coff_format,  &icoff_format,
    &elf_format,    &ubrof_format, &htk_format,    &tsk_format,   &titxt_format,
};

} // namespace

const FormatDescriptor& format_at(unsigned number) {
    return *REGISTRY[number - 1];
}

unsigned find_format_key(Run& run, const char* key) {
    if (!key || !*key) fatal_message(run.messages, 602);
    size_t length = strlen(key);
    unsigned candidate = 0;
    for (unsigned k = 0; k < FORMAT_COUNT; ++k) {
        const char* entry_key = REGISTRY[k]->key;
        if (strcmp(entry_key, key) == 0) return k + 1;
        if (strncmp(entry_key, key, length) == 0) {
            if (candidate == 0)
                candidate = k + 1;
            else
                message(run.messages, 603, key);
        }
    }
    if (candidate == 0) fatal_message(run.messages, 604, key);
    return candidate;
}

void print_format_listing() {
    fputs("Formats available are:\n\nKey        Name\n\n", stderr);
    for (const FormatDescriptor* format : REGISTRY)
        fprintf(stderr, "%-10s %s\n", format->key, format->name);
    fputs("\nKeys may be unambiguously abbreviated.\n", stderr);
}
