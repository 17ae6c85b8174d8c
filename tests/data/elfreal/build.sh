#!/bin/sh
# Rebuilds the real-compiler ELF samples from the C sources here with the peers'
# compilers; this folder is mapped to "." so the same tools give the same bytes anywhere.
set -eu
cd "$(dirname "$0")"
here=$(pwd)
# Strict DWARF 2, frames in .debug_frame, .debug_pubnames; linked without start-up code.
debug="-g -gdwarf-2 -gstrict-dwarf -gno-as-loc-support -gpubnames
       -fno-asynchronous-unwind-tables -fno-unwind-tables -ffreestanding
       -fdebug-prefix-map=$here=."
link="-nostdlib -nostartfiles -Wl,-e,main -Wl,-z,max-page-size=0x10"
arm="arm-none-eabi-gcc -mcpu=arm7tdmi"
$arm $debug -O0 $link -o arm-O0.elf prog.c util.c
$arm $debug -O2 $link -o arm-O2.elf prog.c util.c
$arm $debug -g3 -undef -O0 $link -o arm-g3.elf prog.c util.c  # macros, not gcc's own
mips-linux-gnu-gcc -EL $debug -O1 -c -o mips.o prog.c         # relocations kept
scratch=$(mktemp -d) # sdcc writes a dozen files beside its output
trap 'rm -rf "$scratch"' EXIT
cp hc08.c "$scratch"
(cd "$scratch" && sdcc -mhc08 --out-fmt-elf --debug hc08.c)
cp "$scratch/hc08.elf" .
# DWARF 3 to 5 as gcc writes them by default; version 5 line programs from gcc itself.
later="-g -fno-asynchronous-unwind-tables -fno-unwind-tables -ffreestanding
       -fdebug-prefix-map=$here=."
$arm $later -gdwarf-3 -O2 $link -o arm-v3.elf prog.c util.c
$arm $later -gdwarf-4 -O2 $link -o arm-v4.elf prog.c util.c
$arm $later -gdwarf-5 -gno-as-loc-support -O2 $link -o arm-v5.elf prog.c util.c
$arm $later -gdwarf-5 -g3 -undef -O0 $link -o arm-g3-v5.elf prog.c util.c
$arm $later -gdwarf-5 -gsplit-dwarf -O2 -c -o arm-split-v5.o prog.c  # and arm-split-v5.dwo
$arm $later -gdwarf-4 -gsplit-dwarf -O2 -c -o arm-split-v4.o prog.c  # and arm-split-v4.dwo
$arm $later -gdwarf-4 -g3 -undef -O0 $link -o arm-g3-v4.elf prog.c util.c  # GNU .debug_macro
$arm $later -O0 $link -o arm-block-O0.elf block.c  # a block with its own pc range
# C++: type units (linked, so that each kind of section is one), vendor tags and values.
cxx="arm-none-eabi-g++ -mcpu=arm7tdmi $later -fno-exceptions -fno-rtti -fdebug-types-section -O2"
$cxx -gdwarf-4 -nostdlib -nostartfiles -Wl,-e,cxx_entry -Wl,-z,max-page-size=0x10 -o arm-cxx-v4.elf stages.cpp
$cxx -gdwarf-5 -nostdlib -nostartfiles -Wl,-e,cxx_entry -Wl,-z,max-page-size=0x10 -o arm-cxx-v5.elf stages.cpp
mips-linux-gnu-gcc -EB $later -O1 -c -o mips-be.o prog.c
mips-linux-gnu-gcc -EB -mno-abicalls -fno-pic -no-pie $later -gdwarf-4 -g3 -undef -O2 $link \
  -o mips-be-v4.elf prog.c util.c
# clang writes indexed strings, addresses and lists, and version 4 CIEs.
clang --target=armv4t-none-eabi -g -gdwarf-5 -O2 -ffreestanding -fno-addrsig \
  -fdebug-prefix-map="$here"=. -c -o clang-v5.o prog.c
clang++ --target=armv4t-none-eabi -g -gdwarf-5 -gpubnames -fdebug-macro -undef -O2 -ffreestanding \
  -fno-exceptions -fno-rtti -fno-addrsig -fdebug-prefix-map="$here"=. -c -o clang-cxx-v5.o stages.cpp
