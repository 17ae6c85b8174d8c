#!/usr/bin/env python3
"""Peer check: gdb's answers about the ELF files symvert writes. For the ARM and PIC32
samples, the answers written in peer_gdb/SAMPLE.gdb (info functions, variables, scope,
address, line, maint info line-table, ptype, whatis); not asked: a function inside another
unit's range (gdb gives the address to the first unit), code in a NOBITS section, a MIPS
function without __end_of symbol (empty once gdb clears the ISA bit). gdb warns that
sections lie outside their segments (they hold only the stored bytes, packed). And the same
program from both sides (tests/data/elfside): prog.c by arm-none-eabi-gcc, and the ELF
symvert writes from its hand-written prog.sym and prog.sdb; gdb's answers about the two
agree but for names keeping the side file's "_", "ul" for "unsigned long", no "const",
typedefs shown as their types, "()" for "(void)", the side file's filler bit-field, wider
bit-fields (width - 1) bits lower, and addresses, frame bases and typedef'd base types."""
import os
import re
import shutil
import sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from peer_harness import Check, values  # noqa: E402

SAMPLES = [("arm", ["-pAT91R40008,ARM"]), ("pic32", ["-p32MX360F512L,PIC32MX"])]
WARNINGS = [r'warning: Loadable section "[^"]+" outside of ELF segments', r"^\s+in /\S+",
            r"warning: Discarding section \S+ which has a section size \(\w+\) larger than"]
GCC = "arm-none-eabi-gcc -g -gdwarf-2 -gstrict-dwarf -gno-as-loc-support -O0 -c prog.c -o gcc.o".split()
NAMES = "channels last_word ticks counter history limits scale main value factor sum k ch i w".split()
HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "peer_gdb")


def ask(check, path, commands):
    """gdb's answer to each command: its lines without <symbol+offset> notes, up to the
    non-debugging symbols; a line table as sorted "unit file line address"."""
    answers, proc = check.gdb(path, commands)
    check.quiet(path + ": gdb", proc.stderr, WARNINGS)
    for command, text in answers.items():
        lines = [re.sub(r" <[^>]*>", "", l.rstrip()) for l in
                 text.split("Non-debugging symbols:")[0].splitlines() if l.strip()]
        if command == "maint info line-table":
            unit, lines = {}, []
            for m in re.finditer(r"^(compunit_symtab|symtab): (\S+)|^\d+\s+(\w+)\s+0x(\w+)", text, re.M):
                unit.update({m[1]: m[2]} if m[1] else {})
                lines += [] if m[1] else ["%s %s %s 0x%x" % (
                    unit["compunit_symtab"], unit["symtab"], m[3], int(m[4], 16))]
            lines.sort()
        answers[command] = lines
    return answers


def ours(text):
    """A question or answer about gcc's file as it reads about symvert's."""
    return re.sub(r"\b(%s|u8)\b" % "|".join(NAMES), r"_\1", text) if text.startswith(
        "ptype u8") else re.sub(r"\b(%s)\b" % "|".join(NAMES), r"_\1", text)


def aside(line):
    """What may differ between the two files put aside: addresses, frame base and offset."""
    line = re.sub(r"at frame base reg \S+ offset \S+(, length \d+\.)$", r"at the frame base\1", line)
    if re.match(r'Symbol "\w+" is static storage|Line \d+ of "prog\.c" starts', line):
        line = re.sub(r"0x[0-9a-f]+", "ADDRESS", line)
    return line


def accepted(line):
    """gcc's answer line as symvert's file answers it."""
    line = ours(line).replace("unsigned long", "ul").replace("const ", "")
    line = re.sub(r"\bu8\b", "unsigned char", line).replace("(void)", "()")
    m = re.match(r"(/\*\s+\d+): (\d+)(\s+\|.*\*/.*: (\d+);)$", line)
    if m:  # ptype/o of a bit-field
        line = "%s: %d%s" % (m[1], int(m[2]) - int(m[4]) + 1, m[3])
    return aside(line)


def main():
    check = Check("gdb-multiarch")
    for sample, options in SAMPLES:
        work = check.sample("debug/" + sample)
        if not check.ran(sample, check.symvert(*options, "-nCODE", "prog.sym", "prog.hex",
                                               "-oelf", "prog.elf", cwd=work)):
            continue
        text = open(os.path.join(HERE, sample + ".gdb")).read()
        want = {c: a.splitlines() for c, a in re.findall(r"^> (.*)\n((?:[^>#].*\n)*)", text, re.M)}
        answers = ask(check, os.path.join(work, "prog.elf"), list(want))
        for command, lines in want.items():
            got = answers.get(command)
            if "scope" in command and len(got) > 1:  # its heading, lengths and typedef'd base types aside
                got = [re.sub(r", length \d+\.$", "", l) for l in got[1:] if not l.endswith(" is a typedef.")]
            check.same("%s: %s" % (sample, command), got, lines)
    if shutil.which(GCC[0]):
        work = check.sample("elfside")
        check.ran("elfside", check.symvert("-pAT91R40008,ARM", "-nCODE", "prog.sym", "prog.hex",
                                           "-oelf", "prog.elf", cwd=work))
        check.ran("elfside: gcc", check.run(GCC, work))
        questions = values(open(os.path.join(HERE, "elfside.questions")).read(), (r"([^#].*)$", lambda m: m[1]))
        theirs = ask(check, os.path.join(work, "gcc.o"), questions)
        mine = ask(check, os.path.join(work, "prog.elf"), [ours(q) for q in questions])
        for question in questions:
            want = [accepted(l) for l in theirs[question] if not l.startswith("/* XXX")]
            got = [aside(l) for l in mine[ours(question)] if not l.startswith("/* XXX") and
                   not l.endswith(" is a typedef.") and not re.search(r"char : \d+;$", l)]
            check.same("elfside: " + question, got, want or ["(gcc's file: no answer)"])
    check.done("gdb asked about %d samples and the ELF-side program" % len(SAMPLES))


main()
