#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each for a
# bounded time; stops at the first target that finds a crash, a leak, undefined
# behaviour or a broken round trip, and leaves the input that did it in
# build-fuzz/findings/<target>/.
#
#   scripts/fuzz.sh [SECONDS_PER_TARGET]     (default 60)
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
dir="$top/build-fuzz"

CC=clang-14 CXX=clang++-14 cmake -S "$top" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTEV_FUZZ=ON >/dev/null
cmake --build "$dir" -j"$(nproc)" --target fuzzers

status=0
export TMPDIR="$dir/scratch"
rm -rf "$TMPDIR"
mkdir -p "$TMPDIR"
for target in "$dir"/tests/*_fuzz; do
  name=$(basename "$target")
  corpus="$dir/corpus/$name"
  findings="$dir/findings/$name"
  mkdir -p "$corpus" "$findings"
  seeds=()
  [ -d "$top/tests/fuzz/seeds/$name" ] && seeds=("$top/tests/fuzz/seeds/$name")
  echo "== $name: ${seconds}s"
  if ! (cd "$findings" && "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 "$corpus" "${seeds[@]}"); then
    echo "== $name FAILED; input kept in $findings" >&2
    status=1
    break
  fi
done
rm -rf "$TMPDIR"
exit $status
