#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The main job: installs dependencies, builds the tools and runs vantorel_frame_points on the
# bundled sample frame (or on the inputs given as options; see --help). It builds everything
# `cmake --install` copies (the library, its interface libraries and both tools), so that
# installing from the same tree afterwards works.
#
# Each step prints one line; the output of the package manager, CMake and the compiler goes to
# a log under the build folder, and its end is shown when a step fails. On a terminal the
# build's progress is one line rewritten in place; elsewhere it is a line every tenth.
set -euo pipefail
# shellcheck source=common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
dir="$build_root/release"
mkdir -p "$dir"
log="$dir/run_frame_points.log"
: >"$log"

say() { printf '%s\n' "$*" >&2; }

fail() {
  say "run_frame_points: $1 failed; the end of $log:"
  tail -n 25 "$log" >&2
  exit 1
}

# Prints "building n%" as make reports progress ("[ 42%] Building ..."), on a terminal in
# place, elsewhere only when a new tenth is reached.
show_build_progress() {
  local last=-1 percent
  while IFS= read -r line; do
    printf '%s\n' "$line" >>"$log"
    [[ "$line" =~ ^\[\ *([0-9]+)%\] ]] || continue
    percent="${BASH_REMATCH[1]}"
    if [ -t 2 ]; then
      printf '\rbuilding the library and tools: %3d%%' "$percent" >&2
    elif [ $((percent / 10)) -gt $((last / 10)) ]; then
      say "building the library and tools: $percent%"
    fi
    last=$percent
  done
  if [ -t 2 ]; then printf '\n' >&2; fi
}

say "checking packages (installing what is missing; this can take minutes on a fresh machine)"
"$root/scripts/install_deps.sh" >>"$log" 2>&1 || fail "installing packages"
say "configuring in $dir"
cmake -S "$package" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >>"$log" 2>&1 || fail "configuring"
set +o pipefail
cmake --build "$dir" --target vantorel_install_set --parallel "$(nproc)" 2>&1 |
  show_build_progress
status=${PIPESTATUS[0]}
set -o pipefail
[ "$status" -eq 0 ] || fail "building"
say "built $dir/tools/vantorel_frame_points and vantorel_set_cover"
say "running vantorel_frame_points"
exec "$dir/tools/vantorel_frame_points" --output "${VANTOREL_OUTPUT_DIR:-$root/out/sample_frame}" "$@"
