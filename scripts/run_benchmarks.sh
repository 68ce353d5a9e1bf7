#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds the release configuration and runs every benchmark program in bench/.
# Installs the peer libraries the benchmarks compare against first.
# Extra arguments go to each program (for example --benchmark_filter=Projection).
set -euo pipefail

# shellcheck source=common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
dir="$build_root/bench-release"

"$root/scripts/install_deps.sh" --bench
cmake -S "$package" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
  -DVANTOREL_BUILD_BENCHMARKS=ON >/dev/null
cmake --build "$dir" --parallel "$(nproc)"
for program in "$dir"/bench/bench_*; do
  [ -x "$program" ] || continue
  echo "=== $(basename "$program")"
  "$program" --benchmark_counters_tabular=true "$@"
done
