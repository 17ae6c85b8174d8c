// OMF-51 files. Not built yet: the detector answers no and the operations are
// placeholders.
#include "formats/descriptors.h"

const FormatDescriptor omf51_format = {
    detect_never,  read_placeholder, write_placeholder, dump_placeholder,
    reset_nothing, "OMF-51",         "omf51",           "omf",
    true,
};
