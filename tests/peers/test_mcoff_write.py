#!/usr/bin/env python3
"""Peer check: Microchip COFF that symvert writes for the PIC samples in the typical run
(-p with processor name, id and family, -n CODE, the .sym with its .sdb side files and the
Intel HEX image in, -omcoff) is read by gpvo, and what gpvo prints is what symvert meant:
 - the sections (name, address, size, line count, flags), as symvert's own dump shows
   them, and the code words of every text section, which are the image's bytes;
 - the symbol table, entry by entry (name, section, value, class, auxiliary count), and
   the symbol file's values for every label and every variable named in it;
 - the line numbers of each section (line, address, source file), as symvert's dump shows
   them; each is an instruction address inside a line record of the symbol file, and
   every line record of a function appears at its own address.
The processor ids are the ones gputils gives these processors (0x877A, 0x452F).

Where gpvo reads a field differently, the file format as symvert writes it holds:
 - symvert writes 5000 as the optional header's magic; gpvo expects its own value and
   says "Invalid optional magic number (0x1388)";
 - symvert writes every section with virtual address 0 and the address in the physical
   address; gpvo says "Virtual address does not equal physical address" for each section
   whose address is not 0.
These two are the only messages allowed.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

from symvert_output import parse_hex

# Sample, the -p text of the typical run, ROM bytes per gpvo address, and the family's
# distance between instruction addresses.
RUNS = [("pic16", "16F877A,877A,PIC14", 2, 1), ("pic18", "18F452,452F,PIC18", 1, 2)]

ALLOWED = [r"error: Invalid optional magic number \(0x1388\) in \".*\"\.",
           r"error: Virtual address does not equal physical address in \".*\"\."]

CLASSES = {"C_EXT": "external symbol", "C_STAT": "static", "C_LABEL": "label",
           "C_FILE": "file name", "C_EOF": "end of file", "C_EXTDEF": "external definition",
           "C_FCN": ".bf or .ef", "C_BLOCK": ".bb or .eb", "C_STRTAG": "structure tag",
           "C_MOS": "member of structure", "C_FIELD": "bit field", "C_EOS": "end of structure"}


def run(args, cwd=None):
    env = dict(os.environ, TZ="UTC", SOURCE_DATE_EPOCH="1000000000")
    return subprocess.run(args, capture_output=True, text=True, cwd=cwd, env=env)


class Gpvo:
    def __init__(self, path):
        proc = run(["gpvo", path])
        self.status = proc.returncode
        self.messages = [l for l in proc.stderr.splitlines() if l.strip()]
        self.sections, self.symbols = [], []
        part = section = None
        for line in proc.stdout.splitlines():
            if line.startswith("Section Header"):
                section = dict(words={}, lines=[])
                self.sections.append(section)
                part = "section"
            elif line.startswith("Symbol Table"):
                part = "symbols"
            elif part == "section":
                m = re.match(r"(Name|Physical address|Size of Section|Number of Line Numbers|"
                             r"Flags)\s+(\S+)", line)
                if m:
                    section[m.group(1)] = m.group(2)
                m = re.match(r"([0-9a-f]{6}):\s+([0-9a-f]{4})\b", line)
                if m:
                    section["words"][int(m.group(1), 16)] = int(m.group(2), 16)
                m = re.match(r"(\d+)\s+(0x[0-9a-f]+|0)\s+(\S+)\s*$", line)
                if m:
                    section["lines"].append((int(m.group(1)), int(m.group(2), 16), m.group(3)))
            elif part == "symbols":
                m = re.match(r"(\d{4}) (\S+)\s+(\S+)\s+(0x[0-9a-f]+|0)\s+\S+\s+\S+\s+(C_\w+)"
                             r"\s+(\d+)", line)
                if m:
                    self.symbols.append(dict(index=int(m.group(1)) - 1, name=m.group(2),
                                             section=m.group(3), value=int(m.group(4), 16),
                                             sclass=m.group(5), numaux=int(m.group(6))))


def sym_file(path):
    """Symbols (name -> value) and line records (file name -> [(line, address)])."""
    symbols, lines = {}, {}
    current, segments = None, False
    for text in open(path):
        words = text.split()
        if not words:
            continue
        if words[0] in ("%segments", "%locals"):
            segments = words[0] == "%segments"
        elif len(words) == 1 and re.search(r"\.(obj|c|as)$", words[0], re.I):
            current = words[0]
        elif not segments and len(words) >= 2:
            if words[0][0].isdigit():
                lines.setdefault(current, []).append((int(words[0]), int(words[1], 16)))
            else:
                symbols.setdefault(words[0], int(words[1], 16))
    return symbols, lines


def check(program, data, sample, processor, unit, step, problems):
    with tempfile.TemporaryDirectory() as work:
        for name in os.listdir(os.path.join(data, "debug", sample)):
            shutil.copy(os.path.join(data, "debug", sample, name), work)
        cmd = [program, "-p" + processor, "-nCODE", "prog.sym", "prog.hex", "-omcoff",
               "prog.cof"]
        proc = run(cmd, work)
        if proc.returncode != 0 or proc.stderr:
            problems.append("%s: %s: status %d\n%s" % (sample, " ".join(cmd[1:]),
                                                         proc.returncode, proc.stderr))
            return
        out = os.path.join(work, "prog.cof")
        peer = Gpvo(out)
        dump = run([program, "-d", "-v", "-v", out], work).stdout
        symbols, sym_lines = sym_file(os.path.join(work, "prog.sym"))
        image = parse_hex(os.path.join(work, "prog.hex"))
    if peer.status != 0:
        problems.append("%s: gpvo status %d" % (sample, peer.status))
    for message in peer.messages:
        if not any(re.match(a, message) for a in ALLOWED):
            problems.append("%s: gpvo says %r" % (sample, message))

    dumped = re.findall(r"^Section \d+: (\S+): @([0-9A-F]+) scnptr \S+ relptr \S+ lnnoptr \S+ "
                        r"size 0x([0-9A-F]+) lines (\d+) relocs \d+ flags 0x([0-9A-F]+)", dump, re.M)
    got = [(s["Name"], int(s["Physical address"], 16), int(s["Size of Section"]),
            int(s["Number of Line Numbers"]), int(s["Flags"], 16)) for s in peer.sections]
    want = [(n, int(a, 16), int(z, 16), int(l), int(f, 16)) for n, a, z, l, f in dumped]
    if got != want:
        problems.append("%s: gpvo sections %s, dump %s" % (sample, got, want))
    for s in peer.sections:
        for address, word in s["words"].items():
            at = address * unit
            if (image.get(at), image.get(at + 1)) != (word & 0xFF, word >> 8):
                problems.append("%s: %s word %06X = %04X, image %s" % (
                    sample, s["Name"], address, word, (image.get(at), image.get(at + 1))))
                break
        if s["Flags"] == "0x20" and not s["words"]:
            problems.append("%s: gpvo shows no code in %s" % (sample, s["Name"]))

    entries = {}
    for m in re.finditer(r"^\s*(\d+):\t\s*(.{1,24}?) (\d+) \d+\[\d+\]\t(.*)$", dump, re.M):
        entries[int(m.group(1))] = (m.group(2).strip(), int(m.group(3)), m.group(4))
    files = {}
    for s in peer.symbols:
        got = entries.get(s["index"])
        if not got or got[0] != CLASSES.get(s["sclass"]) or got[1] != s["numaux"]:
            problems.append("%s: entry %d: gpvo %s, dump %s" % (sample, s["index"], s, got))
            continue
        if s["sclass"] in ("C_EXT", "C_STAT", "C_LABEL", "C_EXTDEF"):
            # Section numbers 0, -1 and -2 are "(abs)" in symvert's dump.
            section = s["section"]
            if section in ("UNDEFINED", "ABSOLUTE", "DEBUG"):
                section = "(abs)"
            head = "%s = %X: %s " % (s["name"], s["value"], section)
            if s["sclass"] != "C_EXTDEF" and not got[2].startswith(head):
                problems.append("%s: entry %d: gpvo %r, dump %r" % (sample, s["index"], head,
                                                                     got[2]))
            if s["name"] in symbols and symbols[s["name"]] != s["value"]:
                problems.append("%s: %s = %X, symbol file %X" % (
                    sample, s["name"], s["value"], symbols[s["name"]]))
        if s["sclass"] == "C_FILE":
            files[s["index"]] = got[2].split(" [")[0]
    if not any(s["sclass"] == "C_LABEL" for s in peer.symbols):
        problems.append("%s: no labels" % sample)

    dumped_lines = [(int(l), int(a, 16), files.get(int(f))) for l, f, a in re.findall(
        r"^(\d{5,}):\tsrcndx: (\d+), paddr: 0x([0-9A-F]+), flags 0x0, fcnndx: \d+$", dump, re.M)]
    gpvo_lines = [entry for s in peer.sections for entry in s["lines"]]
    if gpvo_lines != dumped_lines:
        problems.append("%s: gpvo line numbers %s, dump %s" % (sample, gpvo_lines, dumped_lines))
    if not gpvo_lines:
        problems.append("%s: no line numbers" % sample)
    # A line record reaches up to the next record's address, whatever its file (the last
    # one of a function only over its last instruction, here at most 2 bytes).
    everything = sorted((a, l, f) for f, recs in sym_lines.items() for l, a in recs)
    records = {}
    for k, (address, line, source) in enumerate(everything):
        following = [a for a, _, _ in everything[k + 1:] if a != address]
        end = following[0] - 1 if following else address + 1
        records.setdefault(source, []).append((line, address, max(end, address + 1)))
    for line, address, source in gpvo_lines:
        if not any(l == line and a <= address <= e for l, a, e in records.get(source, [])):
            problems.append("%s: line %d at %X is in no line record of %s" % (
                sample, line, address, source))
    # One entry per instruction: entries of one line follow each other a step apart.
    for (l1, a1, f1), (l2, a2, f2) in zip(gpvo_lines, gpvo_lines[1:]):
        if (l1, f1) == (l2, f2) and a2 > a1 and a2 - a1 != step:
            problems.append("%s: line %d at %X then %X: not %d apart" % (sample, l1, a1, a2, step))
            break
    listed = set(gpvo_lines)
    for source, recs in sym_lines.items():
        for line, address in recs:
            starts = [(l, a) for l, a, f in gpvo_lines if f == source and l == line]
            if starts and (line, address, source) not in listed:
                problems.append("%s: line record %d at %X of %s is missing" % (
                    sample, line, address, source))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--program", required=True)
    ap.add_argument("--data", required=True)
    a = ap.parse_args()
    if not shutil.which("gpvo"):
        print("skipped: gputils (gpvo) is not installed")
        return 77
    problems = []
    for sample, processor, unit, step in RUNS:
        check(os.path.abspath(a.program), os.path.abspath(a.data), sample, processor, unit,
              step, problems)
    for p in problems:
        print("FAIL " + p)
    print("%d runs, %d problems" % (len(RUNS), len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
