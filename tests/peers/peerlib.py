"""What the peer checks share: the command line they are run with, running symvert and
the peers, skipping when a peer is missing, readers of symvert's own output (the -v -v
summary, Intel HEX files, the COFF dumps, symbol files) and of the peers' output
(objdump, gpvo, gpvc)."""
import argparse
import collections
import os
import re
import shutil
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
