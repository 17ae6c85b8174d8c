#!/bin/sh
# Rebuilds the real-compiler ELF samples from the C sources beside this script, with the
# peers' compilers (gcc-arm-none-eabi, gcc-mips-linux-gnu, sdcc). The flags are fixed and
# the build directory is mapped to ".", so the same tools give the same bytes anywhere.
set -eu
cd "$(dirname "$0")"
here=$(pwd)

# DWARF 2 only; frame information in .debug_frame (not .eh_frame); .debug_pubnames.
debug="-g -gdwarf-2 -gstrict-dwarf -gno-as-loc-support -gpubnames
       -fno-asynchronous-unwind-tables -fno-unwind-tables -ffreestanding
       -fdebug-prefix-map=$here=."
# Linked without library or start-up code; small page size so the file stays small.
link="-nostdlib -nostartfiles -Wl,-e,main -Wl,-z,max-page-size=0x10"

arm="arm-none-eabi-gcc -mcpu=arm7tdmi"
$arm $debug -O0 $link -o arm-O0.elf prog.c util.c
$arm $debug -O2 $link -o arm-O2.elf prog.c util.c
# -g3: macro information; -undef leaves out gcc's few hundred predefined macros.
$arm $debug -g3 -undef -O0 $link -o arm-g3.elf prog.c util.c

# A relocatable object: the DWARF sections keep their relocations.
mips-linux-gnu-gcc -EL $debug -O1 -c -o mips.o prog.c

# sdcc writes a dozen files beside its output: build in a scratch directory.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cp hc08.c "$scratch"
(cd "$scratch" && sdcc -mhc08 --out-fmt-elf --debug hc08.c)
cp "$scratch/hc08.elf" .

# DWARF 3, 4 and 5 as gcc writes them by default (not strict: GNU location views, DWARF 4
# operations in version 3 units); the version 5 file with gcc's own line-number programs
# (version 5, with .debug_line_str) rather than the assembler's (version 3).
later="-g -fno-asynchronous-unwind-tables -fno-unwind-tables -ffreestanding
       -fdebug-prefix-map=$here=."
$arm $later -gdwarf-3 -O2 $link -o arm-v3.elf prog.c util.c
$arm $later -gdwarf-4 -O2 $link -o arm-v4.elf prog.c util.c
$arm $later -gdwarf-5 -gno-as-loc-support -O2 $link -o arm-v5.elf prog.c util.c
# -g3 with DWARF 5: macros in .debug_macro, which the dump does not show.
$arm $later -gdwarf-5 -g3 -undef -O0 $link -o arm-g3-v5.elf prog.c util.c
# A skeleton unit of split DWARF, with its address table (the .dwo file is not kept).
$arm $later -gdwarf-5 -gsplit-dwarf -O2 -c -o arm-split-v5.o prog.c
rm -f arm-split-v5.dwo
# A big-endian MIPS relocatable object with the compiler's default, DWARF 5.
mips-linux-gnu-gcc -EB $later -O1 -c -o mips-be.o prog.c
# clang (the LLVM tools' compiler, which the fuzz build needs too) writes what gcc does
# not: indexed strings, addresses and lists (.debug_str_offsets, .debug_addr, offset
# tables in .debug_rnglists and .debug_loclists) and version 4 common information entries.
clang --target=armv4t-none-eabi -g -gdwarf-5 -O2 -ffreestanding -fno-addrsig \
  -fdebug-prefix-map="$here"=. -c -o clang-v5.o prog.c
