#!/usr/bin/env bash
# The farm rows of `make bench`: one clip rendered through tev-farm-submit on
# a Slurm cluster of three one-CPU nodes on this machine (the cluster test's,
# tests/farm/multi_node_slurm.sh: each node in namespaces of its own, with
# its own processing server on its own loopback), beside one local tev-host
# run: seconds from submission to the job's verdict and the nodes' CPU time
# per frame, with one task on each of 1, 2 and 3 nodes, then what a further
# task and a job cost on their own (4 frames in 1 and in 4 tasks, 1 frame). Every node's server is started before the
# clock runs, as a node service would be.
set -uo pipefail

while [ $# -gt 0 ]; do
  case "$1" in
    --tev-host) TEV_HOST=$2 ;; --plugin) PLUGIN=$2 ;; --sample-clip) SAMPLE_CLIP=$2 ;;
    --submit) SUBMIT=$2 ;; --maker) MAKER=$2 ;; --port) PORT=$2 ;; --work) WORK=$2 ;;
    --install-script) INSTALL_SCRIPT=$2 ;; --frames) FRAMES=$2 ;; --size) SIZE=$2 ;;
    *) echo "farm_bench.sh: unknown option $1" >&2; exit 1 ;;
  esac
  shift 2
done
FRAMES=${FRAMES:-24} SIZE=${SIZE:-1920x1080}
NODES=3
source "$(cd "$(dirname "$0")" && pwd)/../tests/farm/multi_node_slurm.sh"

for tool in munged slurmctld slurmd sbatch squeue sinfo ip nsenter unshare; do
  command -v "$tool" >/dev/null || { echo "farm bench: skipped, $tool is not installed (scripts/install-deps.sh)"; exit 0; }
done
[ "$(id -u)" = 0 ] || { echo "farm bench: skipped, the cluster's namespaces and daemons need root"; exit 0; }

# The nodes' CPU time (every slurmd and all it starts: tasks, plug-ins,
# servers) and the local run's, from cgroups of the bench's own where the
# cpuacct controller can be used: on a loaded machine the seconds are noise,
# CPU time is not.
cg=/sys/fs/cgroup/cpuacct/tev-bench-$PORT
[ -d "$cg" ] && rmdir "$cg/nodes" "$cg/local" "$cg" 2>/dev/null
mkdir -p "$cg/nodes" "$cg/local" 2>/dev/null || cg=""
cpu_ns() { if [ -n "$cg" ]; then cat "$cg/$1/cpuacct.usage"; else echo 0; fi; }

cluster=""
# The cluster's logs stay with the bench's files.
trap 'cluster_stop; [ -n "$cluster" ] && cp -r "$cluster/log" "$WORK/slurm-log" 2>/dev/null && rm -rf "$cluster"
      [ -n "$cg" ] && rmdir "$cg/nodes" "$cg/local" "$cg" 2>/dev/null' EXIT
trap 'exit 143' INT TERM

rm -rf "$WORK" && mkdir -p "$WORK" || exit 1
cluster=$(mktemp -d /tmp/tev-bench.XXXXXX) || exit 1  # munge's socket name must stay short
CLUSTER_CGROUP=${cg:+$cg/nodes}
if ! cluster_start "$cluster" "tevb$PORT" $NODES 1 $((PORT + 1)) "$MAKER" > "$WORK/cluster.txt" 2>&1; then
  echo "farm bench: skipped, the cluster did not start (namespaces?):"
  tail -n 5 "$WORK/cluster.txt"
  exit 0
fi
for k in ctl $(seq $NODES); do
  DESTDIR=$(cluster_root $k) cmake -P "$INSTALL_SCRIPT" > /dev/null || exit 1
done
"$SAMPLE_CLIP" "$WORK/clip" --frames "$FRAMES" --size "$SIZE" > /dev/null || exit 1
settings=(--set Brightness=1.15 --set Contrast=1.3 --set Saturation=1.6)
clip=(--in "$WORK/clip/png8/clip_%04d.png")

# Every node's server (and the controller's, for the local run) starts here,
# with one frame that is not timed.
for k in ctl $(seq $NODES); do
  [ $k = ctl ] && CLUSTER_CGROUP=${cg:+$cg/local} || CLUSTER_CGROUP=${cg:+$cg/nodes}
  cluster_on $k "$TEV_HOST" render "$PLUGIN" "${clip[@]}" --out "$WORK/warm$k/o_%04d.png" --frames 1 "${settings[@]}" \
    --no-progress > "$WORK/warm$k.txt" 2>&1 || { echo "farm bench: node $k's first frame failed:"; cat "$WORK/warm$k.txt"; exit 1; }
done

now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.2f", b - a }'; }
calc() { awk "BEGIN { printf \"%.2f\", $1 }"; }
# row RUN NODES TASKS FRAMES SECONDS CPU_NS
row() {
  local cpu=-
  [ -n "$cg" ] && cpu=$(calc "$6 / 1e9 / $4")
  printf '    %-46s %5s %5s %6s %8s %8s %11s\n' "$1" "$2" "$3" "$4" "$5" "$(calc "$4 / $5")" "$cpu"
}
# job NAME NODES TASKS [render options]: sets took (seconds from submission
# to the verdict) and cpu (the nodes' CPU nanoseconds meanwhile).
job() {
  local name=$1 nodes=$2 tasks=$3 t0 c0
  shift 3
  t0=$(now) c0=$(cpu_ns nodes)
  if ! (cd "$WORK" && cluster_ctl timeout 900 "$SUBMIT" --tasks "$tasks" --dir "$WORK/$name" --wait --poll 0.1 \
        --tev-host "$TEV_HOST" --sbatch --partition="nodes$nodes" -- \
        "$PLUGIN" "${clip[@]}" --out "$WORK/$name-out/o_%04d.png" "${settings[@]}" "$@") > "$WORK/$name.txt" 2>&1; then
    echo "farm bench: job $name failed:"
    cat "$WORK/$name.txt"
    exit 1
  fi
  took=$(since "$t0") cpu=$(( $(cpu_ns nodes) - c0 ))
}

echo
echo "    Rendering on a Slurm cluster of $NODES one-CPU nodes sharing this machine's $(nproc) cores:"
echo "    $FRAMES frames of $SIZE 8-bit PNG, each node through its own reference server; seconds"
echo "    from submission to the job's verdict; CPU: the nodes' (tasks, servers, slurmd) per frame"
printf '    %-46s %5s %5s %6s %8s %8s %11s\n' run nodes tasks frames seconds frames/s "CPU s/frame"
t0=$(now) c0=$(cpu_ns local)
CLUSTER_CGROUP=${cg:+$cg/local}
cluster_on ctl "$TEV_HOST" render "$PLUGIN" "${clip[@]}" --out "$WORK/local/o_%04d.png" "${settings[@]}" --no-progress \
  > "$WORK/local.txt" 2>&1 || { echo "farm bench: the local render failed"; cat "$WORK/local.txt"; exit 1; }
local_s=$(since "$t0") local_cpu=$(( $(cpu_ns local) - c0 ))
row "tev-host, local, 1 thread" - 1 "$FRAMES" "$local_s" "$local_cpu"
declare -A took_on cpu_on
for nodes in $(seq $NODES); do
  job "nodes$nodes" "$nodes" "$nodes"
  took_on[$nodes]=$took cpu_on[$nodes]=$cpu
  row "tev-farm-submit, one task per node" "$nodes" "$nodes" "$FRAMES" "$took" "$cpu"
done
# Four frames in one task, then in four tasks that one node runs one after
# another: the same work, so the difference is three tasks' own cost.
job one-task 1 1 --frames 1-4
one=$took one_cpu=$cpu
row "tev-farm-submit, 4 frames in 1 task" 1 1 4 "$took" "$cpu"
job four-tasks 1 4 --frames 1-4
many=$took many_cpu=$cpu
row "tev-farm-submit, 4 frames in 4 tasks in turn" 1 4 4 "$took" "$cpu"
# One frame: the job's own cost beside one frame's render.
job single 1 1 --frames 1
row "tev-farm-submit, a job of one frame" 1 1 1 "$took" "$cpu"
echo
job_cost="$(calc "$took - $local_s / $FRAMES") s" task_cost="$(calc "($many - $one) / 3") s"
if [ -n "$cg" ]; then
  job_cost+=", $(calc "($cpu - $local_cpu / $FRAMES) / 1e9") CPU s"
  task_cost+=", $(calc "($many_cpu - $one_cpu) / 1e9 / 3") CPU s"
fi
echo "    a job's own cost (a job of one frame beside one local frame): $job_cost"
echo "    each further task (4 frames in 4 tasks beside 1 task, over 3): $task_cost"
echo "    speed-up over 1 node: 2 nodes $(calc "${took_on[1]} / ${took_on[2]}") x, 3 nodes $(calc "${took_on[1]} / ${took_on[3]}") x"
[ -n "$cg" ] &&
  echo "    this machine's bound, its $(nproc) cores over the nodes' CPU per frame: $(calc "$(nproc) * 1e9 * $FRAMES / ${cpu_on[$NODES]}") frames/s"
exit 0
