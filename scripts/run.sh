#!/usr/bin/env bash
# The main job: builds brevun and runs one check with the local clock on both sides.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset native >/dev/null
cmake --build --preset native -j "$(nproc)"
./build/native/cli/brevun-check --parameter '#FTS=#FPR=local#STS=#SPR=local#DIS=0#'
