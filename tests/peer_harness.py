"""What the peer checks share. A check runs a peer tool and symvert on the same file,
normalises both outputs to lists of values, and compares them: here are the command line
(--program, --data), the skip (status 77) when a peer is missing, runs in UTC with a fixed
creation time, copies of samples, the normaliser, and the comparison, which reports the
first difference of each list."""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

SKIP = 77


def values(text, *rules):
    """Normalises text to a list of values: each line gives the value of the first rule
    (pattern, function of the match) whose pattern matches at its start; None drops the
    line, a list gives several values; without a function the groups are the value."""
    found = []
    for line in text.splitlines():
        rule = next(((r, m) for r in rules for m in [re.match(r[0], line)] if m), None)
        if rule:
            value = rule[0][1](rule[1]) if len(rule[0]) > 1 else rule[1].groups()
            found += value if isinstance(value, list) else [] if value is None else [value]
    return found


def image(path):
    """The bytes of an Intel HEX, S-record or TI-TXT file by address, and the start address
    of its end or start record (None without one)."""
    found, start, base, at = {}, None, 0, 0
    for line in map(str.strip, open(path)):
        if line.startswith(":"):  # Intel HEX: data, segment or linear base, linear start
            data = bytes.fromhex(line[1:])
            if data[3] == 0:
                found.update((base + (data[1] << 8 | data[2]) + k, b) for k, b in enumerate(data[4:4 + data[0]]))
            elif data[3] in (2, 4):
                base = int.from_bytes(data[4:6], "big") << (4 if data[3] == 2 else 16)
            elif data[3] == 5:
                start = int.from_bytes(data[4:8], "big")
        elif line[:2] in ("S1", "S2", "S3", "S7", "S8", "S9"):  # data with 2 to 4 address bytes; start
            data, width = bytes.fromhex(line[2:]), int(line[1]) + 1 if line[1] in "123" else 11 - int(line[1])
            address = int.from_bytes(data[1:1 + width], "big")
            if line[1] in "123":
                found.update((address + k, b) for k, b in enumerate(data[1 + width:-1]))
            else:
                start = address
        elif line.startswith("@"):  # TI-TXT: an address, then bytes up to the next one
            at = int(line[1:], 16)
        elif re.fullmatch(r"[0-9A-Fa-f]{2}( [0-9A-Fa-f]{2})*", line):
            found.update((at + k, int(b, 16)) for k, b in enumerate(line.split()))
            at += len(line.split())
    return found, start


def match(got, want):
    """Equal values; None on either side stands for any value."""
    if isinstance(got, (list, tuple)) and isinstance(want, (list, tuple)):
        return len(got) == len(want) and all(map(match, got, want))
    return got is None or want is None or got == want


class Check:
    """One peer check: its command line, its scratch directory and its problems."""

    def __init__(self, *tools):
        parser = argparse.ArgumentParser()
        parser.add_argument("--program", required=True)
        parser.add_argument("--data", required=True)
        args = parser.parse_args()
        self.program, self.data = os.path.abspath(args.program), os.path.abspath(args.data)
        absent = [t for t in tools if not shutil.which(t)]
        if absent:
            print("skipped: %s not installed" % ", ".join(absent))
            sys.exit(SKIP)
        self.scratch = tempfile.mkdtemp(prefix="symvert-peer-")
        self.problems, self.count = [], 0

    def run(self, args, cwd=None):
        env = dict(os.environ, TZ="UTC", SOURCE_DATE_EPOCH="1000000000")
        return subprocess.run(args, capture_output=True, text=True, errors="replace",
                              cwd=cwd or self.scratch, env=env)

    def symvert(self, *args, cwd=None):
        return self.run([self.program] + list(args), cwd)

    def gdb(self, path, commands):
        """gdb-multiarch's answer to each command about a file, and its run (for the complaints)."""
        args = ["gdb-multiarch", "-batch", "-nx"]
        for k, command in enumerate(commands):
            args += ["-ex", "echo @@@%d\\n" % k, "-ex", command]
        proc = self.run(args + [path])
        answers = re.split(r"^@@@(\d+)\n", proc.stdout, flags=re.M)
        return {commands[int(k)]: text for k, text in zip(answers[1::2], answers[2::2])}, proc

    def sample(self, *paths):
        """A fresh directory with copies of the files (or directories) below the test data."""
        work = tempfile.mkdtemp(dir=self.scratch)
        for source in (os.path.join(self.data, p) for p in paths):
            for name in os.listdir(source) if os.path.isdir(source) else [source]:
                if os.path.isfile(os.path.join(source, name)):
                    shutil.copy(os.path.join(source, name), work)
        return work

    def peer_image(self, path, form, cwd=None):
        """srecord's reading of an image (form: -intel, -motorola, ...): (address, byte)."""
        proc = self.run(["srec_cat", path] + form + ["-o", "-", "-hexdump"], cwd)
        if proc.returncode:
            self.fail(path, "srec_cat: " + proc.stderr)
        return [(int(at, 16) + k, int(row[3 * k:3 * k + 2], 16)) for at, row in re.findall(
            r"^(\w+): (.{47})", proc.stdout, re.M) for k in range(16) if row[3 * k:3 * k + 2].strip()]

    def fail(self, where, text):
        self.problems.append("%s: %s" % (where, text))

    def ran(self, where, proc):
        """Whether the run ended with status 0 and reported no message."""
        bad = proc.returncode or re.search(r"\(\d+\)", proc.stderr)
        return not bad or self.fail(where, "status %d\n%s" % (proc.returncode, proc.stderr[-2000:]))

    def same(self, where, got, want):
        """Compares two value lists; reports the first difference with its neighbours."""
        self.count += 1
        if match(got, want):
            return
        if not isinstance(got, list) or not isinstance(want, list):
            return self.fail(where, "symvert %r, peer %r" % (got, want))
        k = next((k for k, (a, b) in enumerate(zip(got, want)) if not match(a, b)), min(len(got), len(want)))
        show = lambda items: "\n    ".join(map(repr, items[max(k - 2, 0):k + 3]))
        self.fail(where, "%d values from symvert, %d from the peer; item %d differs:\n  symvert:"
                  "\n    %s\n  peer:\n    %s" % (len(got), len(want), k, show(got), show(want)))

    def quiet(self, where, text, accepted=()):
        """Each non-blank line of a peer's complaints must match an accepted pattern."""
        for line in text.splitlines():
            if line.strip() and not any(re.search(p, line) for p in accepted):
                self.fail(where, line)

    def done(self, summary):
        shutil.rmtree(self.scratch, ignore_errors=True)
        for p in self.problems:
            print("FAIL " + p)
        print("%s; %d comparisons, %d problems" % (summary, self.count, len(self.problems)))
        sys.exit(1 if self.problems else 0)
