#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Installs the Debian packages that building, testing, benchmarking and fuzzing need.
# Idempotent: returns at once when everything is present.
#
# --bench (or VANTOREL_BENCH_PEERS=1) also installs the peer libraries the benchmarks compare
# against (OpenCV's rgbd module, Open3D, the inflaters ISA-L and libspng). The library and its
# tests never need them.
set -euo pipefail

with_bench_peers="${VANTOREL_BENCH_PEERS:-0}"
for arg in "$@"; do
  case "$arg" in
    --bench) with_bench_peers=1 ;;
    *) echo "install_deps: unknown argument $arg" >&2; exit 2 ;;
  esac
done

packages=(
  build-essential cmake git
  # ROS 2 build tooling and runtimes that Debian 12 ships
  ament-cmake ament-cmake-ros ament-cmake-googletest
  rosidl-cmake rosidl-generator-c-cpp python3-rosidl
  librosidl-runtime-c-cpp-dev librosidl-typesupport-interface-dev
  librosidl-typesupport-introspection-c-cpp-dev
  librcutils-dev librcpputils-dev libament-index-cpp-dev
  # libraries
  nlohmann-json3-dev libyaml-cpp-dev libglpk-dev libopencv-dev libeigen3-dev libdeflate-dev
  libpng-dev
  # tests, benchmarks, sanitizers and fuzzing; ccache for the real-ROS 2 stage's second build
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev libfuzzer-14-dev clang-format ccache
)
if [ "$with_bench_peers" = 1 ]; then
  packages+=(libopencv-contrib-dev libopen3d-dev libisal-dev libspng-dev)
fi

missing=()
for pkg in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$pkg")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install_deps: all ${#packages[@]} packages present"
  exit 0
fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
echo "install_deps: installing ${missing[*]}"
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
