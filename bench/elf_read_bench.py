#!/usr/bin/env python3
"""Speed and memory of reading ELF: symvert reads a file of DWARF 5 into its store and
type model and writes it as ELF with DWARF 2 (symvert FILE -oelf), timed against
readelf --debug-dump=info,line dumping the same file, and its peak memory against
gdb-multiarch's when gdb loads the same file with -readnow, all in one run.

The inputs are made in the given directory when they are not there yet, from the
modules of make_dwarf_elf.py --dwarf 5 --modules 240 (arm-none-eabi-gcc, -gdwarf-5 -O0):
  combined.o      the 240 objects combined with arm-none-eabi-ld -r: a relocatable
                  object of about 30 MB of DWARF 5 (the read warns once that its
                  sections are read at their own addresses)
  dwarf-full.elf  the same modules linked into an executable: about 22 MB of DWARF 5
Each tool runs on each file --repeat times with its output sent to /dev/null (symvert's
ELF to written.elf in the directory); the run with the least CPU time (user + system) is kept.
Prints per file and tool the CPU and wall-clock seconds and the peak resident memory
(GNU time's %M), then per file the ratio of symvert's CPU time to readelf's and of its
peak memory to gdb's. On combined.o, the file the bar is set for, both ratios must stay
below 1; the linked executable's are shown beside them (gdb needs less memory for it).
A tool that fails is reported with its status and left out of the ratios.

usage: elf_read_bench.py --program build/bin/symvert [--dir DIR] [--repeat N]
"""
import argparse
import glob
import os
import subprocess
import sys

from elf_dump_bench import dwarf_bytes, measure, ratio

HERE = os.path.dirname(os.path.abspath(__file__))
FILES = ["combined.o", "dwarf-full.elf"]
MINIMUM_DWARF = 20 * 1000 * 1000


def make_inputs(directory):
    if not os.path.exists(os.path.join(directory, "dwarf-full.elf")):
        subprocess.run([sys.executable, os.path.join(HERE, "make_dwarf_elf.py"), directory,
                        "--dwarf", "5", "--modules", "240"], check=True)
    combined = os.path.join(directory, "combined.o")
    if not os.path.exists(combined):
        objects = sorted(glob.glob(os.path.join(directory, "src", "mod*.o")))
        subprocess.run(["arm-none-eabi-ld", "-r", "-o", combined] + objects, check=True)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--program", required=True)
    ap.add_argument("--dir", default=os.path.join(HERE, "..", "build", "bench-dwarf5"))
    ap.add_argument("--repeat", type=int, default=3)
    a = ap.parse_args()
    program = os.path.abspath(a.program)
    os.makedirs(a.dir, exist_ok=True)
    make_inputs(a.dir)
    written = os.path.join(a.dir, "written.elf")
    tools = [("symvert", lambda path: [program, path, "-oelf", written]),
             ("readelf", lambda path: ["readelf", "--debug-dump=info,line", path]),
             ("gdb", lambda path: ["gdb-multiarch", "-batch", "-nx", "-readnow", path])]
    results = {}
    print("%-15s %12s  %-8s %9s %9s %10s" % ("file", "DWARF bytes", "tool", "CPU s",
                                            "wall s", "peak MiB"))
    for name in FILES:
        path = os.path.join(a.dir, name)
        size = dwarf_bytes(path)
        if size < MINIMUM_DWARF:
            sys.exit("%s holds only %d bytes of DWARF" % (path, size))
        for tool, args in tools:
            cpu, wall, peak, status = measure(args(path), a.repeat)
            results[(name, tool)] = (cpu, peak if cpu is not None else None)
            shown = "%9.3f" % cpu if cpu is not None else "   failed (status %d)" % status
            print("%-15s %12d  %-8s %s %9.3f %10.1f" % (name, size, tool, shown, wall,
                                                     peak / 1024))
    print()
    for name in FILES:
        cpu, peak = results[(name, "symvert")]
        print("%-15s CPU symvert/readelf %s  peak memory symvert/gdb %s" % (
            name, ratio(cpu, results[(name, "readelf")][0]),
            ratio(peak, results[(name, "gdb")][1])))


if __name__ == "__main__":
    main()
