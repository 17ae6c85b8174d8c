#!/usr/bin/env python3
"""Reproducible output: with SOURCE_DATE_EPOCH set, every writer gives the same bytes in
two runs in different working directories (different absolute paths) and in a run under
another time zone, whose date at that epoch is a different day.

One case per format key of the registry; the keys must be exactly those that
"symvert -l" lists. A writer that writes nothing says so (EMPTY) and is held to it: its
output file is created and stays empty. Where a format carries the time, the check also
finds SOURCE_DATE_EPOCH in it, so the runs agree because of the epoch and not because
they fell in the same second.
"""
import argparse
import os
import shlex
import shutil
import struct
import subprocess
import sys
import tempfile

EPOCH = 1000000000  # Sun Sep  9 01:46:40 2001 UTC; still Sep 8 at UTC-5
ZONES = ["UTC0", "UTC0", "EST5"]

CONTENT, EMPTY = "content", "empty"


def coff_stamp(data):
    """The file header's time stamp (bytes 4-7), in either byte order."""
    return EPOCH in struct.unpack("<I", data[4:8]) + struct.unpack(">I", data[4:8])


def cod_date(data):
    """The directory's date text, day month year in UTC."""
    return b"09Sep01" in data[:512]


# key: (inputs below the data directory, argument words, output file, what it holds,
# a check of the time it carries)
CASES = {
    "norval": (["debug/pic16"], "-p16F877 prog.sym prog.hex -onorval out.sym", "out.sym", CONTENT, None),
    "pe": (["debug/i8051"], "-pAT89C51,8051 prog.sym prog.hex -ope out.pe", "out.pe", CONTENT, None),
    "eomf51": (["debug/i8051"], "-pAT89C51,8051 prog.sym prog.hex -oeomf51 out.abs", "out.abs",
               CONTENT, None),
    "omf51": (["debug/i8051"], "-pAT89C51,8051 prog.sym prog.hex -oomf51 out.omf", "out.omf",
              CONTENT, None),
    "ihex": (["images/gaps.s19"], "gaps.s19 -oihex out.hex", "out.hex", CONTENT, None),
    "s19": (["images/gaps.hex"], "gaps.hex -os19 out.s19", "out.s19", CONTENT, None),
    "cod": (["debug/pic16"], "-p16F877,6877,PIC14 -nCODE,ENTRY prog.sym prog.hex -ocod out.cod",
            "out.cod", CONTENT, cod_date),
    "mcoff": (["debug/pic16"], "-p16F877A,877A,PIC14 -nCODE prog.sym prog.hex -omcoff out.cof",
              "out.cof", CONTENT, coff_stamp),
    "coff": (["debug/pic18"], "-p18F452,H8/300 -nCODE prog.sym prog.hex -ocoff out.cof", "out.cof",
             CONTENT, coff_stamp),
    "icoff": (["debug/pic16"], "-p16F877 prog.sym prog.hex -oicoff out.cof", "out.cof", CONTENT,
              coff_stamp),
    "elf": (["debug/arm"], "-pAT91R40008,ARM -nCODE prog.sym prog.hex -oelf out.elf", "out.elf",
            CONTENT, None),
    # UBROF is dumped only: the output file is created and left empty.
    "ubrof": (["debug/pic16"], "-p16F877 prog.sym prog.hex -oubrof out.d43", "out.d43", EMPTY, None),
    "htk": (["debug/holtek"], "-nCODE prog.sym prog.hex -ohtk out.dbg", "out.dbg", CONTENT, None),
    # Holtek TSK is read and dumped only: the output file is created and left empty.
    "tsk": (["images/prog.tsk"], "prog.tsk -otsk out.tsk", "out.tsk", EMPTY, None),
    "titxt": (["images/gaps.hex"], "gaps.hex -otitxt out.txt", "out.txt", CONTENT, None),
}


def listed_keys(program):
    listing = subprocess.run([program, "-l"], capture_output=True, text=True).stderr.splitlines()
    start = listing.index("Key        Name") + 2
    end = listing.index("", start)
    return [line.split()[0] for line in listing[start:end]]


def run_case(program, data, workdir, zone, key):
    inputs, words, output, _, _ = CASES[key]
    os.makedirs(workdir)
    for item in inputs:
        path = os.path.join(data, item)
        if os.path.isdir(path):
            for name in sorted(os.listdir(path)):
                shutil.copy(os.path.join(path, name), workdir)
        else:
            shutil.copy(path, workdir)
    env = {k: v for k, v in os.environ.items() if not k.startswith("NVC_")}
    env.update(SOURCE_DATE_EPOCH=str(EPOCH), TZ=zone)
    done = subprocess.run([program] + shlex.split(words), cwd=workdir, env=env,
                          capture_output=True)
    path = os.path.join(workdir, output)
    data_out = open(path, "rb").read() if os.path.exists(path) else None
    return done.returncode, done.stderr, data_out


def check_key(program, data, scratch, key):
    """The problems found for one key, as texts."""
    _, words, output, holds, time_check = CASES[key]
    # Three working directories of different depths and names.
    dirs = [os.path.join(scratch, "a", key), os.path.join(scratch, "second-place", "b", key),
            os.path.join(scratch, "c", key)]
    runs = [run_case(program, data, d, zone, key) for d, zone in zip(dirs, ZONES)]
    problems = []
    status, stderr, first = runs[0]
    if status != 0:
        problems.append("exit status %d: %s" % (status, stderr.decode(errors="replace").strip()))
    if first is None:
        problems.append("no output file " + output)
        return problems
    if holds == EMPTY and first:
        problems.append("%s should be empty, has %d bytes" % (output, len(first)))
    if holds == CONTENT and not first:
        problems.append(output + " is empty")
    if time_check and first and not time_check(first):
        problems.append("%s does not carry SOURCE_DATE_EPOCH" % output)
    for where, (s, e, out) in zip(["another directory", "time zone " + ZONES[2]], runs[1:]):
        if (s, e) != (status, stderr):
            problems.append("status or messages differ in " + where)
        if out != first:
            at = next((k for k, (x, y) in enumerate(zip(first, out or b"")) if x != y),
                      min(len(first), len(out or b"")))
            problems.append("%s differs in %s from offset %d" % (output, where, at))
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--program", required=True)
    parser.add_argument("--data", required=True)
    args = parser.parse_args()
    program = os.path.abspath(args.program)
    data = os.path.abspath(args.data)

    keys = listed_keys(program)
    if sorted(keys) != sorted(CASES):
        print("keys listed by -l %s differ from the cases %s" % (keys, sorted(CASES)))
        return 1
    failed = 0
    with tempfile.TemporaryDirectory() as scratch:
        for key in keys:
            problems = check_key(program, data, scratch, key)
            print("%-7s %s" % (key, "; ".join(problems) if problems else
                               "same bytes (%s)" % CASES[key][3]))
            failed += bool(problems)
    if failed:
        print("%d of %d writers are not reproducible" % (failed, len(keys)))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
