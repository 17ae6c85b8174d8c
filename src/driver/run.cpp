#include "driver/run.h"

#include <cstdio>
#include <new>

#include "common/alert.h"
#include "common/alloc.h"
#include "common/getargs.h"
#include "common/options.h"
#include "common/osdep.h"
#include "common/textio.h"
#include "driver/formats.h"
#include "driver/normalize.h"
#include "driver/options.h"
#include "formats/native/sdb.h"
#include "model/machine.h"
#include "model/run.h"
#include "model/store.h"
#include "model/type.h"

namespace {

// Argument words from standard input or an "@" command file.
std::vector<std::string> acquire_words(Run& run, const std::vector<std::string>& args) {
    if (!args.empty() && !(args.size() == 1 && args[0][0] == '@')) return args;
    if (!args.empty()) {
        const char* file = args[0].c_str() + 1;
        if (!freopen(file, "r", stdin)) fatal_message(run.messages, 141, "command", file);
    }
    std::vector<std::string> words =
        getargs(run.messages, "symvert", args.empty() ? "standard input" : args[0].c_str() + 1);
    words.erase(words.begin()); // stands where a program name would
    return words;
}

void reopen_input(Run& run, const char* name, const char* mode) {
    if (!freopen(name, mode, stdin)) fatal_message(run.messages, 141, "input", name);
}

const FormatDescriptor& detect_format(Run& run, const char* name) {
    verbose(run.options, "Checking '%s' file type ...", name);
    if (run.options.input_format != 0) {
        const FormatDescriptor& format = format_at(run.options.input_format);
        verbose(run.options, "Defaulting to %s", format.name);
        return format;
    }
    for (unsigned k = 1; k <= FORMAT_COUNT; ++k) {
        const FormatDescriptor& format = format_at(k);
        rewind(stdin);
        if (format.detect(run, stdin)) {
            verbose(run.options, "Confirmed as %s", format.name);
            return format;
        }
        verbose(run.options, "Not %s", format.name);
    }
    fatal_message(run.messages, 605);
}

// The size a reader's allowance is measured by: a regular file's size. A device or pipe
// has none; its reading is bounded by the text readers' limits, and it is measured as a
// file of the largest size they accept.
uint64_t input_size_for_allowance() {
    uint64_t size;
    return regular_file_size(stdin, &size) ? size : TEXT_IMAGE_LIMIT;
}

void read_inputs(Run& run, const RunTables& tables) {
    int count = 0;
    for (const std::string& input : tables.inputs) {
        const char* name = input.c_str();
        run.messages.current_input = input;
        reopen_input(run, name, "rb");
        const FormatDescriptor& format = detect_format(run, name);
        if (!format.binary)
            reopen_input(run, name, "r");
        else
            rewind(stdin);
        if (run.options.dump_inputs) {
            fflush(stderr);
            begin_read_allowance(run, name, input_size_for_allowance(), 419);
            bool dumped = format.dump(run, stdin);
            end_read_allowance(run);
            if (!dumped) message(run.messages, 634, name);
            fputc('\n', stdout);
            fflush(stdout);
        } else if (!run.options.identify_only) {
            verbose(run.options, "Reading '%s' as %s", name, format.name);
            fflush(stderr);
            begin_read_allowance(run, name, input_size_for_allowance());
            format.read(run, stdin, name);
            end_read_allowance(run);
            fflush(stdout);
        }
        ++count;
    }
    verbose(run.options, "Read %d input files", count);
    if (run.options.verbose_level != 0) dump_global_scope(run, stderr);
}

void write_outputs(Run& run, const RunTables& tables) {
    // Standard input is done with; it is left attached to an empty stream.
    if (!freopen(NULL_DEVICE, "r", stdin)) fclose(stdin);
    std::string last_output_name;
    const std::string first_input = tables.inputs.empty() ? "" : tables.inputs[0];
    int written = 0;
    for (const OutputRequest& request : tables.outputs) {
        const FormatDescriptor& format = format_at(request.format);
        std::string name =
            output_file_name(run, request, last_output_name, first_input, format.extension);
        last_output_name = name;
        fflush(stdout);
        if (!freopen(name.c_str(), format.binary ? "wb" : "w", stdout))
            fatal_message(run.messages, 378, "output", name.c_str());
        verbose(run.options, "Writing '%s' as %s", name.c_str(), format.name);
        fflush(stderr);
        format.write(run, stdout, name.c_str());
        fflush(stdout);
        ++written;
    }
    if (written > 1) verbose(run.options, "Wrote %d output files", written);
}

int run_words(Run& run, const std::vector<std::string>& args) {
    std::vector<std::string> words = acquire_words(run, args);
    RunTables tables = parse_command_line(run, words);
    set_message_context(run.messages, tables.inputs.empty() ? nullptr : tables.inputs[0].c_str());
    if (tables.outputs.empty() && !run.options.dump_inputs && !run.options.identify_only)
        message(run.messages, 613);
    if (tables.inputs.empty()) fatal_message(run.messages, 614);
    read_inputs(run, tables);
    if (run.options.identify_only) return 0;
    normalize_store(run);
    write_outputs(run, tables);
    return errors_reported(run.messages) ? 1 : 0;
}

} // namespace

int run_program(const std::vector<std::string>& args) {
    Run run;
    try {
        int status = run_words(run, args);
        fflush(stdout);
        fflush(stderr);
        return status;
    } catch (const RunEnd& end) {
        return end.status;
    } catch (const std::bad_alloc&) {
        fflush(stdout);
        report_out_of_memory(last_failed_allocation());
        return 1;
    }
}
