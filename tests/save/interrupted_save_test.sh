#!/usr/bin/env bash
# Saves cut off from outside: the built game wins one battle under strace,
# which sends a signal as the game enters one chosen system call of the save.
#
# - SIGKILL at a rename or a flush: every file is exactly old or exactly new,
#   and the temporary file left behind is gone after the next won battle.
# - SIGTERM, SIGINT or SIGHUP anywhere in the party's save: it takes effect
#   only once all three files are written.
#
#   tests/save/interrupted_save_test.sh path/to/valdoria
#
# Exits 77 (skipped) when strace or libfaketime is missing.
set -uo pipefail

game=$(realpath "${1:?usage: interrupted_save_test.sh path/to/valdoria}")
readonly faketime_library=/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1
if ! command -v strace >/dev/null 2>&1; then
  echo "SKIP: strace is not installed"
  exit 77
fi
if ! strace -qq -o /dev/null true 2>/dev/null; then
  echo "SKIP: strace may not trace processes here"
  exit 77
fi
if [ ! -r "$faketime_library" ]; then
  echo "SKIP: libfaketime is not installed (Debian package 'libfaketime')"
  exit 77
fi
# The sanitizer build's runtime would refuse to start behind the preloaded
# library; the order does not matter here.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# shellcheck source=one_battle.sh
source "$(dirname "$0")/one_battle.sh"

# Plays the battle in $play, under strace sending $2 at the $3rd call of $1
# when given; the frozen clock goes to the game alone, never to strace.
play() {
  local tracer=()
  if [ $# -eq 3 ]; then
    tracer=(strace -qq -o /dev/null -e "trace=$1" -e "inject=$1:signal=$2:when=$3")
  fi
  (cd "$play" && exec "${tracer[@]}" env TZ=UTC LD_PRELOAD="$faketime_library" \
    FAKETIME='2026-01-01 00:00:36' "$game" <<<"$input" >"$work/stdout" 2>&1)
}

# Varen.txt, Gorak.txt and Mirel.txt hold their old or new content as given
# ("before", "after" or "either"); with "only", nothing else is there.
expect_files() {
  local label=$1 name content wanted
  shift
  for name in Varen.txt Gorak.txt Mirel.txt; do
    content=$(cat "$play/$name" 2>/dev/null) || content='(missing)'
    case $1 in
    before) wanted=${before[$name]} ;;
    after) wanted=${after[$name]} ;;
    *) wanted=$content ;;
    esac
    [ "$content" = "$wanted" ] || fail "$label: $name is '$content', expected the $1 one"
    shift
  done
  if [ "${1-}" = only ] && [ "$(entries "$play")" != "Gorak.txt Mirel.txt Varen.txt " ]; then
    fail "$label: more than the three save files: $(entries "$play")"
  fi
}

new_play_directory() {
  play=$(mktemp -d "$work/play.XXXXXX")
  local name
  for name in Varen.txt Gorak.txt Mirel.txt; do
    printf '%s' "${before[$name]}" >"$play/$name"
  done
}

# Killed at: Varen's rename, Gorak's flush of its new file, Mirel's rename.
# Call counts: each hero's save flushes its new file, then the directory.
for kill_point in 'renameat 1 Varen.txt before before before' \
                  'fsync 3 Gorak.txt after before before' \
                  'renameat 3 Mirel.txt after after before'; do
  read -r call when hero varen gorak mirel <<<"$kill_point"
  label="SIGKILL at $call #$when"
  new_play_directory
  play "$call" SIGKILL "$when" 2>/dev/null
  status=$?
  [ "$status" -eq 137 ] || fail "$label: exit status $status, expected 137 (killed)"
  leftovers=$(find "$play" -name "$hero.tmp[0-9]*-[0-9]*" | wc -l)
  [ "$leftovers" -eq 1 ] || fail "$label: expected the temporary file of $hero, found $leftovers"
  expect_files "$label" "$varen" "$gorak" "$mirel"

  play
  status=$?
  [ "$status" -eq 0 ] || fail "$label, next run: exit status $status"
  grep -q '^Data saved\.$' "$work/stdout" || fail "$label, next run: no \"Data saved.\""
  expect_files "$label, next run" either either either only
  report "$label, then the next run"
done

# Caught at: Varen's flush, Gorak's rename, the flush of Mirel's directory.
for signal_point in 'SIGTERM 15 fsync 1' 'SIGINT 2 renameat 2' 'SIGHUP 1 fsync 6'; do
  read -r signal number call when <<<"$signal_point"
  label="$signal at $call #$when"
  new_play_directory
  play "$call" "$signal" "$when" 2>/dev/null
  status=$?
  [ "$status" -eq $((128 + number)) ] || fail "$label: exit status $status, expected $((128 + number))"
  expect_files "$label" after after after only
  report "$label"
done

[ "$failures" -eq 0 ]
