#!/usr/bin/env python3
"""make_ubrof.py [DIR]: writes the UBROF samples into DIR (default: beside this script).

Each sample is a list of records, laid out big-endian, names as a length byte and the
characters. ("crc",) writes a CRC record over every byte since the previous one (or the
start) up to its own tag; ("wrong crc",) flips the word's lowest bit; ("cut", n) drops
the last n bytes. The CRC is worked out here on its own terms: each byte's bits enter
least significant first, i.e. CRC-16/BUYPASS over the bit-reversed bytes.
"""
import os
import sys

USUAL_VERSION_BYTES = [0x00, 0x00, 0x05, 0xBA, 0x02, 0xBE, 0xFF, 0xBF, 0x02, 0xC0, 0xFF, 0xC1,
                       0x05]
USUAL_DEBUG_PREFIX = [0x00, 0xB9, 0x00, 0x00, 0x00]


def buypass(data):
    crc = 0
    for byte in data:
        crc ^= byte << 8
        for _ in range(8):
            crc = ((crc << 1) ^ 0x8005 if crc & 0x8000 else crc << 1) & 0xFFFF
    return crc


def ubrof_crc(data):
    return buypass(int(format(b, "08b")[::-1], 2) for b in data)


# The published check value of CRC-16/BUYPASS, and two CRCs worked out bit by bit.
assert buypass(b"123456789") == 0xFEE8
assert ubrof_crc([0x01]) == 0x8303
assert ubrof_crc([0x3F]) == 0x0208


def word(value):
    return [value >> 8 & 0xFF, value & 0xFF]


def long(value):
    return word(value >> 16) + word(value)


def name(text):
    return [len(text)] + list(text.encode("latin-1"))


def stamp(year, month, day, hour, minute, second):
    return [second, minute, hour, day, month, year - 1900]


def record(kind, *a):
    """The bytes of one record of the descriptions."""
    if kind == "header":
        return [0xA5] + stamp(*a[0])
    if kind == "version":
        version, rest = a[0], (a[1] if len(a) > 1 else USUAL_VERSION_BYTES)
        return [0xBD, version] + rest
    if kind == "c0":
        return [0xC0] + a[0]
    if kind == "debug":
        text, when, prefix = a[0], a[1], (a[2] if len(a) > 2 else USUAL_DEBUG_PREFIX)
        return [0x52] + prefix + name(text) + stamp(*when)
    if kind == "segment":
        tag, text, flags, ranges = a[:4]
        header = a[4] if len(a) > 4 else [0, 0, 0]
        out = [tag, 0] + header + name(text) + [flags, len(ranges)]
        for start, length in ranges:
            out += long(start) + long(length)
        return out
    if kind == "program":
        tag, text, version, flags, language, (year, month, day) = a
        return [tag, version, flags, language, day, month, year - 1900] + name(text)
    if kind == "translator":
        return [0x54, a[0], a[1]] + name(a[2])
    if kind == "aux":
        return [0x53, a[0], a[1]]
    if kind == "origin":
        return [0x51, a[0]] + long(a[1])
    if kind == "data":
        return [0x39, len(a[0])] + list(a[0])
    if kind == "symbol":
        sym_type, segment, address, text = a[:4]
        tail = a[4] if len(a) > 4 else [0, 0, 0]
        return [0x4C, sym_type] + word(segment) + long(address) + name(text) + tail
    if kind == "statement":
        line, segment, end_line, flags, last = a
        return [0x47] + word(line) + word(segment) + word(end_line) + [flags] + word(last)
    if kind == "j":
        out = [0x4A] + word(a[0]) + [a[1]]
        return out + name(a[2]) if a[1] == 0x11 else out
    if kind == "raw":
        return list(a[0])
    if kind == "end":
        return [0xFF]
    raise ValueError(kind)


def build(description):
    out = []
    block_start = 0
    for entry in description:
        kind = entry[0]
        if kind in ("crc", "wrong crc"):
            out.append(0x3F)
            value = ubrof_crc(out[block_start:])
            out += word(value ^ 1 if kind == "wrong crc" else value)
            block_start = len(out)
        elif kind == "cut":
            del out[len(out) - entry[1]:]
        else:
            out += record(*entry)
    return bytes(out)


WHEN = (2024, 3, 5, 14, 7, 9)
PROGRAM_HEAD = [
    ("header", WHEN),
    ("version", 6),
    ("program", 0x01, "meter", 0x12, 0x01, 0x10, (2024, 3, 5)),
    ("translator", 0x07, 0x21, "icc8051"),
    ("aux", 0x01, 0x80),
    ("debug", "meter.c", (2024, 3, 4, 9, 30, 0)),
    ("c0", [0x01, 0x02, 0x00, 0x00, 0x10, 0xFF]),
    ("segment", 0x02, "CODE", 0x01, [(0x0000, 0x0003), (0x0100, 0x0024)]),
    ("segment", 0x01, "DATA", 0x02, [(0x0030, 0x0008)]),
]

SAMPLES = {
    # The header and the end record alone.
    "minimal.d43": [("header", WHEN), ("end",)],
    # A small program: every tag in its usual form, in three CRC blocks.
    "program.d43": PROGRAM_HEAD + [
        ("crc",),
        ("origin", 1, 0x0000),
        ("data", [0x02, 0x01, 0x00]),
        ("origin", 1, 0x0100),
        ("data", b"\x75\x30\x00\x75\x31\x00meter v1.0\x00\x12\x01\x05\x80\xFE\x22"),
        ("data", [0xE5, 0x30, 0x24, 0x01, 0xF5, 0x30, 0xE5, 0x31, 0x34, 0x00, 0xF5, 0x31, 0x22]),
        ("origin", 2, 0x0030),
        ("data", [0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00]),
        ("crc",),
        ("symbol", 1, 1, 0x0000, "reset"),
        ("symbol", 2, 1, 0x0100, "main"),
        ("symbol", 3, 2, 0x0030, "count"),
        ("symbol", 4, 1, 0x0118, "tick"),
        ("symbol", 5, 3, 0x0000, "buffer"),
        ("symbol", 2, 4, 0x0080, "stack"),
        ("symbol", 2, 5, 0x0020, "ready"),
        ("symbol", 1, 6, 0x0007, "R7"),
        ("symbol", 2, 7, 0x0106, "banner"),
        ("statement", 12, 1, 12, 0x00, 0x0000),
        ("statement", 13, 1, 15, 0x01, 0x0100),
        ("statement", 20, 1, 20, 0x02, 0x0118),
        ("j", 0x0001, 0x11, "meter.c"),
        ("j", 0x0002, 0x03),
        ("crc",),
        ("end",),
    ],
    # Every optional part of a line: unusual version bytes, debug prefix, segment header
    # bytes, symbol types, segments and tail bytes, program flags and languages.
    "unusual.d43": [
        ("header", (1999, 12, 31, 23, 59, 59)),
        ("version", 5, [0x00, 0x00, 0x04, 0xBA, 0x02, 0xBE, 0xFF, 0xBF, 0x02, 0xC0, 0xFF, 0xC1,
                        0x04]),
        ("debug", "old.c", (1990, 1, 1, 0, 0, 0), [0x01, 0xB9, 0x00, 0x00, 0x02]),
        ("segment", 0x01, "XSEG", 0x80, [], [0x12, 0x00, 0x34]),
        ("program", 0x02, "asm8", 0x03, 0x00, 0x00, (1999, 12, 31)),
        ("program", 0x01, "p16", 0x02, 0x02, 0x10, (2000, 1, 1)),
        ("program", 0x01, "p32", 0x05, 0x04, 0x20, (2001, 6, 30)),
        ("program", 0x01, "seg", 0x06, 0xFF, 0xAB, (2002, 2, 28)),
        ("symbol", 0x09, 0x0102, 0xFFFFFFFF, "odd", [0x00, 0x00, 0x01]),
        ("symbol", 0x00, 0x0000, 0x12345678, "", [0xAA, 0xBB, 0xCC]),
        ("statement", 65535, 0xABCD, 1, 0xFF, 0xFFFF),
        ("data", []),
        ("j", 0xFFFF, 0x11, ""),
        ("crc",),
        ("end",),
    ],
    # The second CRC record's word has its lowest bit flipped.
    "bad-crc.d43": PROGRAM_HEAD[:3] + [
        ("crc",),
        ("origin", 1, 0x0000),
        ("data", b"checked"),
        ("wrong crc",),
        ("end",),
    ],
    # A debug record whose time stamp has hour 24.
    "bad-stamp.d43": PROGRAM_HEAD[:3] + [("debug", "meter.c", (2024, 3, 4, 24, 0, 0)), ("end",)],
    # A program record with month 13.
    "bad-date.d43": [("header", WHEN), ("program", 0x01, "meter", 0x12, 0x01, 0x10, (2024, 13, 1)),
                     ("end",)],
    # The file ends three characters into a symbol's name.
    "cut-name.d43": PROGRAM_HEAD[:3] + [("symbol", 2, 1, 0x0100, "main_loop"), ("cut", 9)],
    # A record with the tag 0x77, which no record has.
    "unknown-tag.d43": PROGRAM_HEAD[:3] + [("raw", [0x77, 0x00, 0x01]), ("end",)],
    # No bytes at all.
    "empty.d43": [],
}


if __name__ == "__main__":
    directory = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    for file_name, description in SAMPLES.items():
        with open(os.path.join(directory, file_name), "wb") as f:
            f.write(build(description))
