# shellcheck shell=bash
# Starting the two systems as the scripts run them: sourced, never run, after
# tools/background.sh. The sample keys live here, and one function per step:
#
#   ticket_servers DIR AUTH_PORT SERVER_PORT INPUT [AUTHSERVER_ARG...]
#       starts authserver (the sample keys, server ID fileserver, then the
#       given arguments), waits until it has bound its port, then does the
#       same for server, serving INPUT. Output in DIR/authserver.out and
#       DIR/server.out, PIDs in auth_pid and server_pid (empty for one not
#       started). False as soon as one has not bound its port.
#   ticket_client OUT AUTH_HOST AUTH_PORT SERVER_HOST SERVER_PORT RECEIVED CLIENT_ID [ARG...]
#       runs the client to its end with the sample client key and server ID
#       fileserver, its output in OUT.
#   password_server DIR PORT PASSWORD INPUT [ARG...]
#       starts passfeed and waits until it has bound its port. Output in
#       DIR/passfeed.out, PID in feed_pid.
#   password_client OUT HOST PORT PASSWORD1 PASSWORD2 PASSWORD3 RECEIVED [ARG...]
#       runs passfetch to its end, its output in OUT.
#
# The programs are the commands in the arrays authserver_cmd, server_cmd,
# client_cmd, passfeed_cmd and passfetch_cmd (systems_use_build and
# systems_use_programs fill them). Where and how they run is for the calling
# script to say, by defining any of these after sourcing this file:
#
#   systems_start OUT CMD...        starts a server in the background, its
#                                   output in OUT and its PID in REPLY
#   systems_wait_bound PORT PID OUT waits until the server PID has bound PORT
#   systems_run OUT CMD...          runs a client to its end, output in OUT
#                                   (the default ignores its exit status)
#
# By default the programs run on this host, and a server gets 10 s to bind.

# Sample keys for tests and demonstrations: odd parity in every byte, neither
# of them weak.
sample_client_key=133457799BBCDFF1
sample_server_key=0E329232EA6D0D73
# The server ID that the sample authserver issues tickets for.
sample_server_id=fileserver

authserver_cmd=() server_cmd=() client_cmd=() passfeed_cmd=() passfetch_cmd=()

# systems_use_programs AUTHSERVER SERVER CLIENT PASSFEED PASSFETCH: the
# programs' paths (an empty one for a system the script does not run).
systems_use_programs() {
  authserver_cmd=("$1") server_cmd=("$2") client_cmd=("$3") passfeed_cmd=("$4") passfetch_cmd=("$5")
}

# systems_use_build BUILD: the programs of a build directory.
systems_use_build() {
  systems_use_programs "$1/authserver/authserver" "$1/server/server" "$1/client/client" "$1/passfeed/passfeed" \
    "$1/passfetch/passfetch"
}

systems_start() { bg_start "$@"; }
systems_wait_bound() { wait_udp_bound --pid "$2" "$1"; }
systems_run() {
  local out=$1
  shift
  "$@" >"$out" 2>&1 || true
}

ticket_servers() {
  local dir=$1 auth_port=$2 server_port=$3 input=$4
  shift 4
  auth_pid='' server_pid=''
  systems_start "$dir/authserver.out" "${authserver_cmd[@]}" "$auth_port" "$sample_client_key" \
    "$sample_server_key" "$sample_server_id" "$@"
  auth_pid=$REPLY
  systems_wait_bound "$auth_port" "$auth_pid" "$dir/authserver.out" || return 1
  systems_start "$dir/server.out" "${server_cmd[@]}" "$server_port" "$sample_server_key" "$input"
  server_pid=$REPLY
  systems_wait_bound "$server_port" "$server_pid" "$dir/server.out"
}

ticket_client() {
  local out=$1 auth_host=$2 auth_port=$3 server_host=$4 server_port=$5 received=$6 client_id=$7
  shift 7
  systems_run "$out" "${client_cmd[@]}" "$auth_host" "$auth_port" "$sample_client_key" "$server_host" \
    "$server_port" "$received" "$client_id" "$sample_server_id" "$@"
}

password_server() {
  local dir=$1 port=$2 password=$3 input=$4
  shift 4
  systems_start "$dir/passfeed.out" "${passfeed_cmd[@]}" "$port" "$password" "$input" "$@"
  feed_pid=$REPLY
  systems_wait_bound "$port" "$feed_pid" "$dir/passfeed.out"
}

password_client() {
  local out=$1
  shift
  systems_run "$out" "${passfetch_cmd[@]}" "$@"
}
