#!/usr/bin/env bash
# Runs a program of the Windows build under Wine, for its tests:
#
#   cmake/wine.sh PREFIX program.exe [argument...]
#
# PREFIX is a Wine prefix of the build's own, made at the first run. Wine
# starts in a few hundredths of a second once its server runs, but in seconds
# without: one server is kept for two minutes after the last program ends.
set -euo pipefail

if [ $# -lt 2 ]; then
  echo "usage: $0 PREFIX program.exe [argument...]" >&2
  exit 2
fi
export WINEPREFIX=$1 WINEDEBUG=-all
shift

mkdir -p "$WINEPREFIX"
# Fails, harmlessly, when the server already runs.
wineserver -p120 2>/dev/null || true
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  # Making the prefix takes seconds and talks about itself; that goes aside.
  wineboot --init >"$WINEPREFIX.log" 2>&1
fi
exec wine "$@"
