#!/usr/bin/env python3
"""Peer check: symvert's dump of ELF files with DWARF 2 to 5 (symvert -d -v -v -v FILE)
against readelf and llvm-dwarfdump.

1. The real compilers' files of tests/data/elfreal (ARM from gcc at -O0, -O2 and -g3 with
   DWARF 2, at -O2 with DWARF 3, 4 and 5, at -g3 with DWARF 5, a skeleton unit of split
   DWARF 5; MIPS relocatable objects, little-endian with DWARF 2 and big-endian with
   DWARF 5; sdcc's big-endian HC08 file). The dump must show what the peers show:
   - ELF header: class, data encoding, EI_VERSION and OS ABI (readelf's ident bytes),
     type, machine, the program and section header counts, sizes and offsets, the
     section-name table index and the entry address;
   - the strings of .strtab and of the section-name table (readelf -p);
   - per section (readelf -W -S): name, type, address, size, link, offset, info,
     alignment, the WRITE/ALLOC/EXECINSTR flags and, for allocated sections with file
     bytes, the first sixteen bytes at the section's offset; per symbol table its entry
     size and every symbol (readelf -W -s): name, value, size, binding, type, st_other,
     section index;
   - per program header (readelf -W -l): type, addresses, sizes, r/w/x flags,
     alignment and the first bytes of its file image;
   - DWARF: the headings of the eleven sections the dump knows (dumped when the file has
     the section, reported missing otherwise); .debug_str's strings; the abbreviations
     (code, tag, children, attribute/form pairs) and where each table starts; the units
     (offset, length, version, abbreviation offset, address size: llvm) and every entry
     (depth, offset, code, tag) with its attributes, forms and values (readelf and
     llvm); the line-number programs the units refer to, one group per distinct
     DW_AT_stmt_list: header, opcode lengths, directories, files (llvm), and the rows
     that the dump's listed opcodes produce, which must equal both llvm's rows and the
     dump's own matrices, and readelf's decoded rows; the frame entries with their
     instructions; the name-lookup and address-range sets; the macro entries and their
     sets (one per DW_AT_macro_info); the location lists of .debug_loc and
     .debug_loclists, with GNU location views: views, ranges, base addresses,
     operations and the expression lengths of .debug_loc (readelf); the strings of
     .debug_line_str, the addresses of .debug_addr and the range lists of
     .debug_rnglists that units name (readelf).
2. The files symvert's ELF writer makes of the samples that test_elf_write.py writes:
   one unit per module, the abbreviation table once (all units at its offset, each
   code once), one line group per unit; where llvm reads the file (address sizes 2 and
   4) the units, entries, attribute values and line rows agree with llvm-dwarfdump.

Normalisations, where the layouts differ but the values must not:
 - readelf's and llvm's DW_TAG_/DW_AT_ names against the dump's plain names (no
   prefix, blanks for "_") and full names (DW_ prefix); a vendor value the dump shows
   as "?? 0x... (user-defined)" by its number (VENDOR_ATTRIBUTES);
 - readelf's type, binding, visibility and section index words against numbers, and
   those against the dump's value names shown as "NAME (0xN)" at -v -v -v; a section
   type text longer than its 30 columns is compared as cut;
 - readelf shows a section symbol's name as its section's name; the dump shows the
   symbol's own (empty) name;
 - readelf shows DW_FORM_ref4 values as section offsets, the dump as unit offsets;
   readelf shows a block's length and bytes, the dump its length; a flag as 1/0
   against true/false;
 - the readers apply a relocatable file's relocations to its DWARF sections, the dump
   shows the stored bytes: the peers read a copy whose relocation sections are retyped
   (peerlib.unrelocated_copy);
 - readelf adds the base address (the low_pc of the unit that names a list, or the
   list's own base address entry) to the ranges of location and range lists, and
   resolves indexed addresses: the dump's offsets and indexes are made addresses the
   same way; readelf names the operations of later versions and vendors that the dump
   shows by number in a unit of an earlier version (OPERATIONS), and shows an
   entry_value's expression where the dump shows its length (names compared alone);
 - readelf shows an advance of the frame location as the location reached: the dump's
   "loc ->" location is compared with it;
 - names and values of later versions (LATER_VALUES) are expected only in units of
   those versions.

Skipped (status 77) while symvert does not recognise the files as ELF (symvert -c), that
is before its ELF dump exists.
"""
import os
import re
import sys
import tempfile

import peerlib
import test_elf_write  # its samples and program classes; its checks do not run here
from peerlib import named_value, numbers_in

SAMPLES = ["arm-O0.elf", "arm-O2.elf", "arm-g3.elf", "mips.o", "hc08.elf", "arm-v3.elf",
           "arm-v4.elf", "arm-v5.elf", "arm-g3-v5.elf", "arm-split-v5.o", "mips-be.o",
           "clang-v5.o"]

KNOWN_SECTIONS = [".debug_str", ".debug_abbrev", ".debug_info", ".debug_line", ".debug_frame",
                  ".debug_pubnames", ".debug_pubtypes", ".debug_aranges", ".debug_macinfo",
                  ".debug_loc", ".debug_ranges"]

# The dump's names of ELF values (value -> text); a value not listed is shown as 0x%X.
CLASSES = {0: "Invalid class", 1: "32-bit objects", 2: "64-bit objects"}
ENCODINGS = {0: "Invalid data encoding", 1: "2's complement, little endian",
             2: "2's complement, big endian"}
OS_ABIS = {0: "UNIX System V Revision 4", 1: "HP-UX", 2: "NetBSD", 3: "Linux", 4: "Hurd",
           6: "Solaris", 7: "AIX", 8: "IRIX", 9: "FreeBSD", 10: "TRU64 UNIX",
           11: "Novell Modesto", 12: "OpenBSD", 97: "ARM", 255: "Standalone (embedded)"}
FILE_TYPES = {0: "ET_NONE", 1: "ET_REL", 2: "ET_EXEC", 3: "ET_DYN", 4: "ET_CORE"}
SECTION_TYPES = {0: "Unused", 1: "Program data", 2: "Symbol table", 3: "String table",
                 4: "Reloc entries with addends", 5: "Symbol hash table",
                 6: "Dynamic linking information", 7: "Notes",
                 8: "Prog space without data (bss)", 9: "Reloc entries, no addends",
                 10: "Reserved", 11: "Dynamic linker symbol table",
                 0x60000000: "Start OS-specific", 0x6FFFFFFB: "Sun-specific low bound. ",
                 0x6FFFFFFD: "Version definition section. ",
                 0x6FFFFFFE: "Version needs section. ", 0x6FFFFFFF: "Version symbol table. ",
                 0x70000000: "Start of processor-specific",
                 0x7FFFFFFF: "End of processor-specific",
                 0x80000000: "Start of application-specific",
                 0x8FFFFFFF: "End of application-specific"}
SEGMENT_TYPES = {0: "Unused", 1: "Loadable program segment", 2: "Dynamic linking information",
                 3: "Program interpreter", 4: "Auxiliary information", 5: "Reserved",
                 6: "Program header table"}
SYMBOL_TYPES = {0: "unspecified", 1: "data object", 2: "code object",
                3: "associated with a section", 4: "file name"}
BINDINGS = {0: "Local symbol", 1: "Global symbol", 2: "Weak symbol"}

# DWARF 2 values whose names the dump shows with an attribute's value.
LANGUAGES = {1: "C89", 2: "C", 3: "Ada83", 4: "C plus plus", 5: "Cobol74", 6: "Cobol85",
             7: "Fortran77", 8: "Fortran90", 9: "Pascal83", 10: "Modula2"}
ENCODINGS_ATE = {1: "address", 2: "boolean", 3: "complex float", 4: "float", 5: "signed",
                 6: "signed char", 7: "unsigned", 8: "unsigned char"}
INLINES = {0: "not inlined", 1: "inlined", 2: "declared not inlined", 3: "declared inlined"}
NAMED_ATTRIBUTES = {"language": LANGUAGES, "encoding": ENCODINGS_ATE, "inline": INLINES}
# Values of later versions met in the samples: (name, the first version that names it).
LATER_VALUES = {"language": {0x0C: ("C99", 3), 0x1D: ("C11", 5)},
                "encoding": {0x10: ("UTF", 4)}}
# Vendor tags and attributes met in the samples, which the dump shows by number.
VENDOR_ATTRIBUTES = {0x2111: "GNU_call_site_value", 0x2113: "GNU_call_site_target",
                     0x2115: "GNU_tail_call", 0x2116: "GNU_all_tail_call_sites",
                     0x2117: "GNU_all_call_sites", 0x2134: "GNU_pubnames",
                     0x2137: "GNU_locviews", 0x2138: "GNU_entry_view",
                     0x4109: "GNU_call_site", 0x410A: "GNU_call_site_parameter"}
STRING_FORMS = ("string", "strp", "line_strp", "strx", "strx1", "strx2", "strx3", "strx4")
STANDARD_LENGTHS = [0, 1, 1, 1, 1, 0, 0, 0]
# The -v -v summary of what the run read (nothing, for a dump) on standard error.
SUMMARY = r"(Files: \d+, syms: \d+, lines: \d+|Segments: \d+|Symbols:|Lines:|Data blocks:|\t)"


def named(table, value, cut=None):
    """The dump's text for a value at -v -v -v: "NAME (0xN)", or "0xN" when unnamed."""
    text = "%s (0x%X)" % (table[value], value) if value in table else "0x%X" % value
    return text[:cut].rstrip() if cut else text


def plain(name):
    return name.replace("_", " ")


def attribute_name(text):
    """A dump's attribute or tag name (plain or full style) as readelf's, without DW_."""
    m = re.match(r"\?\? 0x([0-9A-F]{8})(?: \(user-defined\))?$", text)
    if m:
        return VENDOR_ATTRIBUTES.get(int(m.group(1), 16), text)
    return re.sub(r"^DW_[A-Z]+_", "", text).replace(" ", "_")


class Checker:
    def __init__(self, where, problems):
        self.where, self.problems = where, problems

    def same(self, what, got, want):
        """Whether the dump's value equals the peer's; else notes the first difference."""
        if got == want:
            return True
        if isinstance(got, list) and isinstance(want, list):
            k = next((k for k, (a, b) in enumerate(zip(got, want)) if a != b),
                     min(len(got), len(want)))
            self.problems.append("%s: %s: %d items in the dump, %d at the peer; item %d: dump "
                                 "%r, peer %r" % (self.where, what, len(got), len(want), k,
                                                  got[k] if k < len(got) else None,
                                                  want[k] if k < len(want) else None))
        else:
            self.problems.append("%s: %s: dump %r, peer %r" % (self.where, what, got, want))
        return False


def symvert_dump(program, path):
    """symvert -d -v -v -v of a file: (ElfDump, problems with its status and messages)."""
    proc = peerlib.run([program, "-d", "-v", "-v", "-v", path])
    complaints = [l for l in proc.stderr.splitlines() if l.strip() and not l.startswith("==> ")
                  and not re.match(SUMMARY, l)]
    problems = ["status %d" % proc.returncode] if proc.returncode else []
    problems += ["message: " + l for l in complaints]
    return peerlib.ElfDump(proc.stdout), problems


def recognised(program, path):
    return "Confirmed as ELF/DWARF" in peerlib.run([program, "-c", path]).stderr


# ---- The ELF part ----

def check_header(c, dump, peer):
    h, ident = peer.header, peer.ident
    c.same("class", dump.header.get("Class"), named(CLASSES, ident[4]))
    c.same("data encoding", dump.header.get("Data"), named(ENCODINGS, ident[5]))
    c.same("EI_VERSION", dump.header.get("Version"), "0x%X" % ident[6])
    c.same("OS ABI", dump.header.get("OS ABI"), named(OS_ABIS, ident[7]))
    c.same("type", dump.header.get("Type"), named(FILE_TYPES, peer.file_type))
    c.same("machine", named_value(dump.header.get("Machine", "")), peer.machine)
    number = lambda key: int(h[key].split()[0], 0)
    c.same("program headers", dump.header.get("Prog hdrs"), "%d [0x%X] (@ 0x%X)" % (
        number("Number of program headers"), number("Size of program headers"),
        number("Start of program headers")))
    c.same("section headers", dump.header.get("Sec hdrs"), "%d [0x%X] (@ 0x%X)" % (
        number("Number of section headers"), number("Size of section headers"),
        number("Start of section headers")))
    c.same("section-name table index", dump.header.get("Strtab"),
           "0x%X" % number("Section header string table index"))
    c.same("entry", dump.header.get("Start addr"), "0x%X" % number("Entry point address"))


def check_sections(c, dump, peer, raw):
    names = [s["name"] for s in peer.sections]
    index = int(peer.header["Section header string table index"])
    want_strings = [s for s in peer.string_tables.get(".strtab", [])] + \
        (peer.string_tables.get(names[index], []) if index < len(names) else [])
    c.same("strings of .strtab and the section-name table",
           [s for s in dump.strings if s[1]], want_strings)
    if not c.same("section count", len(dump.sections), len(peer.sections)):
        return
    for got, want in zip(dump.sections, peer.sections):
        at = "section %d (%s)" % (want["index"], want["name"])
        kind = peerlib.READELF_SECTION_TYPES.get(want["type"])
        if kind is None:
            c.problems.append("%s: %s: readelf's type %s is not known to this check" % (
                c.where, at, want["type"]))
            continue
        flags = {f for letter, f in (("W", "WRITE"), ("A", "ALLOC"), ("X", "EXECINSTR"))
                 if letter in want["flags"]}
        shown = None
        if want["size"] and "A" in want["flags"] and kind != 8:
            shown = (want["offset"], raw[want["offset"]:want["offset"] + min(16, want["size"])])
        c.same(at, (got["index"], got["name"], got["type"], got["address"], got["size"],
                    got["link"], got["offset"], got["info"], got["align"], got["flags"],
                    got["bytes"]),
               (want["index"], want["name"][:20], named(SECTION_TYPES, kind, 30),
                want["address"], want["size"], want["link"], want["offset"], want["info"],
                want["align"], flags, shown))
        if kind == 2:
            check_symbols(c, at, got, want, peer.symbols.get(want["name"], []), names)
        elif got["symbols"] is not None:
            c.problems.append("%s: %s: symbols listed for a section of type %s" % (
                c.where, at, want["type"]))


def check_symbols(c, at, got, want, symbols, names):
    c.same(at + " entry size", got["entsize"], want["entsize"])
    listed = got["symbols"] or []
    if not c.same(at + " symbol count", len(listed), len(symbols)):
        return
    for shown, symbol in zip(listed, symbols):
        name, ndx = symbol["name"], symbol["ndx"]
        if ndx.isdigit():
            ndx = int(ndx)
        elif ndx.startswith("PRC["):
            ndx = int(ndx[4:-1], 16)
        else:
            ndx = peerlib.READELF_SECTION_INDEXES.get(ndx)
        if symbol["type"] == "SECTION" and ndx is not None and ndx < len(names) and \
                name == names[ndx] and shown["name"] == "":
            name = ""  # readelf names a section symbol after its section
        kind = "%s/%s" % (named(BINDINGS, peerlib.READELF_BINDINGS[symbol["bind"]]),
                          named(SYMBOL_TYPES, peerlib.READELF_SYMBOL_TYPES[symbol["type"]]))
        c.same("%s symbol %d" % (at, symbol["index"]),
               (shown["name"], shown["value"], shown["size"], shown["kind"],
                shown["other"] & 3, shown["shndx"]),
               (name, symbol["value"], symbol["size"], kind,
                peerlib.READELF_VISIBILITIES[symbol["visibility"]], ndx))


def check_segments(c, dump, peer, raw):
    if not c.same("program header count", len(dump.segments), len(peer.segments)):
        return
    for k, (got, want) in enumerate(zip(dump.segments, peer.segments)):
        kind = peerlib.READELF_SEGMENT_TYPES.get(want["type"])
        if kind is None:
            c.problems.append("%s: program header %d: readelf's type %s is not known to this "
                              "check" % (c.where, k, want["type"]))
            continue
        flags = "".join(letter.lower() if letter in want["flags"] else "-" for letter in "RWE")
        flags = flags.replace("e", "x")
        shown = None
        if want["filesz"]:
            shown = (want["offset"], raw[want["offset"]:want["offset"] + min(16, want["filesz"])])
        c.same("program header %d" % k,
               (got["index"], got["type"], got["vaddr"], got["paddr"], got["filesz"],
                got["memsz"], got["flags"], got["align"], got["bytes"]),
               (k, named(SEGMENT_TYPES, kind, 36), want["vaddr"], want["paddr"],
                want["filesz"], want["memsz"], flags, want["align"], shown))


# ---- The DWARF part ----

def check_headings(c, dump, section_names):
    for name in KNOWN_SECTIONS:
        c.same("heading of " + name, dump.headings.get(name), name in section_names)


def check_abbreviations(c, dump, peer):
    want, starts = [], []
    for table in peer.abbreviations:
        starts.append((len(want), table["offset"]))
        want += table["abbreviations"]
    got = [(a["code"], attribute_name(a["tag"]), {"Y": True, "N": False}.get(a["children"]),
            [(attribute_name(n), attribute_name(f)) for n, f in a["attributes"]])
           for a in dump.abbrev]
    if c.same("abbreviations", got, [(code, tag, children, list(pairs))
                                     for code, tag, children, pairs in want]):
        c.same("abbreviation table offsets", [dump.abbrev[k]["offset"] for k, _ in starts
                                              if k < len(dump.abbrev)],
               [offset for _, offset in starts])


def readelf_value(form, text):
    """readelf's value text as the dump shows the value's number or text; None where
    readelf shows no number (an expression in place of its length)."""
    if form in STRING_FORMS:
        return re.sub(r"^\((?:indirect (?:line )?string, offset|indexed string): "
                      r"(?:0x[0-9a-f]+|\d+)\): ", "", text).rstrip()
    if form.startswith("block") or form == "exprloc":
        m = re.match(r"\s*(\d+) byte block", text)
        return int(m.group(1)) if m else None
    if form in ("flag", "flag_present"):
        return int(text.split()[0], 0) != 0
    m = re.match(r"\(index: (0x[0-9a-f]+|\d+)\): (0x[0-9a-f]+|\d+)", text)
    if m:  # an index, and what it names: the dump shows the index of a list, an address
        return int(m.group(2 if form.startswith("addrx") else 1), 0)
    return int(re.match(r"<?(-?0x[0-9a-f]+|-?\d+)", text).group(1), 0)


def dump_value(form, attribute, text, c, at, version=2):
    """The dump's value text as a number (or text, or truth value); checks the name
    shown with a named attribute's value (in a unit of the version given)."""
    if form in STRING_FORMS:
        m = re.match(r'"(.*)"$', text)
        return m.group(1).rstrip() if m else text
    if form in ("flag", "flag_present"):
        return {"true": True, "false": False}.get(text, text)
    if attribute in NAMED_ATTRIBUTES:
        m = re.match(r"(.*) \((.*)\)$", text)
        number = dump_value(form, None, m.group(2) if m else text, c, at)
        name, since = LATER_VALUES.get(attribute, {}).get(number, (None, 6))
        c.same(at + " name of the value", m and m.group(1),
               name if version >= since else NAMED_ATTRIBUTES[attribute].get(number))
        return number
    try:
        return int(text, 16) if text.startswith("0x") or form.startswith("block") or \
            form in ("addr", "ref_addr") or form.startswith(("data", "ref")) else int(text)
    except ValueError:
        return text


def abbreviation_forms(peer):
    """(table offset, code) -> [form] from readelf's abbreviation tables."""
    forms = {}
    for table in peer.abbreviations:
        for code, _, _, pairs in table["abbreviations"]:
            forms[(table["offset"], code)] = [f for _, f in pairs]
    return forms


def check_units_readelf(c, dump, peer):
    forms = abbreviation_forms(peer)
    if not c.same("unit offsets", [u["offset"] for u in dump.info],
                  [u["offset"] for u in peer.units]):
        return
    for got_unit, want_unit in zip(dump.info, peer.units):
        got, want = got_unit["entries"], want_unit["entries"]
        where = "unit @ 0x%x" % got_unit["offset"]
        c.same(where + " entries", [(e["depth"], e["offset"], e["code"], attribute_name(e["tag"]))
                                    for e in got],
               [(e["depth"], e["offset"], e["code"], e["tag"]) for e in want])
        for entry, peer_entry in zip(got, want):
            at = "%s entry <%x>" % (where, entry["offset"])
            c.same(at + " unit offset", entry["unit_offset"], entry["offset"] - got_unit["offset"])
            wanted_forms = forms.get((got_unit["abbrev_offset"], entry["code"]), [])
            names = [(attribute_name(n), f.replace(" ", "_")) for n, f, _ in entry["attributes"]]
            if not c.same(at + " attributes", names,
                          list(zip([n for n, _ in peer_entry["attributes"]], wanted_forms))):
                continue
            for (name, form, text), (_, peer_text) in zip(entry["attributes"],
                                                          peer_entry["attributes"]):
                name, form = attribute_name(name), form.replace(" ", "_")
                value = dump_value(form, name, text, c, at + " " + name, got_unit["version"])
                if form.startswith("ref") and form != "ref_addr" and isinstance(value, int):
                    value += got_unit["offset"]
                want = readelf_value(form, peer_text)
                if want is not None:
                    c.same("%s %s[%s]" % (at, name, form), value, want)


def llvm_value(form, text):
    """llvm-dwarfdump's value text (-v) as the dump shows the value, or None where llvm
    shows a name or an expression instead."""
    if form == "strp":
        m = re.search(r'= "(.*)"\)?$', text)
        return m.group(1).rstrip() if m else None
    if form == "string":
        m = re.match(r'"(.*)"\)?$', text)
        return m.group(1).rstrip() if m else None
    if form.startswith("ref") and form != "ref_addr":
        m = re.match(r"cu \+ (0x[0-9a-f]+)", text)
        return int(m.group(1), 16) if m else None
    if form == "flag":
        m = re.match(r"(0x[0-9a-f]+)\)?$", text)
        return int(m.group(1), 16) != 0 if m else None
    if form.startswith("block"):
        return None
    m = re.match(r"(-?0x[0-9a-f]+|-?\d+)(?::|\)?$)", text)
    return int(m.group(1), 0) if m else None


def check_units_llvm(c, dump, units):
    """The dump's units, entries and attribute values against llvm-dwarfdump -v."""
    c.same("units", [(u["number"], u["offset"], u["size"], u["version"], u["abbrev_offset"],
                      u["address_size"]) for u in dump.info],
           [(k + 1, u["offset"], u["length"], u["version"], u["abbrev_offset"],
             u["address_size"]) for k, u in enumerate(units)])
    for got_unit, want_unit in zip(dump.info, units):
        where = "unit @ 0x%x (llvm)" % got_unit["offset"]
        got, want = got_unit["entries"], want_unit["entries"]
        if not c.same(where + " entries",
                      [(e["depth"], e["offset"], e["code"], attribute_name(e["tag"]))
                       for e in got],
                      [(e["depth"], e["offset"], e["code"], e["tag"]) for e in want]):
            continue
        for entry, peer_entry in zip(got, want):
            at = "%s entry <%x>" % (where, entry["offset"])
            pairs = [(attribute_name(n), f.replace(" ", "_")) for n, f, _ in entry["attributes"]]
            if not c.same(at + " attributes", pairs,
                          [(n, f) for n, f, _ in peer_entry["attributes"]]):
                continue
            for (name, form), (_, _, text), (_, _, peer_text) in zip(
                    pairs, entry["attributes"], peer_entry["attributes"]):
                want_value = llvm_value(form, peer_text)
                if want_value is not None:
                    c.same("%s %s[%s]" % (at, name, form),
                           dump_value(form, name, text, c, at + " " + name,
                                      got_unit["version"]), want_value)


def attribute_values(dump, name):
    """The numbers of one attribute over all entries of the dump's units."""
    found = []
    for unit in dump.info:
        for entry in unit["entries"]:
            for attribute, form, text in entry["attributes"]:
                if attribute_name(attribute) == name:
                    found.append(named_value(text) if text.startswith("0x") else None)
    return found


def program_rows(group, sequence):
    """The rows (address, line, column, file, is_stmt, end_sequence) that a sequence's
    listed opcodes append, from the state the program starts in."""
    rows = []
    state = dict(address=0, file=1, line=1, column=0, is_stmt=group.get("def_stmt", True))
    for _, name, operand in sequence["opcodes"]:
        numbers = numbers_in(operand)
        value = numbers[0] if numbers else 0
        end = False
        if name == "SPECIAL":
            line, address = numbers
            state["line"] += line
            state["address"] += address
        elif name == "DW_LNS_advance_pc":
            state["address"] += value * group.get("min_len", 1)
        elif name == "DW_LNS_advance_line":
            state["line"] += value
        elif name == "DW_LNS_set_file":
            state["file"] = value
        elif name == "DW_LNS_set_column":
            state["column"] = value
        elif name == "DW_LNS_negate_stmt":
            state["is_stmt"] = not state["is_stmt"]
        elif name == "DW_LNS_const_add_pc":
            state["address"] += (255 - group["opcode_base"]) // group["line_range"] * \
                group.get("min_len", 1)
        elif name == "DW_LNS_fixed_advance_pc":
            state["address"] += value
        elif name == "DW_LNE_set_address":
            state["address"] = value
        elif name == "DW_LNE_end_sequence":
            end = True
        if name in ("SPECIAL", "DW_LNS_copy", "DW_LNE_end_sequence"):
            rows.append((state["address"], state["line"], state["column"], state["file"],
                         state["is_stmt"], end))
    return rows


def check_lines(c, dump, llvm_tables, readelf_tables=None):
    """The line groups: one per distinct DW_AT_stmt_list, each like llvm's program at
    that offset; their rows from the listed opcodes against llvm's rows, the dump's
    own matrices and readelf's decoded rows."""
    references = sorted({v for v in attribute_values(dump, "stmt_list") if v is not None})
    if not c.same("line groups", [g["offset"] for g in dump.line], references):
        return
    for k, group in enumerate(dump.line):
        where = "line group @ 0x%x" % group["offset"]
        table = llvm_tables.get(group["offset"])
        if table is None:
            c.problems.append("%s: %s: llvm shows no program there" % (c.where, where))
            continue
        c.same(where + " header", [group.get(key) for key in (
            "size", "version", "prolog", "min_len", "def_stmt", "line_base", "line_range",
            "opcode_base")], [table.get("total_length"), table.get("version"),
                              table.get("prologue_length"), table.get("min_inst_length"),
                              bool(table.get("default_is_stmt")), table.get("line_base"),
                              table.get("line_range"), table.get("opcode_base")])
        c.same(where + " opcode lengths", (group.get("lengths"), group.get("marks")),
               (table["lengths"], [n + 1 for n, (a, b) in enumerate(zip(
                   table["lengths"], STANDARD_LENGTHS)) if a != b]))
        c.same(where + " directories", group["includes"], table["includes"])
        c.same(where + " files", [tuple(f) for f in group["files"]], table["files"])
        rows = []
        for n, sequence in enumerate(group["sequences"]):
            mine = program_rows(group, sequence)
            rows += mine
            if sequence["matrix"] or (mine and mine[-1][5]):
                c.same("%s sequence %d matrix" % (where, n + 1),
                       [(a, f, l, col, s) for _, a, f, l, col, s, _ in sequence["matrix"]],
                       [(a, f, l, col, s) for a, l, col, f, s, _ in mine])
        c.same(where + " rows", rows, table["rows"])
        if readelf_tables is not None and k < len(readelf_tables):
            # Files count from 1, from version 5 on from 0.
            names = [None] + [f[0] for f in group["files"]]
            if group.get("version", 2) >= 5:
                names = names[1:]
            decoded = [(names[f] if 0 <= f < len(names) and names[f] else f,
                        None if end else line, a) for a, line, _, f, _, end in rows]
            c.same(where + " rows (readelf)", [(os.path.basename(str(n)), l, a)
                                               for n, l, a in decoded],
                   [(os.path.basename(n), l, a) for n, l, a in readelf_tables[k]])


def frame_operands(name, text):
    """A readelf frame instruction's operands as the dump's numbers: registers, offsets
    (readelf's "at cfa-8" is -8: the factored offset times the data alignment), and for
    an advance the location it reaches."""
    if name.startswith("advance_loc"):
        return [int(text.split(" to ")[1], 16)]
    if name == "set_loc":
        return [int(text, 16)]
    return numbers_in(re.sub(r"\((\w+)\)", "", text))


def check_frames(c, dump, peer):
    got = dump.frame
    if not c.same("frame entries", [(e["kind"], e["offset"]) for e in got],
                  [(e["kind"], e["offset"]) for e in peer.frames]):
        return
    for entry, want in zip(got, peer.frames):
        at = "%s @ 0x%x" % (entry["kind"], entry["offset"])
        if want["kind"] == "CIE":
            c.same(at, [entry.get(k) for k in ("size", "version", "augmentation", "code_align",
                                               "data_align", "return_column")],
                   [want.get(k) for k in ("length", "version", "augmentation", "code_align",
                                          "data_align", "return_column")])
        else:
            c.same(at, [entry.get(k) for k in ("size", "cie_pointer", "low", "high")],
                   [want.get(k) for k in ("length", "pointer", "low", "high")])
        shown = []
        for name, operands in entry["instructions"]:
            numbers = numbers_in(operands)
            if name.startswith("DW_CFA_advance_loc") or name == "DW_CFA_set_loc":
                numbers = numbers[-1:]
            shown.append((name[len("DW_CFA_"):], numbers))
        c.same(at + " instructions", shown,
               [(name, frame_operands(name, text))
                for name, text in want["instructions"]])


def check_sets(c, dump, peer):
    offset, want = 0, []
    for k, s in enumerate(peer.pubnames):
        want.append((k + 1, offset, s["length"], s.get("version"), s.get("info_offset"),
                     s.get("info_size"), [(int(o, 16), n) for o, n in s["entries"]]))
        offset += s["length"] + 4
    c.same("name-lookup sets", [(s["number"], s["offset"], s.get("size"), s.get("version"),
                                 s.get("info_offset"), s.get("info_size"),
                                 [(int(o, 16), n) for o, n in s["entries"]])
                                for s in dump.pubnames], want)
    offset, want = 0, []
    for k, s in enumerate(peer.aranges):
        pairs = [(int(a, 16), int(a, 16) + int(n, 16)) for a, n in s["entries"]
                 if int(a, 16) or int(n, 16)]
        want.append((k + 1, offset, s["length"], s.get("version"), s.get("info_offset"),
                     s.get("address_size"), s.get("segment_size"),
                     " (flat)" if s.get("segment_size") == 0 else None, pairs))
        offset += s["length"] + 4
    c.same("address-range sets", [(s["number"], s["offset"], s.get("size"), s.get("version"),
                                   s.get("info_offset"), s.get("address_size"),
                                   s.get("segment_size"), s.get("flat"),
                                   [(int(a, 16), int(b, 16)) for a, b in s["entries"]])
                                  for s in dump.aranges], want)


def check_macros(c, dump, peer, section_size):
    sets = [s for s in dump.macinfo if s["entries"] or s["offset"] < section_size]
    c.same("macro sets", [(s["number"], s["offset"]) for s in sets],
           [(k + 1, v) for k, v in enumerate(sorted(
               v for v in attribute_values(dump, "macro_info") if v is not None))])
    c.same("macro entries", [(n[len("DW_MACINFO_"):], a, b) for s in sets
                             for n, a, b in s["entries"]], peer.macros)


# Operations the dump shows by number (those of a later version than their unit's, or a
# vendor's) and readelf by name.
OPERATIONS = {0x9E: "implicit_value", 0x9F: "stack_value", 0xA3: "entry_value",
              0xF2: "GNU_implicit_pointer", 0xF3: "GNU_entry_value", 0xF5: "GNU_regval_type",
              0xF7: "GNU_convert", 0xFA: "GNU_parameter_ref"}
LOCATION_ATTRIBUTES = {"location", "string_length", "return_addr", "data_member_location",
                       "frame_base", "segment", "static_link", "use_location",
                       "vtable_elem_location"}


def list_bases(dump):
    """(section, list offset) -> the low_pc of the unit that names the list, the base
    address readelf adds to its ranges."""
    bases = {}
    for unit in dump.info:
        entries = unit["entries"]
        low = [named_value(t) for n, f, t in entries[0]["attributes"]
               if attribute_name(n) == "low_pc"] if entries else []
        for entry in entries:
            for name, form, text in entry["attributes"]:
                name = attribute_name(name)
                if name in LOCATION_ATTRIBUTES:
                    section = ".debug_loclists" if unit["version"] == 5 else ".debug_loc"
                elif name == "ranges" and unit["version"] == 5:
                    section = ".debug_rnglists"
                else:
                    continue
                if form in ("sec offset", "data4") and text.startswith("0x"):
                    bases.setdefault((section, int(text, 16)), low[0] if low else 0)
    return bases


def operations(shown):
    """The dump's operations as readelf names and shows them."""
    found = []
    for name, numbers in shown:
        m = re.match(r"\?\? 0x([0-9A-F]+)", name)
        if m and int(m.group(1), 16) in OPERATIONS:
            name = "DW_OP_" + OPERATIONS[int(m.group(1), 16)]
        found.append((name, None if "entry_value" in name else numbers))
    return found


def location_lists(dump, sections=(".debug_loc", ".debug_loclists")):
    """The dump's location (or range) lists as readelf shows them: [(section, offset,
    entries)], entries [(kind, values, operations)] with the offset pairs made addresses."""
    bases, found, addresses = list_bases(dump), [], dict(dump.addr)
    for section in sections:
        lists = getattr(dump, section[len(".debug_"):])
        for l in lists:
            base, entries = bases.get((section, l["offset"]), 0), []
            for e in l["entries"]:
                kind, v, ops = e["kind"], e["values"], operations(e["operations"])
                if kind == "views":
                    entries.append(("views", v, []))
                elif kind in ("base", "base_address"):
                    base = v[-1]
                    entries.append(("base", [base], []))
                elif kind in ("range", "offset_pair"):
                    entries.append(("range", [base + v[0], base + v[1]], ops))
                elif kind == "start_length":
                    entries.append(("range", [v[0], v[0] + v[1]], ops))
                elif kind == "startx_length" and v[0] in addresses:
                    start = addresses[v[0]]
                    entries.append(("range", [start, start + v[1]], ops))
                elif kind == "start_end":
                    entries.append(("range", v, ops))
            found.append((section, l["offset"], entries))
    return found


def check_locations(c, dump, peer, address_size):
    """The location lists of both sections, entry by entry, against readelf's; the
    expression lengths of .debug_loc against the distances of readelf's entries."""
    got = location_lists(dump)
    want = [(l["section"], l["offset"], [(e["kind"], e["values"], e["operations"])
                                         for e in l["entries"]]) for l in peer.locations]
    if not c.same("location lists", [g[:2] for g in got], [w[:2] for w in want]):
        return
    for (section, offset, entries), (_, _, wanted) in zip(got, want):
        c.same("%s list @ 0x%x" % (section, offset), entries, wanted)
    for l, peer_list in zip(dump.loc, [l for l in peer.locations if l["section"] == ".debug_loc"]):
        offsets = [e["offset"] for e in peer_list["entries"]] + [peer_list.get("end")]
        sizes = [b - a - 2 * address_size - 2 if e["kind"] == "range" else None
                 for e, a, b in zip(peer_list["entries"], offsets, offsets[1:])]
        c.same(".debug_loc list @ 0x%x expression lengths" % l["offset"],
               [e["size"] for e in l["entries"]], sizes)


# ---- The checks ----

def check_real_file(program, data, name, work, problems):
    path = os.path.join(data, "elfreal", name)
    c = Checker("elfreal/" + name, problems)
    dwarf_path = os.path.join(work, "unrelocated-" + name)
    peerlib.unrelocated_copy(path, dwarf_path)
    peer = peerlib.ReadelfView(path, dwarf_path)
    raw = open(path, "rb").read()
    dump, status = symvert_dump(program, path)
    for p in status:
        problems.append("%s: %s" % (c.where, p))
    check_header(c, dump, peer)
    check_sections(c, dump, peer, raw)
    check_segments(c, dump, peer, raw)
    if not c.same("DWARF part", dump.dwarf, True):
        return
    section_names = {s["name"]: s for s in peer.sections}
    check_headings(c, dump, section_names)
    c.same(".debug_str strings", [s for s in dump.str if s[1]], peer.debug_strings)
    c.same(".debug_line_str strings", [s for s in dump.line_str if s[1]], peer.line_strings)
    c.same(".debug_addr addresses", dump.addr, peer.addresses)
    # readelf shows the range lists that units name, not those of their entries.
    shown = {l["offset"] for l in peer.range_lists}
    c.same(".debug_rnglists lists", [l for l in location_lists(dump, (".debug_rnglists",))
                                     if l[1] in shown],
           [(l["section"], l["offset"], [(e["kind"], e["values"], e["operations"])
                                         for e in l["entries"]]) for l in peer.range_lists])
    check_abbreviations(c, dump, peer)
    check_units_readelf(c, dump, peer)
    units, _ = peerlib.llvm_verbose_units(dwarf_path)
    check_units_llvm(c, dump, units)
    check_lines(c, dump, peerlib.llvm_line_tables(dwarf_path), peer.line_tables)
    check_frames(c, dump, peer)
    check_sets(c, dump, peer)
    check_macros(c, dump, peer, section_names.get(".debug_macinfo", {}).get("size", 0))
    check_locations(c, dump, peer, units[0]["address_size"] if units else 4)


def check_written_file(program, data, sample, options, family, problems):
    label = "written " + sample + (" (big-endian)" if "-b" in options else "")
    c = Checker(label, problems)
    with tempfile.TemporaryDirectory() as work:
        peerlib.copy_sample(data, sample, work)
        classes = ["-n" + ",".join(test_elf_write.PROGRAM_CLASSES)]
        proc = peerlib.run([program] + options + classes + ["prog.sym", "prog.hex", "-oelf",
                                                            "out.elf"], work)
        path = os.path.join(work, "out.elf")
        if proc.returncode != 0 or not os.path.exists(path):
            problems.append("%s: write status %d\n%s" % (label, proc.returncode, proc.stderr))
            return
        modules = len(peerlib.DebugProgram(work, family).units)
        dump, status = symvert_dump(program, path)
        for p in status:
            problems.append("%s: %s" % (label, p))
        if not c.same("DWARF part", dump.dwarf, True):
            return
        c.same("units (one per module)", len(dump.info), modules)
        codes = [a["code"] for a in dump.abbrev]
        first = dump.abbrev[0]["offset"] if dump.abbrev else None
        c.same("abbreviation table once (each code once, every unit at its start)",
               (len(set(codes)) == len(codes), {u["abbrev_offset"] for u in dump.info}),
               (True, {first}))
        references = [v for v in attribute_values(dump, "stmt_list")]
        c.same("line groups (one per unit)", [g["offset"] for g in dump.line],
               sorted(set(references)))
        c.same("line references (one per unit, each its own)", len(set(references)),
               len(dump.info))
        if peerlib.FAMILIES[family]["address_size"] != 1:  # llvm 14 reads sizes 2, 4, 8
            units, _ = peerlib.llvm_verbose_units(path)
            check_units_llvm(c, dump, units)
            check_lines(c, dump, peerlib.llvm_line_tables(path))


def main():
    program, data = peerlib.arguments()
    if peerlib.missing("readelf", "llvm-dwarfdump"):
        return peerlib.SKIPPED
    first = os.path.join(data, "elfreal", SAMPLES[0])
    if not recognised(program, first):
        print("skipped: symvert -c does not recognise %s as ELF/DWARF (no ELF dump yet)" % first)
        return peerlib.SKIPPED
    problems = []
    with tempfile.TemporaryDirectory() as work:
        for name in SAMPLES:
            if not recognised(program, os.path.join(data, "elfreal", name)):
                problems.append("elfreal/%s: symvert -c does not recognise it as ELF/DWARF" % name)
                continue
            check_real_file(program, data, name, work, problems)
    for sample, options, family, _, _ in test_elf_write.SAMPLES:
        check_written_file(program, data, sample, options, family, problems)
    return peerlib.report(problems, "%d real-compiler ELF files and %d written ones dumped and "
                          "compared with readelf and llvm-dwarfdump; %d problems" % (
                              len(SAMPLES), len(test_elf_write.SAMPLES), len(problems)))


if __name__ == "__main__":
    sys.exit(main())
