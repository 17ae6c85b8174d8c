#!/usr/bin/env python3
"""Writes the hand-made samples field by field from the record layouts (no tool chain
writes these targets any more): coff/m68k/types.cof (Motorola 68K, every storage class
and type word), coff/pic30/small.cof (PIC30, AOUT optional header), icoff/small.cof,
cod/small.cod, and damaged copies of them (and of pic/blink.cof) in */bad/, one fault
each (damaged_variants). Run from anywhere: they are written under this script's tree.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.dirname(HERE)


def write(path, data):
    path = os.path.join(DATA, path)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


class Coff:
    """A COFF file of one byte order: header, optional header, section headers, contents,
    line entries, symbols (with auxiliary entries), string table."""

    def __init__(self, magic, big, line_size, flags, timdat, opt=b""):
        self.e = ">" if big else "<"
        self.magic, self.line_size, self.flags, self.timdat = magic, line_size, flags, timdat
        self.opt = opt
        self.sections = []  # (name, paddr, size, flags, contents, lines)
        self.symbols = []  # 18-byte entries
        self.strings = b""

    def name_field(self, name):
        raw = name.encode()
        if len(raw) <= 8:
            return raw.ljust(8, b"\0")
        offset = 4 + len(self.strings)
        self.strings += raw + b"\0"
        return struct.pack(self.e + "II", 0, offset)

    def section(self, name, paddr, size, flags, contents=b"", lines=()):
        self.sections.append((name, paddr, size, flags, contents, list(lines)))

    def symbol(self, name, value, scnum, type_, sclass, aux=()):
        self.symbols.append(self.name_field(name) +
                            struct.pack(self.e + "IhHBB", value, scnum, type_, sclass & 0xFF,
                                        len(aux)))
        for a in aux:
            assert len(a) == 18
            self.symbols.append(a)
        return len(self.symbols) - 1 - len(aux)

    def aux(self, tag=0, line=0, size=0, d8=b"\0" * 4, next_=0):
        # Tag, line, size, then 8 bytes of dimensions or a line pointer and the next index.
        tail = d8 if len(d8) == 8 else d8 + struct.pack(self.e + "I", next_)
        return struct.pack(self.e + "IHH", tag, line, size) + tail + b"\0\0"

    def dims(self, *d):
        d = list(d) + [0] * (4 - len(d))
        return struct.pack(self.e + "HHHH", *d)

    def build(self):
        e = self.e
        n = len(self.sections)
        offset = 20 + len(self.opt) + 40 * n
        layout = []
        for name, paddr, size, flags, contents, lines in self.sections:
            scnptr = offset if contents else 0
            offset += len(contents)
            layout.append(scnptr)
        line_ptrs = []
        for s in self.sections:
            line_ptrs.append(offset if s[5] else 0)
            offset += self.line_size * len(s[5])
        symptr = offset
        out = bytearray()
        out += struct.pack(">H", self.magic)
        out += struct.pack(e + "HIIIHH", n, self.timdat, symptr, len(self.symbols),
                           len(self.opt), self.flags)
        out += self.opt
        for (name, paddr, size, flags, contents, lines), scnptr, lnnoptr in zip(
                self.sections, layout, line_ptrs):
            out += name.encode().ljust(8, b"\0")[:8]
            out += struct.pack(e + "IIIIIIHHI", paddr, paddr, size, scnptr, 0, lnnoptr, 0,
                               len(lines), flags)
        for s in self.sections:
            out += s[4]
        for s in self.sections:
            for address, line in s[5]:
                if self.line_size == 6:
                    out += struct.pack(e + "IH", address, line)
                else:
                    out += struct.pack(e + "II", address, line)
        assert len(out) == symptr
        for entry in self.symbols:
            out += entry
        out += struct.pack(e + "I", 4 + len(self.strings)) + self.strings
        return bytes(out)


def m68k_types():
    c = Coff(0x0150, True, 6, 0x0203, 1000000000)
    text = bytes(range(0x10, 0x30))
    data = b"\x12\x34\x56\x78" + b"hello\0\0\0"
    c.section(".text", 0x1000, len(text), 0x20, text)
    c.section(".data", 0x2000, len(data), 0x40, data)
    c.section(".bss", 0x3000, 0x40, 0x80)
    # 0: the file, its name in the auxiliary entry.
    c.symbol(".file", 0, -2, 0, 103, [b"types.c".ljust(18, b"\0")])
    # 2: a function returning int, with .bf/.bb/.eb/.ef.
    main = c.symbol("_main", 0x1000, 1, 0x24, 2,
                    [c.aux(0, 0, 0x20, struct.pack(">I", 0x200), 14)])
    c.symbol(".bf", 0x1000, 1, 0, 101, [c.aux(0, 10, 0, next_=14)])
    c.symbol(".bb", 0x1004, 1, 0, 100, [c.aux(0, 11, 0, next_=8)])
    c.symbol(".eb", 0x1008, 1, 0, 100, [c.aux(0, 12, 0)])
    c.symbol(".ef", 0x100E, 1, 0, 101, [c.aux(0, 13, 0)])
    # 12: an automatic variable, a register variable and an argument.
    c.symbol("count", 4, -1, 4, 1)
    c.symbol("index", 3, -1, 13, 4)
    c.symbol("argument", 8, -1, 0x12, 9)  # pointer to char
    # 15: a structure tag with two members, a bit field and the end of structure.
    tag = c.symbol("point", 0, -2, 0, 10, [c.aux(0, 0, 6, next_=22)])
    c.symbol("x", 0, -2, 3, 8)
    c.symbol("y", 2, -2, 3, 8)
    c.symbol("flag", 32, -2, 12, 18, [c.aux(0, 0, 3)])
    c.symbol(".eos", 6, -1, 0, 102, [c.aux(tag, 0, 6)])
    # 22: variables of structure, array, two-dimensional array and pointer types.
    c.symbol("origin", 0x2000, 2, 8, 2, [c.aux(tag, 0, 6)])
    c.symbol("table_of_values", 0x2004, 2, 0x34, 3, [c.aux(0, 0, 40, c.dims(10))])
    c.symbol("grid", 0x3000, 3, 0xF3, 2, [c.aux(0, 0, 24, c.dims(3, 4))])
    c.symbol("cursor", 0x3018, 3, 0x12, 3)
    c.symbol("points", 0x3020, 3, 0x38, 2, [c.aux(tag, 0, 12, c.dims(2))])
    # An enumeration, a typedef, a label, a weak symbol, absolute and undefined ones.
    c.symbol("colour", 0, -2, 0, 15, [c.aux(0, 0, 1, next_=40)])
    c.symbol("red", 0, -2, 11, 16)
    c.symbol("word_t", 0, -2, 13, 13)
    c.symbol("loop", 0x1006, 1, 0, 6)
    c.symbol("maybe", 0x1008, 1, 0x24, 127)
    c.symbol("IO_PORT", 0xFF00, -1, 0, 2)
    c.symbol("external_function", 0, 0, 0, 2)
    c.symbol("missing", 0, 0, 0, 7)
    c.symbol("_main", 0x100F, 1, 0, -1)
    c.symbol("odd", 0, 0, 0, 50)
    # A second file, named by the entry itself, with a static function of its own.
    util = c.symbol("util.c", 0, -2, 0, 103)
    helper = c.symbol("helper", 0x1010, 1, 0x24, 3)
    # A line before any marker has no file; a marker naming a file entry selects that
    # file, one naming a function leaves the file as it is.
    c.sections[0][5].extend([(0x1000, 9), (0, 0), (0x1000, 10), (0x1004, 11), (main, 0),
                             (0x1008, 20), (util, 0), (0x1010, 30), (helper, 0),
                             (0x1012, 31)])
    return c.build()


def pic30_small():
    opt = struct.pack("<HHIIIIII", 0x010B, 0x0100, 0x10, 4, 8, 0x200, 0x200, 0x800)
    c = Coff(0x3612, False, 8, 0x0103, 1000000000, opt)
    text = bytes([0x00, 0x00, 0x04, 0x00, 0x12, 0x34, 0x56, 0x00, 0xAA, 0xBB, 0xCC, 0x00,
                  0x11, 0x22, 0x33, 0x00])
    c.section(".text", 0x100, len(text), 0x20, text,
              lines=[(0, 0), (0x100, 5), (0x102, 6), (0x104, 7)])
    c.section(".nbss", 0x800, 0x20, 0x80)
    c.symbol(".file", 0, -2, 0, 103, [b"small.c".ljust(18, b"\0")])
    c.symbol("__reset", 0x100, 1, 0x24, 2, [c.aux(0, 0, 16, struct.pack("<I", 0), 4)])
    c.symbol("_counter", 0x800, 2, 14, 2)
    c.symbol("_very_long_counter_name", 0x802, 2, 0x34, 3, [c.aux(0, 0, 8, c.dims(4))])
    return c.build()


def icoff_small():
    # Big-endian; names as string-table offsets; no size field on the string table.
    names = sorted({"main.c", "util.c", "_main", "_helper", "counter", "loop", "TEXT_SIZE",
                    "int", "i", "n"})
    strings = b"\0"
    offsets = {}
    for n in names:
        offsets[n] = len(strings)
        strings += n.encode() + b"\0"
    text = bytes(range(0x40, 0x60))
    data = b"\x00\x2A\x00\x00"
    sections = [("text", 0x400, len(text), 0x4020, text), ("DATA", 0x800, 4, 0x4040, data),
                ("bss", 0x900, 0x10, 0x4080, b"")]
    symbols = []

    def sym(name, value, section, kind, type_=0):
        symbols.append(struct.pack(">IIIhHBB", offsets[name], value, 0, section, 0, kind, type_))
        return len(symbols) - 1

    f_main = sym("main.c", 0, 0, 55)
    sym("_main", 0x400, 1, 1, 0x10 | 5)
    # A section number stored in all four bytes of the field.
    symbols.append(struct.pack(">IIIhHBB", offsets["loop"], 0x408, 0, 0, 1, 3, 0))
    sym("counter", 0x800, 2, 2, 0x1C)
    sym("TEXT_SIZE", 0x20, 1, 9)
    sym("int", 0, 0, 20, 5)
    sym("i", 4, 0, 50, 0x14)
    sym("n", 6, 0, 51, 0x24)
    f_util = sym("util.c", 0, 0, 55)
    sym("_helper", 0x410, 1, 1, 0x8A)
    sym("_helper", 0x418, -1, 6)
    sym("_helper", 0, 0, 77)
    lines = [(f_main, 0), (0x400, 3), (0x404, 4), (f_util, 0), (0x410, 8), (0x414, 9)]
    nscns = len(sections)
    offset = 20 + 40 * nscns
    body = b"".join(s[4] for s in sections)
    # Lay the line entries after the contents, then the symbols and strings.
    line_offset = offset + len(body)
    line_bytes = b"".join(struct.pack(">IH", a, l) for a, l in lines)
    symptr = line_offset + len(line_bytes)
    headers = b""
    running = offset
    for name, paddr, size, flags, contents in sections:
        scnptr = running if contents else 0
        running += len(contents)
        lnnoptr, nlnno = (line_offset, len(lines)) if name == "text" else (0, 0)
        headers += name.encode().ljust(8, b"\0") + struct.pack(
            ">IIIIIIHHI", paddr, paddr, size, scnptr, 0, lnnoptr, 0, nlnno, flags)
    header = struct.pack(">HHIIIHH", 0x0181, nscns, 1000000000, symptr, len(symbols), 0, 0x1003)
    return header + headers + body + line_bytes + b"".join(symbols) + strings


def pascal(text, width):
    raw = text.encode()[:width - 1]
    return (bytes([len(raw)]) + raw).ljust(width, b"\0")


def cod_small():
    block = 512
    directory = bytearray(block)
    pages = {0: bytes((k * 7) & 0xFF for k in range(block)),
             1: bytes([0x30, 0x28, 0x0C, 0x00]).ljust(block, b"\0")}
    blocks = [None]  # block 0 is the directory
    for page in sorted(pages):
        struct.pack_into("<H", directory, 2 * page, len(blocks))
        blocks.append(pages[page])

    def table(first_entries):
        first = len(blocks)
        data = b"".join(first_entries)
        for at in range(0, max(len(data), 1), block):
            blocks.append(data[at:at + block].ljust(block, b"\0"))
        return first, len(blocks) - 1

    def short(name, type_, value):
        return pascal(name, 13) + struct.pack("<BH", type_, value)

    symbols = [short("COUNTER", 4, 0x20), short("MAIN", 46, 0x0000),
               short("A_VERY_LONG_NAME", 145, 0x1234), short("ZERO_TYPE", 0, 5),
               short("BEYOND", 200, 0xFFFF), short("", 3, 7), short("TWELVECHARS_", 183, 1)]
    sym_first, sym_last = table(symbols)
    local_records = [pascal("__LOCAL", 8) + struct.pack("<HHHH", 0x0002, 0, 0x0016, 0),
                     short("i", 2, 0x30), short("ptr", 6, 0x31)]
    loc_first, loc_last = table(local_records)
    names = [pascal("main.c", 64), pascal("C:\\include\\pic.h", 64)]
    nam_first, nam_last = table(names)
    lines = [struct.pack("<BBHH", 0, 0xFF, 0, 0), struct.pack("<BBHH", 0, 0x90, 1, 0),
             struct.pack("<BBHH", 0, 0x80, 2, 0x0001), struct.pack("<BBHH", 0, 0x00, 2, 0x0002),
             struct.pack("<BBHH", 1, 0xFF, 0, 0), struct.pack("<BBHH", 1, 0x80, 40, 0x0003),
             struct.pack("<BBHH", 5, 0x80, 41, 0x0004)]
    line_data = b"".join(lines).ljust(85 * 6, b"\0") + b"\0\0"
    lst_first = len(blocks)
    blocks.append(line_data)
    second = struct.pack("<BBHH", 0, 0x80, 3, 0x0005).ljust(85 * 6, b"\0") + b"\0\0"
    blocks.append(second)
    lst_last = len(blocks) - 1

    directory[256:320] = pascal("small.cod", 64)
    directory[320:328] = pascal("08Sep01", 8)
    struct.pack_into("<H", directory, 328, 1432)
    directory[330:350] = pascal("9.60", 20)
    directory[350:362] = pascal("NORVALE", 12)
    directory[362:426] = pascal("hand-made sample for the dump", 64)
    struct.pack_into("<HHHHHH", directory, 426, sym_first, sym_last, nam_first, nam_last,
                     lst_first, lst_last)
    directory[438] = 0
    struct.pack_into("<HH", directory, 439, 0x12, 0)
    struct.pack_into("<HHHHH", directory, 443, 0, 0, loc_first, loc_last, 1)
    directory[453:462] = pascal("16F877A", 9)
    blocks[0] = bytes(directory)
    return b"".join(blocks)


def patched(data, *changes):  # a copy with (offset, bytes) replacements
    out = bytearray(data)
    for offset, raw in changes:
        out[offset:offset + len(raw)] = raw
    return bytes(out)


def damaged_variants(types, blink, icoff, cod):
    symptr, nsyms = struct.unpack(">II", types[8:16])
    strtab = symptr + 18 * nsyms
    text_header = 20
    last_symbol = symptr + 18 * (nsyms - 1)
    # The offset field of the first long name ("table_of_values", symbol 25).
    long_name = symptr + 18 * 25 + 4
    yield "coff/bad/short-header.cof", types[:12]
    yield "coff/bad/strsize3.cof", patched(types, (strtab, struct.pack(">I", 3)))
    yield "coff/bad/strsize-huge.cof", patched(types, (strtab, struct.pack(">I", 0x7FFFFFFF)))
    yield "coff/bad/nsyms-huge.cof", patched(types, (12, struct.pack(">I", 0x7FFFFFF0)))
    yield "coff/bad/aux-past-end.cof", patched(types, (last_symbol + 17, b"\x03"))
    yield "coff/bad/data-past-end.cof", patched(types, (text_header + 20, struct.pack(">I", 0x10000)))
    yield "coff/bad/lines-past-end.cof", patched(types, (text_header + 34, struct.pack(">H", 0xFFFF)))
    yield "coff/bad/name-offset.cof", patched(types, (long_name, struct.pack(">I", 0x10000)))
    yield "coff/bad/nscns-1001.cof", patched(types, (2, struct.pack(">H", 1001)))
    # Microchip: no ROM width in the optional header; no optional header at all.
    yield "pic/bad/no-rom-width.cof", patched(blink, (20 + 10, struct.pack("<I", 0)))
    yield "pic/bad/opthdr-0.cof", patched(blink, (16, struct.pack("<H", 0)))
    isymptr = struct.unpack(">I", icoff[8:12])[0]
    yield "icoff/bad/symptr-past-end.cof", patched(icoff, (8, struct.pack(">I", 0x10000)))
    yield "icoff/bad/truncated.cof", icoff[:isymptr + 18 * 3 + 5]
    yield "cod/bad/short.cod", cod[:300]
    # The directory and the first code page only: the second page, the symbol table
    # and everything after it are missing.
    yield "cod/bad/truncated.cod", cod[:1024]


if __name__ == "__main__":
    types = m68k_types()
    write("coff/m68k/types.cof", types)
    write("coff/pic30/small.cof", pic30_small())
    icoff = icoff_small()
    write("icoff/small.cof", icoff)
    cod = cod_small()
    write("cod/small.cod", cod)
    with open(os.path.join(DATA, "pic/blink.cof"), "rb") as f:
        blink = f.read()
    for path, data in damaged_variants(types, blink, icoff, cod):
        write(path, data)
