#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds every libFuzzer target of fuzz/ with clang (ASan + UBSan) in a build tree of its own
# and runs each for the given number of seconds (default 60), starting from its committed
# seed corpus. New inputs go to a scratch corpus in the build tree, never into the repository.
# Crashes are written to <build>/fuzz-artifacts/<target>/ and make the script fail; the full
# output of each run is in <build>/fuzz-logs/<target>.log.
#   scripts/run_fuzzers.sh [seconds-per-target] [extra libFuzzer flags...]
set -euo pipefail

# shellcheck source=common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
dir="$build_root/fuzz"
seconds="${1:-60}"
shift || true
jobs="${VANTOREL_JOBS:-$(nproc)}"

if [ "${VANTOREL_SKIP_DEPS:-0}" != 1 ]; then
  "$root/scripts/install_deps.sh"
fi
cmake -S "$package" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DVANTOREL_BUILD_FUZZERS=ON \
  -DBUILD_TESTING=OFF -DVANTOREL_BUILD_BENCHMARKS=OFF >/dev/null
mapfile -t targets < "$dir/fuzz/fuzzers.txt"
cmake --build "$dir" --parallel "$jobs" --target "${targets[@]}"

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
status=0
for target in "${targets[@]}"; do
  scratch="$dir/fuzz-corpus/$target"
  artifacts="$dir/fuzz-artifacts/$target"
  mkdir -p "$scratch" "$artifacts"
  echo "=== $target: ${seconds}s"
  log="$dir/fuzz-logs/$target.log"
  mkdir -p "$(dirname "$log")"
  rc=0
  # -timeout: the YAML conversion may legitimately spend its whole node budget (a few hundred
  # bytes of aliases), about 25 s under the sanitizers; anything slower is a hang.
  "$dir/fuzz/$target" -max_total_time="$seconds" -timeout=60 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$artifacts/" "$@" \
    "$scratch" "$package/fuzz/corpus/$target" >"$log" 2>&1 || rc=$?
  grep -E '^(#[0-9]+.*DONE|stat::number_of_executed_units|SUMMARY)|==[0-9]+==ERROR|runtime error' "$log" || true
  if [ "$rc" -ne 0 ]; then
    echo "=== $target FAILED (exit $rc): log $log, inputs in $artifacts"
    status=1
  fi
done
exit "$status"
