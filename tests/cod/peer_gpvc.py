#!/usr/bin/env python3
"""Peer check: gpvc (gputils) reads the .COD files symvert writes as symvert's dump shows
them: the directory's texts and table blocks, the code index and code words, the short and
long symbols, the local scopes, the file names and the line entries. And symvert's dump of the .COD files gplink makes (the committed
blink.cod, and one rebuilt from blink.asm when gpasm is installed) shows what gpvc does.

Where gpvc reads a field otherwise, the file format as symvert writes it holds:
 - gpvc names some types otherwise (GPVC_NAMES), and shows type 0, and long-symbol types
   above 128, as a_reg (compared as any type); its type table ends at 153 and it prints
   rubbish past it, so it reads a copy in which types from 154 on are 0;
 - for a 12- or 14-bit processor it shows a scope's addresses as start / 2 and end / 2 - 1
   and labels code with word addresses;
 - it leaves out file-change line entries (flags FF), the empty tail of the last block
   and the 85th entry of each block;
 - gplink leaves the date's length byte 0, so symvert shows no date, and the dump shows
   32 characters of a file name."""
import os
import re
import shutil
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
HEADINGS = ["Code blocks index", "ROM Usage", "Formatted Code Dump", "Symbol Table Information",
            "Long Symbol Table Information", "Local Symbol Scoping Information",
            "Source File Information", "Line Number Information"]


def masked(path, copy):
    """A copy of a .COD file with the symbol types from 154 on made 0."""
    data = bytearray(open(path, "rb").read())
    blocks = lambda field: range(*(lambda a, b: (a, b + 1 if a else 0))(
        *struct.unpack_from("<HH", data, field)))
    for b in list(blocks(426)) + list(blocks(447)):  # short symbols, locals: 16 bytes each
        for at in range(b * 512, b * 512 + 512, 16):
            if data[at] and data[at + 13] >= 154:
                data[at + 13] = 0
    for b in blocks(462):  # long symbols: length, name, type, value
        at = b * 512
        while at < b * 512 + 512 and data[at]:
            data[at + 1 + data[at]] *= data[at + 1 + data[at]] < 154
            at += 7 + data[at]
    open(copy, "wb").write(data)


def gpvc(check, path, cwd):
    """gpvc's reading, cut at its headings."""
    proc = check.run(["gpvc", path], cwd)
    text = re.sub(r"^ERROR: Source file .* does not exist\.\n", "", proc.stdout, flags=re.M)
    check.quiet(path + ": gpvc", proc.stderr + "\n".join(l for l in text.splitlines()
                                                         if "error" in l.lower()))
    parts = re.split(r"^(%s):$" % "|".join(HEADINGS), text, flags=re.M)
    return dict(zip([""] + parts[1::2], parts[0::2]))


def peer_values(read, byte_labels):
    """gpvc's directory, tables, code index, symbols, scopes, files and line entries."""
    kind = lambda t: None if t == "a_reg" else t
    return (values(read[""] + read.get("Code blocks index", ""), (r"\w+ - (Source file|Date|Time|Compiler version|Compiler|Notice|"
                              r"Processor):\s*(.*?)\s*$",),
                   (r".* start block:\s+(\w+)\s+end block:\s+(\w+)", lambda m: [
                       int(m[1], 16), int(m[2], 16)]),
                   (r"(\w{6})-\w{6}: (\d+)$", lambda m: ("code", int(m[1], 16), int(m[2])))),
            values(read.get("Symbol Table Information", ""), (
                ENTRY, lambda m: (m[1], int(m[2], 16), kind(m[3])))),
            values(read.get("Local Symbol Scoping Information", ""), (
                r"Local symbols between (\w+) and (\w+):\s*(.*)", lambda m: [
                    ("block", int(m[1], 16), int(m[2], 16))] + values(m[3], (ENTRY, lambda e: (
                        e[1], int(e[2], 16), kind(e[3]))))), (ENTRY, lambda m: (
                            m[1], int(m[2], 16), kind(m[3])))),
            [l.strip()[:32] for l in read.get("Source File Information", "").splitlines()
             if l.strip() and l[0] != "-"],
            values(read.get("Line Number Information", ""), (
                r"\s+\d+\s+(\d+)\s+(\w{6})\s+([ \w]\w) \S+\s+(\S+)", lambda m: (
                    int(m[1]), int(m[3], 16), int(m[2], 16), m[4][:32]))))


def dump_values(text, byte_labels):
    """The same values from symvert's dump (-d -v) of the file."""
    kind = lambda t: GPVC_NAMES.get(t, t)
    entry = (r"\t(.{14}) \((\S+)\)\s+(\w+)$", lambda m: (m[1].strip(), int(m[3], 16), kind(m[2])))
    head, symbols = text.split("\nSymbols:\n") if "\nSymbols:\n" in text else (text, "Locals:")
    symbols, rest = symbols.split("Locals:\n", 1) if "Locals:\n" in symbols else ("", symbols)
    scopes, rest = rest.split("Files:\n", 1) if "Files:\n" in rest else ("", rest)
    files, rest = rest.split("Line numbers:\n", 1)
    lines = [v for block in rest.split("Line number block ")[1:] for k, v in enumerate(values(
        block, (r"\t\s*(\d+) (\w\w) (\w{4}) (.*)$", lambda m: (int(m[1]), int(m[2], 16), int(
            m[3], 16), m[4][:32])))) if v[1] != 0xFF and v[:3] != (0, 0, 0) and k != 84]
    return (values(head, (r"(Source):\t(.*)$", lambda m: ("Source file", m[2])),
                   (r"Date:\t(.*)\tTime:\t(.*)$", lambda m: [("Date", m[1]), ("Time", m[2])]),
                   (r"Version:(.*)\tCompiler: (.*)$", lambda m: [("Compiler version", m[1]), (
                       "Compiler", m[2])]), (r"(Notice):\t(.*)$",),
                   (r"Codtyp:\t1; (Processor) (.*)$",), (r"(?:Symtab|Memmap):\t(.*)$",
                                                         lambda m: [int(v) for v in re.findall(
                                                             r"\d+", m[1])]),
                   (r"Code: 0(\w+)h at block (\d+)$", lambda m: ("code", int(m[1], 16),
                                                                 int(m[2])))),
            values(symbols, entry),
            values(scopes, (r"Block: 0x(\w+)-0x(\w+)", lambda m: ("block", *(
                (int(m[1], 16), int(m[2], 16)) if byte_labels else
                (int(m[1], 16) // 2, int(m[2], 16) // 2 - 1)))), entry),
            [l.strip()[:32] for l in files.splitlines() if l.strip()], lines)


def code(check, where, read, dump, byte_labels):
    """The code words gpvc shows are the bytes the dump shows."""
    dumped, shown = {}, {}
    for label, row in values(dump, (r"([0-9A-F]{4}):((?: [0-9A-F]{2}){16}) ",
                                    lambda m: (int(m[1], 16), m[2].split()))):
        dumped.update((label + k, int(b, 16)) for k, b in enumerate(row) if b != "00")
    for label, words in values(read.get("Formatted Code Dump", ""), (
            r"(\w{6}):((?: +\w{4})+)", lambda m: (int(m[1], 16), m[2].split()))):
        for k, word in enumerate(words):
            at = label + 2 * k if byte_labels else 2 * (label + k)
            shown.update({at: int(word, 16) & 0xFF, at + 1: int(word, 16) >> 8})
    check.same(where + ": code", sorted((a, b) for a, b in shown.items() if b),
               sorted(dumped.items()))


def compare(check, where, got, want, parts=("directory", "symbols", "scopes", "files", "lines")):
    order = lambda v: 1 if isinstance(v, int) else 2 if v[0] == "code" else 0  # as gpvc shows
    for part, a, b in zip(parts, got, want):
        if part == "directory":
            a, b = sorted(a, key=order), sorted(b, key=order)
        check.same("%s: %s" % (where, part), a, b)


def main():
    check = Check("gpvc")
    local = {}
    for sample, options, byte_labels in SAMPLES:
        where = "%s %s" % (sample, " ".join(options))
        work = check.sample(sample)
        if not check.ran(where, check.symvert(*options, "-ocod", "out.cod", cwd=work)):
            continue
        masked(os.path.join(work, "out.cod"), os.path.join(work, "gpvc.cod"))
        read = gpvc(check, "gpvc.cod", work)
        read[""] = read[""].replace("gpvc.cod", "out.cod")
        dump = check.symvert("-d", "-v", "out.cod", cwd=work).stdout
        got = dump_values(dump, byte_labels)
        compare(check, where, got, peer_values(read, byte_labels))
        code(check, where, read, dump, byte_labels)
        # The long symbols: the short ones with full names; under -f first each local
        # as "function.local".
        symbols, scopes = got[1], got[2]
        if "-f" not in options and "-m" not in options:
            local[sample] = []
            for k, entry in enumerate(scopes):
                function = scopes[k + 1][0] if entry[0] == "block" else function
                if entry[0] != "block" and scopes[k - 1][0] != "block":
                    local[sample].append(("%s.%s" % (function, entry[0]), entry[1]))
        want = local.get(sample, []) if "-f" in options else []
        longs = values(read.get("Long Symbol Table Information", ""), (ENTRY, lambda m: (
            m[1], int(m[2], 16))))
        check.same(where + ": long locals", [s for s in longs if "." in s[0]], want)
        check.same(where + ": long symbols", [(n[:12], v & 0xFFFF) for n, v in longs
                                              if "." not in n], [s[:2] for s in symbols])
    blinks = [check.sample("pic")]
    if shutil.which("gpasm") and shutil.which("gplink"):
        blinks.append(check.sample("pic/blink.asm"))
        check.ran("gpasm", check.run(["gpasm", "-c", "blink.asm"], blinks[-1]))
        check.ran("gplink", check.run(["gplink", "-q", "-c", "-o", "blink.hex", "blink.o"],
                                      blinks[-1]))
    for work, where in zip(blinks, ["blink.cod", "blink.cod rebuilt"]):
        dump = check.symvert("-icod", "-d", "-v", "blink.cod", cwd=work).stdout
        read = gpvc(check, "blink.cod", work)
        want = peer_values(read, False)
        want[0][:] = [("Date", "") if isinstance(v, tuple) and v[0] == "Date" else v
                      for v in want[0]]
        compare(check, where, dump_values(dump, False), want, ("directory", "", "", "files",
                                                               "lines"))
        code(check, where, read, dump, False)
    check.done("%d .COD files written and %d of gplink's read by gpvc" % (len(SAMPLES),
                                                                          len(blinks)))


main()
