"""What the peer checks share: the command line they are run with, running symvert and
the peers, skipping when a peer is missing, readers of symvert's own output (the -v -v
summary, Intel HEX files, the COFF dumps, symbol files) and of the peers' output
(objdump, gpvo, gpvc, readelf, gdb), and for the ELF checks a model of what the symbol
file and the side files of a sample put into DWARF."""
import argparse
import collections
import os
import re
import shutil
import struct
import subprocess
import tempfile

SKIPPED = 77  # the status ctest takes as "skipped"


def arguments():
    """The program and the test data directory of the command line, as absolute paths."""
    ap = argparse.ArgumentParser()
    ap.add_argument("--program", required=True)
    ap.add_argument("--data", required=True)
    a = ap.parse_args()
    return os.path.abspath(a.program), os.path.abspath(a.data)


def missing(*tools):
    """Whether any of the tools is not installed; says which when so."""
    absent = [t for t in tools if not shutil.which(t)]
    if absent:
        print("skipped: %s not installed" % ", ".join(absent))
    return bool(absent)


def run(args, cwd=None):
    """Runs a program with text output, in UTC and with a fixed creation time."""
    env = dict(os.environ, TZ="UTC", SOURCE_DATE_EPOCH="1000000000")
    return subprocess.run(args, capture_output=True, text=True, cwd=cwd, env=env)


def copy_sample(data, sample, work):
    """Copies the files of a sample directory below the test data into work."""
    source = os.path.join(data, sample)
    for name in os.listdir(source):
        path = os.path.join(source, name)
        if os.path.isfile(path):
            shutil.copy(path, work)


def report(problems, summary):
    """Prints each problem and the summary line; answers the exit status."""
    for p in problems:
        print("FAIL " + p)
    print(summary)
    return 1 if problems else 0


# ---- symvert's own output ----

def parse_summary(text):
    """Segments, symbols, data blocks and the line count of the -v -v summary."""
    segments, symbols, blocks = [], [], []
    line_count = None
    part = None
    for line in text.splitlines():
        m = re.match(r"Files: \d+, syms: \d+, lines: (\d+)", line)
        if m:
            line_count = int(m.group(1))
        if line.startswith("Symbols:"):
            part = "symbols"
        elif line.startswith("Lines:"):
            part = "lines"
        elif line.startswith("Data blocks:"):
            part = "blocks"
        elif line.startswith("Segments:"):
            part = "segments"
        elif line.startswith("\t") and part == "symbols":
            fields = line[1:].split()
            if len(fields) == 2:
                fields.insert(0, "")
            symbols.append((fields[0], int(fields[1], 16), fields[2]))
        elif line.startswith("\t") and part == "blocks":
            m = re.match(r"\t([0-9A-F]+)-([0-9A-F]+) (.*)$", line)
            blocks.append((int(m.group(1), 16), int(m.group(2), 16), m.group(3)))
        elif line.startswith("\t") and part == "segments":
            m = re.match(r"\t(\S+)\s+([0-9A-F]+)(?:-([0-9A-F]+))?", line)
            start = int(m.group(2), 16)
            size = int(m.group(3), 16) - start + 1 if m.group(3) else 0
            segments.append((m.group(1), start, size))
    return segments, symbols, blocks, line_count


def parse_hex(path):
    """Bytes by address from an Intel HEX file."""
    out = {}
    base = 0
    with open(path) as f:
        for line in f:
            line = line.strip()
            if not line.startswith(":"):
                continue
            raw = bytes.fromhex(line[1:])
            count, address, kind = raw[0], (raw[1] << 8) | raw[2], raw[3]
            data = raw[4:4 + count]
            if kind == 0:
                for k, b in enumerate(data):
                    out[base + address + k] = b
            elif kind == 2:
                base = ((data[0] << 8) | data[1]) << 4
            elif kind == 4:
                base = ((data[0] << 8) | data[1]) << 16
    return out


def check_read(program, path, peer_name, want, problems):
    """symvert reads the file (-v -v summary) and finds what the peer shows. want holds
    the segments (name, address, size), the symbols (segment, value, name), the data
    blocks (start, end, segment), the number of line records and the program bytes by
    address; the bytes are compared through the Intel HEX writer."""
    segments_want, symbols_want, blocks_want, lines_want, bytes_want = want
    with tempfile.TemporaryDirectory() as work:
        proc = run([program, "-v", "-v", path, "-oubrof", "out"], work)
        segments, symbols, blocks, line_count = parse_summary(proc.stderr)
        if proc.returncode != 0:
            problems.append("%s: read status %d\n%s" % (path, proc.returncode, proc.stderr))
        if segments != segments_want:
            problems.append("%s: segments %s, %s %s" % (path, segments, peer_name, segments_want))
        if sorted(symbols) != sorted(symbols_want):
            problems.append("%s: symbols %s, %s %s" % (path, sorted(symbols), peer_name,
                                                       sorted(symbols_want)))
        if sorted(blocks) != sorted(blocks_want):
            problems.append("%s: data blocks %s, %s %s" % (path, blocks, peer_name, blocks_want))
        if line_count != lines_want:
            problems.append("%s: %s line records, %s %d" % (path, line_count, peer_name,
                                                            lines_want))
        run([program, path, "-oihex", "out.hex"], work)
        hex_path = os.path.join(work, "out.hex")
        if os.path.exists(hex_path) and os.path.getsize(hex_path) > 0:
            if parse_hex(hex_path) != bytes_want:
                problems.append("%s: program bytes differ from %s" % (path, peer_name))


def check_header_counts(path, text, sections, symbols, peer_name, problems):
    """The COFF dump's header shows the peer's numbers of sections and symbol entries."""
    m = re.search(r"\tSections:\t(\d+)\n", text)
    if not m or int(m.group(1)) != sections:
        problems.append("%s: dump shows %s sections, %s %d" % (path, m and m.group(1), peer_name,
                                                               sections))
    m = re.search(r"\tNsyms:\t\t(\d+)\n", text)
    if not m or int(m.group(1)) != symbols:
        problems.append("%s: dump shows %s symbols, %s %d" % (path, m and m.group(1), peer_name,
                                                              symbols))


def dumped_sections(text):
    """Section lines of a COFF dump: (number, name, address, size, lines, relocations,
    flags); the file pointers shown at -v -v are passed over."""
    return [(int(k), n, int(a, 16), int(s, 16), int(l), int(r), int(f, 16))
            for k, n, a, s, l, r, f in re.findall(
                r"^Section (\d+): (\S*): @([0-9A-F]+)(?: scnptr \S+ relptr \S+ lnnoptr \S+)? "
                r"size 0x([0-9A-F]+) lines (\d+) relocs (\d+) flags 0x([0-9A-F]+)", text, re.M)]


def dumped_entries(text):
    """Symbol entries of a COFF dump: index -> (section number, or None where the dump
    shows none, class name, auxiliary count, the rest of the line)."""
    entries = {}
    for m in re.finditer(r"^\s*(\d+):(?: \((-?\d+)\))?\t\s*(.{0,24}?) (\d+) \d+\[\d+\]\t(.*)$",
                         text, re.M):
        section = int(m.group(2)) if m.group(2) is not None else None
        entries[int(m.group(1))] = (section, m.group(3).strip(), int(m.group(4)), m.group(5))
    return entries


def dumped_runs(text):
    """Line-number runs of a COFF dump: marker symbol index -> [(line, address)]."""
    runs, current = {}, None
    for line in text.splitlines():
        m = re.match(r"Symbol: .* \((\d+)\)$", line)
        if m:
            current = int(m.group(1))
            runs[current] = []
            continue
        m = re.match(r"(\d{5,}):\t([0-9A-F]+)$", line)
        if m and current is not None:
            runs[current].append((int(m.group(1)), int(m.group(2), 16)))
    return runs


def dumped_microchip_lines(text):
    """Microchip line entries of a COFF dump: (line, source index, address, flags)."""
    return [(int(l), int(s), int(a, 16), int(f, 16)) for l, s, a, f in re.findall(
        r"^(\d{5,}):\tsrcndx: (\d+), paddr: 0x([0-9A-F]+), flags 0x([0-9A-F]+), fcnndx: \d+$",
        text, re.M)]


class CodDump:
    """symvert's dump (-d -v) of a .COD file."""

    def __init__(self, text):
        self.text = text
        self.code_index = [(int(a, 16), int(b)) for a, b in
                           re.findall(r"^Code: 0([0-9A-F]+)h at block (\d+)$", text, re.M)]
        self.bytes = {}
        for m in re.finditer(r"^([0-9A-F]{4}):((?: [0-9A-F]{2}){16}) ", text, re.M):
            for k, b in enumerate(m.group(2).split()):
                self.bytes[int(m.group(1), 16) + k] = int(b, 16)
        part = text.split("Symbols:\n")[1].split("Locals:\n")
        self.symbols = self.entries(part[0])
        self.locals = []  # (start, end, entries)
        locals_part = part[1].split("Files:\n")[0]
        for m in re.finditer(r"^Block: 0x([0-9A-F]+)-0x([0-9A-F]+)\n((?:\t.*\n)*)", locals_part,
                             re.M):
            self.locals.append((int(m.group(1), 16), int(m.group(2), 16),
                                self.entries(m.group(3))))
        files = text.split("Files:\n")[1].split("Line numbers:\n")
        self.files = [l.strip() for l in files[0].splitlines()]
        # (line, flags, address, file name, position in its block)
        self.lines = []
        for block in files[1].split("Line number block ")[1:]:
            self.lines += [(int(a), int(b, 16), int(c, 16), d, k) for k, (a, b, c, d) in
                           enumerate(re.findall(r"^\t\s*(\d+) ([0-9A-F]{2}) ([0-9A-F]{4}) (.*)$",
                                                block, re.M))]

    @staticmethod
    def entries(text):
        return [(n.strip(), t.strip("()"), int(v, 16)) for n, t, v in re.findall(
            r"^\t(.{14}) (\(\S+\))\s+([0-9A-F]+)$", text, re.M)]

    def table(self, label):
        m = re.search(label + r"\s*(\d+)/(\d+)", self.text)
        return int(m.group(1)), int(m.group(2))


def sym_file(path):
    """Symbols (name -> value) and line records (file name -> [(line, address)]) of a
    symbol file; the first value of a name counts."""
    symbols, lines = {}, {}
    current, segments = None, False
    for text in open(path):
        words = text.split()
        if not words:
            continue
        if words[0] in ("%segments", "%locals"):
            segments = words[0] == "%segments"
        elif len(words) == 1 and re.search(r"\.(obj|c|as)$", words[0], re.I):
            current = words[0]
        elif not segments and len(words) >= 2:
            if words[0][0].isdigit():
                lines.setdefault(current, []).append((int(words[0]), int(words[1], 16)))
            else:
                symbols.setdefault(words[0], int(words[1], 16) & 0xFFFFFFFF)
    return symbols, lines


# ---- The peers ----

Section = collections.namedtuple("Section", "name size vma lma contents")


class Objdump:
    """What a binutils objdump says about one file (-t -s -l with the options given)."""

    def __init__(self, tool, path, options):
        proc = subprocess.run([tool] + options + ["-t", "-s", "-l", path], capture_output=True,
                              text=True)
        self.status = proc.returncode
        self.complaints = [l for l in proc.stderr.splitlines() if l.strip()]
        self.sections = []  # Section tuples
        self.symbols = []  # dicts: index, sec, type, sclass, numaux, value, name, lines
        self.aux = {}  # symbol index -> AUX line text
        self.contents = {}  # address -> byte
        self.section_bytes = {}  # section name -> bytes
        lines = proc.stdout.splitlines()
        current = None
        section = None
        for k, line in enumerate(lines):
            m = re.match(r"\s+\d+ (\S+)\s+([0-9a-f]+)\s+([0-9a-f]+)\s+([0-9a-f]+)", line)
            # A section line is followed by its flag words.
            if m and k + 1 < len(lines) and re.match(r"\s{10,}[A-Z_]+(, [A-Z_]+)*$",
                                                      lines[k + 1]):
                self.sections.append(Section(m.group(1), int(m.group(2), 16),
                                             int(m.group(3), 16), int(m.group(4), 16),
                                             "CONTENTS" in lines[k + 1]))
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
                section = m.group(1)
                self.section_bytes[section] = b""
            m = re.match(r" ([0-9a-f]{4,}) ((?:[0-9a-f]{2,8} ?)+)\s", line)
            if m and section:
                data = bytes.fromhex(m.group(2).replace(" ", ""))
                self.section_bytes[section] += data
                for k, b in enumerate(data):
                    self.contents[int(m.group(1), 16) + k] = b

    def section_name(self, number):
        return self.sections[number - 1].name if 1 <= number <= len(self.sections) else ""


class Gpvo:
    """What gpvo (gputils) says about a Microchip COFF file."""

    def __init__(self, path, cwd=None):
        proc = run(["gpvo", path], cwd)
        self.status = proc.returncode
        self.messages = [l for l in proc.stderr.splitlines() if l.strip()]
        self.sections = []  # dicts of the header fields, code words and line numbers
        self.symbols = []  # dicts: index (from 0), name, section, value, sclass, numaux, aux
        m = re.search(r"Number of Symbols\s+(\d+)", proc.stdout)
        self.count = int(m.group(1)) if m else None
        part = section = symbol = None
        for line in proc.stdout.splitlines():
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
                m = re.match(r"([0-9a-f]{6}):\s+([0-9a-f]{4})\b", line)
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


class Gpvc:
    """What gpvc (gputils) says about a .COD file, from its output text."""

    def __init__(self, text):
        self.text = text
        self.fields = dict(re.findall(r"^[0-9a-f]+ - (Source file|Date|Time|Compiler version|"
                                      r"Compiler|Notice|Processor):[ ]*(.*?)\s*$", text, re.M))
        self.tables = {name: (int(a, 16), int(b, 16)) for name, a, b in re.findall(
            r"- (\w[\w ]*?) (?:table )?start block:\s+([0-9a-f]+)\s+end block:\s+([0-9a-f]+)",
            text)}
        self.code_index = [(int(a, 16), int(b)) for a, b in
                           re.findall(r"^([0-9a-f]{6})-[0-9a-f]{6}: (\d+)$", text, re.M)]
        # Rows of the code dump: label and 16-bit words.
        self.rows = [(int(m.group(1), 16), [int(w, 16) for w in m.group(2).split()])
                     for m in re.finditer(r"^([0-9a-f]{6}):((?:[ ]+[0-9a-f]{4})+)",
                                          self.section("Formatted Code Dump:"), re.M)]

        symbol = r"^(\S+) = ([0-9a-f]+), type = (\S+)"
        self.symbols = [(n, int(v, 16), t) for n, v, t in
                        re.findall(symbol, self.section("Symbol Table Information:"), re.M)]
        self.long_symbols = [(n, int(v, 16), t) for n, v, t in re.findall(
            symbol, self.section("Long Symbol Table Information:"), re.M)]
        self.locals = []
        for line in self.section("Local Symbol Scoping Information:").splitlines():
            m = re.match(r"Local symbols between ([0-9a-f]+) and ([0-9a-f]+):\s*(.*)$", line)
            if m:
                self.locals.append((int(m.group(1), 16), int(m.group(2), 16), []))
                line = m.group(3)
            m = re.match(r"(\S+) = ([0-9a-f]+), type = (\S+)", line)
            if m and self.locals:
                self.locals[-1][2].append((m.group(1), int(m.group(2), 16), m.group(3)))
        files = self.section("Source File Information:")
        self.files = [l.strip() for l in files.splitlines() if l.strip() and l[0] != "-"]
        self.lines = [(int(a), int(b, 16), int(c, 16), d) for a, b, c, d in re.findall(
            r"^\s+\d+\s+(\d+)\s+([0-9A-F]{6})\s+([0-9A-F ]{2}) \S+\s+(\S+)",
            self.section("Line Number Information:"), re.M)]

    def code_bytes(self, byte_labels):
        """Byte address to byte of the words shown; the labels count words, or bytes."""
        found = {}
        for label, words in self.rows:
            for k, word in enumerate(words):
                at = label + 2 * k if byte_labels else 2 * (label + k)
                found[at], found[at + 1] = word & 0xFF, word >> 8
        return found

    HEADINGS = ("Code blocks index:", "ROM Usage:", "Formatted Code Dump:",
                "Symbol Table Information:", "Long Symbol Table Information:",
                "Local Symbol Scoping Information:", "Source File Information:",
                "Line Number Information:", "No ")

    def section(self, title):
        """The text below a heading, up to the next heading."""
        if title not in self.text:
            return ""
        lines = self.text.split(title, 1)[1].splitlines()[1:]
        for k, line in enumerate(lines):
            if line.startswith(self.HEADINGS):
                lines = lines[:k]
                break
        return "\n".join(l for l in lines if not l.startswith("ERROR: Source file")) + "\n"


# ---- The tool chain's symbol file and side files, as the ELF writer reads them ----

SOURCE_MARKS = (".obj", ".OBJ", ".c", ".C", ".as", ".AS")  # a line naming a file has one


class SymbolFile:
    """A symbol file read by the reader's line rules (a line containing ".c" anywhere
    names a file, so a segment line ".const ..." does too). Holds the segments of
    %segments (dicts: name, address, size, cls or None for ABS, load), the symbols
    (dicts: name, value, segment name or None when absolute, file, local, index), the
    line records (line, address, file), the bounds records (name -> low, high, init, in
    the order they were made) and the file names in order."""

    def __init__(self, path):
        self.segments, self.symbols, self.lines, self.files = [], [], [], []
        self.bounds = {}
        in_segments = in_locals = False
        current = None
        for text in open(path, newline=""):
            if not text.endswith("\n"):
                break  # a last line without its end is not read
            text = text.rstrip("\n").rstrip("\r")
            if text in ("%segments", "%locals"):
                in_segments = text == "%segments"
                in_locals = in_locals or text == "%locals"
                continue
            if any(mark in text for mark in SOURCE_MARKS):
                current = text
                if text not in self.files:
                    self.files.append(text)
                continue
            if current is None:
                current = os.path.basename(path)
                self.files.append(current)
            fields = text.split()
            if len(fields) < 2:
                continue
            segment = fields[3] if len(fields) > 3 and fields[3] != "ABS" else None
            value = int(fields[1], 16) & 0xFFFFFFFF
            if in_segments:
                self.segments.append(dict(
                    name=fields[0], address=value, size=int(fields[2], 16) - value + 1,
                    cls=segment, load=int(fields[4], 16) if len(fields) > 4 else value))
            elif fields[0][0].isdigit():
                self.lines.append((int(fields[0]), value, current))
            elif fields[0][:3] in ("__L", "__H", "__B", "__I"):
                record = self.bounds.setdefault(fields[0][3:], dict(low=0, high=0, init=0))
                key = dict(L="low", H="high", I="init").get(fields[0][2])
                if key:
                    record[key] = value
            else:
                self.symbols.append(dict(name=fields[0], value=value, segment=segment,
                                         file=current, local=in_locals,
                                         index=len(self.symbols)))

    def written_segments(self):
        """The segments that become sections: those of %segments with a class."""
        return [s for s in self.segments if s["cls"] is not None]

    def find(self, name, file=None):
        """The first symbol of that name (of that file, when one is given)."""
        return next((s for s in self.symbols
                     if s["name"] == name and file in (None, s["file"])), None)

    def bounds_of(self, value):
        """The bounds record a symbol of this value gets: the last one holding it."""
        found = None
        for record in self.bounds.values():
            if record["low"] <= value <= record["high"]:
                found = record
        return found


class SideFile:
    """One module's symbolic-debug side file (.sdb) as a scope tree. A scope is a dict
    (kind "module", "func" or "block"; entries; numbers, the four numbers after its
    closing brace; function, the declaring variable of a func scope). Entries are dicts
    by kind: "var" (name, asm_name, type, cls: a e p r s t, defined, value, register,
    line, file), "struct" (name, tag, size, union, members: name, size, offset, width,
    position), "enum" (name, tag, base, items), "file" (name, line) and "scope". A
    parameter or auto whose place names a register becomes class r; redeclarations
    merge as the reader merges them."""

    def __init__(self, path, registers):
        self.registers = registers
        self.defines = {}
        text = open(path).read()
        self.first_line = text.split("\n", 1)[0]
        body = text[len(self.first_line):]
        self.tokens = self.tokenize(body)
        self.position = 0
        self.line, self.file = 1, None
        self.module = self.scope("module", None)

    @staticmethod
    def tokenize(text):
        """Tokens, with a line directive's file name (the rest of its line when the
        directive did not end the line) joined to it as a pair."""
        tokens, position = [], 0
        while True:
            m = re.compile(r"\S+").search(text, position)
            if not m:
                return tokens
            token, position = m.group(), m.end()
            if token.startswith('"') and position < len(text) and text[position] not in "\r\n":
                start = re.compile(r"\s*").match(text, position).end()
                end = re.compile(r"[^\r\n]*").match(text, start).end()
                tokens.append((token, text[start:end]))
                position = end
            else:
                tokens.append((token, None))

    def next(self):
        if self.position >= len(self.tokens):
            return None
        self.position += 1
        return self.tokens[self.position - 1][0]

    def scope(self, kind, function):
        scope = dict(kind=kind, entries=[], numbers=[0, 0, 0, 0], function=function)
        pending, last_scope, number_index = None, None, 0
        while self.position < len(self.tokens):
            token, file_name = self.tokens[self.position]
            self.position += 1
            if token == "[v":
                entry = self.variable(scope)
                if entry is not None and is_function_type(entry["type"]):
                    pending = entry
            elif token in ("[s", "[u"):
                self.structure(scope, token == "[u")
            elif token == "[e":
                self.enumeration(scope)
            elif token == "[d":
                name, value = self.next(), self.next()
                self.next()
                self.defines[name] = value
            elif token.startswith("["):
                pending = None
            elif token == "{":
                inner = self.scope("func" if pending else "block", pending)
                scope["entries"].append(dict(kind="scope", scope=inner))
                last_scope, pending, number_index = inner, None, 0
            elif token == "}":
                break
            elif token.startswith('"'):
                self.line = int(token[1:] or 0)
                if file_name is not None and file_name != self.file:
                    self.file = file_name
                    scope["entries"].append(dict(kind="file", name=file_name, line=self.line))
            elif token[0].isdigit() or token[0] == "-":
                if last_scope is not None and number_index < 4:
                    last_scope["numbers"][number_index] = int(re.match(r"-?\d*", token).group()
                                                              or 0)
                number_index += 1
            else:
                break
        return scope

    def variable(self, scope):
        name, type_text, dimension, letter = self.next(), self.next(), self.next(), self.next()
        if dimension and dimension.endswith("a"):
            type_text = "[%d]%s" % (int(re.match(r"\d*", dimension).group() or 0),
                                    type_text.lstrip("`"))
        defined = int(re.match(r"-?\d*", self.next()).group() or 0)
        place = self.next() if letter != "t" else None
        self.next()  # "]"
        entry = dict(kind="var", name=name, asm_name=None, type=type_text, cls=letter,
                     defined=defined, value=0, register=None, line=self.line, file=self.file)
        if letter in ("a", "p") and place in self.registers:
            entry["cls"], entry["register"] = "r", place
        elif letter == "r":
            entry["register"] = place
        elif letter == "s" and name.startswith("F") and re.match(r"[A-Za-z_]", place):
            entry["asm_name"], entry["name"] = name, "_" + place
        elif letter != "t":
            entry["value"] = int(re.match(r"-?\d*", place.lstrip("@")).group() or 0) & 0xFFFFFFFF
        if entry["cls"] in ("a", "p", "r") and scope["kind"] == "module":
            return None
        earlier = next((e for e in reversed(scope["entries"])
                        if e["kind"] == "var" and e["name"] == entry["name"]), None)
        if earlier is not None and earlier["cls"] == entry["cls"]:
            if entry["cls"] in ("e", "s") and earlier["value"] == entry["value"] \
                    and earlier["defined"] <= defined:
                earlier["type"], earlier["defined"] = entry["type"], defined
                return earlier
            if entry["cls"] in ("a", "p", "r") and (earlier["value"], earlier["register"],
                                                    earlier["defined"]) == (
                    entry["value"], entry["register"], defined):
                return earlier
        scope["entries"].append(entry)
        return entry

    def structure(self, scope, union):
        entry = dict(kind="struct", name=self.next(), union=union, line=self.line,
                     file=self.file, members=[])
        tag = self.next()
        entry["tag"] = None if tag == "." else tag
        entry["size"] = int(self.next())
        token = self.next()
        while token is not None and not token.startswith("]"):
            member = dict(type=token, width=0, position=0)
            token = self.next()
            if token[0].isdigit():
                if token.endswith("a"):
                    member["type"] = "[%d]%s" % (int(re.match(r"\d*", token).group() or 0),
                                                 member["type"].lstrip("`"))
                token = self.next()
            member["name"] = None if token == "." else token
            member["size"], member["offset"] = int(self.next()), int(self.next())
            token = self.next()
            if token is not None and token.startswith(":"):
                member["width"], member["position"] = (int(x) for x in token[1:].split(":"))
                token = self.next()
            entry["members"].append(member)
        scope["entries"].append(entry)

    def enumeration(self, scope):
        entry = dict(kind="enum", name=self.next(), tag=self.next(), base=None, items=[])
        token = self.next()
        if token is not None and token.startswith("`"):
            entry["base"] = token[1:]
            token = self.next()
        while token is not None and not token.startswith("]"):
            entry["items"].append((token, int(self.next())))
            token = self.next()
        scope["entries"].append(entry)


def is_function_type(text):
    """Whether a type string is a function type: "(" after the qualifier letters."""
    rest = re.sub(r"^(?:[A-Z](?![0-9]))*", "", text.lstrip("`"))
    return rest.startswith("(")


def walk(scope):
    """The entries of a scope and of the scopes inside it, depth first."""
    for entry in scope["entries"]:
        yield entry
        if entry["kind"] == "scope":
            yield from walk(entry["scope"])


def _numbered(prefix, first, last):
    return ["%s%d" % (prefix, k) for k in range(first, last + 1)]


# What the ELF writer takes from each processor family: the register names in the order
# that numbers them (a register's number is its index, from 1), the DWARF register of a
# register number, where autos and parameters lie ("symbols": at the symbol ?a<function>
# (or ??<function>) or ?<function> plus the offset; "numbers": at the second or fourth
# number after the function's closing brace plus the offset), whether statics are looked
# up in their own module's symbols first, the basic types' sizes, the DWARF address size
# (the size of a plain data pointer) and the qualifier letters whose bits make a const
# (0x400) or volatile (0x2) type.
_PIC32_REGISTERS = (["", "zero", "at", "v0", "v1"] + _numbered("a", 0, 3) + _numbered("t", 0, 9) +
                    _numbered("s", 0, 7) + ["k0", "k1", "gp", "sp", "s8", "ra"])
# The MIPS general registers in the order of their numbers (DWARF's too).
_MIPS_DWARF_ORDER = (["zero", "at", "v0", "v1"] + _numbered("a", 0, 3) + _numbered("t", 0, 7) +
                     _numbered("s", 0, 7) + ["t8", "t9", "k0", "k1", "gp", "sp", "s8", "ra"])

FAMILIES = {
    "pic": dict(registers=["", "w", "wreg", "fsr", "fsr1", "tblptrl", "tblptrh", "prodl",
                           "prodh", "tablreg", "prod"],
                dwarf_register=lambda n: None, frames="symbols", auto="?a", pro=True,
                file_statics=False, address_size=1, const="X", volatile="VE",
                sizes=dict(i=2, s=2, c=1, m=3, l=4, ui=2, us=2, uc=1, um=3, ul=4, f=3, d=4,
                           x=2, ux=2, b=0)),
    "pic18": dict(registers=["", "w", "wreg", "fsr0l", "fsr0h", "fsr1l", "fsr1h", "fsr2l",
                             "fsr2h", "tblptrl", "tblptrh", "tblptru", "prodl", "prodh",
                             "fsr0", "fsr1", "fsr2", "tblptr", "prod"],
                  dwarf_register=lambda n: None, frames="symbols", auto="?a", pro=True,
                  file_statics=False, address_size=2, const="", volatile="V",
                  sizes=dict(i=2, s=2, c=1, m=3, l=4, ui=2, us=2, uc=1, um=3, ul=4, f=3,
                             d=4, x=2, ux=2, b=0)),
    "dspic": dict(registers=[""] + _numbered("w", 0, 15) + [
                      "w01", "w23", "w45", "w67", "w89", "w1011", "w1213", "w37", "w40",
                      "w57", "a", "b", "PARAMREG", "LPARAMREG"],
                  dwarf_register=lambda n: n - 1 if 1 <= n <= 16 else
                  2 * n - 34 if 17 <= n <= 23 else None,
                  frames="numbers", file_statics=True, address_size=2, const="CD",
                  volatile="V",
                  sizes=dict(i=2, s=2, c=1, l=4, ui=2, us=2, uc=1, ul=4, f=4, d=4, x=2, ux=2,
                             nx=1, unx=1, b=0)),
    "pic32": dict(registers=_PIC32_REGISTERS,
                  # The side files' table lists t8 and t9 before s0; DWARF numbers the
                  # registers as MIPS does.
                  dwarf_register=lambda n: _MIPS_DWARF_ORDER.index(_PIC32_REGISTERS[n]),
                  frames="numbers", file_statics=False,
                  address_size=4, const="W", volatile="V",
                  sizes=dict(i=4, s=2, c=1, l=4, ui=4, us=2, uc=1, ul=4, f=4, d=4, x=2, ux=4,
                             b=0)),
    "8051": dict(registers=[""] + _numbered("r", 0, 7) + _numbered("WR", 0, 3) +
                 ["LR0", "LR1"],
                 dwarf_register=lambda n: n - 1 if 1 <= n <= 8 else 2 * n - 18 if 9 <= n <= 12
                 else 4 * n - 52 if 13 <= n <= 14 else None,
                 frames="symbols", auto="?a", pro=False, file_statics=False, address_size=2,
                 const="Y", volatile="V",
                 sizes=dict(i=2, s=2, c=1, l=4, ui=2, us=2, uc=1, ul=4, f=4, d=4, x=2, ux=2,
                            b=0)),
    "arm": dict(registers=[""] + _numbered("r", 0, 15) + [
                    "r0_1", "r1_2", "r2_3", "r3_4", "r4_5", "r5_6", "r6_7", "r8_9", "r9_10",
                    "r10_11", "PARAMREG", "DATAREG"],
                dwarf_register=lambda n: n - 1 if 1 <= n <= 16 else n - 17 if 17 <= n <= 23
                else n - 15 if 24 <= n <= 26 else None,
                frames="symbols", auto="?a", pro=False, file_statics=False, address_size=4,
                const="T", volatile="V",
                sizes=dict(i=4, s=2, c=1, l=4, ui=4, us=2, uc=1, ul=4, f=4, d=4, x=4, ux=4,
                           nx=1, unx=1, b=10)),
    "holtek": dict(registers=["", "a", "iar0"],
                   dwarf_register=lambda n: {1: 5, 2: 0}.get(n), frames="symbols", auto="??",
                   pro=False, file_statics=False, address_size=1, const="X", volatile="V",
                   sizes=dict(i=2, s=2, c=1, l=4, ui=2, us=2, uc=1, ul=4, f=3, d=4, x=2,
                              ux=2, b=0)),
}


def signed32(value):
    value &= 0xFFFFFFFF
    return value - (1 << 32) if value & 0x80000000 else value


def base_name(path):
    """The file name after the last "\\", else "/", else ":"."""
    for separator in ("\\", "/", ":"):
        if separator in path:
            return path.rsplit(separator, 1)[1]
    return path


class DebugProgram:
    """What the ELF writer is to put in DWARF for a sample directory (prog.sym and the
    modules' side files), derived from those files: one unit per module (dicts: name,
    side, files, functions, variables, typedefs (name, type, line, file), structs, enums,
    rows, low, high). A function holds name, type, external, line, file, low, high, returns and its
    locals; a variable holds tag, name, external, location (("addr", address), ("fbreg",
    offset) or ("regx", register)), line, file and type. Rows are (file, line or None at a
    sequence end, address) as a reader of the line program sees them."""

    def __init__(self, directory, family):
        self.family = FAMILIES[family]
        self.sym = SymbolFile(os.path.join(directory, "prog.sym"))
        self.modules = []
        for name in self.sym.files:
            if ".obj" in name or ".OBJ" in name:
                path = os.path.join(directory, (name.rsplit(".", 1)[0]) + ".sdb")
                self.modules.append((name, SideFile(path, self.family["registers"])))
        self.defines = {}
        for _, side in self.modules:
            self.defines.update(side.defines)
        self.units = [self.unit(name, side) for name, side in self.modules]

    def mask(self, address):
        return address & ((1 << 8 * self.family["address_size"]) - 1)

    def location(self, entry, module, function):
        family, cls = self.family, entry["cls"]
        if cls in ("e", "s"):
            symbol = None
            if entry["asm_name"]:
                symbol = self.sym.find(entry["asm_name"])
            else:
                if family["file_statics"] and cls == "s":
                    symbol = self.sym.find(entry["name"], module)
                symbol = symbol or self.sym.find(entry["name"])
            return ("addr", symbol["value"]) if symbol else None
        if cls in ("a", "p"):
            if function is None:
                return None
            numbers = function["numbers"]
            if family["frames"] == "numbers":
                place = numbers[1 if cls == "a" else 3] + entry["value"]
            else:
                prefix = "?"
                if cls == "a":
                    pro = family["pro"] and self.defines.get("edition") == "pro"
                    prefix = "??" if pro else family["auto"]
                symbol = self.sym.find(prefix + function["function"]["name"])
                if symbol is None:
                    return None
                place = symbol["value"] + entry["value"]
            return ("fbreg", signed32(place - numbers[0]))
        if cls == "r":
            registers = family["registers"]
            number = registers.index(entry["register"]) if entry["register"] in registers[1:] else 0
            register = family["dwarf_register"](number)
            return ("regx", register) if register is not None else None
        return None

    def unit(self, module, side):
        unit = dict(name=module, side=side, files=[], functions=[], variables=[],
                    typedefs=[], structs=[], enums=[])
        state = dict(file=0)

        def visit(scope, function, target):
            for entry in scope["entries"]:
                kind = entry["kind"]
                if kind == "file":
                    base = base_name(entry["name"])
                    known = [k for k, f in enumerate(unit["files"]) if f["name"] == base]
                    if not known:
                        record = entry["name"] if entry["name"] in self.sym.files else None
                        unit["files"].append(dict(name=base, record=record))
                    state["file"] = known[0] + 1 if known else len(unit["files"])
                elif kind == "var" and entry["cls"] == "t":
                    unit["typedefs"].append(dict(name=entry["name"], type=entry["type"],
                                                 line=entry["line"], file=state["file"]))
                elif kind == "var" and not is_function_type(entry["type"]):
                    place = self.location(entry, module, function)
                    if place is not None:
                        target.append(dict(
                            tag="formal_parameter" if entry["cls"] == "p" else "variable",
                            name=entry["name"], external=entry["cls"] == "e", location=place,
                            line=entry["line"], file=state["file"], type=entry["type"]))
                elif kind == "struct":
                    unit["structs"].append(entry)
                elif kind == "enum":
                    unit["enums"].append(entry)
                elif kind == "scope" and entry["scope"]["kind"] == "func":
                    inner = entry["scope"]
                    declared = inner["function"]
                    low = self.sym.find(declared["name"])
                    low = low["value"] if low else 0
                    high = self.sym.find("__end_of" + declared["name"])
                    returned = declared["type"].lstrip("`").split("(", 1)[1]
                    function_entry = dict(
                        name=declared["name"], type=declared["type"],
                        external=declared["cls"] == "e", line=declared["line"],
                        file=state["file"], low=low,
                        high=high["value"] if high else low + 1, locals=[],
                        returns=re.sub(r"^(?:[A-Z](?![0-9]))*", "", returned) != "v")
                    unit["functions"].append(function_entry)
                    visit(inner, inner, function_entry["locals"])
                elif kind == "scope":
                    visit(entry["scope"], function, target)

        visit(side.module, None, unit["variables"])
        self.line_rows(unit)
        return unit

    def line_rows(self, unit):
        """The unit's rows: the symbol file's line records of the files its side file
        names, by address then line; a record whose line equals the one before ends the
        sequence there. A sequence's first address is written with the address size."""
        index = {}
        for k, f in enumerate(unit["files"]):
            if f["record"] is not None:
                index[f["record"]] = k + 1
        records = sorted((r for r in self.sym.lines if r[2] in index),
                         key=lambda r: (r[1], r[0]))
        addresses = [f["low"] for f in unit["functions"]] + [r[1] for r in records]
        highs = [f["high"] for f in unit["functions"]] + [r[1] for r in records]
        unit["low"] = min(addresses) if addresses else 0xFFFFFFFF
        unit["high"] = max(highs) if highs else 0
        rows, address, line, shift = [], 0, 1, 0
        for number, at, record in records:
            name = unit["files"][index[record] - 1]["name"]
            if number == line:
                rows.append((name, None, at + shift))
                address, line = 0, 1
                continue
            if address == 0:
                shift = self.mask(at) - at
            rows.append((name, number, at + shift))
            address, line = at, number
        unit["rows"] = rows

    def global_entry(self, name):
        """The kind of the first entry of that name in the type model, depth first:
        "typedef" for a basic type, "module", or the side file's entry."""
        if name in self.family["sizes"] or name == "v":
            return "typedef"
        for module, side in self.modules:
            if module == name:
                return "module"
            for entry in walk(side.module):
                if entry.get("name") == name and entry["kind"] != "scope":
                    return entry
        return None


# ---- ELF files and the tools that read them ----

class Readelf:
    """What binutils readelf says about an ELF file, from separate runs: the header
    (-h, field name -> text), the sections (-W -S: dicts index, name, type, address,
    offset, size, entsize, flags, link, info), the program headers (-l: dicts type,
    offset, vaddr, paddr, filesz, memsz), the symbols (-W -s: dicts index, value, type,
    bind, other, ndx, name), the abbreviations, the units of .debug_info (when asked
    for; dicts offset, pointer_size, root: a DIE tree of dicts tag, offset, attrs,
    children, and end: the offset after the zero that ends the children) and the decoded
    line tables (-wL: one list of (file, line or None at an end of sequence, address) per
    table)."""

    def __init__(self, path, debug_info=True):
        text = lambda *options: run(["readelf"] + list(options) + [path]).stdout
        self.header = dict(re.findall(r"^\s+([^:\n]+):\s+(.*?)\s*$",
                                      text("-h").split("ELF Header:", 1)[-1], re.M))
        self.sections = [dict(index=int(k), name=n, type=t, address=int(a, 16),
                              offset=int(o, 16), size=int(z, 16), entsize=int(e, 16), flags=f,
                              link=int(l), info=int(i))
                         for k, n, t, a, o, z, e, f, l, i in re.findall(
                             r"^\s*\[\s*(\d+)\] (.*?)\s+(\S+)\s+([0-9a-f]{8}) ([0-9a-f]{6}) "
                             r"([0-9a-f]{6}) ([0-9a-f]{2})\s+([A-Za-z]*)\s+(\d+)\s+(\d+)\s+\d+$",
                             text("-W", "-S"), re.M)]
        self.segments = [dict(type=t, offset=int(o, 16), vaddr=int(v, 16), paddr=int(p, 16),
                              filesz=int(f, 16), memsz=int(m, 16))
                         for t, o, v, p, f, m in re.findall(
                             r"^\s+([A-Z_]+)\s+0x([0-9a-f]+) 0x([0-9a-f]+) 0x([0-9a-f]+) "
                             r"0x([0-9a-f]+) 0x([0-9a-f]+)", text("-l"), re.M)]
        self.symbols = [dict(index=int(k), value=int(v, 16), type=t, bind=b, other=o or "",
                             ndx=x, name=n)
                        for k, v, t, b, o, x, n in re.findall(
                            r"^\s*(\d+): ([0-9a-f]+)\s+\d+\s+(\w+)\s+(\w+)\s+\w+\s+"
                            r"(?:\[([^\]]*)\]\s+)?(\w+) ?(.*)$", text("-W", "-s"), re.M)]
        self.abbreviations = self.parse_abbreviations(text("--debug-dump=abbrev"))
        self.units = self.parse_units(text("--debug-dump=info")) if debug_info else []
        self.line_tables = []
        for line in text("--debug-dump=decodedline").splitlines():
            if line.startswith("CU: "):
                self.line_tables.append([])
            m = re.match(r"(\S+)\s+(\d+|-)\s+(0x[0-9a-f]+|\d+)(?:\s+\d+)?(?:\s+x)?\s*$", line)
            if m and self.line_tables:
                self.line_tables[-1].append((m.group(1), None if m.group(2) == "-" else
                                             int(m.group(2)), int(m.group(3), 0)))

    @staticmethod
    def parse_abbreviations(text):
        """(code, tag, has children, [(attribute, form)]) per abbreviation."""
        found = []
        for line in text.splitlines():
            m = re.match(r"\s+(\d+)\s+DW_TAG_(\w+)\s+\[(has|no) children\]", line)
            if m:
                found.append((int(m.group(1)), m.group(2), m.group(3) == "has", []))
            m = re.match(r"\s+DW_AT_(\w+)\s+DW_FORM_(\w+)", line)
            if m and found:
                found[-1][3].append((m.group(1), m.group(2)))
        return found

    @staticmethod
    def parse_units(text):
        units, stack, current = [], [], None
        for line in text.splitlines():
            m = re.match(r"\s*Compilation Unit @ offset (0x[0-9a-f]+|\d+):", line)
            if m:
                units.append(dict(offset=int(m.group(1), 0), pointer_size=None, root=None))
                continue
            m = re.match(r"\s*Pointer Size:\s+(\d+)", line)
            if m and units:
                units[-1]["pointer_size"] = int(m.group(1))
            m = re.match(r"\s*<(\d+)><([0-9a-f]+)>: Abbrev Number: (\d+)(?: \(DW_TAG_(\w+)\))?",
                         line)
            if m:
                current = None
                if m.group(3) == "0":  # the end of the children of the entry above
                    depth = int(m.group(1))
                    if 0 < depth <= len(stack):
                        stack[depth - 1]["end"] = int(m.group(2), 16) + 1
                    continue
                depth = int(m.group(1))
                current = dict(tag=m.group(4), offset=int(m.group(2), 16), attrs={},
                               children=[])
                if depth == 0:
                    units[-1]["root"] = current
                elif depth <= len(stack):
                    stack[depth - 1]["children"].append(current)
                stack[depth:] = [current]
                continue
            m = re.match(r"\s*<[0-9a-f]+>\s+DW_AT_(\w+)\s*: ?(.*?)\s*$", line)
            if m and current is not None:
                current["attrs"][m.group(1)] = m.group(2)
        return units


def die_number(text):
    """The number at the start of a readelf attribute value ("0x2000", "1\t(ANSI C)",
    "<0x3e>")."""
    return int(re.match(r"<?(0x[0-9a-f]+|-?\d+)", text).group(1), 0)


def die_location(text):
    """A location expression of one operation as (kind, number): ("addr", address),
    ("fbreg", offset), ("regx", register) or ("plus_uconst", offset)."""
    m = re.search(r"\(DW_OP_(\w+): (-?[0-9a-f]+)", text)
    return m.group(1), int(m.group(2), 16 if m.group(1) == "addr" else 10)


def dies(node):
    """A DIE and all DIEs below it, depth first."""
    yield node
    for child in node["children"]:
        yield from dies(child)


def retyped_copy(path, copy):
    """Copies an ELF file, giving the sections named .debug_* sh_type 1 (SHT_PROGBITS)
    and changing nothing else; eu-readelf dumps DWARF only from such sections."""
    raw = bytearray(open(path, "rb").read())
    order = "<" if raw[5] == 1 else ">"
    shoff = struct.unpack_from(order + "I", raw, 32)[0]
    count, names = struct.unpack_from(order + "HH", raw, 48)
    strings = struct.unpack_from(order + "I", raw, shoff + 40 * names + 16)[0]
    for k in range(count):
        header = shoff + 40 * k
        start = strings + struct.unpack_from(order + "I", raw, header)[0]
        if raw[start:raw.index(0, start)].startswith(b".debug_"):
            struct.pack_into(order + "I", raw, header + 4, 1)
    open(copy, "wb").write(raw)


class Gdb:
    """gdb-multiarch's answers to a list of commands about one file, run in one batch
    without init files: command -> its output lines (blank lines dropped); the warnings
    it gives while reading the file are in complaints."""

    def __init__(self, path, commands):
        args = ["gdb-multiarch", "-nx", "-batch"]
        for k, command in enumerate(commands):
            args += ["-ex", "echo @@@%d\\n" % k, "-ex", command]
        proc = run(args + [path])
        self.complaints = [l for l in proc.stderr.splitlines() if l.strip()]
        self.answers = {}
        parts = re.split(r"^@@@(\d+)\n", proc.stdout, flags=re.M)
        for k, body in zip(parts[1::2], parts[2::2]):
            self.answers[commands[int(k)]] = [l.rstrip() for l in body.splitlines() if l.strip()]


def llvm_units(path):
    """The units of llvm-dwarfdump --debug-info as DIE trees (dicts tag, attrs: attribute
    -> the text llvm shows in its parentheses, children)."""
    units, stack, current = [], [], None
    for line in run(["llvm-dwarfdump", "--debug-info", path]).stdout.splitlines():
        m = re.match(r"0x[0-9a-f]+:( +)(DW_TAG_(\w+)|NULL)", line)
        if m:
            depth = (len(m.group(1)) - 1) // 2
            current = None
            if m.group(3) is None:
                continue
            current = dict(tag=m.group(3), attrs={}, children=[])
            if depth == 0:
                units.append(current)
            elif depth <= len(stack):
                stack[depth - 1]["children"].append(current)
            stack[depth:] = [current]
            continue
        m = re.match(r"\s+DW_AT_(\w+)\s+\((.*)\)$", line)
        if m and current is not None:
            current["attrs"][m.group(1)] = m.group(2)
    return units


# ---- symvert's ELF/DWARF dump, and what readelf and llvm-dwarfdump show of a file ----

def numbers_in(text):
    """The numbers of a text in order: r12 gives 12, 0x1F gives 31, -4 gives -4."""
    return [int(m.group(1)) if m.group(1) else int(m.group(2), 16 if "x" in m.group(2) else 10)
            for m in re.finditer(r"\br(\d+)\b|(-?0x[0-9A-Fa-f]+|-?\d+)", text)]


def unrelocated_copy(path, copy):
    """Copies an ELF file, giving its relocation sections (SHT_RELA, SHT_REL) sh_type
    0x80000000, so that readers show the stored bytes of the sections they relocate
    (readelf and llvm-dwarfdump apply the relocations of a relocatable file)."""
    raw = bytearray(open(path, "rb").read())
    order = "<" if raw[5] == 1 else ">"
    shoff = struct.unpack_from(order + "I", raw, 32)[0]
    count = struct.unpack_from(order + "H", raw, 48)[0]
    for k in range(count):
        header = shoff + 40 * k
        if struct.unpack_from(order + "I", raw, header + 4)[0] in (4, 9):
            struct.pack_into(order + "I", raw, header + 4, 0x80000000)
    open(copy, "wb").write(raw)


def named_value(text):
    """The number of a value that the dump names: "NAME (0x1F)" or "0x1F"; None when
    the number is not shown."""
    m = re.search(r"(?:^| \()0x([0-9A-F]+)\)?$", text)
    return int(m.group(1), 16) if m else None


class ElfDump:
    """symvert's dump of an ELF file (-d -v -v -v), from its standard output.

    header: field -> text; strings: (offset, text) of the string tables in order;
    sections: dicts index, name, type (text), address, size, link, offset, info, align,
    flags (set of words), bytes (first bytes shown, or None), entsize and symbols (dicts
    name, value, size, kind (binding/type text), other, shndx) for a symbol table;
    segments: dicts index, type (text), vaddr, paddr, filesz, memsz, flags ("rwx" with
    "-"), align, bytes. dwarf: None without a DWARF part, False for "No DWARF found",
    else True, and then headings (section name -> True when dumped, False when reported
    missing) and the parts below, each parsed from its section's lines."""

    def __init__(self, text):
        self.text = text
        self.header, self.strings, self.sections, self.segments = {}, [], [], []
        self.dwarf = None
        self.headings, self.parts = {}, {}
        self.line_note = None
        self.str = self.abbrev = self.info = self.line = self.frame = []
        self.pubnames = self.aranges = self.macinfo = self.loc = self.loclists = []
        self.rnglists = self.line_str = self.addr = []
        lines = text.split("\n")
        part = None
        for k, line in enumerate(lines):
            if line in ("ELF header:", "String table:", "Sections:", "Program Headers:"):
                part = line
                continue
            if line in ("DWARF:", "No DWARF found"):
                self.dwarf = line == "DWARF:"
                self.split_dwarf(lines[k + 1:])
                break
            if part == "ELF header:":
                m = re.match(r"\t([^:\t]+):[ \t]+(.*)$", line)
                if m:
                    self.header[m.group(1).strip()] = m.group(2)
            elif part == "String table:":
                m = re.match(r"([0-9A-F]{8}): (.*)$", line)
                if m:
                    self.strings.append((int(m.group(1), 16), m.group(2)))
            elif part == "Sections:":
                self.section_line(line)
            elif part == "Program Headers:":
                self.segment_line(line)

    def section_line(self, line):
        m = re.match(r"([0-9A-F]{4})  (.{20}) (.{30})((?: [0-9A-F]{8}){6})((?: WRITE| ALLOC| "
                     r"EXECINSTR)*)$", line)
        if m:
            address, size, link, offset, info, align = (int(v, 16) for v in m.group(4).split())
            self.sections.append(dict(
                index=int(m.group(1), 16), name=m.group(2).rstrip(), type=m.group(3).rstrip(),
                address=address, size=size, link=link, offset=offset, info=info, align=align,
                flags=set(m.group(5).split()), bytes=None, entsize=None, symbols=None))
            return
        m = re.match(r"\t *([0-9A-F]+): ((?: [0-9A-F]{2})*)$", line)
        if m and self.sections:
            self.sections[-1]["bytes"] = (int(m.group(1), 16), bytes.fromhex(m.group(2)))
            return
        m = re.match(r"Section header entry size: 0x([0-9A-F]+)$", line)
        if m and self.sections:
            self.sections[-1]["entsize"] = int(m.group(1), 16)
            self.sections[-1]["symbols"] = []
            return
        m = re.match(r"\t(.*?) *  0x([0-9A-F]{8})  (-?\d+) *  (\S.*?) *  0x([0-9A-F]{2})  "
                     r"0x([0-9A-F]{4,})$", line)
        if m and self.sections and self.sections[-1]["symbols"] is not None:
            self.sections[-1]["symbols"].append(dict(
                name=m.group(1), value=int(m.group(2), 16), size=int(m.group(3)),
                kind=m.group(4), other=int(m.group(5), 16), shndx=int(m.group(6), 16)))

    def segment_line(self, line):
        m = re.match(r"([0-9A-F]{4})  (.{36})((?: [0-9A-F]{8}){4}) ([r-][w-][x-]) ([0-9A-F]{8})$",
                     line)
        if m:
            vaddr, paddr, filesz, memsz = (int(v, 16) for v in m.group(3).split())
            self.segments.append(dict(index=int(m.group(1), 16), type=m.group(2).rstrip(),
                                      vaddr=vaddr, paddr=paddr, filesz=filesz, memsz=memsz,
                                      flags=m.group(4), align=int(m.group(5), 16), bytes=None))
            return
        m = re.match(r"\t *([0-9A-F]+): ((?: [0-9A-F]{2})*)$", line)
        if m and self.segments:
            self.segments[-1]["bytes"] = (int(m.group(1), 16), bytes.fromhex(m.group(2)))

    def split_dwarf(self, lines):
        """Cuts the DWARF part at the section headings and parses each section."""
        current = None
        for line in lines:
            m = re.match(r"No (.+) \(from (\.debug_\w+)\)$", line)
            if m:
                self.headings[m.group(2)] = False
                current = None
                continue
            m = re.match(r"[A-Z][a-z ]+ \((\.debug_\w+)\):$", line)
            if m:
                self.headings[m.group(1)] = True
                current = self.parts.setdefault(m.group(1), [])
                continue
            if line == "No references to line number information":
                self.line_note = line
                current = None
                continue
            if current is not None:
                current.append(line)
        parsers = {".debug_str": self.parse_strings, ".debug_abbrev": self.parse_abbreviations,
                   ".debug_info": self.parse_units, ".debug_line": self.parse_line_groups,
                   ".debug_frame": self.parse_frames, ".debug_pubnames": self.parse_pubnames,
                   ".debug_aranges": self.parse_aranges, ".debug_macinfo": self.parse_macinfo,
                   ".debug_loc": self.parse_loc,
                   ".debug_loclists": lambda lines: self.parse_loc(lines, "List"),
                   ".debug_rnglists": lambda lines: self.parse_loc(lines, "List"),
                   ".debug_line_str": self.parse_strings, ".debug_addr": self.parse_addresses}
        for name, parse in parsers.items():
            setattr(self, name[len(".debug_"):], parse(self.parts.get(name, [])))

    @staticmethod
    def parse_strings(lines):
        """(offset, text) per string."""
        return [(int(m.group(1), 16), m.group(2)) for m in
                (re.match(r'0x([0-9A-F]{8}): "(.*)"$', l) for l in lines) if m]

    @staticmethod
    def parse_addresses(lines):
        """(index, address) of every set."""
        return [(int(k), int(a, 16)) for k, a in
                (re.match(r" +(\d+): 0x([0-9A-F]+)$", l).groups() for l in lines
                 if re.match(r" +(\d+): 0x([0-9A-F]+)$", l))]

    @staticmethod
    def parse_abbreviations(lines):
        """Dicts offset, code, children ("Y", "N", "?"), tag (full style) and attributes:
        [(attribute, form)], both in full style."""
        found, offset = [], None
        for line in lines:
            m = re.match(r"@ 0x([0-9A-F]{8})$", line)
            if m:
                offset = int(m.group(1), 16)
                continue
            m = re.match(r"(\d{5,})\(([YN?])\): (.*)$", line)
            if m:
                found.append(dict(offset=offset, code=int(m.group(1)), children=m.group(2),
                                  tag=m.group(3), attributes=[]))
                continue
            m = re.match(r" {10}(\S.*?) +(\S+?|\?\? 0x[0-9A-F]+)(?:: -?\d+)?$", line)
            if m and found:
                found[-1]["attributes"].append((m.group(1), m.group(2)))
        return found

    @staticmethod
    def parse_units(lines):
        """Dicts number, offset, size, version, abbrev_offset, address_size and entries:
        dicts depth, tag (plain style), code, unit_offset, offset and attributes:
        [(attribute (plain style), form (plain style), value text)]."""
        units = []
        for line in lines:
            m = re.match(r"Compilation Unit (\d+) @ 0x([0-9A-F]{8})$", line)
            if m:
                units.append(dict(number=int(m.group(1)), offset=int(m.group(2), 16),
                                  size=None, version=None, abbrev_offset=None,
                                  address_size=None, entries=[]))
                continue
            m = re.match(r"size=(\d+) ver=0x([0-9A-F]{4}) (?:unit type=(\S+) )?"
                         r"abbrev offset=0x([0-9A-F]{8}), addrsize=(\d+)"
                         r"(?: dwo id=0x([0-9A-F]{16}))?$", line)
            if m and units:
                units[-1].update(size=int(m.group(1)), version=int(m.group(2), 16),
                                 unit_type=m.group(3), abbrev_offset=int(m.group(4), 16),
                                 address_size=int(m.group(5)),
                                 dwo_id=m.group(6) and int(m.group(6), 16))
                continue
            m = re.match(r"( *)\+(.*) \((\d+)\) @ 0x([0-9A-F]+) \(0x([0-9A-F]+)\)$", line)
            if m and units:
                units[-1]["entries"].append(dict(
                    depth=len(m.group(1)) // 2, tag=m.group(2), code=int(m.group(3)),
                    unit_offset=int(m.group(4), 16), offset=int(m.group(5), 16),
                    attributes=[]))
                continue
            m = re.match(r" *\+<NULL ENTRY>$", line)
            if m:
                continue
            m = re.match(r" * (\S[^\[]*)\[([^\]]+)\] = (.*)$", line)
            if m and units and units[-1]["entries"]:
                units[-1]["entries"][-1]["attributes"].append(m.groups())
        return units

    @staticmethod
    def parse_line_groups(lines):
        """Dicts number, offset, the header fields (size, version, prolog, min_len,
        def_stmt, line_base, line_range, opcode_base, lengths, marks: the opcode lengths
        followed by "(?)"), includes: [name], files: [(name, dir, time, length)],
        sequences: [dicts opcodes: [(offset, name, operand text)], matrix: [(offset,
        address, file, line, column, is_stmt, basic_block)]]."""
        groups, part = [], None
        for line in lines:
            m = re.match(r"Group (\d+) @ 0x([0-9A-F]{8})$", line)
            if m:
                groups.append(dict(number=int(m.group(1)), offset=int(m.group(2), 16),
                                   includes=[], files=[], sequences=[]))
                part = None
                continue
            if not groups:
                continue
            group = groups[-1]
            m = re.match(r"size=(\d+) ver=(\d+)(?: addrsize=(\d+) segsize=(\d+))? "
                         r"prolog=(\d+)$", line)
            if m:
                group.update(size=int(m.group(1)), version=int(m.group(2)),
                             address_size=m.group(3) and int(m.group(3)),
                             segment_size=m.group(4) and int(m.group(4)),
                             prolog=int(m.group(5)))
                continue
            m = re.match(r"min_len=(\d+)(?: max_ops=(\d+))? def_stmt=(true|false) "
                         r"line_base=(-?\d+) line_range=(\d+) opcode_base=(\d+)$", line)
            if m:
                group.update(min_len=int(m.group(1)), max_ops=m.group(2) and int(m.group(2)),
                             def_stmt=m.group(3) == "true", line_base=int(m.group(4)),
                             line_range=int(m.group(5)), opcode_base=int(m.group(6)))
                continue
            m = re.match(r"opcode lengths:((?: \d+(?:\(\?\))?)*)$", line)
            if m:
                words = m.group(1).split()
                group["lengths"] = [int(w.replace("(?)", "")) for w in words]
                group["marks"] = [k + 1 for k, w in enumerate(words) if w.endswith("(?)")]
                continue
            if line.startswith("Includes:") or line.startswith("Files:"):
                part = line.split(":")[0]
                line = line.split(":", 1)[1]
            m = re.match(r'Statement program sequence (\d+)$', line)
            if m:
                group["sequences"].append(dict(opcodes=[], matrix=[]))
                part = "program"
                continue
            if part == "Includes":
                m = re.match(r' *(\d+)\.  "(.*)"$', line)
                if m:
                    group["includes"].append(m.group(2))
            elif part == "Files":
                m = re.match(r' *(\d+)\.  "(.*?)"(?:\s|$)', line)
                if m:
                    group["files"].append([m.group(2), None, None, None])
                m = re.search(r"dir: *(\d+)(?:, time: .* \(0x([0-9A-F]{8})\))?"
                              r"(?:, (\d+) bytes?)?(?:, md5: 0x[0-9A-F]+)?$", line)
                if m and group["files"]:
                    group["files"][-1][1:] = [int(m.group(1)), m.group(2) and int(m.group(2), 16),
                                              m.group(3) and int(m.group(3))]
            elif part == "program" and group["sequences"]:
                sequence = group["sequences"][-1]
                m = re.match(r"(\d{5,}):  ([0-9A-F]{16})  (\d+) +(-?\d+) +(-?\d+) +(true|false) +"
                             r"(true|false)\s*$", line)
                if m:
                    sequence["matrix"].append((
                        int(m.group(1)), int(m.group(2), 16), int(m.group(3)), int(m.group(4)),
                        int(m.group(5)), m.group(6) == "true", m.group(7) == "true"))
                    continue
                m = re.match(r"(\d{5,}):  .*?SPECIAL\((line=-?\d+, addr=-?\d+)\)\s*$", line)
                if m:
                    sequence["opcodes"].append((int(m.group(1)), "SPECIAL", m.group(2)))
                    continue
                m = re.match(r"(\d{5,}):  (DW_\w+|\?\? 0x[0-9A-F]+(?: \(user-defined\))?)"
                             r" *(?:: (.*))?$", line)
                if m:
                    sequence["opcodes"].append((int(m.group(1)), m.group(2), m.group(3) or ""))
        return groups

    @staticmethod
    def parse_frames(lines):
        """Dicts kind ("CIE" or "FDE"), offset, size, and for a CIE version,
        augmentation, code_align, data_align, return_column; for an FDE cie_pointer,
        low, high; and instructions: [(name, operand text)]."""
        entries = []
        for line in lines:
            m = re.match(r"(Common Information|Frame Description) Entry @ 0x([0-9A-F]{8})$",
                         line)
            if m:
                entries.append(dict(kind="CIE" if m.group(1)[0] == "C" else "FDE",
                                    offset=int(m.group(2), 16), instructions=[]))
                continue
            if not entries:
                continue
            entry = entries[-1]
            m = re.match(r"size=(\d+) ver=(\d+)$", line)
            if m:
                entry.update(size=int(m.group(1)), version=int(m.group(2)))
                continue
            m = re.match(r'Augmentation: (None|"(.*)" \(unknown\))$', line)
            if m:
                entry["augmentation"] = m.group(2) or ""
                continue
            m = re.match(r"(?:addrsize=\d+, segsize=\d+, )?code align=(\d+), "
                         r"data align=(-?\d+), return col=(-?\d+)$", line)
            if m:
                entry.update(code_align=int(m.group(1)), data_align=int(m.group(2)),
                             return_column=int(m.group(3)))
                continue
            m = re.match(r"size=(\d+) CIE_pointer=0x([0-9A-F]{8}) location range="
                         r"0x([0-9A-F]{8,})\.\.0x([0-9A-F]{8,})$", line)
            if m:
                entry.update(size=int(m.group(1)), cie_pointer=int(m.group(2), 16),
                             low=int(m.group(3), 16), high=int(m.group(4), 16))
                continue
            m = re.match(r" {8}(DW_CFA_\w+|\?\? 0x[0-9A-F]+(?: \(user-defined\))?)(.*)$", line)
            if m:
                entry["instructions"].append((m.group(1), m.group(2)))
        return entries

    @staticmethod
    def parse_sets(lines, header, entry):
        """Sets of a name-lookup or address-range table: dicts number, offset, the
        header's fields (named groups of the header pattern) and entries (the groups of
        each line the entry pattern matches)."""
        sets = []
        for line in lines:
            m = re.match(r"Set (\d+) @ 0x([0-9A-F]{8})$", line)
            if m:
                sets.append(dict(number=int(m.group(1)), offset=int(m.group(2), 16),
                                 entries=[]))
                continue
            m = re.match(header, line)
            if m and sets:
                sets[-1].update({k: v if k == "flat" else int(v, 0)
                                 for k, v in m.groupdict().items()})
                continue
            m = re.match(entry, line)
            if m and sets:
                sets[-1]["entries"].append(m.groups())
        return sets

    def parse_pubnames(self, lines):
        return self.parse_sets(
            lines, r"size=(?P<size>\d+), ver=(?P<version>\d+), offs=(?P<info_offset>0x[0-9A-F]{8})"
                   r", debug size=(?P<info_size>\d+)$", r'  0x([0-9A-F]{8}): "(.*)"$')

    def parse_aranges(self, lines):
        return self.parse_sets(
            lines, r"size=(?P<size>\d+), ver=(?P<version>\d+), offs=(?P<info_offset>0x[0-9A-F]{8})"
                   r" addrsize=(?P<address_size>\d+), segsize=(?P<segment_size>\d+)"
                   r"(?P<flat> \(flat\))?$", r"  0x([0-9A-F]{8,})\.\.0x([0-9A-F]{8,})$")

    @staticmethod
    def parse_macinfo(lines):
        """Sets: dicts number, offset, entries: [(type name, number, string or number)]."""
        sets = []
        for line in lines:
            m = re.match(r"Set (\d+) @ 0x([0-9A-F]{8})$", line)
            if m:
                sets.append(dict(number=int(m.group(1)), offset=int(m.group(2), 16),
                                 entries=[]))
                continue
            m = re.match(r'  (DW_MACINFO_\w+|\?\? 0x[0-9A-F]+)'
                         r'(?:\((-?\d+), (?:"(.*)"|(-?\d+))\))?$', line)
            if m and sets:
                name, first, text, second = m.groups()
                sets[-1]["entries"].append((
                    name, None if first is None else int(first),
                    text if text is not None else None if second is None else int(second)))
        return sets

    @staticmethod
    def parse_loc(lines, heading="Set"):
        """Lists of .debug_loc or .debug_loclists: dicts number, offset, entries: dicts
        kind ("views", "range", "base", or the DW_LLE_ name without its prefix), values
        (the numbers shown), size (of the expression), operations: [(name, [numbers])].
        A .debug_loc list is headed "Set N @", a .debug_loclists list "List @"."""
        lists = []
        for line in lines:
            m = re.match(r"%s(?: \d+)? @ 0x([0-9A-F]{8})$" % heading, line)
            if m:
                lists.append(dict(number=len(lists) + 1, offset=int(m.group(1), 16),
                                  entries=[]))
                continue
            m = re.match(r" *views=(\d+)\.\.(\d+)$", line)
            if m and lists:
                lists[-1]["entries"].append(dict(kind="views", values=[int(m.group(1)),
                                                                        int(m.group(2))],
                                                 size=None, operations=[]))
                continue
            m = re.match(r"(range|base)=((?:0x[0-9A-F]+(?:\.\.)?)+)(?: size=(\d+))?$", line)
            if m is None:
                m = re.match(r"  DW_[LR]LE_(\w+)(?:\((.*)\))?(?: size=(\d+))?$", line)
            if m and lists:
                lists[-1]["entries"].append(dict(
                    kind=m.group(1), values=numbers_in((m.group(2) or "").replace("..", " ")),
                    size=int(m.group(3)) if m.group(3) else None, operations=[]))
                continue
            m = re.match(r"  (DW_OP_\w+|\?\? 0x[0-9A-F]+(?: \(user-defined\))?) *(?:\((.*)\))?$",
                         line)
            if m and lists and lists[-1]["entries"]:
                lists[-1]["entries"][-1]["operations"].append(
                    (m.group(1), numbers_in(m.group(2) or "")))
        return lists


# readelf's names of the ELF values that the dump check compares.
READELF_SECTION_TYPES = {
    "NULL": 0, "PROGBITS": 1, "SYMTAB": 2, "STRTAB": 3, "RELA": 4, "HASH": 5, "DYNAMIC": 6,
    "NOTE": 7, "NOBITS": 8, "REL": 9, "SHLIB": 10, "DYNSYM": 11, "INIT_ARRAY": 14,
    "FINI_ARRAY": 15, "GNU_ATTRIBUTES": 0x6FFFFFF5, "ARM_EXIDX": 0x70000001,
    "ARM_ATTRIBUTES": 0x70000003, "MIPS_REGINFO": 0x70000006, "MIPS_DWARF": 0x7000001E,
    "MIPS_ABIFLAGS": 0x7000002A}
READELF_SEGMENT_TYPES = {"NULL": 0, "LOAD": 1, "DYNAMIC": 2, "INTERP": 3, "NOTE": 4, "SHLIB": 5,
                         "PHDR": 6, "TLS": 7, "GNU_STACK": 0x6474E551, "EXIDX": 0x70000001,
                         "ABIFLAGS": 0x70000003, "REGINFO": 0x70000000}
READELF_FILE_TYPES = {"NONE": 0, "REL": 1, "EXEC": 2, "DYN": 3, "CORE": 4}
READELF_MACHINES = {"None": 0, "MIPS R3000": 8, "ARM": 40,
                    "Motorola MC68HC08 Microcontroller": 71,
                    "Microchip Technology dsPIC30F Digital Signal Controller": 118}
READELF_SYMBOL_TYPES = {"NOTYPE": 0, "OBJECT": 1, "FUNC": 2, "SECTION": 3, "FILE": 4,
                        "COMMON": 5, "TLS": 6}
READELF_BINDINGS = {"LOCAL": 0, "GLOBAL": 1, "WEAK": 2}
READELF_VISIBILITIES = {"DEFAULT": 0, "INTERNAL": 1, "HIDDEN": 2, "PROTECTED": 3}
READELF_SECTION_INDEXES = {"UND": 0, "ABS": 0xFFF1, "COM": 0xFFF2}


class ReadelfView:
    """What binutils readelf shows of an ELF file, as numbers where the ELF fields are
    numbers. The ELF part comes from the file itself: header (-h: the ident bytes of
    Magic and the fields by name), sections (-W -S), segments (-W -l), symbols (-W -s:
    table name -> dicts), string tables (-p). The DWARF part comes from dwarf_path (the
    file, or a copy without relocation sections): abbreviation tables, units of entries,
    decoded line rows, frames, name-lookup sets, address-range sets, macro entries and
    location-list operations."""

    def __init__(self, path, dwarf_path=None):
        dwarf_path = dwarf_path or path
        self.complaints = []

        def text(options, file=path):
            proc = run(["readelf"] + options + [file])
            self.complaints += [l for l in proc.stderr.splitlines() if l.strip()]
            return proc.stdout

        self.parse_header(text(["-h"]))
        self.sections = [dict(index=int(k), name=n, type=t, address=int(a, 16),
                              offset=int(o, 16), size=int(z, 16), entsize=int(e, 16),
                              flags=f.strip(), link=int(l), info=int(i), align=int(g))
                         for k, n, t, a, o, z, e, f, l, i, g in re.findall(
                             r"^\s*\[\s*(\d+)\] (.*?)\s+(\S+)\s+([0-9a-f]{8}) ([0-9a-f]{6,}) "
                             r"([0-9a-f]{6,}) ([0-9a-f]{2}) ([A-Za-z ]*?)\s*(\d+)\s+(\d+)\s+(\d+)$",
                             text(["-W", "-S"]), re.M)]
        self.segments = [dict(type=t, offset=int(o, 16), vaddr=int(v, 16), paddr=int(p, 16),
                              filesz=int(f, 16), memsz=int(m, 16), flags=g, align=int(a, 16))
                         for t, o, v, p, f, m, g, a in re.findall(
                             r"^\s+(\w+)\s+0x([0-9a-f]+) 0x([0-9a-f]+) 0x([0-9a-f]+) "
                             r"0x([0-9a-f]+) 0x([0-9a-f]+) ([RWE ]{3}) 0x([0-9a-f]+)$",
                             text(["-W", "-l"]), re.M)]
        self.symbols = {}
        table = None
        for line in text(["-W", "-s"]).splitlines():
            m = re.match(r"Symbol table '(.*)' contains \d+ entries:", line)
            if m:
                table = self.symbols.setdefault(m.group(1), [])
            m = re.match(r"\s*(\d+): ([0-9a-f]{8})\s+(\d+|0x[0-9a-f]+)\s+(\w+)\s+(\w+)\s+(\w+)"
                         r"(?:\s+\[[^\]]*\])?\s+(\w+|PRC\[0x[0-9a-f]+\]) ?(.*)$", line)
            if m and table is not None:
                table.append(dict(index=int(m.group(1)), value=int(m.group(2), 16),
                                  size=int(m.group(3), 0), type=m.group(4), bind=m.group(5),
                                  visibility=m.group(6), ndx=m.group(7), name=m.group(8)))
        self.string_tables = {}
        for section in self.sections:
            if section["type"] == "STRTAB":
                self.string_tables[section["name"]] = self.parse_strings(
                    text(["-p", section["name"]]))
        self.debug_strings = []
        if any(s["name"] == ".debug_str" for s in self.sections):
            self.debug_strings = self.parse_strings(text(["-p", ".debug_str"], dwarf_path))

        def dwarf(kind):
            return text(["--debug-dump=" + kind], dwarf_path)

        self.abbreviations = self.parse_abbreviations(dwarf("abbrev"))
        self.units = self.parse_units(dwarf("info"))
        self.line_tables = self.parse_decoded_lines(dwarf("decodedline"))
        self.frames = self.parse_frames(dwarf("frames"))
        pubnames = dwarf("pubnames").split("Contents of the .debug_gnu_pubnames")[0]
        self.pubnames = self.parse_sets(pubnames, "Offset into .debug_info section",
                                        r"\s+([0-9a-f]+)\s+\t(.*)$")
        self.aranges = self.parse_sets(dwarf("aranges"), "Offset into .debug_info",
                                       r"\s+([0-9a-f]{8,}) ([0-9a-f]{8,})\s*$")
        self.macros = self.parse_macros(dwarf("macro"))
        self.locations = self.parse_locations(dwarf("loc"))
        self.range_lists = [l for l in self.parse_locations(dwarf("Ranges"))
                            if l["section"] == ".debug_rnglists"]
        self.addresses = [(int(k), int(a, 16)) for k, a in re.findall(
            r"^\t(\d+):\t([0-9a-f]+)$", dwarf("addr"), re.M)]
        self.line_strings = []
        if any(s["name"] == ".debug_line_str" for s in self.sections):
            self.line_strings = self.parse_strings(text(["-p", ".debug_line_str"], dwarf_path))

    def parse_header(self, text):
        self.header = dict(re.findall(r"^\s+([^:\n]+):\s+(.*?)\s*$",
                                      text.split("ELF Header:", 1)[-1], re.M))
        self.ident = bytes.fromhex(self.header.get("Magic", ""))
        self.file_type = READELF_FILE_TYPES.get(self.header.get("Type", "").split(" ")[0])
        self.machine = READELF_MACHINES.get(self.header.get("Machine"))

    @staticmethod
    def parse_strings(text):
        """(offset, text) of readelf -p: the strings that are not empty."""
        return [(int(o, 16), s) for o, s in re.findall(r"^\s+\[\s*([0-9a-f]+)\]  (.*)$", text,
                                                        re.M)]

    @staticmethod
    def parse_abbreviations(text):
        """Tables: dicts offset, abbreviations: [(code, tag, has children, [(attribute,
        form)])], names without their DW_ prefixes."""
        tables = []
        for line in text.splitlines():
            m = re.match(r"\s+Number TAG \((0x[0-9a-f]+|\d+)\)", line)
            if m:
                tables.append(dict(offset=int(m.group(1), 0), abbreviations=[]))
            m = re.match(r"\s+(\d+)\s+DW_TAG_(\w+)\s+\[(has|no) children\]", line)
            if m and tables:
                tables[-1]["abbreviations"].append((int(m.group(1)), m.group(2),
                                                    m.group(3) == "has", []))
            m = re.match(r"\s+DW_AT_(\w+)\s+DW_FORM_(\w+)", line)
            if m and tables and tables[-1]["abbreviations"]:
                tables[-1]["abbreviations"][-1][3].append((m.group(1), m.group(2)))
        return tables

    @staticmethod
    def parse_units(text):
        """Units: dicts offset, entries: dicts depth, offset, code, tag, attributes:
        [(attribute, value text)]; the zero entries ending sibling chains left out."""
        units = []
        for line in text.splitlines():
            m = re.match(r"\s*Compilation Unit @ offset (0x[0-9a-f]+|\d+):", line)
            if m:
                units.append(dict(offset=int(m.group(1), 0), entries=[]))
                continue
            m = re.match(r"\s*<(\d+)><([0-9a-f]+)>: Abbrev Number: (\d+)(?: \(DW_TAG_(\w+)\))?",
                         line)
            if m and units:
                if m.group(3) != "0":
                    units[-1]["entries"].append(dict(
                        depth=int(m.group(1)), offset=int(m.group(2), 16), code=int(m.group(3)),
                        tag=m.group(4), attributes=[]))
                continue
            m = re.match(r"\s*<[0-9a-f]+>\s+DW_AT_(\w+)\s*: ?(.*)$", line)
            if m and units and units[-1]["entries"]:
                units[-1]["entries"][-1]["attributes"].append((m.group(1), m.group(2)))
        return units

    @staticmethod
    def parse_decoded_lines(text):
        """One list of (file name, line or None at an end of sequence, address) per
        line-number program."""
        tables = []
        for line in text.splitlines():
            if line.startswith("File name ") and "Starting address" in line:
                tables.append([])
                continue
            m = re.match(r"(\S+)\s+(\d+|-)\s+(0x[0-9a-f]+|\d+)(?:\s+\d+)?(?:\s+x)?\s*$", line)
            if m and tables:
                tables[-1].append((m.group(1), None if m.group(2) == "-" else int(m.group(2)),
                                   int(m.group(3), 0)))
        return tables

    @staticmethod
    def parse_frames(text):
        """Entries: dicts offset, length, kind, pointer (the CIE id or pointer), low,
        high (FDE), version, augmentation, code_align, data_align, return_column (CIE),
        instructions: [(name without DW_CFA_, operand text)]."""
        entries = []
        for line in text.splitlines():
            m = re.match(r"([0-9a-f]{8}) ([0-9a-f]{8,16}) ([0-9a-f]{8}) (CIE|FDE)"
                         r"(?: cie=[0-9a-f]+ pc=([0-9a-f]+)\.\.([0-9a-f]+))?", line)
            if m:
                entries.append(dict(offset=int(m.group(1), 16), length=int(m.group(2), 16),
                                    pointer=int(m.group(3), 16), kind=m.group(4),
                                    low=m.group(5) and int(m.group(5), 16),
                                    high=m.group(6) and int(m.group(6), 16), instructions=[]))
                continue
            if not entries:
                continue
            for key, pattern in (("version", r"\s+Version:\s+(\d+)$"),
                                 ("augmentation", r'\s+Augmentation:\s+"(.*)"$'),
                                 ("code_align", r"\s+Code alignment factor: (\d+)$"),
                                 ("data_align", r"\s+Data alignment factor: (-?\d+)$"),
                                 ("return_column", r"\s+Return address column: (\d+)$")):
                m = re.match(pattern, line)
                if m:
                    entries[-1][key] = m.group(1) if key == "augmentation" else int(m.group(1))
            m = re.match(r"  DW_CFA_(\w+)(?:: (.*))?$", line)
            if m:
                entries[-1]["instructions"].append((m.group(1), m.group(2) or ""))
        return entries

    @staticmethod
    def parse_sets(text, offset_label, entry):
        """Sets of .debug_pubnames or .debug_aranges: dicts length, version, info_offset,
        info_size or address_size and segment_size, entries (the groups of each line the
        entry pattern matches)."""
        sets = []
        for line in text.splitlines():
            m = re.match(r"\s+Length:\s+(\d+)$", line)
            if m:
                sets.append(dict(length=int(m.group(1)), entries=[]))
                continue
            if not sets:
                continue
            for key, pattern in (("version", r"\s+Version:\s+(\d+)$"),
                                 ("info_offset", r"\s+%s:\s+(0x[0-9a-f]+|\d+)$" % offset_label),
                                 ("info_size", r"\s+Size of area in .debug_info section:\s+(\d+)$"),
                                 ("address_size", r"\s+Pointer Size:\s+(\d+)$"),
                                 ("segment_size", r"\s+Segment Size:\s+(\d+)$")):
                m = re.match(pattern, line)
                if m:
                    sets[-1][key] = int(m.group(1), 0)
            m = re.match(entry, line)
            if m:
                sets[-1]["entries"].append(m.groups())
        return sets

    @staticmethod
    def parse_macros(text):
        """(type name without DW_MACINFO_, line or constant, string or file number)."""
        found = []
        for line in text.splitlines():
            m = re.match(r" DW_MACINFO_(\w+)(?: - (?:lineno|constant) ?: (\d+) "
                         r"(?:(?:macro|string) : (.*)|filenum: (\d+)))?$", line)
            if m:
                name, number, text_value, file_number = m.groups()
                found.append((name, None if number is None else int(number),
                              text_value if text_value is not None else
                              None if file_number is None else int(file_number)))
        return found

    @staticmethod
    def parse_locations(text):
        """The lists of .debug_loc and .debug_loclists: dicts section, offset, entries:
        dicts offset, kind ("views", "range", "base"), values (the two view numbers, the
        range's begin and end as readelf shows them, with the base address added, or the
        base address), operations: [(name, [numbers])]. A run of view pairs is a list of
        its own; "<End of list>" ends a location list, and its offset is the list's end."""
        lists, current, section, pending = [], None, None, None
        for line in text.splitlines():
            m = re.match(r"Contents of the (\.debug_\w+) section:", line)
            if m:
                section, current = m.group(1), None
                continue
            m = re.match(r"\s+([0-9a-f]{8}) (?:v([0-9a-f]+) v([0-9a-f]+) (location view pair|"
                         r"views at [0-9a-f]+ for:)|([0-9a-f]{8}) (?:([0-9a-f]{8})(?: \((.*?)\)|"
                         r" (DW_OP.*?))?|\(base address\))(?: \(start == end\))?|"
                         r"(<End of list>))\s*$", line)
            if m is None and pending is not None:
                m2 = re.match(r"\s+([0-9a-f]{8}) ([0-9a-f]{8}) \((.*)\)\s*$", line)
                if m2:
                    pending.update(kind="range", values=[int(m2.group(1), 16),
                                                         int(m2.group(2), 16)],
                                   operations=ReadelfView.operations(m2.group(3)))
                    pending = None
                continue
            if m is None:
                continue
            offset = int(m.group(1), 16)
            views = m.group(4) == "location view pair"
            if current is None or (current["views"] != views):
                current = dict(section=section, offset=offset, entries=[], views=views)
                lists.append(current)
            if m.group(9):
                current["end"] = offset
                current = None
                continue
            entry = dict(offset=offset, operations=[])
            current["entries"].append(entry)
            if views:
                entry.update(kind="views", values=[int(m.group(2), 16), int(m.group(3), 16)])
            elif m.group(4):
                pending = entry  # the range follows on the next line
            elif m.group(6) is None:
                entry.update(kind="base", values=[int(m.group(5), 16)])
            else:
                expression = m.group(7) if m.group(7) not in (None, "start == end") else m.group(8)
                entry.update(kind="range", values=[int(m.group(5), 16), int(m.group(6), 16)],
                             operations=ReadelfView.operations(expression or ""))
        return lists

    @staticmethod
    def operations(text):
        """readelf's operations of an expression: [(name, [numbers])]; an operation
        holding an expression of its own (entry_value) is given by its name alone."""
        found = []
        for operation in re.split(r"; (?![^(]*\))", text) if text else []:
            name, _, rest = operation.partition(" ")
            name = name.rstrip(":")
            if "entry_value" in name:
                found.append((name, None))
                continue
            rest = re.sub(r"\([^)]*\)", "", rest).replace(":", " ").replace("<", " ")
            rest = rest.replace(">", " ")
            found.append((name, [int(w, 16) if name == "DW_OP_addr" else int(w, 0)
                                 for w in rest.split()]))
        return found


def llvm_verbose_units(path):
    """llvm-dwarfdump -v --debug-info: units (dicts offset, length, version,
    abbrev_offset, address_size, entries: dicts offset, depth, tag, code, children,
    attributes: [(attribute, form, value text up to the line end)])."""
    units = []
    proc = run(["llvm-dwarfdump", "-v", "--debug-info", path])
    for line in proc.stdout.splitlines():
        m = re.match(r"0x([0-9a-f]{8}): Compile Unit: length = 0x([0-9a-f]+), format = DWARF32, "
                     r"version = 0x([0-9a-f]+),(?: unit_type = \w+,)? abbr_offset = "
                     r"0x([0-9a-f]+), addr_size = 0x([0-9a-f]+)", line)
        if m:
            units.append(dict(zip(("offset", "length", "version", "abbrev_offset",
                                   "address_size"), (int(g, 16) for g in m.groups())),
                              entries=[]))
            continue
        m = re.match(r"0x([0-9a-f]{8}):( +)(DW_TAG_\w+|NULL)(?: \[(\d+)\])?( \*)?", line)
        if m and units:
            if m.group(3) != "NULL":
                units[-1]["entries"].append(dict(
                    offset=int(m.group(1), 16), depth=(len(m.group(2)) - 1) // 2,
                    tag=m.group(3)[len("DW_TAG_"):], code=int(m.group(4)),
                    children=bool(m.group(5)), attributes=[]))
            continue
        m = re.match(r"\s+DW_AT_(\w+) \[DW_FORM_(\w+)\]\t\((.*)$", line)
        if m and units and units[-1]["entries"]:
            units[-1]["entries"][-1]["attributes"].append(m.groups())
    return units, proc


def llvm_line_tables(path):
    """llvm-dwarfdump --debug-line: offset -> dicts of the header fields (total_length,
    version, prologue_length, min_inst_length, default_is_stmt, line_base, line_range,
    opcode_base), lengths, includes, files: [(name, dir, time, length)], rows:
    [(address, line, column, file, is_stmt, end_sequence)]."""
    tables, table, file_entry = {}, None, None
    for line in run(["llvm-dwarfdump", "--debug-line", path]).stdout.splitlines():
        m = re.match(r"debug_line\[0x([0-9a-f]{8})\]", line)
        if m:
            table = tables[int(m.group(1), 16)] = dict(lengths=[], includes=[], files=[],
                                                       rows=[])
            continue
        if table is None:
            continue
        m = re.match(r"\s*(total_length|version|prologue_length|min_inst_length|default_is_stmt|"
                     r"line_base|line_range|opcode_base): (-?0x[0-9a-f]+|-?\d+)$", line)
        if m:
            table[m.group(1)] = int(m.group(2), 0)
        m = re.match(r"standard_opcode_lengths\[\w+\] = (\d+)$", line)
        if m:
            table["lengths"].append(int(m.group(1)))
        m = re.match(r'include_directories\[\s*\d+\] = "(.*)"$', line)
        if m:
            table["includes"].append(m.group(1))
        m = re.match(r"file_names\[\s*\d+\]:$", line)
        if m:
            file_entry = [None, None, None, None]
            table["files"].append(file_entry)
        for k, key in enumerate(("name", "dir_index", "mod_time", "length")):
            m = re.match(r"\s+%s: (.*)$" % key, line)
            if m and file_entry is not None:
                file_entry[k] = m.group(1)[1:-1] if key == "name" else int(m.group(1), 0)
        m = re.match(r"0x([0-9a-f]{16})\s+(\d+)\s+(\d+)\s+(\d+)\s+\d+\s+\d+\s*(.*)$", line)
        if m:
            flags = m.group(5).split()
            table["rows"].append((int(m.group(1), 16), int(m.group(2)), int(m.group(3)),
                                  int(m.group(4)), "is_stmt" in flags, "end_sequence" in flags))
    for table in tables.values():
        table["files"] = [tuple(f) for f in table["files"]]
    return tables
