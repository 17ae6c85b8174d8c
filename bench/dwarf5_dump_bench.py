#!/usr/bin/env python3
"""Speed and memory of the DWARF 5 dump: symvert -d -v against readelf
--debug-dump=info,line,frames,macro and llvm-dwarfdump --debug-info --debug-line on the
same files, in one run (and, with --before, against an earlier symvert).

The inputs are made in the given directory when they are not there yet:
  dwarf-tenth.elf, dwarf-full.elf  make_dwarf_elf.py --dwarf 5 --modules 240: ARM
                                   executables of 24 and 240 modules, with about 2 MB and
                                   22 MB of DWARF 5 from arm-none-eabi-gcc
  line-sequence.elf                a unit naming a line-number program of 20 MB whose one
                                   sequence never ends: its peak memory shows whether the
                                   dump keeps the sequence's rows until it ends
Each tool runs on each file --repeat times with its output sent to /dev/null; the run
with the least CPU time (user + system) is kept. Prints per file and tool the CPU and
wall-clock seconds and the peak resident memory (GNU time's %M), then per file the
ratios of symvert to each other tool of CPU time and of peak memory. A tool that fails
is reported with its status and left out of the ratios.

usage: dwarf5_dump_bench.py --program build/bin/symvert [--before OLD_SYMVERT] [--dir DIR]
                            [--repeat N]
"""
import argparse
import os
import struct
import subprocess
import sys

from elf_dump_bench import dwarf_bytes, measure, ratio

HERE = os.path.dirname(os.path.abspath(__file__))
FILES = ["dwarf-tenth.elf", "dwarf-full.elf", "line-sequence.elf"]
SEQUENCE_BYTES = 20 * 1024 * 1024


def uleb(value):
    out = bytearray()
    while True:
        byte, value = value & 0x7F, value >> 7
        out.append(byte | (0x80 if value else 0))
        if not value:
            return bytes(out)


def elf_file(sections):
    """A little-endian 32-bit ARM ELF file of the named sections."""
    names, body, headers = b"\0", bytearray(52), [bytes(40)]
    for name, data in sections + [(".shstrtab", None)]:
        at = len(names)
        names += name.encode() + b"\0"
        data = names if data is None else data
        headers.append(struct.pack("<10I", at, 3 if data is names else 1, 0, 0, len(body),
                                   len(data), 0, 0, 1, 0))
        body += data
    table = len(body)
    for header in headers:
        body += header
    body[:52] = (b"\x7fELF\x01\x01\x01" + bytes(9) +
                 struct.pack("<HHIIIIIHHHHHH", 1, 40, 1, 0, 0, table, 0, 52, 32, 0, 40,
                             len(headers), len(headers) - 1))
    return bytes(body)


def line_sequence_file(path):
    """A version 5 unit whose DW_AT_stmt_list names a version 2 line-number program of
    SEQUENCE_BYTES special opcodes and no end of sequence."""
    abbrev = uleb(1) + uleb(0x11) + b"\0" + uleb(0x10) + uleb(0x17) + b"\0\0\0"
    entries = uleb(1) + struct.pack("<I", 0)
    info = struct.pack("<IHBBI", 8 + len(entries), 5, 1, 4, 0) + entries
    header = struct.pack("<BBbBB", 1, 1, -5, 14, 10) + bytes([0, 1, 1, 1, 1, 0, 0, 0, 1])
    header += b"\0" + b"m.c\0\0\0\0" + b"\0"
    program = bytes([0x20]) * SEQUENCE_BYTES
    body = struct.pack("<HI", 2, len(header)) + header + program
    line = struct.pack("<I", len(body)) + body
    with open(path, "wb") as f:
        f.write(elf_file([(".debug_abbrev", abbrev), (".debug_info", info),
                          (".debug_line", line)]))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--program", required=True)
    ap.add_argument("--dir", default=os.path.join(HERE, "..", "build", "bench-dwarf5"))
    ap.add_argument("--repeat", type=int, default=3)
    ap.add_argument("--before", help="an earlier symvert, timed on the same files")
    a = ap.parse_args()
    program = os.path.abspath(a.program)
    os.makedirs(a.dir, exist_ok=True)
    if not all(os.path.exists(os.path.join(a.dir, name)) for name in FILES[:2]):
        subprocess.run([sys.executable, os.path.join(HERE, "make_dwarf_elf.py"), a.dir,
                        "--dwarf", "5", "--modules", "240"], check=True)
    if not os.path.exists(os.path.join(a.dir, FILES[2])):
        line_sequence_file(os.path.join(a.dir, FILES[2]))
    tools = [("symvert", [program, "-d", "-v"]),
             ("readelf", ["readelf", "--debug-dump=info,line,frames,macro"]),
             ("llvm", ["llvm-dwarfdump", "--debug-info", "--debug-line"])]
    if a.before:
        tools.append(("before", [os.path.abspath(a.before), "-d", "-v"]))
    results = {}
    print("%-18s %12s  %-8s %9s %9s %10s" % ("file", "DWARF bytes", "tool", "CPU s", "wall s",
                                            "peak MiB"))
    for name in FILES:
        path = os.path.join(a.dir, name)
        size = dwarf_bytes(path)
        for tool, args in tools:
            cpu, wall, peak, status = measure(args + [path], a.repeat)
            results[(name, tool)] = (cpu, peak if cpu is not None else None)
            shown = "%9.3f" % cpu if cpu is not None else "   failed (status %d)" % status
            print("%-18s %12d  %-8s %s %9.3f %10.1f" % (name, size, tool, shown, wall,
                                                     peak / 1024))
    print()
    for name in FILES:
        cpu, peak = results[(name, "symvert")]
        for tool, _ in tools[1:]:
            peer_cpu, peer_peak = results[(name, tool)]
            print("%-18s symvert/%-7s CPU %s  peak memory %s" % (
                name, tool, ratio(cpu, peer_cpu), ratio(peak, peer_peak)))


if __name__ == "__main__":
    main()
