#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Regenerates vantorel_base_utils/data/sample_frame/ from the renderer in tools/sample_frame/.
set -euo pipefail
# shellcheck source=common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
dir="$build_root/release"
"$root/scripts/install_deps.sh"
cmake -S "$package" -B "$dir" >/dev/null
cmake --build "$dir" --target vantorel_make_sample_frame --parallel "$(nproc)"
mkdir -p "$package/data/sample_frame"
"$dir/tools/vantorel_make_sample_frame" "$package/data/sample_frame"
