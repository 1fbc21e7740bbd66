#!/usr/bin/env bash
# Builds the Debian package and tests it as a player gets it: checks it with
# lintian, installs it with dpkg, plays the installed command by name from a
# fresh empty directory as an ordinary user, then removes it and checks that
# nothing of it is left.
#
#   tests/package/package_test.sh
#
# Installs into the running system, so it needs root on a Debian-based
# system; exits 77 (skipped) elsewhere. Needs Debian's dpkg-dev, lintian and
# libfaketime.
set -euo pipefail
cd "$(dirname "$0")/../.."

if ! command -v dpkg >/dev/null 2>&1; then
  echo "SKIPPED: not a Debian-based system (no dpkg), no package to test"
  exit 77
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "SKIPPED: installing the package needs root"
  exit 77
fi
faketime_library=$(dpkg -L libfaketime 2>/dev/null | grep '/libfaketime\.so\.1$' || true)
for tool in cpack dpkg-shlibdeps lintian setpriv; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "FAIL: $tool is missing (Debian packages cmake, dpkg-dev, lintian, util-linux)" >&2
    exit 1
  fi
done
if [ -z "$faketime_library" ]; then
  echo "FAIL: libfaketime is missing (Debian package libfaketime)" >&2
  exit 1
fi
if dpkg-query -W -f='${db:Status-Status}' valdoria 2>/dev/null | grep -qx installed; then
  echo "FAIL: valdoria is installed already; remove it first (dpkg -r valdoria)" >&2
  exit 1
fi

# Debian's PATH for ordinary users (/etc/login.defs); root's has no /usr/games.
readonly player_path=/usr/local/bin:/usr/bin:/bin:/usr/local/games:/usr/games
readonly player=nobody
# One won battle from an empty directory, replayed under its frozen clock.
readonly scenario=$PWD/tests/sessions/cut-at-yes-no

work=$(mktemp -d)
chmod 755 "$work"
installed=no
cleanup() {
  if [ "$installed" = yes ]; then
    dpkg --purge valdoria >/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

echo "== package"
rm -f build/release/valdoria_*.deb
cmake --workflow --preset package >"$work/package.log" 2>&1 || {
  cat "$work/package.log" >&2
  fail "cmake --workflow --preset package"
}
debs=(build/release/valdoria_*.deb)
if [ "${#debs[@]}" -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  fail "expected one package in build/release"
fi
deb=${debs[0]}
expected_name=$(dpkg-deb -f "$deb" Package)_$(dpkg-deb -f "$deb" Version)_$(dpkg-deb -f "$deb" Architecture).deb
[ "$(basename "$deb")" = "$expected_name" ] || fail "$deb is not named $expected_name"
[ "$(dpkg-deb -f "$deb" Section)" = games ] || fail "section is not games"
echo "$deb"

echo "== lintian"
# Errors and warnings fail, except the tags overridden in the package itself.
status=0
lintian --fail-on error,warning --display-info "$deb" >"$work/lintian.log" 2>&1 || status=$?
grep -v '^running with root privileges' "$work/lintian.log" || true
[ "$status" -eq 0 ] || fail "lintian reports errors or warnings (exit status $status)"

echo "== install"
dpkg -i "$deb" >"$work/install.log" 2>&1 || {
  cat "$work/install.log" >&2
  fail "dpkg -i"
}
installed=yes
mapfile -t owned < <(dpkg -L valdoria)
for path in /usr/games/valdoria /usr/share/man/man6/valdoria.6.gz; do
  printf '%s\n' "${owned[@]}" | grep -qx "$path" || fail "dpkg -L valdoria does not list $path"
done
zcat /usr/share/man/man6/valdoria.6.gz | cmp -s - doc/valdoria.6 ||
  fail "the installed manual page differs from doc/valdoria.6"

# Runs the installed game by name as the player, in a fresh empty directory
# of its own; extra environment (the frozen clock) is given to the game alone.
play() {
  local directory=$1 input=$2
  shift 2
  mkdir "$directory"
  chown "$player:" "$directory"
  (cd "$directory" &&
    setpriv --reuid="$player" --regid="$(id -g "$player")" --clear-groups -- \
      env -i PATH="$player_path" "$@" valdoria <"$input" >"$directory.out")
}

echo "== play: no"
printf 'no\n' >"$work/no.in"
play "$work/no" "$work/no.in" || fail "exit status $? after \"no\""
printf '%s\n' 'VALDORIA BATTLE' 'Version 1.1' '' \
  'NOTE: Capitalization is important! Type the commands and names as you see them.' '' \
  >"$work/no.expected"
printf 'Fight a battle (yes/no)? \nYou fought 0 battles. Exiting program...\n' >>"$work/no.expected"
cmp "$work/no.expected" "$work/no.out" || fail "output after \"no\" differs"
[ -z "$(ls -A "$work/no")" ] || fail "\"no\" left files behind"

echo "== play: one battle ($scenario)"
frozen=$(date -u -d "@$(tr -d ' \n' <"$scenario/clock")" '+%Y-%m-%d %H:%M:%S')
play "$work/battle" "$scenario/input" TZ=UTC LD_PRELOAD="$faketime_library" FAKETIME="$frozen" ||
  fail "exit status $? in the battle"
cmp "$scenario/expected_output" "$work/battle.out" || fail "the battle's output differs"
names() { find "$1" -mindepth 1 -printf '%f\n' | sort | tr '\n' ' '; }
saved=$(names "$work/battle")
expected=$(names "$scenario/after")
[ "$saved" = "$expected" ] || fail "files left: $saved; expected: $expected"
for file in "$scenario"/after/*; do
  cmp "$file" "$work/battle/$(basename "$file")" || fail "$(basename "$file") differs"
done

echo "== remove"
dpkg --purge valdoria >"$work/remove.log" 2>&1 || {
  cat "$work/remove.log" >&2
  fail "dpkg --purge valdoria"
}
installed=no
if dpkg-query -W -f='${db:Status-Status}' valdoria 2>/dev/null | grep -qvx not-installed; then
  fail "dpkg still knows valdoria"
fi
# What stays is only a directory that another package shares.
for path in "${owned[@]}"; do
  if [ "$path" != /. ] && [ -e "$path" ] && { [ ! -d "$path" ] || ! dpkg -S "$path" >/dev/null 2>&1; }; then
    fail "$path is left after removal"
  fi
done
if env PATH="$player_path" bash -c 'command -v valdoria' >/dev/null; then
  fail "valdoria is still on the PATH"
fi

echo "package: installed, played, linted and removed"
