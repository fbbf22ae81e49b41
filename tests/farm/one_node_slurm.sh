# A one-node Slurm cluster in a scratch folder, for the farm test and the farm
# benchmark. Source it, then:
#   slurm_start FOLDER CTLD_PORT SLURMD_PORT   starts munged, slurmctld, slurmd;
#                                              exports SLURM_CONF for the clients
#   slurm_stop                                 stops them (safe to call twice)
# Everything lives under FOLDER: its own munge key and socket, state, spool,
# logs. Daemons run as root in the foreground of background jobs, so no
# systemd and no cgroups are needed (proctrack/linuxproc, task/none). The
# daemons listen on 127.0.0.1 only, on the ports given.

SLURM_PIDS=()

# A free loopback TCP port: `want` when it is free, else one the kernel picks.
slurm_free_port() {
  python3 - "$1" <<'PY'
import socket, sys
want = int(sys.argv[1])
for port in (want, 0):
    s = socket.socket()
    try:
        s.bind(("127.0.0.1", port))
        print(s.getsockname()[1])
        break
    except OSError:
        pass
    finally:
        s.close()
PY
}

# True while the process runs (a zombie, which kill -0 still finds, does not).
slurm_running() {
  local state
  state=$(awk '{ print $3 }' "/proc/$1/stat" 2>/dev/null) || return 1
  [ -n "$state" ] && [ "$state" != Z ] && [ "$state" != X ]
}

slurm_start() {
  local dir=$1 ctld_port=$2 slurmd_port=$3 cpus
  cpus=$(nproc)
  rm -rf "$dir" && mkdir -p "$dir"/{state,spool,log,munge,key} || return 1
  chmod 755 "$dir" "$dir/munge" && chmod 700 "$dir/key"
  head -c 1024 /dev/urandom > "$dir/key/munge.key" && chmod 600 "$dir/key/munge.key"
  munged -F --force -S "$dir/munge/munge.sock" --key-file="$dir/key/munge.key" \
    --pid-file="$dir/munge/munged.pid" --log-file="$dir/log/munged.log" --seed-file="$dir/munge/seed" \
    > "$dir/log/munged.out" 2>&1 &
  SLURM_PIDS+=($!)
  cat > "$dir/slurm.conf" <<CONF
ClusterName=tevfarm
SlurmctldHost=localhost(127.0.0.1)
SlurmctldPort=$ctld_port
SlurmdPort=$slurmd_port
CommunicationParameters=NoCtldInAddrAny,NoInAddrAny
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket=$dir/munge/munge.sock
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/slurmctld.pid
SlurmdPidFile=$dir/slurmd.pid
SlurmctldLogFile=$dir/log/slurmctld.log
SlurmdLogFile=$dir/log/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/filetxt
JobCompLoc=$dir/log/jobcomp.txt
SwitchType=switch/none
MpiDefault=none
MailProg=/bin/true
SchedulerParameters=batch_sched_delay=0
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
KillWait=40
ReturnToService=2
NodeName=farmnode NodeHostname=localhost NodeAddr=127.0.0.1 CPUs=$cpus State=UNKNOWN
PartitionName=farm Nodes=farmnode Default=YES MaxTime=INFINITE State=UP
CONF
  export SLURM_CONF=$dir/slurm.conf
  local i
  for ((i = 0; i < 50; i++)); do [ -S "$dir/munge/munge.sock" ] && break; sleep 0.1; done
  [ -S "$dir/munge/munge.sock" ] || { echo "munged did not start: $(cat "$dir/log/munged.out" "$dir/log/munged.log" 2>/dev/null)" >&2; return 1; }
  slurmctld -D -c -f "$SLURM_CONF" > "$dir/log/slurmctld.out" 2>&1 &
  SLURM_PIDS+=($!)
  slurmd -D -f "$SLURM_CONF" -N farmnode > "$dir/log/slurmd.out" 2>&1 &
  SLURM_PIDS+=($!)
  local state=""
  for ((i = 0; i < 300; i++)); do
    state=$(sinfo -h -n farmnode -o %t 2>/dev/null)
    [ "$state" = idle ] && return 0
    sleep 0.1
  done
  echo "the one-node cluster did not become idle (node state '$state'); logs in $dir/log:" >&2
  tail -n 5 "$dir"/log/*.log >&2
  return 1
}

slurm_stop() {
  local pid i
  for pid in "${SLURM_PIDS[@]}"; do kill -TERM "$pid" 2>/dev/null; done
  for pid in "${SLURM_PIDS[@]}"; do
    for ((i = 0; i < 50; i++)); do slurm_running "$pid" || break; sleep 0.1; done
    slurm_running "$pid" && kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  SLURM_PIDS=()
}
