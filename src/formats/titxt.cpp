// TI-.TXT files. Not built yet: the detector answers no and the operations are
// placeholders.
#include "formats/descriptors.h"

const FormatDescriptor titxt_format = {
    detect_never, read_placeholder, write_placeholder, dump_placeholder, "TI-.TXT", "titxt", "txt",
    false,
};
