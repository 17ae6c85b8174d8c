#!/usr/bin/env python3
"""The Windows release archive: cpack makes symvert-<version>-<system>.zip holding exactly
the installation layout, its program imports only DLLs of the system (the runtime is linked
in), and unpacked anywhere the program finds its message files two levels above itself.

usage: package_check.py --build DIR --name symvert-9.60-win64 --objdump OBJDUMP --wine WINE
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile
import zipfile

LAYOUT = {"bin/symvert.exe", "dat/de_msgs.txt", "dat/en_msgs.txt", "dat/fr_msgs.txt",
          "doc/symvert.txt"}
SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "advapi32.dll"}
# Message 141 as dat/en_msgs.txt gives it, with the runtime's text for a missing file.
MESSAGE = 'missing.hex: (141) cannot open input file "missing.hex": ' \
          'No such file or directory\r\n'


def main():
    ap = argparse.ArgumentParser()
    for option in ("--build", "--name", "--objdump", "--wine"):
        ap.add_argument(option, required=True)
    a = ap.parse_args()
    problems = []
    with tempfile.TemporaryDirectory(prefix="symvert-zip-") as top:
        made = subprocess.run(["cpack", "-G", "ZIP", "-B", top], cwd=a.build,
                              capture_output=True, text=True)
        archive = os.path.join(top, a.name + ".zip")
        if made.returncode != 0 or not os.path.isfile(archive):
            print("cpack did not make %s:\n%s%s" % (archive, made.stdout, made.stderr))
            return 1
        with zipfile.ZipFile(archive) as z:
            names = {n for n in z.namelist() if not n.endswith("/")}
            if names != LAYOUT:
                problems.append("archive holds %s, expected %s" % (sorted(names), sorted(LAYOUT)))
            home = os.path.join(top, "unpacked")
            z.extractall(home)
        program = os.path.join(home, "bin", "symvert.exe")
        imports = subprocess.run([a.objdump, "-p", program], capture_output=True,
                                 text=True).stdout
        dlls = {d.lower() for d in re.findall(r"DLL Name: (\S+)", imports)}
        if not dlls or not dlls <= SYSTEM_DLLS:
            problems.append("symvert.exe imports %s, beyond %s" % (sorted(dlls),
                                                                    sorted(SYSTEM_DLLS)))
        # The current directory and its parent hold no message files.
        work = os.path.join(top, "work", "here")
        os.makedirs(work)
        run = subprocess.run([a.wine, program, "missing.hex", "-oihex"], cwd=work,
                             stdin=subprocess.DEVNULL, capture_output=True)
        if run.returncode != 1 or run.stderr != MESSAGE.encode():
            problems.append("the unpacked program gave status %d and %r, expected 1 and %r" %
                            (run.returncode, run.stderr, MESSAGE))
    for p in problems:
        print(p)
    print("%s: %s" % (a.name, "problems" if problems else "ok"))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
