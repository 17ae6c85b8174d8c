#!/bin/sh
# Builds the Debian package from the build tree with cpack, unpacks it into a scratch
# root and checks its layout; then runs the main job (the PIC16 example) with the
# unpacked /usr/bin/symvert, through its link, and with the build tree's program: the
# outputs and the trace must be the same bytes. Runs lintian on the package when it is
# installed and fails on its errors. Skipped (77) without dpkg-deb and dpkg-shlibdeps.
# Usage: package_check.sh BUILD_DIR DATA_DIR
set -eu
build=$(cd "$1" && pwd)
data=$(cd "$2" && pwd)
for tool in cpack dpkg dpkg-deb dpkg-shlibdeps; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "$tool not installed: skipped"
    exit 77
  fi
done
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fail() {
  echo "package: $*"
  exit 1
}

version=$(sed -n 's/^#define SYMVERT_VERSION "\(.*\)"$/\1/p' "$build/generated/common/version.h")
test -n "$version" || fail "no version in $build/generated/common/version.h"
deb="$scratch/pkg/symvert_${version}_$(dpkg --print-architecture).deb"
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/pkg" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log"; fail "cpack failed"; }
test -f "$deb" || { ls "$scratch/pkg"; fail "cpack did not make $(basename "$deb")"; }
test "$(dpkg-deb -f "$deb" Version)" = "$version" || fail "control Version is not $version"
dpkg-deb -f "$deb" Depends | grep -q libc6 || fail "no shared-library dependencies in Depends"

root="$scratch/root"
dpkg-deb -x "$deb" "$root"
test "$(readlink "$root/usr/bin/symvert")" = ../lib/symvert/bin/symvert ||
  fail "/usr/bin/symvert is not a link to ../lib/symvert/bin/symvert"
test -x "$root/usr/lib/symvert/bin/symvert" || fail "no /usr/lib/symvert/bin/symvert"
for f in lib/symvert/dat/en_msgs.txt share/man/man1/symvert.1.gz share/doc/symvert/copyright \
  share/doc/symvert/changelog.gz; do
  test -f "$root/usr/$f" || fail "no /usr/$f"
done
gzip -dc "$root/usr/share/doc/symvert/changelog.gz" | head -n 1 | grep -q "^symvert ($version) " ||
  fail "the changelog's latest entry is not version $version"

# The program, started through the link from a directory with no ../dat, finds the
# message texts of its own installation.
out=$(cd "$scratch" && "$root/usr/bin/symvert" -ozzz 2>&1 || true)
case "$out" in
  *'(604) unknown format key "zzz"'*) ;;
  *) fail "the packaged program did not use its message file: $out" ;;
esac

main_job() { # program, directory
  mkdir -p "$2"
  cp "$data"/debug/pic16/* "$2"/
  (cd "$2" && SOURCE_DATE_EPOCH=1000000000 "$1" -v -p16F877A,877A,PIC14 -nCODE prog.sym prog.hex \
    -omcoff prog.cof -ocod prog.cod 2>trace.txt) || fail "the main job failed with $1"
}
main_job "$build/bin/symvert" "$scratch/built"
main_job "$root/usr/bin/symvert" "$scratch/packaged"
for f in prog.cof prog.cod trace.txt; do
  test -s "$scratch/built/$f" || fail "the main job wrote no $f"
  cmp "$scratch/built/$f" "$scratch/packaged/$f" || fail "$f differs between the build tree and the package"
done

if command -v lintian >/dev/null 2>&1; then
  # Errors fail the check; warnings are shown.
  status=0
  lintian --fail-on error "$deb" >"$scratch/lintian.log" 2>&1 || status=$?
  grep -v 'running with root privileges' "$scratch/lintian.log" || true
  test "$status" -eq 0 || fail "lintian reports errors"
else
  echo "lintian not installed: the package is not checked with it"
fi
echo "package $(basename "$deb") ok"
