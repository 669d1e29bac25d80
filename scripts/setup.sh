#!/usr/bin/env bash
# Installs every Debian package that the builds and tests need. Does nothing when all are present.
#
# Mirrors have bad days: an index mid-sync, security updates for amd64 that their i386 twins
# do not have yet. The script rides them out: it asks for the indexes again, carries on with
# those it got, and when multi-arch pairs of unequal versions break the install it installs
# from the release itself (its codename, from /etc/os-release). APT's own words are shown
# whenever it fails.
set -euo pipefail

pkgs=(
  cmake ninja-build g++ clang libgtest-dev libgmock-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools
  wine wine64 wine32:i386 libwine-dev
  xvfb x11-utils imagemagick fonts-wine
  chrony openbsd-inetd rdate tzdata
  fp-utils zip unzip python3 valgrind dpkg-dev iproute2
  icinga2-bin monitoring-plugins-basic groff-base curl
  wixl msitools
  lintian devscripts
  libgnutls28-dev nettle-dev gnutls-bin openssl ca-certificates faketime
  libcap2-bin libbsd0 libcap2 libssl3
  prometheus prometheus-node-exporter python3-prometheus-client
)

# Tests of this script put stand-ins for apt-get and dpkg first in PATH and name their own
# files here.
os_release=${BREVUN_OS_RELEASE:-/etc/os-release}
policy_rc=${BREVUN_POLICY_RC:-/usr/sbin/policy-rc.d}
update_tries=${BREVUN_APT_UPDATE_TRIES:-3}
retry_pause=${BREVUN_APT_RETRY_PAUSE:-10}

# ntpsec's ntpd, for the tests that read a daemon through NTP mode 6. Its package conflicts with
# chrony's, so it is never installed: its files are unpacked into a folder of their own, and the
# tests run that ntpd from there (its libraries are the ones listed above).
ntpsec_dir=${BREVUN_NTPSEC_DIR:-/var/cache/brevun/ntpsec}

unpack_ntpsec() {
  [ -x "$ntpsec_dir/usr/sbin/ntpd" ] && return 0
  echo "setup: unpacking ntpsec into $ntpsec_dir" >&2
  mkdir -p "$ntpsec_dir"
  rm -f "$ntpsec_dir"/ntpsec_*.deb
  if ! (cd "$ntpsec_dir" && apt-get download -qq ntpsec) >&2 ||
     ! dpkg -x "$ntpsec_dir"/ntpsec_*.deb "$ntpsec_dir" >&2; then
    echo "setup: ntpsec could not be unpacked; the tests that need it will skip" >&2
    return 0
  fi
  rm -f "$ntpsec_dir"/ntpsec_*.deb
}

missing=()
for p in "${pkgs[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  unpack_ntpsec
  exit 0
fi

echo "setup: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
log=$(mktemp "${TMPDIR:-/tmp}/brevun-setup.XXXXXX")
added_i386=""
own_policy=""
installed=""

finish() {
  # Leave the machine as it was where this script changed it and did not get its packages.
  if [ -n "$own_policy" ]; then rm -f "$policy_rc"; fi
  if [ -n "$added_i386" ] && [ -z "$installed" ]; then
    echo "setup: removing the i386 architecture again (this script added it)" >&2
    dpkg --remove-architecture i386 || true
  fi
  rm -f "$log"
}
trap finish EXIT

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  added_i386=yes
fi

# apt-get update exits 100 both when nothing could be read and when a single index was
# mid-sync; it keeps what it got either way. Ask again a few times, then carry on: the install
# below says clearly if something it needs is missing.
updated=""
for try in $(seq "$update_tries"); do
  if apt-get update -qq >"$log" 2>&1; then
    updated=yes
    break
  fi
  echo "setup: apt-get update failed (attempt $try of $update_tries):" >&2
  grep -E '^(E|W):' "$log" >&2 || cat "$log" >&2
  [ "$try" -lt "$update_tries" ] && sleep "$retry_pause"
done
[ -n "$updated" ] || echo "setup: carrying on with the package indexes that could be read" >&2

# The daemons are started by the tests themselves, on their own ports; keep the packaged
# services from starting on install. A policy the machine already has is left as it is (it
# is somebody's, and most likely says the same).
if [ ! -e "$policy_rc" ]; then
  printf '#!/bin/sh\nexit 101\n' >"$policy_rc"
  chmod +x "$policy_rc"
  own_policy=yes
fi

install() {
  apt-get install -y -qq --no-install-recommends "$@" "${missing[@]}" >"$log" 2>&1
}

if install; then
  installed=yes
else
  echo "setup: apt-get install failed:" >&2
  cat "$log" >&2
  # amd64 packages from the security updates beside i386 twins that only the release has: a
  # multi-arch pair must have one version, so take both from the release.
  codename=$(. "$os_release" && echo "${VERSION_CODENAME:-}")
  if [ -n "$codename" ] && grep -qE 'held broken packages|unmet dependencies|Depends:|Breaks:' "$log"; then
    echo "setup: trying again with the release '$codename' as the target" >&2
    if install -t "$codename"; then
      installed=yes
    else
      cat "$log" >&2
    fi
  fi
fi
[ -n "$installed" ] || { echo "setup: the packages could not be installed" >&2; exit 1; }
unpack_ntpsec
echo "setup: done" >&2
