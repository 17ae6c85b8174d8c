#!/usr/bin/env python3
"""Program images against srecord.

srec_cat writes images in every form it has (Intel HEX with linear, segment and no
extended addresses; S19, S28 and S37), with gaps, across 64 KiB and 16 MiB boundaries
and with several record sizes. symvert reads each one and writes it as Intel HEX,
S-records and TI TXT; srec_cmp then reads every output back and must find the same bytes
at the same addresses as in the image srec_cat wrote. TI-TXT images from srec_cat are
checked through symvert's dump.

Exit 0 when all agree, 1 on a difference, 77 when srecord is not installed.
"""
import os
import random
import subprocess
import sys
import tempfile

import peerlib

# What symvert writes and how srec_cat reads it back. srec_cat's TI-TXT reader warns about
# addresses above 20 bits (the MSP430 range) but reads them; symvert writes as many address
# digits as an address needs.
OUTPUTS = [("ihex", "out.hex", "-intel"), ("s19", "out.s19", "-motorola"),
           ("titxt", "out.txt", "-ti-txt")]

# Image layouts: (start address, length) of each block.
LAYOUTS = {
    "gaps": [(0x100, 300), (0x2000, 100), (0x2100, 1)],
    "across_64k": [(0xFFF0, 0x40), (0x2FFF5, 37)],
    "above_64k": [(0x12340, 200), (0xABCDE, 33)],
    "across_16m": [(0xFFFFF8, 0x30)],
    "above_16m": [(0x1234567, 77), (0x80000000, 16)],
}

# srec_cat output forms: (name, options, highest address the form can carry).
FORMS = [
    ("intel", ["-intel"], 0xFFFFFFFF),
    ("intel_obs32", ["-intel", "-obs=32"], 0xFFFFFFFF),
    ("intel_segment", ["-intel", "-address-length=3"], 0xFFFFF),
    ("intel_16bit", ["-intel", "-address-length=2"], 0xFFFF),
    ("s19", ["-motorola", "-address-length=2"], 0xFFFF),
    ("s28", ["-motorola", "-address-length=3"], 0xFFFFFF),
    ("s37", ["-motorola", "-address-length=4", "-obs=64"], 0xFFFFFFFF),
    # TI-TXT images are not read into data (see ti_txt_images below).
]


class Peer:
    def __init__(self, program, work):
        self.program = program
        self.work = work
        self.failures = 0

    def run(self, args, **kw):
        return subprocess.run(args, cwd=self.work, capture_output=True, **kw)

    def fail(self, what, detail=b""):
        self.failures += 1
        print("FAIL %s" % what)
        if detail:
            print("  " + detail.decode(errors="replace").strip().replace("\n", "\n  "))

    def make_image(self, layout, form_options, name):
        """srec_cat builds the image from one binary file per block."""
        args = ["srec_cat"]
        for k, (address, length) in enumerate(layout):
            blob = "block%d.bin" % k
            with open(os.path.join(self.work, blob), "wb") as f:
                f.write(bytes(random.randrange(256) for _ in range(length)))
            args += [blob, "-binary", "-offset", "0x%X" % address]
        args += ["-o", name] + form_options
        result = self.run(args)
        if result.returncode != 0:
            self.fail("srec_cat could not write %s" % name, result.stderr)
            return False
        return True

    def same_bytes(self, first, first_form, second, second_form):
        result = self.run(["srec_cmp", first] + first_form + [second] + second_form)
        return result.returncode == 0, result.stdout + result.stderr

    def convert_and_compare(self, label, image, image_form):
        for f in OUTPUTS:
            path = os.path.join(self.work, f[1])
            if os.path.exists(path):
                os.remove(path)
        args = [self.program, image]
        for key, name, _ in OUTPUTS:
            args += ["-o" + key, name]
        result = self.run(args)
        if result.returncode != 0 or result.stderr:
            self.fail("%s: symvert status %d" % (label, result.returncode), result.stderr)
            return
        for key, name, srec_form in OUTPUTS:
            same, detail = self.same_bytes(image, image_form, name, [srec_form])
            if not same:
                self.fail("%s: %s output differs" % (label, key), detail)

    def images_from_srec_cat(self):
        for layout_name, layout in LAYOUTS.items():
            top = max(address + length - 1 for address, length in layout)
            for form_name, options, highest in FORMS:
                if top > highest:
                    continue
                label = "%s as %s" % (layout_name, form_name)
                if self.make_image(layout, options, "image"):
                    self.convert_and_compare(label, "image", [options[0]])

    def ti_txt_images(self):
        """TI-TXT images: symvert's TI TXT read accepts a file and keeps nothing (srec_cat
        reads the data), so its outputs are empty images. Its dump shows the data lines,
        which must hold srec_cat's bytes at srec_cat's addresses (the dump takes four
        address digits, so the layouts stay below 64 KiB)."""
        for layout_name, layout in LAYOUTS.items():
            top = max(address + length - 1 for address, length in layout)
            if top > 0xFFFF or not self.make_image(layout, ["-ti-txt"], "image.txt"):
                continue
            label = "%s as TI-TXT" % layout_name
            args = [self.program, "image.txt", "-oihex", "out.hex", "-os19", "out.s19",
                    "-otitxt", "out.txt"]
            result = self.run(args)
            outputs = []
            for name in ("out.hex", "out.s19", "out.txt"):
                with open(os.path.join(self.work, name), "rb") as f:
                    outputs.append(f.read())
            if result.returncode != 0 or outputs != [b":00000001FF\n", b"", b"q\n\n"]:
                self.fail("%s: not read as an empty image" % label, result.stderr)
            result = self.run([self.program, "-d", "image.txt"])
            records = []
            for line in result.stdout.decode().splitlines():
                if " : " not in line:
                    continue
                address, data = line.split(" : ")
                record = bytes([len(data.split()), int(address, 16) >> 8,
                                int(address, 16) & 0xFF, 0]) + bytes.fromhex(data)
                records.append(":%s%02X" % (record.hex().upper(), -sum(record) & 0xFF))
            with open(os.path.join(self.work, "dumped.hex"), "w") as f:
                f.write("\n".join(records + [":00000001FF"]) + "\n")
            same, detail = self.same_bytes("image.txt", ["-ti-txt"], "dumped.hex", ["-intel"])
            if result.returncode != 0 or not same:
                self.fail("%s: the dump differs" % label, detail)

    def checksum_differences(self):
        """Where the two tools legitimately read damaged images differently."""
        # An Intel HEX record with a wrong checksum: srec_cat refuses the file. symvert
        # reports message 636, keeps the records read up to the fault (the faulty data
        # record included, since its data are stored before the checksum is compared)
        # and ends with status 1.
        with open(os.path.join(self.work, "bad.hex"), "w") as f:
            f.write(":0400000001020304F2\n:0400040005060708DF\n:0400080009101112B8\n"
                    ":00000001FF\n")
        if self.run(["srec_cat", "bad.hex", "-intel", "-o", "x.hex", "-intel"]).returncode == 0:
            self.fail("srec_cat accepted a wrong Intel HEX checksum")
        result = self.run([self.program, "bad.hex", "-oihex", "kept.hex"])
        if result.returncode != 1 or b"(636)" not in result.stderr:
            self.fail("symvert did not report the wrong checksum", result.stderr)
        with open(os.path.join(self.work, "want.hex"), "w") as f:
            f.write(":080000000102030405060708D4\n:00000001FF\n")
        same, detail = self.same_bytes("kept.hex", ["-intel"], "want.hex", ["-intel"])
        if not same:
            self.fail("records before the bad checksum not kept", detail)

        # S-record checksums are not verified by symvert at all; srec_cat needs
        # -ignore-checksums to read the same file, and then both see the same bytes.
        with open(os.path.join(self.work, "bad.s19"), "w") as f:
            f.write("S107000041424344EF\nS107000445464748DA\nS9030000FC\n")
        result = self.run([self.program, "bad.s19", "-oihex", "s.hex"])
        if result.returncode != 0:
            self.fail("symvert refused an S-record checksum", result.stderr)
        same, detail = self.same_bytes("bad.s19", ["-motorola", "-ignore-checksums"],
                                       "s.hex", ["-intel"])
        if not same:
            self.fail("S-records with a wrong checksum read differently", detail)


def main():
    program, data = peerlib.arguments()
    if peerlib.missing("srec_cat", "srec_cmp"):
        return peerlib.SKIPPED
    random.seed(20240611)
    with tempfile.TemporaryDirectory(prefix="symvert-peer-") as work:
        peer = Peer(program, work)
        peer.images_from_srec_cat()
        # The bundled samples came from srec_cat as well.
        samples = os.path.join(data, "images")
        for name, form in [("gaps.hex", "-intel"), ("segmented.hex", "-intel"),
                           ("gaps.s19", "-motorola"), ("gaps.s28", "-motorola"),
                           ("high.s37", "-motorola")]:
            peer.convert_and_compare("sample " + name, os.path.join(samples, name), [form])
        peer.ti_txt_images()
        peer.checksum_differences()
    print("%s" % ("all images agree" if peer.failures == 0 else "%d failures" % peer.failures))
    return 1 if peer.failures else 0


if __name__ == "__main__":
    sys.exit(main())
