#!/usr/bin/env python3
"""Peer check: a small PIC16F877A program built by gputils (gpasm, gplink) into
Microchip COFF (.cof), .COD and Intel HEX is read and dumped by symvert, and what
symvert finds agrees with gpvo (the .cof) and gpvc (the .cod) of the same files.

Microchip COFF, read (-v -v summary): sections become segments, sections with contents
become data blocks, external/static/label symbols become store symbols, and every line
entry a line record; once an Intel HEX writer exists, the program bytes symvert read
are compared with gplink's own HEX file. Dump (-d -v -v): header counts, the optional
header's widths, sections (address, size, line and relocation counts, flags), every
symbol entry with its class, value and auxiliary details, and every line entry.

.COD, dump (-icod -d -v): directory texts and table blocks, the code index, the code
bytes, the file names and every line-table entry.

Where gputils and symvert read a field differently, the file format as symvert defines
it holds, and the test records the difference:
 - gpvo numbers symbol entries from 1, symvert from 0;
 - symvert places every section at paddr times the code address unit (ROM width 14
   bits: 2 bytes), data sections included, so .udata at 0x20 becomes a segment at 0x40;
 - the optional-header version gputils writes (1) is not the one symvert expects
   (96003), so the dump warns with message 638;
 - gputils leaves the length byte of the .COD date 0; symvert takes the date as a
   length-prefixed text, so it shows an empty date and does not recognise the file by
   itself: the .COD dump is asked for with -icod;
 - gputils writes no line-number markers, so symvert's line records have no file.

The committed samples are checked, and, when gpasm and gplink are installed, samples
rebuilt from blink.asm in a scratch directory as well.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

from symvert_output import parse_hex, parse_summary

CLASS_NAMES = {"C_EXT": "external symbol", "C_STAT": "static", "C_LABEL": "label",
               "C_FILE": "file name", "C_EOF": "end of file",
               "C_LIST": "absolute listing toggle", "C_SECTION": "section"}


def run(args, cwd=None):
    env = dict(os.environ, TZ="UTC")
    return subprocess.run(args, capture_output=True, text=True, cwd=cwd, env=env)


class Gpvo:
    def __init__(self, path):
        text = run(["gpvo", path]).stdout
        self.sections = []  # dicts
        self.symbols = []  # dicts: index (from 0), name, section, value, sclass, numaux, aux
        self.count = int(re.search(r"Number of Symbols\s+(\d+)", text).group(1))
        part = None
        section = None
        symbol = None
        for line in text.splitlines():
            if line.startswith("Section Header"):
                section = dict(lines=[], words={})
                self.sections.append(section)
                part = "section"
            elif line.startswith("Symbol Table"):
                part = "symbols"
            elif part == "section":
                m = re.match(r"(Name|Physical address|Size of Section|Number of Relocations|"
                             r"Number of Line Numbers|Flags)\s+(\S+)", line)
                if m:
                    section[m.group(1)] = m.group(2)
                m = re.match(r"([0-9a-f]{6}):\s+([0-9a-f]{4})\s", line)
                if m:
                    section["words"][int(m.group(1), 16)] = int(m.group(2), 16)
                m = re.match(r"(\d+)\s+(0x[0-9a-f]+|0)\s+(\S+)\s*$", line)
                if m:
                    section["lines"].append((int(m.group(1)), int(m.group(2), 16), m.group(3)))
            elif part == "symbols":
                m = re.match(r"(\d{4}) (\S+)\s+(\S+)\s+(0x[0-9a-f]+|0)\s+(\S+)\s+(\S+)\s+(C_\w+)"
                             r"\s+(\d+)", line)
                if m:
                    symbol = dict(index=int(m.group(1)) - 1, name=m.group(2),
                                  section=m.group(3), value=int(m.group(4), 16),
                                  sclass=m.group(7), numaux=int(m.group(8)), aux={})
                    self.symbols.append(symbol)
                m = re.match(r"\s+([a-z ]+?) = (.*)$", line)
                if m and symbol:
                    symbol["aux"][m.group(1)] = m.group(2).strip()

    def section_names(self):
        return [s["Name"] for s in self.sections]


CODE_UNIT = 2  # ROM width 14 bits


def check_cof_read(program, cof, hex_file, peer, problems):
    with tempfile.TemporaryDirectory() as work:
        proc = run([program, "-v", "-v", cof, "-oubrof", "out"], work)
        segments, symbols, blocks, line_count = parse_summary(proc.stderr)
        if proc.returncode != 0:
            problems.append("%s: read status %d\n%s" % (cof, proc.returncode, proc.stderr))
        want = [(s["Name"], int(s["Physical address"], 16) * CODE_UNIT,
                 int(s["Size of Section"])) for s in peer.sections]
        if segments != want:
            problems.append("%s: segments %s, gpvo %s" % (cof, segments, want))
        want = sorted((s["section"], s["value"], s["name"]) for s in peer.symbols
                      if s["sclass"] in ("C_EXT", "C_STAT", "C_LABEL"))
        if sorted(symbols) != want:
            problems.append("%s: symbols %s, gpvo %s" % (cof, sorted(symbols), want))
        want = []
        for s in peer.sections:
            if s["words"]:
                start = int(s["Physical address"], 16) * CODE_UNIT
                want.append((start, start + int(s["Size of Section"]) - 1, s["Name"]))
        if sorted(blocks) != sorted(want):
            problems.append("%s: data blocks %s, gpvo %s" % (cof, blocks, want))
        want_lines = sum(int(s["Number of Line Numbers"]) for s in peer.sections)
        if line_count != want_lines:
            problems.append("%s: %s line records, gpvo %d" % (cof, line_count, want_lines))
        # Every word gpvo shows is in the sections symvert read, little-endian.
        proc = run([program, cof, "-oihex", "out.hex"], work)
        out = os.path.join(work, "out.hex")
        if os.path.exists(out) and os.path.getsize(out) > 0:
            got = parse_hex(out)
            if got != parse_hex(hex_file):
                problems.append("%s: program bytes differ from gplink's HEX file" % cof)


def check_cof_dump(program, cof, peer, problems):
    proc = run([program, "-d", "-v", "-v", cof])
    text = proc.stdout
    if "(638)" not in proc.stderr:
        problems.append("%s: expected message 638 for gputils' optional-header version" % cof)
    m = re.search(r"\tSections:\t(\d+)\n", text)
    if not m or int(m.group(1)) != len(peer.sections):
        problems.append("%s: dump shows %s sections, gpvo %d" % (cof, m and m.group(1),
                                                                 len(peer.sections)))
    m = re.search(r"\tNsyms:\t\t(\d+)\n", text)
    if not m or int(m.group(1)) != peer.count:
        problems.append("%s: dump shows %s symbols, gpvo %d" % (cof, m and m.group(1), peer.count))
    if "\tROM width:\t14\n\tRAM width:\t8\n" not in text:
        problems.append("%s: optional header widths not shown as 14 and 8" % cof)
    got = re.findall(r"^Section (\d+): (\S+): @([0-9A-F]+) scnptr \S+ relptr \S+ lnnoptr \S+ "
                     r"size 0x([0-9A-F]+) lines (\d+) relocs (\d+) flags 0x([0-9A-F]+)", text, re.M)
    want = [(str(k + 1), s["Name"], "%X" % int(s["Physical address"], 16),
             "%X" % int(s["Size of Section"]), s["Number of Line Numbers"],
             s["Number of Relocations"], "%X" % int(s["Flags"], 16))
            for k, s in enumerate(peer.sections)]
    if got != want:
        problems.append("%s: dumped sections %s, gpvo %s" % (cof, got, want))
    entries = {}
    for m in re.finditer(r"^\s*(\d+):\t\s*(.{1,24}?) (\d+) \d+\[\d+\]\t(.*)$", text, re.M):
        entries[int(m.group(1))] = (m.group(2).strip(), int(m.group(3)), m.group(4))
    names = {}
    for s in peer.symbols:
        got = entries.get(s["index"])
        if not got:
            problems.append("%s: symbol %d missing from the dump" % (cof, s["index"]))
            continue
        class_name, numaux, rest = got
        if class_name != CLASS_NAMES[s["sclass"]] or numaux != s["numaux"]:
            problems.append("%s: symbol %d: %s/%d, gpvo %s/%d" % (
                cof, s["index"], class_name, numaux, s["sclass"], s["numaux"]))
        want = {
            "C_EXT": "%s = %X: %s " % (s["name"], s["value"], s["section"]),
            "C_STAT": "%s = %X: %s " % (s["name"], s["value"], s["section"]),
            "C_LABEL": "%s = %X: %s " % (s["name"], s["value"], s["section"]),
            "C_FILE": "%s [%s]" % (s["aux"].get("file"), s["aux"].get("line included")),
            "C_EOF": s["name"],
            "C_LIST": "%s: %X" % ({".list": "ON", ".nolist": "OFF"}.get(s["name"], s["name"]),
                                  s["value"]),
            "C_SECTION": "%s = %X: size %X, relocs %s, lines %s" % (
                s["name"], s["value"], int(s["aux"].get("length", "0")),
                s["aux"].get("number of relocations"), s["aux"].get("number of line numbers")),
        }[s["sclass"]]
        if not rest.startswith(want):
            problems.append("%s: symbol %d dumped as %r, gpvo %r" % (cof, s["index"], rest, want))
        if s["sclass"] == "C_FILE":
            names[s["index"]] = s["aux"].get("file")
    # Line entries, section by section, with the file their source index names.
    dumped = []
    for m in re.finditer(r"^(\d{5,}):\tsrcndx: (\d+), paddr: 0x([0-9A-F]+), flags 0x[0-9A-F]+, "
                         r"fcnndx: \d+$", text, re.M):
        dumped.append((int(m.group(1)), int(m.group(3), 16), names.get(int(m.group(2)))))
    want = [line for s in peer.sections for line in s["lines"]]
    if dumped != want:
        problems.append("%s: line entries %s, gpvo %s" % (cof, dumped, want))


class Gpvc:
    def __init__(self, path):
        self.text = run(["gpvc", path]).stdout
        t = self.text
        self.fields = dict(re.findall(r"^[0-9a-f]+ - (Source file|Time|Compiler version|Compiler|"
                                      r"Notice|Processor):\s+(.*?)\s*$", t, re.M))
        self.tables = {name: (int(a), int(b)) for name, a, b in re.findall(
            r"- (\w[\w ]*?) (?:table )?start block:\s+(\d+)\s+end block:\s+(\d+)", t)}
        self.code_index = [(int(a, 16), int(b)) for a, b in
                           re.findall(r"^([0-9a-f]{6})-[0-9a-f]{6}: (\d+)$", t, re.M)]
        self.words = {}
        part = t.split("Formatted Code Dump:")[1].split("Long Symbol Table")[0]
        for m in re.finditer(r"^([0-9a-f]{6}):((?:[ ]+[0-9a-f]{4})+)", part, re.M):
            address = int(m.group(1), 16)
            for k, word in enumerate(m.group(2).split()):
                self.words[address + k] = int(word, 16)
        files = t.split("Source File Information:")[1].split("Line Number Information")[0]
        self.files = [l for l in files.splitlines()[2:] if l.strip()]
        self.lines = [(int(a), int(b, 16), int(c, 16), d) for a, b, c, d in re.findall(
            r"^\s+\d+\s+(\d+)\s+([0-9A-F]{6})\s+([0-9A-F]{2}) \S+\s+(\S+)", t, re.M)]


def check_cod_dump(program, cod, peer, problems):
    proc = run([program, "-icod", "-d", "-v", cod])
    text = proc.stdout
    if proc.returncode != 0:
        problems.append("%s: dump status %d\n%s" % (cod, proc.returncode, proc.stderr))
    f = peer.fields
    expect = ["Source:\t%s\n" % f["Source file"],
              "Date:\t\tTime:\t%s\n" % f["Time"],  # gputils' date has no length byte
              "Version:%s\tCompiler: %s\n" % (f["Compiler version"], f["Compiler"]),
              "Notice:\t%s\n" % f["Notice"],
              "Codtyp:\t1; Processor %s\n" % f["Processor"]]
    for e in expect:
        if e not in text:
            problems.append("%s: dump lacks %r" % (cod, e))
    t = peer.tables
    line = "Symtab:\t%d/%d; Namtab: %d/%d; Lsttab: %d/%d\n" % (
        t["Short symbol"] + t["File name"] + t["Source info"])
    line2 = "Memmap:\t%d/%d; Locals: %d/%d; Lsymtab %d/%d; Messtab %d/%d\n" % (
        t["Rom"] + t["Local scope"] + t["Long symbol"] + t["Debug messages"])
    for e in (line, line2):
        if e not in text:
            problems.append("%s: dump lacks %r" % (cod, e))
    got = [(int(a, 16), int(b)) for a, b in re.findall(r"^Code: 0([0-9A-F]+)h at block (\d+)$",
                                                       text, re.M)]
    if got != peer.code_index:
        problems.append("%s: code index %s, gpvc %s" % (cod, got, peer.code_index))
    dumped = {}
    for m in re.finditer(r"^([0-9A-F]{4}):((?: [0-9A-F]{2}){16}) ", text, re.M):
        address = int(m.group(1), 16)
        for k, b in enumerate(m.group(2).split()):
            dumped[address + k] = int(b, 16)
    for word_address, word in peer.words.items():
        got = (dumped.get(2 * word_address), dumped.get(2 * word_address + 1))
        if got != (word & 0xFF, word >> 8):
            problems.append("%s: code word %06X is %s, gpvc %04X" % (cod, word_address, got, word))
            break
    files = re.findall(r"^\t(\S.*?)\s*$", text.split("Files:\n")[1].split("Line numbers:")[0],
                       re.M)
    if files != peer.files:
        problems.append("%s: files %s, gpvc %s" % (cod, files, peer.files))
    entries = []
    for m in re.finditer(r"^\t\s*(\d+) ([0-9A-F]{2}) ([0-9A-F]{4}) (.*)$", text, re.M):
        line, flags, address, name = int(m.group(1)), int(m.group(2), 16), int(m.group(3), 16), \
            m.group(4)
        # gpvc leaves out file-change entries and the empty tail of the last block.
        if flags == 0xFF or (line == 0 and flags == 0 and address == 0):
            continue
        entries.append((line, address, flags, name))
    # The dump shows at most 32 characters of a file name.
    want = [(line, address, flags, name[:32]) for line, address, flags, name in peer.lines]
    if entries != want:
        problems.append("%s: %d line entries differ from gpvc's %d" % (
            cod, len(entries), len(peer.lines)))


def samples(data, scratch):
    source = os.path.join(data, "pic")
    found = [tuple(os.path.join(source, "blink." + e) for e in ("cof", "cod", "hex"))]
    if shutil.which("gpasm") and shutil.which("gplink"):
        shutil.copy(os.path.join(source, "blink.asm"), scratch)
        subprocess.run(["gpasm", "-c", "blink.asm"], cwd=scratch, check=True,
                       capture_output=True)
        subprocess.run(["gplink", "-q", "-c", "-o", "blink.hex", "blink.o"], cwd=scratch,
                       check=True, capture_output=True)
        found.append(tuple(os.path.join(scratch, "blink." + e) for e in ("cof", "cod", "hex")))
    return found


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--program", required=True)
    ap.add_argument("--data", required=True)
    a = ap.parse_args()
    if not (shutil.which("gpvo") and shutil.which("gpvc")):
        print("skipped: gputils (gpvo, gpvc) is not installed")
        return 77
    program = os.path.abspath(a.program)
    problems = []
    with tempfile.TemporaryDirectory() as scratch:
        sets = samples(os.path.abspath(a.data), scratch)
        for cof, cod, hex_file in sets:
            peer = Gpvo(cof)
            check_cof_read(program, cof, hex_file, peer, problems)
            check_cof_dump(program, cof, peer, problems)
            check_cod_dump(program, cod, Gpvc(cod), problems)
    for p in problems:
        print("FAIL " + p)
    print("%d sample sets, %d problems" % (len(sets), len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
