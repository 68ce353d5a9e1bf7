#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Regenerates data/sample_frame/ from the renderer in tools/sample_frame/.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
dir="${VANTOREL_BUILD_ROOT:-$root/build}/release"
"$root/scripts/install_deps.sh"
cmake -S "$root" -B "$dir" >/dev/null
cmake --build "$dir" --target vantorel_make_sample_frame --parallel "$(nproc)"
mkdir -p "$root/data/sample_frame"
"$dir/tools/vantorel_make_sample_frame" "$root/data/sample_frame"
