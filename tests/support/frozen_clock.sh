# shellcheck shell=bash
# Sourced by the scripts that run the built game from outside: the system
# clock frozen for the game alone, by preloading faketime's library straight
# into it. The faketime command is not used: it keeps a semaphore named after
# its process id, which a killed run leaves behind for a later run to trip on.
# The frozen clock is never given to timeout, strace, a shell or a loop,
# whose own timers would then never fire.
#
# The library itself keeps a semaphore and a shared memory object named
# after its process id in /dev/shm, removed when that process exits. A pair
# left by a killed process does no harm to a later process preloaded this
# way that gets the same id (it finds the semaphore taken and goes without),
# but it is what the faketime command fails on.

faketime_library=/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1

# Exits 77 (skipped) when the library is missing.
require_faketime_library() {
  if [ ! -r "$faketime_library" ]; then
    echo "SKIPPED: $faketime_library is missing (Debian package 'libfaketime')"
    exit 77
  fi
}

# The absolute form 'YYYY-MM-DD hh:mm:ss' of whole seconds since 1970 (UTC).
utc_time() { date -u -d "@$1" '+%Y-%m-%d %H:%M:%S'; }

# Runs one program with the clock standing still at an absolute UTC time
# 'YYYY-MM-DD hh:mm:ss' (the form with '@' would let it run on).
frozen_at() {
  local time=$1
  shift
  TZ=UTC LD_PRELOAD="$faketime_library" FAKETIME="$time" "$@"
}

# Runs valgrind on a program with the clock frozen inside that program:
# valgrind hands LD_PRELOAD on to it, while its own tool is linked statically
# and loads no library, so valgrind's timers keep real time. Debian's
# valgrind command is a shell script that runs the launcher in its own place;
# the library loaded into that script cannot clean up behind it, so its
# pair is removed here once valgrind is done.
frozen_valgrind() {
  local time=$1 pid status=0
  shift
  TZ=UTC LD_PRELOAD="$faketime_library" FAKETIME="$time" valgrind "$@" <&0 &
  pid=$!
  wait "$pid" || status=$?
  rm -f "/dev/shm/faketime_shm_$pid" "/dev/shm/sem.faketime_sem_$pid"
  return "$status"
}

# Every seed comes from the clock, so check that it really stands still: two
# runs of date, a second apart in real time, must both tell the second asked
# for. The sleep between them runs on the real clock.
check_clock_stands_still() {
  local first second
  first=$(frozen_at '2026-01-01 00:00:00' date +%s)
  sleep 1.1
  second=$(frozen_at '2026-01-01 00:00:00' date +%s)
  if [ "$first $second" != "1767225600 1767225600" ]; then
    echo "the preloaded faketime library does not freeze the clock here" \
      "(got: $first $second, wanted: 1767225600 1767225600)" >&2
    return 1
  fi
}
