#!/usr/bin/env bash
# Plays a short session of the built game in a real terminal (a tmux pane)
# with the clock frozen for the game alone: every prompt must be on the
# screen, with the cursor right after it, before the answer is typed, and the
# screen must show the battle afterwards.
#
#   tests/terminal/terminal_test.sh path/to/valdoria
#
# Exits 77 (skipped) when tmux or faketime's library is missing.
set -euo pipefail

game=$(realpath "${1:?usage: terminal_test.sh path/to/valdoria}")
# shellcheck source=../support/frozen_clock.sh
source "$(dirname "$0")/../support/frozen_clock.sh"
if ! command -v tmux >/dev/null 2>&1; then
  echo "SKIP: tmux is not installed"
  exit 77
fi
require_faketime_library

# 2026-01-01 00:00:39 UTC: one Gloomeye, beaten in two blows.
readonly frozen_time='2026-01-01 00:00:39'
readonly timeout_seconds=20

work=$(mktemp -d)
socket=$work/tmux.socket
tmux_() { tmux -S "$socket" -f /dev/null "$@"; }
cleanup() {
  tmux_ kill-server >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  echo "--- screen:" >&2
  tmux_ capture-pane -p -S - -t game >&2 || true
  exit 1
}

mkdir "$work/play"
# The pane stays open after the game ends, so its status can be read. The
# clock is frozen in the game alone (env hands it over and runs the game in
# its place), not in timeout or the pane's shell. A sanitizer build must
# accept faketime's library loaded ahead of its own. The game and the pane
# end on their own within minutes should this script be killed.
asan_options=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0
play="timeout --foreground 120 env TZ=UTC ASAN_OPTIONS='$asan_options'"
play+=" LD_PRELOAD='$faketime_library' FAKETIME='$frozen_time' '$game'"
TERM=${TERM:-xterm} tmux_ new-session -d -s game -x 100 -y 50 -c "$work/play" \
  "$play; printf '[exit %d]' \$?; exec sleep 120"
tmux_ set-option -t game history-limit 5000 >/dev/null

# The cursor's line counted from the top of the history, so that a line
# scrolled up still counts as passed.
cursor_row() { tmux_ display-message -p -t game '#{e|+:#{history_size},#{cursor_y}}'; }
cursor_line() {
  local y
  y=$(tmux_ display-message -p -t game '#{cursor_y}')
  tmux_ capture-pane -p -t game -S "$y" -E "$y"
}
cursor_column() { tmux_ display-message -p -t game '#{cursor_x}'; }

# The row of the last answer: a prompt counts only below it, since the echo
# of what was typed reaches the screen a moment after it was sent.
answered_row=-1

# Waits until the cursor stands right after the prompt, at the end of the
# line the game is waiting on. tmux drops trailing blanks from a captured
# line, so the column tells whether the prompt's blank is there too.
wait_for_prompt() {
  local prompt=$1 deadline=$((SECONDS + timeout_seconds)) line
  while ((SECONDS < deadline)); do
    if grep -q '^\[exit [0-9]*\]' <<<"$(screen)"; then
      fail "the game ended before the prompt \"$prompt\""
    fi
    if (($(cursor_row) > answered_row)); then
      line=$(cursor_line)
      if [[ "$line" == *"${prompt% }" ]] && (($(cursor_column) == ${#line} + 1)); then
        return 0
      fi
    fi
    sleep 0.05
  done
  fail "no prompt \"$prompt\" on the screen after ${timeout_seconds}s"
}

answer() {
  wait_for_prompt "$1"
  answered_row=$(cursor_row)
  tmux_ send-keys -t game -l "$2"
  tmux_ send-keys -t game Enter
}

screen() { tmux_ capture-pane -p -S - -t game; }

expect_line() {
  grep -qxF -- "$1" <<<"$(screen)" || fail "no line \"$1\" on the screen"
}

wait_for_exit() {
  local deadline=$((SECONDS + timeout_seconds))
  while ((SECONDS < deadline)); do
    if grep -q '^\[exit [0-9]*\]' <<<"$(screen)"; then
      return 0
    fi
    sleep 0.05
  done
  fail "the game did not end"
}

answer 'Fight a battle (yes/no)? ' yes
answer 'Main menu: ' Status
answer 'Status menu: ' BACK
expect_line 'Name         : Varen'
expect_line 'Level        : 1'
expect_line 'To Next Level: 100'
expect_line 'HP           : 1000 / 1000'
expect_line 'Attack Power : 43'
expect_line 'Defense Power: 29'
expect_line 'Status       : NORMAL'
answer 'Main menu: ' Attack
answer 'Monster select menu: ' Nobody
expect_line 'Monster select menu: Nobody'
expect_line 'Invalid monster name.'
answer 'Monster select menu: ' Gloomeye

# Varen's blow, and the Gloomeye's HP Gorak's listing shows after it.
answer 'Main menu: ' Attack
wait_for_prompt 'Monster select menu: '
first_blow=$(screen | grep -o 'Varen does [0-9]* damage to Gloomeye with a physical attack!$') ||
  fail "no blow of Varen's on the screen"
damage=${first_blow#Varen does }
damage=${damage%% *}
expect_line "Gloomeye - $((300 - damage)) HP, 30 MP"
answer 'Monster select menu: ' Gloomeye
answer 'Fight another battle (yes/no)? ' no
wait_for_exit

expect_line 'No save files found. Generating random battle with default stats...'
expect_line 'You encountered: Gloomeye'
# A tab after the name, as the terminal shows it.
expect_line 'Varen   LV1'
expect_line 'Gorak   LV1'
expect_line 'Gloomeye - 300 HP, 30 MP'
expect_line 'Gloomeye dies!'
expect_line 'Congratulations! You won the battle!'
expect_line 'You gained 25 experience points.'
expect_line 'Data saved.'
expect_line 'You fought 1 battle. Exiting program...'
expect_line '[exit 0]'

saved=$(cat "$work/play/Varen.txt")
[ "$saved" = '1000 60 43 29 1 25 100 ' ] || fail "Varen.txt holds \"$saved\""
echo "PASS"
