// Numbered and lettered messages.
//
// Every diagnostic of the run is one line on standard error, laid out from the message
// description file's text for its number (or the caller's format for a lettered alert).
// The message state counts errors and warnings, stops the run on a fatal error or past
// the error limit, and gives the driver its exit status.
#pragma once

#include <cstdarg>
#include <memory>
#include <string>
#include <vector>

// Ends the run: thrown by fatal messages and the option handling, caught by main.
struct RunEnd {
    int status;
};

// Flushes the standard streams and throws RunEnd.
[[noreturn]] void end_run(int status);

enum MessageKind : int {
    KIND_UNKNOWN = 0, // kind field of the description line not recognised
    KIND_FATAL = 1,
    KIND_INFO = 2,
    KIND_ERROR = 3,
    KIND_WARNING = 4,
    KIND_HIDDEN = 5,
};

struct MessageEntry {
    int kind = KIND_UNKNOWN;
    unsigned number = 0;
    std::string text;
    int level = 0;
};

// Table of entries indexed by message number.
using MessageTable = std::vector<std::unique_ptr<MessageEntry>>;

struct MessageState {
    MessageTable primary;
    MessageTable fallback;
    bool fallback_loaded = false;
    std::vector<int> disable; // action by number: 0 none, 1 hide warnings/info, 4 hide unless fatal
    bool disable_made = false;

    int error_limit = 3;
    int warning_threshold = 0;
    bool warnings_are_errors = false;
    bool template_mode = false;
    std::string error_template, warning_template, message_template;

    std::string file_name;
    bool has_file_name = false;
    const unsigned* line_ref = nullptr;
    const char* const* line_start_ref = nullptr;
    const char* const* position_ref = nullptr;
    std::string current_input; // the input being read or dumped, which a refused text names

    unsigned error_count = 0;
    unsigned warning_count = 0;
    int saved_errno = 0;

    bool message_file_named = false; // --edf= was given
    bool primary_loaded = false;
    bool initialised = false;
};

// The numbered message: text and kind come from the message description file.
// Answers 1 when shown, 0 when hidden.
int message(MessageState& ms, unsigned number, ...);
int vmessage(MessageState& ms, unsigned number, va_list args);

// A numbered message after which the run cannot go on: it ends the run with status 1
// even when the description file does not make the number fatal (or is missing).
[[noreturn]] void fatal_message(MessageState& ms, unsigned number, ...);

// A lettered message with number 0; kind string "F", "E", "M", anything else a warning,
// a leading number (or "-" and a digit) gives the warning level (10 otherwise).
int alert(MessageState& ms, const char* kind, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
int alert_numbered(MessageState& ms, unsigned number, const char* kind, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

// One raw line on standard error, newline added.
void message_line(const char* format, ...) __attribute__((format(printf, 1, 2)));

void set_message_context(MessageState& ms, const char* file_name, const unsigned* line = nullptr,
                         const char* const* line_start = nullptr,
                         const char* const* position = nullptr);
int set_warning_threshold(MessageState& ms, int level);
int set_error_limit(MessageState& ms, int count);
void set_template_mode(MessageState& ms, bool on);
void set_warnings_are_errors(MessageState& ms);

// Loads a description file into the primary table (empties it first). A null name
// means NVC_ERR_FILE, or "../dat/en_msgs.txt" when that is unset.
bool load_message_file(MessageState& ms, const char* name);
// Loads a description file into a given table; answers false when it cannot be opened.
bool load_message_table(MessageState& ms, MessageTable& table, const char* name);

// Applies the text of --msgdisable=.
void disable_messages(MessageState& ms, const char* list);

// The exit verdict: an error was reported, or warnings count as errors and one was shown.
bool errors_reported(MessageState& ms);

// The description that will be used for a number (primary, fallback), or null.
const MessageEntry* find_message_entry(MessageState& ms, unsigned number);
