#!/usr/bin/env python3
"""Peer check: the ELF files with DWARF 2 that symvert writes from the debug samples are
read without complaint by readelf, llvm-dwarfdump --verify, eu-readelf and eu-elflint but
those ACCEPTED (for the writer's layout), and show there what symvert's dump shows (as in
peer_dump.py). The DWARF address size is the data pointer size: for size 1 llvm 14 and
readelf cannot read the entries and line programs, and libdw (eu-readelf) reads sizes 4
and 8 only, and DWARF only from PROGBITS sections: it reads a copy so retyped too."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from peer_harness import Check  # noqa: E402
import peer_dump  # noqa: E402

# Sample, processor options, DWARF address size.
SAMPLES = [("debug/arm", ["-pAT91R40008,ARM"], 4), ("debug/pic32", ["-p32MX360F512L,PIC32MX"], 4),
           ("debug/pic32", ["-b", "-p32MX360F512L,PIC32MX"], 4), ("debug/dspic", ["-p30F2010,dsPIC30F"], 2),
           ("debug/pic16", ["-p16F877"], 1), ("debug/pic18", [], 2), ("debug/holtek", [], 1),
           ("debug/i8051", ["-pAT89C51,8051"], 2), ("elfside", ["-pAT91R40008,ARM"], 4)]
# Complaints accepted, by what in the writer's layout causes them.
ACCEPTED = [r"^Verifying|^No errors\.|^Errors detected\.",
            # PT_PHDR comes first and no PT_LOAD covers it
            r"PHDR segment is not covered by a LOAD segment|PHDR segment not contained in a loaded",
            # .symtab's sh_info is 0 although local symbols follow global ones
            r"local symbol \d+ found at index >= \.symtab's sh_info|local symbol outside range described",
            # sections packed without alignment; sh_size is the segment's, only stored bytes are there
            r"Size of section \d+ is larger than the entire file|not fully contained in segment of",
            r"last sequence in debug line table at offset 0x\w+ is not terminated",  # no end_sequence
            r"unsupported OS ABI e_ident\[7\] == 'Stand alone'",  # EI_OSABI 0xFF: standalone
            r"unknown machine type (0|118)$|invalid machine flags: 0x5$",  # no machine, or dsPIC30F
            # section flags follow the stored bytes (dsPIC: the program class); p_flags are 0
            r"is executable in nonexecutable segment|has wrong flags: expected ALLOC and possibly "
            r"MERGE\|STRINGS, is ALLOC\|EXECINSTR|has unexpected type 8 for an executable",
            r"unknown bit set in st_other",  # MIPS16 symbols have st_other 0xF0 (STO_MIPS16)
            r"st_value out of bounds",  # dsPIC program-class sections count two-byte units
            # DWARF sections have sh_type 7 (SHT_NOTE), 0x7000001E (SHT_MIPS_DWARF) on MIPS
            r"'\.debug_\w+'( has wrong type: expected PROGBITS, is (NOTE|SHT_LOPROC\+1e)| has unsupported "
            r"type 1879048222|: cannot get content of note section|: extra \d+ bytes after last note|: "
            r"unknown object file note type)",
            r"has wrong type: expected PROGBITS, is NOBITS"]  # a segment without image bytes
# llvm 14 reads address sizes 2, 4 and 8 only: for size 1, one error per unit
ADDRESS_SIZE_1 = [r"has unsupported address size: 1|error: Units\[\d+\] - start offset: 0x\w+|note: "
                  r"The address size is unsupported\."]


def main():
    check = Check("readelf", "llvm-dwarfdump", "eu-readelf", "eu-elflint")
    for sample, options, size in SAMPLES:
        where = sample + (" (big-endian)" if "-b" in options else "")
        work = check.sample(sample)
        proc = check.symvert(*options, "-nCODE", "prog.sym", "prog.hex", "-oelf", "out.elf", cwd=work)
        if not check.ran(where, proc):
            continue
        path = os.path.join(work, "out.elf")
        dump = check.symvert("-d", "-v", "-v", "-v", path)
        check.ran(where + ": dump", dump)
        peer_dump.compare(check, where, path, dump.stdout, work, entries=size != 1)
        readable = ["--debug-dump=info,line"] if size != 1 else ["--debug-dump=abbrev"]
        check.quiet(where + ": readelf", check.run(["readelf", "-h", "-S", "-s", "-l"] + readable
                                                   + [path]).stderr, ACCEPTED)
        verify = check.run(["llvm-dwarfdump", "--verify", "--debug-info", "--debug-line", path])
        check.quiet(where + ": llvm-dwarfdump", verify.stdout + verify.stderr,
                    ACCEPTED + ADDRESS_SIZE_1 * (size == 1))
        check.same(where + ": llvm-dwarfdump --verify status", verify.returncode, None if size == 1 else 0)
        lint = check.run(["eu-elflint", path])
        check.quiet(where + ": eu-elflint", lint.stdout + lint.stderr, ACCEPTED)
        copy = peer_dump.retyped(path, os.path.join(work, "progbits.elf"), lambda label, kind:
                                 1 if label.startswith(".debug_") else kind)
        parts = ["abbrev"] + (["info", "line"] if size == 4 else [])
        for file in (path, copy):
            read = check.run(["eu-readelf"] + ["--debug-dump=" + p for p in parts] + [file])
            check.quiet(where + ": eu-readelf", read.stderr)
            check.same(where + ": eu-readelf status", read.returncode, 0)
    check.done("%d written ELF files read by readelf, llvm-dwarfdump, eu-readelf, eu-elflint" % len(SAMPLES))


main()
