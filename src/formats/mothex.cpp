// Motorola HEX files. Not built yet: the detector answers no and the operations are
// placeholders.
#include "formats/descriptors.h"

const FormatDescriptor s19_format = {
    detect_never,
    read_placeholder,
    write_placeholder,
    dump_placeholder,
    "Motorola HEX",
    "s19",
    "hex",
    false,
};
