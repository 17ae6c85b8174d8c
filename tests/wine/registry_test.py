#!/usr/bin/env python3
"""The Windows build's registry values, set with wine's reg and read by the program.

The program is copied to TMP/bin with a one-line message file of its own in TMP/dat (the
installation two levels above the program, where it looks without "instdir"); the real
message files are copied to TMP/inst/dat. Each row sets values under HKEY_LOCAL_MACHINE,
runs the program on a missing input (message 141, fatal) and compares its standard error
with the line the message file it should have read gives, worked out from dat/*_msgs.txt.
The key is removed after every row, so this test runs alone.

usage: registry_test.py --wine WINE64 --program symvert.exe --dat DIR --version 9.60
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

# The keys, with "{version}" for the program's version.
PRODUCT = r"HKLM\Software\NORVALE Software\QXCC\std\{version}"
INSTALLATION = PRODUCT + r"\PL3"
TOP = r"HKLM\Software\NORVALE Software"

ENGLISH = 'missing.hex: (141) cannot open input file "missing.hex": No such file or directory'
GERMAN = 'missing.hex: (141) input-Datei "missing.hex" kann nicht geöffnet werden: ' \
         'No such file or directory'
FRENCH = 'missing.hex: (141) impossible d\'ouvrir le fichier input "missing.hex" : ' \
         'No such file or directory'
BESIDE = 'missing.hex: (141) beside the program: input missing.hex'

# (what, [(key, value name, type, data)], expected standard error line). "{inst}" is the
# Windows path of TMP/inst; SYMVERT_HOME is TMP as a Windows path, LONG_NAME 5000 letters.
ROWS = [
    ("no values: the installation two levels above the program", [], BESIDE),
    ("instdir REG_SZ", [(INSTALLATION, "instdir", "REG_SZ", "{inst}")], ENGLISH),
    ("instdir REG_EXPAND_SZ with a %VAR%",
     [(INSTALLATION, "instdir", "REG_EXPAND_SZ", r"%SYMVERT_HOME%\inst")], ENGLISH),
    ("instdir REG_EXPAND_SZ past 4099 characters falls back",
     [(INSTALLATION, "instdir", "REG_EXPAND_SZ", r"%SYMVERT_HOME%\%LONG_NAME%")], BESIDE),
    ("instdir of the wrong type (REG_DWORD) falls back",
     [(INSTALLATION, "instdir", "REG_DWORD", "1")], BESIDE),
    ("instdir under the product key is not read",
     [(PRODUCT, "instdir", "REG_SZ", "{inst}")], BESIDE),
    ("language 7: German",
     [(INSTALLATION, "instdir", "REG_SZ", "{inst}"), (PRODUCT, "language", "REG_DWORD", "7")],
     GERMAN),
    ("language 12: French",
     [(INSTALLATION, "instdir", "REG_SZ", "{inst}"), (PRODUCT, "language", "REG_DWORD", "12")],
     FRENCH),
    ("language of the wrong type (REG_SZ 7) is 9: English",
     [(INSTALLATION, "instdir", "REG_SZ", "{inst}"), (PRODUCT, "language", "REG_SZ", "7")],
     ENGLISH),
    ("language 255: English",
     [(INSTALLATION, "instdir", "REG_SZ", "{inst}"), (PRODUCT, "language", "REG_DWORD", "255")],
     ENGLISH),
]


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--wine", required=True)
    ap.add_argument("--program", required=True)
    ap.add_argument("--dat", required=True)
    ap.add_argument("--version", required=True)
    a = ap.parse_args()
    reg = [a.wine, "reg"]
    failed = 0
    with tempfile.TemporaryDirectory(prefix="symvert-registry-") as top:
        # The program runs in TMP/work/here: its other places for message files,
        # ..\dat and the current directory, hold none.
        for sub in ("bin", "dat", "inst", os.path.join("work", "here")):
            os.makedirs(os.path.join(top, sub))
        shutil.copy(a.program, os.path.join(top, "bin", "symvert.exe"))
        shutil.copytree(a.dat, os.path.join(top, "inst", "dat"))
        with open(os.path.join(top, "dat", "en_msgs.txt"), "w") as f:
            f.write("141 F beside the program: %s %s\n")
        env = dict(os.environ, SYMVERT_HOME=windows_path(top), LONG_NAME="x" * 5000)
        env = {k: v for k, v in env.items() if not k.startswith("NVC_")}
        for what, values, want in ROWS:
            subprocess.run(reg + ["delete", TOP, "/f"], capture_output=True, env=env)
            problems = []
            for key, name, kind, data in values:
                data = data.replace("{inst}", windows_path(os.path.join(top, "inst")))
                key = key.replace("{version}", a.version)
                done = subprocess.run(reg + ["add", key, "/v", name, "/t", kind, "/d", data, "/f"],
                                      capture_output=True, env=env)
                if done.returncode != 0:
                    problems.append("reg add %s %s failed: %s" % (key, name, done.stderr))
            run = subprocess.run([a.wine, os.path.join(top, "bin", "symvert.exe"), "missing.hex",
                                  "-oihex"], cwd=os.path.join(top, "work", "here"), env=env,
                                 stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
            got = run.stderr.decode(errors="replace")
            if run.returncode != 1:
                problems.append("status %d, expected 1" % run.returncode)
            if got != want + "\r\n":
                problems.append("standard error %r, expected %r" % (got, want + "\r\n"))
            print(("FAIL " if problems else "ok   ") + what)
            for p in problems:
                print("  " + p)
            failed += bool(problems)
        subprocess.run(reg + ["delete", TOP, "/f"], capture_output=True, env=env)
    print("%d rows, %d failed" % (len(ROWS), failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
