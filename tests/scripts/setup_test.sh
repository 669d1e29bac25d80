#!/usr/bin/env bash
# scripts/setup.sh on a mirror's bad days, without root and without apt: stand-ins for apt-get,
# dpkg and dpkg-query first in PATH fail the way mirrors make them fail, each case from a fresh
# state, and the table says what the script must do about it.
# Usage: setup_test.sh [SETUP.SH]
set -u
here=$(cd "$(dirname "$0")" && pwd)
setup=${1:-$here/../../scripts/setup.sh}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passes=0; fails=0
pass() { passes=$((passes + 1)); echo "ok   $*"; }
fail() { fails=$((fails + 1)); echo "FAIL $*"; }

# One stand-in for all three, by the name it is called under. Each call is logged to
# $STATE/calls; apt-get takes the outcome of each update and install from the front of its
# queue ($STATE/update, $STATE/install: one word a call, the last one repeated).
mkdir -p "$work/bin"
cat >"$work/bin/stand-in" <<'SH'
#!/bin/sh
name=${0##*/}
echo "$name $*" >>"$STATE/calls"
next() {  # the first word of queue $1, which stays when it is the last
  word=$(head -n1 "$STATE/$1")
  [ "$(wc -l <"$STATE/$1")" -gt 1 ] && sed -i 1d "$STATE/$1"
  echo "$word"
}
case "$name $1" in
  "dpkg-query -W") [ -e "$STATE/all-installed" ] && printf 'install ok installed'
                   [ -e "$STATE/all-installed" ] ;;
  "dpkg --print-foreign-architectures") [ -e "$STATE/i386" ] && echo i386; exit 0 ;;
  "dpkg --add-architecture") touch "$STATE/i386" ;;
  "dpkg --remove-architecture") rm -f "$STATE/i386" ;;
  "apt-get update")
    [ "$(next update)" = ok ] && exit 0
    echo "E: Failed to fetch http://mirror.invalid/debian-security/dists/stable-security/main/binary-i386/Packages.xz  File has unexpected size (27120 != 27004). Mirror sync in progress?" >&2
    echo "E: Some index files failed to download. They have been ignored, or old ones used instead." >&2
    exit 100 ;;
  "apt-get install")
    # The policy in force while packages are installed: its checksum and what it answers.
    if [ -x "$BREVUN_POLICY_RC" ]; then
      "$BREVUN_POLICY_RC" chrony start; answer=$?
      echo "$(md5sum <"$BREVUN_POLICY_RC" | cut -c1-32) $answer"
    else echo none; fi >>"$STATE/policy-seen"
    case $(next install) in
      ok) exit 0 ;;
      broken)
        echo "The following packages have unmet dependencies:"
        echo " libgnutls30:i386 : Depends: libnettle8:i386 (= 3.8.1-2) but 3.8.1-2+deb12u1 is to be installed"
        echo "E: Unable to correct problems, you have held broken packages." >&2
        exit 100 ;;
    esac ;;
  "apt-get download") touch "$PWD/ntpsec_1.2_amd64.deb" ;;
  "dpkg -x") mkdir -p "$3/usr/sbin" && printf '#!/bin/sh\n' >"$3/usr/sbin/ntpd" && chmod +x "$3/usr/sbin/ntpd" ;;
  *) echo "stand-in: unexpected call: $name $*" >&2; exit 99 ;;
esac
SH
chmod +x "$work/bin/stand-in"
for tool in apt-get dpkg dpkg-query; do ln -s stand-in "$work/bin/$tool"; done
printf 'ID=debian\nVERSION_CODENAME=bookworm\n' >"$work/os-release"
user_policy=$work/user-policy
printf '#!/bin/sh\n# the site keeps its own services down\nexit 101\n' >"$user_policy"

# name | i386 before | policy before | update outcomes | install outcomes |
#   exit | updates | last install's target | i386 after | on standard error ("-": nothing)
cases=$(cat <<'TABLE'
nothing missing              | no  | none | ok       | ok        | 0 | 0 | -        | no  | -
update fails, then succeeds  | no  | none | fail ok  | ok        | 0 | 2 | none     | yes | Mirror sync in progress
update keeps failing         | no  | none | fail     | ok        | 0 | 3 | none     | yes | carrying on with the package indexes
held broken, then release    | no  | none | ok       | broken ok | 0 | 1 | bookworm | yes | you have held broken packages
fails for good, i386 added   | no  | none | ok       | broken    | 1 | 1 | bookworm | no  | libgnutls30:i386 : Depends: libnettle8:i386
fails for good, i386 was on  | yes | user | ok       | broken    | 1 | 1 | bookworm | yes | you have held broken packages
user's policy kept           | no  | user | ok       | ok        | 0 | 1 | none     | yes | ^setup: done
TABLE
)
trim() { local v=$1; v=${v#"${v%%[![:space:]]*}"}; echo "${v%"${v##*[![:space:]]}"}"; }

while IFS='|' read -r name i386 policy updates installs want_rc want_updates want_target want_i386 want_err; do
  name=$(trim "$name"); i386=$(trim "$i386"); policy=$(trim "$policy"); want_rc=$(trim "$want_rc")
  want_updates=$(trim "$want_updates"); want_target=$(trim "$want_target")
  want_i386=$(trim "$want_i386"); want_err=$(trim "$want_err")
  state=$work/state-${name// /-}; mkdir -p "$state"
  [ "$i386" = yes ] && touch "$state/i386"
  # A case that wants no update is the one where every package is there.
  [ "$want_updates" -eq 0 ] && touch "$state/all-installed"
  printf '%s\n' $updates >"$state/update"
  printf '%s\n' $installs >"$state/install"
  # ntpsec already unpacked: the table is about the packages.
  mkdir -p "$state/ntpsec/usr/sbin" && printf '#!/bin/sh\n' >"$state/ntpsec/usr/sbin/ntpd"
  chmod +x "$state/ntpsec/usr/sbin/ntpd"
  policy_file=$state/policy-rc.d
  if [ "$policy" = user ]; then cp "$user_policy" "$policy_file"; chmod 750 "$policy_file"; fi

  STATE=$state BREVUN_POLICY_RC=$policy_file BREVUN_OS_RELEASE=$work/os-release \
    BREVUN_APT_UPDATE_TRIES=3 BREVUN_APT_RETRY_PAUSE=0 PATH=$work/bin:$PATH TMPDIR=$state \
    BREVUN_NTPSEC_DIR=$state/ntpsec bash "$setup" >"$state/out" 2>"$state/err"
  rc=$?
  problems=()
  [ "$rc" -eq "$want_rc" ] || problems+=("exit $rc, wanted $want_rc")
  got=$(grep -c '^apt-get update' "$state/calls" 2>/dev/null)
  [ "${got:-0}" -eq "$want_updates" ] || problems+=("${got:-0} updates, wanted $want_updates")
  # Only the last install (the retry, if any) may name a target release.
  installs_made=$(grep '^apt-get install' "$state/calls" 2>/dev/null)
  last=$(printf '%s\n' "$installs_made" | tail -n1)
  target=none; [[ "$last" =~ \ -t\ ([^ ]+) ]] && target=${BASH_REMATCH[1]}
  [ -z "$installs_made" ] && target=-
  [ "$target" = "$want_target" ] || problems+=("last install's target $target, wanted $want_target")
  printf '%s\n' "$installs_made" | head -n -1 | grep -q -- ' -t ' && problems+=("a target before the retry")
  have_i386=no; [ -e "$state/i386" ] && have_i386=yes
  [ "$have_i386" = "$want_i386" ] || problems+=("i386 at the end: $have_i386, wanted $want_i386")
  [ "$i386" = yes ] && grep -q -- '--remove-architecture' "$state/calls" &&
    problems+=("removed an i386 architecture it had not added")
  if [ "$want_err" = - ]; then
    [ -s "$state/err" ] && problems+=("wrote to standard error")
  else
    grep -Eq -- "$want_err" "$state/err" || problems+=("standard error lacks '$want_err'")
  fi
  # Packaged services stay down during every install, under the user's policy or the script's
  # own (which refuses with 101), and only the user's is left behind, byte for byte.
  if [ "$policy" = user ]; then
    want_seen="$(md5sum <"$user_policy" | cut -c1-32) 101"
    cmp -s "$user_policy" "$policy_file" && [ "$(stat -c %a "$policy_file")" = 750 ] ||
      problems+=("the user's policy-rc.d was changed or removed")
  else
    want_seen=".* 101"
    [ -e "$policy_file" ] && problems+=("the script's own policy-rc.d was left behind")
  fi
  [ -e "$state/policy-seen" ] && grep -Evqx -- "$want_seen" "$state/policy-seen" &&
    problems+=("an install ran under another policy: $(tr '\n' ' ' <"$state/policy-seen")")
  if [ ${#problems[@]} -eq 0 ]; then
    pass "$name"
  else
    fail "$name: $(IFS=';'; echo "${problems[*]}")"
    sed 's/^/    | /' "$state/err"
  fi
done <<<"$cases"

# ntpsec's ntpd is unpacked (never installed: its package conflicts with chrony's) when it is
# missing, even with every package present, and left alone once it is there.
state=$work/state-ntpsec
mkdir -p "$state"
touch "$state/all-installed"
for run in first second; do
  : >"$state/calls"
  STATE=$state BREVUN_POLICY_RC=$state/policy-rc.d BREVUN_OS_RELEASE=$work/os-release \
    PATH=$work/bin:$PATH TMPDIR=$state BREVUN_NTPSEC_DIR=$state/ntpsec \
    bash "$setup" >"$state/out" 2>"$state/err"
  rc=$?
  unpacked=$(grep -cE '^(apt-get download .*ntpsec|dpkg -x .*ntpsec_.*\.deb )' "$state/calls")
  want=2; [ "$run" = second ] && want=0
  if [ "$rc" -eq 0 ] && [ "$unpacked" -eq "$want" ] && [ -x "$state/ntpsec/usr/sbin/ntpd" ] &&
     [ -z "$(ls "$state/ntpsec"/*.deb 2>/dev/null)" ]; then
    pass "ntpsec unpacked, $run run ($unpacked calls)"
  else
    fail "ntpsec unpacked, $run run: exit $rc, $unpacked calls (wanted $want): $(cat "$state/calls" "$state/err")"
  fi
done
echo "$passes passed, $fails failed"
[ "$fails" -eq 0 ]
