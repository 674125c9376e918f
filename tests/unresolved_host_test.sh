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
unshare --mount --uts --propagation private bash -euo pipefail -c '
  hostname host-without-a-name-entry
  mount --bind "$WORK/nsswitch.conf" /etc/nsswitch.conf
  if [[ -e /etc/hosts ]]; then mount --bind "$WORK/hosts" /etc/hosts; fi
  if getent hosts "$(uname -n)"; then
    echo "FAIL: the host name still resolves"
    exit 1
  fi

  started=()
  cleanup() {
    local pid
    for pid in "${started[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  }
  trap cleanup EXIT

  # A UDP port below the ephemeral range that nothing has bound.
  free_port() {
    local port
    while :; do
      port=$((10000 + RANDOM % 10000))
      awk -v h="$(printf "%04X" "$port")" "FNR > 1 { split(\$2, a, \":\"); if (a[2] == h) b = 1 } END { exit b }" \
        /proc/net/udp && { echo "$port"; return; }
    done
  }
  wait_bound() {
    local hex tries
    hex=$(printf "%04X" "$1")
    for ((tries = 0; tries < 400; tries++)); do
      awk -v h="$hex" "FNR > 1 { split(\$2, a, \":\"); if (a[2] == h) b = 1 } END { exit !b }" /proc/net/udp &&
        return 0
      sleep 0.05
    done
    echo "FAIL: nothing bound port $1"
    exit 1
  }

  head -c 50000 /dev/urandom >"$WORK/sample"
  auth_port=$(free_port)
  "$AUTHSERVER" "$auth_port" 133457799BBCDFF1 0E329232EA6D0D73 fileserver 300 -DDEBUG >"$WORK/authserver.out" 2>&1 &
  started+=("$!")
  wait_bound "$auth_port"
  server_port=$(free_port)
  "$SERVER" "$server_port" 0E329232EA6D0D73 "$WORK/sample" >"$WORK/server.out" 2>&1 &
  started+=("$!")
  wait_bound "$server_port"
  timeout 60 "$CLIENT" 127.0.0.1 "$auth_port" 133457799BBCDFF1 127.0.0.1 "$server_port" "$WORK/received" alice \
    fileserver -DDEBUG >"$WORK/client.out" 2>&1 || true

  for name in authserver server client; do echo "--- $name"; cat "$WORK/$name.out"; done
  grep -qx "The local host name has no IPv4 address: using the source address toward the server" "$WORK/client.out"
  # 127.0.0.1 read as a little-endian number.
  grep -qx "local ip address in network byte order = 16777343" "$WORK/client.out"
  grep -q "ticket address 127.0.0.1," "$WORK/authserver.out"
  [[ $(tail -n 1 "$WORK/client.out") == OK ]]
  cmp "$WORK/sample" "$WORK/received"
  echo "passed"
'
