"""What the peer checks share. A check runs a peer tool and symvert on the same file,
normalises both outputs to lists of values, and compares them. Here: the command line
(--program, --data), the skip (status 77) when a peer is missing, running programs in UTC
with a fixed creation time, copies of samples, the normaliser and the comparison, which
reports the first difference of each list."""
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
    (pattern, function of the match) whose pattern matches at its start; a function
    answering None drops the line, a list gives several values. Without a function the
    groups are the value."""
    found = []
    for line in text.splitlines():
        for pattern, *make in rules:
            m = re.match(pattern, line)
            if m:
                value = make[0](m) if make else m.groups()
                if isinstance(value, list):
                    found += value
                elif value is not None:
                    found.append(value)
                break
    return found


def num(text):
    """A number written as 0x1F, 1F (with hexadecimal), 31 or -4."""
    return int(text, 0) if re.match(r"-?0x", text) or re.fullmatch(r"-?\d+", text) else int(text, 16)


def match(got, want):
    """Equal values; None on either side stands for any value."""
    if got is None or want is None:
        return True
    if isinstance(got, (list, tuple)) and isinstance(want, (list, tuple)):
        return len(got) == len(want) and all(match(a, b) for a, b in zip(got, want))
    return got == want


def intel_hex(text):
    """The bytes of an Intel HEX text by address."""
    image, base = {}, 0
    for line in text.split():
        raw = bytes.fromhex(line.strip()[1:])
        kind, data = raw[3], raw[4:4 + raw[0]]
        if kind in (2, 4):
            base = int.from_bytes(data[:2], "big") << (4 if kind == 2 else 16)
        elif kind == 0:
            at = base + (raw[1] << 8 | raw[2])
            image.update((at + k, b) for k, b in enumerate(data))
    return image


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

    def sample(self, *paths):
        """A fresh directory holding copies of the files (of the directories) named below
        the test data."""
        work = tempfile.mkdtemp(dir=self.scratch)
        for path in paths:
            source = os.path.join(self.data, path)
            for name in os.listdir(source) if os.path.isdir(source) else [source]:
                if os.path.isfile(os.path.join(source, name)):
                    shutil.copy(os.path.join(source, name), work)
        return work

    def peer_image(self, path, form, cwd=None):
        """srecord's reading of an image file (form: -intel, -motorola, -ti-txt, ...)."""
        proc = self.run(["srec_cat", path] + form + ["-o", "-", "-intel"], cwd)
        if proc.returncode:
            self.fail(path, "srec_cat: " + proc.stderr)
        return sorted(intel_hex(proc.stdout).items())

    def fail(self, where, text):
        self.problems.append("%s: %s" % (where, text))

    def ran(self, where, proc, status=0):
        """Whether the run ended with that status and reported no message."""
        if proc.returncode != status or re.search(r"\(\d+\)", proc.stderr):
            self.fail(where, "status %d\n%s" % (proc.returncode, proc.stderr[-2000:]))
            return False
        return True

    def same(self, where, got, want):
        """Compares two value lists; reports the first difference with its neighbours."""
        self.count += 1
        if match(got, want):
            return True
        if not isinstance(got, list) or not isinstance(want, list):
            self.fail(where, "symvert %r, peer %r" % (got, want))
            return False
        k = next((k for k, (a, b) in enumerate(zip(got, want)) if not match(a, b)),
                 min(len(got), len(want)))
        show = lambda items: "\n    ".join(repr(i) for i in items[max(k - 2, 0):k + 3])
        self.fail(where, "%d values from symvert, %d from the peer; item %d differs:\n"
                  "  symvert:\n    %s\n  peer:\n    %s" % (len(got), len(want), k, show(got),
                                                          show(want)))
        return False

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
