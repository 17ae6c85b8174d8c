#include "common/options.h"

#include <cstdarg>
#include <cstdio>

std::string apply_pathspec(const Options& options, const std::string& name) {
    if (!options.pathspec_set) return name;
    size_t at = name.find(options.pathspec_find);
    if (at == std::string::npos) return name;
    std::string out = name;
    out.replace(at, options.pathspec_find.size(), options.pathspec_replace);
    return out;
}

bool is_program_class(const Options& options, const char* name) {
    for (const std::string& program_class : options.program_classes)
        if (program_class == name) return true;
    return false;
}

void verbose(const Options& options, const char* format, ...) {
    if (options.verbose_level == 0) return;
    fflush(stdout);
    fputs("==> ", stderr);
    va_list args;
    va_start(args, format);
    vfprintf(stderr, format, args);
    va_end(args);
    fputc('\n', stderr);
    fflush(stderr);
}
