# A Slurm cluster of several nodes on one machine, for the cluster test and
# the farm benchmark. Source it, then:
#
#   cluster_start FOLDER PREFIX NODES CPUS PORT MAKER
#       starts the cluster; FOLDER holds its settings, state and logs
#       (short: munge's socket name must fit a socket address), PREFIX names
#       the cluster (its namespaces' holders, its state file in /tmp), NODES
#       nodes of CPUS CPUs each, Slurm's daemons
#       on PORT (slurmctld) and PORT+1 (every slurmd); MAKER is the plug-in's
#       fixed maker folder, which each node sees as a folder of its own
#       (cluster_maker K, created empty: lay out what the node runs there
#       before its first job, e.g. with DESTDIR=$(cluster_root K)); status
#       2 when its namespaces or links cannot be made here, 1 for other failures
#   cluster_root K          the folder that stands for / when node K's maker
#                           folder is laid out (K = ctl: the controller's)
#   cluster_maker K         node K's maker folder: cluster_root K + MAKER
#   cluster_ctl CMD...      runs CMD in the controller's namespace, where the
#                           Slurm commands reach the controller
#   cluster_on K CMD...     runs CMD in node K's network namespace with its
#                           maker folder (K = ctl: the controller's), outside
#                           Slurm: a render there is a local render on the node;
#                           with CLUSTER_CGROUP set to a cgroup's folder, CMD
#                           joins that cgroup (the slurmds started meanwhile
#                           too, and so everything they start), for its CPU time
#   cluster_start_node K    starts node K's slurmd again (after a kill)
#   cluster_node_pids K     the processes of node K
#   cluster_kill_node K     kills every process of node K at once (SIGKILL):
#                           its slurmd, its tasks, its server
#   cluster_stop            stops every process of the cluster's namespaces,
#                           which then go with their links (safe to call twice)
#   cluster_clear PREFIX    the same for a cluster a killed run left behind
#
# Each network namespace lives as long as a holder process in it (a sleep
# named tev-cluster-PREFIX-NAME, listed with its pid in the state file), so
# that nothing is mounted for it and nothing outlives the cluster's
# processes. What lives where (K = 1..NODES), nothing in the machine's own
# network:
#   ctl  network namespace of the controller: munged, slurmctld, the
#        bridge br0 at 10.200.0.1/24, one veth end per node in br0;
#        the Slurm commands and the submission run here
#   nK   network namespace of node K: lo (127.0.0.1, where the node's
#        processing server listens on the plug-in's fixed port) and
#        eth0 at 10.200.0.(10+K)/24, the veth's other end; slurmd -N nK
#        runs in a private mount namespace in which cluster_maker K
#        is bind-mounted onto MAKER, so its tasks and the server their
#        plug-in launches see that node's folder
# The daemons run as root in the foreground of background jobs (no systemd,
# no cgroups: proctrack/linuxproc, task/none). Storage is shared: every node
# sees the machine's files, MAKER aside.

CLUSTER_DIR="" CLUSTER_PREFIX="" CLUSTER_NODES=0 CLUSTER_MAKER="" CLUSTER_PIDS=()
declare -A CLUSTER_HOLDER=()

cluster_state_file() { echo "${TMPDIR:-/tmp}/tev-cluster-$1.holders"; }
# The file of namespace $1 (ctl, n1, n2, ...), for nsenter.
cluster_netns() { echo "/proc/${CLUSTER_HOLDER[$1]}/ns/net"; }
cluster_ctl() { nsenter --net="$(cluster_netns ctl)" "$@"; }
cluster_root() { case "$1" in ctl) echo "$CLUSTER_DIR/roots/ctl" ;; *) echo "$CLUSTER_DIR/roots/n$1" ;; esac; }
cluster_maker() { echo "$(cluster_root "$1")$CLUSTER_MAKER"; }

# CMD in a namespace of node $1 (or ctl) with that node's maker folder over the
# fixed path, in a mount namespace of its own: nothing of it reaches the machine's.
cluster_on() {
  local k=$1 ns
  shift
  ns=$([ "$k" = ctl ] && echo ctl || echo "n$k")
  nsenter --net="$(cluster_netns "$ns")" unshare -m --propagation private \
    sh -c '{ [ -z "$3" ] || echo $$ > "$3/cgroup.procs"; } && mount --bind "$1" "$2" && shift 3 && exec "$@"' \
    sh "$(cluster_maker "$k")" "$CLUSTER_MAKER" "${CLUSTER_CGROUP:-}" "$@"
}

cluster_start_node() {
  cluster_on "$1" slurmd -D -f "$SLURM_CONF" -N "n$1" > "$CLUSTER_DIR/log/slurmd.n$1.out" 2>&1 &
  CLUSTER_PIDS+=($!)
}

# True while the process runs (a zombie, which kill -0 still finds, does not).
cluster_running() {
  local state
  state=$(awk '{ print $3 }' "/proc/$1/stat" 2>/dev/null) || return 1
  [ -n "$state" ] && [ "$state" != Z ] && [ "$state" != X ]
}

# The processes in the network namespace that process $1 is in.
cluster_pids_beside() {
  local ns
  ns=$(readlink "/proc/$1/ns/net" 2>/dev/null) || return 0
  find /proc/[0-9]*/ns/net -maxdepth 0 -lname "net:?${ns//[^0-9]/}?" 2>/dev/null | cut -d/ -f3
}
# Node $1's processes, its namespace's holder left out.
cluster_node_pids() {
  local holder=${CLUSTER_HOLDER[n$1]} pid
  for pid in $(cluster_pids_beside "$holder"); do [ "$pid" = "$holder" ] || echo "$pid"; done
}

# Kills (SIGKILL) the processes that `list` prints, again until none is
# left (a process may fork while a round goes on).
cluster_kill_all() {
  local what=$1 pids round
  shift
  for ((round = 0; round < 50; round++)); do
    pids=$("$@")
    [ -z "$pids" ] && return 0
    kill -KILL $pids 2>/dev/null
    sleep 0.1
  done
  echo "cluster: processes of $what outlived SIGKILL: $("$@" | tr '\n' ' ')" >&2
  return 1
}
cluster_kill_node() { cluster_kill_all "node n$1" cluster_node_pids "$1"; }

# The holders of a cluster's namespaces, from its state file: those still
# running under their name (a pid taken by another process since is left alone).
cluster_holders() {
  local prefix=$1 name pid state
  state=$(cluster_state_file "$prefix")
  [ -f "$state" ] || return 0
  while read -r name pid; do
    [ "$(tr '\0' '\n' < "/proc/$pid/cmdline" 2>/dev/null | head -n 1)" = "tev-cluster-$prefix-$name" ] && echo "$pid"
  done < "$state"
}
cluster_clear() {
  local prefix=$1 holder holders
  holders=$(cluster_holders "$prefix")
  if [ -n "$holders" ]; then
    # The daemons first (SIGTERM: they save their state and go), then the rest.
    for holder in $holders; do kill -TERM $(cluster_pids_beside "$holder" | grep -vx "$holder") 2>/dev/null; done
    sleep 0.3
    for holder in $holders; do
      cluster_kill_all "the namespace of $holder" eval "cluster_pids_beside $holder | grep -vx $holder"
    done
    # With its last process, each namespace goes, and its links with it
    # (holders this shell started are reaped here; bash's notes left out).
    { kill -KILL $holders; for holder in $holders; do wait "$holder"; done; } 2>/dev/null
  fi
  rm -f "$(cluster_state_file "$prefix")"
}

cluster_stop() {
  [ -n "$CLUSTER_PREFIX" ] || return 0
  cluster_clear "$CLUSTER_PREFIX"
  # The processes started here are this shell's children, so their pids are
  # still theirs: any left is killed, and each is reaped, not left a zombie.
  local pid
  # (bash's notes of jobs ended by a signal are left out)
  {
    for pid in "${CLUSTER_PIDS[@]}"; do cluster_running "$pid" && kill -KILL "$pid"; done
    for pid in "${CLUSTER_PIDS[@]}"; do wait "$pid"; done
  } 2>/dev/null
  CLUSTER_PREFIX="" CLUSTER_PIDS=() CLUSTER_HOLDER=()
}

# A network namespace named $1 (ctl, nK) for the cluster, held by a sleeping process.
cluster_add_ns() {
  local name=$1 pid i
  # Deaf to the signals that stop a test (a watchdog's TERM to the test's
  # children), so that the clean-up still finds the namespace through it.
  unshare --net bash -c 'trap "" TERM INT HUP; exec -a "$0" sleep infinity' "tev-cluster-$CLUSTER_PREFIX-$name" &
  pid=$!
  CLUSTER_PIDS+=($pid)
  echo "$name $pid" >> "$(cluster_state_file "$CLUSTER_PREFIX")"
  for ((i = 0; i < 100; i++)); do
    if [ "$(readlink "/proc/$pid/ns/net")" != "$(readlink /proc/$$/ns/net)" ]; then
      CLUSTER_HOLDER[$name]=$pid
      return 0
    fi
    cluster_running "$pid" || break
    sleep 0.05
  done
  echo "cluster: cannot make a network namespace (unshare --net)" >&2
  return 1
}
cluster_ip() { local name=$1; shift; cluster_do nsenter --net="$(cluster_netns "$name")" ip "$@"; }

# A step of the set-up that must work; says which one failed.
cluster_do() { "$@" || { echo "cluster: failed: $*" >&2; return 1; }; }

cluster_start() {
  local dir=$1 prefix=$2 nodes=$3 cpus=$4 port=$5 maker=$6 k i
  CLUSTER_DIR=$dir CLUSTER_PREFIX=$prefix CLUSTER_NODES=$nodes CLUSTER_MAKER=$maker
  cluster_clear "$prefix"
  rm -rf "$dir" && mkdir -p "$dir"/{state,log,munge,key} "$(cluster_maker ctl)" || return 1
  chmod 755 "$dir" "$dir/munge" && chmod 700 "$dir/key"
  head -c 1024 /dev/urandom > "$dir/key/munge.key" && chmod 600 "$dir/key/munge.key"
  mkdir -p "$maker" || return 1

  cluster_add_ns ctl || return 2
  cluster_ip ctl link set lo up || return 2
  cluster_ip ctl link add br0 type bridge || return 2
  cluster_ip ctl addr add 10.200.0.1/24 dev br0 || return 2
  cluster_ip ctl link set br0 up || return 2
  for ((k = 1; k <= nodes; k++)); do
    mkdir -p "$dir/spool-n$k" "$(cluster_maker "$k")"
    cluster_add_ns "n$k" || return 2
    # Made inside the controller's namespace, its peer moved straight into the node's.
    cluster_ip ctl link add "v$k" type veth peer name eth0 netns "${CLUSTER_HOLDER[n$k]}" || return 2
    cluster_ip ctl link set "v$k" master br0 up || return 2
    cluster_ip "n$k" link set lo up || return 2
    cluster_ip "n$k" addr add "10.200.0.$((10 + k))/24" dev eth0 || return 2
    cluster_ip "n$k" link set eth0 up || return 2
  done

  local host node_list partitions=""
  host=$(hostname -s)
  node_list="n[1-$nodes]"
  for ((k = 1; k <= nodes; k++)); do
    partitions+="PartitionName=nodes$k Nodes=n[1-$k] Default=$([ $k = "$nodes" ] && echo YES || echo NO) MaxTime=INFINITE State=UP"$'\n'
  done
  cat > "$dir/slurm.conf" <<CONF
ClusterName=tevcluster
SlurmctldHost=$host(10.200.0.1)
SlurmctldPort=$port
SlurmdPort=$((port + 1))
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$dir/munge/munge.sock,cred_expire=${CLUSTER_CRED_EXPIRE:-10}
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool-%n
SlurmctldPidFile=$dir/slurmctld.pid
SlurmdPidFile=$dir/slurmd.%n.pid
SlurmctldLogFile=$dir/log/slurmctld.log
SlurmdLogFile=$dir/log/slurmd.%n.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/filetxt
JobCompLoc=$dir/log/jobcomp.txt
SwitchType=switch/none
MpiDefault=none
MailProg=/bin/true
SchedulerParameters=batch_sched_delay=0,sched_interval=${CLUSTER_SCHED_INTERVAL:-5},bf_interval=${CLUSTER_SCHED_INTERVAL:-5}
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
KillWait=40
SlurmdTimeout=${CLUSTER_SLURMD_TIMEOUT:-10}
ReturnToService=0
NodeName=DEFAULT CPUs=$cpus State=UNKNOWN
$(for ((k = 1; k <= nodes; k++)); do echo "NodeName=n$k NodeHostname=n$k NodeAddr=10.200.0.$((10 + k))"; done)
$partitions
CONF
  export SLURM_CONF=$dir/slurm.conf

  cluster_ctl munged -F --force -S "$dir/munge/munge.sock" --key-file="$dir/key/munge.key" \
    --pid-file="$dir/munge/munged.pid" --log-file="$dir/log/munged.log" --seed-file="$dir/munge/seed" \
    > "$dir/log/munged.out" 2>&1 &
  CLUSTER_PIDS+=($!)
  for ((i = 0; i < 50; i++)); do [ -S "$dir/munge/munge.sock" ] && break; sleep 0.1; done
  [ -S "$dir/munge/munge.sock" ] ||
    { echo "cluster: munged did not start: $(cat "$dir/log/munged.out" "$dir/log/munged.log" 2>/dev/null)" >&2; return 1; }
  cluster_ctl slurmctld -D -c -f "$SLURM_CONF" > "$dir/log/slurmctld.out" 2>&1 &
  CLUSTER_PIDS+=($!)
  # Each slurmd sees its node's maker folder, and so does everything it
  # starts (the mount namespace is inherited): tasks, plug-ins, servers.
  for ((k = 1; k <= nodes; k++)); do cluster_start_node "$k"; done
  local state=""
  for ((i = 0; i < 300; i++)); do
    state=$(cluster_ctl sinfo -h -p "nodes$nodes" -o %t 2>/dev/null | sort -u | tr '\n' ' ')
    [ "$state" = "idle " ] && return 0
    sleep 0.1
  done
  echo "cluster: the nodes did not become idle (states: '$state'); logs in $dir/log:" >&2
  tail -n 5 "$dir"/log/*.log "$dir"/log/*.out >&2
  return 1
}
