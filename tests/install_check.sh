#!/bin/sh
# Installs the build into a temporary prefix and checks that the installed program
# finds its message descriptions two levels above itself (bin/../dat).
set -eu
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
test -x "$prefix/bin/symvert"
test -f "$prefix/dat/en_msgs.txt"
cd "$prefix"
out=$("$prefix/bin/symvert" -ozzz 2>&1 || true)
case "$out" in
  *'(604) unknown format key "zzz"'*) ;;
  *) echo "installed program did not use its message file: $out"; exit 1 ;;
esac
echo "installed layout ok"
