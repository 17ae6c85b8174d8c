#!/usr/bin/env python3
"""Helper for writing the sample images by hand: turns "address: bytes" lines into
Intel HEX records (checksums computed), 16 bytes to a record, with extended linear
address records where the upper 16 address bits change.

usage: hexrec.py < listing > image.hex
Each input line: a hexadecimal byte address, ":", and hexadecimal bytes or 16-bit
little-endian words written as "w1234"; "#" starts a comment.
"""
import sys


def record(kind, address, data):
    body = [len(data), (address >> 8) & 0xFF, address & 0xFF, kind] + list(data)
    return ":" + "".join("%02X" % b for b in body) + "%02X" % ((-sum(body)) & 0xFF)


def main():
    upper = 0
    out = []
    for line in sys.stdin:
        line = line.split("#", 1)[0].strip()
        if not line:
            continue
        addr_text, values = line.split(":", 1)
        address = int(addr_text, 16)
        data = []
        for item in values.split():
            if item.startswith("w"):
                word = int(item[1:], 16)
                data += [word & 0xFF, word >> 8]
            else:
                data.append(int(item, 16))
        for k in range(0, len(data), 16):
            chunk = data[k:k + 16]
            at = address + k
            if at >> 16 != upper:
                upper = at >> 16
                out.append(record(4, 0, [upper >> 8, upper & 0xFF]))
            out.append(record(0, at & 0xFFFF, chunk))
    out.append(record(1, 0, []))
    sys.stdout.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
