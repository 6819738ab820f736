#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a while on its seed corpus.
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]
# Findings are written to build-fuzz/findings/; a target that finds a crash fails the script.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}; shift || true
build="$root/build-fuzz"
BUILD_TARGET=fuzz_all CC=clang CXX=clang++ BUILD_TYPE=RelWithDebInfo "$root/scripts/build.sh" "$build" \
  -DTALKGATE_BUILD_FUZZ=ON -DTALKGATE_SANITIZE=address,undefined \
  -DTALKGATE_BUILD_TESTS=OFF -DTALKGATE_BUILD_BENCH=OFF
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  mapfile -t targets < <(cd "$build/bin" && ls fuzz_* 2>/dev/null)
fi
mkdir -p "$build/findings"
status=0
for t in "${targets[@]}"; do
  corpus="$root/fuzz/corpus/${t#fuzz_}"
  work="$build/corpus/${t#fuzz_}"
  mkdir -p "$work"
  echo "== $t for ${seconds}s"
  if ! "$build/bin/$t" -max_total_time="$seconds" -print_final_stats=1 \
       -artifact_prefix="$build/findings/$t-" "$work" "$corpus" 2>"$build/$t.log"; then
    echo "$t found a problem:"; tail -n 30 "$build/$t.log"; status=1
  else
    grep -a -E "stat::number_of_executed_units" "$build/$t.log" || true
  fi
done
exit $status
