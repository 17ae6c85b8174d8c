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
