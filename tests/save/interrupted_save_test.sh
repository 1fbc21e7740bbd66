#!/usr/bin/env bash
# Saves cut off from outside: the built game wins one battle under strace,
# which sends a signal as the game enters one chosen system call of the save.
#
# - SIGKILL at every system call of the party's save, where the files are
#   replaced, where the unread files are kept as NAME.bak first, and (as the
#   user nobody, in a directory nobody may not write) where they are written
#   in place: every file loads its old or its new numbers, a NAME.bak holds
#   the old bytes, and the next run saves and leaves nothing else behind.
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
# library; the order does not matter here. Its leak check cannot run under
# strace, and would double each run's time: leaks are the unit tests' to find.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0:detect_leaks=0"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"

# shellcheck source=one_battle.sh
source "$(dirname "$0")/one_battle.sh"

# Plays the battle in $play as $user (empty: this user), under strace with
# the options given; the frozen clock goes to the game alone, never to strace.
user=
play() {
  local as=()
  [ -z "$user" ] || as=(setpriv --reuid="$user" --regid=nogroup --clear-groups)
  (cd "$play" && exec "$@" "${as[@]}" env TZ=UTC LD_PRELOAD="$faketime_library" \
    FAKETIME='2026-01-01 00:00:36' "$game" <<<"$input" >"$play.out" 2>&1)
}

# Each file loads its old or its new numbers ("either"), holds exactly the
# old or the new ones, or any seven numbers ("any"); a kept NAME.bak holds
# the old bytes; with "only", nothing else is there.
expect_files() {
  local label=$1 name content
  shift
  for name in Varen.txt Gorak.txt Mirel.txt; do
    content='(missing)'
    [ ! -e "$play/$name" ] || content=$(<"$play/$name")
    case $1 in
    before) [ "$content" = "${before[$name]}" ] ;;
    after) [ "$content" = "${after[$name]}" ] ;;
    any) [[ "$content" =~ ^([0-9]+ ){7}$ ]] ;;
    # A record ends in a blank, so new numbers followed by old bytes load as new.
    *) [ "$content" = "${before[$name]}" ] || [[ "$content" == "${after[$name]}"* ]] ;;
    esac || fail "$label: $name is '$content', expected the $1 one"
    [ ! -e "$play/$name.bak" ] || [ "$(<"$play/$name.bak")" = "${before[$name]}" ] ||
      fail "$label: $name.bak is '$(<"$play/$name.bak")'"
    shift
  done
  if [ "${1-}" = only ] && [ "$(entries "$play" | sed 's/[^ ]*\.bak //g')" != "Gorak.txt Mirel.txt Varen.txt " ]; then
    fail "$label: more than the three save files: $(entries "$play")"
  fi
}

# A directory of mode $1 and owner $2, holding the three files as before the
# battle, with mode $3 and owner $4.
new_play_directory() {
  local name
  play=$(mktemp -d "$work/play.XXXXXX")
  for name in Varen.txt Gorak.txt Mirel.txt; do
    printf '%s' "${before[$name]}" >"$play/$name"
    chmod "$3" "$play/$name"
    chown "$4" "$play/$name"
  done
  chmod "$1" "$play"
  chown "$2" "$play"
}

# Every system call of the party's save, from the signal guard taking over
# to its end, as "name n": the nth call of that name in the whole run.
save_calls() {
  play strace -qq -o "$work/calls"
  awk -F'(' '{ count[$1]++ }
             /^rt_sigaction\(SIGXFSZ/ && guards++ { exit }
             guards && $1 ~ /^[a-z_0-9]+$/ { print $1, count[$1] }' "$work/calls"
}

# SIGKILL at the $when-th call of $call in a copy of the directory $template,
# then the next run; a point reached, and each failure, is a line in a file.
kill_at() {
  local label="$1, killed at $2 #$3" failures=0
  play=$template.$2.$3
  cp -a "$template" "$play"
  play strace -qq -o /dev/null -e "trace=$2" -e "inject=$2:signal=KILL:when=$3" 2>/dev/null
  [ $? -eq 137 ] || return 0 # a call the traced run did not reach: the save was done
  echo >>"$work/points"
  expect_files "$label" either either either
  if ! play || [[ $(<"$play.out") != *$'\nData saved.\n'* ]]; then
    fail "$label: the next run did not save"
  fi
  expect_files "$label, next run" any any any only
  [ "$failures" -eq 0 ] || echo >>"$work/failed"
}

# SIGKILL at each system call of the save laid out by "$@", four at a time:
# the runs mostly wait for the disk.
kill_everywhere() {
  local label=$1 call when points running=0
  shift
  new_play_directory "$@"
  template=$play
  : >"$work/points"
  : >"$work/failed"
  while read -r call when; do
    kill_at "$label" "$call" "$when" &
    if [ $((running += 1)) -ge 4 ]; then
      wait -n
      running=$((running - 1))
    fi
  done < <(new_play_directory "$@" && save_calls)
  wait
  points=$(wc -l <"$work/points")
  failures=$((failures + $(wc -l <"$work/failed")))
  [ "$points" -gt 20 ] || fail "$label: only $points system calls in the save"
  report "SIGKILL at each of $points system calls of a save, $label"
}

kill_everywhere "the files replaced" 755 root:root 644 root:root
# Varen's file damaged: the battle starts from the same default numbers, and
# every file is kept as NAME.bak before it is replaced.
before[Varen.txt]='1000 60 x 29 1 0 100 '
kill_everywhere "unread files kept" 755 root:root 644 root:root
before[Varen.txt]='1000 60 43 29 1 0 100 '
if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null 2>&1 &&
  setpriv --reuid=nobody --regid=nogroup --clear-groups true 2>/dev/null; then
  # A copy nobody may run, wherever the build is.
  cp "$game" "$work/valdoria" && chmod 755 "$work/valdoria" && game=$work/valdoria
  user=nobody
  kill_everywhere "the files written in place" 755 root:root 600 nobody:nogroup
  user=
else
  echo "skip    SIGKILL in a save in place: needs root and setpriv"
fi

# Caught at: Varen's flush, Gorak's rename, the flush of Mirel's directory.
for signal_point in 'SIGTERM 15 fsync 1' 'SIGINT 2 renameat 2' 'SIGHUP 1 fsync 6'; do
  read -r signal number call when <<<"$signal_point"
  label="$signal at $call #$when"
  new_play_directory 755 root:root 644 root:root
  play strace -qq -o /dev/null -e "trace=$call" -e "inject=$call:signal=$signal:when=$when" \
    2>/dev/null
  status=$?
  [ "$status" -eq $((128 + number)) ] || fail "$label: exit status $status, expected $((128 + number))"
  expect_files "$label" after after after only
  report "$label"
done

[ "$failures" -eq 0 ]
