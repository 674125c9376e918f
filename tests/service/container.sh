# shellcheck shell=bash
# A Debian 12 container whose PID 1 is systemd, for checks that need a real
# service manager: sourced, never run. Needs root, systemd-nspawn (package
# systemd-container), mmdebstrap and nsenter.
#
#   container_root TAR PACKAGES...   makes the root as TAR unless it is there
#   container_boot TAR DIR NAME      extracts TAR into DIR and boots it; sets
#                                    container_leader (systemd's PID)
#   container_run CMD...             runs CMD inside (every namespace)
#   container_stop                   powers it off and removes what it left
#   container_sweep PREFIX           removes what containers named PREFIX-PID
#                                    left when their run (PID) was killed
#
# Every wait is bounded; container_stop is safe to call at any point, more
# than once, and should be the caller's EXIT trap.

container_nspawn_pid=     # the nspawn process, while it runs
container_leader=         # systemd inside, PID 1 of the container
container_name=
container_cgroup=         # our own cgroup, under both hierarchies
container_lock=           # nspawn's lock file for the root folder

# container_alive PID: PID runs (a zombie does not).
container_alive() {
  local state
  state=$(sed -n 's/^State:[[:space:]]*\([A-Z]\).*/\1/p' "/proc/$1/status" 2>/dev/null)
  [[ -n $state && $state != Z ]]
}

# container_lock_of DIR: the lock file nspawn keeps for a root folder while
# it runs; a killed nspawn leaves it behind.
container_lock_of() {
  local id
  id=$(stat -c '%d:%i' "$1" 2>/dev/null) && echo "/run/systemd/nspawn/locks/inode-$id"
}

# container_root TAR PACKAGES...: a minimal Debian 12 root holding PACKAGES,
# as a tarball; made once (about two minutes) and kept.
container_root() {
  local tar=$1 include
  shift
  [[ -s $tar ]] && return 0
  mkdir -p "$(dirname "$tar")"
  include=$(IFS=,; echo "$*")
  # mmdebstrap writes a tarball for a name ending in .tar, a folder otherwise.
  mmdebstrap --variant=minbase --quiet --include="$include" bookworm "${tar%.tar}.part.tar" ||
    { rm -rf "${tar%.tar}.part.tar"; return 1; }
  mv "${tar%.tar}.part.tar" "$tar"
}

# container_in_cgroup: moves the calling shell into the container's cgroup,
# so that nspawn and everything it starts land there and nowhere else.
container_in_cgroup() {
  local hierarchy
  for hierarchy in systemd unified; do
    [[ -d /sys/fs/cgroup/$hierarchy ]] || continue
    mkdir -p "/sys/fs/cgroup/$hierarchy/$container_cgroup"
    echo "$BASHPID" >"/sys/fs/cgroup/$hierarchy/$container_cgroup/cgroup.procs"
  done
}

# container_boot TAR DIR NAME [LOG]: boots the root of TAR, extracted into DIR,
# as machine NAME with a network of its own (loopback only). Waits up to 60 s
# until systemd inside says it is running (or degraded). Fails when it does
# not boot.
container_boot() {
  local tar=$1 dir=$2 log=${4:-/dev/null} state
  container_name=$3
  container_cgroup=$container_name
  mkdir -p "$dir"
  container_lock=$(container_lock_of "$dir")
  tar -xf "$tar" -C "$dir" || return 1
  (
    container_in_cgroup
    exec systemd-nspawn -q -D "$dir" -M "$container_name" -b --register=no --keep-unit --console=passive \
      --private-network
  ) >"$log" 2>&1 </dev/null &
  container_nspawn_pid=$!
  # systemd is a descendant of nspawn; its /run is seen through its own root.
  for _ in $(seq 300); do
    [[ -n $container_leader ]] || container_leader=$(container_descendant "$container_nspawn_pid" systemd)
    [[ -n $container_leader && -S /proc/$container_leader/root/run/systemd/private ]] && break
    kill -0 "$container_nspawn_pid" 2>/dev/null || return 1
    sleep 0.1
  done
  [[ -S /proc/$container_leader/root/run/systemd/private ]] || return 1
  state=$(container_run timeout 60 systemctl is-system-running --wait 2>/dev/null) || true
  [[ $state == running || $state == degraded ]]
}

# container_descendant PID COMM: the first descendant of PID named COMM.
container_descendant() {
  local child found
  for child in $(pgrep -P "$1" 2>/dev/null); do
    if [[ $(cat "/proc/$child/comm" 2>/dev/null) == "$2" ]]; then
      echo "$child"
      return
    fi
    found=$(container_descendant "$child" "$2")
    [[ -n $found ]] && { echo "$found"; return; }
  done
}

# container_run CMD...: CMD inside the container, in all its namespaces.
container_run() {
  nsenter -t "$container_leader" -a "$@"
}

# container_sweep PREFIX: for each cgroup of a container named PREFIX-PID
# whose run PID has ended without cleaning up (killed by a time-out, say):
# kills what is left in it and removes it, as container_stop would have.
container_sweep() {
  local group name
  for group in /sys/fs/cgroup/systemd/"$1"-* /sys/fs/cgroup/unified/"$1"-*; do
    [[ -d $group ]] || continue
    name=$(basename "$group")
    container_alive "${name##*-}" && continue
    (container_cgroup=$name container_name=$name && container_stop)
  done
}

# container_stop: asks systemd inside to power off and waits up to 15 s for
# nspawn to end, then kills whatever is left in the container's cgroup, and
# removes the cgroup folders and nspawn's run-time files for the machine.
container_stop() {
  local hierarchy pid
  if [[ -n $container_nspawn_pid ]]; then
    if [[ -n $container_leader ]]; then
      container_run systemctl --no-block poweroff >/dev/null 2>&1 || true
    fi
    for _ in $(seq 150); do kill -0 "$container_nspawn_pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$container_nspawn_pid" 2>/dev/null || true
    wait "$container_nspawn_pid" 2>/dev/null || true
    container_nspawn_pid=
    container_leader=
  fi
  [[ -n $container_cgroup ]] || return 0
  for hierarchy in systemd unified; do
    [[ -d /sys/fs/cgroup/$hierarchy/$container_cgroup ]] || continue
    # Processes left in any group below ours: killed by their PIDs.
    while read -r pid; do
      kill -KILL "$pid" 2>/dev/null || true
    done < <(find "/sys/fs/cgroup/$hierarchy/$container_cgroup" -name cgroup.procs -exec cat {} + 2>/dev/null)
    # Killed processes leave their groups only once reaped.
    for _ in $(seq 150); do
      find "/sys/fs/cgroup/$hierarchy/$container_cgroup" -depth -type d -exec rmdir {} \; 2>/dev/null || true
      [[ -d /sys/fs/cgroup/$hierarchy/$container_cgroup ]] || break
      sleep 0.1
    done
  done
  rm -rf "/run/systemd/nspawn/propagate/$container_name" "/run/systemd/nspawn/unix-export/$container_name"
  [[ -n ${container_lock:-} ]] && rm -f "$container_lock"
  rmdir /run/systemd/nspawn/propagate /run/systemd/nspawn/unix-export /run/systemd/nspawn/locks /run/systemd/nspawn \
    2>/dev/null || true
  container_cgroup=
}
