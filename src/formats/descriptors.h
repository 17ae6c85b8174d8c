// The format descriptors, one exported by each format module.
#pragma once

#include "common/format.h"

extern const FormatDescriptor norval_format;
extern const FormatDescriptor pe_format;
extern const FormatDescriptor eomf51_format;
extern const FormatDescriptor omf51_format;
extern const FormatDescriptor ihex_format;
extern const FormatDescriptor s19_format;
extern const FormatDescriptor cod_format;
extern const FormatDescriptor mcoff_format;
extern const FormatDescriptor coff_format;
extern const FormatDescriptor icoff_format;
extern const FormatDescriptor elf_format;
extern const FormatDescriptor ubrof_format;
extern const FormatDescriptor htk_format;
extern const FormatDescriptor tsk_format;
extern const FormatDescriptor titxt_format;
