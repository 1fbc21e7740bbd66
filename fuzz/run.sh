#!/usr/bin/env bash
# Builds the fuzz preset and runs every fuzzer for the given number of
# seconds each (default 30). Fails on the first finding; the input that
# caused it is left in build/fuzz/artifacts/.
#
#   fuzz/run.sh            # 30 s each
#   fuzz/run.sh 3600       # an hour each
#
# The corpus grown by a run stays in build/fuzz/corpus/ and is used again by
# the next run; the seeds in fuzz/corpus/ are never changed.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

seconds=${1:-30}
if ! [[ $seconds =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
  echo "usage: fuzz/run.sh [seconds per fuzzer]" >&2
  exit 2
fi

cmake --preset fuzz
cmake --build --preset fuzz -j "$(nproc)"

# The fuzzers work inside a private directory of their own, so every path
# given to them is absolute.
artifacts=$root/build/fuzz/artifacts
mkdir -p "$artifacts"
declare -A dictionaries=([SessionFuzzer]=session.dict [SaveFileFuzzer]=savefile.dict)
for fuzzer in SessionFuzzer SaveFileFuzzer; do
  corpus=$root/build/fuzz/corpus/$fuzzer
  mkdir -p "$corpus"
  echo "== $fuzzer for ${seconds}s"
  "$root/build/fuzz/fuzz/$fuzzer" \
    -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
    -dict="$root/fuzz/${dictionaries[$fuzzer]}" \
    -artifact_prefix="$artifacts/$fuzzer-" -print_final_stats=1 \
    "$corpus" "$root/fuzz/corpus/$fuzzer"
done
echo "No findings."
