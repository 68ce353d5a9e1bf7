#!/usr/bin/env bash
# The main job: installs dependencies, builds the tools and runs vantorel_frame_points on the
# bundled sample frame (or on the inputs given as options; see --help).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
dir="${VANTOREL_BUILD_ROOT:-$root/build}/release"
"$root/scripts/install_deps.sh" >/dev/null
cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" --target vantorel_frame_points --parallel "$(nproc)" >/dev/null
exec "$dir/tools/vantorel_frame_points" --output "${VANTOREL_OUTPUT_DIR:-$root/out/sample_frame}" "$@"
