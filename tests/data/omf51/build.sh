#!/bin/sh
# Rebuilds the sdcc OMF-51 samples (.omf, .ihx, .cdb, .map) from the C sources here;
# sdcc --debug links with -y, so sdld writes the absolute OMF-51 file too.
set -eu
cd "$(dirname "$0")"
here=$(pwd)
scratch=$(mktemp -d) # sdcc writes a dozen files beside its output
trap 'rm -rf "$scratch"' EXIT
cp ./*.c ./*.h "$scratch"

# build NAME OPTIONS -- SOURCES
build() {
  name=$1 options=""
  shift
  while [ "$1" != "--" ]; do options="$options $1"; shift; done
  shift
  rels=""
  for source in "$@"; do
    (cd "$scratch" && sdcc -mmcs51 $options --debug -c "$source")
    rels="$rels ${source%.c}.rel"
  done
  (cd "$scratch" && sdcc -mmcs51 $options --debug -o "$name.ihx" $rels)
  # sdld leaves an offset unset for a local with no register at all: not repeatable.
  if grep -q ',R,0,0,\[\]' "$scratch/$name.cdb"; then echo "$name: local without registers" >&2; exit 1; fi
  for suffix in omf ihx cdb map; do cp "$scratch/$name.$suffix" "$here"; done
}

build meter -- sampler.c filter.c display.c        # small model, three modules
build logger --model-large -- logger.c ring.c      # large model, a reentrant function
