#!/usr/bin/env python3
"""Peer check: COFF that symvert writes from the debug-information samples (.sym with its
.sdb side files, and the Intel HEX image).

H8/300 (-p NAME,H8/300): h8300-hitachi-coff-objdump -x -t -s -l accepts the file, and what
it shows is what symvert meant:
 - the sections and their contents: one bss section per data segment, one text section
   per block of the HEX image, holding exactly the image's bytes at its address;
 - the symbol table entry by entry (section, type, class, auxiliary count, value, name),
   as symvert's own dump (-d -v) shows it, and the store's labels with their values;
 - each function's line numbers: the .sym line records of the function's source file
   whose numbers lie between its ".bf" and ".ef" lines, after a marker naming it.
Where objdump reads the file differently, the file format as symvert writes it holds:
 - symvert gives an extern declared but not defined in its module (a prototype) storage
   class 5, "external definition"; BFD does not know that class for this target and says
   "Unrecognized storage class 5" for each such entry, which is the only complaint
   allowed;
 - symvert writes every section with virtual address 0 and the address in the physical
   address, so objdump's VMA column is 0 and its LMA column holds the address.

The other ten targets have no peer that reads them, so symvert reads back what it wrote:
the magic bytes and byte order of the target, the header fields in that order, sections
read back at paddr times the target's code address unit with the image's bytes, one line
record per line entry that is not a marker, and in the dump (-d at levels 0, 1, 2) the
string table right after 18-byte symbol entries and line-number runs of 6 (68K, Tower) or
8 bytes per entry.
"""
import os
import re
import shutil
import struct
import sys
import tempfile

import peerlib
from peerlib import parse_hex, parse_summary

OBJDUMP = "h8300-hitachi-coff-objdump"

# Sample directory, the processor name that selects its family, its code classes.
SAMPLES = [("pic18", "18F452"), ("arm", "AT91R40008"), ("holtek", "HT46R24"),
           ("pic16", "16F877"), ("dspic", "30F2010"), ("i8051", "8051"),
           ("pic32", "32MX360F512L")]

# Target name for -p, magic bytes, big-endian, code address unit, line entry size.
TARGETS = [("68K", b"\x01\x50", True, 1, 6), ("Tower", b"\x01\x98", True, 1, 6),
           ("H8/300H", b"\x83\x01", True, 1, 8), ("SH", b"\x05\x00", True, 1, 8),
           ("PIC30", b"\x36\x12", False, 2, 8), ("PIC24", b"\x36\x12", False, 2, 8),
           ("PIC12", b"\x34\x12", False, 2, 8), ("PIC14", b"\x34\x12", False, 2, 8),
           ("PIC16", b"\x34\x12", False, 2, 8), ("PIC18", b"\x34\x12", False, 2, 8)]

CLASS_NAMES = {2: "external symbol", 3: "static", 5: "external definition", 6: "label",
               1: "automatic variable", 4: "register variable", 8: "member of structure",
               9: "function argument", 10: "structure tag", 18: "bit field",
               100: ".bb or .eb", 101: ".bf or .ef", 102: "end of structure",
               103: "file name"}


def write_coff(program, data, sample, processor, target, work):
    peerlib.copy_sample(data, os.path.join("debug", sample), work)
    proc = peerlib.run([program, "-p%s,%s" % (processor, target), "-nCODE", "prog.sym",
                        "prog.hex", "-ocoff", "out.cof"], work)
    return proc, os.path.join(work, "out.cof")


def check_h8300(program, data, sample, processor, problems):
    with tempfile.TemporaryDirectory() as work:
        proc, out = write_coff(program, data, sample, processor, "H8/300", work)
        where = "%s (H8/300)" % sample
        if proc.returncode != 0:
            problems.append("%s: write status %d\n%s" % (where, proc.returncode, proc.stderr))
            return
        peer = peerlib.Objdump(OBJDUMP, out, ["-x"])
        dump = peerlib.run([program, "-d", "-v", out], work).stdout
        symbols, sym_lines = peerlib.sym_file(os.path.join(work, "prog.sym"))
        image = parse_hex(os.path.join(work, "prog.hex"))
    if peer.status != 0:
        problems.append("%s: objdump status %d" % (where, peer.status))
    for c in peer.complaints:
        if not re.match(r"BFD: .*: Unrecognized storage class 5 for \S+ symbol `\S+'$", c):
            problems.append("%s: objdump complains: %s" % (where, c))
    # Sections: the dump's, and the image's bytes in every text section.
    dumped = [(n, z, a) for _, n, a, z, _, _, _ in peerlib.dumped_sections(dump)]
    if [(s.name, s.size, s.lma) for s in peer.sections] != dumped:
        problems.append("%s: objdump sections %s, dump %s" % (where, peer.sections, dumped))
    for name, size, _, lma, contents in peer.sections:
        if name.startswith("_text"):
            want = bytes(image.get(lma + k, -1) & 0xFF for k in range(size))
            if not contents or peer.section_bytes.get(name) != want:
                problems.append("%s: contents of %s differ from the image at %X" % (
                    where, name, lma))
        elif contents:
            problems.append("%s: data section %s has contents" % (where, name))
    # Symbols, entry by entry, and labels against the symbol file.
    entries = peerlib.dumped_entries(dump)
    for s in peer.symbols:
        got = entries.get(s["index"])
        want_class = CLASS_NAMES.get(s["sclass"])
        if not got or got[0] != s["sec"] or got[1] != want_class or got[2] != s["numaux"]:
            problems.append("%s: entry %d: objdump %s, dump %s" % (where, s["index"], s, got))
            continue
        if s["sclass"] in (2, 3, 6) and not got[3].startswith("%s = %X:" % (s["name"], s["value"])):
            problems.append("%s: entry %d: objdump %s = %X, dump %r" % (
                where, s["index"], s["name"], s["value"], got[3]))
        if s["sclass"] == 6 and symbols.get(s["name"]) != s["value"]:
            problems.append("%s: label %s = %X, symbol file %s" % (
                where, s["name"], s["value"], symbols.get(s["name"])))
    # Line numbers: objdump's runs are the dump's, and the symbol file's records of each
    # function's source between its ".bf" and ".ef" lines.
    runs = peerlib.dumped_runs(dump)
    for s in peer.symbols:
        if not s["lines"]:
            continue
        if runs.get(s["index"]) != s["lines"]:
            problems.append("%s: lines of %s: objdump %s, dump %s" % (
                where, s["name"], s["lines"], runs.get(s["index"])))
        source = next((t["name"] for t in reversed(peer.symbols)
                       if t["index"] < s["index"] and t["sclass"] == 103), None)
        bf = next(t for t in peer.symbols if t["index"] > s["index"] and t["name"] == ".bf")
        ef = next(t for t in peer.symbols if t["index"] > bf["index"] and t["name"] == ".ef")
        first, last = [int(re.match(r"AUX lnno (\d+)", peer.aux[t["index"]]).group(1))
                       for t in (bf, ef)]
        want = sorted(r for r in sym_lines.get(source, []) if first <= r[0] <= last)
        if sorted(s["lines"]) != want:
            problems.append("%s: lines of %s %s, symbol file %s" % (
                where, s["name"], s["lines"], want))
    if not any(s["lines"] for s in peer.symbols) and sample in ("pic18", "arm", "holtek"):
        problems.append("%s: no line numbers at all" % where)


def check_read_back(program, data, sample, processor, target, problems):
    name, magic, big, unit, line_size = target
    with tempfile.TemporaryDirectory() as work:
        proc, out = write_coff(program, data, sample, processor, name, work)
        where = "%s (%s)" % (sample, name)
        if proc.returncode != 0:
            problems.append("%s: write status %d\n%s" % (where, proc.returncode, proc.stderr))
            return
        raw = open(out, "rb").read()
        image = parse_hex(os.path.join(work, "prog.hex"))
        summary = peerlib.run([program, "-v", "-v", out, "-oihex", "back.hex"], work)
        back = parse_hex(os.path.join(work, "back.hex"))
        dumps = [peerlib.run([program, "-d"] + ["-v"] * level + [out], work).stdout
                 for level in range(3)]
    if raw[:2] != magic:
        problems.append("%s: magic bytes %s" % (where, raw[:2].hex()))
    order = ">" if big else "<"
    nscns, timdat, symptr, nsyms, opthdr, flags = struct.unpack(order + "HIIIHH", raw[2:20])
    header = dumps[0]
    expect = "\tSections:\t%d\n" % nscns, "\tSymptr:\t\t0x%X\n\tNsyms:\t\t%d\n" % (symptr, nsyms)
    if timdat != 1000000000 or any(e not in header for e in expect):
        problems.append("%s: header fields read in the wrong byte order" % where)
    if flags != (0x0203 if big else 0x0103):
        problems.append("%s: flags 0x%X" % (where, flags))
    sections = []
    for k in range(nscns):
        fields = struct.unpack(order + "8sIIIIIIHHI", raw[20 + 40 * k:60 + 40 * k])
        sections.append(dict(name=fields[0].rstrip(b"\0").decode(), paddr=fields[1],
                             size=fields[3], lnnoptr=fields[6], nlnno=fields[8],
                             flags=fields[9]))
    segments, _, blocks, line_count = parse_summary(summary.stderr)
    # The reader multiplies in 32 bits, as the file's addresses are 32 bits wide.
    want = [(s["name"], s["paddr"] * unit & 0xFFFFFFFF, s["size"]) for s in sections]
    if segments != want:
        problems.append("%s: read back segments %s, written %s" % (where, segments, want))
    # The bytes come back at the section's address in code units; the image's blocks start
    # at byte addresses, so an odd address comes back one lower with a 2-byte unit.
    expected = {}
    for address in sorted(image):
        start = address
        while start - 1 in image:
            start -= 1
        expected[(start // unit) * unit + (address - start)] = image[address]
    if back != expected:
        problems.append("%s: program bytes read back differ from the image" % where)
    entries_total = 0
    text_sections = [s for s in sections if s["flags"] & 0x20]
    for s, following in zip(text_sections, text_sections[1:] + [None]):
        entries_total += s["nlnno"]
        if following is not None and following["lnnoptr"] - s["lnnoptr"] != s["nlnno"] * line_size:
            problems.append("%s: section %s: %d line entries do not fill %d bytes" % (
                where, s["name"], s["nlnno"], following["lnnoptr"] - s["lnnoptr"]))
    level1 = dumps[1]
    markers = len(re.findall(r"^Symbol: ", level1, re.M))
    if line_count != entries_total - markers:
        problems.append("%s: %s line records read back, %d entries less %d markers" % (
            where, line_count, entries_total, markers))
    if text_sections and text_sections[-1]["lnnoptr"] + text_sections[-1]["nlnno"] * line_size != symptr:
        problems.append("%s: the symbol table does not follow the line entries" % where)
    if "\nString table: %d bytes, file offset 0x%X\n" % (
            len(raw) - symptr - 18 * nsyms, symptr + 18 * nsyms) not in header:
        problems.append("%s: string table not right after %d entries of 18 bytes" % (where, nsyms))
    if "Symbol table:" in dumps[0] or "Symbol table:" not in level1:
        problems.append("%s: symbol table shown at the wrong levels" % where)
    index = 0
    for m in re.finditer(r"^\s*(\d+): \(-?\d+\)\t.{0,24} (\d+) ", level1, re.M):
        if int(m.group(1)) != index:
            problems.append("%s: dump entry %s where %d was due" % (where, m.group(1), index))
            break
        index += 1 + int(m.group(2))
    if index != nsyms:
        problems.append("%s: dump stepped to %d of %d entries" % (where, index, nsyms))
    if " scnptr 0x" not in dumps[2] or " scnptr 0x" in level1:
        problems.append("%s: section file pointers shown at the wrong levels" % where)


def main():
    program, data = peerlib.arguments()
    problems = []
    for sample, processor in SAMPLES:
        for target in TARGETS:
            check_read_back(program, data, sample, processor, target, problems)
    have_peer = shutil.which(OBJDUMP) is not None
    if have_peer:
        for sample, processor in SAMPLES:
            check_h8300(program, data, sample, processor, problems)
    status = peerlib.report(problems, "%d samples, %d targets read back, H8/300 %s; %d problems" % (
        len(SAMPLES), len(TARGETS), "checked with objdump" if have_peer else "skipped",
        len(problems)))
    return status if status or have_peer else peerlib.SKIPPED


if __name__ == "__main__":
    sys.exit(main())
