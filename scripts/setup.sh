#!/usr/bin/env bash
# Installs every Debian package that the builds and tests need. Does nothing when all are present.
set -euo pipefail

pkgs=(
  cmake ninja-build g++ clang libgtest-dev libgmock-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools
  wine wine64 wine32:i386 libwine-dev
  xvfb x11-utils imagemagick fonts-wine
  chrony openbsd-inetd rdate tzdata
  fp-utils zip unzip python3 valgrind dpkg-dev iproute2
  icinga2-bin monitoring-plugins-basic groff-base
  wixl msitools
)

missing=()
for p in "${pkgs[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}" >&2
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
# The daemons are started by the tests themselves, on their own ports; keep the packaged
# services from starting on install.
printf '#!/bin/sh\nexit 101\n' > /usr/sbin/policy-rc.d
chmod +x /usr/sbin/policy-rc.d
trap 'rm -f /usr/sbin/policy-rc.d' EXIT
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
