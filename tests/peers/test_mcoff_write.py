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
import os
import re
import sys
import tempfile

import peerlib

# Sample, the -p text of the typical run, ROM bytes per gpvo address, and the family's
# distance between instruction addresses.
RUNS = [("pic16", "16F877A,877A,PIC14", 2, 1), ("pic18", "18F452,452F,PIC18", 1, 2)]

ALLOWED = [r"error: Invalid optional magic number \(0x1388\) in \".*\"\.",
           r"error: Virtual address does not equal physical address in \".*\"\."]

CLASSES = {"C_EXT": "external symbol", "C_STAT": "static", "C_LABEL": "label",
           "C_FILE": "file name", "C_EOF": "end of file", "C_EXTDEF": "external definition",
           "C_FCN": ".bf or .ef", "C_BLOCK": ".bb or .eb", "C_STRTAG": "structure tag",
           "C_MOS": "member of structure", "C_FIELD": "bit field", "C_EOS": "end of structure"}


def check(program, data, sample, processor, unit, step, problems):
    with tempfile.TemporaryDirectory() as work:
        peerlib.copy_sample(data, os.path.join("debug", sample), work)
        cmd = [program, "-p" + processor, "-nCODE", "prog.sym", "prog.hex", "-omcoff",
               "prog.cof"]
        proc = peerlib.run(cmd, work)
        if proc.returncode != 0 or proc.stderr:
            problems.append("%s: %s: status %d\n%s" % (sample, " ".join(cmd[1:]),
                                                         proc.returncode, proc.stderr))
            return
        out = os.path.join(work, "prog.cof")
        peer = peerlib.Gpvo(out)
        dump = peerlib.run([program, "-d", "-v", "-v", out], work).stdout
        symbols, sym_lines = peerlib.sym_file(os.path.join(work, "prog.sym"))
        image = peerlib.parse_hex(os.path.join(work, "prog.hex"))
    if peer.status != 0:
        problems.append("%s: gpvo status %d" % (sample, peer.status))
    for message in peer.messages:
        if not any(re.match(a, message) for a in ALLOWED):
            problems.append("%s: gpvo says %r" % (sample, message))

    got = [(s["Name"], int(s["Physical address"], 16), int(s["Size of Section"]),
            int(s["Number of Line Numbers"]), int(s["Flags"], 16)) for s in peer.sections]
    want = [(n, a, z, l, f) for _, n, a, z, l, _, f in peerlib.dumped_sections(dump)]
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

    entries = peerlib.dumped_entries(dump)
    files = {}
    for s in peer.symbols:
        got = entries.get(s["index"])
        if not got or got[1] != CLASSES.get(s["sclass"]) or got[2] != s["numaux"]:
            problems.append("%s: entry %d: gpvo %s, dump %s" % (sample, s["index"], s, got))
            continue
        if s["sclass"] in ("C_EXT", "C_STAT", "C_LABEL", "C_EXTDEF"):
            # Section numbers 0, -1 and -2 are "(abs)" in symvert's dump.
            section = s["section"]
            if section in ("UNDEFINED", "ABSOLUTE", "DEBUG"):
                section = "(abs)"
            head = "%s = %X: %s " % (s["name"], s["value"], section)
            if s["sclass"] != "C_EXTDEF" and not got[3].startswith(head):
                problems.append("%s: entry %d: gpvo %r, dump %r" % (sample, s["index"], head,
                                                                     got[3]))
            if s["name"] in symbols and symbols[s["name"]] != s["value"]:
                problems.append("%s: %s = %X, symbol file %X" % (
                    sample, s["name"], s["value"], symbols[s["name"]]))
        if s["sclass"] == "C_FILE":
            files[s["index"]] = got[3].split(" [")[0]
    if not any(s["sclass"] == "C_LABEL" for s in peer.symbols):
        problems.append("%s: no labels" % sample)

    dumped_lines = [(line, address, files.get(source))
                    for line, source, address, flags in peerlib.dumped_microchip_lines(dump)
                    if flags == 0]
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
    program, data = peerlib.arguments()
    if peerlib.missing("gpvo"):
        return peerlib.SKIPPED
    problems = []
    for sample, processor, unit, step in RUNS:
        check(program, data, sample, processor, unit, step, problems)
    return peerlib.report(problems, "%d runs, %d problems" % (len(RUNS), len(problems)))


if __name__ == "__main__":
    sys.exit(main())
