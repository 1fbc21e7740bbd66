#!/usr/bin/env bash
# Plays a whole scripted session of the built game under valgrind's memcheck:
# five battles from a first run without save files (won, lost by defending
# only, won with plain attacks, won with spells, lost again), with the
# menus' detours at the start: Status and BACK, words that are no command,
# an unknown spell, BACK at the magic and monster select menus, an unknown
# and an empty monster name. Any memory error, or any block lost, fails, and
# so does any difference from the same session played without valgrind.
#
#   tests/memcheck/memcheck.sh path/to/valdoria
#
# Exits 77 (skipped) when valgrind or faketime's library is missing.
set -euo pipefail

game=$(realpath "${1:?usage: memcheck.sh path/to/valdoria}")
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../support/frozen_clock.sh
source "$here/../support/frozen_clock.sh"
if ! command -v valgrind >/dev/null 2>&1; then
  echo "SKIP: valgrind is not installed"
  exit 77
fi
require_faketime_library

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# The script was made for this second.
readonly frozen_time='2026-01-01 00:00:00'

# The clock must be frozen inside the program valgrind runs.
probe=$(frozen_valgrind "$frozen_time" --tool=none -q date +%s)
[ "$probe" = 1767225600 ] || fail "the clock is not frozen under valgrind (got: $probe)"

# The same session without valgrind, as the reference for an exact run.
mkdir "$work/plain" "$work/checked"
(cd "$work/plain" && frozen_at "$frozen_time" "$game" <"$here/session.in" >"$work/plain.txt")

status=0
(cd "$work/checked" && frozen_valgrind "$frozen_time" \
  --tool=memcheck --leak-check=full --show-leak-kinds=all \
  --errors-for-leak-kinds=all --error-exitcode=1 \
  --suppressions="$here/libstdcxx.supp" --log-file="$work/memcheck.log" \
  "$game" <"$here/session.in" >"$work/output.txt") || status=$?

cat "$work/memcheck.log"
[ "$status" -eq 0 ] || fail "memcheck found errors (status $status)"
grep -q 'ERROR SUMMARY: 0 errors' "$work/memcheck.log" || fail "memcheck reported errors"
if grep -Eq '(definitely|indirectly|possibly) lost: [1-9]' "$work/memcheck.log"; then
  fail "memory was lost"
fi

# The session must have been played as scripted, not cut short, and exactly
# as without valgrind: the same output, the same save files.
cd "$work"
[ "$(grep -c '^Congratulations! You won the battle!$' output.txt)" -eq 3 ] || fail "not three battles won"
[ "$(grep -c '^You lost the battle...$' output.txt)" -eq 2 ] || fail "not two battles lost"
[ "$(tail -n 1 output.txt)" = 'You fought 5 battles. Exiting program...' ] || fail "wrong summary"
cmp plain.txt output.txt || fail "the output differs from the same session without valgrind"
diff -r plain checked || fail "the save files differ from the same session without valgrind"
echo "PASS"
