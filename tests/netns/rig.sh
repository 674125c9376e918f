# shellcheck shell=bash disable=SC2016
# The network rig: "hosts" made of network namespaces joined by veth pairs,
# sourced by the scripts that run programs between them. Needs root, iproute2
# and util-linux (unshare).
#
#   rig_two_hosts           serverhost 198.18.0.1 -- clienthost 198.18.0.2
#   rig_three_hosts         serverhost 198.18.1.1 -- router 198.18.1.254
#                           router 198.18.2.254 -- clienthost 198.18.2.1
#   rig_run HOST CMD...     runs CMD on HOST, in the foreground
#   rig_start HOST OUT CMD... starts CMD on HOST in the background, output to
#                           OUT; its PID is in rig_pid
#   rig_wait_bound HOST PORT waits until a UDP socket on HOST has bound PORT
#
# The systems of tools/systems.sh run their servers on $rig_servers_on and
# their clients on $rig_clients_on, each client bounded by
# $rig_client_seconds.
#
# A script calls rig_begin first: it skips the script (status 77) without
# root, and arranges the clean-up; $rig_work is a scratch directory.
#
# Every host has its own host name (each command runs in a UTS namespace of
# its own with that name set) and its own /etc/hosts, /etc/nsswitch.conf and
# /etc/resolv.conf, which `ip netns exec` mounts from /etc/netns/NAMESPACE/.
# The hosts files map each host name to the host's address on the shared
# link, as a careful set-up of two machines does; the resolver looks at files
# only, and no host has a link out of the rig, so no name lookup or datagram
# ever leaves the machine. Every interface lives inside a namespace (each
# host's is eth0), so deleting the namespaces removes every link, address,
# route and queueing discipline with them.
#
# Namespace names carry the PID of the script that made them, so concurrent
# runs never meet. rig_cleanup (on every exit of the script, by trap) stops
# the programs started, and anything else still running inside the
# namespaces, and removes what this run made. A run killed outright leaves
# its namespaces behind; the next run removes those whose PID is gone, with
# whatever still runs inside them.

# shellcheck source=../../tools/background.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../tools/background.sh"
# shellcheck source=../../tools/systems.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../tools/systems.sh"

rig_prefix=ftrig
rig_id=$rig_prefix$$
rig_namespaces=()
rig_pid=
rig_work=
declare -A rig_ns_of=()
rig_skip=77

# Exits with the skip status and the reason when the rig cannot be built.
rig_require() {
  if [[ $(id -u) != 0 ]]; then
    echo "SKIPPED: needs root to make network namespaces"
    exit "$rig_skip"
  fi
  if [[ ! -e /etc/hosts ]]; then
    echo "SKIPPED: no /etc/hosts for each host's own hosts file to be mounted over"
    exit "$rig_skip"
  fi
  local tool
  for tool in ip unshare hostname; do
    if ! command -v "$tool" >/dev/null; then
      echo "SKIPPED: needs $tool (iproute2, util-linux, hostname)"
      exit "$rig_skip"
    fi
  done
}

# Removes the namespaces, and their /etc/netns directories, of earlier runs
# whose script is no longer running.
rig_sweep() {
  local ns pid dir
  while read -r ns _; do
    [[ $ns =~ ^${rig_prefix}([0-9]+)[a-z]$ ]] || continue
    pid=${BASH_REMATCH[1]}
    [[ $pid == "$$" ]] && continue
    kill -0 "$pid" 2>/dev/null && continue
    rig_remove "$ns"
  done < <(ip netns list)
  for dir in /etc/netns/"$rig_prefix"*; do
    [[ -d $dir && ${dir##*/} =~ ^${rig_prefix}([0-9]+)[a-z]$ ]] || continue
    pid=${BASH_REMATCH[1]}
    [[ $pid == "$$" ]] && continue
    kill -0 "$pid" 2>/dev/null || rm -rf "$dir"
  done
  rmdir /etc/netns 2>/dev/null || true
}

# rig_remove NS: ends whatever still runs inside the namespace (programs that
# a started shell put in the background), then deletes it.
rig_remove() {
  local pid
  for pid in $(ip netns pids "$1" 2>/dev/null); do
    kill -KILL "$pid" 2>/dev/null || true
  done
  ip netns del "$1" 2>/dev/null || true
  rm -rf "/etc/netns/$1"
}

# Stops the programs and removes the hosts, so that a script can build the
# rig afresh for its next run.
rig_teardown() {
  local ns
  # Every program started on a host, each by its PID.
  bg_stop
  for ns in "${rig_namespaces[@]}"; do
    rig_remove "$ns"
  done
  rig_namespaces=()
  rig_ns_of=()
  rmdir /etc/netns 2>/dev/null || true
}

rig_cleanup() {
  rig_teardown
  [[ -n $rig_work ]] && rm -rf "$rig_work"
  rig_work=
}

# Makes the namespaces of the hosts, each with loopback up and its files.
# Arguments: host names; the hosts file lines come from rig_hosts_lines.
rig_make_hosts() {
  local host ns
  for host in "$@"; do
    ns=$rig_id${host:0:1}
    rig_ns_of[$host]=$ns
    rig_namespaces+=("$ns")
    ip netns add "$ns"
    ip -n "$ns" link set lo up
    mkdir -p "/etc/netns/$ns"
    printf '127.0.0.1 localhost\n%s' "$rig_hosts_lines" >"/etc/netns/$ns/hosts"
    # `ip netns exec` can mount a file only over one that exists, and warns
    # on the programs' output otherwise.
    [[ -e /etc/nsswitch.conf ]] && printf 'hosts: files\n' >"/etc/netns/$ns/nsswitch.conf"
    [[ -e /etc/resolv.conf ]] && : >"/etc/netns/$ns/resolv.conf"
  done
}

# rig_link HOST_A ADDR_A HOST_B ADDR_B IF_A IF_B: a veth pair between two
# hosts, with the addresses (CIDR) on each end, both ends up.
rig_link() {
  local a=${rig_ns_of[$1]} b=${rig_ns_of[$3]}
  ip -n "$a" link add "$5" type veth peer name "$6" netns "$b"
  ip -n "$a" addr add "$2" dev "$5"
  ip -n "$b" addr add "$4" dev "$6"
  ip -n "$a" link set "$5" up
  ip -n "$b" link set "$6" up
}

rig_two_hosts() {
  rig_hosts_lines=$'198.18.0.1 serverhost\n198.18.0.2 clienthost\n'
  rig_make_hosts serverhost clienthost
  rig_link serverhost 198.18.0.1/24 clienthost 198.18.0.2/24 eth0 eth0
}

rig_three_hosts() {
  rig_hosts_lines=$'198.18.1.1 serverhost\n198.18.2.1 clienthost\n198.18.1.254 router\n'
  rig_make_hosts serverhost router clienthost
  rig_link serverhost 198.18.1.1/24 router 198.18.1.254/24 eth0 toserver
  rig_link clienthost 198.18.2.1/24 router 198.18.2.254/24 eth0 toclient
  ip netns exec "${rig_ns_of[router]}" sh -c 'echo 1 >/proc/sys/net/ipv4/ip_forward'
  ip -n "${rig_ns_of[serverhost]}" route add default via 198.18.1.254
  ip -n "${rig_ns_of[clienthost]}" route add default via 198.18.2.254
}

# rig_ip HOST ARGS...: runs `ip ARGS...` inside the host.
rig_ip() {
  local ns=${rig_ns_of[$1]}
  shift
  ip -n "$ns" "$@"
}

# rig_tc HOST ARGS...: runs `tc ARGS...` inside the host.
rig_tc() {
  local ns=${rig_ns_of[$1]}
  shift
  ip netns exec "$ns" tc "$@"
}

rig_run() {
  local host=$1
  shift
  ip netns exec "${rig_ns_of[$host]}" unshare --uts sh -c 'hostname "$0" && exec "$@"' "$host" "$@"
}

# Each step execs the next, so the PID is that of the program itself.
rig_start() {
  local host=$1 output=$2
  shift 2
  bg_start "$output" ip netns exec "${rig_ns_of[$host]}" unshare --uts sh -c 'hostname "$0" && exec "$@"' "$host" "$@"
  # shellcheck disable=SC2034 # read by the scripts that source the rig
  rig_pid=$REPLY
}

# rig_wait_bound HOST PORT [PID]: waits up to 10 s until a UDP socket on HOST
# has bound PORT; fails early when PID (a program started there) has ended.
rig_wait_bound() {
  local status=0 pid=()
  [[ -n ${3:-} ]] && pid=(--pid "$3")
  wait_udp_bound "${pid[@]}" --netns "${rig_ns_of[$1]}" "$2" || status=$?
  case $status in
    0) return 0 ;;
    1) echo "the program for port $2 on $1 ended" >&2 ;;
    *) echo "nothing bound port $2 on $1 within 10 s" >&2 ;;
  esac
  return 1
}

rig_servers_on=serverhost
rig_clients_on=clienthost
rig_client_seconds=120
systems_start() { rig_start "$rig_servers_on" "$@"; }
systems_wait_bound() { rig_wait_bound "$rig_servers_on" "$1" "$2"; }
systems_run() {
  local out=$1
  shift
  rig_run "$rig_clients_on" timeout "$rig_client_seconds" "$@" >"$out" 2>"$out.err" || true
}

# rig_wait_line FILE LINE [SECONDS]: waits until FILE holds LINE, by default
# up to 20 s.
rig_wait_line() { wait_line "$1" "$2" 1 "${3:-20}"; }

# True when no namespace or /etc/netns directory of this run is left.
rig_clean() {
  ! ip netns list | grep -q "^$rig_id" && ! compgen -G "/etc/netns/$rig_id*" >/dev/null
}

rig_begin() {
  rig_require
  rig_sweep
  trap rig_cleanup EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  rig_work=$(mktemp -d "${TMPDIR:-/tmp}/netns-rig-XXXXXX")
}
