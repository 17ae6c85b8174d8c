// Damaged-input sweep: every listed sample, cut at each length and with each byte
// flipped, goes through detection, the read (then normalisation and every writer) and
// the dump of its format, in-process. Any crash, sanitizer report or hang fails; a
// damaged file may only produce messages and a failing status.
//
// usage: damage_sweep DATA_DIR LIST_FILE... [--only TEXT]
// Each list holds lines "key path" (path relative to DATA_DIR); "#" starts a comment.
// Each sample runs in its own directory, so that files it names by relative paths (a
// symbol file's object modules and their side files) are found.
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

} // namespace

int main(int argc, char** argv) {
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
            std::string key, path;
            if (!(words >> key >> path) || key[0] == '#') continue;
            if (only && path.find(only) == std::string::npos) continue;
            unsigned number = find_format_key(key.c_str());
            std::string full = std::string(data_dir) + "/" + path;
            std::string sample_dir = full.substr(0, full.rfind('/'));
            if (chdir(sample_dir.c_str()) != 0) return 2;
            std::vector<uint8_t> original = load(full);
            ++samples;
            std::string label;
            for (size_t cut = 0; cut <= original.size(); ++cut) {
                label = path + " cut at " + std::to_string(cut) + "\n";
                current_variant = label.c_str();
                alarm(20);
                exercise(number, original, cut);
                ++variants;
            }
            for (size_t at = 0; at < original.size(); ++at) {
                std::vector<uint8_t> flipped = original;
                flipped[at] ^= (at & 1) ? 0xFF : 0x81;
                label = path + " flipped at " + std::to_string(at) + "\n";
                current_variant = label.c_str();
                alarm(20);
                exercise(number, flipped, flipped.size());
                ++variants;
            }
        }
    }
    alarm(0);
    fprintf(report, "%u samples, %lu variants\n", samples, variants);
    fclose(report);
    return 0;
}
