"""Readers of symvert's own output for the peer checks: the verbose summary (-v -v)
of what a run read, and Intel HEX files."""
import re


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
