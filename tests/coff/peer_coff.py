#!/usr/bin/env python3
"""Peer check: COFF against binutils' H8/300 objdump and gputils' gpvo. Written: H8/300
COFF from the debug samples (read by objdump) and Microchip COFF of the main job (gpvo)
hold the sections, symbol entries and line numbers of symvert's dump and the image's
bytes. Read: in the files binutils and gplink made, symvert's reader (-v -v) finds the
peer's segments, symbols, data blocks, line count and bytes, its dump the peer's sections,
entries and line numbers. Where a peer reads a field otherwise, the format as symvert
defines it holds: sections are written at virtual address 0 with the address as physical
address, with 5000 as Microchip's optional-header magic (gpvo's only complaints); a
prototype gets storage class 5, unknown to BFD for H8/300; Microchip sections lie at paddr
times the code unit (2), data included; a file entry is named by itself, gpvo counts
entries from 1, and the dump names no external definition and shows Microchip file
entries and listing toggles otherwise."""
import os
import re
import shutil
import sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from peer_harness import Check, SKIP, values  # noqa: E402

OBJDUMP = "h8300-hitachi-coff-objdump"
SAMPLES = [("pic18", "18F452"), ("arm", "AT91R40008"), ("holtek", "HT46R24"), ("pic16", "16F877"),
           ("dspic", "30F2010"), ("i8051", "8051"), ("pic32", "32MX360F512L")]
MCOFF = [("pic16", "16F877A,877A,PIC14", 2), ("pic18", "18F452,452F,PIC18", 1)]  # ROM bytes
# per address gpvo shows
CLASSES = dict(zip([1, 2, 3, 4, 5, 6, 8, 9, 10, 18, 100, 101, 102, 103, 104, 107, 108], (
    "automatic variable,external symbol,static,register variable,external definition,label,member of structure,"
    "function argument,structure tag,bit field,.bb or .eb,.bf or .ef,end of structure,file name,end of file,section,"
    "absolute listing toggle").split(",")))
GPVO = dict(C_EXT=2, C_STAT=3, C_LABEL=6, C_FILE=103, C_EOF=104, C_EXTDEF=5, C_FCN=101,
            C_BLOCK=100, C_STRTAG=10, C_MOS=8, C_FIELD=18, C_EOS=102, C_LIST=108, C_SECTION=107)


def dumped(text):
    """symvert's COFF dump: sections, entries (index, section, class, aux count, name,
    value) and line numbers (marker index or file, line, address)."""
    sections = values(text, (r"Section \d+: (\S*): @(\w+).* size 0x(\w+) lines", lambda m: (
        m[1], int(m[2], 16), int(m[3], 16))))
    entries = values(text, (r"\s*(\d+):(?: \((-?\d+)\))?\t\s*(.{0,24}?) (\d+) \d+\[\d+\]\t(.*)$",
                            lambda m: (int(m[1]), m[2] and int(m[2]), m[3].strip(), int(m[4]), *(
                                re.match(r"([^\s:=\[]*)(?: = (\w+))?", m[5]).groups()))))
    files = {e[0]: e[4] for e in entries if e[2] == "file name"}
    lines, marker = [], None
    for m in re.finditer(r"^Symbol: .* \((\d+)\)$|^(\d{5,}):\t(?:srcndx: (\d+), paddr: 0x)?(\w+)"
                         r"(?:, flags 0x0,)?", text, re.M):
        marker = int(m[1]) if m[1] else marker
        if m[2]:
            lines.append((files.get(int(m[3])) if m[3] else marker, int(m[2]), int(m[4], 16)))
    return sections, [e[:4] + (e[4] or None, e[5] and int(e[5], 16)) for e in entries], lines


def objdump(check, path):
    """objdump -h -t -s -l: the same, and the contents by address, the line count."""
    proc = check.run([OBJDUMP, "-h", "-t", "-s", "-l", path])
    check.quiet(path + ": objdump", proc.stderr, [r"Unrecognized storage class 5 for"])
    text = proc.stdout
    sections = values(text, (r"\s+\d+ (\S+)\s+(\w+)\s+(\w+)\s+(\w+)\s+\w+\s+2\*\*", lambda m: (
        m[1], int(m[4], 16), int(m[2], 16), int(m[3], 16))))
    entries, lines, contents, where = [], [], {}, None
    for line in text.splitlines():
        m = re.match(r"\[\s*(\d+)\]\(sec\s+(-?\d+)\)\(fl \w+\)\(ty\s+\w+\)\(scl\s+(-?\d+)\) \(nx "
                     r"(\d+)\) 0x(\w+) (.*)$|\s+(\d+) : 0x(\w+)$|Contents of section (\S+):|"
                     r" (\w{4,}) ((?:\w{2,8} ?)+)\s", line)
        if m and m[1]:
            entries.append((int(m[1]), int(m[2]), CLASSES[int(m[3])], int(m[4]), m[6], int(m[5], 16)))
        elif m and m[7]:
            lines.append((entries[-1][0], int(m[7]), int(m[8], 16)))
        elif m and m[9]:
            where = next(s for s in sections if s[0] == m[9])
        elif m and m[10] and where:
            data = bytes.fromhex(m[11].replace(" ", ""))
            contents.update((where[1] - where[3] + int(m[10], 16) + k, b) for k, b in enumerate(data))
    return [s[:3] for s in sections], entries, lines, contents


def gpvo(check, path, unit=2):
    """gpvo's sections, entries, line numbers and code words (by byte address)."""
    proc = check.run(["gpvo", path])
    check.quiet(path + ": gpvo", proc.stderr, [r"Invalid optional magic number \(0x1388\)",
                                               r"Virtual address does not equal physical"])
    sections, entries, lines, contents = [], [], [], {}
    for block in proc.stdout.split("Section Header\n")[1:]:
        head = dict(re.findall(r"^(Name|Physical address|Size of Section)\s+(\S+)", block, re.M))
        sections.append((head["Name"], int(head["Physical address"], 16), int(head["Size of Section"])))
        lines += values(block, (r"(\d+)\s+(0x\w+|0)\s+(\S+)\s*$", lambda m: (m[3], int(m[1]), int(m[2], 16))))
        for m in re.finditer(r"^(\w{6}):\s+(\w{4})\b", block.split("Symbol Table")[0], re.M):
            at, word = unit * int(m[1], 16), int(m[2], 16)
            contents.update({at: word & 0xFF, at + 1: word >> 8})
    entries = values(proc.stdout, (r"(\d{4}) (\S+)\s+(\S+)\s+(0x\w+|0)\s+\S+\s+\S+\s+(C_\w+)\s+(\d+)",
                                   lambda m: (int(m[1]) - 1, m[3], CLASSES[GPVO[m[5]]], int(m[6]),
                                              None if m[5] in ("C_FILE", "C_LIST") else m[2],
                                              int(m[4], 16))))
    return sections, entries, lines, contents


def summary(text):
    """symvert's -v -v summary: segments, symbols, data blocks, line count."""
    part = lambda title: "".join(p.split("\n\n")[0] for p in text.split(title + ":")[1:])
    return [values(part("Segments"), (r"\t(\S+)\s+(\w+)(?:-(\w+))?$", lambda m: (
        m[1], int(m[2], 16), int(m[3], 16) - int(m[2], 16) + 1 if m[3] else 0))),
        sorted(values(part("Symbols"), (r"\t(\S*)\s+(\w+)\s+(\S+)$", lambda m: (m[1], int(m[2], 16), m[3])))),
        sorted(values(part("Data blocks"), (r"\t(\w+)-(\w+) (.*)$", lambda m: (int(m[1], 16), int(m[2], 16), m[3])))),
        int(re.search(r"lines: (\d+)", text)[1])]


def read(check, where, path, peer, unit):
    """symvert reads and dumps a file the peer made as the peer does."""
    sections, entries, lines, contents = peer
    proc = check.symvert("-v", "-v", path, "-oihex", "back.hex")
    sources = {e[0]: e[4] for e in entries if e[2] == "file name"}
    want = [[(n, a * unit, z) for n, a, z in sections],
            sorted((e[1] if isinstance(e[1], str) else sections[e[1] - 1][0] if 0 < e[1] <= len(
                sections) else "", e[5], e[4]) for e in entries if e[2] in (
                "external symbol", "static", "label")), sorted(
                (a * unit, a * unit + z - 1, n) for n, a, z in sections if z and any(
                    a * unit <= x < a * unit + z for x in contents)), len(lines)]
    for part, got, peer_values in zip(("segments", "symbols", "blocks", "lines"), summary(proc.stderr), want):
        check.same("%s: read %s" % (where, part), got, peer_values)
    check.same(where + ": bytes", check.peer_image("back.hex", ["-intel"]), sorted(contents.items()))
    got = dumped(check.symvert("-d", "-v", "-v", path).stdout)
    check.same(where + ": dumped sections", got[0], sections)
    check.same(where + ": dumped entries", got[1], [e if unit == 1 else e[:1] + (None,) + e[2:]
                                                    for e in entries])
    check.same(where + ": dumped lines", got[2], [(sources.get(f, f), l, a) for f, l, a in lines])


def main():
    check = Check()
    have = [t for t in (OBJDUMP, "gpvo") if shutil.which(t)]
    if not have:
        print("skipped: neither %s nor gpvo installed" % OBJDUMP)
        sys.exit(SKIP)
    written = [(s, "-p%s,H8/300" % p, "coff", objdump) for s, p in SAMPLES if OBJDUMP in have]
    written += [(s, "-p" + p, "mcoff", lambda c, f, u=u: gpvo(c, f, u)) for s, p, u in MCOFF
                if "gpvo" in have]
    for sample, processor, key, peer in written:
        work, where = check.sample("debug/" + sample), "%s %s" % (sample, processor)
        if not check.ran(where, check.symvert(processor, "-nCODE", "prog.sym", "prog.hex",
                                              "-o" + key, "out.cof", cwd=work)):
            continue
        sections, entries, lines, contents = peer(check, os.path.join(work, "out.cof"))
        got = dumped(check.symvert("-d", "-v", "-v", "out.cof", cwd=work).stdout)
        check.same(where + ": sections", got[0], sections)
        check.same(where + ": entries", got[1], [e if key == "coff" else e[:1] + (None,) + e[2:]
                                                for e in entries])
        check.same(where + ": lines", sorted(got[2]), sorted(lines))
        image = dict(check.peer_image("prog.hex", ["-intel"], work))
        check.same(where + ": code", sorted(contents.items()), sorted((a, image.get(a, 0)) for a in contents))
    for path in [os.path.join(check.data, "coff", "h8300", n) for n in ("prog.coff", "main.o", "util.o")
                 if OBJDUMP in have]:
        read(check, path, path, objdump(check, path), 1)
    if "gpvo" in have:
        path = os.path.join(check.data, "pic", "blink.cof")
        read(check, path, path, gpvo(check, path), 2)
    check.done("COFF written and read against %s" % " and ".join(have))


main()
