# SPDX-License-Identifier: Apache-2.0
# Sourced by the scripts beside it: where the repository, the library package and the build
# folder are. The build folder holds colcon workspaces whose src/ links back to the repository,
# so it is marked for colcon to skip: a clone inside a workspace's src/ must show colcon its
# packages once, not again through the build folder.
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
package="$root/vantorel_base_utils"
build_root="${VANTOREL_BUILD_ROOT:-$root/build}"
mkdir -p "$build_root"
touch "$build_root/COLCON_IGNORE"
