# Shared by the shell tests that run real daemons (Icinga 2, Prometheus, node_exporter) inside
# a process and network namespace of the test's own, so that they reach only the loopback
# servers the test starts and end with it.
#
#   requires COMMAND...              SKIP (exit 77) unless root and every COMMAND is there
#   isolate LIMIT SCRIPT ARGS...     outside: runs SCRIPT again in namespaces of its own for at
#                                    most LIMIT seconds and exits with it; inside: returns
#   wait_until SECONDS COMMAND...    COMMAND every half second until it succeeds

requires() {
  local missing="" c
  [ "$(id -u)" -eq 0 ] || missing=" root"
  for c in unshare "$@"; do
    command -v "$c" >/dev/null || [ -x "$c" ] || missing="$missing $c"
  done
  if [ -n "$missing" ]; then
    echo "SKIP: needs$missing"
    exit 77
  fi
}

isolate() {
  [ "${BREVUN_ISOLATED:-}" = 1 ] && return 0
  local limit=$1; shift
  # The namespace's first process is the test script; when it ends, the kernel ends every
  # process left in the namespace (daemons fork helpers of their own), and --kill-child ends it
  # if the time bound ends unshare first. The mount namespace keeps the test's mounts its own.
  BREVUN_ISOLATED=1 exec timeout "$limit" \
    unshare --net --pid --fork --mount-proc --kill-child bash "$@"
}

wait_until() {
  local deadline=$((SECONDS + $1)); shift
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.5
  done
}
