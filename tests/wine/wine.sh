#!/bin/sh
# The wine prefix of the Windows build's tests and its server.
#   wine.sh start WINE WINESERVER: makes the prefix ($WINEPREFIX) when it is missing (a few
#       seconds), then keeps a server running for it, so that each program starts in
#       about 0.1 s instead of starting a server of its own.
#   wine.sh stop WINE WINESERVER: ends that server.
set -eu
action=$1
wine=$2
wineserver=$3
case $action in
start)
  # The prefix is made, and the programs of its first start have ended, before the tests
  # start theirs. A server of this prefix that is still running (an earlier run's, which
  # ends when idle) is ended, so that the persistent one can start. A server started here
  # outlives this script: it must not hold the caller's output.
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$wine" wineboot -i </dev/null >/dev/null 2>&1
    "$wineserver" -w </dev/null >/dev/null 2>&1
  fi
  "$wineserver" -k </dev/null >/dev/null 2>&1 || true
  "$wineserver" -p </dev/null >/dev/null 2>&1
  # The first program starts the prefix's services, which stay with the server and keep
  # the standard streams they were started with: here, none that a test reads to its end.
  "$wine" cmd.exe /c exit </dev/null >/dev/null 2>&1
  ;;
stop)
  "$wineserver" -k </dev/null >/dev/null 2>&1 || true
  ;;
esac
