#!/usr/bin/env bash
# The full test suite: installs dependencies, then builds and tests the package twice
# (a normal build with warnings as errors, including the install-and-consume check, and an
# AddressSanitizer + UndefinedBehaviorSanitizer build).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_root="${VANTOREL_BUILD_ROOT:-$root/build}"
jobs="${VANTOREL_JOBS:-$(nproc)}"

"$root/scripts/install_deps.sh"

step() { printf '\n=== %s\n' "$*"; }

build_and_test() {
  local name="$1"
  shift
  local dir="$build_root/$name"
  step "configure $name"
  cmake -S "$root" -B "$dir" -DVANTOREL_WARNINGS_AS_ERRORS=ON "$@"
  step "build $name"
  cmake --build "$dir" --parallel "$jobs"
  step "test $name"
  ctest --test-dir "$dir" --output-on-failure --parallel "$jobs"
}

build_and_test release -DCMAKE_BUILD_TYPE=RelWithDebInfo
build_and_test sanitize -DCMAKE_BUILD_TYPE=Debug -DVANTOREL_SANITIZERS=address,undefined \
  -DVANTOREL_BUILD_BENCHMARKS=OFF
