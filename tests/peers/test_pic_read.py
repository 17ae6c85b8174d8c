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
import os
import shutil
import subprocess
import sys
import tempfile

import peerlib
from peerlib import Gpvc, Gpvo

CLASS_NAMES = {"C_EXT": "external symbol", "C_STAT": "static", "C_LABEL": "label",
               "C_FILE": "file name", "C_EOF": "end of file",
               "C_LIST": "absolute listing toggle", "C_SECTION": "section"}

CODE_UNIT = 2  # ROM width 14 bits


def check_cof_read(program, cof, hex_file, peer, problems):
    segments = [(s["Name"], int(s["Physical address"], 16) * CODE_UNIT,
                 int(s["Size of Section"])) for s in peer.sections]
    symbols = [(s["section"], s["value"], s["name"]) for s in peer.symbols
               if s["sclass"] in ("C_EXT", "C_STAT", "C_LABEL")]
    blocks = []
    for s in peer.sections:
        if s["words"]:
            start = int(s["Physical address"], 16) * CODE_UNIT
            blocks.append((start, start + int(s["Size of Section"]) - 1, s["Name"]))
    lines = sum(int(s["Number of Line Numbers"]) for s in peer.sections)
    # Every word gpvo shows is in the sections symvert read, little-endian.
    peerlib.check_read(program, cof, "gpvo",
                       (segments, symbols, blocks, lines, peerlib.parse_hex(hex_file)), problems)


def check_cof_dump(program, cof, peer, problems):
    proc = peerlib.run([program, "-d", "-v", "-v", cof])
    text = proc.stdout
    if "(638)" not in proc.stderr:
        problems.append("%s: expected message 638 for gputils' optional-header version" % cof)
    peerlib.check_header_counts(cof, text, len(peer.sections), peer.count, "gpvo", problems)
    if "\tROM width:\t14\n\tRAM width:\t8\n" not in text:
        problems.append("%s: optional header widths not shown as 14 and 8" % cof)
    got = peerlib.dumped_sections(text)
    want = [(k + 1, s["Name"], int(s["Physical address"], 16), int(s["Size of Section"]),
             int(s["Number of Line Numbers"]), int(s["Number of Relocations"]),
             int(s["Flags"], 16)) for k, s in enumerate(peer.sections)]
    if got != want:
        problems.append("%s: dumped sections %s, gpvo %s" % (cof, got, want))
    entries = peerlib.dumped_entries(text)
    names = {}
    for s in peer.symbols:
        got = entries.get(s["index"])
        if not got:
            problems.append("%s: symbol %d missing from the dump" % (cof, s["index"]))
            continue
        _, class_name, numaux, rest = got
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
    dumped = [(line, address, names.get(source))
              for line, source, address, _ in peerlib.dumped_microchip_lines(text)]
    want = [line for s in peer.sections for line in s["lines"]]
    if dumped != want:
        problems.append("%s: line entries %s, gpvo %s" % (cof, dumped, want))


def check_cod_dump(program, cod, peer, problems):
    proc = peerlib.run([program, "-icod", "-d", "-v", cod])
    text = proc.stdout
    if proc.returncode != 0:
        problems.append("%s: dump status %d\n%s" % (cod, proc.returncode, proc.stderr))
        return
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
    ours = peerlib.CodDump(text)
    if ours.code_index != peer.code_index:
        problems.append("%s: code index %s, gpvc %s" % (cod, ours.code_index, peer.code_index))
    for address, byte in peer.code_bytes(False).items():
        if ours.bytes.get(address) != byte:
            problems.append("%s: code byte %X is %s, gpvc %02X" % (
                cod, address, ours.bytes.get(address), byte))
            break
    if ours.files != peer.files:
        problems.append("%s: files %s, gpvc %s" % (cod, ours.files, peer.files))
    # gpvc leaves out file-change entries and the empty tail of the last block.
    entries = [(line, address, flags, name) for line, flags, address, name, _ in ours.lines
               if flags != 0xFF and (line, flags, address) != (0, 0, 0)]
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
    program, data = peerlib.arguments()
    if peerlib.missing("gpvo", "gpvc"):
        return peerlib.SKIPPED
    problems = []
    with tempfile.TemporaryDirectory() as scratch:
        sets = samples(data, scratch)
        for cof, cod, hex_file in sets:
            peer = Gpvo(cof)
            check_cof_read(program, cof, hex_file, peer, problems)
            check_cof_dump(program, cof, peer, problems)
            check_cod_dump(program, cod, Gpvc(peerlib.run(["gpvc", cod]).stdout), problems)
    return peerlib.report(problems, "%d sample sets, %d problems" % (len(sets), len(problems)))


if __name__ == "__main__":
    sys.exit(main())
