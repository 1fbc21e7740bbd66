#!/usr/bin/env bash
# Plays a whole scripted session of the built game under valgrind's memcheck:
# five battles from a first run without save files (won, lost by defending
# only, won with plain attacks, won with spells, lost again), with the
# menus' detours at the start: Status and BACK, words that are no command,
# an unknown spell, BACK at the magic and monster select menus, an unknown
# and an empty monster name. Any memory error, or any block lost, fails.
#
#   tests/memcheck/memcheck.sh path/to/valdoria
#
# Exits 77 (skipped) when valgrind or faketime is missing.
set -euo pipefail

game=$(realpath "${1:?usage: memcheck.sh path/to/valdoria}")
here=$(cd "$(dirname "$0")" && pwd)
for tool in valgrind faketime; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIP: $tool is not installed"
    exit 77
  fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# The script was made for this second: 2026-01-01 00:00:00 UTC.
status=0
TZ=UTC faketime -f '2026-01-01 00:00:00' \
  valgrind --tool=memcheck --leak-check=full --show-leak-kinds=all \
  --errors-for-leak-kinds=all --error-exitcode=1 \
  --suppressions="$here/libstdcxx.supp" --log-file="$work/memcheck.log" \
  "$game" <"$here/session.in" >"$work/output.txt" || status=$?

cat "$work/memcheck.log"
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
[ "$status" -eq 0 ] || fail "memcheck found errors (status $status)"
grep -q 'ERROR SUMMARY: 0 errors' "$work/memcheck.log" || fail "memcheck reported errors"
if grep -Eq '(definitely|indirectly|possibly) lost: [1-9]' "$work/memcheck.log"; then
  fail "memory was lost"
fi

# The session must have been played as scripted, not cut short.
[ "$(grep -c '^Congratulations! You won the battle!$' output.txt)" -eq 3 ] || fail "not three battles won"
[ "$(grep -c '^You lost the battle...$' output.txt)" -eq 2 ] || fail "not two battles lost"
[ "$(tail -n 1 output.txt)" = 'You fought 5 battles. Exiting program...' ] || fail "wrong summary"
echo "PASS"
