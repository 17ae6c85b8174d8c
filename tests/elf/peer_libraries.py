#!/usr/bin/env python3
"""Peer check: the members of the installed cross tool chains' static libraries (every .a
below /usr/lib/gcc/arm-none-eabi and /usr/lib/gcc-cross: libgcc.a, libgcov.a, libgomp.a,
...) each dump (-d -v -v -v) with status 0 and no message, and show every unit and entry
that readelf shows, with the same tag, attributes, forms and values (peer_dump.py's
reading of both, on copies without relocation sections). The members are dumped a hundred
to a run. Read whole, the 73 libraries (the ARM ones in 33 multilib variants) take about
ten minutes on two cores, so by default the first libgcc.a and libgcov.a of each tool
chain and every .a of mips-linux-gnu are read whole, and of each other variant every
40th member; SYMVERT_PEER_LIBRARIES=all reads every member of every library."""
import glob
import os
import re
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from peer_harness import Check, values  # noqa: E402
from peer_dump import READELF_ENTRIES, READELF_UNITS, dump_entries, parts, retyped  # noqa: E402

ROOTS = ["/usr/lib/gcc/arm-none-eabi/*/", "/usr/lib/gcc-cross/mips-linux-gnu/*/"]
BATCH, SAMPLE = 100, 40


def members(path):
    """The members of a Unix archive: (name, bytes), the long names from its "//" table."""
    data, at, names = open(path, "rb").read(), 8, b""
    while at + 60 <= len(data):
        size, label = int(data[at + 48:at + 58]), data[at:at + 16].decode().strip()
        body = data[at + 60:at + 60 + size]
        if label == "//":
            names = body
        elif label not in ("/", "/SYM64/"):
            start = int(label[1:]) if label[0] == "/" else None
            yield (label if start is None else names[start:names.index(b"/\n", start)].decode()).rstrip("/"), body
        at += 60 + size + (size & 1)


def libraries(whole):
    """(path, read whole): every .a below the tool chains' directories; by default those at
    the top of one (the default multilib variant, and all of mips-linux-gnu) are whole."""
    for top in sorted(p for root in ROOTS for p in glob.glob(root)):
        for path in sorted(glob.glob(top + "**/*.a", recursive=True)):
            yield path, whole or os.path.dirname(path) + "/" == top


def check_batch(check, paths, labels, totals):
    proc = check.symvert("-d", "-v", "-v", "-v", *paths)
    check.ran("%s .. %s" % (labels[0], labels[-1]), proc)
    dumps = re.split(r"^(?=ELF header:$)", proc.stdout, flags=re.M)[1:]
    read = check.run(["readelf", "-W", "--debug-dump=info"] + paths).stdout
    files = re.split(r"^File: (.*)$", read, flags=re.M)
    theirs = dict(zip(files[1::2], files[2::2])) if len(paths) > 1 else {paths[0]: read}
    if len(dumps) != len(paths):
        return check.fail(labels[0], "%d dumps of %d members" % (len(dumps), len(paths)))
    for path, label, dump in zip(paths, labels, dumps):
        found = dump_entries(parts(dump).get(".debug_info") or "")[0]
        want = values(re.sub(*READELF_UNITS, theirs.get(path, "")), *READELF_ENTRIES)
        check.same(label, found, want)
        for kind in ("unit", "die", "at"):
            totals[kind] += sum(1 for v in want if v[0] == kind)


def main():
    check = Check("readelf")
    whole = os.environ.get("SYMVERT_PEER_LIBRARIES") == "all"
    totals, started, count = dict(unit=0, die=0, at=0, members=0, libraries=0), time.time(), 0
    for library, complete in libraries(whole):
        totals["libraries"] += 1
        picked = [(k, name, body) for k, (name, body) in enumerate(members(library))
                  if complete or k % SAMPLE == totals["libraries"] % SAMPLE]
        for start in range(0, len(picked), BATCH):
            paths, labels = [], []
            for k, name, body in picked[start:start + BATCH]:
                paths.append(os.path.join(check.scratch, "%05d.o" % (count + len(paths))))
                open(paths[-1], "wb").write(body)
                retyped(paths[-1], paths[-1])
                labels.append("%s(%s)" % (library, name))
            count += len(paths)
            check_batch(check, paths, labels, totals)
            for path in paths:
                os.remove(path)
        totals["members"] += len(picked)
    if not totals["libraries"]:
        print("skipped: no cross tool chain's libraries below %s" % " ".join(ROOTS))
        sys.exit(77)
    check.done("%(members)d members of %(libraries)d libraries dumped; %(unit)d units, %(die)d entries and "
               "%(at)d attributes as readelf shows them" % totals + " in %.0f s%s" % (
                   time.time() - started, "" if whole else " (a sample: SYMVERT_PEER_LIBRARIES=all reads all)"))


if __name__ == "__main__":
    main()
