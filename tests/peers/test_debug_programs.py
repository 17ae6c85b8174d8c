#!/usr/bin/env python3
"""The sample programs' main job against srecord.

Each hand-written program of tests/data/debug is run as a user runs it: from its own
directory (the symbol file names its object modules, whose side files lie beside it),
with its symbol file and its Intel HEX image, writing the symbol file and Intel HEX
again. srec_cmp must find the same bytes at the same addresses in the written image as
in the original one; the run must end with status 0 and report no message.

Exit 0 when all agree, 1 on a difference, 77 when srecord is not installed.
"""
import os
import subprocess
import sys
import tempfile

import peerlib

PROGRAMS = {  # directory: processor option ("" when the side files' options select it)
    "pic16": "-p16F877", "pic18": "", "dspic": "-p30F2010", "pic32": "-p32MX360F512L",
    "i8051": "-pAT89C51,8051", "arm": "-pAT91R40008", "holtek": "",
}


def main():
    program, data = peerlib.arguments()
    if peerlib.missing("srec_cmp"):
        return peerlib.SKIPPED
    failures = 0
    with tempfile.TemporaryDirectory(prefix="symvert-debug-peer-") as work:
        for name, processor in sorted(PROGRAMS.items()):
            source = os.path.join(data, "debug", name)
            out_hex = os.path.join(work, name + ".hex")
            out_sym = os.path.join(work, name + ".sym")
            args = [program] + ([processor] if processor else []) + [
                "prog.sym", "prog.hex", "-onorval", out_sym, "-oihex", out_hex]
            run = subprocess.run(args, cwd=source, capture_output=True)
            if run.returncode != 0 or run.stderr:
                failures += 1
                print("FAIL %s: status %d\n  %s" % (name, run.returncode, run.stderr.decode()))
                continue
            compare = subprocess.run(["srec_cmp", os.path.join(source, "prog.hex"), "-intel",
                                      out_hex, "-intel"], capture_output=True)
            if compare.returncode != 0:
                failures += 1
                print("FAIL %s: images differ\n  %s" % (name, compare.stdout.decode()))
            else:
                print("ok   %s" % name)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
