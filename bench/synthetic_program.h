// The synthetic program of the benchmarks: a large PIC18 program written as the tool
// chain would leave it, a linker symbol file with one side file per module and, on
// request, the program image as Intel HEX.
//
// At full size 500 modules, each with a side file (structures, typedefs, externs,
// functions with parameters, autos and nested blocks), 200 000 symbols and 1 000 000 line
// records in the symbol file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace synthetic {

struct Size {
    unsigned modules;
    unsigned symbols;
    unsigned lines;
};

// The benchmark sizes: the full program and one tenth of it.
constexpr Size FULL = {500, 200000, 1000000};
constexpr Size TENTH = {50, 20000, 100000};

constexpr unsigned FUNCTIONS_PER_MODULE = 40;

// One module's side file.
inline void write_side_file(const std::string& path, unsigned module, unsigned externs) {
    FILE* out = fopen(path.c_str(), "w");
    if (!out) return;
    fprintf(out, "[p GLOBOPT FAST_DBL LARGE_MODEL ]\n[d edition pro ]\n\"1 types%u.h\n", module);
    fprintf(out, "[v _u8 `uc 0 t 0 ]\n[v _u16 `ui 0 t 0 ]\n");
    fprintf(out, "[e E1 state `uc S_IDLE 0 S_RUN 1 S_STOP 2 ]\n");
    fprintf(out,
            "[s S1 rec 8 `u16 id 2 0 E1 st 1 2 `uc flags 1 3 :3:0 *S1 next 2 4 `u16 crc 2 6 ]\n");
    fprintf(out, "\"5 m%u.c\n", module);
    for (unsigned k = 0; k < externs; ++k)
        fprintf(out, "[v _g%u_%u %s 0 e 1 @%u ]\n", module, k, k % 3 == 0 ? "S1" : "`[4]u16",
                256 + k * 8);
    unsigned line = 100;
    for (unsigned f = 0; f < FUNCTIONS_PER_MODULE; ++f) {
        fprintf(out, "\"%u\n[v _f%u_%u `(i 0 e 1 @0 ]\n{\n\"%u\n", line, module, f, line);
        fprintf(out, "[v _p `u16 0 p 0 0 ]\n[v _q *S1 0 p 0 2 ]\n\"%u\n", line + 1);
        fprintf(out, "[v _a `i 0 a 0 0 ]\n[v _b S1 0 a 0 2 ]\n[v _c `uc 0 r 0 prodl ]\n");
        fprintf(out, "\"%u\n{\n\"%u\n[v _t `l 0 a 0 10 ]\n\"%u\n}\n", line + 3, line + 4, line + 8);
        fprintf(out, "\"%u\n}\n1 14 0 4\n", line + 20);
        line += 25;
    }
    fclose(out);
}

// The symbol file and every side file of a program of the given size.
inline void generate(const std::string& dir, const Size& size) {
    unsigned per_module = size.symbols / size.modules;
    unsigned locals = FUNCTIONS_PER_MODULE * 2; // ?? and ? frame symbols
    unsigned externs = per_module - FUNCTIONS_PER_MODULE - locals;
    unsigned lines_per_module = size.lines / size.modules;
    FILE* sym = fopen((dir + "/prog.sym").c_str(), "w");
    if (!sym) return;
    uint32_t code = 0x100;
    for (unsigned m = 0; m < size.modules; ++m) {
        for (unsigned f = 0; f < FUNCTIONS_PER_MODULE; ++f)
            fprintf(sym, "_f%u_%u %X 0 CODE\n", m, f, code + f * 0x40);
        for (unsigned k = 0; k < externs; ++k)
            fprintf(sym, "_g%u_%u %X 0 BANK%u\n", m, k, 0x100000 + m * 0x1000 + k * 8, m % 4);
        code += FUNCTIONS_PER_MODULE * 0x40;
    }
    fprintf(sym, "__Ltext 100 0 ABS\n__Htext %X 0 ABS\n", code - 1);
    fprintf(sym, "%%segments\ntext 100 %X CODE\n", code - 1);
    for (unsigned b = 0; b < 4; ++b)
        fprintf(sym, "rbss%u %X %X BANK%u\n", b, 0x100000 + b * 0x1000, 0x100FFF + b * 0x1000, b);
    fprintf(sym, "%%locals\n");
    code = 0x100;
    for (unsigned m = 0; m < size.modules; ++m) {
        fprintf(sym, "m%u.obj\nm%u.c\n", m, m);
        for (unsigned f = 0; f < FUNCTIONS_PER_MODULE; ++f) {
            fprintf(sym, "??_f%u_%u %X 0 BANK%u\n", m, f, 0x200000 + m * 0x100 + f * 4, m % 4);
            fprintf(sym, "?_f%u_%u %X 0 BANK%u\n", m, f, 0x200002 + m * 0x100 + f * 4, m % 4);
        }
        for (unsigned k = 0; k < lines_per_module; ++k)
            fprintf(sym, "%u %X 0 CODE\n", 100 + k, code + k * 2);
        code += FUNCTIONS_PER_MODULE * 0x40;
        write_side_file(dir + "/m" + std::to_string(m) + ".sdb", m, externs);
    }
    fclose(sym);
}

// The code of every module as Intel HEX: each module's functions, filled with a
// recognisable pattern, one block per module (a few bytes short of the next module, so
// that every module is a text section of its own).
inline void generate_image(const std::string& dir, const Size& size) {
    FILE* hex = fopen((dir + "/prog.hex").c_str(), "w");
    if (!hex) return;
    uint32_t code = 0x100;
    uint32_t upper = 0xFFFFFFFF;
    const uint32_t module_bytes = FUNCTIONS_PER_MODULE * 0x40;
    for (unsigned m = 0; m < size.modules; ++m) {
        for (uint32_t at = code; at < code + module_bytes - 0x10; at += 16) {
            if (at >> 16 != upper) {
                upper = at >> 16;
                unsigned sum = 2 + 4 + (upper >> 8) + (upper & 0xFF);
                fprintf(hex, ":02000004%04X%02X\n", upper, (0x100 - sum % 0x100) & 0xFF);
            }
            unsigned sum = 16 + ((at >> 8) & 0xFF) + (at & 0xFF);
            fprintf(hex, ":10%04X00", at & 0xFFFF);
            for (unsigned k = 0; k < 16; ++k) {
                unsigned byte = (at + k + m) & 0xFF;
                sum += byte;
                fprintf(hex, "%02X", byte);
            }
            fprintf(hex, "%02X\n", (0x100 - sum % 0x100) & 0xFF);
        }
        code += module_bytes;
    }
    fprintf(hex, ":00000001FF\n");
    fclose(hex);
}

// The directory the benchmark works in: the one given, or a new one below /tmp named
// with the prefix (empty when it cannot be made).
inline std::string work_root(int argc, char** argv, const char* prefix) {
    if (argc > 1) return argv[1];
    std::string pattern = std::string("/tmp/") + prefix + "-XXXXXX";
    return mkdtemp(pattern.data()) ? pattern : std::string();
}

} // namespace synthetic
