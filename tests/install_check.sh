#!/bin/sh
# Installs the build into a temporary prefix and checks the layout: the program and its
# message descriptions under PREFIX/lib/symvert (bin/ and dat/), PREFIX/bin/symvert a
# relative link to the program, the manual page. The program, started through the link
# from a directory without ../dat, must find its message file two levels above itself.
set -eu
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
test -x "$prefix/lib/symvert/bin/symvert"
test -f "$prefix/lib/symvert/dat/en_msgs.txt"
test "$(readlink "$prefix/bin/symvert")" = ../lib/symvert/bin/symvert
test -f "$prefix/share/man/man1/symvert.1.gz" || test -f "$prefix/share/man/man1/symvert.1"
cd "$prefix"
out=$("$prefix/bin/symvert" -ozzz 2>&1 || true)
case "$out" in
  *'(604) unknown format key "zzz"'*) ;;
  *) echo "installed program did not use its message file: $out"; exit 1 ;;
esac
echo "installed layout ok"
