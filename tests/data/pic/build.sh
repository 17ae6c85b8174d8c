#!/bin/sh
# Rebuilds the PIC16F877A samples from blink.asm (gputils): the linked Microchip COFF
# blink.cof, the .COD file blink.cod and the Intel HEX image blink.hex.
set -e
cd "$(dirname "$0")"
gpasm -c blink.asm
gplink -q -c -o blink.hex blink.o
rm -f blink.o blink.lst blink.map
