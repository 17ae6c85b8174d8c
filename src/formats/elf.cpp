// ELF/DWARF files. Not built yet: the detector answers no and the operations are
// placeholders.
#include "formats/descriptors.h"

const FormatDescriptor elf_format = {
    detect_never,
    read_placeholder,
    write_placeholder,
    dump_placeholder,
    reset_nothing,
    "ELF/DWARF",
    "elf",
    "elf",
    true,
};
