# shellcheck shell=bash
# Helpers for the scripts that run the programs: sourced, never run. They
# start programs in the background and end them again by their own PIDs, hand
# out free UDP ports, and wait, always with a deadline, for a port to be bound
# or a line to be printed.
#
#   bg_start OUT CMD...      starts CMD with its standard output in OUT and its
#                            standard error in OUT.err; REPLY is its PID
#   bg_stop [PID...]         ends the given started programs (default: all)
#   free_udp_port            REPLY is a UDP port that nothing has bound
#   wait_udp_bound [--pid PID] [--seconds N] [--netns NS] PORT
#                            waits until a socket is bound to the UDP port
#   wait_line FILE LINE [COUNT] [SECONDS]
#                            waits until FILE holds COUNT lines equal to LINE
#
# The functions print nothing: each script says in its own words what went
# wrong.

bg_started=()           # PIDs started by bg_start and not yet reaped
free_udp_ports_given=" " # ports free_udp_port has handed out in this run

# Now, in microseconds.
bg_now() { echo "${EPOCHREALTIME/./}"; }

# bg_start OUT CMD...: starts CMD in the background, output and errors to
# OUT, input from /dev/null. REPLY is its PID (that of CMD itself when CMD
# ends in an exec).
bg_start() {
  local out=$1
  shift
  # Apart: callers compare what a program prints with what it must print,
  # and its standard error is for people.
  "$@" >"$out" 2>"$out.err" </dev/null &
  REPLY=$!
  bg_started+=("$REPLY")
}

# bg_forget PID: takes PID off the list once its process is reaped, so that a
# PID the system has handed out again is never signalled.
bg_forget() {
  local pid kept=()
  for pid in "${bg_started[@]}"; do [[ $pid == "$1" ]] || kept+=("$pid"); done
  bg_started=("${kept[@]}")
}

# bg_stop [PID...]: asks each started program to end, gives it a second, then
# kills and reaps it. Without arguments: every program still on the list.
bg_stop() {
  local pid
  (($#)) || set -- "${bg_started[@]}"
  for pid in "$@"; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in "$@"; do
    for _ in {1..50}; do kill -0 "$pid" 2>/dev/null || break; sleep 0.02; done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    bg_forget "$pid"
  done
}

# udp_port_bound PORT [NS]: true when some socket (IPv4 or IPv6) is bound to
# the UDP port, on this host or inside network namespace NS.
udp_port_bound() {
  local run=()
  [[ -n ${2:-} ]] && run=(ip netns exec "$2")
  "${run[@]}" awk -v h="$(printf '%04X' "$1")" \
    'FNR > 1 { split($2, a, ":"); if (a[2] == h) bound = 1 } END { exit !bound }' /proc/net/udp /proc/net/udp6 \
    2>/dev/null
}

# free_udp_port: REPLY is a UDP port that nothing has bound and that this run
# has not handed out before. It lies below the system's ephemeral range (32768
# and up), so no client socket can be numbered with it before its server
# binds it, and below the ports the program tests hand out (20000 and up).
free_udp_port() {
  local port
  for _ in {1..200}; do
    port=$((10000 + RANDOM % 10000))
    [[ $free_udp_ports_given == *" $port "* ]] && continue
    udp_port_bound "$port" && continue
    free_udp_ports_given+="$port "
    REPLY=$port
    return 0
  done
  return 1
}

# wait_udp_bound [--pid PID] [--seconds N] [--netns NS] PORT: waits up to N
# seconds (10) until a socket is bound to the UDP port. Returns 0 when one
# is, 1 as soon as PID (the program expected to bind it) has ended, 2 when
# the deadline passed.
wait_udp_bound() {
  local pid="" seconds=10 netns="" deadline
  while (($# > 1)); do
    case $1 in
      --pid) pid=$2 ;;
      --seconds) seconds=$2 ;;
      --netns) netns=$2 ;;
    esac
    shift 2
  done
  deadline=$(($(bg_now) + seconds * 1000000))
  until udp_port_bound "$1" "$netns"; do
    if [[ -n $pid ]] && ! kill -0 "$pid" 2>/dev/null; then return 1; fi
    (($(bg_now) < deadline)) || return 2
    sleep 0.05
  done
}

# wait_line FILE LINE [COUNT] [SECONDS]: waits up to SECONDS (10) until FILE
# holds COUNT (1) lines equal to LINE.
wait_line() {
  local count deadline
  deadline=$(($(bg_now) + ${4:-10} * 1000000))
  while :; do
    count=$(grep -cx -- "$2" "$1" 2>/dev/null) || true
    ((${count:-0} >= ${3:-1})) && return 0
    (($(bg_now) < deadline)) || return 1
    sleep 0.05
  done
}
