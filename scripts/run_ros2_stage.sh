#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The real-ROS 2 stage of the test command: builds and tests every package of the repository
# with plain `colcon build` and `colcon test` in a fresh workspace whose src/ holds the
# repository, over a real ROS 2 core, as a ROS 2 user builds them, twice: over the core as found (Fast-RTPS and introspection type supports) and
# over the same core with rosidl_typesupport_fastrtps_c, rosidl_typesupport_fastrtps_cpp and
# fastrtps_cmake_module hidden (introspection only, all that Cyclone DDS needs).
#
# The core, first found of:
#   1. $VANTOREL_ROS2_CORE: an installed ROS 2 prefix (holding local_setup.bash) or a packed
#      core (setup.sh and its prebuilt archive), which is unpacked into the build folder;
#   2. a ROS 2 environment already sourced (ROS_DISTRO set, or rclcpp on AMENT_PREFIX_PATH);
#   3. a packed core in shared/ros2-core beside the repository or beside any folder above it.
# Without one it prints a line saying the stage was skipped, and succeeds.
#
# Environment: VANTOREL_BUILD_ROOT (default <repo>/build; the stage works in its ros2/ folder),
# VANTOREL_JOBS (default nproc). Compiler output is cached with ccache when it is installed,
# so that the second run recompiles only what the hidden type supports change.
set -euo pipefail

# shellcheck source=common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
jobs="${VANTOREL_JOBS:-$(nproc)}"
stage="$build_root/ros2"
hidden_packages=(rosidl_typesupport_fastrtps_c rosidl_typesupport_fastrtps_cpp fastrtps_cmake_module)
started=$(date +%s)

step() { printf '\n=== %s\n' "$*"; }
fail() {
  echo "real ROS 2 stage: $*" >&2
  exit 1
}

is_packed_core() { [ -x "$1/setup.sh" ] && compgen -G "$1/prebuilt-*.tar.zst" >/dev/null; }

# shared/ros2-core beside the repository, then beside each folder above it.
find_packed_core() {
  local dir="$root" parent
  while :; do
    parent="$(dirname "$dir")"
    if is_packed_core "$parent/shared/ros2-core"; then
      echo "$parent/shared/ros2-core"
      return 0
    fi
    [ "$parent" = "$dir" ] && break
    dir="$parent"
  done
  return 1
}

# Whether package $1 is installed in a prefix of the environment.
on_path() {
  local prefix prefixes
  IFS=: read -ra prefixes <<<"${AMENT_PREFIX_PATH:-}:${CMAKE_PREFIX_PATH:-}"
  for prefix in "${prefixes[@]}"; do
    [ -n "$prefix" ] && [ -d "$prefix/share/$1" ] && return 0
  done
  return 1
}

ros2_sourced() { [ -n "${ROS_DISTRO:-}" ] || on_path rclcpp; }

source_setup() {
  set +u
  # shellcheck disable=SC1090
  source "$1"
  set -u
}

# --- find the core and source it
packed=""
if [ -n "${VANTOREL_ROS2_CORE:-}" ]; then
  if is_packed_core "$VANTOREL_ROS2_CORE"; then
    packed="$VANTOREL_ROS2_CORE"
  elif [ -f "$VANTOREL_ROS2_CORE/local_setup.bash" ]; then
    core_text="VANTOREL_ROS2_CORE=$VANTOREL_ROS2_CORE"
    source_setup "$VANTOREL_ROS2_CORE/local_setup.bash"
  else
    fail "VANTOREL_ROS2_CORE=$VANTOREL_ROS2_CORE holds neither local_setup.bash nor a packed core"
  fi
elif ros2_sourced; then
  core_text="the sourced ROS 2 environment (ROS_DISTRO=${ROS_DISTRO:-unset}, AMENT_PREFIX_PATH=$AMENT_PREFIX_PATH)"
elif ! packed="$(find_packed_core)"; then
  echo "=== real ROS 2 stage skipped: no ROS 2 core (VANTOREL_ROS2_CORE unset, no ROS 2 environment sourced, no shared/ros2-core beside $root or a folder above it)"
  exit 0
fi
if [ -n "$packed" ]; then
  step "real ROS 2 core: unpacking $packed into $stage/core"
  "$packed/setup.sh" "$stage/core"
  core_text="$packed, unpacked into $stage/core"
  source_setup "$stage/core/local_setup.bash"
fi
step "real ROS 2 core: $core_text"

# Debian's ament and rosidl Python modules live in the system interpreter.
export PATH="/usr/bin:$PATH"
cmake_args=(-DVANTOREL_WARNINGS_AS_ERRORS=ON -DVANTOREL_BUILD_BENCHMARKS=ON -DVANTOREL_CHECK_STANDINS=ON
  --no-warn-unused-cli)
[ -x /usr/bin/python3 ] && cmake_args+=(-DPython3_EXECUTABLE=/usr/bin/python3)
if command -v ccache >/dev/null; then
  export CCACHE_DIR="$stage/ccache" CCACHE_BASEDIR="$stage" CCACHE_NOHASHDIR=1
  cmake_args+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
export MAKEFLAGS="-j$jobs"
if [ -z "${RMW_IMPLEMENTATION:-}" ] && on_path rmw_cyclonedds_cpp; then
  export RMW_IMPLEMENTATION=rmw_cyclonedds_cpp
fi
echo "middleware: ${RMW_IMPLEMENTATION:-default of the distribution}"

# --- hiding the Fast-RTPS type supports
is_hidden() {
  local name
  for name in "${hidden_packages[@]}"; do
    [ "$1" = "$name" ] && return 0
  done
  return 1
}

# Links every entry of folder $1 into folder $2, except the hidden packages and the names
# given after the two folders (which the caller fills in itself).
link_entries() {
  local from="$1" to="$2" entry name
  shift 2
  mkdir -p "$to"
  for entry in "$from"/* "$from"/.[!.]*; do
    [ -e "$entry" ] || continue
    name="$(basename "$entry")"
    is_hidden "$name" && continue
    [[ " $* " == *" $name "* ]] && continue
    ln -s "$entry" "$to/$name"
  done
}

# Packages of prefix $1 whose CMake configuration names a hidden package: the interface
# packages, whose Fast-RTPS type supports were generated along with the rest.
packages_needing_hidden() {
  local names
  names="$(IFS='|'; echo "${hidden_packages[*]}")"
  grep -rlE --include='*.cmake' "$names" "$1/share" 2>/dev/null |
    sed -n "s#^$1/share/\([^/]*\)/cmake/.*#\1#p" | sort -u |
    while read -r name; do is_hidden "$name" || echo "$name"; done
}

# Copies the CMake configuration of package $1 of prefix $2 into view $3 as if the package had
# been built without the hidden type supports: their export files are left out, and their
# targets and packages are struck from the lists of exported targets and dependencies. The
# copies still resolve every path to the original prefix, as the linked packages do.
copy_config_without_fastrtps() {
  local name="$1" prefix="$2" view="$3" file item
  link_entries "$prefix/share/$name" "$view/share/$name" cmake
  mkdir -p "$view/share/$name/cmake"
  item='[^";]*(rosidl_typesupport_fastrtps_c|fastrtps_cmake_module)[^";]*'
  for file in "$prefix/share/$name/cmake"/*.cmake; do
    [[ "$(basename "$file")" =~ rosidl_typesupport_fastrtps_c.*Export ]] && continue
    sed -E -e "s#\\$\{CMAKE_CURRENT_LIST_FILE\}#$file#g" \
      -e "s#\\$\{CMAKE_CURRENT_LIST_DIR\}#$prefix/share/$name/cmake#g" \
      -e "s#$item;##g" -e "s#;$item\"#\"#g" -e "s#\"$item\"#\"\"#g" \
      "$file" >"$view/share/$name/cmake/$(basename "$file")"
  done
}

# A view of prefix $1 in folder $2 without the hidden packages: their share/ folders, ament
# index entries and colcon package records are left out, the packages that name them get
# configurations without them, and everything else is linked. Configurations found through
# the view resolve to the original prefix, so both runs compile with the same paths.
make_view_without_fastrtps() {
  local prefix="$1" view="$2" kind name
  local -a rewritten
  mapfile -t rewritten < <(packages_needing_hidden "$prefix")
  link_entries "$prefix" "$view" share
  link_entries "$prefix/share" "$view/share" ament_index colcon-core "${rewritten[@]}"
  for name in "${rewritten[@]}"; do
    copy_config_without_fastrtps "$name" "$prefix" "$view"
  done
  for kind in "$prefix"/share/ament_index/resource_index/*; do
    link_entries "$kind" "$view/share/ament_index/resource_index/$(basename "$kind")"
  done
  if [ -d "$prefix/share/colcon-core" ]; then
    link_entries "$prefix/share/colcon-core" "$view/share/colcon-core" packages
    link_entries "$prefix/share/colcon-core/packages" "$view/share/colcon-core/packages"
  fi
  echo "view without ${hidden_packages[*]}: $view (configurations rewritten: ${rewritten[*]:-none})"
}

# Replaces prefix $1 by $2 in the variables through which CMake, ament and colcon find packages.
swap_prefix() {
  local from="$1" to="$2" var value
  for var in AMENT_PREFIX_PATH CMAKE_PREFIX_PATH COLCON_PREFIX_PATH; do
    value=":${!var:-}:"
    value="${value//:$from:/:$to:}"
    value="${value#:}"
    export "$var=${value%:}"
  done
  value=":$PATH:"
  value="${value//:$from\/bin:/:$to/bin:}"
  value="${value#:}"
  export PATH="${value%:}"
}

hide_fastrtps() {
  local prefix prefixes name n=0 seen=":"
  rm -rf "$stage/views"
  IFS=: read -ra prefixes <<<"${AMENT_PREFIX_PATH:-}:${CMAKE_PREFIX_PATH:-}"
  for prefix in "${prefixes[@]}"; do
    [ -n "$prefix" ] && [[ "$seen" != *":$prefix:"* ]] || continue
    seen+="$prefix:"
    for name in "${hidden_packages[@]}"; do
      if [ -d "$prefix/share/$name" ]; then
        n=$((n + 1))
        make_view_without_fastrtps "$prefix" "$stage/views/$n"
        swap_prefix "$prefix" "$stage/views/$n"
        break
      fi
    done
  done
  [ "$n" -gt 0 ] || fail "found no prefix holding ${hidden_packages[*]}"
}

# --- one workspace
check_installed() {
  local ws="$1" file runpath missing checked=0
  for file in "$ws"/install/*/lib/*.so "$ws"/install/*/lib/*/* "$ws"/install/*/bin/*; do
    [ -f "$file" ] && readelf -h "$file" >/dev/null 2>&1 || continue
    checked=$((checked + 1))
    missing="$(ldd "$file" | grep 'not found' || true)"
    [ -z "$missing" ] || fail "$file does not resolve in the sourced workspace:"$'\n'"$missing"
    runpath="$(readelf -d "$file" | sed -n 's/.*(R\(UN\)\{0,1\}PATH).*\[\(.*\)\]/\2/p')"
    if [ -n "$runpath" ] && [[ "$runpath" != '$ORIGIN' && "$runpath" != '$ORIGIN/../lib' && "$runpath" != '$ORIGIN/../../lib' ]]; then
      fail "$file has the search path $runpath; ROS 2 libraries are found through the sourced environment"
    fi
  done
  [ "$checked" -gt 0 ] || fail "no installed library found in $ws/install"
  echo "$checked installed libraries and programs: every dependency resolves in the sourced workspace, no search path outside the install"
}

run_workspace() {
  # Both runs use one workspace path, so that the second compiles with the same paths and
  # ccache answers for everything the hidden type supports do not change.
  local name="$1" fastrtps_expected="$2" ws="$stage/ws" lib
  rm -rf "$ws"
  mkdir -p "$ws/src"
  ln -s "$root" "$ws/src/$(basename "$root")"
  cd "$ws"
  step "colcon build ($name)"
  local t0
  t0=$(date +%s)
  if ! colcon build --parallel-workers 1 \
    --cmake-args "${cmake_args[@]}"; then
    tail -n 60 log/latest_build/*/stdout_stderr.log >&2 || true
    fail "colcon build failed ($name)"
  fi
  echo "build time ($name): $(($(date +%s) - t0)) s"
  # Plain colcon must have found every package of the repository, and only those.
  local found expected
  found="$(for manifest in install/*/share/*/package.xml; do
    basename "$(dirname "$manifest")"; done | sort | tr '\n' ' ')"
  expected="$(for manifest in "$root"/*/package.xml; do
    basename "$(dirname "$manifest")"; done | sort | tr '\n' ' ')"
  echo "packages built: $found"
  [ "$found" = "$expected" ] || fail "colcon built [$found]; the repository holds [$expected]"

  lib="install/vantorel_base_utils/lib/libvantorel_base_utils__rosidl_typesupport_fastrtps_cpp.so"
  if [ "$fastrtps_expected" = yes ] && [ ! -e "$lib" ]; then
    fail "no Fast-RTPS type support was generated ($name)"
  elif [ "$fastrtps_expected" = no ] && [ -e "$lib" ]; then
    fail "the Fast-RTPS type support packages were not hidden"
  fi

  step "colcon test ($name)"
  colcon test --ctest-args --output-on-failure ||
    fail "colcon test could not run ($name)"
  colcon test-result --verbose || fail "tests failed ($name)"

  step "installed workspace ($name)"
  (
    source_setup install/setup.bash
    check_installed "$ws"
    install/vantorel_base_utils_example/lib/vantorel_base_utils_example/stable_transform_roundtrip
  ) || fail "the installed workspace does not work ($name)"
  cd "$root"
}

if on_path rosidl_typesupport_fastrtps_cpp; then
  (run_workspace "with Fast-RTPS" yes)
  hide_fastrtps
  (run_workspace "introspection only" no)
else
  echo "=== this ROS 2 has no Fast-RTPS type supports: one run, introspection only"
  (run_workspace "introspection only" no)
fi
step "real ROS 2 stage passed in $(($(date +%s) - started)) s"
