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
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

from symvert_output import parse_hex, parse_summary

OBJDUMP = "h8300-hitachi-coff-objdump"
AS = "h8300-hitachi-coff-as"
LD = "h8300-hitachi-coff-ld"


class Objdump:
    """What objdump -h -t -s -l says about one file."""

    def __init__(self, path):
        text = subprocess.run([OBJDUMP, "-h", "-t", "-s", "-l", path], capture_output=True,
                              text=True, check=True).stdout
        self.sections = []  # (name, size, vma, has_contents)
        self.symbols = []  # dicts: index, sec, type, sclass, numaux, value, name, lines
        self.aux = {}  # symbol index -> AUX line text
        self.contents = {}  # address -> byte
        lines = text.splitlines()
        k = 0
        current = None
        section_contents = None
        while k < len(lines):
            line = lines[k]
            m = re.match(r"\s+(\d+) (\S+)\s+([0-9a-f]+)\s+([0-9a-f]+)\s+([0-9a-f]+)", line)
            # A section line is followed by its flag words.
            if m and k + 1 < len(lines) and re.match(r"\s{10,}[A-Z_]+(, [A-Z_]+)*$",
                                                      lines[k + 1]):
                self.sections.append((m.group(2), int(m.group(3), 16), int(m.group(4), 16),
                                      "CONTENTS" in lines[k + 1]))
                k += 2
                continue
            m = re.match(r"\[\s*(\d+)\]\(sec\s+(-?\d+)\)\(fl 0x[0-9a-f]+\)\(ty\s+([0-9a-f]+)\)"
                         r"\(scl\s+(-?\d+)\) \(nx (\d+)\) 0x([0-9a-f]+) (.*)$", line)
            if m:
                current = dict(index=int(m.group(1)), sec=int(m.group(2)),
                               type=int(m.group(3), 16), sclass=int(m.group(4)),
                               numaux=int(m.group(5)), value=int(m.group(6), 16),
                               name=m.group(7), lines=[])
                self.symbols.append(current)
            elif line.startswith("AUX") and current:
                self.aux[current["index"]] = line
            elif re.match(r"\s+\d+ : 0x[0-9a-f]+$", line) and current:
                n, a = line.split(" : ")
                current["lines"].append((int(n), int(a, 16)))
            m = re.match(r"Contents of section (\S+):", line)
            if m:
                section_contents = m.group(1)
            m = re.match(r" ([0-9a-f]{4,}) ((?:[0-9a-f]{2,8} ?)+)\s", line)
            if m and section_contents:
                address = int(m.group(1), 16)
                for b in bytes.fromhex(m.group(2).replace(" ", "")):
                    self.contents[address] = b
                    address += 1
            k += 1

    def section_name(self, number):
        return self.sections[number - 1][0] if 1 <= number <= len(self.sections) else ""


def run_symvert(program, args, cwd):
    env = dict(os.environ, TZ="UTC")
    return subprocess.run([program] + args, capture_output=True, text=True, cwd=cwd, env=env)


def check_read(program, path, peer, problems):
    with tempfile.TemporaryDirectory() as work:
        proc = run_symvert(program, ["-v", "-v", path, "-oubrof", "out"], work)
        segments, symbols, blocks, line_count = parse_summary(proc.stderr)
        if proc.returncode != 0:
            problems.append("%s: read status %d\n%s" % (path, proc.returncode, proc.stderr))
        want_segments = [(name, vma, size) for name, size, vma, _ in peer.sections]
        if segments != want_segments:
            problems.append("%s: segments %s, objdump %s" % (path, segments, want_segments))
        want_symbols = sorted((peer.section_name(s["sec"]), s["value"], s["name"])
                              for s in peer.symbols if s["sclass"] in (2, 3, 6))
        if sorted(symbols) != want_symbols:
            problems.append("%s: symbols %s, objdump %s" % (path, sorted(symbols), want_symbols))
        want_blocks = sorted((vma, vma + size - 1, name) for name, size, vma, contents
                             in peer.sections if contents and size)
        if sorted(blocks) != want_blocks:
            problems.append("%s: data blocks %s, objdump %s" % (path, blocks, want_blocks))
        want_lines = sum(len(s["lines"]) for s in peer.symbols)
        if line_count != want_lines:
            problems.append("%s: %s line records, objdump %d" % (path, line_count, want_lines))
        # The bytes themselves, through the Intel HEX writer once there is one.
        proc = run_symvert(program, [path, "-oihex", "out.hex"], work)
        hex_path = os.path.join(work, "out.hex")
        if os.path.exists(hex_path) and os.path.getsize(hex_path) > 0:
            got = parse_hex(hex_path)
            if got != peer.contents:
                problems.append("%s: program bytes differ from objdump -s" % path)


def check_dump(program, path, peer, problems):
    with tempfile.TemporaryDirectory() as work:
        proc = run_symvert(program, ["-d", "-v", path], work)
    text = proc.stdout
    if proc.returncode != 0:
        problems.append("%s: dump status %d\n%s" % (path, proc.returncode, proc.stderr))
        return
    m = re.search(r"\tSections:\t(\d+)\n", text)
    if not m or int(m.group(1)) != len(peer.sections):
        problems.append("%s: dump shows %s sections, objdump %d" % (
            path, m and m.group(1), len(peer.sections)))
    nsyms = peer.symbols[-1]["index"] + 1 + peer.symbols[-1]["numaux"] if peer.symbols else 0
    m = re.search(r"\tNsyms:\t\t(\d+)\n", text)
    if not m or int(m.group(1)) != nsyms:
        problems.append("%s: dump shows %s symbols, objdump %d" % (path, m and m.group(1), nsyms))
    dumped_sections = re.findall(r"^Section (\d+): (\S*): @([0-9A-F]+) size 0x([0-9A-F]+)", text,
                                 re.M)
    want = [(str(k + 1), name, vma, size) for k, (name, size, vma, _) in enumerate(peer.sections)]
    got = [(k, n, int(a, 16), int(s, 16)) for k, n, a, s in dumped_sections]
    if got != want:
        problems.append("%s: dumped sections %s, objdump %s" % (path, got, want))
    entries = {}
    for m in re.finditer(r"^\s*(\d+): \((-?\d+)\)\t\s*(.{0,24}) (\d+) \d+\[\d+\]\t(.*)$", text,
                         re.M):
        entries[int(m.group(1))] = (int(m.group(2)), int(m.group(4)), m.group(5))
    for s in peer.symbols:
        got = entries.get(s["index"])
        if not got:
            problems.append("%s: symbol %d missing from the dump" % (path, s["index"]))
            continue
        sec, numaux, rest = got
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
    runs = {}
    current = None
    for line in text.splitlines():
        m = re.match(r"Symbol: (.*) \((\d+)\)$", line)
        if m:
            current = int(m.group(2))
            runs[current] = []
            continue
        m = re.match(r"(\d{5,}):\t([0-9A-F]+)$", line)
        if m and current is not None:
            runs[current].append((int(m.group(1)), int(m.group(2), 16)))
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
    ap = argparse.ArgumentParser()
    ap.add_argument("--program", required=True)
    ap.add_argument("--data", required=True)
    a = ap.parse_args()
    if not shutil.which(OBJDUMP):
        print("skipped: %s is not installed" % OBJDUMP)
        return 77
    program = os.path.abspath(a.program)
    problems = []
    with tempfile.TemporaryDirectory() as scratch:
        paths = samples(os.path.abspath(a.data), scratch)
        for path in paths:
            peer = Objdump(path)
            check_read(program, path, peer, problems)
            check_dump(program, path, peer, problems)
    for p in problems:
        print("FAIL " + p)
    print("%d files, %d problems" % (len(paths), len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
