#!/usr/bin/env bash
# Plays every session scenario against the built program, with the system
# clock frozen for it alone, and compares standard output and the save files
# byte for byte. Usage: run_blackbox.sh path/to/valdoria [scenario...]
# Exits 77 (skipped) when faketime's library is not installed.
set -uo pipefail

if [ $# -lt 1 ]; then
  echo "usage: $0 path/to/valdoria [scenario...]" >&2
  exit 2
fi
game=$(realpath "$1")
shift
root=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../support/frozen_clock.sh
source "$root/../support/frozen_clock.sh"
require_faketime_library

# The sanitizer build's runtime would refuse to start behind the preloaded
# library; the order does not matter for these checks.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"

check_clock_stands_still || exit 1

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Lays out a scenario's before/ or after/ folder in a real directory: a
# marker "NAME.dir" stands for an empty directory NAME.
materialise() {
  local from=$1 to=$2 entry name
  mkdir -p "$to"
  [ -d "$from" ] || return 0
  for entry in "$from"/* "$from"/.[!.]*; do
    [ -e "$entry" ] || continue
    name=$(basename "$entry")
    if [[ "$name" == *.dir ]]; then
      mkdir "$to/${name%.dir}"
    else
      cp "$entry" "$to/$name"
    fi
  done
}

# Compares two directories of save files: same names, same kinds, same bytes.
compare_files() {
  local expected=$1 actual=$2 name ok=0
  local names
  names=$( (ls -A "$expected"; ls -A "$actual") | sort -u)
  for name in $names; do
    if [ ! -e "$actual/$name" ]; then
      echo "  $name: expected, but missing after the run"
      ok=1
    elif [ ! -e "$expected/$name" ]; then
      echo "  $name: present after the run, but not expected"
      ok=1
    elif [ -d "$expected/$name" ] || [ -d "$actual/$name" ]; then
      if [ ! -d "$expected/$name" ] || [ ! -d "$actual/$name" ]; then
        echo "  $name: a directory on one side only"
        ok=1
      fi
    elif ! cmp -s "$expected/$name" "$actual/$name"; then
      echo "  $name: $(cmp "$expected/$name" "$actual/$name" 2>&1 | sed 's/^[^ ]* [^ ]* //')"
      echo "    expected: $(head -c 200 "$expected/$name")"
      echo "    actual:   $(head -c 200 "$actual/$name")"
      ok=1
    fi
  done
  return $ok
}

if [ $# -gt 0 ]; then
  scenarios=("$@")
else
  scenarios=()
  for dir in "$root"/*/; do
    [ -f "$dir/clock" ] && scenarios+=("$(basename "$dir")")
  done
fi

passed=0
failed=0
for scenario in "${scenarios[@]}"; do
  dir="$root/$scenario"
  clock=$(tr -d ' \n' <"$dir/clock")
  run="$work/$scenario"
  materialise "$dir/before" "$run/play"
  materialise "$dir/after" "$run/expected"

  frozen_time=$(utc_time "$clock")
  (cd "$run/play" && frozen_at "$frozen_time" "$game" <"$dir/input" >"$run/stdout")
  status=$?

  problems=""
  if [ "$status" -ne 0 ]; then
    problems+="  exit status $status, expected 0"$'\n'
  fi
  if ! cmp -s "$dir/expected_output" "$run/stdout"; then
    problems+="  stdout: $(cmp "$dir/expected_output" "$run/stdout" 2>&1 | sed 's/^[^ ]* [^ ]* //')"$'\n'
    offset=$(cmp "$dir/expected_output" "$run/stdout" 2>/dev/null | sed -n 's/.*byte \([0-9]*\).*/\1/p')
    if [ -n "$offset" ]; then
      start=$((offset > 80 ? offset - 80 : 0))
      problems+="    expected: ...$(tail -c +"$((start + 1))" "$dir/expected_output" | head -c 160 | cat -A | tr -d '\n')"$'\n'
      problems+="    actual:   ...$(tail -c +"$((start + 1))" "$run/stdout" | head -c 160 | cat -A | tr -d '\n')"$'\n'
    fi
  fi
  if ! file_report=$(compare_files "$run/expected" "$run/play"); then
    problems+="$file_report"$'\n'
  fi

  if [ -z "$problems" ]; then
    passed=$((passed + 1))
    echo "ok      $scenario"
  else
    failed=$((failed + 1))
    echo "FAILED  $scenario (clock $clock)"
    printf '%s' "$problems"
  fi
done

echo "sessions: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
