#!/usr/bin/env bash
# Renders through tev-farm-submit on a Slurm cluster of three nodes on this
# machine (multi_node_slurm.sh: each node in a network namespace of its own,
# with its own loopback, where the plug-in's launcher starts that node's
# processing server on the fixed port, and its own maker folder at the fixed
# path; the controller and the bridge in one more namespace, where the
# submission and the Slurm commands run):
#   1. a 3-task array with --threads 2: each task asks for 2 CPUs, so each
#      node runs one; every frame byte-identical to a local render, and each
#      node's server log shows the frames of the task that ran there;
#   2. a node killed mid-job (its slurmd, its task, its server at once): the
#      task is requeued on another node, the job completes with one verdict,
#      every frame exact, no temporary file left; the timeline is printed;
#   3. a node whose server cannot start: its task's frames fail after its
#      retries and the summary names them; resubmitted without that node and
#      with --skip-existing, the job completes.
# Everything the test made (namespaces and their links, mounts, daemons,
# servers) is removed at the end, also when a step fails and before ctest's
# time-out. Exits 77 (skipped) where Slurm is missing or namespaces can't be made.
set -uo pipefail

usage="usage: cluster_test.sh --tev-host P --plugin P --sample-clip P --submit P --maker DIR --port N --work DIR --install-script S --cmake P [--time-limit S]"
TIME_LIMIT=420
while [ $# -gt 0 ]; do
  case "$1" in
    --tev-host) TEV_HOST=$2 ;; --plugin) PLUGIN=$2 ;; --sample-clip) SAMPLE_CLIP=$2 ;;
    --submit) SUBMIT=$2 ;; --maker) MAKER=$2 ;; --port) PORT=$2 ;; --work) WORK=$2 ;;
    --install-script) INSTALL_SCRIPT=$2 ;; --cmake) CMAKE=$2 ;; --time-limit) TIME_LIMIT=$2 ;;
    *) echo "$usage" >&2; exit 1 ;;
  esac
  shift 2
done
here=$(cd "$(dirname "$0")" && pwd)
source "$here/multi_node_slurm.sh"
NODES=3

failures=0
step() { echo; echo "=== $*"; }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() { local what=$1; shift; if "$@"; then echo "ok: $what"; else fail "$what"; fi; }

for tool in munged slurmctld slurmd sbatch squeue scancel sinfo scontrol ip nsenter unshare; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed; scripts/install-deps.sh installs slurmd slurmctld slurm-client munge iproute2"
    exit 77
  fi
done
if [ "$(id -u)" -ne 0 ]; then
  echo "SKIP: the cluster's namespaces and daemons need root; run the test as root"
  exit 77
fi
prefix=tevc$PORT
if ! err=$(unshare --net true 2>&1); then
  echo "SKIP: network namespaces cannot be made here: $err"
  exit 77
fi
if ! err=$(unshare -m --propagation private true 2>&1); then
  echo "SKIP: mount namespaces cannot be made here: $err"
  exit 77
fi

cluster=""
cleanup() {
  local k
  # The watchdog stands down and takes its sleep with it (see below).
  if [ -n "${watchdog:-}" ]; then kill "$watchdog"; wait "$watchdog"; fi 2>/dev/null
  cluster_stop
  # The cluster's logs and each node's server and plug-in logs stay with the test's files.
  if [ -d "$cluster" ]; then
    cp -r "$cluster/log" "$WORK/slurm-log" 2>/dev/null
    for ((k = 1; k <= NODES; k++)); do cp -r "$(cluster_maker $k)/Logs" "$WORK/slurm-log/n$k-Logs" 2>/dev/null; done
    rm -rf "$cluster"
  fi
}
trap cleanup EXIT
trap 'exit 143' TERM INT
# ctest ends a test at its time-out without letting it clean up, which would
# leave the namespaces and their daemons behind: the test stops itself first
# (the script, then the command it waits on), which runs the clean-up. The
# clean-up's TERM ends the watchdog in its wait, before it can fire.
(
  trap 'kill "$sleeper" 2>/dev/null; exit 0' TERM
  sleep "$TIME_LIMIT" &
  sleeper=$!
  wait "$sleeper" || exit 0
  echo "FAIL: the test ran out of time"; kill -TERM $$; pkill -TERM -P $$
) &
watchdog=$!

started=$SECONDS
rm -rf "$WORK" && mkdir -p "$WORK" || exit 1
step "a cluster of $NODES nodes: slurmctld at 10.200.0.1:$((PORT + 1)), slurmd nK at 10.200.0.1K:$((PORT + 2)), each in a network namespace of its own"
# A short path: munge's socket name must fit a socket address (108 bytes).
cluster=$(mktemp -d /tmp/tev-cluster.XXXXXX) || exit 1
cluster_start "$cluster" "$prefix" $NODES 2 $((PORT + 1)) "$MAKER"
case $? in
  0) ;;
  2) echo "SKIP: the cluster's namespaces, bridge or links cannot be made here"; exit 77 ;;
  *) echo "FAIL: the cluster did not start"; exit 1 ;;
esac
# Each node's maker folder, and the controller's for the local render, gets the server.
for k in ctl $(seq $NODES); do
  DESTDIR=$(cluster_root $k) "$CMAKE" -P "$INSTALL_SCRIPT" > /dev/null ||
    { echo "FAIL: the server could not be installed for node $k"; exit 1; }
done
echo "  started in $((SECONDS - started)) s"

settings=(--set Brightness=1.15 --set Contrast=1.3 --set Saturation=1.6)
submit() { (cd "$WORK" && cluster_ctl "$SUBMIT" --poll 0.3 --tev-host "$TEV_HOST" "$@"); }
same_files() {  # same_files DIR_A DIR_B: the same names with the same bytes
  local a=$1 b=$2 f
  [ "$(ls -A "$a")" = "$(ls -A "$b")" ] || { echo "  $a and $b hold different files"; return 1; }
  for f in "$a"/*; do cmp -s "$f" "$b/$(basename "$f")" || { echo "  $f differs"; return 1; }; done
}
no_temporaries() { [ -z "$(find "$1" -name '.*' -type f)" ]; }
# The last line that the controller's job log has for array task $2 of job $1.
task_record() { grep " ArrayJobId=$1 ArrayTaskId=$2 " "$cluster/log/jobcomp.txt" 2>/dev/null | tail -n 1; }
field() { sed -n "s/.* $1=\([^ ]*\).*/\1/p" <<< "$2"; }
# Frames that a task's report gives as rendered by it.
processed_in() { cat "$1" 2>/dev/null | grep -c '"verdict":"processed"'; }
# Frames node $1's server rendered: its log's "render JOB: WxHxC ..." lines.
served_by() { cat "$(cluster_maker "$1")/Logs/launcher.log" 2>/dev/null | grep -cE ' render [^ ]+: [0-9]+x[0-9]+x[0-9]+ at '; }

"$SAMPLE_CLIP" "$WORK/clip" --frames 24 --size 960x540 > /dev/null || exit 1
clip=(--in "$WORK/clip/png8/clip_%04d.png")
cluster_on ctl "$TEV_HOST" render "$PLUGIN" "${clip[@]}" --out "$WORK/local/o_%04d.png" "${settings[@]}" \
  --no-progress > "$WORK/local.txt" 2>&1
check "the local render succeeds" [ $? = 0 ]

step "1. a 3-task array with --threads 2 spreads over every node, each node's frames served by its own server"
t0=$SECONDS
submit --wait --tasks 3 --dir job1 -- "$PLUGIN" "${clip[@]}" --out "$WORK/out1/o_%04d.png" "${settings[@]}" \
  --threads 2 > "$WORK/job1.txt" 2>&1
status=$?
cat "$WORK/job1.txt"
echo "  $((SECONDS - t0)) s"
check "the job's exit status is 0" [ $status = 0 ]
check "every frame arrives, byte-identical to the local render" same_files "$WORK/local" "$WORK/out1"
read -r job1 _ < "$WORK/job1/jobs" || job1=none
nodes_used=""
for k in 1 2 3; do
  record=$(task_record "$job1" $k)
  node=$(field NodeList "$record") procs=$(field ProcCnt "$record")
  echo "  task $k: node $node, $procs CPUs, $(processed_in "$WORK/job1/reports/$job1-$k.jsonl") frames"
  check "task $k was given 2 CPUs for --threads 2" [ "$procs" = 2 ]
  nodes_used+="$node "
done
check "the three tasks ran on the three nodes" [ "$(tr ' ' '\n' <<< "$nodes_used" | sort -u | xargs)" = "n1 n2 n3" ]
for k in 1 2 3; do
  expected=0
  for t in 1 2 3; do
    [ "$(field NodeList "$(task_record "$job1" $t)")" = "n$k" ] &&
      expected=$((expected + $(processed_in "$WORK/job1/reports/$job1-$t.jsonl")))
  done
  served=$(served_by $k)
  check "node n$k's task rendered frames ($expected)" [ "$expected" -gt 0 ]
  check "node n$k's own server rendered them: its log shows $served" [ "$served" = "$expected" ]
done

step "2. a node killed mid-job: its task is requeued on the others, one verdict, every frame exact"
# No --wait: the test watches the job itself, to time what happens.
submit --tasks 3 --dir job2 -- "$PLUGIN" "${clip[@]}" --out "$WORK/out2/o_%04d.png" "${settings[@]}" \
  --threads 2 > "$WORK/job2.txt" 2>&1
cat "$WORK/job2.txt"
read -r job2 summary2 < "$WORK/job2/jobs" || job2=none
# Task 2's node, once every task runs; it is killed once task 2 has reported a frame.
victim=""
for ((i = 0; i < 600; i++)); do
  [ "$(cluster_ctl squeue -h -j "$job2" -t R -o %i | wc -l)" = 3 ] &&
    victim=$(cluster_ctl squeue -h -j "${job2}_2" -o %N) && [ -n "$victim" ] && break
  sleep 0.1
done
victim=${victim#n}
report2=$WORK/job2/reports/$job2-2.jsonl
for ((i = 0; i < 1200; i++)); do [ -s "$report2" ] && break; sleep 0.05; done
t0=$(date +%s.%N)
cluster_kill_node "$victim"
before=$(grep -c '"frame"' "$report2")
echo "  node n$victim killed (slurmd, task 2, server) after task 2 reported $before of 8 frames"
check "task 2 was killed mid-part" [ "$before" -ge 1 ]
check "task 2 was killed before its part's end" [ "$before" -lt 8 ]
check "nothing of node n$victim runs any more" [ -z "$(cluster_node_pids "$victim")" ]
since() { awk -v a="$t0" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }'; }
down="" rerun="" rerun_node=""
for ((i = 0; i < 2400; i++)); do
  [ -s "$WORK/job2/exit-status" ] && break
  if [ -z "$down" ] && [[ "$(cluster_ctl sinfo -h -n "n$victim" -o %t)" == down* ]]; then down=$(since); fi
  if [ -z "$rerun" ]; then
    rerun_node=$(cluster_ctl squeue -h -j "${job2}_2" -t R -o %N)
    [ -n "$rerun_node" ] && [ "$rerun_node" != "n$victim" ] && rerun=$(since)
  fi
  sleep 0.1
done
verdict=$(since)
echo "  timeline from the kill: node down at ${down:-?} s, task 2 running again on ${rerun_node:-?} at" \
     "${rerun:-?} s, the job's verdict at $verdict s"
cat "$WORK/job2/summary.txt"
check "the job's verdict is 0" [ "$(cat "$WORK/job2/exit-status" 2>/dev/null)" = 0 ]
check "the summary counts 24 processed, 0 missing" \
  grep -q "^24 processed, 0 unchanged, 0 overlay, 0 failed, 0 aborted, 0 skipped, 0 not started, 0 missing" \
  "$WORK/job2/summary.txt"
check "every frame is there, byte-identical to the local render" same_files "$WORK/local" "$WORK/out2"
check "no temporary file is left" no_temporaries "$WORK/out2"
record=$(task_record "$job2" 2)
check "task 2 completed on a node that lives ($(field NodeList "$record"))" \
  [ "$(field JobState "$record")/$(field NodeList "$record")" = "COMPLETED/$rerun_node" ]
check "task 2 did not complete on the killed node" [ "$rerun_node" != "n$victim" ]
summaries=$(grep -cE "(^| )JobId=$summary2 .*Name=tev-job2-summary " "$cluster/log/jobcomp.txt")
check "the summary job ran once ($summaries)" [ "$summaries" = 1 ]
check "the summary job started once task 2's second run had ended" \
  [ ! "$(field StartTime "$(grep -E "(^| )JobId=$summary2 " "$cluster/log/jobcomp.txt")")" \< "$(field EndTime "$record")" ]

step "node n$victim started again"
cluster_start_node "$victim"
for ((i = 0; i < 300; i++)); do
  cluster_ctl scontrol update NodeName="n$victim" State=RESUME 2>/dev/null
  [ "$(cluster_ctl sinfo -h -n "n$victim" -o %t)" = idle ] && break
  sleep 0.1
done
check "node n$victim is back" [ "$(cluster_ctl sinfo -h -n "n$victim" -o %t)" = idle ]

step "3. a node whose server cannot start: its frames fail after their retries, resubmission finishes the job"
# Node 3's server is stopped and its program taken away; the plug-in's launch
# there then fails at once, and the node's log says why.
broken=3
server_pid=$(cat "$(cluster_maker $broken)/Logs/server.pid" 2>/dev/null)
[[ "$server_pid" =~ ^[0-9]+$ ]] && kill -TERM "$server_pid" 2>/dev/null
for ((i = 0; i < 50; i++)); do cluster_running "${server_pid:-0}" || break; sleep 0.1; done
mv "$(cluster_maker $broken)/TEVORA/Server/launcher.py" "$(cluster_maker $broken)/TEVORA/Server/launcher.py.off"
t0=$SECONDS
# One retry after 1 s instead of three after 5, 10 and 20 s: the same path, sooner.
args3=("$PLUGIN" "${clip[@]}" --out "$WORK/out3/o_%04d.png" "${settings[@]}" --threads 2 --retries 1 --retry-pause 1
       --skip-existing)
submit --wait --tasks 3 --dir job3 -- "${args3[@]}" > "$WORK/job3.txt" 2>&1
status=$?
cat "$WORK/job3.txt"
echo "  $((SECONDS - t0)) s"
read -r job3 _ < "$WORK/job3/jobs" || job3=none
failed_task=""
for k in 1 2 3; do [ "$(field NodeList "$(task_record "$job3" $k)")" = "n$broken" ] && failed_task=$k; done
check "the job's exit status is 2" [ $status = 2 ]
check "a task ran on node n$broken" [ -n "$failed_task" ]
# Its part's frames, by the chunk rule: 24 frames in 3 parts of 8.
part=$(( ${failed_task:-1} - 1 ))
named=0
for ((f = part * 8 + 1; f <= part * 8 + 8; f++)); do grep -qE "^[a-z ]+: frame $f " "$WORK/job3/summary.txt" && named=$((named + 1)); done
check "the summary names each of the 8 frames of node n$broken's task ($named)" [ "$named" = 8 ]
check "the summary says the server could not be reached" grep -q "Can't connect" "$WORK/job3/summary.txt"
check "the summary counts 16 processed" grep -q "^16 processed, " "$WORK/job3/summary.txt"
check "node n$broken's log says why its server did not start" \
  grep -q "No module named 'launcher'" "$(cluster_maker $broken)/Logs/launcher.log"
t0=$SECONDS
submit --wait --tasks 3 --dir job3 --sbatch --exclude="n$broken" -- "${args3[@]}" > "$WORK/job3b.txt" 2>&1
status=$?
cat "$WORK/job3b.txt"
echo "  $((SECONDS - t0)) s"
read -r job3b _ < "$WORK/job3/jobs" || job3b=none
check "the resubmitted job's exit status is 0" [ $status = 0 ]
check "every frame is there, byte-identical to the local render" same_files "$WORK/local" "$WORK/out3"
check "no temporary file is left" no_temporaries "$WORK/out3"
check "no task of the resubmitted job ran on node n$broken" \
  [ -z "$(grep " ArrayJobId=$job3b " "$cluster/log/jobcomp.txt" | grep " NodeList=n$broken ")" ]

echo
echo "cluster test: $failures failure(s) in $((SECONDS - started)) s"
[ $failures = 0 ]
