// Symbolic-debug side files.
//
// The first line names the compiler options ("[p" and option words up to "]"), which
// select the processor family when none is selected yet. The rest is the body of the
// module scope: records in brackets ("[v" variable, "[s"/"[u" structure or union, "[e"
// enumeration, "[d" define), "{" and "}" around function and block scopes, numbers after
// a closing brace, and line directives ('"' and a line number, optionally followed by a
// source file name).
#include "formats/native/sdb.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>

#include "common/alert.h"
#include "common/options.h"
#include "common/osdep.h"
#include "model/machine.h"
#include "model/run.h"
#include "model/store.h"

namespace {

const size_t FIRST_LINE_LIMIT = 1023; // characters of the first line read as such
// A side file describes one module; compilers write a few hundred kilobytes for a large
// one. Anything longer (a link to a device, say) is refused rather than read into memory.
const uint64_t SDB_SIZE_LIMIT = uint64_t(64) << 20;
const size_t FILE_NAME_LIMIT = 2047; // characters kept of a line directive's file name
// The dump indents by 4 for each nested scope, which a side file opens with a few bytes:
// real nesting prints a few blanks for each byte read, and only scopes nested thousands
// deep print more than this many. The dump stops there (message 426), so that its output
// stays in proportion to the side files; the slack serves tiny files.
const uint64_t DUMP_INDENT_PER_BYTE = 16;
const uint64_t DUMP_INDENT_SLACK = 65536;

// The numeric value of a text as atoi and atol read it, clamped to 32 bits.
int32_t to_int(const char* text) {
    while (isspace(static_cast<unsigned char>(*text)))
        ++text;
    bool negative = *text == '-';
    if (*text == '-' || *text == '+') ++text;
    int64_t value = 0;
    for (; isdigit(static_cast<unsigned char>(*text)); ++text) {
        value = value * 10 + (*text - '0');
        if (value > int64_t(INT32_MAX) + 1) value = int64_t(INT32_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT32_MAX) value = INT32_MAX;
    return static_cast<int32_t>(value);
}

int32_t to_int(const std::string& text) {
    return to_int(text.c_str());
}

bool begins_with_digit(const std::string& text) {
    return !text.empty() && isdigit(static_cast<unsigned char>(text[0]));
}

// An "Na" dimension token: array of N, made the outermost node of the type.
Type* add_dimension(Run& run, Type* type, const std::string& token) {
    if (token.empty() || token.back() != 'a') return type;
    if (!type) type = new_type(run);
    TypeNode node;
    node.kind = TYPE_ARRAY;
    node.value = static_cast<uint32_t>(to_int(token));
    char text[32];
    snprintf(text, sizeof text, "[%lu]", static_cast<unsigned long>(node.value));
    node.text = text;
    type->push(run, std::move(node));
    return type;
}

uint32_t class_of_letter(const std::string& token) {
    if (token.size() != 1) return SC_NULL;
    switch (token[0]) {
    case 'a': return SC_AUTO;
    case 'e': return SC_EXTERN;
    case 'p': return SC_PARAM;
    case 'r': return SC_REG;
    case 's': return SC_STATIC;
    case 't': return SC_TYPEDEF;
    default: return SC_NULL;
    }
}

// The parse state of one scope being read.
struct Frame {
    ScopeEntry* scope = nullptr;
    uint32_t pending_class = SC_BLOCK; // class of the next "{"
    ScopeEntry* pending_function = nullptr;
    unsigned number_index = 0;
    ScopeEntry* last_nested = nullptr;
    ScopeEntry* faked_slot = nullptr;
    std::vector<ScopeEntry*> faked_blocks;
};

class SdbReader {
  public:
    SdbReader(Run& run, const char* sdb_name, const std::vector<uint8_t>& contents)
        : run_(run), sdb_name_(sdb_name), data_(reinterpret_cast<const char*>(contents.data())),
          size_(contents.size()) {}

    // The first line, up to and with its newline, as fgets with 1024 bytes reads it.
    std::string first_line() {
        size_t start = pos_;
        while (pos_ < size_ && pos_ - start < FIRST_LINE_LIMIT) {
            if (take() == '\n') break;
        }
        return std::string(data_ + start, pos_ - start);
    }

    ScopeEntry* parse_module();

  private:
    char take() {
        char c = data_[pos_++];
        if (c == '\n') {
            ++line_;
            column_ = 1;
        } else {
            ++column_;
        }
        return c;
    }
    bool at_space() const { return isspace(static_cast<unsigned char>(data_[pos_])) != 0; }

    bool next_token();
    std::string rest_of_line();

    void report_token(unsigned number) {
        message(run_.messages, number, token_.c_str(), sdb_name_, token_line_, token_column_);
    }
    void report_missing_bracket() {
        message(run_.messages, 627, static_cast<int>(']'), sdb_name_, token_line_, token_column_);
    }

    bool open_scope(Frame& frame);
    void close_nested(Frame& frame, ScopeEntry* nested, uint32_t nested_class);
    void finish_frame(Frame& frame);
    void line_directive(Frame& frame);
    void number(Frame& frame);
    void variable_record(Frame& frame);
    void place_variable(Frame& frame, ScopeEntry* proto);
    void structure_record(bool is_union);
    void enumeration_record();
    void define_record();
    void note_line(ScopeEntry* scope);

    Run& run_;
    const char* sdb_name_;
    const char* data_;
    size_t size_;
    size_t pos_ = 0;
    unsigned line_ = 1, column_ = 1;

    std::string token_;
    unsigned token_line_ = 0, token_column_ = 0;
    bool token_ended_line_ = false;

    std::vector<Frame> frames_;
};

bool SdbReader::next_token() {
    while (pos_ < size_ && at_space())
        take();
    if (pos_ >= size_) {
        token_.clear();
        token_ended_line_ = false;
        return false;
    }
    token_line_ = line_;
    token_column_ = column_;
    size_t start = pos_;
    while (pos_ < size_ && !at_space())
        take();
    token_.assign(data_ + start, pos_ - start);
    token_ended_line_ = false;
    if (pos_ < size_) {
        char end = take();
        token_ended_line_ = end == '\n' || end == '\r';
    }
    return true;
}

std::string SdbReader::rest_of_line() {
    while (pos_ < size_ && at_space())
        take();
    size_t start = pos_;
    while (pos_ < size_ && data_[pos_] != '\n' && data_[pos_] != '\r')
        take();
    return std::string(data_ + start, std::min(pos_ - start, FILE_NAME_LIMIT));
}

void SdbReader::note_line(ScopeEntry* scope) {
    uint32_t line = run_.type_model.current_line;
    ScopePart& part = scope->make_scope();
    if (part.first_line == 0 || line < part.first_line) part.first_line = line;
    if (line > part.last_line) part.last_line = line;
}

// The body of the module scope. Nested scopes are kept on frames_ rather than the
// machine stack, so any depth of nesting reads in constant stack space.
ScopeEntry* SdbReader::parse_module() {
    ScopeEntry* module = new_scope(run_, SC_MODULE);
    if (!next_token()) return module;
    frames_.push_back(Frame());
    frames_.back().scope = module;
    run_.type_model.current_scope = module;
    bool have_token = true;
    while (!frames_.empty()) {
        Frame& frame = frames_.back();
        if (!have_token && !next_token()) {
            finish_frame(frame);
            continue;
        }
        have_token = false;
        const std::string& token = token_;
        if (token == "[d") {
            define_record();
        } else if (token == "[e") {
            enumeration_record();
        } else if (token == "[s" || token == "[u") {
            structure_record(token == "[u");
        } else if (token == "[v") {
            variable_record(frame);
        } else if (token[0] == '[') {
            frame.pending_class = SC_BLOCK;
        } else if (token == "{") {
            have_token = open_scope(frame); // frame is not to be used after this
        } else if (token == "}") {
            finish_frame(frame);
        } else if (token[0] == '"') {
            line_directive(frame);
        } else if (isdigit(static_cast<unsigned char>(token[0])) || token[0] == '-') {
            number(frame);
        } else {
            report_token(631);
            finish_frame(frame);
        }
    }
    return module;
}

// "{": a nested scope of the pending class. When the file ends right after it, the
// scope is complete at once. Otherwise its frame is pushed with its first token already
// read, and the answer is yes.
bool SdbReader::open_scope(Frame& frame) {
    frame.faked_slot = nullptr;
    uint32_t nested_class = frame.pending_class;
    ScopeEntry* nested = new_scope(run_, nested_class);
    if (!next_token()) {
        close_nested(frame, nested, nested_class);
        return false;
    }
    run_.type_model.current_scope = nested;
    Frame inner;
    inner.scope = nested;
    frames_.push_back(std::move(inner));
    return true;
}

void SdbReader::close_nested(Frame& frame, ScopeEntry* nested, uint32_t nested_class) {
    add_entry(run_, nested);
    if (nested_class == SC_FUNC) {
        nested->make_scope().function = frame.pending_function;
        frame.number_index = 0;
    }
    frame.last_nested = nested;
    frame.pending_class = SC_BLOCK;
    note_line(frame.scope);
}

void SdbReader::finish_frame(Frame& frame) {
    for (ScopeEntry* faked : frame.faked_blocks)
        faked->make_scope().last_line = run_.type_model.current_line;
    ScopeEntry* scope = frame.scope;
    run_.type_model.current_scope = scope->scope().parent;
    frames_.pop_back();
    if (!frames_.empty()) {
        Frame& outer = frames_.back();
        close_nested(outer, scope, scope->sclass);
    }
}

void SdbReader::line_directive(Frame& frame) {
    frame.faked_slot = nullptr;
    run_.type_model.current_line = static_cast<uint32_t>(to_int(token_.c_str() + 1));
    if (!token_ended_line_) {
        std::string file = rest_of_line();
        if (!file.empty() && file != run_.type_model.current_file_name) {
            run_.type_model.current_file_name = file;
            frame.scope->make_scope().first_line = run_.type_model.current_line;
            frame.scope->make_scope().last_line = run_.type_model.current_line;
            add_filename_entry(run_, run_.type_model.current_scope, file,
                               run_.type_model.current_line);
        }
    }
    note_line(frame.scope);
}

void SdbReader::number(Frame& frame) {
    int32_t value = to_int(token_);
    if (frame.pending_function) {
        frame.pending_function->defined = static_cast<uint32_t>(value);
        frame.pending_function = nullptr;
    }
    if (!frame.last_nested) return;
    if (frame.number_index < 4) frame.last_nested->make_scope().numbers[frame.number_index] = value;
    ++frame.number_index;
}

// "[v" name type dimension class defined value "]" (a typedef has no value). A record
// that the file cuts short before its last field is reported and dropped.
void SdbReader::variable_record(Frame& frame) {
    ScopeEntry proto;
    Type* type = nullptr;
    uint32_t sclass = SC_NULL;
    bool complete = false;
    do {
        if (!next_token()) break;
        proto.name = token_;
        if (!next_token()) break;
        type = parse_type(run_, token_.c_str());
        if (!next_token()) break;
        type = add_dimension(run_, type, token_);
        if (!next_token()) break;
        sclass = class_of_letter(token_);
        if (sclass == SC_NULL) report_token(629);
        if (!next_token()) break;
        proto.defined = static_cast<uint32_t>(to_int(token_));
        if (sclass != SC_TYPEDEF) {
            if (!next_token()) break;
            uint32_t reg = 0;
            if ((sclass == SC_AUTO || sclass == SC_PARAM) &&
                (reg = find_register(run_, token_.c_str()))) {
                sclass = SC_REG;
                proto.value = reg;
            } else if (sclass == SC_REG) {
                proto.value = find_register(run_, token_.c_str());
            } else if (sclass == SC_STATIC && proto.name[0] == 'F' &&
                       (isalpha(static_cast<unsigned char>(token_[0])) || token_[0] == '_')) {
                proto.set_asm_name(proto.name);
                proto.name = "_" + token_;
            } else {
                const char* text = token_.c_str();
                if (*text == '@') ++text;
                proto.value = static_cast<uint32_t>(to_int(text));
            }
        }
        complete = true;
    } while (false);
    bool closed = next_token();
    if (!closed || token_ != "]") report_missing_bracket();
    if (!complete) return;
    proto.sclass = sclass;
    proto.type = type;
    place_variable(frame, &proto);
}

void SdbReader::place_variable(Frame& frame, ScopeEntry* proto) {
    ScopeEntry* result = nullptr;
    uint32_t sclass = proto->sclass;
    if (sclass == SC_AUTO || sclass == SC_PARAM || sclass == SC_REG) {
        if (run_.type_model.current_scope->sclass == SC_MODULE) return;
        ScopeEntry* hit = find_redeclaration(run_, proto->name);
        if (hit && hit->sclass == sclass && hit->value == proto->value &&
            hit->defined == proto->defined) {
            result = hit;
        } else if (hit && run_.options.fake_redefinitions && !frame.faked_slot) {
            ScopeEntry* faked = new_scope(run_, SC_BLOCK);
            faked->flags = ENTRY_FAKED;
            add_entry(run_, faked);
            frame.faked_slot = faked;
            frame.faked_blocks.push_back(faked);
            run_.type_model.current_scope = faked;
        }
    } else if (sclass == SC_EXTERN || sclass == SC_STATIC) {
        ScopeEntry* hit = find_redeclaration(run_, proto->name);
        if (hit && hit->sclass == sclass && hit->value == proto->value &&
            hit->defined <= proto->defined && hit->asm_name() == proto->asm_name()) {
            hit->type = proto->type;
            hit->defined = proto->defined;
            result = hit;
        }
    }
    if (!result) {
        result = new_entry(run_, sclass);
        result->name = std::move(proto->name);
        result->asm_name_part = std::move(proto->asm_name_part);
        result->line = run_.type_model.current_line;
        result->defined = proto->defined;
        result->value = proto->value;
        result->type = proto->type;
        add_entry(run_, result);
        chain_entry(run_, run_.type_model.current_scope, result);
    }
    if (is_function_type(result->type)) {
        frame.pending_class = SC_FUNC;
        frame.pending_function = result;
    }
}

// "[s" or "[u" name tag size, then members (type, optional dimension, name, size,
// offset, optional ":width:position"), "]".
void SdbReader::structure_record(bool is_union) {
    if (!next_token()) return;
    ScopeEntry* entry = find_redeclaration(run_, token_);
    if (!entry || entry->sclass != SC_STRUCT || !entry->aggregate().members.empty()) {
        entry = new_entry(run_, SC_STRUCT);
        entry->name = token_;
        entry->line = run_.type_model.current_line;
        add_entry(run_, entry);
        chain_entry(run_, run_.type_model.current_scope, entry);
    }
    entry->make_aggregate().is_union = is_union ? 1 : 0;
    if (!next_token()) return;
    entry->make_aggregate().tag = token_ == "." ? "" : token_;
    if (!next_token()) return;
    entry->make_aggregate().size = static_cast<uint32_t>(to_int(token_));
    bool have = next_token();
    while (have && token_[0] != ']') {
        Member member;
        member.type = parse_type(run_, token_.c_str());
        if (!next_token()) break;
        if (begins_with_digit(token_)) {
            member.type = add_dimension(run_, member.type, token_);
            if (!next_token()) break;
        }
        if (token_ != ".") member.name = token_;
        if (!next_token()) break;
        member.size = to_int(token_);
        if (!next_token()) {
            entry->make_aggregate().members.push_back(std::move(member));
            break;
        }
        member.offset = to_int(token_);
        have = next_token();
        if (have && token_[0] == ':') {
            member.bit_width = to_int(token_.c_str() + 1);
            const char* position = strchr(token_.c_str() + 1, ':');
            if (position) member.bit_offset = to_int(position + 1);
            have = next_token();
        }
        entry->make_aggregate().members.push_back(std::move(member));
    }
}

// "[e" name tag, an optional base type ("`" type), then name and value pairs, "]".
void SdbReader::enumeration_record() {
    if (!next_token()) return;
    ScopeEntry* entry = find_redeclaration(run_, token_);
    if (!entry || entry->sclass != SC_ENUM || !entry->aggregate().enumerators.empty()) {
        entry = new_entry(run_, SC_ENUM);
        entry->name = token_;
        add_entry(run_, entry);
        chain_entry(run_, run_.type_model.current_scope, entry);
    }
    if (!next_token()) return;
    entry->make_aggregate().tag = token_;
    bool have = next_token();
    if (have && token_[0] == '`') {
        Type* base = parse_type(run_, token_.c_str());
        if (base && !base->empty())
            entry->make_aggregate().base_size =
                static_cast<uint8_t>(type_size(run_, TypeRef(base, 0)));
        have = next_token();
    }
    while (have && token_[0] != ']') {
        Enumerator enumerator;
        enumerator.name = token_;
        if (!next_token()) break;
        enumerator.value = to_int(token_);
        entry->make_aggregate().enumerators.push_back(std::move(enumerator));
        have = next_token();
    }
}

// "[d" name value "]": kept as texts for the processor descriptors.
void SdbReader::define_record() {
    std::string name, value;
    bool well_formed = next_token();
    if (well_formed) {
        name = token_;
        well_formed = next_token();
        if (well_formed) value = token_;
    }
    if (!well_formed || !next_token() || token_ != "]")
        alert(run_.messages, "E", "malformed define in .SDB file %s", sdb_name_);
    if (name.empty()) return;
    if (!run_.type_model.defines)
        run_.type_model.defines = std::make_unique<HashTable<std::string, std::string>>(8);
    run_.type_model.defines->insert(name, value);
}

// Text mode: line ends read as a single newline.
std::vector<uint8_t> as_text(std::vector<uint8_t> bytes) {
    size_t out = 0;
    for (size_t k = 0; k < bytes.size(); ++k) {
        if (bytes[k] == '\r' && k + 1 < bytes.size() && bytes[k + 1] == '\n') continue;
        bytes[out++] = bytes[k];
    }
    bytes.resize(out);
    return bytes;
}

// The first line's words: blank-separated, without the line end.
std::vector<std::string> blank_words(const std::string& line) {
    std::vector<std::string> words;
    size_t k = 0;
    while (k < line.size()) {
        while (k < line.size() &&
               (line[k] == ' ' || line[k] == '\t' || line[k] == '\n' || line[k] == '\r'))
            ++k;
        size_t start = k;
        while (k < line.size() && line[k] != ' ' && line[k] != '\t' && line[k] != '\n' &&
               line[k] != '\r')
            ++k;
        if (k > start) words.push_back(line.substr(start, k - start));
    }
    return words;
}

std::string join_words(const std::vector<std::string>& words, size_t from) {
    std::string text;
    for (size_t k = from; k < words.size(); ++k) {
        if (!text.empty()) text += ' ';
        text += words[k];
    }
    return text;
}

// Reads the first line and selects the processor; null when none can be selected.
ScopeEntry* read_module(Run& run, SdbReader& reader, const char* sdb_name) {
    std::vector<std::string> words = blank_words(reader.first_line());
    if (words.empty() || words[0] != "[p") message(run.messages, 630, sdb_name);
    if (!select_processor(run, join_words(words, 1).c_str())) return nullptr;
    for (size_t k = 1; k < words.size() && words[k] != "]"; ++k)
        if (!processor_has_option(run, words[k].c_str()))
            message(run.messages, 637, words[k].c_str(), sdb_name);
    return reader.parse_module();
}

} // namespace

std::string sdb_file_name(const char* object_name) {
    std::string name = object_name;
    size_t dot = name.rfind('.');
    if (dot != std::string::npos) name.resize(dot);
    return name + ".sdb";
}

ScopeEntry* read_sdb_contents(Run& run, const char* object_name, const char* sdb_name,
                              const std::vector<uint8_t>* contents) {
    run.type_model.current_file_name.clear();
    if (contents) run.type_model.side_file_bytes += contents->size();
    ScopeEntry* scope = nullptr;
    if (!contents || contents->empty()) {
        if (!select_processor(run, "")) return nullptr;
        scope = new_scope(run, SC_NO_SIDE_FILE);
    } else {
        std::vector<uint8_t> text = as_text(*contents);
        SdbReader reader(run, sdb_name, text);
        scope = read_module(run, reader, sdb_name);
        if (!scope) return nullptr;
    }
    scope->name = object_name;
    run.type_model.current_line = 1;
    add_entry(run, scope);
    return scope;
}

ScopeEntry* read_sdb(Run& run, const char* object_name) {
    std::string sdb_name = sdb_file_name(object_name);
    FILE* in = fopen(sdb_name.c_str(), "rb");
    if (!in) return read_sdb_contents(run, object_name, sdb_name.c_str(), nullptr);
    std::string identity = file_identity(in);
    if (identity.empty()) identity = sdb_name;
    uint64_t size = 0;
    if (!regular_file_size(in, &size)) size = 0;
    std::vector<uint8_t> contents;
    bool whole = visit_side_file(run, identity, size) && read_stream(in, SDB_SIZE_LIMIT, &contents);
    fclose(in);
    if (!whole) {
        refuse_side_file(run, identity);
        message(run.messages, 416, sdb_name.c_str(), std::to_string(SDB_SIZE_LIMIT).c_str(),
                "side (.sdb)");
        return nullptr;
    }
    charge_side_file_read(run, contents.size());
    return read_sdb_contents(run, object_name, sdb_name.c_str(), &contents);
}

namespace {

void dump_entry(Run& run, const ScopeEntry* entry, FILE* out) {
    switch (entry->sclass) {
    case SC_EXTERN:
    case SC_STATIC:
    case SC_AUTO:
    case SC_PARAM:
    case SC_TYPEDEF:
    case SC_REG:
        fprintf(out, "%s `", entry->name.c_str());
        print_type(run, entry->type, out);
        if (entry->sclass == SC_REG) fprintf(out, " %s", register_name(run, entry->value));
        if (entry->sclass == SC_STATIC && !entry->asm_name().empty())
            fprintf(out, " %s", entry->asm_name().c_str());
        fprintf(out, " %d\n", static_cast<int>(entry->line));
        break;
    case SC_STRUCT:
        fputs(entry->name.c_str(), out);
        if (!entry->aggregate().tag.empty()) fprintf(out, "(%s)", entry->aggregate().tag.c_str());
        fputs(" = {", out);
        for (const Member& member : entry->aggregate().members) {
            fprintf(out, " %s `", member.name.c_str());
            print_type(run, member.type, out);
        }
        fputs(" }\n", out);
        break;
    case SC_ENUM:
        fputs(entry->name.c_str(), out);
        if (!entry->aggregate().tag.empty()) fprintf(out, "(%s)", entry->aggregate().tag.c_str());
        fputs(" = {", out);
        for (const Enumerator& e : entry->aggregate().enumerators)
            fprintf(out, " %s=%ld", e.name.c_str(), static_cast<long>(e.value));
        fputs(" }\n", out);
        break;
    case SC_FILENAME: fprintf(out, "\"%s\"\n", entry->name.c_str()); break;
    default: fprintf(out, "sclass?? = %d\n", static_cast<int>(entry->sclass)); break;
    }
}

// The line that opens a nested scope in the dump.
void dump_scope_header(const ScopeEntry* scope, FILE* out) {
    if (scope->sclass == SC_MODULE || scope->sclass == SC_NO_SIDE_FILE) {
        fprintf(out, "\"%s\" %d-%d\n", scope->name.c_str(),
                static_cast<int>(scope->scope().first_line),
                static_cast<int>(scope->scope().last_line));
        return;
    }
    if (scope->sclass == SC_FUNC)
        fprintf(out, "%s() ", scope->scope().function ? scope->scope().function->name.c_str() : "");
    fprintf(out, "%d-%d", static_cast<int>(scope->scope().first_line),
            static_cast<int>(scope->scope().last_line));
    if (scope->flags & ENTRY_FAKED) fputs(" (faked)", out);
    fputc('\n', out);
}

} // namespace

void dump_scope(Run& run, const ScopeEntry* scope, FILE* out, int indent) {
    const uint64_t allowed =
        DUMP_INDENT_PER_BYTE * run.type_model.side_file_bytes + DUMP_INDENT_SLACK;
    uint64_t printed = 0;
    bool stopped = false;
    // Indents a line; false once the indentation printed would pass what is allowed.
    auto indented = [&](int at) {
        if (stopped) return false;
        printed += static_cast<uint64_t>(at);
        if (printed > allowed) {
            stopped = true;
            message(run.messages, 426, std::to_string(allowed).c_str(), int(DUMP_INDENT_PER_BYTE));
            return false;
        }
        fprintf(out, "%*s", at, "");
        return true;
    };
    // The indentation of each open scope's entries.
    std::vector<int> indents{indent};
    walk_scope(
        scope,
        [&](const ScopeEntry* entry, const ScopeEntry*) {
            int at = indents.back();
            if (!indented(at)) return false;
            if (const char* class_name = storage_class_name(entry->sclass))
                fprintf(out, "%s: ", class_name);
            if (!entry->is_scope()) {
                dump_entry(run, entry, out);
                return false;
            }
            dump_scope_header(entry, out);
            if (!indented(at)) return false;
            fputs("{\n", out);
            indents.push_back(at + 4);
            return true;
        },
        [&](const ScopeEntry*) {
            indents.pop_back();
            if (indented(indents.back())) fputs("}\n", out);
        });
}

void dump_global_scope(Run& run, FILE* out) {
    if (!run.type_model.global_scope) return;
    fputs("\nGlobal block:\n\n", out);
    dump_scope(run, run.type_model.global_scope, out, 0);
    fputc('\n', out);
}
