#!/bin/sh
# Rebuilds the H8/300 COFF samples from their assembly sources (binutils-h8300-hms).
set -e
cd "$(dirname "$0")"
h8300-hitachi-coff-as -o main.o main.s
h8300-hitachi-coff-as -o util.o util.s
h8300-hitachi-coff-ld -o prog.coff main.o util.o
