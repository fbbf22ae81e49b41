#!/usr/bin/env bash
# The farm row of `make bench`: one clip rendered through tev-farm-submit on a
# one-node Slurm cluster (started from a scratch folder, as the farm test does)
# with 1 and 2 array tasks, beside one local tev-host run; frames per second
# from submission to the job's verdict. All tasks share the node's one
# processing server.
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
source "$(cd "$(dirname "$0")" && pwd)/../tests/farm/one_node_slurm.sh"

for tool in munged slurmctld slurmd sbatch squeue; do
  command -v "$tool" >/dev/null || { echo "farm bench: skipped, $tool is not installed (scripts/install-deps.sh)"; exit 0; }
done
[ "$(id -u)" = 0 ] || { echo "farm bench: skipped, the one-node cluster's daemons run as root"; exit 0; }

stop_server() {
  local pid
  pid=$(cat "$MAKER/Logs/server.pid" 2>/dev/null) && [[ "$pid" =~ ^[0-9]+$ ]] && kill -TERM "$pid" 2>/dev/null
  for ((i = 0; i < 50; i++)); do slurm_running "${pid:-0}" || return 0; sleep 0.1; done
}
cluster=""
trap 'slurm_stop; stop_server; [ -n "$cluster" ] && rm -rf "$cluster"' EXIT
trap 'exit 143' INT TERM

rm -rf "$WORK" && mkdir -p "$WORK"
cmake -P "$INSTALL_SCRIPT" > /dev/null || exit 1
stop_server
cluster=$(mktemp -d /tmp/tev-farm.XXXXXX) || exit 1  # munge's socket name must stay short
slurm_start "$cluster" "$(slurm_free_port $((PORT + 1)))" "$(slurm_free_port $((PORT + 2)))" || exit 1
"$SAMPLE_CLIP" "$WORK/clip" --frames "$FRAMES" --size "$SIZE" > /dev/null || exit 1
settings=(--set Brightness=1.15 --set Contrast=1.3 --set Saturation=1.6)
clip=(--in "$WORK/clip/png8/clip_%04d.png")

# The first render starts the server; it is not timed.
"$TEV_HOST" render "$PLUGIN" "${clip[@]}" --out "$WORK/warm/o_%04d.png" --frames 1 "${settings[@]}" --no-progress \
  > /dev/null 2>&1

now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { print b - a }'; }
row() { printf '    %-34s %6s %8.2f %8.2f\n' "$1" "$2" "$3" "$(awk -v f="$FRAMES" -v s="$3" 'BEGIN { print f / s }')"; }
echo
echo "    Rendering on a one-node Slurm cluster ($(nproc) cores): $FRAMES frames of $SIZE 8-bit PNG,"
echo "    through the node's one reference server; seconds from submission to the job's verdict"
printf '    %-34s %6s %8s %8s\n' "run" "tasks" "seconds" "frames/s"
t0=$(now)
"$TEV_HOST" render "$PLUGIN" "${clip[@]}" --out "$WORK/local/o_%04d.png" "${settings[@]}" --no-progress > /dev/null 2>&1 ||
  echo "farm bench: the local render failed" >&2
row "tev-host, local, 1 thread" 1 "$(since "$t0")"
for tasks in 1 2; do
  t0=$(now)
  "$SUBMIT" --tasks "$tasks" --dir "$WORK/job$tasks" --wait --poll 0.2 --tev-host "$TEV_HOST" -- \
    "$PLUGIN" "${clip[@]}" --out "$WORK/out$tasks/o_%04d.png" "${settings[@]}" > "$WORK/job$tasks.txt" 2>&1 ||
    { echo "farm bench: the $tasks-task job failed:"; cat "$WORK/job$tasks.txt"; exit 1; }
  row "tev-farm-submit, 1 node" "$tasks" "$(since "$t0")"
done
