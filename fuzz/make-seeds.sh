#!/bin/sh
# Writes seed inputs for the fuzz targets into a scratch directory (default
# /tmp/symvert-seeds), which it empties first:
#   files/   for every format target: the test samples, and what the peers' tools make
#            (gputils: .hex, .cod, .cof; srecord: S-records, Intel HEX, TI-TXT; binutils:
#            H8/300 COFF and its images, images of ELF files; sdcc: 8051 OMF-51 and HEX,
#            HC08 ELF; gcc-arm-none-eabi and gcc-mips-linux-gnu: ELF with DWARF 2 to 5)
#   sdb/     the side files of tests/data, each behind an option byte (fuzz/targets.h)
#   dwarf/   the DWARF sections of every 32-bit ELF file in files/, behind a byte order byte
# A tool that is missing is left out, with a line saying so. The seeds themselves are not
# kept; the fuzz runs minimise what they find into fuzz/corpus/<target>.
# usage: fuzz/make-seeds.sh [SCRATCH_DIR]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-/tmp/symvert-seeds}
rm -rf "$out"
mkdir -p "$out/files" "$out/sdb" "$out/dwarf"
out=$(cd "$out" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
data=$root/tests/data

have() {
  if command -v "$1" >/dev/null 2>&1; then return 0; fi
  echo "make-seeds.sh: $1 is missing; its seeds are left out" >&2
  return 1
}

# Every sample file of tests/data, named after its path.
(cd "$data" && find . -type f ! -name '*.py' ! -name '*.sh' ! -name 'README*' | sort) |
  while read -r path; do
    name=$(echo "${path#./}" | tr '/' '_')
    cp "$data/$path" "$out/files/data_$name"
  done

# gputils: absolute and relocatable builds for three PIC families.
if have gpasm && have gplink; then
  mkdir "$work/pic" && cd "$work/pic"
  cp "$data/pic/blink.asm" .
  cat >p18.asm <<'EOF'
        list    p=18f452
        include <p18f452.inc>
        global  start, total
        udata
total   res     2
scratch res     4
rstvec  code    0x000
        goto    start
prog    code
start:  movlw   0x12
        movwf   total
        clrf    total+1
again:  incf    total, f
        btfsc   STATUS, C
        incf    total+1, f
        call    delay
        bra     again
delay:  decfsz  scratch, f
        bra     delay
        return
        end
EOF
  cat >p12.asm <<'EOF'
        list    p=12f675
        include <p12f675.inc>
        org     0
        goto    main
        org     4
        retfie
main:   bsf     STATUS, RP0
        clrf    TRISIO
        bcf     STATUS, RP0
loop:   comf    GPIO, f
        goto    loop
        de      "eeprom", 1, 2, 3
        end
EOF
  for source in blink p18 p12; do
    gpasm -q -o "$source-abs.hex" "$source.asm" >/dev/null 2>&1 || true
    gpasm -q -a inhx32 -o "$source-32.hex" "$source.asm" >/dev/null 2>&1 || true
    if gpasm -q -c "$source.asm" >/dev/null 2>&1; then
      gplink -q -c -o "$source-linked.hex" "$source.o" >/dev/null 2>&1 || true
    fi
  done
  for file in *.hex *.cod *.cof *.o; do
    [ -f "$file" ] && cp "$file" "$out/files/gputils_$file"
  done
fi

# binutils for the H8/300: objects, a linked program and its images.
if have h8300-hitachi-coff-as && have h8300-hitachi-coff-ld; then
  mkdir "$work/h8300" && cd "$work/h8300"
  h8300-hitachi-coff-as -o main.o "$data/coff/h8300/main.s"
  h8300-hitachi-coff-as -o util.o "$data/coff/h8300/util.s"
  h8300-hitachi-coff-ld -o prog.coff main.o util.o
  h8300-hitachi-coff-ld -r -o partial.o main.o util.o
  h8300-hitachi-coff-objcopy --strip-debug prog.coff stripped.coff
  for file in main.o util.o prog.coff partial.o stripped.coff; do
    cp "$file" "$out/files/h8300_$file"
  done
  if have h8300-hms-objcopy; then
    h8300-hms-objcopy -O srec prog.coff "$out/files/h8300_prog.s19"
    h8300-hms-objcopy -O ihex prog.coff "$out/files/h8300_prog.hex"
  fi
fi

# gcc-arm-none-eabi: DWARF 2, 3 and 4, optimised or not, with macros, Thumb, big-endian.
elfsources="$data/elfreal/prog.c $data/elfreal/util.c"
common="-gstrict-dwarf -gno-as-loc-support -gpubnames -fno-asynchronous-unwind-tables
        -fno-unwind-tables -ffreestanding -nostdlib -nostartfiles -Wl,-e,main
        -Wl,-z,max-page-size=0x10"
if have arm-none-eabi-gcc; then
  mkdir "$work/arm" && cd "$work/arm"
  arm="arm-none-eabi-gcc -mcpu=arm7tdmi"
  # shellcheck disable=SC2086 # one word per option
  for version in 2 3 4; do
    $arm -g -gdwarf-$version $common -O0 -o arm-d$version-O0.elf $elfsources
    $arm -g -gdwarf-$version $common -Os -mthumb -o arm-d$version-thumb.elf $elfsources
  done
  # shellcheck disable=SC2086
  $arm -g3 -undef -gdwarf-2 $common -O1 -o arm-g3.elf $elfsources
  # shellcheck disable=SC2086
  $arm -g -gdwarf-3 $common -O2 -mbig-endian -o arm-be.elf $elfsources
  # shellcheck disable=SC2086
  $arm -g -gdwarf-2 -gstrict-dwarf -c -o arm-prog.o "$data/elfreal/prog.c"
  # DWARF 3 to 5 as gcc writes them by default (location views, call sites, version 5
  # units with the assembler's line-number programs), DWARF 5 with gcc's own programs,
  # and a skeleton unit of split DWARF with its address table.
  later="-fno-asynchronous-unwind-tables -fno-unwind-tables -ffreestanding -nostdlib
         -nostartfiles -Wl,-e,main -Wl,-z,max-page-size=0x10"
  # shellcheck disable=SC2086
  for version in 3 4 5; do
    $arm -g -gdwarf-$version $later -O2 -o arm-d$version-O2.elf $elfsources
  done
  # shellcheck disable=SC2086
  $arm -g -gdwarf-5 -gno-as-loc-support $later -Os -mthumb -o arm-d5-own.elf $elfsources
  # shellcheck disable=SC2086
  $arm -g3 -undef -gdwarf-5 $later -O0 -o arm-g3-d5.elf $elfsources
  $arm -g -gdwarf-5 -gsplit-dwarf -O2 -c -o arm-split.o "$data/elfreal/prog.c"
  rm -f ./*.dwo
  # The sections that later compilers write: GNU's macro units of version 4, type units
  # (.debug_types, and in .debug_info at version 5) and split units of version 4 with
  # their .dwo file.
  $arm -g3 -undef -gdwarf-4 -O1 -ffreestanding -c -o arm-g3-d4.o "$data/elfreal/prog.c"
  for version in 4 5; do
    arm-none-eabi-g++ -mcpu=arm7tdmi -g -gdwarf-$version -fdebug-types-section -O1 \
      -ffreestanding -fno-exceptions -fno-rtti -x c++ -c -o arm-types-d$version.o \
      "$data/elfreal/prog.c" || true
  done
  $arm -g -gdwarf-4 -gsplit-dwarf -O2 -c -o arm-split-d4.o "$data/elfreal/prog.c"
  for file in *.elf *.o *.dwo; do cp "$file" "$out/files/gcc_$file"; done
  # Images of the programs, by the multiarch objcopy.
  if have objcopy; then
    objcopy -O ihex arm-d2-O0.elf "$out/files/objcopy_arm.hex"
    objcopy -O srec arm-d2-O0.elf "$out/files/objcopy_arm.s19"
    objcopy -O srec --srec-forceS3 arm-d4-thumb.elf "$out/files/objcopy_arm.s37"
  fi
fi
if have mips-linux-gnu-gcc; then
  cd "$work"
  # shellcheck disable=SC2086
  mips-linux-gnu-gcc -EB -g -gdwarf-2 -gstrict-dwarf -O1 -c -o "$out/files/gcc_mips-be.o" \
    "$data/elfreal/prog.c"
  mips-linux-gnu-gcc -EB -g -O2 -c -o "$out/files/gcc_mips-be-d5.o" "$data/elfreal/prog.c"
  mips-linux-gnu-gcc -EL -g -gdwarf-4 -O2 -c -o "$out/files/gcc_mips-d4.o" "$data/elfreal/prog.c"
fi
# clang's name index (.debug_names).
if have clang; then
  clang --target=armv4t-none-eabi -g -gdwarf-5 -gpubnames -O2 -ffreestanding -c \
    -o "$out/files/clang_names-d5.o" "$data/elfreal/prog.c"
fi

# sdcc: 8051 programs (OMF-51 with --debug, Intel HEX) and an HC08 ELF file.
if have sdcc; then
  mkdir "$work/sdcc" && cd "$work/sdcc"
  cp "$data"/omf51/*.c "$data"/omf51/*.h .
  build51() {
    name=$1
    shift
    options=$1
    shift
    rels=""
    for source in "$@"; do
      # shellcheck disable=SC2086
      sdcc -mmcs51 $options --debug -c "$source" >/dev/null 2>&1
      rels="$rels ${source%.c}.rel"
    done
    # shellcheck disable=SC2086
    sdcc -mmcs51 $options --debug -o "$name.ihx" $rels >/dev/null 2>&1
    cp "$name.omf" "$out/files/sdcc_$name.omf"
    cp "$name.ihx" "$out/files/sdcc_$name.ihx"
  }
  build51 medium "--model-medium" sampler.c filter.c display.c
  build51 auto "--stack-auto" logger.c ring.c
  build51 single "" filter.c
  sdcc -mhc08 --out-fmt-elf --debug "$data/elfreal/hc08.c" >/dev/null 2>&1 &&
    cp hc08.elf "$out/files/sdcc_hc08.elf"
fi

# srecord: the gputils and sdcc images in other formats and at other addresses.
if have srec_cat; then
  cd "$work"
  n=0
  srec_cat() { command srec_cat -disable-sequence-warnings "$@"; }
  for image in "$out"/files/gputils_blink-linked.hex "$out"/files/sdcc_medium.ihx \
    "$data/images/gaps.hex"; do
    [ -f "$image" ] || continue
    n=$((n + 1))
    srec_cat "$image" -Intel -o "$out/files/srec_$n.s19" -Motorola
    srec_cat "$image" -Intel -offset 0x12000 -o "$out/files/srec_$n.s28" -Motorola \
      -address-length=3
    srec_cat "$image" -Intel -offset 0x1000000 -o "$out/files/srec_$n.s37" -Motorola \
      -address-length=4
    srec_cat "$image" -Intel -offset 0x30000 -o "$out/files/srec_$n-linear.hex" -Intel
    srec_cat "$image" -Intel -o "$out/files/srec_$n-seg.hex" -Intel -address-length=3
    srec_cat "$image" -Intel -o "$out/files/srec_$n.txt" -TI_TXT
    srec_cat "$image" -Intel -fill 0xFF -over "$image" -Intel -o "$out/files/srec_$n-fill.hex" \
      -Intel -output_block_size=32
  done
fi

# The side files, each behind an option byte: its family (bits 0-2, 0 where the side
# file's option line selects it), once with -nCODE and once verbose with -k.
sdb_seed() { # FAMILY SIDE_FILE NAME
  for extra in 64 136; do
    # shellcheck disable=SC2059 # the format is the octal escape of the byte
    { printf "\\$(printf %03o $(($1 | extra)))"; cat "$2"; } >"$out/sdb/$3-$extra"
  done
}
for dir in pic16:1 pic18:0 pic18:2 dspic:3 pic32:4 i8051:5 arm:6 holtek:0 holtek:7; do
  for side in "$data/debug/${dir%:*}"/*.sdb; do
    sdb_seed "${dir#*:}" "$side" "${dir%:*}-${dir#*:}-$(basename "$side" .sdb)"
  done
done
sdb_seed 6 "$data/elfside/prog.sdb" elfside

# The DWARF sections of each 32-bit ELF file, in the dwarf target's layout.
python3 - "$out/files" "$out/dwarf" <<'EOF'
import os, struct, sys
SECTIONS = [".debug_abbrev", ".debug_info", ".debug_line", ".debug_str", ".debug_frame",
            ".debug_pubnames", ".debug_pubtypes", ".debug_aranges", ".debug_macinfo",
            ".debug_loc", ".debug_ranges", ".debug_str_offsets", ".debug_line_str",
            ".debug_addr", ".debug_rnglists", ".debug_loclists"]
source, target = sys.argv[1], sys.argv[2]
for name in sorted(os.listdir(source)):
    data = open(os.path.join(source, name), "rb").read()
    if len(data) < 52 or data[:4] != b"\x7fELF" or data[4] != 1:
        continue
    order = ">" if data[5] == 2 else "<"
    shoff, = struct.unpack_from(order + "I", data, 32)
    entsize, count, names_index = struct.unpack_from(order + "HHH", data, 46)
    try:
        headers = [struct.unpack_from(order + "10I", data, shoff + k * entsize)
                   for k in range(count)]
        names = headers[names_index]
        table = data[names[4]:names[4] + names[5]]
    except (struct.error, IndexError):
        continue
    found = {}
    for header in headers:
        end = table.find(b"\0", header[0])
        found[table[header[0]:end].decode("latin-1")] = data[header[4]:header[4] + header[5]]
    if ".debug_info" not in found:
        continue
    pieces = [found.get(section, b"") for section in SECTIONS]
    while pieces and not pieces[-1]:
        pieces.pop()
    with open(os.path.join(target, name), "wb") as seed:
        seed.write(bytes([1 if order == ">" else 0]) + b"!SEC".join(pieces))
EOF

# Inputs over 64 KiB are slow to fuzz and are not kept.
find "$out" -type f -size +64k -delete
for dir in files sdb dwarf; do
  echo "$dir: $(find "$out/$dir" -type f | wc -l) seeds, $(du -sk "$out/$dir" | cut -f1) KiB"
done
