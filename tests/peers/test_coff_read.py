#!/usr/bin/env python3
"""Peer check: H8/300 COFF files made by the GNU tools for that target
(binutils-h8300-hms) are read and dumped by symvert, and what symvert finds agrees with
h8300-hitachi-coff-objdump -h -t -s -l of the same files.

Checked: the sections (name, address, size) become the segments; the sections with
contents become the data blocks (ranges, and the bytes themselves once an Intel HEX
writer exists); the external, static and label symbols become store symbols with their
values and sections; the number of line records; and the dump (-d -v) shows the same
header counts, sections, symbol entries, auxiliary values and line-number runs.

Where the two read a field differently the file format as symvert defines it holds:
 - a file-name entry names its file by the entry's own name (".file" for these tools),
   not by the name in its auxiliary entry, so all symbols of a file land in ".file";
 - line-number markers that name a function (as these tools write them) do not select
   a file, so the line records have no file and only their number can be compared;
 - these tools store a function's line numbers relative to its ".bf" line; symvert
   takes the stored numbers as they are, so they are compared as stored (objdump -t).

The committed samples are checked, and, when the assembler and linker are installed,
samples rebuilt from the same sources in a scratch directory as well.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

import peerlib

OBJDUMP = "h8300-hitachi-coff-objdump"
AS = "h8300-hitachi-coff-as"
LD = "h8300-hitachi-coff-ld"


def check_read(program, path, peer, problems):
    if peer.status != 0:
        problems.append("%s: objdump status %d" % (path, peer.status))
    segments = [(s.name, s.vma, s.size) for s in peer.sections]
    symbols = [(peer.section_name(s["sec"]), s["value"], s["name"])
               for s in peer.symbols if s["sclass"] in (2, 3, 6)]
    blocks = [(s.vma, s.vma + s.size - 1, s.name) for s in peer.sections if s.contents and s.size]
    lines = sum(len(s["lines"]) for s in peer.symbols)
    peerlib.check_read(program, path, "objdump",
                       (segments, symbols, blocks, lines, peer.contents), problems)


def check_dump(program, path, peer, problems):
    with tempfile.TemporaryDirectory() as work:
        proc = peerlib.run([program, "-d", "-v", path], work)
    text = proc.stdout
    if proc.returncode != 0:
        problems.append("%s: dump status %d\n%s" % (path, proc.returncode, proc.stderr))
        return
    nsyms = peer.symbols[-1]["index"] + 1 + peer.symbols[-1]["numaux"] if peer.symbols else 0
    peerlib.check_header_counts(path, text, len(peer.sections), nsyms, "objdump", problems)
    want = [(k + 1, s.name, s.vma, s.size) for k, s in enumerate(peer.sections)]
    got = [s[:4] for s in peerlib.dumped_sections(text)]
    if got != want:
        problems.append("%s: dumped sections %s, objdump %s" % (path, got, want))
    entries = peerlib.dumped_entries(text)
    for s in peer.symbols:
        got = entries.get(s["index"])
        if not got:
            problems.append("%s: symbol %d missing from the dump" % (path, s["index"]))
            continue
        sec, _, numaux, rest = got
        if sec != s["sec"] or numaux != s["numaux"]:
            problems.append("%s: symbol %d: section/aux %s, objdump %s" % (
                path, s["index"], (sec, numaux), (s["sec"], s["numaux"])))
        if s["sclass"] in (2, 3, 6, 101):
            head = "%s = %X:" % (s["name"], s["value"])
            if not rest.startswith(head):
                problems.append("%s: symbol %d dumped as %r, objdump %s" % (
                    path, s["index"], rest, head))
        if s["sclass"] == 103 and rest != s["name"]:
            problems.append("%s: file entry %d dumped as %r, objdump %r" % (
                path, s["index"], rest, s["name"]))
        aux = peer.aux.get(s["index"], "")
        m = re.search(r"lnnos (\d+)", aux)
        if m and "[lineptr %X," % int(m.group(1)) not in rest:
            problems.append("%s: symbol %d line pointer: %r, objdump %r" % (
                path, s["index"], rest, aux))
        m = re.match(r"AUX lnno (\d+)", aux)
        if m and ": line %s," % m.group(1) not in rest:
            problems.append("%s: symbol %d line: %r, objdump %r" % (path, s["index"], rest, aux))
    # Line numbers: each function's run follows the marker that names it.
    runs = peerlib.dumped_runs(text)
    for s in peer.symbols:
        if s["lines"] and runs.get(s["index"]) != s["lines"]:
            problems.append("%s: lines of %s %s, objdump %s" % (
                path, s["name"], runs.get(s["index"]), s["lines"]))


def samples(data, scratch):
    source = os.path.join(data, "coff", "h8300")
    found = [os.path.join(source, n) for n in ("prog.coff", "main.o", "util.o")]
    if shutil.which(AS) and shutil.which(LD):
        for name in ("main", "util"):
            subprocess.run([AS, "-o", os.path.join(scratch, name + ".o"),
                            os.path.join(source, name + ".s")], check=True)
        subprocess.run([LD, "-o", os.path.join(scratch, "prog.coff"),
                        os.path.join(scratch, "main.o"), os.path.join(scratch, "util.o")],
                       check=True)
        found += [os.path.join(scratch, n) for n in ("prog.coff", "main.o", "util.o")]
    return found


def main():
    program, data = peerlib.arguments()
    if peerlib.missing(OBJDUMP):
        return peerlib.SKIPPED
    problems = []
    with tempfile.TemporaryDirectory() as scratch:
        paths = samples(data, scratch)
        for path in paths:
            peer = peerlib.Objdump(OBJDUMP, path, ["-h"])
            check_read(program, path, peer, problems)
            check_dump(program, path, peer, problems)
    return peerlib.report(problems, "%d files, %d problems" % (len(paths), len(problems)))


if __name__ == "__main__":
    sys.exit(main())
