#!/usr/bin/env bash
# The built game run as an ordinary user (nobody) on save files it may write
# in directories that take no new file from it: one it may not write to, and
# a sticky shared one where the files are another user's. The files are
# written in place, with their owner, group and mode, and nothing is left
# beside them; names like a save's temporary files that another user left
# there are not touched. A file the user may not write is a failed save.
#
#   tests/save/shared_directory_test.sh path/to/valdoria
#
# Exits 77 (skipped) unless run as root with setpriv, the user nobody and
# libfaketime at hand.
set -uo pipefail

game=$(realpath "${1:?usage: shared_directory_test.sh path/to/valdoria}")
readonly faketime_library=/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1
skip() {
  echo "SKIP: $*"
  exit 77
}
[ "$(id -u)" -eq 0 ] || skip "needs root to play as another user"
command -v setpriv >/dev/null 2>&1 || skip "setpriv is not installed"
id -u nobody >/dev/null 2>&1 || skip "there is no user nobody"
setpriv --reuid=nobody --regid=nogroup --clear-groups true 2>/dev/null ||
  skip "may not switch to the user nobody here"
[ -r "$faketime_library" ] || skip "libfaketime is not installed (Debian package 'libfaketime')"
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
planted=
# A copy nobody may run, wherever the build is.
cp "$game" "$work/valdoria"
chmod 755 "$work/valdoria"

# shellcheck source=one_battle.sh
source "$(dirname "$0")/one_battle.sh"

# Lays out a directory with mode $2 and owner $3, holding the three files
# with mode $4 and owner $5 and root's files named in $planted, then plays
# as nobody; the frozen clock goes to the game alone.
play() {
  local label=$1 name
  play=$work/$label
  mkdir "$play"
  for name in Varen.txt Gorak.txt Mirel.txt; do
    printf '%s' "${before[$name]}" >"$play/$name"
    chmod "$4" "$play/$name"
    chown "$5" "$play/$name"
  done
  for name in $planted; do
    printf '%s' "${before[Varen.txt]}" >"$play/$name"
  done
  chmod "$2" "$play"
  chown "$3" "$play"
  inodes=$(stat -c '%n %i %U:%G %a' "$play"/*.txt)
  (cd "$play" && exec setpriv --reuid=nobody --regid=nogroup --clear-groups \
    env TZ=UTC LD_PRELOAD="$faketime_library" FAKETIME='2026-01-01 00:00:36' \
    "$work/valdoria" <<<"$input" >"$work/stdout" 2>&1)
  status=$?
  [ "$status" -eq 0 ] || fail "$label: exit status $status"
}

# Each file holds the content given ("before" or "after"), nothing else is
# there, and every file is the same one, with the same owner and mode.
expect_files() {
  local label=$1 name content wanted
  shift
  for name in Varen.txt Gorak.txt Mirel.txt; do
    content=$(cat "$play/$name")
    if [ "$1" = before ]; then wanted=${before[$name]}; else wanted=${after[$name]}; fi
    [ "$content" = "$wanted" ] || fail "$label: $name is '$content', expected the $1 one"
    shift
  done
  [ "$(entries "$play")" = "Gorak.txt Mirel.txt Varen.txt ${planted:+$planted }" ] ||
    fail "$label: more than the save files: $(entries "$play")"
  [ "$(stat -c '%n %i %U:%G %a' "$play"/*.txt)" = "$inodes" ] ||
    fail "$label: files replaced, or their owner or mode changed: $(stat -c '%n %i %U:%G %a' "$play"/*.txt)"
}

play not-writable 755 root:root 600 nobody:nogroup
grep -q '^Data saved\.$' "$work/stdout" || fail "not-writable: no \"Data saved.\""
expect_files not-writable after after after
report "a directory the player may not write to"

planted=Varen.txt.tmp-0123456789abcdef
play sticky-shared 1777 root:root 666 root:root
grep -q '^Data saved\.$' "$work/stdout" || fail "sticky-shared: no \"Data saved.\""
expect_files sticky-shared after after after
report "a sticky shared directory, the files another user's"
planted=

play read-only 777 root:root 444 nobody:nogroup
grep -q '^Unable to save data\.$' "$work/stdout" || fail "read-only: no \"Unable to save data.\""
expect_files read-only before before before
report "files the player may not write"

[ "$failures" -eq 0 ]
