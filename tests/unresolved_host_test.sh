#!/usr/bin/env bash
# A ticket transfer on 127.0.0.1 on a host whose name does not resolve: the
# client must take the address its datagrams leave from, and the
# authentication server must put the same one into the ticket. The host is
# made so inside its own mount and UTS namespaces: a host name of its own,
# and a name service that asks only an empty hosts file (never DNS).
#
#   unresolved_host_test.sh AUTHSERVER SERVER CLIENT
set -euo pipefail
skip=77

if ((EUID != 0)); then
  echo "SKIPPED: needs root to make mount and UTS namespaces"
  exit $skip
fi
if [[ ! -f /etc/nsswitch.conf ]]; then
  # Without it the C library would ask DNS for the made-up name.
  echo "SKIPPED: no /etc/nsswitch.conf to replace"
  exit $skip
fi

if ! unshare --mount --uts --propagation private true 2>/dev/null; then
  # In a chroot whose root is no mount point, for one: without a private
  # namespace the mounts below would reach the whole system.
  echo "SKIPPED: no private mount namespace can be made here"
  exit $skip
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/unresolved-XXXXXX")
trap 'rm -rf "$work"' EXIT
echo "hosts: files" >"$work/nsswitch.conf"
: >"$work/hosts"

export AUTHSERVER=$1 SERVER=$2 CLIENT=$3 WORK=$work
TOOLS=$(cd "$(dirname "$0")/.." && pwd)/tools
export TOOLS
unshare --mount --uts --propagation private bash -euo pipefail -c '
  hostname host-without-a-name-entry
  mount --bind "$WORK/nsswitch.conf" /etc/nsswitch.conf
  if [[ -e /etc/hosts ]]; then mount --bind "$WORK/hosts" /etc/hosts; fi
  if getent hosts "$(uname -n)"; then
    echo "FAIL: the host name still resolves"
    exit 1
  fi

  source "$TOOLS/background.sh"
  source "$TOOLS/systems.sh"
  trap bg_stop EXIT
  systems_use_programs "$AUTHSERVER" "$SERVER" "$CLIENT" "" ""
  systems_wait_bound() {
    wait_udp_bound --seconds 20 "$1" && return 0
    echo "FAIL: nothing bound port $1"
    exit 1
  }
  systems_run() {
    local out=$1
    shift
    timeout 60 "$@" >"$out" 2>&1 || true
  }

  head -c 50000 /dev/urandom >"$WORK/sample"
  free_udp_port
  auth_port=$REPLY
  free_udp_port
  server_port=$REPLY
  ticket_servers "$WORK" "$auth_port" "$server_port" "$WORK/sample" 300 -DDEBUG
  ticket_client "$WORK/client.out" 127.0.0.1 "$auth_port" 127.0.0.1 "$server_port" "$WORK/received" alice -DDEBUG

  for name in authserver server client; do echo "--- $name"; cat "$WORK/$name.out"; done
  grep -qx "The local host name has no IPv4 address: using the source address toward the server" "$WORK/client.out"
  # 127.0.0.1 read as a little-endian number.
  grep -qx "local ip address in network byte order = 16777343" "$WORK/client.out"
  grep -q "ticket address 127.0.0.1," "$WORK/authserver.out"
  [[ $(tail -n 1 "$WORK/client.out") == OK ]]
  cmp "$WORK/sample" "$WORK/received"
  echo "passed"
'
