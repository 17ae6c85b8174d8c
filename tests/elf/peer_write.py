#!/usr/bin/env python3
"""Peer check: the ELF files with DWARF 2 that symvert writes from the debug samples
(.sym, side files, Intel HEX) are read without complaint by readelf, llvm-dwarfdump
--verify, eu-readelf and eu-elflint, and they read in them what symvert's dump shows (as
peer_dump.py compares it). The complaints accepted, each for the way the writer lays the
file out, are listed with their reasons. The DWARF address size is the processor's data
pointer size: for size 1 (pic16, holtek) llvm 14 and readelf cannot read .debug_info and
the line programs, and libdw (eu-readelf) reads only sizes 4 and 8; libdw reads DWARF only
from PROGBITS sections, so it is given a copy with the DWARF sections retyped."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from peer_harness import Check  # noqa: E402
import peer_dump  # noqa: E402

# Sample, processor options, DWARF address size.
SAMPLES = [("debug/arm", ["-pAT91R40008,ARM"], 4), ("debug/pic32", ["-p32MX360F512L,PIC32MX"], 4),
           ("debug/pic32", ["-b", "-p32MX360F512L,PIC32MX"], 4),
           ("debug/dspic", ["-p30F2010,dsPIC30F"], 2), ("debug/pic16", ["-p16F877"], 1),
           ("debug/pic18", [], 2), ("debug/holtek", [], 1), ("debug/i8051", ["-pAT89C51,8051"], 2),
           ("elfside", ["-pAT91R40008,ARM"], 4)]
PACKED = "sections packed without alignment, sh_size the segment's size, only stored bytes"
PHDR = "PT_PHDR comes first and no PT_LOAD covers it"
SH_INFO = ".symtab's sh_info is 0 although local symbols follow global ones"
NOTE = "DWARF sections have sh_type 7 (SHT_NOTE), 0x7000001E (SHT_MIPS_DWARF) on MIPS"
FLAGS = "section flags follow the stored bytes (dsPIC: the program class), p_flags are 0"
ACCEPTED = [
    (r"readelf: Error: the PHDR segment is not covered by a LOAD segment", PHDR),
    (r"readelf: Warning: local symbol \d+ found at index >= \.symtab's sh_info", SH_INFO),
    (r"readelf: Warning: Size of section \d+ is larger than the entire file!", PACKED),
    (r"warning: last sequence in debug line table at offset 0x\w+ is not terminated",
     "the line-number programs end without end_sequence"),
    (r"unsupported OS ABI e_ident\[7\] == 'Stand alone'", "EI_OSABI is 0xFF, standalone"),
    (r"unknown machine type (0|118)$|invalid machine flags: 0x5$", "no machine, or dsPIC30F"),
    (r"PHDR segment not contained in a loaded segment", PHDR),
    (r"is executable in nonexecutable segment|has wrong flags: expected ALLOC and possibly "
     r"MERGE\|STRINGS, is ALLOC\|EXECINSTR|has unexpected type 8 for an executable", FLAGS),
    (r"not fully contained in segment of program header entry", PACKED),
    (r"local symbol outside range described in sh_info", SH_INFO),
    (r"unknown bit set in st_other", "MIPS16 symbols have st_other 0xF0 (STO_MIPS16)"),
    (r"st_value out of bounds", "dsPIC program-class sections: addresses in two-byte units"),
    (r"'\.debug_\w+'( has wrong type: expected PROGBITS, is (NOTE|SHT_LOPROC\+1e)| has "
     r"unsupported type 1879048222|: cannot get content of note section|: extra \d+ bytes "
     r"after last note|: unknown object file note type)", NOTE),
    (r"has wrong type: expected PROGBITS, is NOBITS", "a segment without image bytes is NOBITS"),
]
ADDRESS_SIZE_1 = [  # llvm 14 reads address sizes 2, 4 and 8 only: one error per unit
    (r"warning: DWARF unit at offset 0x\w+ has unsupported address size: 1", ""),
    (r"error: Units\[\d+\] - start offset: 0x\w+|note: The address size is unsupported\.", "")]


def main():
    check = Check("readelf", "llvm-dwarfdump", "eu-readelf", "eu-elflint")
    accepted = [p for p, _ in ACCEPTED] + [r"^Verifying|^No errors\.|^Errors detected\."]
    for sample, options, size in SAMPLES:
        where = sample + (" (big-endian)" if "-b" in options else "")
        work = check.sample(sample)
        proc = check.symvert(*options, "-nCODE", "prog.sym", "prog.hex", "-oelf", "out.elf",
                             cwd=work)
        if not check.ran(where, proc):
            continue
        path = os.path.join(work, "out.elf")
        dump = check.symvert("-d", "-v", "-v", "-v", path)
        check.ran(where + ": dump", dump)
        peer_dump.compare(check, where, path, dump.stdout, work, entries=size != 1)
        readable = ["--debug-dump=info,line"] if size != 1 else ["--debug-dump=abbrev"]
        check.quiet(where + ": readelf", check.run(["readelf", "-h", "-S", "-s", "-l"] + readable
                                                   + [path]).stderr, accepted)
        verify = check.run(["llvm-dwarfdump", "--verify", "--debug-info", "--debug-line", path])
        check.quiet(where + ": llvm-dwarfdump", verify.stdout + verify.stderr, accepted + (
            [p for p, _ in ADDRESS_SIZE_1] if size == 1 else []))
        if size != 1:
            check.same(where + ": llvm-dwarfdump --verify status", verify.returncode, 0)
        lint = check.run(["eu-elflint", path])
        check.quiet(where + ": eu-elflint", lint.stdout + lint.stderr, accepted)
        copy = peer_dump.retyped(path, os.path.join(work, "progbits.elf"), lambda label, kind:
                                 1 if label.startswith(".debug_") else kind)
        parts = ["abbrev"] + (["info", "line"] if size == 4 else [])
        for file in (path, copy):
            read = check.run(["eu-readelf"] + ["--debug-dump=" + p for p in parts] + [file])
            check.quiet(where + ": eu-readelf", read.stderr)
            check.same(where + ": eu-readelf status", read.returncode, 0)
    check.done("%d written ELF files read by readelf, llvm-dwarfdump, eu-readelf and "
               "eu-elflint" % len(SAMPLES))


main()
