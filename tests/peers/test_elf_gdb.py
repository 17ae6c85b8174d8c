#!/usr/bin/env python3
"""Peer check: what a firmware engineer asks gdb about the ELF files symvert writes
(-oelf), for the two machines gdb knows, and the same program seen from gcc's side.

ARM and PIC32 debug samples (gdb-multiarch -nx -batch): the answers must be those the
sample's .sdb and .sym imply:
 - info functions and info variables: every function and every module-level variable
   with its file, declaration line and static or not;
 - info line of each function and of each source line (not breakpoint addresses), and
   maint info line-table: the symbol file's line records of each unit's files;
 - info address of the module-level variables: their symbol's value;
 - info scope of each function: its autos and parameters at the frame base (offsets from
   the ?a/? frame symbols, or from the numbers after the closing brace, less the first
   of those numbers), its register variables in the registers the processor's rules
   give, its statics at their symbols;
 - ptype and whatis of structures (with bit-fields), unions, enumerations, arrays,
   pointers, typedefs and functions: written below, as the side files declare them.
Accepted, because the writer is to write it so:
 - sections hold only the stored bytes, packed without alignment, while their size is
   the segment's: gdb warns "Loadable section ... outside of ELF segments" and "Discarding
   section ... larger than the file size";
 - the last row of each line-number program is the end of its sequence for gdb (the
   programs have no end_sequence), so its line has no code and is not asked;
 - a unit's low/high pc span its functions; gdb gives each address to the first unit
   whose range holds it, so where one module's functions lie between another's (ARM
   timer.obj inside main.obj's 2000-21FF, PIC32 spi.obj and crc.obj inside main.obj's)
   the later unit's lines and scopes are not asked by address;
 - a code segment without image bytes is a NOBITS section flagged WA, where gdb looks for
   neither lines nor scopes (PIC32 .text.mips16: _take);
 - a function without __end_of symbol gets high pc = low pc + 1; gdb for MIPS clears
   the low bit of an address (the ISA mode bit), so such a function (PIC32 _isr_timer)
   is empty for it and is not listed; addresses in MIPS16 code (symbols with st_other
   STO_MIPS16) carry that bit in gdb's line table;
 - the frame base is DW_OP_reg29 on every processor: gdb names it $sp on MIPS and has no
   register 29 on ARM ($bad_register_number); register numbers follow the processor's
   register table (PIC32's t0-t9 come before s0-s7, so s1 is gdb's $s3; ARM's r8_9 is
   r9);
 - base types are named as the writer names them ("ul", "b"; "long int" shows as "long"),
   a const qualifier is written only for the qualifier bit 0x400 (none on ARM and PIC32),
   a typedef'd type is written as the type it stands for, and a base type written first
   inside a function shows in its scope as a typedef;
 - DW_AT_bit_offset is the storage bits less the bit position less one, so gdb places a
   bit-field wider than one bit (width - 1) bits lower (ptype/o);
 - functions have no DW_AT_prototyped: "int ()" rather than "int (void)", and parameters
   passed in registers are register variables, not parameters.

The same program from the ELF side (tests/data/elfside): prog.c compiled by
arm-none-eabi-gcc -g -gdwarf-2 -gstrict-dwarf -gno-as-loc-support -O0 -c, and the ELF
symvert writes from the hand-written prog.sym/prog.sdb of the same program. gdb's ptype,
ptype/o, whatis, info functions, info variables, info address, info line (of statements:
the tool chain's first line record of a function is its declaration line, gcc's its
opening brace) and info scope answers about the two files must agree, addresses aside,
after these accepted differences: names keep the side file's "_"; "unsigned long" is
"ul"; no "const"; typedef names in declarations show the type they stand for; "(void)"
is "()"; the side file's unnamed filler bit-field is a member (gcc leaves it out) and
wider bit-fields sit (width - 1) bits lower; locals lie at the tool chain's frame
symbols and the frame base register differs, so info scope compares names, lengths and
that they are at the frame base; base types may show as typedefs.
"""
import os
import re
import shutil
import sys
import tempfile

import peerlib

# Sample directory, processor options, family.
SAMPLES = [("arm", ["-pAT91R40008,ARM"], "arm"),
           ("pic32", ["-p32MX360F512L,PIC32MX"], "pic32")]
GDB_REGISTERS = {
    "arm": ["r%d" % k for k in range(13)] + ["sp", "lr", "pc"],
    "pic32": ["zero", "at", "v0", "v1", "a0", "a1", "a2", "a3"] + ["t%d" % k for k in range(8)]
             + ["s%d" % k for k in range(8)] + ["t8", "t9", "k0", "k1", "gp", "sp", "s8", "ra"]}
FRAME_BASE = {"arm": "$bad_register_number", "pic32": "$sp"}

# gdb's warnings on loading the file that are accepted: a section that holds fewer bytes
# than its segment's size (only the stored bytes are in the file, packed without
# alignment) lies outside the PT_LOAD that gdb matches by file size, or beyond the file.
GDB_ACCEPTED = [r'warning: Loadable section "[^"]+" outside of ELF segments', r"in /\S+",
                r"warning: Discarding section \S+ which has a section size \([0-9a-f]+\) "
                r"larger than the file size \[in module /\S+\]"]


def check_complaints(where, gdb, problems):
    for line in gdb.complaints:
        if not any(re.fullmatch(p, line.strip()) for p in GDB_ACCEPTED):
            problems.append("%s: gdb: %s" % (where, line))


# What the side files declare, as gdb shows it.
TYPES = {
    "arm": {
        # [s S2 blink 12 E1 which 1 0 `uc on 1 1 :1:0 `uc . 1 1 :7:1 `us period 2 2
        #  `ul next 4 4 *S2 chain 4 8 ]
        "ptype struct blink": """type = struct blink {
    enum led which;
    unsigned char on : 1;
    unsigned char : 7;
    unsigned short period;
    ul next;
    struct blink *chain;
}""",
        # The 7-bit filler at bit 1 of byte 1: bit offset 8 - 1 - 1 = 6, which gdb reads
        # as bit 8 - 6 - 7 = -5 of byte 1, that is bit 3 of byte 0.
        "ptype/o struct blink": """/* offset      |    size */  type = struct blink {
/*      0      |       1 */    enum led which;
/*      1: 0   |       1 */    unsigned char on : 1;
/*      0: 3   |       1 */    unsigned char : 7;
/* XXX  6-bit hole       */
/*      2      |       2 */    unsigned short period;
/*      4      |       4 */    ul next;
/*      8      |       4 */    struct blink *chain;
                               /* total size (bytes):   12 */
                             }""",
        "ptype struct pio": """type = struct pio {
    volatile ul per;
    volatile ul pdr;
    volatile ul sodr;
    volatile ul codr;
}""",
        "ptype struct tc": """type = struct tc {
    volatile ul ccr;
    volatile ul cmr;
    volatile ul rc;
}""",
        "ptype enum led": "type = enum led {LED_RED = 1, LED_GREEN, LED_BLUE = 4, LED_ALL = 7}",
        "whatis _plan": "type = struct blink [3]",
        "whatis _PIO": "type = struct pio *",
        "whatis _TC0": "type = struct tc *",
        "ptype _vectors": "type = void (*[8])()",  # `C[8]handler, handler is `*(v
        "ptype _handler": "type = void (*)()",
        "ptype _reg32": "type = volatile ul",
        "whatis _state": "type = b",
        "ptype _pattern": "type = unsigned char [8]",
        "whatis _millis": "type = volatile ul",
        "ptype _nesting": "type = volatile unsigned char",
        "ptype _timer_start": "type = void (unsigned short)",  # _scale `us is on the stack
        "ptype _main": "type = int ()",
        "ptype _toggle": "type = void ()",
    },
    "pic32": {
        "ptype struct node": """type = struct node {
    struct sample s;
    struct node *next;
    struct node *prev;
}""",
        "ptype/o struct sample": """/* offset      |    size */  type = struct sample {
/*      0      |       1 */    enum sensor_kind kind;
/*      1      |       1 */    unsigned char id;
/*      2      |       2 */    unsigned short flags;
/*      4      |       4 */    float value;
/*      8      |       4 */    ul stamp;
                               /* total size (bytes):   12 */
                             }""",
        "ptype union frame": """type = union frame {
    ul word;
    unsigned char b[4];
}""",
        "ptype struct port": """type = struct port {
    volatile ul con;
    volatile ul stat;
    volatile ul buf;
}""",
        "ptype enum sensor_kind":
            "type = enum sensor_kind {SK_NONE, SK_TEMP, SK_HUMID, SK_PRESS = 4}",
        "whatis _pool": "type = struct node [8]",
        "whatis _free_list": "type = struct node *",
        "whatis _scale": "type = double [4]",
        "whatis _table": "type = ul [256]",
        "whatis _LATA": "type = volatile ul",
        "whatis _irq_count": "type = volatile unsigned int",
        "ptype _u32": "type = ul",
        "ptype _u16": "type = unsigned short",
        "whatis _spi1": "type = struct port *",
        "whatis _last": "type = union frame",
        "ptype _crc32": "type = ul (ul)",  # only _seed is on the stack
        "ptype _spi_xfer": "type = unsigned char ()",
    },
}


def write_elf(program, data, sample, options, work):
    peerlib.copy_sample(data, sample, work)
    proc = peerlib.run([program] + options + ["-nCODE", "prog.sym", "prog.hex", "-oelf",
                                              "prog.elf"], work)
    return proc, os.path.join(work, "prog.elf")


def plain(line):
    """An answer line without gdb's <symbol+offset> notes."""
    return re.sub(r" <[^>]*>", "", line)


def listing(lines):
    """(file, line, declaration) of each entry of info functions or info variables, up
    to the non-debugging symbols."""
    out, current = [], None
    for line in lines:
        if line.startswith("Non-debugging symbols:"):
            break
        m = re.match(r"File (.*):$", line)
        if m:
            current = m.group(1)
        m = re.match(r"(\d+):\t(.*);$", line)
        if m:
            out.append((current, int(m.group(1)), m.group(2)))
    return out


def line_tables(lines):
    """maint info line-table: (unit, file) -> [(line or "END", address)]."""
    tables, unit, key = {}, None, None
    for line in lines:
        m = re.match(r"compunit_symtab: (\S+)", line)
        if m:
            unit = m.group(1)
        m = re.match(r"symtab: (\S+)", line)
        if m:
            key = (unit, m.group(1))
        m = re.match(r"\d+\s+(\d+|END)\s+0x([0-9a-f]+)", line)
        if m and key:
            tables.setdefault(key, []).append((m.group(1), int(m.group(2), 16)))
    return tables


class Sample:
    """What gdb is to say about one debug sample, and what it is not asked, with why."""

    def __init__(self, program, family, sections):
        self.program, self.family = program, family
        self.nobits = [(s["address"], s["address"] + s["size"]) for s in sections
                       if s["type"] == "NOBITS"]
        mips16 = [b for b in program.sym.bounds.values() if b["init"] == 1]
        self.mips16 = mips16 if family == "pic32" else []
        self.not_asked = []

    def gdb_address(self, address):
        return address | 1 if any(b["low"] <= address <= b["high"] for b in self.mips16) \
            else address

    def why_not(self, unit, address):
        """Why gdb cannot answer about this address of this unit, or None."""
        owner = next((u for u in self.program.units if u["low"] <= address < u["high"]), None)
        if owner is not None and owner is not unit:
            return "gdb gives %X to %s, whose range holds it" % (address, owner["name"])
        if any(low <= address < high for low, high in self.nobits):
            return "%X lies in a NOBITS section" % address
        return None

    def dropped(self, function):
        return self.family == "pic32" and function["high"] & ~1 <= function["low"]

    def questions(self):
        """Command -> expected answer lines; filled as the sample implies."""
        want = {}
        functions, variables, tables = [], [], {}
        for unit in self.program.units:
            file_name = lambda k, unit=unit: unit["files"][k - 1]["name"] if k else unit["name"]
            for f in unit["functions"]:
                if self.dropped(f):
                    self.not_asked.append("%s: MIPS: high pc = low pc + 1 is empty" % f["name"])
                    continue
                functions.append((file_name(f["file"]), f["line"], f["name"], not f["external"]))
                self.scope(unit, f, want)
            for v in unit["variables"]:
                variables.append((file_name(v["file"]), v["line"], v["name"], not v["external"]))
                want["info address %s" % v["name"]] = [
                    'Symbol "%s" is static storage at address 0x%x.' % (v["name"],
                                                                        v["location"][1])]
            self.lines(unit, want, tables)
        return want, sorted(functions), sorted(variables), tables

    def scope(self, unit, function, want):
        reason = self.why_not(unit, function["low"])
        if reason:
            self.not_asked.append("info scope %s: %s" % (function["name"], reason))
            return
        answer = []
        for v in function["locals"]:
            kind, value = v["location"]
            if kind == "fbreg":
                answer.append("Symbol %s is a variable at frame base reg %s offset 0+%d" % (
                    v["name"], FRAME_BASE[self.family], value))
            elif kind == "regx":
                answer.append("Symbol %s is a variable in $%s" % (
                    v["name"], GDB_REGISTERS[self.family][value]))
            else:
                answer.append("Symbol %s is in static storage at address 0x%x" % (v["name"], value))
        want["info scope %s" % function["name"]] = answer or [
            "Scope for %s contains no locals or arguments." % function["name"]]

    def lines(self, unit, want, tables):
        rows = unit["rows"]
        for k, (file_name, line, address) in enumerate(rows):
            tables.setdefault((unit["name"], file_name), []).append(
                ("END" if line is None or k == len(rows) - 1 else str(line),
                 self.gdb_address(address)))
            if line is None or k == len(rows) - 1:
                continue
            start, end = self.gdb_address(address), self.gdb_address(rows[k + 1][2])
            answer = 'Line %d of "%s" starts at address 0x%x and ends at 0x%x.' % (
                line, file_name, start, end)
            reason = self.why_not(unit, address)
            if reason:
                self.not_asked.append("info line %s:%d: %s" % (file_name, line, reason))
                continue
            if sum(1 for r in rows if r[:2] == (file_name, line)) == 1:
                want["info line %s:%d" % (file_name, line)] = [answer]
            for f in unit["functions"]:
                if f["low"] == address:
                    want["info line %s" % f["name"]] = [answer]


def check_sample(program_path, data, sample, options, family, problems):
    with tempfile.TemporaryDirectory() as work:
        proc, path = write_elf(program_path, data, os.path.join("debug", sample), options,
                               work)
        if proc.returncode != 0:
            problems.append("%s: write status %d\n%s" % (sample, proc.returncode, proc.stderr))
            return
        expect = Sample(peerlib.DebugProgram(work, family), family,
                        peerlib.Readelf(path, debug_info=False).sections)
        want, functions, variables, tables = expect.questions()
        want.update({k: v.splitlines() for k, v in TYPES[family].items()})
        commands = ["info functions", "info variables", "maint info line-table"] + list(want)
        gdb = peerlib.Gdb(path, commands)
    check_complaints(sample, gdb, problems)
    for reason in expect.not_asked:
        print("%s: not asked: %s" % (sample, reason))
    for command, entries in (("info functions", functions), ("info variables", variables)):
        # The declared name is the first that begins with "_" (types never do here).
        got = sorted((f, l, (re.findall(r"\b_\w+", d) or [d])[0], d.startswith("static "))
                     for f, l, d in listing(gdb.answers.get(command, [])))
        if got != entries:
            problems.append("%s: %s %s, want %s" % (sample, command, got, entries))
    got = line_tables(gdb.answers.get("maint info line-table", []))
    got = {k: v for k, v in got.items() if k in tables or v}
    if got != tables:
        problems.append("%s: maint info line-table %s, want %s" % (sample, got, tables))
    for command, answer in want.items():
        seen = [plain(l) for l in gdb.answers.get(command, [])]
        if command.startswith("info scope"):
            seen = [re.sub(r", length \d+\.$", "", l) for l in seen[1:] if not
                    l.endswith(" is a typedef.")] if len(seen) > 1 else seen
        if seen != answer:
            problems.append("%s: %s:\n  %s\nwant\n  %s" % (sample, command, "\n  ".join(seen),
                                                          "\n  ".join(answer)))


# ---- The same program from the ELF side ----

GCC = ["arm-none-eabi-gcc", "-g", "-gdwarf-2", "-gstrict-dwarf", "-gno-as-loc-support", "-O0",
       "-c"]
NAMES = ["channels", "last_word", "ticks", "counter", "history", "limits", "scale", "main",
         "value", "factor", "sum", "k", "ch", "i", "w"]
QUESTIONS = ["ptype struct channel", "ptype struct flags", "ptype union word", "ptype enum mode",
             "ptype/o struct channel", "whatis channels", "ptype last_word", "whatis ticks",
             "whatis counter", "whatis history", "whatis limits", "ptype u8", "ptype scale",
             "ptype main", "info address counter", "info address history",
             "info line prog.c:41", "info line prog.c:44", "info line prog.c:57",
             "info line prog.c:61", "info scope scale", "info scope main", "info functions",
             "info variables"]


def ours(text):
    """A question or answer about gcc's file as asked or answered about symvert's:
    variables and functions keep the side file's "_"; the typedef u8 is written as the
    type it stands for, except in its own name."""
    text = re.sub(r"\b(%s)\b" % "|".join(NAMES), r"_\1", text)
    return text.replace("ptype u8", "ptype _u8")


def accepted(line):
    """gcc's answer line as symvert's file answers it, by the accepted differences."""
    line = ours(line).replace("unsigned long", "ul").replace("const ", "")
    line = re.sub(r"\bu8\b", "unsigned char", line).replace("(void)", "()")
    m = re.match(r"(/\*\s+\d+): (\d+)(\s+\|.*\*/.*: (\d+);)$", line)
    if m:  # a bit-field (ptype/o): wider ones sit (width - 1) bits lower
        line = "%s: %d%s" % (m.group(1), int(m.group(2)) - int(m.group(4)) + 1, m.group(3))
    return put_aside(line)


def put_aside(line):
    """An answer line with what may differ between the files (addresses, the frame base
    register and offsets) put aside."""
    m = re.match(r"(Symbol \w+ is a variable) at frame base reg \S+ offset \S+(, length \d+\.)$",
                 line)
    if m:
        line = m.group(1) + " at the frame base" + m.group(2)
    if re.match(r'(Symbol "\w+" is static storage at address|Line \d+ of "prog\.c" starts at '
                r'address) ', line):
        line = re.sub(r"0x[0-9a-f]+", "ADDRESS", line)
    return line


def check_elfside(program_path, data, problems):
    with tempfile.TemporaryDirectory() as work:
        proc, path = write_elf(program_path, data, "elfside", ["-pAT91R40008,ARM"], work)
        if proc.returncode != 0 or proc.stderr:
            problems.append("elfside: write status %d\n%s" % (proc.returncode, proc.stderr))
            return
        compiled = peerlib.run(GCC + ["prog.c", "-o", "gcc.o"], work)
        if compiled.returncode != 0:
            problems.append("elfside: gcc status %d\n%s" % (compiled.returncode,
                                                             compiled.stderr))
            return
        theirs = peerlib.Gdb(os.path.join(work, "gcc.o"), QUESTIONS)
        mine = peerlib.Gdb(path, [ours(q) for q in QUESTIONS])
    check_complaints("elfside (symvert)", mine, problems)
    check_complaints("elfside (gcc)", theirs, problems)
    for question in QUESTIONS:
        want = [accepted(plain(l)) for l in theirs.answers.get(question, [])
                if not re.match(r"/\* XXX", l)]
        seen = [put_aside(plain(l)) for l in mine.answers.get(ours(question), [])
                if not re.match(r"/\* XXX", l) and not l.endswith(" is a typedef.")
                and not re.search(r"unsigned char : \d+;$", l)]
        if question.startswith("info functions") or question.startswith("info variables"):
            cut = lambda lines: lines[:next((k for k, l in enumerate(lines)
                                             if l.startswith("Non-debugging")), len(lines))]
            want, seen = cut(want), cut(seen)
        if not want or seen != want:
            problems.append("elfside: %s:\n  symvert's file: %s\n  gcc's file, as accepted: %s"
                            % (question, "\n    ".join(seen), "\n    ".join(want)))


def main():
    program, data = peerlib.arguments()
    if peerlib.missing("gdb-multiarch", "readelf"):
        return peerlib.SKIPPED
    problems = []
    for sample, options, family in SAMPLES:
        check_sample(program, data, sample, options, family, problems)
    have_gcc = shutil.which(GCC[0]) is not None
    if have_gcc:
        check_elfside(program, data, problems)
    else:
        print("%s not installed: the ELF-side comparison is not run" % GCC[0])
    return peerlib.report(problems, "gdb asked about %d samples%s; %d problems" % (
        len(SAMPLES), " and the ELF-side program" if have_gcc else "", len(problems)))


if __name__ == "__main__":
    sys.exit(main())
