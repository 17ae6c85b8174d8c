// Damaged-input sweep: every listed sample, cut at each length and with each byte
// flipped, goes through detection, the read (then normalisation and every writer) and
// the dump of its format, in-process (a cut at every verbose level, a flip at one). Any crash,
// sanitizer report or hang fails; a damaged file may only produce messages and a failing status.
//
// usage: damage_sweep DATA_DIR LIST_FILE... [--only TEXT]
// Each list holds lines "key path [option...]" (path relative to DATA_DIR); "#" starts a
// comment. The options are set before each pass as the command line sets them, except
// "side=NAME": then the listed file is read whole each time and the side file NAME of its
// directory (a module's symbolic-debug file) is the one cut and flipped, in a scratch copy
// of the directory.
// Each sample runs in its own directory, so that files it names by relative paths (a
// symbol file's object modules and their side files) are found.
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "common/alert.h"
#include "common/options.h"
#include "driver/formats.h"
#include "driver/normalize.h"
#include "driver/run.h"
#include "exercise.h"
#include "model/run.h"

namespace {

const char* current_variant = "";

void on_alarm(int) {
    const char text[] = "damage_sweep: a variant took too long (hang)\n";
    (void)!write(2, text, sizeof text - 1);
    (void)!write(2, current_variant, strlen(current_variant));
    _exit(2);
}

std::vector<uint8_t> load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void save(const std::string& path, const std::vector<uint8_t>& bytes, size_t length) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(length));
}

// A scratch copy of a directory's files; answers its path, empty on failure.
std::string scratch_copy(const std::string& dir) {
    char scratch[] = "/tmp/symvert-sweep-XXXXXX";
    if (!mkdtemp(scratch)) return "";
    DIR* listing = opendir(dir.c_str());
    if (!listing) return "";
    while (dirent* item = readdir(listing)) {
        std::string name = item->d_name;
        if (name == "." || name == "..") continue;
        std::vector<uint8_t> bytes = load(dir + "/" + name);
        save(std::string(scratch) + "/" + name, bytes, bytes.size());
    }
    closedir(listing);
    return scratch;
}

// Runs every damaged variant of bytes: cut at each length, then each byte flipped. apply
// puts a variant in place and exercises it with the dump level given: a cut is dumped at
// every level, a flip at one, in turn, so that each level meets a third of the flips.
template <typename Apply>
unsigned long sweep_variants(const std::string& label_base, const std::vector<uint8_t>& bytes,
                             Apply apply) {
    unsigned long variants = 0;
    static std::string label;
    for (size_t cut = 0; cut <= bytes.size(); ++cut) {
        label = label_base + " cut at " + std::to_string(cut) + "\n";
        current_variant = label.c_str();
        alarm(20);
        apply(bytes, cut, -1);
        ++variants;
    }
    for (size_t at = 0; at < bytes.size(); ++at) {
        std::vector<uint8_t> flipped = bytes;
        flipped[at] ^= (at & 1) ? 0xFF : 0x81;
        label = label_base + " flipped at " + std::to_string(at) + "\n";
        current_variant = label.c_str();
        alarm(20);
        apply(flipped, flipped.size(), static_cast<int>(at % 3));
        ++variants;
    }
    return variants;
}

} // namespace

int main(int argc, char** argv) {
    ::Run run; // for the format keys of the sample list
    if (argc < 3) {
        fprintf(stderr, "usage: damage_sweep DATA_DIR LIST_FILE... [--only TEXT]\n");
        return 2;
    }
    std::vector<std::string> lists;
    const char* only = nullptr;
    for (int k = 2; k < argc; ++k) {
        if (strcmp(argv[k], "--only") == 0 && k + 1 < argc)
            only = argv[++k];
        else {
            char list_path[PATH_MAX];
            lists.push_back(realpath(argv[k], list_path) ? list_path : argv[k]);
        }
    }
    signal(SIGALRM, on_alarm);
    FILE* report = fdopen(dup(1), "w");
    // Messages and dumps are not the point here.
    if (!report || !freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr))
        return 2;
    char data_dir[PATH_MAX];
    if (!realpath(argv[1], data_dir)) return 2;
    std::string line;
    unsigned samples = 0;
    unsigned long variants = 0;
    for (const std::string& list_name : lists) {
        std::ifstream list(list_name);
        while (std::getline(list, line)) {
            std::istringstream words(line);
            std::string key, path, word;
            if (!(words >> key >> path) || key[0] == '#') continue;
            std::vector<std::string> option_words;
            std::string side;
            while (words >> word && word[0] != '#') {
                if (word.rfind("side=", 0) == 0)
                    side = word.substr(5);
                else
                    option_words.push_back(word);
            }
            if (only && path.find(only) == std::string::npos) continue;
            unsigned number = find_format_key(run, key.c_str());
            std::string full = std::string(data_dir) + "/" + path;
            std::string sample_dir = full.substr(0, full.rfind('/'));
            if (chdir(sample_dir.c_str()) != 0) return 2;
            std::vector<uint8_t> original = load(full);
            ++samples;
            if (side.empty()) {
                variants += sweep_variants(path, original,
                                           [&](const auto& bytes, size_t length, int level) {
                                               exercise(number, bytes, length, option_words, level);
                                           });
                continue;
            }
            std::string scratch = scratch_copy(sample_dir);
            if (scratch.empty() || chdir(scratch.c_str()) != 0) return 2;
            std::string side_path = scratch + "/" + side;
            std::vector<uint8_t> side_bytes = load(side_path);
            variants +=
                sweep_variants(path + " with " + side, side_bytes,
                               [&](const auto& bytes, size_t length, int level) {
                                   save(side_path, bytes, length);
                                   exercise(number, original, original.size(), option_words, level);
                               });
            std::filesystem::remove_all(scratch);
        }
    }
    alarm(0);
    fprintf(report, "%u samples, %lu variants\n", samples, variants);
    fclose(report);
    return 0;
}
