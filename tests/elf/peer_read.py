#!/usr/bin/env python3
"""Peer check: symvert reads ELF files of gcc (ARM little-endian, MIPS big-endian, static,
without start files) and sdcc (HC08).
- Images: -oihex and -os19 of the read file hold the bytes objcopy -O ihex and -O srec
  write, at the same addresses, compared as address-to-byte maps; the entry that the
  ELF writer then gives (e_entry of -oelf) is objcopy's start address.
- gdb: tests/data/elfin (types of every kind, three units, locals, nested blocks, a
  static local) at -gdwarf-2, -4 and -5 and -O0 converted with -oelf: gdb-multiarch gives
  the same answers on both files to ptype and whatis of every global and named type,
  info address of every global, info scope and info line of every function, but for
  what the type model or DWARF 2 as the writer writes it cannot carry, each rule of
  CARRIED below with its reason. At -O2 the differences that remain are listed, each
  with its reason (O2_REASONS); one without a reason fails."""
import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from peer_harness import Check, image  # noqa: E402

GLOBALS = "nodes ticks limits buffer last letter small count mask ratio scratch status banner dispatch visits".split()
TYPES = ["byte_t", "sample_t", "label_t", "enum colour", "struct flags", "union word", "struct node"]
FUNCTIONS = "handle main walk total".split()
NESTED = {"main": {"n", "inner"}, "walk": {"w", "c"}}  # declared in blocks inside them
SOURCES = ["main.c", "walk.c", "total.c"]
TARGETS = {  # compiler, -p of the conversion, objcopy, whether plain char is unsigned
    "arm": ("arm-none-eabi-gcc -mcpu=arm7tdmi", "-pAT91R40008,ARM", "arm-none-eabi-objcopy", True),
    "mips": ("mips-linux-gnu-gcc -EB -static -mno-abicalls -fno-pic", "-p32MX360F512L,PIC32MX",
             "mips-linux-gnu-objcopy", False),
}
COMMON = "-ffreestanding -nostdlib -nostartfiles -Wl,-e,main".split()

# What the converted file cannot carry: (pattern, replacement, reason), applied to both
# answers before they are compared. Rules marked "orig" apply to the original only.
CARRIED = [
    (r"\bbyte_t\b", "unsigned char", "the model's types hold no typedef: a typedef'd type is its definition"),
    (r"\bsample_t\b", "short", "as above"),
    (r"\blabel_t\b", "const char *", "as above"),
    (r"\bconst ", "", "the families' const flag is not the one the DWARF writer writes a const type for"),
    (r"\((?:void|[\w ,*]+)\)", "()", "a function type of the model has no parameters"),
    (r"\bsigned char\b", "char", "the family's signed one-byte type is its char"),
    (r"\bunsigned long\b", "ul", "the DWARF writer names the family's ul by its own name"),
    (r"= -(\d+)", lambda m: "= %d" % (2 ** 32 - int(m[1])), "the DWARF writer writes enumerators as 4-byte constants"),
    (r"is a complex DWARF expression:\s+0: DW_OP_fbreg (-?\d+)\s+, length", r"at frame offset \1, length",
     "the original's frame base is the CFA, the converted one's the register the writer names"),
    (r"is a variable at frame base reg \$\w+ offset 0\+(-?\d+), length", r"at frame offset \1, length", "as above"),
]


# Why answers differ at -O2: (pattern met in the original's answer, or the question,
# reason). Every difference must have one.
O2_REASONS = [
    (r"optimized out", "a variable the compiler left without a location is not read"),
    (r"multi-location", "location lists are left out (431)"),
    (r"complex DWARF expression", "locations other than one address, register or frame offset are left out"),
    (r"^info line", "rows that begin no statement are not read, so a row runs up to the next statement's; "
                    "the writer ends a sequence where a record has the line of the one before it"),
]


def ask(check, path, where):
    """gdb-multiarch's answer to each question about the file."""
    questions = [q % g for g in GLOBALS for q in ("ptype %s", "whatis %s", "info address %s")]
    questions += [q % t for t in TYPES for q in ("ptype %s", "whatis %s")]
    questions += [q % f for f in FUNCTIONS for q in ("info scope %s", "info line %s")]
    answers, proc = check.gdb(path, questions)
    if proc.returncode:
        check.fail(where, "gdb: " + proc.stderr[-500:])
    return {q: a.strip() for q, a in answers.items()}


def normalised(answer, unsigned_char):
    """An answer with the rules of CARRIED applied; unsigned_char (the original's, when its
    target's plain char is unsigned): that char is the family's unsigned char."""
    for pattern, replacement, _ in CARRIED[:3]:
        answer = re.sub(pattern, replacement, answer)
    if unsigned_char:
        answer = re.sub(r"(?<!signed )\bchar\b", "unsigned char", answer)
    for pattern, replacement, _ in CARRIED[3:]:
        answer = re.sub(pattern, replacement, answer)
    return re.sub(r"\* (\w)", r"*\1", answer)


def scope_symbols(answer, function, converted):
    """The symbols an info scope answer lists, without the typedefs the writer declares in
    the function and, in the converted file, without those of its blocks, which the writer
    puts in the function itself."""
    symbols = dict(re.findall(r"^Symbol (.+?) (is .*)$", re.sub(r"\n(?!Symbol )", " ", answer), re.M))
    return {name: text for name, text in symbols.items() if text != "is a typedef." and not (
        converted and name in NESTED.get(function, ()))}


def compare_gdb(check, where, original, converted, unsigned_char, optimised=False):
    """The answers alike; at -O2 each difference listed with its reason."""
    want, got = ask(check, original, where), ask(check, converted, where)
    for question, answer in want.items():
        a, b = normalised(answer, unsigned_char), normalised(got.get(question, ""), False)
        if question.startswith("info scope"):
            function = question.split()[-1]
            a, b = scope_symbols(a, function, False), scope_symbols(b, function, True)
            differing = [(question + " (" + name + ")", text) for name, text in a.items() if b.get(name) != text]
            differing += [(question + " (" + name + ")", "") for name in b if name not in a]
        else:
            subject = question.split()[-1]
            differing = [(question, a + want.get("info address " + subject, ""))] if a != b else []
        if not optimised:
            check.same("%s: %s" % (where, question), b, a)
            continue
        for what, text in differing:
            reason = next((r for p, r in O2_REASONS if re.search(p, text) or re.search(p, what)), None)
            print("%s -O2: %s: %s" % (where, what, reason or "NO REASON"))
            if not reason:
                check.fail(where + " -O2: " + what, "differs without a listed reason: %r" % text)


def build(check, work, target, version, level):
    compiler, _, _, _ = TARGETS[target]
    out = os.path.join(work, "%s-v%d-%s.elf" % (target, version, level))
    proc = check.run(compiler.split() + COMMON + ["-g", "-gdwarf-%d" % version, "-" + level, "-o", out] + SOURCES,
                     cwd=work)
    return out if proc.returncode == 0 else check.fail(out, proc.stderr)


def compare_images(check, work, path, objcopy):
    where = os.path.basename(path)
    proc = check.symvert(path, "-oihex", "mine.hex", "-os19", "mine.s19", "-oelf", "mine.elf", cwd=work)
    if proc.returncode:
        check.fail(where, proc.stderr)
    check.run([objcopy, "-O", "ihex", path, "peer.hex"], cwd=work)
    check.run([objcopy, "-O", "srec", path, "peer.s19"], cwd=work)
    entry = re.search(r"Entry point address:\s+(\w+)", check.run(["readelf", "-h", "mine.elf"], cwd=work).stdout)
    for name in ("hex", "s19"):
        mine, _ = image(os.path.join(work, "mine." + name))
        peer, start = image(os.path.join(work, "peer." + name))
        check.same(where + ": " + name + " bytes", sorted(mine.items()), sorted(peer.items()))
        if start is not None:
            check.same(where + ": start address", int(entry[1], 16) if entry else None, start)


def main():
    check = Check("gdb-multiarch", "arm-none-eabi-gcc", "mips-linux-gnu-gcc", "arm-none-eabi-objcopy",
                  "mips-linux-gnu-objcopy", "objcopy", "readelf")
    work = check.sample("elfin")
    for target, (_, processor, objcopy, unsigned_char) in TARGETS.items():
        for version in (2, 4, 5):
            original = build(check, work, target, version, "O0")
            if not original:
                continue
            compare_images(check, work, original, objcopy)
            converted = original.replace(".elf", "-symvert.elf")
            check.ran(original, check.symvert(processor, original, "-oelf", converted, cwd=work))
            compare_gdb(check, os.path.basename(original), original, converted, unsigned_char)
        optimised = build(check, work, target, 5, "O2")
        if optimised:
            converted = optimised.replace(".elf", "-symvert.elf")
            check.symvert(processor, optimised, "-oelf", converted, cwd=work)
            compare_gdb(check, os.path.basename(optimised), optimised, converted, unsigned_char, True)
    hc08 = check.sample("elfreal")
    proc = check.run(["sdcc", "-mhc08", "--out-fmt-elf", "--debug", "hc08.c"], cwd=hc08)
    if proc.returncode == 0:
        compare_images(check, hc08, os.path.join(hc08, "hc08.elf"), "objcopy")
    check.done("%d programs read; images as objcopy's, gdb's answers as on the originals" % (2 * 3))


main()
