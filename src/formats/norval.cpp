// NORVALE Software files. Not built yet: the detector answers no and the operations are
// placeholders.
#include "formats/descriptors.h"

const FormatDescriptor norval_format = {
    detect_never,
    read_placeholder,
    write_placeholder,
    dump_placeholder,
    "NORVALE Software",
    "norval",
    "sym",
    false,
};
