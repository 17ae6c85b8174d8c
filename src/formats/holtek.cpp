// Holtek DBG files. Not built yet: the detector answers no and the operations are
// placeholders.
#include "formats/descriptors.h"

const FormatDescriptor htk_format = {
    detect_never,
    read_placeholder,
    write_placeholder,
    dump_placeholder,
    reset_nothing,
    "Holtek DBG",
    "htk",
    "dbg",
    true,
};
