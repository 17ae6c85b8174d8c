// What the COFF family keeps for the rest of a run (run.coff): the current COFF target,
// the current ICOFF target, the Microchip target parameters and the counter of generated
// names. Reading an input (or a writer choosing a target) sets them, and every later COFF
// operation of the run reads its widths, units and byte order from them.
#pragma once

#include <cstdint>

struct MicrochipParameters {
    uint32_t processor = 0; // processor id
    uint32_t rom_width = 0; // bits per program-memory word
    uint32_t ram_width = 0; // bits per data-memory word
    uint32_t code_unit = 0; // bytes per program-memory address
    uint32_t data_unit = 0; // bytes per data-memory address
    uint32_t pointer_size = 0;
};

struct CoffState {
    unsigned target = 0;       // row of the COFF target table; 0 = none chosen
    unsigned icoff_target = 0; // row of the ICOFF target table; 0 = none chosen
    MicrochipParameters microchip;
    // Names ".u0", ".u1", ... given to anonymous structures and members by the COFF
    // writers, counted once per run.
    unsigned generated_names = 0;
};
