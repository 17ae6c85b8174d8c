#!/bin/sh
# Rebuilds the sdcc OMF-51 samples from the C sources beside this script. With --debug
# sdcc links with -y, and sdld, besides the .cdb debug file, then writes the absolute
# OMF-51 file (.omf) of the program. Only the files the checks use are copied back:
# .omf, .ihx, .cdb and the linker map. The same sdcc gives the same bytes anywhere.
set -eu
cd "$(dirname "$0")"
here=$(pwd)

# sdcc writes a dozen files beside its output: build in a scratch directory.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cp ./*.c ./*.h "$scratch"

# build NAME OPTIONS -- SOURCES: compiles each source and links them as NAME.
build() {
  name=$1
  shift
  options=""
  while [ "$1" != "--" ]; do
    options="$options $1"
    shift
  done
  shift
  rels=""
  for source in "$@"; do
    # shellcheck disable=SC2086 # one word per option
    (cd "$scratch" && sdcc -mmcs51 $options --debug -c "$source")
    rels="$rels ${source%.c}.rel"
  done
  # shellcheck disable=SC2086
  (cd "$scratch" && sdcc -mmcs51 $options --debug -o "$name.ihx" $rels)
  # sdld writes an uninitialised offset into the .omf for a local kept in registers
  # that has no register at all (",R,0,0,[]" in the .cdb): such a build is not
  # repeatable, so the sources avoid it.
  if grep -q ',R,0,0,\[\]' "$scratch/$name.cdb"; then
    echo "build.sh: $name has a local without registers; its .omf would vary" >&2
    exit 1
  fi
  for suffix in omf ihx cdb map; do
    cp "$scratch/$name.$suffix" "$here"
  done
}

# Small model: three modules.
build meter -- sampler.c filter.c display.c
# Large model (locals in external memory), a reentrant function with stack locals.
build logger --model-large -- logger.c ring.c
