#!/usr/bin/env bash
# Measures the game (figures, not pass/fail): start-up against an empty
# program, write calls per prompt, peak memory, and battles per second.
#
#   bench/run.sh
#
# Builds the game, an empty C++ program and the in-process battle player in
# build/bench with the release preset's flags. The scripted sessions in
# bench/sessions/ were made for the frozen clock 2026-01-01 00:00:00 UTC,
# which faketime's library provides (exits 77 without it); hyperfine,
# strace, /usr/bin/time and valgrind are used when present.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
# shellcheck source=../tests/support/frozen_clock.sh
source "$root/tests/support/frozen_clock.sh"
require_faketime_library
build=$root/build/bench
sessions=$root/bench/sessions
readonly clock=1767225600
readonly frozen_time='2026-01-01 00:00:00'

cmake -S bench -B "$build" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CXX_FLAGS="-Wall -Wextra -Wpedantic -Wconversion -Wsign-conversion" >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null
game=$build/valdoria/valdoria
empty=$build/EmptyProgram

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The clock frozen for the measured program alone, by faketime's library
# loaded straight into it: no wrapper process is measured with it, and
# strace, /usr/bin/time and valgrind keep the real clock. Behind
# /usr/bin/time, env hands the clock over and runs the program in its place;
# strace sets it for the traced program alone.
frozen=(env TZ=UTC LD_PRELOAD="$faketime_library" FAKETIME="$frozen_time")
frozen_strace=(strace -E TZ=UTC -E LD_PRELOAD="$faketime_library" -E FAKETIME="$frozen_time")

# A fresh, empty working directory for every run.
fresh_directory() {
  local directory
  directory=$(mktemp -d -p "$work")
  echo "$directory"
}

battles_in() { grep -c '^yes$' "$1"; }

echo "Valdoria Battle benchmarks, $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "compiler: $(grep CMAKE_CXX_COMPILER: "$build/CMakeCache.txt" | cut -d= -f2) ($("$(grep CMAKE_CXX_COMPILER: "$build/CMakeCache.txt" | cut -d= -f2)" --version | head -n 1)), Release"
echo

echo "== Start-up to exit for the answer \"no\", against an empty program"
cd "$(fresh_directory)"
if command -v hyperfine >/dev/null; then
  # Without a shell, whose start-up would weigh more than the game's. A
  # hyperfine that cannot feed standard input gives an empty one, which the
  # game answers exactly as it answers "no".
  if hyperfine --help | grep -q -- '--input'; then
    startup=(--input "$sessions/answer_no.in")
  else
    startup=()
    echo "(this hyperfine cannot feed standard input: the end of input answers instead of \"no\")"
  fi
  startup+=(-N -n valdoria "$game" -n empty "$empty")
  hyperfine --style basic --warmup 100 --runs 2000 --export-json "$work/startup.json" "${startup[@]}"
  python3 - "$work/startup.json" <<'PYTHON'
import json, sys
results = {r["command"]: r for r in json.load(open(sys.argv[1]))["results"]}
game, empty = results["valdoria"], results["empty"]
print("valdoria: mean %.2f ms, median %.2f ms; empty program: mean %.2f ms, median %.2f ms"
      % (game["mean"] * 1e3, game["median"] * 1e3, empty["mean"] * 1e3, empty["median"] * 1e3))
print("ratio: %.1f (means), %.1f (medians)"
      % (game["mean"] / empty["mean"], game["median"] / empty["median"]))
PYTHON
else
  runs=1000
  time_runs() {
    local start end
    start=$(date +%s%N)
    for ((i = 0; i < runs; ++i)); do "$1" <"$sessions/answer_no.in" >/dev/null; done
    end=$(date +%s%N)
    echo $(((end - start) / runs / 1000))
  }
  game_us=$(time_runs "$game")
  empty_us=$(time_runs "$empty")
  echo "valdoria: $game_us us, empty program: $empty_us us per run (mean of $runs)," \
    "ratio $(awk "BEGIN { printf \"%.1f\", $game_us / $empty_us }")"
fi
cd "$root"
echo

fifty=$(battles_in "$sessions/fifty_battles.in")
echo "== Write calls to standard output, $fifty battles"
if command -v strace >/dev/null; then
  # Standard input a file: the whole script comes in one read, so the writes
  # are counted against the prompts, the points where the game waits.
  (cd "$(fresh_directory)" && "${frozen_strace[@]}" -o "$work/trace.log" -e trace=read,write \
    "$game" <"$sessions/fifty_battles.in" >"$work/output.txt")
  writes=$(grep -c '^write(1,' "$work/trace.log")
  reads=$(grep -c '^read(0,' "$work/trace.log")
  prompts=$(grep -o -E '\(yes/no\)\? |menu: ' "$work/output.txt" | wc -l)
  echo "input from a file, output to a file: $prompts prompts, $writes writes to standard" \
    "output, $reads reads of standard input: $(awk "BEGIN { printf \"%.3f\", $writes / $prompts }")" \
    "writes per prompt (the limit: one per prompt, one before each won battle's save," \
    "plus the summary's)"

  # Standard input a pipe fed one line every few milliseconds, as a player
  # types: every prompt is a read of its own.
  paced() { while IFS= read -r line; do printf '%s\n' "$line"; sleep 0.003; done <"$1"; }
  (cd "$(fresh_directory)" && paced "$sessions/fifty_battles.in" |
    "${frozen_strace[@]}" -o "$work/paced.log" -e trace=read,write "$game" | cat >/dev/null)
  awk '
    /^read\(0,/ { reads++ }
    /^write\(1,/ { writes++ }
    END {
      printf "input from a paced pipe, output to a pipe: %d writes to standard output, %d reads of", writes, reads
      printf " standard input: %.3f writes per read\n", writes / reads
    }' "$work/paced.log"

  echo "strace -c (input from a file; the other reads and writes are the libraries and the save files):"
  (cd "$(fresh_directory)" && "${frozen_strace[@]}" -c -e trace=read,write "$game" \
    <"$sessions/fifty_battles.in" 2>&1 >/dev/null | sed 's/^/  /')
else
  echo "strace is not installed: skipped"
fi
echo

echo "== Peak memory (maximum resident set size, median of 5 runs)"
if [ -x /usr/bin/time ]; then
  peak() {
    local input=$1 program=$2 sizes=()
    for _ in 1 2 3 4 5; do
      (cd "$(fresh_directory)" && /usr/bin/time -f '%M' -o "$work/rss" "${frozen[@]}" "$program" \
        <"$input" >/dev/null)
      sizes+=("$(cat "$work/rss")")
    done
    printf '%s\n' "${sizes[@]}" | sort -n | sed -n 3p
  }
  echo "empty program:           $(peak "$sessions/answer_no.in" "$empty") kB"
  echo "valdoria, answer \"no\":   $(peak "$sessions/answer_no.in" "$game") kB"
  echo "valdoria, one battle:    $(peak "$sessions/one_battle.in" "$game") kB"
  echo "valdoria, fifty battles: $(peak "$sessions/fifty_battles.in" "$game") kB"
  # Typing without end: 100 MiB of 'y' without a line end at each kind of
  # prompt. Only a few KiB of an entry are kept, so this stays near a normal
  # run.
  typed=$work/typed.in
  for prompt in "yes/no word:" "main menu word:yes\n" "magic select word:yes\nMagic\n" \
    "monster select line:yes\nAttack\n" "status line:yes\nStatus\n"; do
    { printf '%b' "${prompt#*:}" && head -c 104857600 /dev/zero | tr '\0' y; } >"$typed"
    printf 'valdoria, 100 MiB at the %-20s %s kB\n' "${prompt%%:*}:" "$(peak "$typed" "$game")"
  done
  rm -f "$typed"
else
  echo "/usr/bin/time is not installed: skipped"
fi
if command -v valgrind >/dev/null; then
  heap_peak() {
    (cd "$(fresh_directory)" && frozen_valgrind "$frozen_time" --tool=massif \
      --massif-out-file="$work/massif" "$game" <"$1" >/dev/null 2>&1)
    awk -F= '/^mem_heap_B=/ { if ($2 > most) most = $2 } END { print most + 0 }' "$work/massif"
  }
  echo "peak heap (valgrind massif): one battle $(heap_peak "$sessions/one_battle.in") bytes," \
    "fifty battles $(heap_peak "$sessions/fifty_battles.in") bytes"
fi
echo

echo "== Battles per second, in-process ($fifty-battle script, played again and again)"
# Every won battle flushes three save files to disk, so the directory's
# device decides much of it.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  memory=$(mktemp -d -p /dev/shm)
  echo "save files in memory ($memory): $("$build/BattleThroughput" "$sessions/fifty_battles.in" "$clock" 5 "$memory")"
  rm -rf "$memory"
fi
echo "save files on disk ($(df -T "$work" | awk 'NR == 2 { print $2 }')): $("$build/BattleThroughput" "$sessions/fifty_battles.in" "$clock" 5 "$(fresh_directory)")"
