#!/usr/bin/env python3
"""Speed and memory of the ELF/DWARF dump: symvert -d -v against readelf and
llvm-dwarfdump on the same files.

The inputs are the two ARM executables of make_dwarf_elf.py (about 2 MB and 20 MB of
DWARF 2), made in the given directory when they are not there yet. In one run, each of
  symvert -d -v FILE
  readelf --debug-dump=info,line FILE
  llvm-dwarfdump --debug-info --debug-line FILE
runs on the tenth and on the full file with its output sent to /dev/null, three times
(--repeat); the run with the least CPU time (user + system) is kept. Prints per file and
tool the CPU and wall-clock seconds and the peak resident memory (GNU time's %M), then
the ratios symvert/readelf and symvert/llvm-dwarfdump per file and full/tenth per tool,
which shows whether a dump's time grows in proportion to its input. A tool that fails is
reported with its status and left out of the ratios.

usage: elf_dump_bench.py --program build/bin/symvert [--dir DIR] [--repeat N]
"""
import argparse
import os
import re
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
FILES = [("tenth", "dwarf-tenth.elf"), ("full", "dwarf-full.elf")]


def tools(program):
    return [("symvert", [program, "-d", "-v"]),
            ("readelf", ["readelf", "--debug-dump=info,line"]),
            ("llvm-dwarfdump", ["llvm-dwarfdump", "--debug-info", "--debug-line"])]


def measure(args, repeat):
    """The run with the least CPU time: (CPU seconds, wall seconds, peak KiB, status).
    GNU time starts the program, so the peak is the program's own."""
    best = None
    for _ in range(repeat):
        start = time.perf_counter()
        process = subprocess.Popen(["/usr/bin/time", "-f", "%M"] + args,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        errors = process.stderr.read()
        _, status, usage = os.wait4(process.pid, 0)
        elapsed = time.perf_counter() - start
        process.stderr.close()
        lines = errors.decode(errors="replace").strip().splitlines()
        peak = int(lines[-1]) if lines and lines[-1].isdigit() else 0
        code = os.waitstatus_to_exitcode(status)
        if code != 0:  # GNU time answers the program's status
            return None, elapsed, peak, code
        run = (usage.ru_utime + usage.ru_stime, elapsed, peak, 0)
        if best is None or run[0] < best[0]:
            best = run
    return best


def dwarf_bytes(path):
    text = subprocess.run(["readelf", "-S", "-W", path], capture_output=True, text=True).stdout
    return sum(int(size, 16) for size in re.findall(
        r"\] \.debug_\w+\s+\S+\s+[0-9a-f]+ [0-9a-f]+ ([0-9a-f]+)", text))


def ratio(a, b):
    return "%.2f" % (a / b) if a is not None and b else "-"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--program", required=True)
    ap.add_argument("--dir", default=os.path.join(HERE, "..", "build", "bench-dwarf"))
    ap.add_argument("--repeat", type=int, default=3)
    a = ap.parse_args()
    program = os.path.abspath(a.program)
    if not all(os.path.exists(os.path.join(a.dir, name)) for _, name in FILES):
        subprocess.run([sys.executable, os.path.join(HERE, "make_dwarf_elf.py"), a.dir],
                       check=True)
    results = {}
    print("%-6s %12s  %-15s %9s %9s %10s" % ("file", "DWARF bytes", "tool", "CPU s", "wall s",
                                           "peak MiB"))
    for label, name in FILES:
        path = os.path.join(a.dir, name)
        size = dwarf_bytes(path)
        for tool, args in tools(program):
            cpu, wall, peak, status = measure(args + [path], a.repeat)
            results[(label, tool)] = cpu
            shown = "%9.3f" % cpu if cpu is not None else "   failed (status %d)" % status
            print("%-6s %12d  %-15s %s %9.3f %10.1f" % (label, size, tool, shown, wall,
                                                     peak / 1024))
    print()
    for label, _ in FILES:
        print("%-6s symvert/readelf %s  symvert/llvm-dwarfdump %s" % (
            label, ratio(results[(label, "symvert")], results[(label, "readelf")]),
            ratio(results[(label, "symvert")], results[(label, "llvm-dwarfdump")])))
    print("full/tenth " + "  ".join("%s %s" % (tool, ratio(results[("full", tool)],
                                                         results[("tenth", tool)]))
                                    for tool, _ in tools(program)))


if __name__ == "__main__":
    main()
