#!/usr/bin/env python3
"""Peer check: gpvc (gputils) reads the .COD files symvert writes as symvert's dump shows
them: directory texts and table blocks, code index and code words, short and long
symbols, local scopes, file names and line entries. Where gpvc reads a field otherwise,
the format as symvert writes it holds: gpvc names some types otherwise (GPVC_NAMES) and
shows type 0 and long-symbol types above 128 as a_reg (any type); its type table ends at
153 and it prints rubbish past it, so it reads a copy with those types made 0; for a 12-
or 14-bit processor it shows a scope as start / 2 to end / 2 - 1 and labels code words
with word addresses; it leaves out file-change line entries (flags FF), the empty tail of
the last block and the 85th entry of each block."""
import os
import re
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from peer_harness import Check, values  # noqa: E402

GPVC_NAMES = {"c_byte": "c_short", "c_int": "c_long", "c_ubyte": "c_ushort",
              "c_uint": "c_ulong", "func_void_twobyte": "funcVoidTwobyte",
              "func_int_twobyte": "func_int_twobyt", "func_long_twobyte": "funcLongTwobyte",
              "pfun_void_twobyte": "pfunVoidTwobyte", "pfun_int_twobyte": "pfunIntTwobyte",
              "pfun_long_twobyte": "pfun_long_twoby", "c_void": "void",
              "PtrF_void_twobyte": "PtrF_void_twobyt", "PFunc": "Pfunc",
              "c_extern": "external", "c_global": "global"}
PIC16 = ["-p16F877,6877,PIC14", "-nCODE,ENTRY", "prog.sym", "prog.hex"]
# Sample, options and inputs, whether gpvc labels code with byte addresses (when it does
# not take the processor field for a 12- or 14-bit part).
SAMPLES = [("debug/pic16", PIC16, False), ("debug/pic16", ["-f"] + PIC16, False),
           ("debug/pic16", ["-m"] + PIC16, False), ("debug/pic18", ["prog.sym", "prog.hex"], True),
           ("cod/write", ["-pPIC16F877A", "layout.sym", "layout.hex"], False),
           ("cod/write", ["-f", "-pPIC16F877A", "layout.sym", "layout.hex"], False),
           ("pic", ["-p16F877A,6877,PIC14", "blink.cof", "blink.hex"], False)]
ENTRY = r"(\S+) = (\w+), type = (\S+)"
HEADINGS = r"Code blocks index|ROM Usage|Formatted Code Dump|[\w ]+ Information"


def masked(path, copy):
    """A copy of a .COD file with the symbol types from 154 on made 0."""
    data = bytearray(open(path, "rb").read())
    blocks = lambda field: range(*(lambda a, b: (a, b + 1 if a else 0))(
        *struct.unpack_from("<HH", data, field)))
    for at in (b * 512 + k for b in [*blocks(426), *blocks(447)] for k in range(0, 512, 16)):
        data[at + 13] *= not (data[at] and data[at + 13] >= 154)  # short symbols, locals
    for b in blocks(462):  # long symbols: length, name, type, value
        at = b * 512
        while at < b * 512 + 512 and data[at]:
            data[at + 1 + data[at]] *= data[at + 1 + data[at]] < 154
            at += 7 + data[at]
    open(copy, "wb").write(data)


def read(check, cwd, byte_labels):
    """gpvc's reading of gpvc.cod: directory, code, symbols, scopes, files, lines, long."""
    proc = check.run(["gpvc", "gpvc.cod"], cwd)
    text = re.sub(r"^ERROR: Source file .* does not exist\.\n", "", proc.stdout, flags=re.M)
    check.quiet("gpvc", proc.stderr + "\n".join(l for l in text.splitlines() if "rror" in l))
    parts = re.split(r"^(%s):$" % HEADINGS, text.replace("gpvc.cod", "out.cod"), flags=re.M)
    part = dict(zip([""] + parts[1::2], parts[0::2])).get
    entry = (ENTRY, lambda m: (m[1], int(m[2], 16), None if m[3] == "a_reg" else m[3]))
    code = {}
    for label, words in values(part("Formatted Code Dump", ""), (r"(\w{6}):((?: +\w{4})+)",)):
        for k, word in enumerate(int(w, 16) for w in words.split()):
            at = int(label, 16) + 2 * k if byte_labels else 2 * (int(label, 16) + k)
            code.update({at: word & 0xFF, at + 1: word >> 8})
    return dict(directory=values(part("") + part("Code blocks index", ""), (
        r"\w+ - (Source file|Date|Time|Compiler version|Compiler|Notice|Processor):\s*(.*?)\s*$",),
        (r".* start block:\s+(\w+)\s+end block:\s+(\w+)", lambda m: [int(m[1], 16), int(m[2], 16)]),
        (r"(\w{6})-\w{6}: (\d+)$", lambda m: ("code", int(m[1], 16), int(m[2])))),
        code=sorted((a, b) for a, b in code.items() if b),
        symbols=values(part("Symbol Table Information", ""), entry),
        scopes=values(part("Local Symbol Scoping Information", ""), (
            r"Local symbols between (\w+) and (\w+):\s*(.*)", lambda m: [
                ("block", int(m[1], 16), int(m[2], 16))] + values(m[3], entry)), entry),
        files=[l.strip() for l in part("Source File Information", "").splitlines()
               if l.strip() and l[0] != "-"],
        lines=values(part("Line Number Information", ""), (
            r"\s+\d+\s+(\d+)\s+(\w{6})\s+([ \w]\w) \S+\s+(\S+)", lambda m: (
                int(m[1]), int(m[3], 16), int(m[2], 16), m[4]))),
        long=values(part("Long Symbol Table Information", ""), (ENTRY, lambda m: (
            m[1], int(m[2], 16)))))


def dumped(text, byte_labels):
    """The same values from symvert's dump (-d -v) of the file."""
    entry = (r"\t(.{14}) \((\S+)\)\s+(\w+)$", lambda m: (m[1].strip(), int(m[3], 16),
                                                       GPVC_NAMES.get(m[2], m[2])))
    head, rest = text.split("\nSymbols:\n")
    symbols, rest = rest.split("Locals:\n", 1)
    scopes, rest = rest.split("Files:\n", 1)
    files, rest = rest.split("Line numbers:\n", 1)
    code = {}
    for label, row in values(text, (r"([0-9A-F]{4}):((?: [0-9A-F]{2}){16}) ",)):
        code.update((int(label, 16) + k, int(b, 16)) for k, b in enumerate(row.split()) if b != "00")
    return dict(directory=values(head, (r"(Source):\t(.*)$", lambda m: ("Source file", m[2])),
                                 (r"Date:\t(.*)\tTime:\t(.*)$", lambda m: [("Date", m[1]), ("Time", m[2])]),
                                 (r"Version:(.*)\tCompiler: (.*)$", lambda m: [
                                     ("Compiler version", m[1]), ("Compiler", m[2])]),
                                 (r"(Notice):\t(.*)$",), (r"Codtyp:\t1; (Processor) (.*)$",),
                                 (r"(?:Symtab|Memmap):\t(.*)$", lambda m: [
                                     int(v) for v in re.findall(r"\d+", m[1])]),
                                 (r"Code: 0(\w+)h at block (\d+)$", lambda m: (
                                     "code", int(m[1], 16), int(m[2])))),
                code=sorted(code.items()), symbols=values(symbols, entry),
                scopes=values(scopes, (r"Block: 0x(\w+)-0x(\w+)", lambda m: ("block", *(
                    (int(m[1], 16), int(m[2], 16)) if byte_labels else
                    (int(m[1], 16) // 2, int(m[2], 16) // 2 - 1)))), entry),
                files=[l.strip() for l in files.splitlines() if l.strip()],
                lines=[v for block in rest.split("Line number block ")[1:] for k, v in enumerate(
                    values(block, (r"\t\s*(\d+) (\w\w) (\w{4}) (.*)$", lambda m: (
                        int(m[1]), int(m[2], 16), int(m[3], 16), m[4]))))
                       if v[1] != 0xFF and v[:3] != (0, 0, 0) and k != 84])


def main():
    check = Check("gpvc")
    order = lambda v: 1 if isinstance(v, int) else 2 if v[0] == "code" else 0  # as gpvc shows
    local = {}
    for sample, options, byte_labels in SAMPLES:
        where = "%s %s" % (sample, " ".join(options))
        work = check.sample(sample)
        if not check.ran(where, check.symvert(*options, "-ocod", "out.cod", cwd=work)):
            continue
        masked(os.path.join(work, "out.cod"), os.path.join(work, "gpvc.cod"))
        peer = read(check, work, byte_labels)
        got = dumped(check.symvert("-d", "-v", "out.cod", cwd=work).stdout, byte_labels)
        for part, values_got in got.items():
            check.same("%s: %s" % (where, part), sorted(values_got, key=order) if part == "directory" else
                       values_got, sorted(peer[part], key=order) if part == "directory" else peer[part])
        # The long symbols: the short ones with full names; under -f first each local
        # of the scopes (as written without -f) as "function.local".
        scopes = got["scopes"]
        if "-f" not in options and "-m" not in options:
            local[sample], function = [], None
            for k, entry in enumerate(scopes):
                function = scopes[k + 1][0] if entry[0] == "block" else function
                if entry[0] != "block" and scopes[k - 1][0] != "block":
                    local[sample].append(("%s.%s" % (function, entry[0]), entry[1]))
        check.same(where + ": long locals", [s for s in peer["long"] if "." in s[0]],
                   local.get(sample, []) if "-f" in options else [])
        check.same(where + ": long symbols", [(n[:12], v & 0xFFFF) for n, v in peer["long"]
                                              if "." not in n], [s[:2] for s in got["symbols"]])
    check.done("%d .COD files written and read by gpvc" % len(SAMPLES))


main()
