#include <string>
#include <vector>

#include "driver/run.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    return run_program(args);
}
