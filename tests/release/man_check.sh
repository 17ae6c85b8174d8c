#!/bin/sh
# The manual page renders without a groff warning, and it describes every format key
# that the program lists. Skipped (77) when groff is missing.
# Usage: man_check.sh PROGRAM MANPAGE
set -eu
program=$1
page=$2
if ! command -v groff >/dev/null 2>&1; then
  echo "groff not installed: skipped"
  exit 77
fi
warnings=$(groff -man -ww -z -Tutf8 "$page" 2>&1) || {
  echo "groff failed on $page: $warnings"
  exit 1
}
if [ -n "$warnings" ]; then
  echo "groff warnings on $page:"
  echo "$warnings"
  exit 1
fi
# The listing's key lines lie between its header and its footer; each key has its own
# ".B key" paragraph under FORMATS.
keys=$("$program" -l 2>&1 | sed -n '/^Key /,/^Keys /p' | sed -n 's/^\([a-z0-9]\{1,\}\) .*/\1/p')
test -n "$keys" || { echo "no keys listed by $program -l"; exit 1; }
formats=$(sed -n '/^\.SH FORMATS/,/^\.SH /p' "$page")
missing=""
for key in $keys; do
  printf '%s\n' "$formats" | grep -qx "\.B $key" || missing="$missing $key"
done
if [ -n "$missing" ]; then
  echo "format keys without an entry in the manual page:$missing"
  exit 1
fi
echo "manual page ok: $(echo $keys | wc -w) format keys"
