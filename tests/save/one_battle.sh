# shellcheck shell=bash
# Sourced by the save scripts: the battle they play, the save files before
# and after it, and how they report.
# shellcheck disable=SC2034 # the variables are for the scripts that source this

# 2026-01-01 00:00:36 UTC: a lone Spinelet falls to Varen's first blow, and
# every hero gains its 31 experience points.
readonly input=$'yes\nAttack\nSpinelet\n'
declare -A before=([Varen.txt]='1000 60 43 29 1 0 100 ' [Gorak.txt]='1300 50 51 28 1 0 100 '
                   [Mirel.txt]='900 75 40 27 1 0 100 ')
declare -A after=([Varen.txt]='1000 60 43 29 1 31 100 ' [Gorak.txt]='1300 50 51 28 1 31 100 '
                  [Mirel.txt]='900 75 40 27 1 31 100 ')

# The names in a directory, on one line.
entries() { find "$1" -mindepth 1 -maxdepth 1 -printf '%f\n' | sort | tr '\n' ' '; }

failures=0
reported=0
fail() {
  echo "  $*"
  failures=$((failures + 1))
}
report() {
  if [ "$failures" -eq "$reported" ]; then
    echo "ok      $1"
  else
    echo "FAILED  $1"
  fi
  reported=$failures
}
