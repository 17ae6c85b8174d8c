#include "common/alert.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "common/osdep.h"
#include "common/registry.h"

namespace {

const unsigned MAX_NUMBER = 10000;
const size_t TEXT_SIZE = 512;  // formatted text, number prefix included
const size_t LINE_SIZE = 2048; // one output line
const char* const NO_DESCRIPTION =
    "An error, warning or message was generated, but no description is available";
const char* const PROGRAM_NAME = "symvert";

bool is_warning_like(int kind) {
    return kind != KIND_FATAL && kind != KIND_ERROR && kind != KIND_INFO;
}

const MessageEntry* table_entry(const MessageTable& table, unsigned number) {
    return number < table.size() ? table[number].get() : nullptr;
}

void store_entry(MessageTable& table, MessageEntry entry) {
    unsigned number = entry.number;
    if (number >= table.size()) table.resize(number + 1);
    table[number] = std::make_unique<MessageEntry>(std::move(entry));
}

std::string env_or(const char* name, const char* fallback) {
    const char* value = getenv(name);
    return value ? value : fallback;
}

// Writes the line with its newline and flushes standard error.
void write_line(std::string& line) {
    if (line.size() >= LINE_SIZE - 1) line.resize(LINE_SIZE - 2);
    line += '\n';
    fputs(line.c_str(), stderr);
    fflush(stderr);
}

// Copies text with each "%m" replaced by the saved system error's description.
std::string expand_text(MessageState& ms, const char* text) {
    std::string out;
    for (const char* p = text; *p && out.size() < TEXT_SIZE - 1; ++p) {
        if (*p != '%') {
            out += *p;
        } else if (p[1] == 'm') {
            if (ms.saved_errno != 0) out += strerror(ms.saved_errno);
            ++p;
        } else {
            out += *p;
            if (p[1]) out += *++p;
        }
    }
    if (out.size() > TEXT_SIZE - 1) out.resize(TEXT_SIZE - 1);
    return out;
}

std::string format_text(const std::string& prefix, const char* format, va_list args) {
    char buffer[TEXT_SIZE];
    int used = snprintf(buffer, sizeof buffer, "%s", prefix.c_str());
    if (used < 0) used = 0;
    if (static_cast<size_t>(used) < sizeof buffer) {
        va_list copy;
        va_copy(copy, args);
        // The format comes from the message description file, not a literal.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
        vsnprintf(buffer + used, sizeof buffer - used, format, copy);
#pragma GCC diagnostic pop
        va_end(copy);
    }
    return buffer;
}

std::string apply_template(MessageState& ms, const std::string& tmpl, unsigned number,
                           const std::string& text) {
    std::string out;
    for (size_t k = 0; k < tmpl.size(); ++k) {
        char c = tmpl[k];
        if (c != '%') {
            out += c;
            continue;
        }
        if (++k >= tmpl.size()) break;
        switch (tmpl[k]) {
        case 'f':
            if (ms.has_file_name) out += ms.file_name;
            break;
        case 'l':
            if (ms.line_ref) out += std::to_string(*ms.line_ref);
            break;
        case 'c':
            if (ms.line_start_ref && ms.position_ref && *ms.line_start_ref && *ms.position_ref)
                out += std::to_string(*ms.position_ref - *ms.line_start_ref);
            break;
        case 'n': out += std::to_string(number); break;
        case 's': out += text; break;
        case 'a': out += PROGRAM_NAME; break;
        case 'm':
            if (ms.saved_errno != 0) out += strerror(ms.saved_errno);
            break;
        default: out += tmpl[k]; break;
        }
    }
    return out;
}

// Lays one message out and writes it.
void lay_out(MessageState& ms, int kind, unsigned number, const char* text, va_list args) {
    std::string format = expand_text(ms, text);
    std::string line;
    if (ms.template_mode) {
        std::string formatted = format_text("", format.c_str(), args);
        const std::string& tmpl = (kind == KIND_FATAL || kind == KIND_ERROR) ? ms.error_template
                                  : kind == KIND_INFO                        ? ms.message_template
                                                                             : ms.warning_template;
        line = apply_template(ms, tmpl, number, formatted);
    } else {
        std::string prefix;
        if (kind != KIND_INFO) prefix = "(" + std::to_string(number) + ") ";
        if (ms.has_file_name) line += ms.file_name + ": ";
        if (ms.line_ref) line += std::to_string(*ms.line_ref) + ": ";
        line += format_text(prefix, format.c_str(), args);
        if (is_warning_like(kind)) line += " (warning)";
    }
    write_line(line);
}

void too_many_errors(MessageState& ms) {
    alert_numbered(ms, 1, "M", "too many errors (%u)", ms.error_count);
    end_run(1);
}

bool try_load_primary(MessageState& ms, const char* name) {
    if (!name) return false;
    return load_message_table(ms, ms.primary, name);
}

// Loads the language file: installation dat directory, NVC_ERR_FILE (or ../dat),
// then the current directory.
void load_language_file(MessageState& ms) {
    uint32_t language = 9;
    if (registry_dword("language", &language) != 0) language = 9;
    const char* code = language == 7 ? "de" : language == 12 ? "fr" : "en";
    std::string file = std::string(code) + "_msgs.txt";
    std::unique_ptr<char[]> installed = install_file(5, file.c_str());
    bool loaded = try_load_primary(ms, installed.get());
    if (!loaded) loaded = load_message_file(ms, nullptr);
    if (!loaded) loaded = try_load_primary(ms, file.c_str());
    ms.primary_loaded = loaded;
}

void initialise(MessageState& ms) {
    if (!ms.initialised) {
        ms.initialised = true;
        ms.error_limit = 20;
        ms.error_template = env_or("NVC_ERR_FORMAT", "%f: %l: (%n) %s (error)");
        ms.warning_template = env_or("NVC_WARN_FORMAT", "%f: %l: (%n) %s (warning)");
        ms.message_template = env_or("NVC_MSG_FORMAT", "%f: %l: %s");
    }
    if (!ms.message_file_named && !ms.primary_loaded) load_language_file(ms);
}

const MessageEntry* fallback_entry(MessageState& ms, unsigned number) {
    if (!ms.fallback_loaded) {
        std::unique_ptr<char[]> path = install_file(5, "en_msgs.txt");
        if (path) ms.fallback_loaded = load_message_table(ms, ms.fallback, path.get());
    }
    return table_entry(ms.fallback, number);
}

struct KindLevel {
    int kind;
    int level;
};

KindLevel parse_kind_string(const char* kind) {
    KindLevel out{KIND_WARNING, 10};
    switch (kind[0]) {
    case 'F':
    case 'f': out.kind = KIND_FATAL; break;
    case 'E':
    case 'e': out.kind = KIND_ERROR; break;
    case 'M':
    case 'm': out.kind = KIND_INFO; break;
    default: break;
    }
    if (isdigit(static_cast<unsigned char>(kind[0])) ||
        (kind[0] == '-' && isdigit(static_cast<unsigned char>(kind[1]))))
        out.level = atoi(kind);
    return out;
}

int valert(MessageState& ms, unsigned number, const char* kind_string, const char* format,
           va_list args) {
    KindLevel kl = parse_kind_string(kind_string);
    if (kl.kind == KIND_ERROR) {
        unsigned before = ms.error_count++;
        if (static_cast<int>(before) >= ms.error_limit) too_many_errors(ms);
    }
    if (kl.level < ms.warning_threshold) return 0;
    lay_out(ms, kl.kind, number, format, args);
    if (kl.kind == KIND_FATAL) end_run(1);
    return 1;
}

} // namespace

void end_run(int status) {
    fflush(stdout);
    fflush(stderr);
    throw RunEnd{status};
}

const MessageEntry* find_message_entry(MessageState& ms, unsigned number) {
    const MessageEntry* entry = table_entry(ms.primary, number);
    return entry ? entry : fallback_entry(ms, number);
}

int vmessage(MessageState& ms, unsigned number, va_list args) {
    ms.saved_errno = errno;
    initialise(ms);
    MessageEntry made_up;
    const MessageEntry* entry = find_message_entry(ms, number);
    if (!entry) {
        made_up.kind = KIND_ERROR;
        made_up.number = number;
        made_up.text = NO_DESCRIPTION;
        entry = &made_up;
    }
    int kind = entry->kind;
    if (number < ms.disable.size()) {
        int action = ms.disable[number];
        if ((action == 1 && (kind == KIND_WARNING || kind == KIND_INFO)) ||
            (action == 4 && kind != KIND_FATAL))
            kind = KIND_HIDDEN;
    }
    if (kind == KIND_HIDDEN) return 0;
    if (kind == KIND_WARNING && entry->level < ms.warning_threshold) return 0;
    lay_out(ms, kind, number, entry->text.c_str(), args);
    if (kind == KIND_ERROR) {
        unsigned before = ms.error_count++;
        if (static_cast<int>(before) >= ms.error_limit) too_many_errors(ms);
    } else if (kind == KIND_WARNING) {
        ++ms.warning_count;
    } else if (kind == KIND_FATAL) {
        end_run(1);
    }
    return 1;
}

int message(MessageState& ms, unsigned number, ...) {
    va_list args;
    va_start(args, number);
    int shown = vmessage(ms, number, args);
    va_end(args);
    return shown;
}

void fatal_message(MessageState& ms, unsigned number, ...) {
    va_list args;
    va_start(args, number);
    vmessage(ms, number, args);
    va_end(args);
    end_run(1);
}

int alert(MessageState& ms, const char* kind, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int shown = valert(ms, 0, kind, format, args);
    va_end(args);
    return shown;
}

int alert_numbered(MessageState& ms, unsigned number, const char* kind, const char* format, ...) {
    ms.saved_errno = errno;
    va_list args;
    va_start(args, format);
    int shown = valert(ms, number, kind, format, args);
    va_end(args);
    return shown;
}

void message_line(const char* format, ...) {
    char buffer[LINE_SIZE];
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    std::string line = buffer;
    write_line(line);
}

void set_message_context(MessageState& ms, const char* file_name, const unsigned* line,
                         const char* const* line_start, const char* const* position) {
    ms.has_file_name = file_name != nullptr;
    ms.file_name = file_name ? file_name : "";
    ms.line_ref = line;
    ms.line_start_ref = line_start;
    ms.position_ref = position;
}

int set_warning_threshold(MessageState& ms, int level) {
    int previous = ms.warning_threshold;
    ms.warning_threshold = level;
    return previous;
}

int set_error_limit(MessageState& ms, int count) {
    initialise(ms);
    int previous = ms.error_limit;
    ms.error_limit = count;
    return previous;
}

void set_template_mode(MessageState& ms, bool on) {
    ms.template_mode = on;
}

void set_warnings_are_errors(MessageState& ms) {
    ms.warnings_are_errors = true;
}

bool errors_reported(MessageState& ms) {
    return ms.error_count > 0 || (ms.warnings_are_errors && ms.warning_count > 0);
}

namespace {

// Splits off the next blank- or tab-separated token; answers false when there is none.
bool next_token(const char*& p, std::string& token) {
    while (*p == ' ' || *p == '\t')
        ++p;
    if (!*p || *p == '\n' || *p == '\r') return false;
    const char* start = p;
    while (*p && *p != ' ' && *p != '\t' && *p != '\n' && *p != '\r')
        ++p;
    token.assign(start, p);
    return true;
}

// What each numbered message passes after its number, one letter an argument: "s" a
// text, "d" an integer (int or unsigned, a character code included). A number not listed
// passes nothing.
struct MessageArguments {
    unsigned number;
    const char* kinds;
};
const MessageArguments MESSAGE_ARGUMENTS[] = {
    {141, "ss"},   {157, "d"},    {378, "ss"},   {413, "s"},    {414, "sdd"},  {415, "sss"},
    {416, "sss"},  {417, "s"},    {418, "ssss"}, {419, "sss"},  {420, "sdsd"}, {421, "sd"},
    {422, "sds"},  {423, "ssdd"}, {425, "ss"},   {426, "sd"},   {427, "sd"},   {428, "sd"},
    {429, "sd"},   {430, "s"},    {431, "ss"},   {523, "d"},    {601, "s"},    {603, "s"},
    {604, "s"},    {618, "d"},    {619, "d"},    {620, "d"},    {621, "ss"},   {626, "d"},
    {627, "dsdd"}, {629, "ssdd"}, {630, "s"},    {631, "ssdd"}, {632, "d"},    {633, "d"},
    {634, "s"},    {635, "sd"},   {636, "sd"},   {637, "ss"},   {638, "d"},    {648, "d"},
    {649, "d"},    {655, "d"},    {657, "d"},    {659, "d"},    {660, "d"},    {661, "d"},
    {662, "d"},    {663, "d"},    {664, "d"},    {666, "ss"},   {1036, "sd"},  {1037, "s"},
    {1040, "dd"},  {1042, "sd"},  {1045, "d"},
};

const char* message_arguments(unsigned number) {
    for (const MessageArguments& m : MESSAGE_ARGUMENTS)
        if (m.number == number) return m.kinds;
    return "";
}

// Whether a text's conversions take no more arguments than its message passes, each of
// the kind passed: printf would otherwise read arguments that are not there. "%m" and
// "%%" take none; "*" for a width or precision takes an integer; length modifiers other
// than "h" and "hh" would read a wider integer than is passed, and other conversions
// ("%f", "%p", "%n", ...) never fit.
bool conversions_fit(const std::string& text, const char* kinds) {
    size_t next = 0, passed = strlen(kinds);
    auto take = [&](char kind) { return next < passed && kinds[next++] == kind; };
    for (size_t k = 0; k < text.size(); ++k) {
        if (text[k] != '%') continue;
        if (++k >= text.size()) return false;
        if (text[k] == '%' || text[k] == 'm') continue;
        k += strspn(text.c_str() + k, "-+ #0");
        for (int field = 0; field < 2; ++field) { // width, then precision
            if (field == 1) {
                if (text[k] != '.') break;
                ++k;
            }
            if (text[k] == '*') {
                if (!take('d')) return false;
                ++k;
            } else {
                k += strspn(text.c_str() + k, "0123456789");
            }
        }
        size_t length = strspn(text.c_str() + k, "h");
        if (length > 2) return false;
        k += length;
        if (k >= text.size()) return false;
        char conversion = text[k];
        if (conversion == 's' && length == 0) {
            if (!take('s')) return false;
        } else if (conversion != '\0' && strchr("diouxXc", conversion)) {
            if (!take('d')) return false;
        } else {
            return false;
        }
    }
    return true;
}

void malformed(MessageState& ms, unsigned line_number, const char* file_name) {
    alert_numbered(ms, 3, "M", "Malformed error information on line %u, in file %s\n", line_number,
                   file_name);
}

} // namespace

bool load_message_table(MessageState& ms, MessageTable& table, const char* name) {
    FILE* file = fopen(name, "r");
    if (!file) return false;
    table.clear();
    char piece[256];
    unsigned line_number = 0;
    while (fgets(piece, sizeof piece, file)) {
        ++line_number;
        if (piece[0] == '#') continue;
        const char* p = piece;
        std::string token;
        if (!next_token(p, token)) {
            malformed(ms, line_number, name);
            continue;
        }
        long number = atoi(token.c_str());
        if (number < 0 || number > static_cast<long>(MAX_NUMBER)) {
            malformed(ms, line_number, name);
            continue;
        }
        MessageEntry entry;
        entry.number = static_cast<unsigned>(number);
        if (!next_token(p, token)) {
            malformed(ms, line_number, name);
            continue;
        }
        char k = token[0];
        if (token.size() == 1 && (k == 'F' || k == 'f')) {
            entry.kind = KIND_FATAL;
        } else if (token.size() == 1 && (k == 'E' || k == 'e')) {
            entry.kind = KIND_ERROR;
        } else if (token.size() == 1 && (k == 'M' || k == 'm')) {
            entry.kind = KIND_INFO;
        } else if (isdigit(static_cast<unsigned char>(k)) || k == '-') {
            entry.kind = KIND_WARNING;
            entry.level = atoi(token.c_str());
        } else {
            malformed(ms, line_number, name);
            entry.kind = KIND_UNKNOWN;
        }
        while (*p == ' ' || *p == '\t')
            ++p;
        size_t length = strcspn(p, "\r\n");
        if (length == 0) {
            malformed(ms, line_number, name);
            continue;
        }
        entry.text.assign(p, length);
        if (!conversions_fit(entry.text, message_arguments(entry.number))) {
            malformed(ms, line_number, name);
            continue;
        }
        store_entry(table, std::move(entry));
    }
    fclose(file);
    return true;
}

bool load_message_file(MessageState& ms, const char* name) {
    std::string path;
    if (name) {
        path = name;
    } else {
        const char* env = getenv("NVC_ERR_FILE");
        path = env ? env : "../dat/en_msgs.txt";
    }
    bool loaded = load_message_table(ms, ms.primary, path.c_str());
    if (loaded) ms.primary_loaded = true;
    return loaded;
}

void disable_messages(MessageState& ms, const char* list) {
    if (!list || !*list) return;
    ms.disable_made = true;
    auto set_action = [&ms](long number, int action) {
        if (number < 0 || number > static_cast<long>(MAX_NUMBER)) return;
        if (static_cast<size_t>(number) >= ms.disable.size()) ms.disable.resize(number + 1, 0);
        ms.disable[number] = action;
    };
    if (list[0] == '0') {
        // Hide every warning: the language file is loaded now so that its warnings are known.
        if (!ms.message_file_named && !ms.primary_loaded) load_language_file(ms);
        for (const auto& entry : ms.primary)
            if (entry && entry->kind == KIND_WARNING) set_action(entry->number, 1);
        return;
    }
    const char* p = list;
    while (*p) {
        char* end = nullptr;
        long number = strtol(p, &end, 10);
        if (end == p) {
            // Not a number: skip to the next item.
            p = strchr(p, ',');
            if (!p) break;
            ++p;
            continue;
        }
        p = end;
        int action = 1;
        if (strncasecmp(p, ":off", 4) == 0) {
            action = 4;
            p += 4;
        }
        set_action(number, action);
        p = strchr(p, ',');
        if (!p) break;
        ++p;
    }
}
