#include "driver/options.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "common/alert.h"
#include "common/options.h"
#include "common/osdep.h"
#include "driver/formats.h"
#include "model/run.h"

const char* const USAGE_TEXT =
    "SYMVERT: the symbol file reformatter\n"
    "Usage: symvert [options] input_files ... -okey [-okey ... ] output_file\n"
    "Options:\n"
    "\t-v:\tverbose\n"
    "\t-d:\tdump input file\n"
    "\t-c:\tidentify input files only\n"
    "\t-f:\tfake local symbols as globals\n"
    "\t-k:\tfake variable redefinitions with inner blocks\n"
    "\t-okey:\tset output format\n"
    "\t-ikey:\tset input format\n"
    "\t-l:\tlist available formats\n"
    "\t-b:\tspecify big-endian byte ordering\n"
    "\t-m:\tstrip underscore character\n"
    "\t-e:\tstrip file extensions\n"
    "\t-pname:\tset processor name\n"
    "\n"
    "The output file type is required.\n"
    "The input file type(s) will be auto-detected if not specified.\n";

namespace {

std::vector<std::string> split_commas(const char* text) {
    std::vector<std::string> items;
    const char* start = text;
    for (;;) {
        const char* comma = strchr(start, ',');
        if (!comma) {
            items.emplace_back(start);
            return items;
        }
        items.emplace_back(start, comma);
        start = comma + 1;
    }
}

bool starts_with_nocase(const char* text, const char* prefix) {
    return strncasecmp(text, prefix, strlen(prefix)) == 0;
}

class CommandLine {
  public:
    CommandLine(Run& run, const std::vector<std::string>& words) : run(run), words_(words) {}

    RunTables parse() {
        for (index_ = 0; index_ < words_.size(); ++index_) {
            const std::string& word = words_[index_];
            if (!word.empty() && word[0] == '-')
                option(word);
            else
                file_name(word);
            check_limits();
        }
        return std::move(tables_);
    }

  private:
    void check_limits() {
        if (tables_.inputs.size() >= MAX_FILES) fatal_message(run.messages, 611);
        if (tables_.outputs.size() >= MAX_FILES) fatal_message(run.messages, 612);
    }

    void file_name(const std::string& word) {
        if (last_added_ < 0)
            tables_.inputs.push_back(word);
        else
            tables_.outputs[last_added_].name = word;
    }

    void option(const std::string& word) {
        if (word.size() > 1 && word[1] == '-') return long_option(word);
        const char* rest = word.c_str() + 2;
        switch (tolower(static_cast<unsigned char>(word.size() > 1 ? word[1] : '\0'))) {
        case 'v': ++run.options.verbose_level; break;
        case 'c':
            run.options.identify_only = true;
            ++run.options.verbose_level;
            break;
        case 'd': run.options.dump_inputs = true; break;
        case 'b': run.options.big_endian = true; break;
        case 'f': run.options.fake_globals = true; break;
        case 'k': run.options.fake_redefinitions = true; break;
        case 'm': run.options.strip_underscore = true; break;
        case 'l': print_format_listing(); end_run(0);
        case 'h': fputs(USAGE_TEXT, stderr); end_run(1);
        case 'o': output_option(rest); break;
        case 'i': run.options.input_format = find_format_key(run, rest); break;
        case 'p': processor_option(rest); break;
        case 'n': classes_option(rest); break;
        case 'w': warning_option(word.c_str(), rest); break;
        case 'e': template_option(rest); break;
        default: unrecognised(word);
        }
    }

    [[noreturn]] void unrecognised(const std::string& word) {
        fprintf(stderr, "Unrecognized option '%s'", word.c_str());
        fputs(USAGE_TEXT, stderr);
        end_run(1);
    }

    void output_option(const char* rest) {
        std::string key = rest;
        if (key.empty() && index_ + 1 < words_.size() &&
            (words_[index_ + 1].empty() || words_[index_ + 1][0] != '-'))
            key = words_[++index_];
        unsigned format = find_format_key(run, key.c_str());
        for (const OutputRequest& request : tables_.outputs)
            if (request.format == format) return;
        tables_.outputs.push_back({format, std::nullopt});
        last_added_ = static_cast<int>(tables_.outputs.size()) - 1;
    }

    void processor_option(const char* rest) {
        if (!*rest) {
            message(run.messages, 609);
            return;
        }
        std::vector<std::string> items = split_commas(rest);
        run.options.processor_name = items[0].substr(0, NAME_BUFFER - 1);
        run.options.processor_list.assign(items.begin() + 1, items.end());
        if (run.options.processor_list.size() > MAX_PROCESSOR_ITEMS - 1)
            run.options.processor_list.resize(MAX_PROCESSOR_ITEMS - 1);
    }

    void classes_option(const char* rest) {
        if (!*rest) {
            message(run.messages, 610);
            return;
        }
        bool dropped = false;
        for (const std::string& item : split_commas(rest)) {
            if (item.empty()) continue; // an empty entry would end the list
            if (run.options.program_classes.size() < MAX_PROGRAM_CLASSES - 1)
                run.options.program_classes.push_back(item);
            else
                dropped = true;
        }
        if (dropped || run.options.program_classes.size() >= MAX_PROGRAM_CLASSES - 1)
            alert(run.messages, "W",
                  "Maximum number of program classes reached. List may be truncated.");
    }

    void warning_option(const char* word, const char* rest) {
        if (strchr(word, '!')) set_warnings_are_errors(run.messages);
        if (isdigit(static_cast<unsigned char>(*rest)) || *rest == '-') {
            int level = atoi(rest);
            if (level < -9)
                message(run.messages, 523, level);
            else
                set_warning_threshold(run.messages, level);
        } else {
            message(run.messages, 393);
        }
    }

    void template_option(const char* rest) {
        if (!*rest) {
            run.options.strip_extensions = true;
        } else if (isdigit(static_cast<unsigned char>(rest[0])) && rest[1] == '\0') {
            template_value_ = rest[0] - '0';
        } else {
            redirect_diagnostics(rest);
            template_value_ = 1;
        }
        set_template_mode(run.messages, template_value_ != 0);
    }

    // Sends all later diagnostics to the end of the named file, line-buffered.
    void redirect_diagnostics(const char* name) {
        static char buffer[512];
        FILE* probe = fopen(name, "a");
        if (!probe) {
            alert(run.messages, "W", "Could not open diagnostics file %s: %s", name,
                  strerror(errno));
            return;
        }
        fclose(probe);
        fflush(stderr);
        if (freopen(name, "a", stderr)) setvbuf(stderr, buffer, _IOLBF, sizeof buffer);
    }

    void long_option(const std::string& word) {
        const char* rest = word.c_str() + 2;
        if (starts_with_nocase(rest, "edf=")) {
            const char* name = rest + 4;
            run.messages.message_file_named = true;
            if (!load_message_file(run.messages, name))
                message_line("Could not open error description file %s\n", name);
        } else if (starts_with_nocase(rest, "emax=")) {
            set_error_limit(run.messages, atoi(rest + 5));
        } else if (starts_with_nocase(rest, "msgdisable=")) {
            disable_messages(run.messages, rest + 11);
        } else if (strcasecmp(rest, "ver") == 0) {
            print_version_banner();
            end_run(0);
        } else if (strncasecmp(rest, "pathspec", 8) == 0 && (rest[8] == '=' || rest[8] == '\0')) {
            pathspec_option(rest[8] == '=' ? rest + 9 : nullptr);
        }
        // Any other "--" word is ignored.
    }

    void pathspec_option(const char* text) {
        std::vector<std::string> items;
        if (text) items = split_commas(text);
        if (items.size() < 2 || items[0].empty() || items[1].empty()) {
            message(run.messages, 608);
            return;
        }
        run.options.pathspec_find = items[0];
        run.options.pathspec_replace = items[1];
        run.options.pathspec_set = true;
    }

    Run& run;
    const std::vector<std::string>& words_;
    size_t index_ = 0;
    RunTables tables_;
    int last_added_ = -1;
    int template_value_ = 0;
};

// The last component of a name: after the last "/", else after the last "\".
const char* last_component(const std::string& name) {
    size_t slash = name.rfind('/');
    if (slash == std::string::npos) slash = name.rfind('\\');
    return name.c_str() + (slash == std::string::npos ? 0 : slash + 1);
}

// A name made from a stem and an extension holds at most 127 characters. A longer one is
// refused: cutting it would put the output under another name.
std::string compose(Run& run, const std::string& stem, const char* extension) {
    std::string name = stem + "." + extension;
    if (name.size() >= NAME_BUFFER) fatal_message(run.messages, 417, name.c_str());
    return name;
}

} // namespace

RunTables parse_command_line(Run& run, const std::vector<std::string>& words) {
    return CommandLine(run, words).parse();
}

std::string output_file_name(Run& run, const OutputRequest& request,
                             const std::string& last_output_name, const std::string& first_input,
                             const char* extension) {
    if (request.name) {
        if (strchr(last_component(*request.name), '.')) return *request.name;
        return compose(run, *request.name, extension);
    }
    std::string stem = last_output_name.empty() ? first_input : last_output_name;
    size_t dot = stem.rfind('.');
    if (dot != std::string::npos) stem.resize(dot);
    return compose(run, stem, extension);
}
