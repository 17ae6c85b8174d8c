// One damaged input through a format: detection, the read followed by normalisation
// and every writer, and the dump at verbose levels 0, 1 and 2 (or at one of them). Shared by the
// damage sweep and the fuzz targets. Output goes to the null device; a RunEnd is an allowed
// outcome. Option words (such as -p and -n, which the debug writers need to choose a target) are
// set as the command line would set them before each pass.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "common/alert.h"
#include "common/options.h"
#include "common/osdep.h"
#include "driver/formats.h"
#include "driver/normalize.h"
#include "driver/options.h"
#include "driver/run.h"
#include "model/run.h"
#include "model/store.h"
#include "model/type.h"

// The registry number of the format with this key.
inline unsigned format_number(const char* key) {
    for (unsigned number = 1; number <= FORMAT_COUNT; ++number)
        if (strcmp(format_at(number).key, key) == 0) return number;
    fprintf(stderr, "exercise: no format has the key %s\n", key);
    abort();
}

// Whether the writers have work that they have not done before: a read that left nothing
// for them makes them do what they did for the last such input under the same options,
// so on an empty model they run once per set of options in a process.
inline bool writers_have_new_work(Run& run, const std::vector<std::string>& option_words) {
    bool nothing_read =
        run.store.files.empty() && run.store.symbols.empty() && run.store.bounds.empty() &&
        run.store.segments.empty() && run.store.data.empty() && run.store.lines.empty() &&
        (!run.type_model.global_scope || run.type_model.global_scope->scope().entries.empty());
    if (!nothing_read) return true;
    static std::set<std::vector<std::string>> written_empty;
    return written_empty.insert(option_words).second;
}

// dump_level chooses the one verbose level of the dump; -1 dumps at all three.
inline void exercise(unsigned format_number, const uint8_t* data, size_t length,
                     const std::vector<std::string>& option_words = {}, int dump_level = -1) {
    const FormatDescriptor& format = format_at(format_number);
    for (int pass = 0; pass < 4; ++pass) {
        if (pass > 0 && dump_level >= 0 && pass - 1 != dump_level) continue;
        ::Run run; // each pass is a run of its own
        if (!option_words.empty()) parse_command_line(run, option_words);
        run.options.verbose_level = static_cast<uint8_t>(pass == 0 ? 0 : pass - 1);
        set_message_context(run.messages, "damaged");
        FILE* in = open_bytes_stream(data, length);
        if (!in) {
            perror("exercise: a stream over the input");
            abort();
        }
        // The allowance covers the read or the dump only, as in the program: it ends
        // before the writers run, or when the read ends the run.
        begin_read_allowance(run, "damaged", length, pass == 0 ? 415 : 419);
        try {
            if (pass == 0) {
                format.detect(run, in);
                rewind(in);
                format.read(run, in, "damaged");
            } else {
                format.dump(run, in);
            }
        } catch (const RunEnd&) {
            end_read_allowance(run);
            fclose(in);
            continue;
        }
        end_read_allowance(run);
        fclose(in);
        if (pass > 0) continue;
        try {
            normalize_store(run);
            const bool write = writers_have_new_work(run, option_words);
            for (unsigned k = 1; write && k <= FORMAT_COUNT; ++k) {
                FILE* out = fopen(NULL_DEVICE, "wb");
                format_at(k).write(run, out, NULL_DEVICE);
                fclose(out);
            }
        } catch (const RunEnd&) {
        }
    }
}

inline void exercise(unsigned format_number, const std::vector<uint8_t>& bytes, size_t length,
                     const std::vector<std::string>& option_words = {}, int dump_level = -1) {
    exercise(format_number, bytes.data(), length, option_words, dump_level);
}
