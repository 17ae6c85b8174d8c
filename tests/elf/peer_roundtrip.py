#!/usr/bin/env python3
"""Round trip through ELF: each bundled symbol file sample (tests/data/debug) is written as
ELF, that ELF is read back and written as the family's formats, and each output is
compared with the same output written straight from the symbol file. Each is
byte-identical or listed in DIFFERENCES with its reasons (REASONS). The images made through
ELF hold every byte that ELF stores, at the same address, and nothing else but the zeros
of the gaps it stores (reasons C and D, checked byte by byte). gputils' gpvc reads the
.COD file and gpvo the Microchip COFF file made through ELF."""
import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from peer_harness import Check, image  # noqa: E402

# The outputs of each sample, each with the -p and -n options it is written with.
SAMPLES = {
    "pic16": {"cod": "-p16F877A,877A,PIC14", "mcoff": "-p16F877A,877A,PIC14", "coff": "-p16F877,PIC16",
              "elf": "-p16F877"},
    "pic18": {"cod": "-p18F452,452,PIC18", "mcoff": "-p18F452,452,PIC18", "coff": "-p18F452,PIC18",
              "elf": "-p18F452"},
    "dspic": {"cod": "-p30F2010,2010,PIC30", "coff": "-p30F2010,PIC30", "elf": "-p30F2010,dsPIC30F"},
    "pic32": {"elf": "-b -p32MX360F512L,PIC32MX"},
    "arm": {"coff": "-pAT91R40008,SH", "elf": "-pAT91R40008,ARM"},
    "i8051": {"eomf51": "-pAT89C51,8051", "elf": "-pAT89C51,8051"},
    "holtek": {"htk": "-pHT46R24", "elf": "-pHT46R24"},
}
IMAGES = ("ihex", "s19", "titxt")

REASONS = {
    "A": "the symbol file's class segments (CODE, BANK0, ...) are no sections of the ELF file; the read makes "
         "CODE, DATA or CONST of each section by its flags, so class segments, sections and their order differ",
    "B": "ELF gives global symbols no file: they come back as the ELF file's own (its name, not the symbol "
         "file's), and the linker's bounds symbols (__L, __H, __I) are not in it; per-file tables differ",
    "C": "the ELF writer stores only the data blocks inside a written segment: the images of word-addressed "
         "families lie at byte addresses past their segments and are not stored",
    "D": "the ELF file stores a segment's bytes from its first block to its last: the gaps come back as zeros",
    "E": "the writer gives a bit-field's DW_AT_bit_offset as its lowest bit counted from the top (right for "
         "one-bit fields); the read takes it as DWARF defines it, to the field's top bit",
    "F": "the 8051's code and data spaces overlap in ELF's one address space: the data sections' bytes come back "
         "into the image",
    "G": "the function extents that DWARF gives come back as __end_of symbols where the symbol file had none, "
         "and the end symbols the ELF file holds as its own symbols",
    "I": "the ELF writer gives a segment its run address as its physical address: the bytes of a segment "
         "loaded elsewhere (initialised data in ROM) come back at its run address",
    "H": "the side files' types that DWARF 2 carries only as their definitions (typedefs, qualifiers other than "
         "volatile, the bit type) come back as those definitions",
}
# (sample, output): the reasons it differs for; an output not listed must be byte-identical.
DIFFERENCES = {
    ("pic16", "cod"): "ABC", ("pic16", "mcoff"): "ABC", ("pic16", "coff"): "ABC", ("pic16", "elf"): "ABH",
    ("pic18", "cod"): "ABD", ("pic18", "mcoff"): "ABD", ("pic18", "coff"): "ABD", ("pic18", "elf"): "ABH",
    ("dspic", "cod"): "ABC", ("dspic", "coff"): "ABC", ("dspic", "elf"): "ABGH",
    ("pic32", "elf"): "ABG",
    ("arm", "coff"): "ABDE", ("arm", "elf"): "E",
    ("i8051", "eomf51"): "ABFG", ("i8051", "elf"): "ABFG",
    ("holtek", "htk"): "ABD", ("holtek", "elf"): "ABGH",
}
for sample, kinds in (("pic16", "C"), ("pic18", "D"), ("dspic", "C"), ("pic32", "DI"), ("arm", "DI"),
                      ("i8051", "DF"), ("holtek", "D")):
    DIFFERENCES.update(((sample, image), kinds) for image in IMAGES)


def stored_ranges(check, elf):
    """The address ranges whose bytes the ELF file stores (its loadable segments' files)."""
    text = check.run(["readelf", "-W", "-l", elf]).stdout
    return [(int(p, 16), int(p, 16) + int(s, 16)) for p, s in re.findall(
        r"^\s+LOAD\s+\w+ \w+ (\w+) (\w+)", text, re.M)]


def compare_images(check, where, direct, through, ranges, moved):
    """Through ELF: every stored byte as it was, and the gaps zeros; nothing else (but,
    when moved, the bytes of segments loaded elsewhere than they run)."""
    inside = lambda a: any(low <= a < high for low, high in ranges)
    extra = {a: b for a, b in through.items() if a not in direct and b != 0 and not (moved and inside(a))}
    changed = {a: (direct[a], b) for a, b in through.items() if a in direct and direct[a] != b}
    lost = [a for a in direct if a not in through and inside(a)]
    check.same(where + ": bytes other than the gaps' zeros", sorted(extra.items())[:5], [])
    check.same(where + ": bytes changed", sorted(changed.items())[:5], [])
    check.same(where + ": stored bytes lost", lost[:5], [])


def main():
    check = Check("gpvc", "gpvo", "readelf")
    for sample, outputs in SAMPLES.items():
        work = check.sample(os.path.join("debug", sample))
        for output, processor in list(outputs.items()) + [(i, outputs["elf"]) for i in IMAGES]:
            options = processor.split() + ["-nCODE"]
            elf = "via-%s.elf" % output
            check.ran(sample, check.symvert(*options, "prog.sym", "prog.hex", "-oelf", elf, cwd=work))
            check.symvert(*options, "prog.sym", "prog.hex", "-o" + output, "direct." + output, cwd=work)
            check.symvert(*options, elf, "-o" + output, "through." + output, cwd=work)
            same = open(os.path.join(work, "direct." + output), "rb").read() == open(
                os.path.join(work, "through." + output), "rb").read()
            listed = DIFFERENCES.get((sample, output))
            check.same("%s %s: differs (as listed)" % (sample, output), not same, bool(listed))
            if not same and listed:
                print("%s %s through ELF differs: %s" % (sample, output, "; ".join(REASONS[k] for k in listed)))
            if output in IMAGES:
                compare_images(check, "%s %s" % (sample, output),
                               image(os.path.join(work, "direct." + output))[0],
                               image(os.path.join(work, "through." + output))[0],
                               stored_ranges(check, os.path.join(work, elf)), "I" in (listed or ""))
            if output in ("cod", "mcoff"):
                tool = "gpvc" if output == "cod" else "gpvo"
                proc = check.run([tool, "through." + output], cwd=work)
                check.same("%s: %s reads the %s made through ELF" % (sample, tool, output),
                           proc.returncode, 0)
    check.done("%d samples through ELF and back" % len(SAMPLES))


main()
