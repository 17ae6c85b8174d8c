// One run of the program, from the argument words to the exit status: what the command
// line asked for, the messages and their counts, the processor family chosen, the symbol
// store and the type model that the readers fill and the writers read, and what a format
// keeps from one of its operations to the next, under the format's name. The driver
// makes one for each run and hands it to every format operation; nothing of a run is
// kept anywhere else, so two runs in one process share nothing.
#pragma once

#include "common/alert.h"
#include "common/options.h"
#include "formats/coff/coff.h"
#include "formats/native/norval.h"
#include "model/machine.h"
#include "model/store.h"
#include "model/type.h"

struct Run {
    Options options;
    MessageState messages;
    Machine machine;
    Store store;
    TypeModel type_model;
    CoffState coff;      // the COFF family's targets and generated names
    NorvalWriter norval; // what the NORVALE writer has written once
};
