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
# full length); valgrind needs a build without the sanitizers.
cmake --preset native >/dev/null
cmake --build --preset soak -j "$jobs"
ctest --preset soak

# Short fuzz runs of every parser, from the seed corpus in fuzz/corpus.
cmake --preset fuzz -DBREVUN_FUZZ_SECONDS="${BREVUN_FUZZ_SECONDS:-60}" >/dev/null
cmake --build --preset fuzz -j "$jobs"
ctest --preset fuzz

cmake --preset win32 >/dev/null
cmake --build --preset win32 -j "$jobs"
cmake --preset win64 >/dev/null
cmake --build --preset win64 -j "$jobs"

# The Wine tests live in a native configuration of their own that points at the two Windows
# builds; they share one throwaway prefix per run.
cmake --preset wine >/dev/null
cmake --build --preset wine -j "$jobs"
ctest --preset wine
