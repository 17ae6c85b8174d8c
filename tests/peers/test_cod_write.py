#!/usr/bin/env python3
"""Peer check: gpvc (gputils) reads every .COD file symvert writes for the PIC samples,
and what it prints agrees with what symvert meant to write.

For each sample symvert writes a .COD file, then:
 - its own dump (-d -v) of that file gives the directory, the code pages, the short
   symbols, the locals, the file names and every line entry;
 - gpvc reads the same file (without errors) and must show the same directory texts and
   table blocks, code index, code words, short symbols, local scopes, file names and line
   entries; its long symbol table must hold the short table's entries with full names
   (and, under -f, "function.local" entries for the locals of the run without -f);
 - independently of both, the code pages hold the bytes of the sample's Intel HEX file,
   and every line of the symbol file that lies in the CODE class has its first-address
   entry in the line table.

Where gpvc reads a field differently from the file format as symvert defines it, the
format holds and the test records the difference:
 - gpvc's names of some symbol types differ (c_byte is its c_short, c_int its c_long,
   c_ubyte its c_ushort, c_uint its c_ulong, c_void its void, ...; GPVC_NAMES below);
 - gpvc's type-name table ends at 153 (debug): for a type from 154 on (uint32, sint32,
   float24, float32, ...) it reads past its table and prints rubbish or crashes, so gpvc
   is given a copy of the file in which such type bytes are replaced by 0 (a_reg); the
   short table's types are checked against symvert's own dump;
 - gpvc shows a long-symbol type above 128 (unknown, the bit types) as a_reg;
 - for a 12- or 14-bit processor gpvc takes the addresses of a locals header as byte
   addresses of 16-bit words: it shows start / 2 and end / 2 - 1 (otherwise both as
   they are), and it labels the code words with word addresses (otherwise with byte
   addresses);
 - gpvc leaves out the file-change entries (flags FF), the empty tail of the last
   line-table block, and the 85th (last) entry of every block: it reads 84 of them;
 - gpvc prints source lines and "ERROR: Source file ... does not exist" for sources it
   cannot find; those lines are not errors in the file and are ignored.
"""
import os
import re
import struct
import sys
import tempfile

import peerlib
from peerlib import CodDump, Gpvc, parse_hex, parse_summary, run

BLOCK = 512
FIRST_UNKNOWN_TO_GPVC = 154

# Type names where gpvc's table differs from the .COD type names.
GPVC_NAMES = {"c_byte": "c_short", "c_int": "c_long", "c_ubyte": "c_ushort",
              "c_uint": "c_ulong", "func_void_twobyte": "funcVoidTwobyte",
              "func_int_twobyte": "func_int_twobyt", "func_long_twobyte": "funcLongTwobyte",
              "pfun_void_twobyte": "pfunVoidTwobyte", "pfun_int_twobyte": "pfunIntTwobyte",
              "pfun_long_twobyte": "pfun_long_twoby", "c_void": "void",
              "PtrF_void_twobyte": "PtrF_void_twobyt", "PFunc": "Pfunc",
              "c_extern": "external", "c_global": "global"}
PIC16 = ["-p16F877,6877,PIC14", "-nCODE,ENTRY"]
# name, sample directory below tests/data, options, inputs, whether gpvc labels the code
# words with byte addresses (it does so when it does not take the processor field for a
# 12- or 14-bit part: the PIC18 sample selects its processor by option words and leaves
# the field empty)
SAMPLES = [
    ("pic16", "debug/pic16", PIC16, ["prog.sym", "prog.hex"], False),
    ("pic16 -f", "debug/pic16", ["-f"] + PIC16, ["prog.sym", "prog.hex"], False),
    ("pic16 -m", "debug/pic16", ["-m"] + PIC16, ["prog.sym", "prog.hex"], False),
    ("pic18", "debug/pic18", [], ["prog.sym", "prog.hex"], True),
    ("layout", "cod/write", ["-pPIC16F877A"], ["layout.sym", "layout.hex"], False),
    ("layout -f", "cod/write", ["-f", "-pPIC16F877A"], ["layout.sym", "layout.hex"], False),
    ("blink", "pic", ["-p16F877A,6877,PIC14"], ["blink.cof", "blink.hex"], False),
]


def masked_copy(path, out_path):
    """A copy of the .COD file in which every symbol type from 154 on is 0; answers the
    types of the short symbols, the locals and the long symbols, in order."""
    data = bytearray(open(path, "rb").read())
    codes = {426: [], 447: [], 462: []}

    def blocks(field):
        first, last = struct.unpack_from("<HH", data, field)
        return range(first, last + 1) if first else range(0)

    for field in (426, 447):  # short symbols, locals: 16-byte records
        for b in blocks(field):
            for at in range(b * BLOCK, (b + 1) * BLOCK, 16):
                if data[at] and data[at + 1] and data[at + 1:at + 8] != b"__LOCAL":
                    codes[field].append(data[at + 13])
                    if data[at + 13] >= FIRST_UNKNOWN_TO_GPVC:
                        data[at + 13] = 0
    for b in blocks(462):  # long symbols: packed records
        at, end = b * BLOCK, (b + 1) * BLOCK
        while at < end and data[at]:
            n = data[at]
            codes[462].append(data[at + 1 + n])
            if data[at + 1 + n] >= FIRST_UNKNOWN_TO_GPVC:
                data[at + 1 + n] = 0
            at += 7 + n
    open(out_path, "wb").write(bytes(data))
    return codes[426], codes[447], codes[462]


def expected_pages(blocks, image):
    """The code pages (below 128) as the .COD format lays them out: the bytes of the data
    blocks in store order, one page at a time; a page met again after another one
    starts afresh, and its later content is the one the code index names."""
    pages = {}
    current, content = None, None
    for start, end, _ in blocks:
        for address in range(start, end + 1):
            if address // BLOCK != current:
                if current is not None:
                    pages[current] = content
                current, content = address // BLOCK, bytearray(BLOCK)
            content[address % BLOCK] = image.get(address, 0)
    if current is not None:
        pages[current] = content
    return {p: c for p, c in pages.items() if p < 128}


def code_lines(sym_path):
    """(file, line, address) of every line record of a symbol file in the CODE class."""
    found = []
    current = None
    for line in open(sym_path):
        words = line.split()
        if any(e in line for e in (".obj", ".OBJ", ".c", ".C", ".as", ".AS")):
            current = line.strip()
        elif len(words) >= 4 and words[0][0].isdigit() and words[3] == "CODE":
            found.append((current, int(words[0]), int(words[1], 16)))
    return found


def gpvc_type(type_name, code, limit=FIRST_UNKNOWN_TO_GPVC):
    """The name gpvc shows for a type symvert's dump names: a_reg for a type it was not
    given (at or above the limit), and for type 0, which the dump shows as (00)."""
    return "a_reg" if code == 0 or code >= limit else GPVC_NAMES.get(type_name, type_name)


def compare(name, ours, peer, codes, byte_labels, problems):
    f = peer.fields
    for field, want in (("Source file", "out.cod"), ("Compiler", "NORVALE"),
                        ("Compiler version", ""), ("Notice", "symvert, symbol file converter")):
        if f.get(field) != want:
            problems.append("%s: gpvc shows %s %r, written %r" % (name, field, f.get(field), want))
    m = re.search(r"^Date:\t(.*)\tTime:\t(.*)$", ours.text, re.M)
    if (f.get("Date"), f.get("Time")) != (m.group(1), m.group(2)):
        problems.append("%s: gpvc date/time %s %s, dump %s %s" % (
            name, f.get("Date"), f.get("Time"), m.group(1), m.group(2)))
    processor = re.search(r"^Codtyp:\t1; Processor (.*)$", ours.text, re.M).group(1)
    if f.get("Processor") != processor:
        problems.append("%s: gpvc processor %r, dump %r" % (name, f.get("Processor"), processor))
    for gpvc_table, label in (("Short symbol", "Symtab:"), ("File name", "Namtab:"),
                              ("Source info", "Lsttab:"), ("Rom", "Memmap:"),
                              ("Local scope", "Locals:"), ("Long symbol", "Lsymtab"),
                              ("Debug messages", "Messtab")):
        if peer.tables.get(gpvc_table) != ours.table(label):
            problems.append("%s: gpvc %s table %s, dump %s" % (
                name, gpvc_table, peer.tables.get(gpvc_table), ours.table(label)))
    if peer.code_index != ours.code_index:
        problems.append("%s: code index %s, dump %s" % (name, peer.code_index, ours.code_index))
    # Code: gpvc shows 16-bit little-endian words.
    shown = peer.code_bytes(byte_labels)
    for address, byte in shown.items():
        if ours.bytes.get(address) != byte:
            problems.append("%s: code byte %X is %s, gpvc %02X" % (
                name, address, ours.bytes.get(address), byte))
            break
    shown = {a for a, b in ours.bytes.items() if b and a not in shown}
    if shown:
        problems.append("%s: gpvc leaves out written code bytes at %s" % (
            name, sorted(hex(a) for a in shown)[:5]))
    # Short symbols: names, values, and the types symvert's dump names.
    want = [(n, v, gpvc_type(t, c)) for (n, t, v), c in zip(ours.symbols, codes[0])]
    if peer.symbols != want:
        problems.append("%s: short symbols %s, dump %s" % (name, peer.symbols, want))
    local_codes = iter(codes[1])
    want = [((s, e) if byte_labels else (s // 2, e // 2 - 1)) +
            ([(n, v, gpvc_type(t, next(local_codes))) for n, t, v in entries],)
            for s, e, entries in ours.locals]
    if peer.locals != want:
        problems.append("%s: local scopes %s, dump %s" % (name, peer.locals, want))
    if peer.files != ours.files:
        problems.append("%s: files %s, dump %s" % (name, peer.files, ours.files))
    want = [(line, address, flags, file_name)
            for line, flags, address, file_name, position in ours.lines
            if flags != 0xFF and (line, flags, address) != (0, 0, 0) and position != 84]
    got = [(line, address, flags, file_name) for line, address, flags, file_name in peer.lines]
    if got != want:
        problems.append("%s: %d line entries from gpvc, %d in the dump" % (
            name, len(got), len(want)))


def check_long_symbols(name, ours, peer, codes, local_names, problems):
    """The long table: the short table's entries with full names (and, under -f, the
    "function.local" entries first, after the extern variables)."""
    plain = [(s, c) for s, c in zip(peer.long_symbols, codes[2]) if s[0] not in local_names]
    if len(plain) != len(ours.symbols):
        problems.append("%s: %d long symbols besides locals, %d short ones" % (
            name, len(plain), len(ours.symbols)))
        return
    for ((long_name, value, gtype), code), (short, stype, svalue) in zip(plain, ours.symbols):
        want_type = gpvc_type(stype, code, 129)
        if long_name[:12] != short or value & 0xFFFF != svalue or gtype != want_type:
            problems.append("%s: long symbol %s = %X (%s) for short %s = %X (%s)" % (
                name, long_name, value, gtype, short, svalue, stype))
            return


def write_cod(program, data, sample, options, inputs, work):
    peerlib.copy_sample(data, sample, work)
    return run([program, "-v", "-v"] + options + inputs + ["-ocod", "out.cod"], work)


def main():
    program, data = peerlib.arguments()
    if peerlib.missing("gpvc"):
        return peerlib.SKIPPED
    problems = []
    fake_locals = {}
    for name, sample, options, inputs, byte_labels in SAMPLES:
        with tempfile.TemporaryDirectory() as work:
            proc = write_cod(program, data, sample, options, inputs, work)
            if proc.returncode != 0 or re.search(r"\(\d+\)", proc.stderr):
                problems.append("%s: write status %d\n%s" % (name, proc.returncode, proc.stderr))
                continue
            cod = os.path.join(work, "out.cod")
            dump = run([program, "-d", "-v", cod], work)
            ours = CodDump(dump.stdout)
            given = os.path.join(work, "gpvc.cod")
            codes = masked_copy(cod, given)
            masked = sum(c >= FIRST_UNKNOWN_TO_GPVC for c in codes[0] + codes[1] + codes[2])
            peer_run = run(["gpvc", given], work)
            errors = [l for l in (peer_run.stdout + peer_run.stderr).splitlines()
                      if "error" in l.lower() and "does not exist" not in l]
            if peer_run.returncode != 0 or errors:
                problems.append("%s: gpvc status %d: %s" % (name, peer_run.returncode,
                                                           errors[:3]))
                continue
            peer = Gpvc(peer_run.stdout.replace("gpvc.cod", "out.cod"))
            compare(name, ours, peer, codes, byte_labels, problems)
            # Locals as "function.local" long symbols under -f, from the run without -f.
            if name.endswith("-f"):
                want = []
                for start, end, entries in fake_locals.get(sample, []):
                    function = entries[0][0]
                    want += [("%s.%s" % (function, n), v) for n, t, v in entries[1:]]
                got = [(n, v) for n, v, t in peer.long_symbols if "." in n]
                if got != want:
                    problems.append("%s: long local symbols %s, expected %s" % (name, got, want))
                check_long_symbols(name, ours, peer, codes, {n for n, v in got}, problems)
            else:
                check_long_symbols(name, ours, peer, codes, set(), problems)
                if "-m" not in options:
                    fake_locals.setdefault(sample, ours.locals)
            # Independently of symvert's dump: the image and the symbol file's code lines.
            blocks = parse_summary(proc.stderr)[2]
            pages = expected_pages(blocks, parse_hex(os.path.join(work, inputs[1])))
            if sorted(pages) != [a // BLOCK for a, b in ours.code_index]:
                problems.append("%s: code pages at %s, expected pages %s" % (
                    name, [a for a, b in ours.code_index], sorted(pages)))
            for page, content in pages.items():
                got = bytes(ours.bytes.get(page * BLOCK + k, -1) & 0xFF for k in range(BLOCK))
                if got != bytes(content):
                    problems.append("%s: code page %X differs from the image" % (name, page))
            if inputs[0].endswith(".sym"):
                firsts = {(f, l, a) for l, fl, a, f, k in ours.lines if fl == 0x80}
                missing = [c for c in code_lines(os.path.join(work, inputs[0]))
                           if (c[0], c[1], c[2] & 0xFFFF) not in firsts]
                if missing:
                    problems.append("%s: code lines without a line entry: %s" % (name,
                                                                                missing[:5]))
            words = sum(len(w) for a, w in peer.rows)
            print("%-9s %d short symbols, %d local scopes, %d line entries, %d code words%s" % (
                name, len(peer.symbols), len(peer.locals), len(peer.lines), words,
                ", %d types masked for gpvc" % masked if masked else ""))
    # gplink's own .COD of the blink program holds the same code pages.
    with tempfile.TemporaryDirectory() as work:
        write_cod(program, data, "pic", ["-p16F877A"], ["blink.cof", "blink.hex"], work)
        ours = Gpvc(run(["gpvc", "out.cod"], work).stdout)
        theirs = Gpvc(run(["gpvc", os.path.join(data, "pic", "blink.cod")], work).stdout)
        if [p for p, b in ours.code_index] != [p for p, b in theirs.code_index] or \
                {a: b for a, b in ours.code_bytes(False).items() if b} != \
                {a: b for a, b in theirs.code_bytes(False).items() if b}:
            problems.append("blink: code pages differ from gplink's blink.cod")
    return peerlib.report(problems, "%d samples, %d problems" % (len(SAMPLES), len(problems)))


if __name__ == "__main__":
    sys.exit(main())
