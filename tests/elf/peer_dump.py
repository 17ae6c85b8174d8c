#!/usr/bin/env python3
"""Peer check: symvert's dump of ELF files with DWARF 2 to 5 (-d -v -v -v) shows what
readelf and llvm-dwarfdump read in tests/data/elfreal (gcc, clang and sdcc output, split
DWARF's .dwo files too): ELF header, string tables, sections, symbols, program headers;
the DWARF sections named, strings, string offsets, addresses, abbreviations, every unit
(type units too) with every entry and attribute value, line programs (header, files,
opcodes, rows), frames, name-lookup and address-range sets, macros (.debug_macinfo,
.debug_macro), the name index, location and range lists. Both sides are normalised to
value lists; where they show a value otherwise: the peers read a copy without relocation
sections (they apply relocations, the dump shows the stored bytes); readelf adds base
addresses to list ranges and shows a section symbol by its section's name; llvm shows the
line an advance_line reaches and names what some values refer to (left to readelf). Names
are compared as printed, but for values the dump shows by number ("?? 0x..."): a
vendor's in a version 2 unit, a later version's in an earlier one (DW_OP_stack_value in
version 3, DW_AT_alignment in version 4), which stand for any name. Where the peers name
a GNU value differently the dump follows readelf: GNU's macro units of version 4 take the
names of version 5 (llvm: DW_MACRO_GNU_define_indirect, ...; LLVM_MACROS)."""
import os
import re
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from peer_harness import Check, values  # noqa: E402

SAMPLES = "arm-O0.elf arm-O2.elf arm-g3.elf mips.o hc08.elf arm-v3.elf arm-v4.elf arm-v5.elf " \
    "arm-g3-v5.elf arm-split-v5.o mips-be.o clang-v5.o arm-g3-v4.elf arm-split-v4.o arm-split-v4.dwo "\
    "arm-split-v5.dwo arm-cxx-v4.elf arm-cxx-v5.elf clang-cxx-v5.o mips-be-v4.elf".split()
KNOWN = [".debug_" + s for s in "str abbrev info line frame pubnames pubtypes aranges macinfo "
         "loc ranges str_offsets line_str addr rnglists loclists types macro names".split()]
# readelf's words for ELF values.
FILE_TYPES = dict(NONE=0, REL=1, EXEC=2, DYN=3, CORE=4)
MACHINES = {"None": 0, "MIPS R3000": 8, "ARM": 40, "Motorola MC68HC08 Microcontroller": 71,
            "Microchip Technology dsPIC30F Digital Signal Controller": 118}
SECTION_TYPES = dict(NULL=0, PROGBITS=1, SYMTAB=2, STRTAB=3, RELA=4, NOTE=7, NOBITS=8, REL=9,
                     GNU_ATTRIBUTES=0x6FFFFFF5, ARM_EXIDX=0x70000001, ARM_ATTRIBUTES=0x70000003,
                     MIPS_REGINFO=0x70000006, MIPS_DWARF=0x7000001E, MIPS_ABIFLAGS=0x7000002A)
SEGMENT_TYPES = dict(NULL=0, LOAD=1, NOTE=4, PHDR=6, GNU_STACK=0x6474E551, REGINFO=0x70000000,
                     ABIFLAGS=0x70000003)
SYMBOL = dict(NOTYPE=0, OBJECT=1, FUNC=2, SECTION=3, FILE=4, LOCAL=0, GLOBAL=1, WEAK=2,
              DEFAULT=0, INTERNAL=1, HIDDEN=2, PROTECTED=3, UND=0, ABS=0xFFF1, COM=0xFFF2)
LLVM_MACROS = dict(GNU_define_indirect="define_strp", GNU_undef_indirect="undef_strp",
                   GNU_transparent_include="import")
NAMED = ("language", "encoding", "inline")  # the dump names their values
LOCATIONS = "location frame_base data_member_location string_length return_addr segment " \
    "static_link use_location vtable_elem_location".split()


# A string table as the dump shows it, and as readelf -p does.
STRINGS = ((r'0x(\w{8}): "(.+)"$', lambda m: (int(m[1], 16), m[2])),), (
    (r"\s+\[\s*(\w+)\]  (.*)$", lambda m: (int(m[1], 16), m[2])),)


def name(text):
    """A DWARF name without its DW_XX_ prefix, "_" for blanks; None (any) for "?? 0x..."."""
    return None if text.strip().startswith("??") else re.sub(r"^DW_[A-Z]+_", "", text.strip()).replace(" ", "_")


def numbers(text):
    """The numbers of a text: r12 gives 12, 0x1F 31, -4 -4."""
    return [int(a) if a else int(b, 16 if "x" in b else 10) for a, b in
            re.findall(r"\br(\d+)\b|(-?0x[0-9A-Fa-f]+|-?\b\d+)", text)]


def parts(text):
    """The dump cut at its headings: heading -> text (None: reported missing)."""
    pieces = re.split(r"^(?:(ELF header|String table|Sections|Program Headers)|[A-Z][a-z ]+ \((\.debug_\w+)"
                      r"(?:\.dwo)?\)):$|^No .* \(from (\.debug_\w+)(?:\.dwo)?\)$", text, flags=re.M)
    return {a or b or c: None if c else body for a, b, c, body in zip(*[iter(pieces[1:])] * 4)}


def retyped(path, copy, change=lambda label, kind: 0x80000000 if kind in (4, 9) else kind):
    """A copy of an ELF file, each section's sh_type made change(name, sh_type); by default
    REL and RELA sections get a type the peers do not apply (the dump shows stored bytes)."""
    raw = bytearray(open(path, "rb").read())
    order = "<" if raw[5] == 1 else ">"
    field = lambda fmt, at: struct.unpack_from(order + fmt, raw, at)[0]
    shoff, count, names = field("I", 32), field("H", 48), field("H", 50)
    strings = field("I", shoff + 40 * names + 16)
    for header in range(shoff, shoff + 40 * count, 40):
        start = strings + field("I", header)
        label = raw[start:raw.index(0, start)].decode("latin-1")
        struct.pack_into(order + "I", raw, header + 4, change(label, field("I", header + 4)))
    open(copy, "wb").write(raw)
    return copy


def shown(text):
    """The number of a value the dump shows as "NAME (0xN)" or "0xN"; None when cut."""
    m = re.search(r"(?:^|\()(0x\w+)\)?$", text.strip())
    return int(m[1], 16) if m else None


# ---- The ELF part, against readelf ----

def elf_values(check, where, dump, path):
    """The header, strings, sections with their symbols, program headers."""
    readelf = lambda *o: check.run(["readelf", "-W"] + list(o) + [path]).stdout
    head = dict(re.findall(r"^\s+([^:\n]+):\s+(.*?)\s*$", readelf("-h"), re.M))
    n = lambda key: int(head[key].split()[0], 0)
    want = list(bytes.fromhex(head["Magic"])[4:8]) + [FILE_TYPES[head["Type"].split()[0]], MACHINES.get(
        head["Machine"])] + [n(w % k) for k in ("program", "section") for w in (
            "Number of %s headers", "Size of %s headers", "Start of %s headers")] + [
        n("Section header string table index"), n("Entry point address")]
    check.same(where + ": ELF header", values(dump.get("ELF header", ""), (r"\t[^:]+:\s+(.*)$", lambda m: [
        shown(m[1])] if shown(m[1]) is not None else numbers(m[1]))), want)
    sections = values(readelf("-S"), (r"\s*\[\s*(\d+)\] (.*?)\s+(\S+)\s+(\w{8}) (\w+) (\w+) \w+ "
                                      r"([WAXMSILOGTCxEp ]*?)\s*(\d+)\s+(\d+)\s+(\d+)$",))
    strings = lambda t: values(readelf("-p", t), *STRINGS[1])
    check.same(where + ": strings", values(dump.get("String table", ""), (r"(\w{8}): (.+)$", lambda m: (
        int(m[1], 16), m[2]))), strings(".strtab") + strings(sections[n("Section header string table index")][1]))
    symbols, table = {}, None
    for m in re.finditer(r"^Symbol table '(.*)'|^\s*\d+: (\w{8})\s+(\S+) (\w+)\s+(\w+)\s+(\w+)(?:\s+\[[^]]*\])?"
                         r"\s+(\w+) ?(.*)$", readelf("-s"), re.M):
        table = symbols.setdefault(m[1], []) if m[1] else table
        if m[2]:  # readelf names a section symbol after its section
            table += [("sym", None if m[4] == "SECTION" else m[8], int(m[2], 16), int(m[3], 0), SYMBOL[m[5]],
                       SYMBOL[m[4]], SYMBOL[m[6]], SYMBOL.get(m[7]) if m[7] in SYMBOL else int(m[7]))]
    want = []
    for k, label, kind, address, offset, size, flags, link, info, align in sections:
        want += [(int(k), label[:20], SECTION_TYPES[kind], int(address, 16), int(size, 16), int(link),
                  int(offset, 16), int(info), int(align), "".join(f for f in "WAX" if f in flags))]
        want += symbols.get(label, [])
    check.same(where + ": sections and symbols", values(dump.get("Sections", ""), (
        r"([0-9A-F]{4})  (.{20}) (.{30})((?: [0-9A-F]{8}){6})(.*)$", lambda m: (
            int(m[1], 16), m[2].rstrip(), shown(m[3]), *[int(v, 16) for v in m[4].split()],
            "".join(w[0] for w in m[5].split()).replace("E", "X"))),
        (r"\t(.*?) *  0x(\w{8})  (-?\d+) *  \S.*?\((0x\w+)\)/.*\((0x\w+)\)  0x(\w+)  0x(\w+)$", lambda m: (
            "sym", m[1], int(m[2], 16), int(m[3]), int(m[4], 16), int(m[5], 16), int(m[6], 16) & 3,
            int(m[7], 16)))), want)
    check.same(where + ": program headers", values(dump.get("Program Headers", ""), (
        r"[0-9A-F]{4}  (.{36})((?: [0-9A-F]{8}){4}) ([r-][w-][x-]) ([0-9A-F]{8})$", lambda m: (
            shown(m[1]), *[int(v, 16) for v in m[2].split()], m[3], int(m[4], 16)))),
        values(readelf("-l"), (r"\s+(\w+)\s+0x(\w+) 0x(\w+) 0x(\w+) 0x(\w+) 0x(\w+) ([RWE ]{3}) (0x\w+|\d+)$",
                               lambda m: [(SEGMENT_TYPES[m[1]], *[int(v, 16) for v in m.groups()[2:6]], "".join(
                                   f if f in m[7] else "-" for f in "RWE").lower().replace("e", "x"), int(
                                       m[8], 0))])))


# ---- The DWARF part: entries ----

def dump_value(form, attribute, text, unit):
    text = re.sub(r"^\?\? Invalid address index: ", "", text)  # a split unit's file has no addresses
    m = re.match(r'"(.*)"$|(true|false)$|(?:(.*) \()?(0x\w+|-?\d+)\)?$', text)
    if not m or m[1] is not None or m[2]:
        return m[1].rstrip() if m and m[1] is not None else int(m[2] == "true") if m else text
    number = int(m[4], 0 if "x" in m[4] else 10) + (unit if re.match(r"ref\d|ref_u", form) else 0)
    return (number, m[3] and m[3].lower().replace(" ", "_")) if attribute in NAMED else number


def readelf_value(form, attribute, text):
    m = re.match(r"\(offset: \w+\): (.*)|(\d+) byte block|\(index: (\w+)\): (\w+)|"
                 r"<?(-?0x[0-9a-f]+|-?\d+)", text)
    if form.startswith(("str", "line_str", "GNU_str")):
        return (m[1] if m and m[1] is not None else text).rstrip()
    if m and (m[2] or m[3]):  # a block's length; of an index, the dump shows an address
        return int(m[2] or m[4 if form.startswith("addrx") else 3], 0)
    return None if not m else (int(m[5], 0), None) if attribute in NAMED else int(m[5], 0)


def llvm_value(form, attribute, text):
    m = re.search(r'= "(.*)"|^"(.*)"|\{(0x\w+)\}|^(true|0x0*1)\)?$|^DW_[A-Z]+_(\w+)\)|^<(0x\w+)>|'
                  r"^(-?0x[0-9a-f]+|-?\d+)(?::|\)?$)", text)
    if not m or attribute in ("decl_file", "call_file") or "indexed (" in text and m[1] is None:
        return None
    if m[1] is not None or m[2] is not None:
        return (m[1] if m[1] is not None else m[2]).rstrip()
    if m[5]:
        return (None, m[5].lower()) if attribute in NAMED else None
    return 1 if m[4] else None if form == "exprloc" else int(m[3] or m[6] or m[7], 0)


def dump_entries(text):
    """Units, entries and attributes; the list bases: offset -> its unit's low pc."""
    found, unit, bases, low, depth = [], 0, {}, None, 0
    for m in re.finditer(r"^Compilation Unit \d+ @ 0x(\w+)$|^size=(\d+) ver=0x(\w+) (?:unit type=\S+ )?"
                         r"abbrev offset=0x(\w+), addrsize=(\d+)((?: [a-z ]+=0x\w+)*)$|^( *)\+(.*) \((\d+)\)"
                         r" @ 0x\w+ \(0x(\w+)\)$|^ *(\S[^\[]*)\[([^\]]+)\] = (.*)$", text, re.M):
        if m[1]:
            unit, low = int(m[1], 16), None
        elif m[2]:  # with a type unit's signature and type offset, a split unit's id
            found.append(("unit", unit, int(m[2]), int(m[3], 16), int(m[4], 16), int(m[5]), *numbers(m[6])))
        elif m[8]:
            depth = len(m[7]) // 2
            found.append(("die", depth, int(m[10], 16), int(m[9]), name(m[8])))
        else:
            attribute, form = name(m[11]), name(m[12])
            found.append(("at", attribute, form, dump_value(form, attribute, m[13], unit)))
            low = found[-1][3] if attribute == "low_pc" and depth == 0 else low
            if attribute in LOCATIONS and form in ("sec_offset", "data4"):
                bases.setdefault(found[-1][3], low or 0)
    return found, bases


# readelf's and llvm's units, entries and attributes.
READELF_UNITS = (r"Compilation Unit @ offset (\w+):\n\s+Length:\s+(\w+).*\n\s+Version:\s+(\d+)\n"
                 r"(?:\s+Unit Type:.*\n)?\s+Abbrev Offset:\s+(\w+)\n\s+Pointer Size:\s+(\d+)"
                 r"(?:\n\s+(?:Signature|DWO ID):\s+(\w+))?"
                 r"(?:\n\s+Type Offset:\s+(\w+))?", r"UNIT \1 \2 \3 \4 \5 \6 \7")
READELF_ENTRIES = ((r"\s*UNIT (.*)", lambda m: ("unit", *[int(v, 0) for v in m[1].split()])),
                   (r"\s*<(\d+)><(\w+)>: Abbrev Number: ([1-9]\d*) \(DW_TAG_(\w+)\)",
                    lambda m: ("die", int(m[1]), int(m[2], 16), int(m[3]), m[4])),
                   (r"\s*<\w+>\s+DW_AT_(\w+)\s*: \((\w+)\) ?(.*)$", lambda m: (
                       "at", m[1], m[2], readelf_value(m[2], m[1], m[3]))))
LLVM_ENTRIES = ((r"0x(\w+): \w+ Unit: length = (\w+), format = DWARF32, version = (\w+),(?: unit_type = \w+,)? "
                 r"abbr_offset = (\w+), addr_size = (\w+)(?:, name = '.*')?(?:, (?:type_signature|DWO_id) = (\w+))?"
                 r"(?:, type_offset = (\w+))?", lambda m: ("unit", *[int(v, 16) for v in m.groups() if v])),
                (r"0x(\w+):( +)DW_TAG_(\w+) \[(\d+)\]", lambda m: (
                    "die", (len(m[2]) - 1) // 2, int(m[1], 16), int(m[4]), m[3])),
                (r"\s+DW_AT_(\w+) \[DW_FORM_(\w+)\]\t\((.*)$", lambda m: (
                    "at", m[1], m[2], llvm_value(m[2], m[1], m[3]))))


# ---- The DWARF part: the other sections ----

def operations(text, separator):
    """Operations as (name, first numbers): an entry value's expression is left out."""
    found = []
    for op in re.split(separator, text) if text.strip() else []:
        op = re.sub(r"\((r\d+|[a-z]\w*)\)", "", op).strip()
        word, rest = re.match(r"(\?\? 0x\w+|<decoding error>|[^\s(:]+):?(.*)", op).groups()
        word, rest = (None, None) if "decoding" in word else (name(word), rest)  # llvm knows no such operation
        rest = re.sub(r"\b([0-9a-f]+)\b", r"0x\1", rest) if word == "addr" else rest
        found.append(("op", word, None if rest is None or "entry_value" in (word or "") else numbers(rest)))
    return found


def dump_lists(text, bases, addresses):
    """The dump's location or range lists as readelf shows them: addresses, not offsets."""
    text = re.sub(r"^ *views=(\d+)\.\.(\d+)$", r"  DW_LLE_view_pair(\1, \2)", text, flags=re.M)
    text = re.sub(r"^(range|base)=(0x\w+)(?:\.\.(0x\w+))?.*", lambda m: "  DW_LLE_%s(%s)" % (
        "offset_pair" if m[1] == "range" else "base_address", ", ".join(filter(None, m.groups()[1:]))),
        text, flags=re.M)
    found, base = [], 0
    for m in re.finditer(r"^(Set \d+|List) @ 0x(\w+)|^  offset +(\d+): 0x(\w+)|^  DW_[LR]LE_(\w+)(?:\((.*?)\))?|"
                         r"^  (.*)$", text, re.M):
        kind, v = re.sub(r"^GNU_|_entry$", "", m[5] or ""), numbers(m[6] or "")
        x = lambda k: addresses.get(v[k], v[k]) if "x" in kind else v[k]
        if m[1]:
            base = bases.get(int(m[2], 16), 0)
            found += [("list", int(m[2], 16))] if m[1] == "List" else []
        elif m[3]:
            found.append(("offset", int(m[3]), int(m[4], 16)))
        elif kind == "view_pair":
            found.append(("views", *v))
        elif kind.startswith("base"):
            base = addresses.get(v[0], 0) if "x" in kind else v[0]  # 0 as readelf, when the address is elsewhere
            found.append(("base", base))
        elif kind == "offset_pair":
            found.append(("range", base + v[0], base + v[1]))
        elif kind.startswith("start"):
            found.append(("range", x(0), x(0) + v[1] if "length" in kind else x(1)))
        elif m[7]:
            found += operations(m[7], r"\n")
    return found


def readelf_lists(text):
    text = re.sub(r" \(start == end\)| \[without DW_AT_frame_base\]|\w{8} \(base address index\) ", "", text)
    return values(text, (r"\s+Offset: 0x(\w+), Index", lambda m: ("list", int(m[1], 16))),
                  (r"\s+\[\s*(\d+)\] 0x(\w+)$", lambda m: ("offset", int(m[1]), int(m[2], 16))),
                  (r"\s+\w{8} v(\w+) v(\w+) location view pair",
                   lambda m: ("views", int(m[1], 16), int(m[2], 16))),
                  (r"\s+(?:\w{8} )?(\w{8}) \(base address\)", lambda m: ("base", int(m[1], 16))),
                  (r"\s+(?:\w{8} )?(\w{8}) (\w{8})(?: \((DW_OP.*)\)| (DW_OP.*))?\s*$",
                   lambda m: [("range", int(m[1], 16), int(m[2], 16))] + operations(
                       m[3] or m[4] or "", r"; (?![^(]*\))")),
                  (r"\s+\[\s*(\d+)\] (\w{8}) \((DW_OP.*)\)$", lambda m: [("range", int(m[1]), int(m[1]) + int(
                      m[2], 16))] + operations(m[3], r"; (?![^(]*\))")))  # a split unit's: address index, length


def llvm_lists(text):
    """The location lists llvm shows under the attributes that name them by index."""
    return values(text, (r".*\(indexed \(\w+\) loclist = 0x(\w+): *$", lambda m: ("list", int(m[1], 16))),
                  (r"\s+DW_LLE_(\w+) +\((0x\w+), (0x\w+)\)(?:: (.*?))?\)?$", lambda m: [(
                      "range", int(m[2], 16), int(m[3], 16) + int(m[2], 16) * ("length" in m[1]))] + operations(
                      m[4] or "", r", ")))


def compare_lists(check, where, got, want):
    """Lists compared as a whole, or (range lists) those readelf shows, by offset."""
    is_list = lambda v: isinstance(v, tuple) and v[0] == "list"
    if not any(map(is_list, want)):
        return check.same(where, [v for v in got if not is_list(v)], want)
    marks = lambda items: [k for k, v in enumerate(items) if is_list(v)] + [len(items)]
    groups = lambda items: {items[a][1]: items[a + 1:b] for a, b in zip(marks(items), marks(items)[1:])}
    mine = groups(got)
    for offset, entries in groups(want).items():
        check.same("%s list @ 0x%x" % (where, offset), mine.get(offset), entries)


def line_programs(dump, llvm):
    """Line programs' headers, directories, files, opcodes; rows: dump, llvm, rows, rows."""
    keys = dict(size="total_length", ver="version", addrsize="address_size",
                segsize="seg_select_size", prolog="prologue_length", min_len="min_inst_length",
                max_ops="max_ops_per_inst", def_stmt="default_is_stmt", line_base="line_base",
                line_range="line_range", opcode_base="opcode_base")
    op = lambda at, kind, operand: ("op", at, None if "?" in kind else kind, None if re.search(
        r"advance_line|\?", kind) or not operand else numbers(operand)[0])
    got, rows = [], []
    for group in re.split(r"^Group \d+ @ ", dump, flags=re.M)[1:]:
        head, files = (group.split("opcode lengths") + [""])[:2]
        includes, files = (files.split("\nFiles:") + [""])[:2]
        got += [("group", int(group.split()[0], 16))] + [(keys[k], int(v) if v[0] in "-0123456789"
                                                          else int(v == "true"))
                                                         for k, v in re.findall(r"(\w+)=(-?\w+)", head)]
        got += [("length", n) for n in numbers(includes.split("\n")[0])] + [
            ("dir", d) for d in re.findall(r' +\d+\.  "(.*)"', includes)]
        got += values(files.split("Statement program")[0], (r' +\d+\.  "(.*)"', lambda m: ("file", m[1])),
                      (r"\s+dir: *(\d+)(?:, time: .*\((0x\w+)\))?(?:, (\d+) bytes?)?", lambda m: [
                          (k, int(v, 0)) for k, v in zip(("dir_index", "mod_time", "length"),
                                                          m.groups()) if v is not None]))
        got += values(group, (r"(\d{5,}):  SPECIAL\(line=(-?\d+), addr=(-?\d+)\)",
                              lambda m: ("op", int(m[1]), "special", int(m[3]), int(m[2]))),
                      (r"(\d{5,}):  (DW_\w+|\?\? \w+)\s*(?:: (.*))?$", lambda m: op(int(m[1]), m[2], m[3])))
        rows += values(group, (r"\d{5,}:  ([0-9A-F]{16})  (\d+) +(-?\d+) +(-?\d+) +(true|false)",
                               lambda m: (int(m[1], 16), *map(int, m.groups()[1:4]), m[5] == "true")))
    want = values(llvm, (r"debug_line\[0x(\w+)\]", lambda m: ("group", int(m[1], 16))),
                  (r"\s*(%s): (-?0x\w+|-?\d+)$" % "|".join(keys.values()), lambda m: (m[1], int(m[2], 0))),
                  (r"standard_opcode_lengths\[\w+\] = (\d+)", lambda m: ("length", int(m[1]))),
                  (r"include_directories\[ *\d+\] = (?:.*= )?\"(.*)\"", lambda m: ("dir", m[1])),
                  (r"\s+name: (?:.*= )?\"(.*)\"", lambda m: ("file", m[1])),
                  (r"\s+(dir_index|mod_time|length): (\w+)$", lambda m: (m[1], int(m[2], 0))),
                  (r"0x(\w+): \w\w address \+= (\d+),  line \+= (-?\d+)$", lambda m: (
                      "op", int(m[1], 16), "special", int(m[2]), int(m[3]))),
                  (r"0x(\w+): \w\w (DW_\w+)(?: \((.*)\))?$", lambda m: op(
                      int(m[1], 16), m[2], None if "advance_pc" in m[2] else m[3])),
                  (r"\s+0x(\w{16})\s+(\d+)\s+(\d+)\s+(\d+)\s+\d+\s+\d+\s*(.*)$", lambda m: (
                      "row", int(m[1], 16), int(m[4]), int(m[2]), int(m[3]), "is_stmt" in m[5])))
    want_rows = [v[1:] for v in want if v[0] == "row"]
    return got, [v for v in want if v[0] != "row"], rows, want_rows if rows else []


SETS = ((r'  0x(\w+): "(.*)"$', lambda m: (int(m[1], 16), m[2])),
        (r"  0x(\w+)\.\.0x(\w+)$", lambda m: (int(m[1], 16), int(m[2], 16) - int(m[1], 16))),
        (r"size=(.*?)(?: \(flat\))?$", lambda m: ["set"] + numbers(re.sub(r"\w+ ?size=|\w+=", "", m[1])))), (
    (r"\s+Length:\s+(\d+)", lambda m: ["set", int(m[1])]),
    (r"\s+(?:Version|Offset into .debug_info(?: section)?|Size of area in .debug_info section|Pointer Size|"
     r"Segment Size):\s+(\w+)$", lambda m: int(m[1], 0)),
    (r"    (\w+)\s+\t(.*)$", lambda m: (int(m[1], 16), m[2])),
    (r"    (\w{8,}) (\w{8,})\s*$", lambda m: (int(m[1], 16), int(m[2], 16)) if int(m[1] + m[2], 16) else None))


def macro(word, text, strings=True):
    """A macro entry: (name, numbers, string) from '12, "TEXT"', '0, 1', 'lineno : 12 macro : TEXT',
    'lineno: 0 filenum: 1 filename: prog.c', 'offset : 0x26' or 'constant : 3 string : TEXT'."""
    m = re.search(r'"(.*)"$|(?:macro|string) ?: (.*)$', text or "")
    head = re.sub(r"filename: .*|\(with offset \w+\)", "", text[:m.start()] if m else text or "")
    return word, numbers(head), (m[1] if m[1] is not None else m[2]) if m and strings else None


# The name index as the dump shows it and as llvm shows it (readelf shows only its symbol
# table, which llvm shows too).
NAMES = ((r"size=(.*), augmentation=\"(.*)\"$", lambda m: numbers(m[1]) + [m[2]]),
         (r"  (CU|local TU|foreign TU) +(\d+): 0x(\w+)", lambda m: (m[1].replace(" ", "").lower(), int(m[2]),
                                                                 int(m[3], 16))),
         (r"  bucket +(\d+): (\d+)", lambda m: ("bucket", int(m[1]), int(m[2]))),
         (r"  (\d+): (DW_TAG_\w+|\?\? \w+)(.*)", lambda m: [("abbrev", int(m[1])), ("tag", name(m[2]))] + [
             ("idx", name(a), name(f)) for a, f in re.findall(r"(\?\? \w+|\S+)\[([^]]+)\]", m[3])]),
         (r" +(\d+): (?:hash=0x(\w+) )?\"(.*)\" \(0x(\w+)\)", lambda m: [("name", int(m[1]))] + [
             ("hash", int(v, 16)) for v in [m[2]] if v] + [("string", int(m[4], 16), m[3])]),
         (r" +0x(\w+): (DW_TAG_\w+|\?\? \w+)(.*)", lambda m: [("entry", int(m[1], 16)), ("tag", name(m[2]))] + [
             ("idx", name(a), int(v, 16)) for a, v in re.findall(r"(\?\? \w+|\S+)=0x(\w+)", m[3])]))
LLVM_NAMES = ((r"\s+(?:Length|Version|CU count|Local TU count|Foreign TU count|Bucket count|Name count|"
               r"Abbreviations table size): (\w+)$", lambda m: int(m[1], 0)),
              (r"\s+Augmentation: '(.*)'", lambda m: m[1]),
              (r"\s+(CU|LocalTU|ForeignTU)\[(\d+)\]: 0x(\w+)", lambda m: (m[1].lower(), int(m[2]), int(m[3], 16))),
              (r"\s+Bucket (\d+) first (\d*)", lambda m: ("bucket", int(m[1]), int(m[2] or 0))),
              (r"\s+Abbreviation (0x\w+) \{", lambda m: ("abbrev", int(m[1], 16))),
              (r"\s+Tag: DW_TAG_(\w+)", lambda m: ("tag", m[1])),
              (r"\s+DW_IDX_(\w+): (?:DW_FORM_(\w+)|(0x\w+))", lambda m: ("idx", m[1], m[2] or int(m[3], 16))),
              (r"\s+Name (\d+) \{", lambda m: ("name", int(m[1]))),
              (r"\s+Hash: 0x(\w+)", lambda m: ("hash", int(m[1], 16))),
              (r'\s+String: 0x(\w+) "(.*)"', lambda m: ("string", int(m[1], 16), m[2])),
              (r"\s+Entry @ 0x(\w+) \{", lambda m: ("entry", int(m[1], 16))))
# Macro sets and entries as the dump shows them, and as readelf does (which reads a strx
# entry's index without the unit's string offsets base).
MACROS = ((r"Set \d+ @ 0x(\w+)$", lambda m: ("set", int(m[1], 16))),
          (r"ver=(\d+), flags=0x\w+(?:, line offset=0x(\w+))?", lambda m: [("version", int(m[1]))] + [
              ("line", int(v, 16)) for v in [m[2]] if v]),
          (r"  DW_MAC(?:RO|INFO)_(\w+)(?:\((.*)\))?$", lambda m: macro(*m.groups())))
READELF_MACROS = ((r"\s+Offset:\s+(\w+)$", lambda m: ("set", int(m[1], 0))),
                  (r"\s+Version:\s+(\d+)$", lambda m: ("version", int(m[1]))),
                  (r"\s+Offset into .debug_line:\s+(\w+)$", lambda m: ("line", int(m[1], 0))),
                  (r" DW_MAC(?:RO|INFO)_(\w+)(?: -)?(.*)$", lambda m: macro(*m.groups(), "strx" not in m[1])))
# What the dump shows of a DWARF section and a peer's reading of it: (section, the peer's
# option (llvm-dwarfdump's when it is not readelf's), dump rules, peer rules).
ASPECTS = [
    (".debug_str", "-p.debug_str") + STRINGS, (".debug_line_str", "-p.debug_line_str") + STRINGS,
    (".debug_addr", "--debug-dump=addr", ((r" +(\d+): 0x(\w+)$", lambda m: (int(m[1]), int(m[2], 16))),),
     ((r"\t(\d+):\t(\w+)$", lambda m: (int(m[1]), int(m[2], 16))),)),
    (".debug_abbrev", "--debug-dump=abbrev", (
        (r"@ 0x(\w+)$", lambda m: int(m[1], 16)),
        (r"(\d+)\(([YN?])\): (.*)$", lambda m: ("abbrev", int(m[1]), name(m[3]), m[2] == "Y")),
        (r" {10}(\S.*?) +(\S+?|\?\? 0x\w+)(?:: (-?\d+))?$", lambda m: (name(m[1]), name(m[2]), m[3] and int(m[3])))), (
        (r"\s+Number TAG \((\w+)\)", lambda m: int(m[1], 0)),  # a table's offset, the dump's of each
        (r"\s+(\d+)\s+DW_TAG_(\w+)\s+\[(has|no) children\]", lambda m: [
            None, ("abbrev", int(m[1]), m[2], m[3] == "has")]),
        (r"\s+DW_AT_(\w+)\s+DW_FORM_(\w+)(?:: (-?\d+))?", lambda m: (m[1], m[2], m[3] and int(m[3]))))),
    (".debug_frame", "--debug-dump=frames", (
        (r"Common Information Entry @ 0x(\w+) size=(\d+) ver=(\d+)", lambda m: [
            ("CIE", int(m[1], 16), int(m[2])), ("version", int(m[3]))]),
        (r"Frame Description Entry @ 0x(\w+) size=(\d+) CIE_pointer=0x(\w+) location range=0x(\w+)\.\.0x(\w+)",
         lambda m: ("FDE", int(m[1], 16), int(m[2]), *[int(v, 16) for v in m.groups()[2:]])),
        (r'Augmentation: (?:None|"(.*)" \(unknown\))', lambda m: ("augmentation", m[1] or "")),
        (r"(?:addrsize=\d+, segsize=\d+, )?code align=(\d+), data align=(-?\d+), return col=(\d+)",
         lambda m: list(zip(("code", "data", "return"), map(int, m.groups())))),
        (r" {8}(DW_CFA_\w+|\?\? \w+)[^(]*(?:\((.*)\))?$", lambda m: (  # an advance: where it leads
            name(m[1]), numbers(re.sub(r".*loc -> ", "", m[2] or ""))))), (
        (r"(\w{8}) (\w{8,16}) \w{8} CIE", lambda m: ("CIE", int(m[1], 16), int(m[2], 16))),
        (r"(\w{8}) (\w{8,16}) (\w{8}) FDE cie=\w+ pc=(\w+)\.\.(\w+)", lambda m: (
            "FDE", *[int(v, 16) for v in m.groups()])),
        (r"\s+(Version|Augmentation|Code alignment factor|Data alignment factor|Return address column):\s+"
         r"\"?(.*?)\"?$", lambda m: ({"Version": "version", "Augmentation": "augmentation"}.get(
             m[1], m[1].split()[0].lower()), int(m[2]) if m[1][0] != "A" else m[2])),
        (r"  DW_CFA_(\w+)(?:: (.*))?$", lambda m: (m[1], [int(m[2].split()[-1], 16)] if re.match(
            r"advance_loc|set_loc", m[1]) else numbers(re.sub(r"\(\w+\)", "", m[2] or "")))))),
    (".debug_pubnames", "--debug-dump=pubnames") + SETS, (".debug_aranges", "--debug-dump=aranges") + SETS,
    (".debug_macinfo", "--debug-dump=macro", MACROS[-1:], READELF_MACROS),  # readelf shows no sets
    (".debug_macro", "--debug-dump=macro", MACROS, READELF_MACROS),
    (".debug_macro", "--debug-macro", MACROS, ((r"0x(\w+):$", lambda m: ("set", int(m[1], 16))),
        (r"macro header: version = (\w+), flags = \w+, format = \w+(?:, debug_line_offset = (\w+))?", lambda m: [
            ("version", int(m[1], 16))] + [("line", int(v, 16)) for v in [m[2]] if v]),
        (r"\s*DW_MACRO_(\w+)(?: -)?(.*)$", lambda m: macro(LLVM_MACROS.get(m[1], m[1].replace("GNU_", "")),
                                                           m[2])))),
    (".debug_str_offsets", "--debug-dump=str-offsets", ((r" +(\d+): 0x(\w{8}) ", lambda m: (
        int(m[1]), int(m[2], 16))),), ((r"\s+(\d+) (\w{8})  ", lambda m: (int(m[1]), int(m[2], 16))),)),
    (".debug_names", "--debug-names", NAMES, LLVM_NAMES),
]


def compare(check, where, path, text, work, entries=True):
    """symvert's dump of an ELF file against readelf and llvm-dwarfdump (the units, entries
    and line programs too unless entries is false)."""
    dump = parts(text)
    copy = retyped(path, os.path.join(work, "stored-" + os.path.basename(path)))
    elf_values(check, where, dump, path)
    dwo = ".dwo" if path.endswith(".dwo") else ""  # whose sections the dump shows by their names less .dwo
    # readelf keeps version 2's names of the template parameters' tags in later units
    readelf = lambda *o: re.sub(r"(DW_TAG_template_\w+_param)\b", r"\1eter", check.run(
        ["readelf", "-W"] + list(o) + [copy]).stdout)
    llvm = lambda *o: check.run(["llvm-dwarfdump", "-v"] + list(o) + [copy]).stdout
    present = re.findall(r"\] (\.debug_\w+)", readelf("-S"))
    check.same(where + ": DWARF sections named", [(s, dump.get(s) is not None) for s in KNOWN],
               [(s, s in present) for s in KNOWN])
    joined = lambda t: re.sub(r"Entry @ 0x(\w+)\n", r"Entry @ 0x\1 ", t)  # a frame entry's heading
    buckets_last = lambda found: sorted(found, key=lambda v: isinstance(v, tuple) and v[0] == "bucket")
    for section, option, mine, theirs in ASPECTS:
        text = "" if section not in present else readelf(option + dwo) if option[:2] == "-p" else readelf(
            option) if option.startswith("--debug-dump") else llvm(option)
        chosen = re.split(r"^Contents of the (\.debug_\w+)(?:\.dwo)? section.*$", text, flags=re.M)
        text = "".join(b for a, b in zip(chosen[1::2], chosen[2::2]) if a == section) if chosen[1:] else text
        text = re.sub(r"(Bucket (\d+) \[)(?=\n\s+(?:EMPTY|Name (\d+)))", r"Bucket \2 first \3", text)
        want = values(joined(text), *theirs)
        if section == ".debug_abbrev":  # a table's offset is its first abbreviation's
            want = [v for k, v in enumerate(want) if not (v is None and isinstance(want[k - 1], int))]
        check.same("%s: %s (%s)" % (where, section, option), buckets_last(values(joined(dump.get(
            section) or ""), *mine)), buckets_last(want))
    found, bases = dump_entries((dump.get(".debug_info") or "") + (dump.get(".debug_types") or ""))
    if entries:
        # readelf reads the strx values of a split unit of version 5 without the header of its
        # .debug_str_offsets.dwo, two offsets off (those strings are llvm's alone), and shows 0 for
        # an address index (in the program's file)
        want = values(re.sub(*READELF_UNITS, readelf("--debug-dump=info")), *READELF_ENTRIES)
        check.same(where + ": entries (readelf)", found, [("at", *v[1:3], None) if v[0] == "at" and v[2].startswith(
            ("strx", "addrx")) and dwo else v for v in want])
        check.same(where + ": entries (llvm)", found, values(llvm("--debug-info") + llvm("--debug-types"),
                                                             *LLVM_ENTRIES))
        got, want, rows, want_rows = line_programs(dump.get(".debug_line") or "", llvm("--debug-line"))
        check.same(where + ": line programs", got, want)
        check.same(where + ": line rows", rows, want_rows)
    addresses = dict(values(dump.get(".debug_addr") or "", ASPECTS[2][2][0]))
    for section, kind in ((".debug_loc", "loc"), (".debug_loclists", "loc"), (".debug_rnglists", "Ranges")):
        want = next((w for w in readelf("--debug-dump=" + kind).split("Contents of the ")
                     if w.startswith(section + dwo + " ")), "")
        # readelf stops at the views gcc puts before a split unit's location lists (llvm too, but
        # for the lists the units name)
        split = dwo and want and section == ".debug_loclists"
        want = llvm_lists(llvm("--debug-info")) if split else readelf_lists(want)
        compare_lists(check, where + ": " + section, dump_lists(dump.get(section) or "", bases, addresses), want)


def main():
    check = Check("readelf", "llvm-dwarfdump")
    work = check.sample()
    for name in SAMPLES:
        path = os.path.join(check.data, "elfreal", name)
        proc = check.symvert("-d", "-v", "-v", "-v", path)
        check.ran(name + ": dump", proc)
        compare(check, name, path, proc.stdout, work)
    check.done("%d files dumped and read by readelf and llvm-dwarfdump" % len(SAMPLES))


if __name__ == "__main__":
    main()
