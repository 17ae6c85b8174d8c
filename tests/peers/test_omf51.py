#!/usr/bin/env python3
"""Peer check: OMF-51 and Extended OMF-51 (symvert -iomf51, the eomf51 detection, the
dumps, -oomf51 and -oeomf51) against sdcc's linker outputs and srecord.

1. sdcc's absolute OMF-51 files (tests/data/omf51, linked by sdld with -y), read as
   detected (Extended OMF-51, which takes plain OMF-51 too) and with -iomf51:
   - the program bytes symvert writes as Intel HEX equal sdcc's .ihx (srec_cmp);
   - per module (the file symvert makes of each module block): the symbols, with their
     memory spaces (the segments CODE, XDATA, DATA, IDATA, BIT) and values, are those
     of the .cdb (S: records with their L: addresses), and the values of the globals
     and statics are the linker map's; the line records (line, address) are the .cdb's
     C$ line entries of the module's functions;
   - the dumps (-d -v, detected and -iomf51) list every record that a reader of the
     record frame written here finds (offset, type, length: type byte, u16
     little-endian length, content, checksum byte), with the contents of module
     header and end, Content, Scope Def and Debug Item records, and report no checksum
     error and no bad length.
2. srecord reads what symvert writes: -oomf51 and -oeomf51 from the i8051 sample (symbol
   file, side files and Intel HEX), from sdcc's .omf and from sdcc's .omf with its .ihx
   hold the same bytes as the input image (srec_cmp FILE -aomf IMAGE -intel).
3. Round trips of the i8051 sample: what symvert writes as OMF-51 and as Extended
   OMF-51 it reads back (-v -v summary: the symbols, per module, by the writers' name
   rules; the line records per module; the data blocks; the bytes through -oihex) and
   dumps consistently (every record, as above); in the Extended OMF-51 file the Keil
   typedef records number their descriptors from 0x20 in each record, one dump line per
   descriptor, the Source file name records name the modules' C files, and the typed
   debug items of the variables refer to descriptors of the types the sample's .sdb
   files declare (arrays, structures with their tags, members and bit-fields, pointers
   with their memory spaces, functions).

Accepted differences, with their reasons:
 - sdld writes relocatable __bit variables nowhere (no L: record in the .cdb, no map
   line, no .omf item): only bits at fixed addresses are compared. Stack locals of
   reentrant functions (.cdb space B) are not in the .omf either.
 - A local that sdcc keeps in registers has no address in the .cdb; sdld gives it, as
   its .omf offset, the number of its first register (its DATA address in register
   bank 0), and that is the value expected.
 - sdld writes a line number once per function, at its first address, while the .cdb
   lists it again where the code comes back to it; lines outside every function
   (static initialisers in the start-up code) are only in the .cdb. The expected lines
   are the .cdb's first entry of each line number within each function.
 - Globals are written in the block of the first module whose .cdb S: records name
   them (an extern declaration counts), as sdld does.
 - srecord takes the segment id byte of a Content record as address bits 16 to 23 and
   calls the record types 0x20 and 0x22 "Seg_Def" and "Fixup", which it ignores with
   a warning, as it does 0x24 and 0x70; as the format is written (segment id 0 in every
   record symvert writes, Keil records beside the content) the bytes must still agree.
   srecord's warnings about records out of address order and about the same value
   written twice (sdcc's .omf read with its .ihx gives every byte twice) are accepted.
 - The plain OMF-51 writer cuts names to 40 characters and writes them in upper case;
   the Extended OMF-51 writer removes one leading "_" from debug item names. Values
   and addresses are their low 16 bits. A symbol whose segment name starts with no
   memory type's letter is written as NUMBER and read back without a segment.

symvert -c must identify sdcc's .omf as Extended OMF-51, the format tried first. Skipped
(status 77) when srecord is missing.
"""
import collections
import os
import re
import sys
import tempfile

import peerlib
from peerlib import parse_summary, run

SDCC_SAMPLES = ["meter", "logger"]
I8051 = ["-pAT89C51,8051", "-nCODE", "prog.sym", "prog.hex"]

RECORD_NAMES = {0x02: "Module header", 0x04: "Module END", 0x06: "Content", 0x08: "Fixup",
                0x0E: "Segment Def", 0x10: "Scope Def", 0x12: "Debug Item",
                0x16: "Public Def", 0x18: "External Def", 0x26: "LIB Modlocs",
                0x28: "LIB Modname", 0x2A: "LIB Dictionary", 0x2C: "LIB Header"}
KEIL_NAMES = {0x22: "Keil Debug Item", 0x20: "Keil typedef", 0x70: "Keil info",
              0x24: "Source file name"}
MEMORY_TYPES = ["CODE", "XDATA", "DATA", "IDATA", "BIT", "NUMBER", "???6", "???7"]
DEFINITIONS = ["Local symbols", "Public symbols", "Segment symbols", "Line numbers"]
BLOCKS = ["Module block", "Do block", "Procedure block", "Module block end", "Do block end",
          "Procedure block end"]
# The memory type sdld gives a .cdb address space: code, code constants, internal RAM,
# special function registers, registers (bank 0), external RAM, paged external RAM,
# indirect internal RAM, bits, special function register bits.
SPACES = {"C": "CODE", "D": "CODE", "E": "DATA", "I": "DATA", "R": "DATA", "F": "XDATA",
          "P": "XDATA", "G": "IDATA", "H": "BIT", "J": "BIT"}
CHECKSUM_MESSAGES = re.compile(r"\((1040|1041)\)")


# ---- The record frame, read here ----

Record = collections.namedtuple("Record", "offset type length content")


def read_records(data):
    """The records of an OMF-51 file: (records, problems with the frame)."""
    records, problems, at = [], [], 0
    while at < len(data):
        if at + 3 > len(data):
            problems.append("%d bytes after the last record" % (len(data) - at))
            break
        kind, length = data[at], data[at + 1] | data[at + 2] << 8
        body = data[at + 3:at + 3 + length]
        if len(body) < length or length == 0:
            problems.append("record at 0x%X is cut short" % at)
            break
        if sum(data[at:at + 3 + length]) & 0xFF:
            problems.append("record at 0x%X: checksum" % at)
        records.append(Record(at, kind, length, body[:-1]))
        at += 3 + length
    return records, problems


def name_at(content, at):
    """A length-prefixed name: (text, offset after it)."""
    n = content[at]
    return content[at + 1:at + 1 + n].decode("latin-1"), at + 1 + n


def debug_items(content):
    """Definition type and items of a Debug Item record: symbols as (memory type name,
    info byte, offset, type index, name), lines as (segment id, offset, line)."""
    kind, items, at = content[0], [], 1
    while at < len(content):
        if kind == 3:
            items.append((content[at], content[at + 1] | content[at + 2] << 8,
                          content[at + 3] | content[at + 4] << 8))
            at += 5
        elif kind <= 2:
            info = content[at + 1]
            name, after = name_at(content, at + 5)
            items.append((MEMORY_TYPES[info & 7], info, content[at + 2] | content[at + 3] << 8,
                          content[at + 4], name))
            at = after
        else:
            break
    return kind, items


def typedef_count(content):
    """The number of type descriptors in a Keil typedef record's content."""
    count, at = 0, 0
    sizes = {0x22: 5, 0x23: 3, 0x25: 5, 0x26: 4, 0x28: 9}
    while at < len(content):
        kind = content[at]
        if kind == 0x20:
            at += 3
            for _ in range(content[at - 2]):
                at += 4 + content[at + 3]
        elif kind == 0x24:
            at += 3 + content[at + 2]
        else:
            at += sizes.get(kind, len(content))
        count += 1
    return count


def omf_model(records):
    """What a reader puts in the store: module (file) -> symbols (memory type, offset,
    name) and lines (line, offset); the program bytes by address."""
    symbols, lines, image = collections.defaultdict(list), collections.defaultdict(list), {}
    current = None
    for r in records:
        if r.type == 0x10:
            block, name = r.content[0], name_at(r.content, 1)[0]
            current = name if block == 0 else None if block == 3 else current
        elif r.type in (0x12, 0x22):
            kind, items = debug_items(r.content)
            if kind in (0, 1):
                symbols[current] += [(m, o, n) for m, i, o, t, n in items]
            elif kind == 3:
                lines[current] += [(l, o) for s, o, l in items]
        elif r.type == 0x06:
            address = r.content[1] | r.content[2] << 8
            for k, b in enumerate(r.content[3:]):
                image[address + k] = b
    return symbols, lines, image


# ---- symvert's dump ----

DumpRecord = collections.namedtuple("DumpRecord", "offset name length text")
ITEM = re.compile(r"\t\tSEG (\d+), (IND )?(VAR |FUNC )?(?:BANK (\d+) )?(CODE|XDATA|DATA|IDATA|"
                  r"BIT|NUMBER|\?\?\?6|\?\?\?7) (?:(.+?) )?offset 0x([0-9A-F]{4}): (.*)$")
LINE_ITEM = re.compile(r"\t\tSEG (\d+), offset 0x([0-9A-F]{4}), line (\d+)$")


def dump_records(text):
    """The records a dump lists, each with its text (the first line's rest and the lines
    up to the next record)."""
    found = []
    for line in text.splitlines():
        m = re.match(r"@([0-9A-F]{4,}) (.{16}), len +(\d+): (.*)$", line)
        if m:
            found.append(DumpRecord(int(m.group(1), 16), m.group(2).strip(), int(m.group(3)),
                                    [m.group(4)]))
        elif found:
            found[-1].text.append(line)
    return found


def typedef_lines(record):
    """The descriptors of a dumped Keil typedef record: [(index text, description)]; each
    begins with 27 blanks (the first may follow the record's heading)."""
    return re.findall(r" {27}0x([0-9A-F]{2,}) = (.*)$", "\n".join(record.text), re.M)


def dumped_items(lines):
    """The items of a dumped Debug Item record, in the shape of debug_items (the type
    index as its name), and whether the dump said "Bad length"."""
    items = []
    for line in lines:
        m = ITEM.match(line)
        if m:
            info = MEMORY_TYPES.index(m.group(5)) | (0x80 if m.group(2) else 0) | \
                (0x40 if m.group(3) == "VAR " else 0) | \
                (0x20 | int(m.group(4)) << 3 if m.group(4) else 0)
            items.append((m.group(5), info, int(m.group(7), 16), m.group(6), m.group(8)))
            continue
        m = LINE_ITEM.match(line)
        if m:
            items.append((int(m.group(1)), int(m.group(2), 16), int(m.group(3))))
    return items


def shown_info(kind, info):
    """The bits of an item's info byte that the dump shows: the memory type, the bank when
    one is given and, for local and public symbols, the indirect and variable bits."""
    shown = info & (0x3F if info & 0x20 else 0x07)
    return shown | (info & 0xC0 if kind < 2 else 0)


def type_name(index):
    """The dump's name of a type index in a debug item."""
    base = ["typeless", "bit", "signed char", "unsigned char", "signed int", "unsigned int",
            "signed long", "unsigned long", "float", "double", "code label", "void",
            "float big endian"]
    if index < len(base):
        return base[index]
    return "Unknown(%X)" % index if index < 32 else "Typedef(%X)" % index


def check_dump(where, proc, records, extended, problems):
    """symvert's dump lists each record as read here, with the contents it shows."""
    names = dict(RECORD_NAMES)
    names.update(KEIL_NAMES if extended else {})
    heading = "Extended OMF-51 file dump:" if extended else "OMF-51 file dump:"
    if proc.returncode != 0 or not proc.stdout.startswith(heading + "\n\n"):
        problems.append("%s: dump status %d, begins %r" % (where, proc.returncode,
                                                           proc.stdout[:40]))
    if CHECKSUM_MESSAGES.search(proc.stderr) or "Bad length" in proc.stdout:
        problems.append("%s: dump reports a broken record:\n%s%s" % (
            where, proc.stderr, "\n".join(l for l in proc.stdout.splitlines()
                                          if "Bad length" in l)))
    dumped = dump_records(proc.stdout)
    want = [(r.offset, names.get(r.type, "Unknown(0x%X)" % r.type), r.length) for r in records]
    got = [(d.offset, d.name, d.length) for d in dumped]
    if got != want:
        k = next((k for k, (a, b) in enumerate(zip(got, want)) if a != b), min(len(got),
                                                                               len(want)))
        problems.append("%s: dump lists %d records, the file holds %d; first difference at "
                        "%d: dump %s, file %s" % (where, len(got), len(want), k,
                                                  got[k] if k < len(got) else None,
                                                  want[k] if k < len(want) else None))
        return
    for r, d in zip(records, dumped):
        first, c = d.text[0], r.content
        what = "%s: record at 0x%X (%s)" % (where, r.offset, d.name)
        if r.type in (0x02, 0x04):
            name = name_at(c, 0)[0]
            value = c[len(name) + 1] if r.type == 0x02 else c[len(name) + 3]
            label = "TRN ID" if r.type == 0x02 else "REG MSK"
            expected = "Name: '%s'; %s = 0x%02X" % (name, label, value)
        elif r.type == 0x06:
            expected = "Seg id %d, offset = 0x%04X, %d bytes; %s" % (
                c[0], c[1] | c[2] << 8, r.length - 4,
                "".join("%02X " % b for b in c[3:15]))
        elif r.type == 0x10:
            expected = "%s; Name = '%s'" % (BLOCKS[c[0]] if c[0] < 6 else "UNKNOWN",
                                            name_at(c, 1)[0])
        elif r.type in (0x12, 0x22):
            kind, items = debug_items(c)
            expected = DEFINITIONS[kind] if kind < 4 else "Unknown type"
            items = [i if len(i) == 3 else
                     (i[0], shown_info(kind, i[1]), i[2], type_name(i[3]) if extended and
                      kind < 2 else None, i[4]) for i in items]
            got_items = dumped_items(d.text[1:])
            if got_items != items:
                k = next((k for k, (a, b) in enumerate(zip(got_items, items)) if a != b),
                         min(len(got_items), len(items)))
                problems.append("%s: %d items dumped, %d in the record; item %d: dump %s, "
                                "record %s" % (what, len(got_items), len(items), k,
                                               got_items[k] if k < len(got_items) else None,
                                               items[k] if k < len(items) else None))
        elif r.type == 0x20 and extended:
            indexes = [int(i, 16) for i, t in typedef_lines(d)]
            want_indexes = list(range(32, 32 + typedef_count(c)))
            if indexes != want_indexes:
                problems.append("%s: descriptor indexes %s, the record holds %d descriptors"
                                % (what, indexes, len(want_indexes)))
            expected = None
        elif r.type == 0x24 and extended:
            expected = "Flags: %X Name: '%s'" % (c[0] | c[1] << 8, name_at(c, 3)[0])
        else:
            expected = ""
        if expected is not None and first.rstrip() != expected.rstrip():
            problems.append("%s: dump shows %r, the record holds %r" % (what, first, expected))


# ---- symvert's -v -v summary, by file ----

def summary_files(text):
    """file name -> (symbols [(segment, value, name)], lines [(line, address)]), in the
    order of the summary; only what follows its "Files:" header counts."""
    files, current, part = collections.OrderedDict(), None, None
    start = text.find("\nFiles: ")
    for line in text[start:].splitlines() if start >= 0 else []:
        m = re.match(r"File: (.*)$", line)
        if m:
            current = files.setdefault(m.group(1), ([], []))
            continue
        if line.startswith(("Symbols:", "Lines:")):
            part = line[0]
        elif not line.startswith("\t"):
            part = None
        elif current is not None and part == "S":
            fields = line[1:].split()
            if len(fields) == 2:
                fields.insert(0, "")
            current[0].append((fields[0], int(fields[1], 16), fields[2]))
        elif current is not None and part == "L":
            m = re.match(r"\t(\d+): ([0-9A-F]+)-[0-9A-F]+", line)
            current[1].append((int(m.group(1)), int(m.group(2), 16)))
    return files


def read_back(program, path, options, work):
    """symvert -v -v of a file (the options choose the format), writing its bytes as
    Intel HEX: (process, files, data blocks, the Intel HEX file's path)."""
    out = os.path.join(work, "back.hex")
    if os.path.exists(out):
        os.remove(out)
    proc = run([program, "-v", "-v"] + options + [path, "-oihex", out], work)
    return proc, summary_files(proc.stderr), parse_summary(proc.stderr)[2], out


def srec_same(image, image_format, reference, work):
    """Whether srec_cmp finds the same bytes; the warnings that are not accepted."""
    proc = run(["srec_cmp", image, image_format, reference, "-intel"], work)
    accepted = ("not in strictly ascending", "redundant", "ignoring unknown record",
                "ignoring Seg_Def record", "ignoring Fixup record")
    # srecord folds long messages onto indented lines.
    messages = re.sub(r"\n\s+", " ", proc.stderr).splitlines()
    complaints = [l for l in messages if l.strip() and not any(a in l for a in accepted)]
    return proc.returncode == 0, complaints, proc


# ---- sdcc's .cdb and map ----

CdbSymbol = collections.namedtuple("CdbSymbol", "scope name key space registers")


class Cdb:
    """An sdcc .cdb: modules, symbols (S:) with their addresses (L:), functions and
    their address ranges, and the C line entries."""

    def __init__(self, path):
        self.modules, self.symbols, self.first_module = [], [], {}
        self.addresses, self.ends, self.functions, self.lines = {}, {}, [], []
        module = None
        for line in open(path):
            line = line.rstrip("\n")
            if line.startswith("M:"):
                module = line[2:]
                self.modules.append(module)
            elif line.startswith("F:"):
                scope, name = line[2:].split("$")[:2]
                self.functions.append((scope, name))
            elif line.startswith("S:"):
                m = re.match(r"S:([^$]+)\$([^$]+)\$([^$]+)\$([^(]+)\(.*\),([A-Z]),\d+,-?\d+"
                             r"(?:,\[(.*)\])?$", line)
                scope, name = m.group(1), m.group(2)
                if (scope, name) in self.first_module:
                    continue
                self.first_module[(scope, name)] = module
                key = "%s$%s$%s$%s" % m.group(1, 2, 3, 4)
                registers = m.group(6).split(",") if m.group(6) else []
                self.symbols.append(CdbSymbol(scope, name, key, m.group(5), registers))
            elif line.startswith("L:C$"):
                m = re.match(r"L:C\$([^$]+)\$(\d+)\$[^:]*:([0-9A-F]+)$", line)
                self.lines.append((m.group(1), int(m.group(2)), int(m.group(3), 16)))
            elif line.startswith("L:") and not line.startswith("L:A$"):
                key, address = line[2:].rsplit(":", 1)
                scope, name = key.split("$")[:2]
                target = self.ends if scope.startswith("X") else self.addresses
                target.setdefault((scope[1:] if target is self.ends else scope, name),
                                  int(address, 16))

    def module_of(self, symbol):
        if symbol.scope == "G":
            return self.first_module[(symbol.scope, symbol.name)]
        return symbol.scope[1:].split(".")[0]

    def expected_symbols(self, map_values=None):
        """module -> [(memory type, value, name)] as sdld writes them in the .omf; with
        the map's values, where the map has the symbol, when they are given."""
        out = collections.defaultdict(list)
        for s in self.symbols:
            if s.space == "R" and s.registers and re.match(r"r\d$", s.registers[0]):
                value = int(s.registers[0][1:])
            elif (s.scope, s.name) in self.addresses and s.space in SPACES:
                value = self.addresses[(s.scope, s.name)]
                if map_values is not None:
                    mapped = map_value(map_values, s)
                    value = value if mapped is None else mapped
            else:
                continue  # relocatable bits, stack locals: in none of sdld's outputs
            out[self.module_of(s)].append((SPACES[s.space], value, s.name))
        return out

    def expected_lines(self):
        """module -> [(line, address)]: each line number's first entry per function."""
        ranges = [(self.addresses[f], self.ends[f], f) for f in self.functions
                  if f in self.addresses and f in self.ends]
        seen, out = set(), collections.defaultdict(list)
        for source, line, address in self.lines:
            owner = next((f for start, end, f in ranges if start <= address <= end), None)
            if owner is None or (owner, line) in seen:
                continue
            seen.add((owner, line))
            out[source.rsplit(".", 1)[0]].append((line, address))
        return out


def map_value(values, symbol):
    """The map's value of a .cdb symbol: a global by its assembler name, a static by its
    debug label (a function's by its entry label); None when the map has none."""
    labels = ["_" + symbol.name] if symbol.scope == "G" else []
    labels += [symbol.key, "%s$%s$0$0" % (symbol.scope, symbol.name)]
    return next((values[l] for l in labels if l in values), None)


def map_values(path):
    """Symbol name -> value of an sdld map (the first value of a name)."""
    values = {}
    for line in open(path):
        m = re.match(r"(?:[A-Z]:)?\s+([0-9A-F]{8})\s+(\S+)\s+\S+\s*$", line)
        if m:
            values.setdefault(m.group(2), int(m.group(1), 16))
    return values


def compare_by_module(where, what, got, want, problems):
    for module in sorted(set(got) | set(want), key=str):
        a, b = sorted(got.get(module, [])), sorted(want.get(module, []))
        if a != b:
            missing, extra = list(b), []
            for item in a:
                if item in missing:
                    missing.remove(item)
                else:
                    extra.append(item)
            problems.append("%s: module %s: %d %s, expected %d; missing %s, not expected %s"
                            % (where, module, len(a), what, len(b), missing, extra))


def check_sdcc_sample(program, data, name, problems):
    omf = os.path.join(data, "omf51", name + ".omf")
    cdb = Cdb(os.path.join(data, "omf51", name + ".cdb"))
    values = map_values(os.path.join(data, "omf51", name + ".map"))
    records, frame = read_records(open(omf, "rb").read())
    problems += ["%s: %s" % (name, p) for p in frame]
    want_symbols, want_lines = cdb.expected_symbols(), cdb.expected_lines()
    map_symbols = cdb.expected_symbols(values)
    # The sample itself holds what the .cdb and the map say (the accepted differences
    # above are all there are).
    own_symbols, own_lines, image = omf_model(records)
    compare_by_module(name + ".omf", "symbols", own_symbols, want_symbols, problems)
    compare_by_module(name + ".omf", "lines", own_lines, want_lines, problems)
    for s in cdb.symbols:
        if s.space != "R" and (s.scope, s.name) in cdb.addresses:
            mapped = map_value(values, s)
            # Compiler-made spill locations (sloc) are not in the map.
            if mapped != cdb.addresses[(s.scope, s.name)] and (mapped is not None or
                                                               s.scope == "G"):
                problems.append("%s: %s at 0x%X in the .cdb, map %s" % (
                    name, s.name, cdb.addresses[(s.scope, s.name)], mapped))
    if image != peerlib.parse_hex(os.path.join(data, "omf51", name + ".ihx")):
        problems.append("%s: the .omf's Content records differ from the .ihx" % name)
    for options in ([], ["-iomf51"]):
        where = "%s.omf %s" % (name, " ".join(options) or "detected")
        with tempfile.TemporaryDirectory() as work:
            proc, files, blocks, hex_path = read_back(program, omf, options, work)
            if proc.returncode != 0 or re.search(r"\(\d+\)", proc.stderr):
                problems.append("%s: read status %d\n%s" % (where, proc.returncode,
                                                             proc.stderr[-2000:]))
            got_symbols = {f: s for f, (s, l) in files.items() if s}
            got_lines = {f: l for f, (s, l) in files.items() if l}
            compare_by_module(where, "symbols", got_symbols, want_symbols, problems)
            compare_by_module(where, "lines", got_lines, want_lines, problems)
            compare_by_module(where, "symbols (values of the map)", got_symbols, map_symbols,
                              problems)
            segments = [s[0] for s in parse_summary(proc.stderr)[0]]
            if not set(MEMORY_TYPES[:5]) <= set(segments):
                problems.append("%s: segments %s" % (where, segments))
            same, complaints, cmp = srec_same(hex_path, "-intel",
                                              os.path.join(data, "omf51", name + ".ihx"), work)
            if not same or complaints:
                problems.append("%s: bytes written as Intel HEX differ from the .ihx: %s%s"
                                % (where, cmp.stdout[-500:], complaints))
            dump = run([program, "-d", "-v"] + options + [omf], work)
            check_dump(where, dump, records, not options, problems)
            print("%-24s %d modules, %d symbols, %d line records, %d records" % (
                where, len(cdb.modules), sum(len(s) for s in got_symbols.values()),
                sum(len(l) for l in got_lines.values()), len(dump_records(dump.stdout))))
        # What symvert writes of sdcc's file, and of the file with its .ihx, srecord reads.
        if options:
            continue
        for inputs in ([omf], [omf, os.path.join(data, "omf51", name + ".ihx")]):
            for key in ("omf51", "eomf51"):
                with tempfile.TemporaryDirectory() as work:
                    out = os.path.join(work, "out." + key)
                    proc = run([program] + inputs + ["-o" + key, out], work)
                    what = "%s as %s from %s" % (name, key, " ".join(os.path.basename(i)
                                                                      for i in inputs))
                    check_srecord(what, proc, out, os.path.join(data, "omf51", name + ".ihx"),
                                  work, problems)


def check_srecord(what, proc, out, image, work, problems):
    if proc.returncode != 0 or re.search(r"\(\d+\)", proc.stderr):
        problems.append("%s: write status %d\n%s" % (what, proc.returncode, proc.stderr))
        return
    same, complaints, cmp = srec_same(out, "-aomf", image, work)
    if not same or complaints:
        problems.append("%s: srecord reads other bytes than the image's: %s%s" % (
            what, cmp.stdout[-500:], complaints))


# ---- The i8051 sample written and read back ----

def written_module(file_name):
    return file_name.rsplit(".", 1)[0] if "." in file_name else file_name


def memory_type(segment):
    """The memory type a writer gives a symbol of the segment: by its first letter."""
    for m in MEMORY_TYPES[:5]:
        if segment[:1].upper() == m[0]:
            return m
    return ""


# Symbols of the i8051 sample named in its symbol file otherwise than in its side file:
# main.sdb declares [v F14 `uc 0 s 1 ticks ], the function static ticks whose symbol is F14.
SIDE_FILE_NAMES = {"F14": "_ticks"}


def expected_round_trip(files, extended):
    """What reading a file written from the store gives, by the writer's rules: module
    -> symbols, module -> lines."""
    symbols, lines = {}, {}
    for k, (name, (file_symbols, file_lines)) in enumerate(files.items()):
        if k > 0 and not file_symbols and not file_lines:
            continue
        module = written_module(name).upper()[:255 if extended else 40]
        if extended:
            renamed = [(memory_type(s), v & 0xFFFF, SIDE_FILE_NAMES.get(n, n))
                       for s, v, n in file_symbols]
            renamed = [(s, v, n[1:] if n.startswith("_") else n) for s, v, n in renamed]
        else:
            renamed = [(memory_type(s), v & 0xFFFF, n.upper()[:40]) for s, v, n in file_symbols]
        if renamed:
            symbols[module] = renamed
        if file_lines:
            lines[module] = [(l & 0xFFFF, a & 0xFFFF) for l, a in file_lines]
    return symbols, lines


# The .sdb files' declarations: variable (as the Extended OMF-51 item names it) -> the
# texts that the descriptors of its type, expanded, must hold.
TYPED = {
    # main.sdb: [v _queue `X[8]S1 ...], S1 = struct keyevent (size 4, two bit-fields)
    "queue": ["Array[8] of", "struct size 4", "keyevent", "code", "repeat", "pressed",
              "long_press", "bitfield(1@0)", "bitfield(1@1)"],
    # main.sdb: [v _msg `D[2][17]c ...]
    "msg": ["Array[2] of", "Array[17] of signed char"],
    # main.sdb: pointers to unsigned char in xdata, idata and pdata. The space byte comes
    # from the qualifier's flag bits tested against 0x20 (IDATA), 0x1004 (XDATA), 0x80
    # (PDATA), 0x8 (DATA) and 0x400 (CODE) in turn. The 8051 family's flags for these
    # qualifiers are xdata 0x2000, idata 0x100 and pdata 0x200, which none of those masks
    # takes: the three pointers are written with space 0 ("generic"), not the spaces the
    # qualifiers name. Their sizes do follow the family: two bytes for xdata, one for
    # idata and pdata.
    "cursor": ["Pointer to unsigned char", "size 2 generic"],
    "fast": ["Pointer to unsigned char", "size 1 generic"],
    "paged": ["Pointer to unsigned char", "size 1 generic"],
    # lcd.sdb: a pointer to a code char, whose flag 0x1000 the XDATA mask 0x1004 takes.
    "s": ["Pointer to signed char", "size 2 XDATA"],
    # lcd.sdb: [s S1 lcd 3 `uc row 1 0 `uc col 1 1 `uc busy 1 2 :1:0 `uc backlight ...]
    "lcd": ["struct size 3", "lcd", "row", "col", "busy", "backlight", "bitfield(1@0)",
            "bitfield(1@1)"],
    # keys.sdb: [v _layout `D[4][4]uc 0 s 1 @1100 ] (a static)
    "layout": ["Array[4] of", "Array[4] of unsigned char"],
    # functions: lcd_puts `(v, main `(v, timer0 `I(v, keys_scan `R(uc
    "lcd_puts": ["Function returning void"],
    "main": ["Function returning void"],
    "timer0": ["Function returning void"],
    "keys_scan": ["Function returning unsigned char"],
}


def check_typed(where, dump_text, problems):
    """The typed items of the Extended OMF-51 dump refer to descriptors of the declared
    types; the Source file name records name the modules' C files."""
    descriptors, found, sources = {}, {}, []
    for d in dump_records(dump_text):
        if d.name == "Keil typedef":
            descriptors = {int(i, 16): t for i, t in typedef_lines(d)}
        elif d.name == "Source file name":
            sources.append(d.text[0].strip())
        elif d.name == "Keil Debug Item":
            for m, info, offset, kind, name in (i for i in dumped_items(d.text[1:])
                                                if len(i) == 5):
                index = re.match(r"Typedef\(([0-9A-F]+)\)$", kind or "")
                found.setdefault(name, []).append(
                    expand(int(index.group(1), 16), descriptors) if index else kind)
    # A name declared in several modules (an extern) must have its type in one of them.
    for name, texts in TYPED.items():
        if not any(all(t.lower() in (text or "").lower() for t in texts)
                   for text in found.get(name, [])):
            problems.append("%s: the item %s has the types %s, none of which holds all of %s"
                            % (where, name, found.get(name), texts))
    for module in ("MAIN", "KEYS", "LCD"):
        if "Flags: 0 Name: '%s.C'" % module not in sources:
            problems.append("%s: no Source file name record for %s.C: %s" % (where, module,
                                                                              sources))


def expand(index, descriptors, depth=0):
    """A descriptor's dump text with the descriptors it names put in its place."""
    text = descriptors.get(index, "type(0x%X)" % index)
    if depth > 8:
        return text
    return re.sub(r"type\(0x([0-9A-F]+)\)",
                  lambda m: "[%s]" % expand(int(m.group(1), 16), descriptors, depth + 1), text)


def check_round_trips(program, data, problems):
    with tempfile.TemporaryDirectory() as work:
        peerlib.copy_sample(data, "debug/i8051", work)
        original = run([program, "-v", "-v"] + I8051 + ["-oihex", "in.hex"], work)
        files = summary_files(original.stderr)
        blocks = sorted((a, b) for a, b, s in parse_summary(original.stderr)[2])
        for key, suffix in (("omf51", "omf"), ("eomf51", "abs")):
            out = os.path.join(work, "out." + suffix)
            proc = run([program] + I8051 + ["-o" + key, out], work)
            where = "i8051 as " + key
            check_srecord(where, proc, out, os.path.join(work, "prog.hex"), work, problems)
            if not os.path.exists(out):
                continue
            records, frame = read_records(open(out, "rb").read())
            problems += ["%s: %s" % (where, p) for p in frame]
            want_symbols, want_lines = expected_round_trip(files, key == "eomf51")
            for options in ([], ["-iomf51"]) if key == "omf51" else ([],):
                what = "%s read %s" % (where, " ".join(options) or "detected")
                back, got, got_blocks, hex_path = read_back(program, out, options, work)
                if back.returncode != 0 or re.search(r"\(\d+\)", back.stderr):
                    problems.append("%s: status %d\n%s" % (what, back.returncode,
                                                           back.stderr[-2000:]))
                got_symbols = {f: s for f, (s, l) in got.items() if s}
                got_lines = {f: l for f, (s, l) in got.items() if l}
                if key == "eomf51":
                    # The typed writer writes the variables the side files declare, in
                    # the module that declares them: every symbol but the frame symbols
                    # ("?a_main") must come back, in some module.
                    flat = {s for symbols in got_symbols.values() for s in symbols}
                    missing = [s for symbols in want_symbols.values() for s in symbols
                               if s not in flat and not s[2].startswith("?")]
                    if missing:
                        problems.append("%s: symbols not read back: %s (read %s)" % (
                            what, missing, sorted(flat)))
                else:
                    compare_by_module(what, "symbols", got_symbols, want_symbols, problems)
                compare_by_module(what, "lines", got_lines, want_lines, problems)
                if sorted((a, b) for a, b, s in got_blocks) != blocks:
                    problems.append("%s: data blocks %s, written from %s" % (what, got_blocks,
                                                                             blocks))
                same, complaints, cmp = srec_same(hex_path, "-intel",
                                                  os.path.join(work, "prog.hex"), work)
                if not same or complaints:
                    problems.append("%s: bytes read back differ: %s%s" % (what, cmp.stdout,
                                                                          complaints))
                dump = run([program, "-d", "-v"] + options + [out], work)
                check_dump(what, dump, records, not options, problems)
                if key == "eomf51":
                    check_typed(what, dump.stdout, problems)
                print("%-24s %d records, %d symbols, %d line records read back" % (
                    what, len(records), sum(len(s) for s in got_symbols.values()),
                    sum(len(l) for l in got_lines.values())))


def main():
    program, data = peerlib.arguments()
    if peerlib.missing("srec_cmp"):
        return peerlib.SKIPPED
    problems = []
    sample = os.path.join(data, "omf51", "meter.omf")
    identified = run([program, "-c", sample])
    if "Confirmed as Extended OMF-51" not in identified.stdout + identified.stderr:
        problems.append("sdcc's meter.omf is not identified as Extended OMF-51 (tried first): "
                        + identified.stdout + identified.stderr)
    for name in SDCC_SAMPLES:
        check_sdcc_sample(program, data, name, problems)
    check_round_trips(program, data, problems)
    return peerlib.report(problems, "OMF-51: %d sdcc samples and the i8051 round trips, %d "
                          "problems" % (len(SDCC_SAMPLES), len(problems)))


if __name__ == "__main__":
    sys.exit(main())
