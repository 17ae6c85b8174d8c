// Intel HEX files. Not built yet: the detector answers no and the operations are
// placeholders.
#include "formats/descriptors.h"

const FormatDescriptor ihex_format = {
    detect_never, read_placeholder, write_placeholder, dump_placeholder, "Intel HEX", "ihex", "hex",
    false,
};
