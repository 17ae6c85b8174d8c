#!/usr/bin/env python3
"""Makes the input of the ELF/DWARF dump benchmarks: two ARM executables with DWARF 2 (or,
with --dwarf 5, DWARF 5) built by arm-none-eabi-gcc from generated C modules, one with
about 20 MB of DWARF (all modules) and one with a tenth of it (the first tenth of the
modules).

Each module has structures (bit-fields, arrays, unions, pointers to one another), an
enumeration, typedefs, globals and statics, and functions with parameters, locals, loops
and calls, so that every DWARF section the dump reads gets its share: entries with many
attributes, line programs, frame entries, name-lookup and address-range sets and, from
-O0's frame bases, location lists. The modules are made from a fixed seed, so the same
compiler gives the same files. Each module is compiled on its own
(-g -gdwarf-2 -gstrict-dwarf -gno-as-loc-support -gpubnames -O0 -c, two at a time; with
--dwarf 5, -gdwarf-5 in place of -gdwarf-2 -gstrict-dwarf, so that gcc writes its own
version 5 units and line-number programs, with .debug_line_str) and the objects are
linked without library or start-up code.

usage: make_dwarf_elf.py OUTPUT_DIR [--modules N] [--dwarf 2|5]
Writes OUTPUT_DIR/dwarf-full.elf and OUTPUT_DIR/dwarf-tenth.elf (the C sources and objects
go to OUTPUT_DIR/src) and prints the DWARF bytes of each.
"""
import argparse
import concurrent.futures
import os
import random
import re
import subprocess
import sys

CC = "arm-none-eabi-gcc"
FLAGS = ["-mcpu=arm7tdmi", "-g", "-gdwarf-2", "-gstrict-dwarf", "-gno-as-loc-support",
         "-gpubnames", "-O0", "-ffreestanding", "-fno-asynchronous-unwind-tables",
         "-fno-unwind-tables"]
LINK = ["-nostdlib", "-nostartfiles", "-Wl,-e,main", "-Wl,-z,max-page-size=0x10"]
MODULES = 200  # about 20 MB of DWARF with the sizes below
STRUCTS, FUNCTIONS = 40, 150
BASE_TYPES = ["int", "short", "long", "unsigned char", "unsigned short", "unsigned int",
              "signed char", "unsigned long"]


def module_source(k, rng):
    """The C text of module k."""
    out = ["/* Generated module %d of the DWARF dump benchmark. */" % k,
           "typedef unsigned int u32_%d;" % k, "typedef short s16_%d;" % k,
           "enum state_%d { IDLE_%d, RUN_%d = 4, STOP_%d = 9, FAULT_%d = -1 };" % ((k,) * 5)]
    for s in range(STRUCTS):
        members = ["    %s m%d;" % (rng.choice(BASE_TYPES), n) for n in range(rng.randint(4, 9))]
        members += ["    unsigned flag%d : %d;" % (n, rng.randint(1, 5)) for n in range(3)]
        members.append("    u32_%d words[%d];" % (k, rng.randint(2, 16)))
        members.append("    union { long whole; unsigned char bytes[4]; } u;")
        members.append("    enum state_%d state;" % k)
        if s:
            members.append("    struct rec_%d_%d *link;" % (k, s - 1))
        out.append("struct rec_%d_%d {\n%s\n};" % (k, s, "\n".join(members)))
    for s in range(STRUCTS):
        out.append("struct rec_%d_%d global_%d_%d;" % (k, s, k, s))
    out.append("static s16_%d table_%d[32];" % (k, k))
    out.append("static int count_%d;" % k)
    counts = []  # the number of plain parameters of each function so far
    for f in range(FUNCTIONS):
        counts.append(rng.randint(1, 5))
        params = ["struct rec_%d_%d *r" % (k, f % STRUCTS)] + [
            "%s p%d" % (rng.choice(BASE_TYPES), n) for n in range(counts[f])]
        body = ["    %s v%d = (%s)p0;" % (t, n, t) for n, t in
                enumerate(rng.choice(BASE_TYPES) for _ in range(rng.randint(3, 8)))]
        body += ["    int i;",
                 "    for (i = 0; i < 8; i++) {",
                 "        table_%d[i & 31] += (s16_%d)(v0 + i);" % (k, k),
                 "        r->m0 += v1 * i;",
                 "        if (r->state == RUN_%d)" % k,
                 "            count_%d++;" % k,
                 "    }"]
        if f:
            body.append("    v0 += %s;" % call(k, f - 1, counts[f - 1]))
        body += ["    r->flag0 = v0 & 1;", "    return (int)v0 + count_%d;" % k]
        out.append("int fn_%d_%d(%s)\n{\n%s\n}" % (k, f, ", ".join(params), "\n".join(body)))
    if k == 0:
        out.append("int main(void)\n{\n    return %s;\n}" % call(0, FUNCTIONS - 1, counts[-1]))
    return "\n\n".join(out) + "\n"


def call(k, f, count):
    """A call of function f of module k with its structure and count plain arguments."""
    return "fn_%d_%d(&global_%d_%d%s)" % (k, f, k, f % STRUCTS, ", 1" * count)


def version_flags(version):
    """FLAGS for DWARF 2 or DWARF 5."""
    if version == 2:
        return FLAGS
    return [f for f in FLAGS if f not in ("-gdwarf-2", "-gstrict-dwarf")] + [
        "-gdwarf-%d" % version]


def compile_module(source, obj, flags):
    proc = subprocess.run([CC] + flags + ["-c", "-o", obj, source], capture_output=True,
                          text=True)
    if proc.returncode != 0:
        sys.exit("%s failed:\n%s" % (source, proc.stderr))


def dwarf_bytes(path):
    """The sizes of the .debug_* sections added up (readelf -S -W)."""
    text = subprocess.run(["readelf", "-S", "-W", path], capture_output=True, text=True).stdout
    return sum(int(size, 16) for size in re.findall(
        r"\] \.debug_\w+\s+\S+\s+[0-9a-f]+ [0-9a-f]+ ([0-9a-f]+)", text))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("output")
    ap.add_argument("--modules", type=int, default=MODULES)
    ap.add_argument("--dwarf", type=int, choices=(2, 5), default=2)
    a = ap.parse_args()
    flags = version_flags(a.dwarf)
    src = os.path.join(a.output, "src")
    os.makedirs(src, exist_ok=True)
    rng = random.Random(20240601)
    sources = []
    for k in range(a.modules):
        path = os.path.join(src, "mod%03d.c" % k)
        text = module_source(k, rng)
        if not os.path.exists(path) or open(path).read() != text:
            with open(path, "w") as f:
                f.write(text)
        sources.append(path)
    objects = [s[:-2] + ".o" for s in sources]
    with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
        jobs = [pool.submit(compile_module, s, o, flags) for s, o in zip(sources, objects)
                if not os.path.exists(o) or os.path.getmtime(o) < os.path.getmtime(s)]
        for job in jobs:
            job.result()
    for name, count in (("dwarf-full.elf", a.modules), ("dwarf-tenth.elf",
                                                        max(1, a.modules // 10))):
        out = os.path.join(a.output, name)
        proc = subprocess.run([CC] + flags + LINK + ["-o", out] + objects[:count],
                              capture_output=True, text=True)
        if proc.returncode != 0:
            sys.exit("linking %s failed:\n%s" % (name, proc.stderr))
        print("%s: %d modules, %d bytes, %d bytes of DWARF" % (
            out, count, os.path.getsize(out), dwarf_bytes(out)))


if __name__ == "__main__":
    main()
