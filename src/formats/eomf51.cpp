// Extended OMF-51 files. Not built yet: the detector answers no and the operations are
// placeholders.
#include "formats/descriptors.h"

const FormatDescriptor eomf51_format = {
    detect_never,  read_placeholder,  write_placeholder, dump_placeholder,
    reset_nothing, "Extended OMF-51", "eomf51",          "abs",
    true,
};
