#!/usr/bin/env bash
# Runs every test: the native unit and integration tests under the sanitizers, then the
# Windows builds and the tests that drive them under Wine. One ctest summary per stage.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

jobs=$(nproc)
cmake --preset native-debug >/dev/null
cmake --build --preset native-debug -j "$jobs"
ctest --preset native-debug -j "$jobs"

# The soak of the portable check under valgrind's memcheck, shortened (bench/soak.sh runs the
# full length); valgrind needs a build without the sanitizers. The Debian package is built from
# the same optimised tree and tested as it installs.
cmake --preset native >/dev/null
cmake --build --preset native -j "$jobs" --target brevun-soak brevun-check brevun_check_man
ctest --preset native -L 'soak|package'

# Short fuzz runs of every parser, from the seed corpus in fuzz/corpus.
CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DBREVUN_FUZZ=ON -DBREVUN_TESTS=OFF -DBREVUN_FUZZ_SECONDS="${BREVUN_FUZZ_SECONDS:-60}" >/dev/null
cmake --build build/fuzz -j "$jobs"
ctest --test-dir build/fuzz -L fuzz --output-on-failure

cmake --preset win32 >/dev/null
cmake --build --preset win32 -j "$jobs"
cmake --preset win64 >/dev/null
cmake --build --preset win64 -j "$jobs"

# The Wine tests live in a native configuration of their own that points at the two Windows
# builds; they share one throwaway prefix per run.
cmake -S . -B build/wine -G Ninja -DBREVUN_TESTS=ON -DBREVUN_WINE_TESTS=ON \
  -DBREVUN_WIN32_DIR="$PWD/build/win32" -DBREVUN_WIN64_DIR="$PWD/build/win64" >/dev/null
cmake --build build/wine -j "$jobs"
ctest --test-dir build/wine -L wine --output-on-failure
