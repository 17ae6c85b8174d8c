#!/usr/bin/env python3
"""hexrec.py < listing > image.hex: each listing line, a hexadecimal address, ":" and
bytes (or little-endian words "w1234"; "#" starts a comment), becomes Intel HEX records
of 16 bytes, with an extended linear address record where the upper 16 bits change."""
import sys


def record(kind, address, data):
    body = [len(data), address >> 8 & 0xFF, address & 0xFF, kind] + data
    return ":" + "".join("%02X" % b for b in body + [-sum(body) & 0xFF])


upper, out = 0, []
for line in sys.stdin:
    line = line.split("#", 1)[0].strip()
    if line:
        address, values = line.split(":", 1)
        data = []
        for item in values.split():
            data += [int(item[1:], 16) & 0xFF, int(item[1:], 16) >> 8] if item[0] == "w" else [int(item, 16)]
        for k in range(0, len(data), 16):
            at = int(address, 16) + k
            if at >> 16 != upper:
                upper = at >> 16
                out.append(record(4, 0, [upper >> 8, upper & 0xFF]))
            out.append(record(0, at & 0xFFFF, data[k:k + 16]))
print("\n".join(out + [record(1, 0, [])]))
