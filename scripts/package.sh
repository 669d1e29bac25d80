#!/usr/bin/env bash
# Builds the Debian package of brevun-check (the plugin, its manual page and the Icinga 2 and
# Nagios definitions) from the native preset and prints its path.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset native >/dev/null
cmake --build --preset native -j "$(nproc)" --target brevun-check brevun_check_man brevun_check_changelog >/dev/null
rm -f build/native/package/brevun-check_*.deb
(cd build/native && cpack --config CPackConfig.cmake >/dev/null)
ls build/native/package/brevun-check_*.deb
