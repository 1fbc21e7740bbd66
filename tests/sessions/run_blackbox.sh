#!/usr/bin/env bash
# Plays every session scenario against the built program, with the system
# clock frozen for it alone, and compares standard output and the save files
# byte for byte. Usage: run_blackbox.sh [--wine PREFIX | --node] path/to/valdoria [scenario...]
# With --wine, the Windows build plays under Wine in that Wine prefix: every
# line end typed is CR LF, and every line end written must be CR LF. With
# --node, the WebAssembly console build (valdoria.js) plays under Node.js.
# Exits 77 (skipped) when faketime's library is not installed.
set -uo pipefail

root=$(cd "$(dirname "$0")" && pwd)
wine_prefix=""
under_node=false
if [ "${1:-}" = "--wine" ] && [ $# -ge 2 ]; then
  wine_prefix=$2
  shift 2
elif [ "${1:-}" = "--node" ]; then
  under_node=true
  shift
fi
if [ $# -lt 1 ]; then
  echo "usage: $0 [--wine PREFIX | --node] path/to/valdoria [scenario...]" >&2
  exit 2
fi
game=$(realpath "$1")
shift
# shellcheck source=../support/frozen_clock.sh
source "$root/../support/frozen_clock.sh"
require_faketime_library

# Under Wine the clock is frozen in Wine's loader (Debian's wine64), which
# becomes the game; Wine's server, started here beforehand, keeps real time.
run_game=("$game")
to_windows() { cat; }
if $under_node; then
  # A build of Debian's emscripten loads its .wasm only without Node 20's fetch.
  run_game=("$(command -v node)" --no-experimental-fetch "$game")
fi
if [ -n "$wine_prefix" ]; then
  "$root/../../cmake/wine.sh" "$wine_prefix" cmd /c exit || exit 1
  export WINEPREFIX=$wine_prefix WINEDEBUG=-all
  run_game=(/usr/lib/wine/wine64 "$game")
  to_windows() { sed -z 's/\n/\r\n/g'; }
fi

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
  to_windows <"$dir/input" >"$run/input"
  to_windows <"$dir/expected_output" >"$run/expected_output"
  (cd "$run/play" && frozen_at "$frozen_time" "${run_game[@]}" <"$run/input" >"$run/stdout")
  status=$?

  problems=""
  if [ "$status" -ne 0 ]; then
    problems+="  exit status $status, expected 0"$'\n'
  fi
  if ! cmp -s "$run/expected_output" "$run/stdout"; then
    problems+="  stdout: $(cmp "$run/expected_output" "$run/stdout" 2>&1 | sed 's/^[^ ]* [^ ]* //')"$'\n'
    offset=$(cmp "$run/expected_output" "$run/stdout" 2>/dev/null | sed -n 's/.*byte \([0-9]*\).*/\1/p')
    if [ -n "$offset" ]; then
      start=$((offset > 80 ? offset - 80 : 0))
      problems+="    expected: ...$(tail -c +"$((start + 1))" "$run/expected_output" | head -c 160 | cat -A | tr -d '\n')"$'\n'
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
