#!/usr/bin/env python3
"""End-to-end cases: run the built program and compare what it did.

Each case is a directory below a subsystem's tests/<group>/cases holding a file "cmd" (the argument words, split
as a POSIX shell would, on one line; "#" lines are comments) and a file "purpose" (one
line saying what the case checks, printed when it fails). The program runs in a fresh
directory that holds the case's other files and a link "data" to tests/data. Expected:
  status     exit status (default 0)
  stderr     standard error, exactly (default: empty)
  stdout     standard output, exactly (default: empty)
  expected/  files the run must leave in its directory, byte for byte
Optional: "stdin" is fed to standard input (default: empty), "env" holds NAME=VALUE lines
added to the environment (SOURCE_DATE_EPOCH defaults to 1000000000 and TZ to UTC, NVC_* are
cleared), "inputs" lists paths below tests/data, one a line, whose files are copied into the
run directory first (a directory gives all its files), for inputs that name other files
relative to the current directory (a .sym file's object modules and their .sdb files).
Expected files are worked out by hand, never copied from the program's output, so the
runner has no mode that writes them.

The Windows build runs with --windows, under the words of --launcher (wine64, say). Its text
outputs (standard output and error, and expected files that are text) must end every line in
CR LF, which is removed before they are compared with the same expected files; other outputs
are compared byte for byte. A case that depends on the platform it runs on holds a file
"platform" saying why, and is skipped there with that reason. Under a launcher, a case that
fails runs once more: wine now and then loses a process's output or never ends it under
load. It passes only if its second run passes, and the runner says what the first run gave.

Cases named on the command line run alone: "coff/generic/read" runs that case and any case
below its directory, not "coff/generic/read-big". With none, every case runs.

When an output differs, a text file shows a unified diff; a binary file shows its size,
the first differing offset and the bytes around it, and, for formats the program can dump
(-d -v), a unified diff of the two dumps.
"""
import argparse
import difflib
import os
import shlex
import shutil
import subprocess
import sys
import tempfile

CONTROL = {"cmd", "purpose", "status", "stderr", "stdout", "stdin", "env", "expected", "README",
           "inputs", "platform"}

# Output formats with a dump, by file extension.
DUMPABLE = {".cod", ".cof", ".tsk", ".txt", ".omf", ".abs"}
# Lines of a diff shown before the rest is only counted.
DIFF_LINES = 60
# Bytes shown on each side of the first difference of a binary output.
CONTEXT_BYTES = 16


def read(path, default=b""):
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return default


def selected(rel, only):
    return not only or any(rel == o or rel.startswith(o + "/") for o in only)


def case_dirs(root, only):
    for dirpath, dirnames, filenames in os.walk(root):
        dirnames.sort()
        if "cmd" in filenames:
            rel = os.path.relpath(dirpath, root).replace(os.sep, "/")
            if selected(rel, only):
                yield rel, dirpath


def is_text(data):
    if b"\0" in data:
        return False
    try:
        data.decode("utf-8")
    except UnicodeDecodeError:
        return False
    return True


def unified(want, got, what):
    """A unified diff of two texts, cut after DIFF_LINES lines."""
    lines = list(difflib.unified_diff(want.splitlines(), got.splitlines(),
                                      "expected " + what, "actual " + what, lineterm=""))
    if not lines:
        return "the lines agree, their ends differ: expected ends %r, actual ends %r" % (
            want[-20:], got[-20:])
    if len(lines) > DIFF_LINES:
        lines = lines[:DIFF_LINES] + ["... %d more diff lines" % (len(lines) - DIFF_LINES)]
    return "\n".join(lines)


def hex_window(data, start, end):
    return " ".join("%02x" % b for b in data[start:end]) or "(nothing)"


def binary_difference(want, got):
    """Sizes, the first differing offset and the bytes around it in both files."""
    n = min(len(want), len(got))
    first = next((i for i in range(n) if want[i] != got[i]), n)
    start = max(0, first - CONTEXT_BYTES) & ~0xF
    end = first + CONTEXT_BYTES
    expected = "  expected @0x%06x: " % start
    return ("%d bytes, expected %d; first difference at offset %d (0x%x)\n"
            "%s%s\n"
            "  actual   @0x%06x: %s\n"
            "%s^^" % (len(got), len(want), first, first,
                      expected, hex_window(want, start, end),
                      start, hex_window(got, start, end),
                      " " * (len(expected) + 3 * (first - start))))


def windows_text(data, what, problems):
    """A Windows text output with each CR LF made a line end again; a line end without its
    CR is a problem."""
    if data.count(b"\n") != data.count(b"\r\n"):
        problems.append("%s has a line end without CR, as text written on Windows has not" % what)
    return data.replace(b"\r\n", b"\n")


def dump(program, work, env, name, timeout):
    try:
        proc = subprocess.run(program + ["-d", "-v", name], cwd=work, env=env,
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout)
    except subprocess.TimeoutExpired:
        return "(dump timed out)\n"
    return (proc.stdout + proc.stderr).decode(errors="replace")


def dump_difference(program, work, env, name, want, timeout):
    """Dumps the actual output, then the expected one put in its place under the same name,
    so that names printed by the dump agree; the actual output is left as it was."""
    path = os.path.join(work, name)
    got_dump = dump(program, work, env, name, timeout)
    with open(path, "rb") as f:
        got = f.read()
    with open(path, "wb") as f:
        f.write(want)
    try:
        want_dump = dump(program, work, env, name, timeout)
    finally:
        with open(path, "wb") as f:
            f.write(got)
    if want_dump == got_dump:
        return "the dumps (-d -v) do not differ"
    return unified(want_dump, got_dump, "dump of " + name)


def output_difference(program, work, env, name, want, got, timeout):
    if is_text(want) and is_text(got):
        return "output %s differs (%d bytes, expected %d):\n%s" % (
            name, len(got), len(want),
            unified(want.decode(), got.decode(), name))
    text = "output %s differs: %s" % (name, binary_difference(want, got))
    if os.path.splitext(name)[1].lower() in DUMPABLE:
        text += "\n" + dump_difference(program, work, env, name, want, timeout)
    return text


def run_case(program, data, path, timeout, windows):
    lines = [l for l in read(os.path.join(path, "cmd")).decode().splitlines()
             if l.strip() and not l.lstrip().startswith("#")]
    args = shlex.split(" ".join(lines))
    env = {k: v for k, v in os.environ.items() if not k.startswith("NVC_")}
    env["SOURCE_DATE_EPOCH"] = "1000000000"
    env["TZ"] = "UTC"
    for line in read(os.path.join(path, "env")).decode().splitlines():
        if "=" in line:
            k, v = line.split("=", 1)
            env[k] = v
    with tempfile.TemporaryDirectory(prefix="symvert-cli-") as work:
        for name in os.listdir(path):
            if name in CONTROL:
                continue
            src = os.path.join(path, name)
            (shutil.copytree if os.path.isdir(src) else shutil.copy)(src, os.path.join(work, name))
        os.symlink(data, os.path.join(work, "data"))
        for line in read(os.path.join(path, "inputs")).decode().splitlines():
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            src = os.path.join(data, line)
            names = sorted(os.listdir(src)) if os.path.isdir(src) else [None]
            for name in names:
                item = os.path.join(src, name) if name else src
                if os.path.isfile(item):
                    shutil.copy(item, os.path.join(work, os.path.basename(item)))
        try:
            proc = subprocess.run(program + args, cwd=work, env=env,
                                  input=read(os.path.join(path, "stdin")),
                                  capture_output=True, timeout=timeout)
        except subprocess.TimeoutExpired:
            return ["timed out"]
        problems = []
        want_status = int(read(os.path.join(path, "status"), b"0").decode().strip() or 0)
        if proc.returncode != want_status:
            problems.append("status %d, expected %d" % (proc.returncode, want_status))
        for stream in ("stderr", "stdout"):
            want = read(os.path.join(path, stream))
            got = getattr(proc, stream)
            if windows:
                got = windows_text(got, stream, problems)
            if got != want:
                problems.append("%s differs:\n%s" % (stream, unified(
                    want.decode(errors="replace"), got.decode(errors="replace"), stream)))
        exp = os.path.join(path, "expected")
        if os.path.isdir(exp):
            for name in sorted(os.listdir(exp)):
                want = read(os.path.join(exp, name))
                got = read(os.path.join(work, name), None)
                if got is None:
                    problems.append("output %s was not written" % name)
                    continue
                if windows and is_text(want) and b"\n" in want:
                    got = windows_text(got, "output " + name, problems)
                if got != want:
                    problems.append(output_difference(program, work, env, name, want, got,
                                                      timeout))
        return problems


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--program", required=True)
    ap.add_argument("--cases", default=os.path.dirname(os.path.abspath(__file__)))
    ap.add_argument("--data", required=True)
    ap.add_argument("--launcher", default="",
                    help="words that run the program (a Windows build under wine64, say)")
    ap.add_argument("--windows", action="store_true",
                    help="the program is the Windows build: text ends lines in CR LF, "
                         "platform cases are skipped")
    ap.add_argument("--timeout", type=float, default=60)
    ap.add_argument("only", nargs="*",
                    help="run only these cases (paths below --cases) and the cases below them")
    a = ap.parse_args()
    a.only = [o.strip("/") for o in a.only]
    program = shlex.split(a.launcher) + [os.path.abspath(a.program)]
    data = os.path.abspath(a.data)
    failed = 0
    count = 0
    skipped = 0
    cases = list(case_dirs(a.cases, a.only))
    for o in a.only:
        if not any(selected(rel, [o]) for rel, _ in cases):
            print("FAIL %s: no such case" % o)
            failed += 1
    for rel, path in cases:
        platform = read(os.path.join(path, "platform"), None)
        if a.windows and platform is not None:
            skipped += 1
            print("skip %s: %s" % (rel, platform.decode(errors="replace").strip()))
            continue
        count += 1
        problems = run_case(program, data, path, a.timeout, a.windows)
        if problems and a.launcher:
            print("again %s: its first run under the launcher failed: %s" % (rel, problems[0]))
            problems = run_case(program, data, path, a.timeout, a.windows)
        purpose = read(os.path.join(path, "purpose"), None)
        if purpose is None or not purpose.strip():
            problems.append("no purpose: write one line saying what this case checks "
                            "into %s" % os.path.join(path, "purpose"))
        if problems:
            failed += 1
            print("FAIL %s" % rel)
            if purpose and purpose.strip():
                print("  purpose: %s" % purpose.decode(errors="replace").strip())
            for p in problems:
                print("  " + p.replace("\n", "\n  "))
        else:
            print("ok   %s" % rel)
    print("%d cases, %d failed%s" % (count, failed, ", %d skipped" % skipped if skipped else ""))
    if failed == 0 and count == 0 and skipped:
        return 77
    return 1 if failed or count == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
