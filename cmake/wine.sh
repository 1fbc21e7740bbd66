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
# Fails, harmlessly, when the server already runs. A new server starts
# Wine's background programs here, with none of this script's output, which
# a test runner reads to its end (and which they would keep open); Wine
# makes the prefix the first time, talking about it.
if wineserver -p120 </dev/null >/dev/null 2>&1; then
  wine wineboot --init </dev/null >>"$WINEPREFIX.log" 2>&1
fi
exec wine "$@"
