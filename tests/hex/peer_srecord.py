#!/usr/bin/env python3
"""Peer check: srecord reads the images symvert writes (Intel HEX, S-records, TI TXT) as
holding the bytes srecord reads in the input: images srec_cat writes in each of its forms
from random blocks (gaps, 64 KiB and 16 MiB boundaries, record sizes), the bundled images,
S-records with wrong checksums (not checked by symvert; srecord is told to ignore them),
each debug sample's main job. TI-TXT input is an empty image; its dump shows the data."""
import os
import random
import sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from peer_harness import Check, values  # noqa: E402

OUTPUTS = [("ihex", "out.hex", ["-intel"]), ("s19", "out.s19", ["-motorola"]), ("titxt", "out.txt", ["-ti-txt"])]
LAYOUTS = [[(0x100, 300), (0x2000, 100), (0x2100, 1)], [(0xFFF0, 0x40), (0x2FFF5, 37)],
           [(0x12340, 200), (0xABCDE, 33)], [(0xFFFFF8, 0x30)], [(0x1234567, 77), (0x80000000, 16)]]
# srec_cat's output forms and the highest address each can hold.
FORMS = [("-intel", 32), ("-intel -obs=32", 32), ("-intel -address-length=3", 20), ("-intel -address-length=2", 16),
         ("-motorola -address-length=2", 16), ("-motorola -address-length=3", 24),
         ("-motorola -address-length=4 -obs=64", 32), ("-ti-txt", 16)]
BUNDLED = [("gaps.hex", "-intel"), ("segmented.hex", "-intel"), ("gaps.s19", "-motorola"),
           ("gaps.s28", "-motorola"), ("high.s37", "-motorola")]
MAIN_JOBS = [("pic16", ["-p16F877"]), ("pic18", []), ("dspic", ["-p30F2010"]), ("pic32", ["-p32MX360F512L"]),
             ("i8051", ["-pAT89C51,8051"]), ("arm", ["-pAT91R40008"]), ("holtek", [])]


def convert(check, where, image, form, work):
    """symvert writes the image in every form; srecord reads each one back."""
    want = check.peer_image(image, form, work)
    proc = check.symvert(image, *[w for key, name, _ in OUTPUTS for w in ("-o" + key, name)], cwd=work)
    if not check.ran(where, proc):
        return
    if form == ["-ti-txt"]:  # read as an empty image (a case checks); the dump shows the data
        got = values(check.symvert("-d", image, cwd=work).stdout,
                     (r" ([0-9A-F]+) :  (.*)$", lambda m: (int(m[1], 16), m[2].split())))
        got = {a + k: int(b, 16) for a, line in got for k, b in enumerate(line)}
        return check.same(where + ": dump", sorted(got.items()), want)
    for key, name, out_form in OUTPUTS:
        got = check.peer_image(os.path.join(work, name), out_form, work)
        check.same("%s as %s" % (where, key), got, want)


def main():
    check = Check("srec_cat")
    random.seed(20240611)
    work = check.sample()
    for n, layout in enumerate(LAYOUTS):
        for form, bits in FORMS:
            if max(a + size - 1 for a, size in layout) >> bits:
                continue
            args = ["srec_cat"]
            for k, (address, length) in enumerate(layout):
                open(os.path.join(work, "b%d" % k), "wb").write(bytes(random.randrange(256) for _ in range(length)))
                args += ["b%d" % k, "-binary", "-offset", hex(address)]
            check.run(args + ["-o", "image"] + form.split(), work)
            convert(check, "layout %d in %s" % (n, form), "image", form.split()[:1], work)
    for name, form in BUNDLED:
        convert(check, name, os.path.join(check.data, "images", name), [form], work)
    open(os.path.join(work, "bad.s19"), "w").write("S107000041424344EF\nS107000445464748DA\nS9030000FC\n")
    convert(check, "bad.s19", "bad.s19", ["-motorola", "-ignore-checksums"], work)
    for name, options in MAIN_JOBS:
        job = check.sample("debug/" + name)
        if check.ran(name, check.symvert(*options, "prog.sym", "prog.hex", "-onorval", "o.sym", "-oihex", "out.hex",
                                         cwd=job)):
            check.same(name + " main job", check.peer_image("out.hex", ["-intel"], job),
                       check.peer_image("prog.hex", ["-intel"], job))
    check.done("images read by srecord")


main()
