#!/usr/bin/env python3
"""Peer check: sdcc's absolute OMF-51 files (tests/data/omf51, linked by sdld -y) read by
symvert as sdcc describes them, and srecord reading the OMF-51 files symvert writes. Read
(detected, and with -iomf51): the symbols of each module with their memory spaces at the
linker map's values (else the .cdb's L: addresses), the .cdb's line entries, and the
.ihx's bytes. As sdld writes them: relocatable bits and stack locals are in none of its
outputs; a local kept in registers has its first register's number; a line number is
written once per function, at its first address; a global belongs to the first module
whose .cdb names it. Written: -oomf51 and -oeomf51 from the i8051 sample, from sdcc's .omf
and from it with its .ihx hold the input image's bytes as srecord reads them (-aomf)."""
import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from peer_harness import Check, values  # noqa: E402

# The memory type sdld gives a .cdb address space.
SPACES = dict(zip("CDEIRFPGHJ", "CODE CODE DATA DATA DATA XDATA XDATA IDATA BIT BIT".split()))


def expected(cdb, linker_map):
    """The symbols (module, memory type, value, name) and lines (module, line, address)."""
    mapped = {}
    for label, value in values(open(linker_map).read(), (
            r"(?:[A-Z]:)?\s+([0-9A-F]{8})\s+(\S+)\s+\S+\s*$", lambda m: (m[2], int(m[1], 16)))):
        mapped.setdefault(label, value)
    symbols, module, first, found, entries, functions = [], None, set(), {}, [], []
    for line in open(cdb).read().splitlines():
        m = re.match(r"M:(.*)|F:([^$]+)\$([^$]+)|S:(([^$]+)\$([^$]+)\$[^$]+\$[^(]+)\(.*\),([A-Z]),"
                     r"[-\d,]+(?:\[(.*)\])?$|L:C\$([^$]+)\$(\d+)\$.*:(\w+)$|L:(?!A\$)(([^$]+)\$([^$]+)"
                     r".*):(\w+)$", line)
        if m and m[1]:
            module = m[1]
        elif m and m[2]:
            functions.append((m[2], m[3]))
        elif m and m[4] and (m[5], m[6]) not in first:
            first.add((m[5], m[6]))
            symbols.append((module if m[5] == "G" else m[5][1:].split(".")[0], m[5], m[6], m[4],
                            m[7], (m[8] or "").split(",")))
        elif m and m[9]:
            entries.append((m[9].rsplit(".", 1)[0], int(m[10]), int(m[11], 16)))
        elif m and m[12]:
            found.setdefault((m[13], m[14]), int(m[15], 16))
    want = []
    for owner, scope, label, key, space, registers in symbols:
        if space == "R" and re.match(r"r\d$", registers[0]):
            want.append((owner, "DATA", int(registers[0][1:]), label))
        elif (scope, label) in found and space in SPACES:
            names = (["_" + label] if scope == "G" else []) + [key, "%s$%s$0$0" % (scope, label)]
            value = next((mapped[n] for n in names if n in mapped), found[(scope, label)])
            want.append((owner, SPACES[space], value, label))
    ranges = [(found[f], found[("X" + f[0], f[1])], f) for f in functions
              if f in found and ("X" + f[0], f[1]) in found]
    lines, seen = [], set()
    for source, number, address in entries:
        owner = next((f for start, end, f in ranges if start <= address <= end), None)
        if owner and (owner, number) not in seen:
            seen.add((owner, number))
            lines.append((source, number, address))
    return sorted(want), sorted(lines)


def read(text):
    """symvert's -v -v summary by file: symbols and line records."""
    symbols, lines, current = [], [], None
    for line in text[text.find("\nFiles: "):].splitlines():
        m = re.match(r"File: (.*)|\t(\w*) +(\w+) +(\S+)$|\t(\d+): (\w+)-", line)
        current = m[1] if m and m[1] else current
        if m and m[3]:
            symbols.append((current, m[2], int(m[3], 16), m[4]))
        elif m and m[5]:
            lines.append((current, int(m[5]), int(m[6], 16)))
    return sorted(symbols), sorted(lines)


def main():
    check = Check("srec_cat")
    omf = os.path.join(check.data, "omf51")
    work = check.sample("debug/i8051")
    image = check.peer_image("prog.hex", ["-intel"], work)
    writes = [("i8051", ["-pAT89C51,8051", "-nCODE", "prog.sym", "prog.hex"], image)]
    for name in ("meter", "logger"):
        ihx = os.path.join(omf, name + ".ihx")
        symbols, lines = expected(os.path.join(omf, name + ".cdb"), os.path.join(omf, name + ".map"))
        for options in ([], ["-iomf51"]):
            where = "%s.omf %s" % (name, " ".join(options) or "detected")
            proc = check.symvert("-v", "-v", *options, os.path.join(omf, name + ".omf"), "-oihex", "out.hex",
                                 cwd=work)
            check.ran(where, proc)
            for part, got, want in zip(("symbols", "lines"), read(proc.stderr), (symbols, lines)):
                check.same("%s: %s" % (where, part), got, want)
            check.same(where + ": bytes", check.peer_image("out.hex", ["-intel"], work),
                       check.peer_image(ihx, ["-intel"]))
        writes += [(name, [os.path.join(omf, name + ".omf")], check.peer_image(ihx, ["-intel"])),
                   (name + " with .ihx", [os.path.join(omf, name + ".omf"), ihx],
                    check.peer_image(ihx, ["-intel"]))]
    for where, inputs, want in writes:
        for key in ("omf51", "eomf51"):
            if check.ran("%s as %s" % (where, key), check.symvert(*inputs, "-o" + key, "out." + key,
                                                                 cwd=work)):
                check.same("%s as %s" % (where, key), check.peer_image("out." + key, ["-aomf"], work), want)
    check.done("sdcc's OMF-51 read, and OMF-51 written read by srecord")


main()
