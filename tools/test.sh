#!/bin/sh
# Builds intsum with its tests and benchmarks (the release preset) and runs
# the whole test suite, getting the libraries it lacks by itself:
# - with apt-get, the Debian packages libgtest-dev and libbenchmark-dev, and
#   dpkg-dev and file for `cmake --workflow --preset package` (through sudo
#   when not root);
# - elsewhere, or if that fails, CMake downloads GoogleTest 1.12.1 and Google
#   Benchmark 1.7.1, pinned by hash, into the build tree.
set -eu
cd "$(dirname "$0")/.."

packages="libgtest-dev libbenchmark-dev dpkg-dev file"
if command -v apt-get >/dev/null 2>&1 && command -v dpkg-query >/dev/null 2>&1; then
  missing=
  for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
  done
  if [ -n "$missing" ]; then
    if [ "$(id -u)" -eq 0 ]; then
      as_root=
    elif command -v sudo >/dev/null 2>&1; then
      as_root=sudo
    else
      as_root=none
    fi
    if [ "$as_root" = none ]; then
      echo "not root and no sudo: not installing$missing; CMake downloads what the tests need"
    else
      echo "installing$missing"
      # shellcheck disable=SC2086 # word splitting wanted
      { $as_root apt-get update -q &&
        $as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $missing </dev/null; } ||
        echo "apt-get failed; CMake downloads what the tests need"
    fi
  fi
fi

# Further arguments go to CMake: CI adds -DINTSUM_WERROR=ON.
cmake --preset release -DINTSUM_TESTS=ON -DINTSUM_BENCH=ON "$@"
cmake --build --preset release
ctest --preset release
