// What one fuzz input does, by target name; shared by the libFuzzer targets and by the
// replay of the kept corpora, so that both run exactly the same code.
//
//   a format key (ihex, elf, norval, ...)  the input is a file of that format and goes
//                                          through exercise(): detection, the read with
//                                          normalisation and every writer, the dumps
//   sdb    the first byte chooses options (see sdb_option_words), the rest is the side
//          file of the one module named by a fixed symbol file; the symbol file is read,
//          the global scope dumped when verbose, the store normalised and every writer run
//   dwarf  the first byte chooses the byte order; the rest is split at DWARF_SEPARATOR
//          into the DWARF sections (in the order of DWARF_SECTIONS), which are wrapped into
//          a 32-bit ELF file that goes through exercise() as an ELF file
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "../tests/damage/exercise.h"
#include "common/osdep.h"
#include "driver/formats.h"
#include "formats/native/sdb.h"

struct Run;

namespace fuzz {

// ---- sdb ----

// The option words of an sdb input's first byte: bits 0-2 the processor (none, when the
// side file's option line is to select one), bit 3 -k, bit 4 -f, bit 5 -m, bit 6 -nCODE,
// bit 7 verbose twice (the global scope is dumped after the read).
inline std::vector<std::string> sdb_option_words(uint8_t choice) {
    static const char* const PROCESSORS[8] = {
        nullptr,          "-p16F877",       "-p18F452",     "-p30F2010",
        "-p32MX360F512L", "-pAT89C51,8051", "-pAT91R40008", "-pHT46R47",
    };
    std::vector<std::string> words;
    if (PROCESSORS[choice & 7]) words.push_back(PROCESSORS[choice & 7]);
    if (choice & 0x08) words.push_back("-k");
    if (choice & 0x10) words.push_back("-f");
    if (choice & 0x20) words.push_back("-m");
    if (choice & 0x40) words.push_back("-nCODE");
    if (choice & 0x80) {
        words.push_back("-v");
        words.push_back("-v");
    }
    return words;
}

// The symbol file: segments, globals, and the one module "<dir>/mod.obj" with its
// statics, frame symbols and line records. The names are those a small program's side
// file refers to.
inline std::string sdb_symbol_file(const std::string& dir) {
    return "_main 100 0 CODE\n"
           "_count 20 0 BANK0\n"
           "_buffer 22 0 BANK0\n"
           "_table 300 0 CONST\n"
           "_helper 140 0 CODE\n"
           "_PORTB 6 0 ABS\n"
           "__end_of_main 13F 0 CODE\n"
           "__end_of_helper 16F 0 CODE\n"
           "__Lmaintext 100 0 ABS\n"
           "__Hmaintext 1FF 0 ABS\n"
           "__Ldata 20 0 ABS\n"
           "__Hdata 7F 0 ABS\n"
           "%segments\n"
           "maintext 100 1FF CODE\n"
           "strings 300 34F CONST\n"
           "data 20 7F BANK0\n"
           "%locals\n" +
           dir +
           "/mod.obj\n"
           "mod.c\n"
           "F12 24 0 BANK0\n"
           "_local 26 0 BANK0\n"
           "?a_main 30 0 BANK0\n"
           "?_main 34 0 BANK0\n"
           "??_main 38 0 BANK0\n"
           "?a_helper 3A 0 BANK0\n"
           "?_helper 3C 0 BANK0\n"
           "entry$main 100 0 CODE\n"
           "3 100 0 CODE\n"
           "4 104 0 CODE\n"
           "7 110 0 CODE\n"
           "9 13E 0 CODE\n"
           "12 140 0 CODE\n"
           "14 16E 0 CODE\n";
}

// The private directory of the symbol file's module side file, named after the process
// and kept while it runs (on a memory file system when there is one). The fuzzer ends
// without running destructors, so each process first removes the directories of
// processes that have gone.
class SdbScratch {
  public:
    SdbScratch() {
        std::error_code error;
        path base = std::filesystem::is_directory("/dev/shm", error)
                        ? path("/dev/shm")
                        : std::filesystem::temp_directory_path(error);
        remove_stale(base);
        char name[64];
        snprintf(name, sizeof name, "%s%010ld", PREFIX, process_id());
        dir_ = (base / name).string();
        side_ = (base / name / "mod.sdb").string();
        symbols_ = sdb_symbol_file(dir_);
        std::filesystem::create_directory(dir_, error);
        std::filesystem::permissions(dir_, std::filesystem::perms::owner_all, error);
    }
    ~SdbScratch() { remove(dir_); }
    SdbScratch(const SdbScratch&) = delete;
    SdbScratch& operator=(const SdbScratch&) = delete;

    void put_side_file(const uint8_t* data, size_t size) const {
        FILE* out = fopen(side_.c_str(), "wb");
        if (!out || (size && fwrite(data, 1, size, out) != size) || fclose(out) != 0) {
            perror(side_.c_str());
            abort();
        }
    }
    const std::string& symbols() const { return symbols_; }

  private:
    using path = std::filesystem::path;
    static constexpr const char* PREFIX = "symvert-fuzz-sdb-";

    static void remove(const path& dir) {
        std::error_code error;
        std::filesystem::remove_all(dir, error);
    }
    static void remove_stale(const path& base) {
        std::error_code error;
        std::vector<path> stale;
        size_t prefix_length = strlen(PREFIX);
        for (const auto& item : std::filesystem::directory_iterator(base, error)) {
            std::string name = item.path().filename().string();
            if (name.compare(0, prefix_length, PREFIX) != 0) continue;
            long pid = atol(name.c_str() + prefix_length);
            if (pid > 0 && !process_running(pid)) stale.push_back(item.path());
        }
        for (const path& dir : stale)
            remove(dir);
    }

    std::string dir_, side_, symbols_;
};

inline void run_sdb(const uint8_t* data, size_t size) {
    static const SdbScratch scratch;
    static const unsigned norval = format_number("norval");
    uint8_t choice = size ? data[0] : 0;
    if (size) {
        ++data;
        --size;
    }
    scratch.put_side_file(data, size);
    const std::string& symbols = scratch.symbols();
    ::Run run;
    parse_command_line(run, sdb_option_words(choice));
    set_message_context(run.messages, "fuzz.sym");
    FILE* in = open_bytes_stream(reinterpret_cast<const uint8_t*>(symbols.data()), symbols.size());
    if (!in) abort();
    try {
        format_at(norval).read(run, in, "fuzz.sym");
        if (run.options.verbose_level != 0) {
            FILE* out = fopen(NULL_DEVICE, "w");
            dump_global_scope(run, out);
            fclose(out);
        }
        normalize_store(run);
        for (unsigned k = 1; k <= FORMAT_COUNT; ++k) {
            FILE* out = fopen(NULL_DEVICE, "wb");
            format_at(k).write(run, out, NULL_DEVICE);
            fclose(out);
        }
    } catch (const RunEnd&) {
    }
    fclose(in);
}

// ---- dwarf ----

const char DWARF_SEPARATOR[] = "!SEC";
const size_t DWARF_SEPARATOR_SIZE = sizeof DWARF_SEPARATOR - 1;
const char* const DWARF_SECTIONS[] = {
    ".debug_abbrev",
    ".debug_info",
    ".debug_line",
    ".debug_str",
    ".debug_frame",
    ".debug_pubnames",
    ".debug_pubtypes",
    ".debug_aranges",
    ".debug_macinfo",
    ".debug_loc",
    ".debug_ranges",
    ".debug_str_offsets",
    ".debug_line_str",
    ".debug_addr",
    ".debug_rnglists",
    ".debug_loclists",
    ".debug_types",
    ".debug_macro",
    ".debug_names",
    ".debug_info.dwo",
    ".debug_abbrev.dwo",
    ".debug_str.dwo",
    ".debug_str_offsets.dwo",
    ".debug_loc.dwo",
};
const size_t DWARF_SECTION_COUNT = sizeof DWARF_SECTIONS / sizeof DWARF_SECTIONS[0];

class ElfImage {
  public:
    explicit ElfImage(bool big_endian) : big_(big_endian) {}
    void u8(uint8_t value) { bytes.push_back(value); }
    void u16(uint16_t value) {
        for (int k = 0; k < 2; ++k)
            u8(uint8_t(value >> (big_ ? 8 * (1 - k) : 8 * k)));
    }
    void u32(uint32_t value) {
        for (int k = 0; k < 4; ++k)
            u8(uint8_t(value >> (big_ ? 8 * (3 - k) : 8 * k)));
    }
    std::vector<uint8_t> bytes;

  private:
    bool big_;
};

// A relocatable 32-bit ELF file (ARM, or MIPS when big-endian) holding the given sections
// as program data, then the section name table and the section headers.
inline std::vector<uint8_t> dwarf_elf(bool big_endian,
                                      const std::vector<std::vector<uint8_t>>& sections) {
    const uint32_t HEADER_SIZE = 52, SECTION_HEADER_SIZE = 40;
    std::string names(1, '\0');
    std::vector<uint32_t> name_at, offset_at;
    uint32_t offset = HEADER_SIZE;
    for (size_t k = 0; k < sections.size(); ++k) {
        name_at.push_back(uint32_t(names.size()));
        names += DWARF_SECTIONS[k];
        names += '\0';
        offset_at.push_back(offset);
        offset += uint32_t(sections[k].size());
    }
    uint32_t names_name = uint32_t(names.size());
    names += ".shstrtab";
    names += '\0';
    uint32_t names_offset = offset;
    offset += uint32_t(names.size());
    uint32_t headers_offset = offset;
    uint16_t count = uint16_t(sections.size() + 2);

    ElfImage elf(big_endian);
    for (int c : {0x7F, int('E'), int('L'), int('F'), 1, big_endian ? 2 : 1, 1})
        elf.u8(uint8_t(c));
    elf.bytes.resize(16);
    elf.u16(1);                   // ET_REL
    elf.u16(big_endian ? 8 : 40); // EM_MIPS or EM_ARM
    elf.u32(1);                   // version
    elf.u32(0);                   // entry
    elf.u32(0);                   // program headers
    elf.u32(headers_offset);      // section headers
    elf.u32(0);                   // flags
    elf.u16(HEADER_SIZE);         // header size
    elf.u16(32);                  // program header size
    elf.u16(0);                   // program headers
    elf.u16(SECTION_HEADER_SIZE); // section header size
    elf.u16(count);               // section headers
    elf.u16(uint16_t(count - 1)); // the name table's index
    for (const std::vector<uint8_t>& section : sections)
        elf.bytes.insert(elf.bytes.end(), section.begin(), section.end());
    elf.bytes.insert(elf.bytes.end(), names.begin(), names.end());
    auto section_header = [&](uint32_t name, uint32_t type, uint32_t at, uint32_t size) {
        for (uint32_t field : {name, type, 0u, 0u, at, size, 0u, 0u, 1u, 0u})
            elf.u32(field);
    };
    section_header(0, 0, 0, 0);
    for (size_t k = 0; k < sections.size(); ++k)
        section_header(name_at[k], 1, offset_at[k], uint32_t(sections[k].size()));
    section_header(names_name, 3, names_offset, uint32_t(names.size()));
    return std::move(elf.bytes);
}

// The sections of a dwarf input, after its first byte; at most DWARF_SECTION_COUNT.
inline std::vector<std::vector<uint8_t>> dwarf_sections(const uint8_t* data, size_t size) {
    std::vector<std::vector<uint8_t>> sections;
    const uint8_t* end = data + size;
    while (sections.size() < DWARF_SECTION_COUNT) {
        const uint8_t* stop =
            std::search(data, end, DWARF_SEPARATOR, DWARF_SEPARATOR + DWARF_SEPARATOR_SIZE);
        sections.emplace_back(data, stop);
        if (stop == end) break;
        data = stop + DWARF_SEPARATOR_SIZE;
    }
    return sections;
}

inline void run_dwarf(const uint8_t* data, size_t size) {
    static const unsigned elf = format_number("elf");
    bool big_endian = size && (data[0] & 1);
    std::vector<uint8_t> image =
        size ? dwarf_elf(big_endian, dwarf_sections(data + 1, size - 1)) : std::vector<uint8_t>();
    exercise(elf, image.data(), image.size());
}

// ---- by name ----

class Target {
  public:
    // A target name as above; false when there is no such target.
    bool choose(const std::string& name) {
        name_ = name;
        format_ = 0;
        if (name == "sdb" || name == "dwarf") return true;
        for (unsigned k = 1; k <= FORMAT_COUNT; ++k)
            if (name == format_at(k).key) {
                format_ = k;
                return true;
            }
        return false;
    }
    void run(const uint8_t* data, size_t size) const {
        if (format_ != 0)
            exercise(format_, data, size);
        else if (name_ == "sdb")
            run_sdb(data, size);
        else
            run_dwarf(data, size);
    }

  private:
    std::string name_;
    unsigned format_ = 0;
};

} // namespace fuzz
