#!/usr/bin/env bash
# Renders on a real one-node Slurm cluster started from a scratch folder,
# through tev-farm-submit, with the test tree's plug-in, server port and maker
# folder:
#   0. render arguments that tev-host refuses: nothing is submitted;
#   1. a clip as a 4-task array: every frame arrives, byte-identical to a local
#      tev-host run, and the merged summary says so;
#   2. a job cancelled mid-run: no partial or temporary file; resubmitted with
#      --skip-existing, it renders only the missing frames;
#   3. a clip with one corrupt frame (parts of 3 frames, relative names, a job
#      folder with a % in its name): only that frame fails, the summary names
#      it, the exit status says so, each task's log lands in the job folder;
#   4. 10-bit DPX plates (made by oiiotool) numbered by name (--number-by-name):
#      the merge expects the frames the tasks numbered; 10-bit DPX files arrive.
# Every daemon and the server it started are stopped at the end, also when a
# step fails. Exits 77 (skipped) only where Slurm is not installed and cannot be.
set -uo pipefail

usage="usage: farm_test.sh --tev-host P --plugin P --sample-clip P --submit P --maker DIR --port N --work DIR --install-script S --cmake P"
while [ $# -gt 0 ]; do
  case "$1" in
    --tev-host) TEV_HOST=$2 ;; --plugin) PLUGIN=$2 ;; --sample-clip) SAMPLE_CLIP=$2 ;;
    --submit) SUBMIT=$2 ;; --maker) MAKER=$2 ;; --port) PORT=$2 ;; --work) WORK=$2 ;;
    --install-script) INSTALL_SCRIPT=$2 ;; --cmake) CMAKE=$2 ;;
    *) echo "$usage" >&2; exit 1 ;;
  esac
  shift 2
done
here=$(cd "$(dirname "$0")" && pwd)
source "$here/one_node_slurm.sh"

failures=0
step() { echo; echo "=== $*"; }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() { local what=$1; shift; if "$@"; then echo "ok: $what"; else fail "$what"; fi; }

for tool in munged slurmctld slurmd sbatch squeue scancel sinfo; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed; scripts/install-deps.sh installs slurmd slurmctld slurm-client munge"
    exit 77
  fi
done
if [ "$(id -u)" -ne 0 ]; then
  echo "SKIP: the one-node cluster runs its daemons as root (SlurmdUser=root); run the test as root"
  exit 77
fi

# Other tests of the tree replace the installed server with a fake runtime
# (and restore nothing), so the server is laid out again before the jobs.
if ! "$CMAKE" -P "$INSTALL_SCRIPT" >/dev/null; then
  echo "FAIL: the server could not be installed into $MAKER"
  exit 1
fi

stop_server() {
  local pid
  pid=$(cat "$MAKER/Logs/server.pid" 2>/dev/null) || return 0
  [[ "$pid" =~ ^[0-9]+$ ]] || return 0
  kill -TERM "$pid" 2>/dev/null || return 0
  for ((i = 0; i < 50; i++)); do slurm_running "$pid" || return 0; sleep 0.1; done
  kill -KILL "$pid" 2>/dev/null
}
cleanup() {
  local jobs
  # The watchdog stands down and takes its sleep with it (the sleep holds the
  # test's output open, and ctest waits for it).
  if [ -n "${watchdog:-}" ]; then kill "$watchdog"; wait "$watchdog"; fi 2>/dev/null
  jobs=$(squeue -h -o %i 2>/dev/null | tr '\n' ' ')
  if [ -n "$jobs" ]; then
    scancel $jobs 2>/dev/null
    for ((i = 0; i < 100; i++)); do [ -z "$(squeue -h -o %i 2>/dev/null)" ] && break; sleep 0.1; done
  fi
  slurm_stop
  stop_server
  # The cluster's logs stay with the test's files.
  if [ -d "${cluster:-}" ]; then cp -r "$cluster/log" "$WORK/slurm-log" 2>/dev/null; rm -rf "$cluster"; fi
}
trap cleanup EXIT
trap 'exit 143' TERM INT
# ctest ends a test at its time-out (300 s) without letting it clean up, and
# the jobs would then render on against the port of the tests that follow.
# Stopping first (the script, then the command it waits on) runs the clean-up.
# The clean-up's TERM ends the watchdog in its wait, before it can fire: killing
# only the sleep would let it go on to stop the script it was guarding.
(
  trap 'kill "$sleeper" 2>/dev/null; exit 0' TERM
  sleep 240 &
  sleeper=$!
  wait "$sleeper" || exit 0
  echo "FAIL: the test ran out of time"; kill -TERM $$; pkill -TERM -P $$
) &
watchdog=$!

started=$SECONDS
rm -rf "$WORK" && mkdir -p "$WORK" || exit 1
stop_server  # a server left by another test would hide one this test starts
ctld_port=$(slurm_free_port $((PORT + 1)))
slurmd_port=$(slurm_free_port $((PORT + 2)))
step "one-node cluster on 127.0.0.1:$ctld_port (slurmctld) and :$slurmd_port (slurmd)"
# A short path: munge's socket name must fit a socket address (108 bytes).
cluster=$(mktemp -d /tmp/tev-farm.XXXXXX) || exit 1
slurm_start "$cluster" "$ctld_port" "$slurmd_port" || { echo "FAIL: the cluster did not start"; exit 1; }

settings=(--set Brightness=1.15 --set Contrast=1.3 --set Saturation=1.6)
submit() { "$SUBMIT" --wait --poll 0.3 --tev-host "$TEV_HOST" "$@"; }
same_files() {  # same_files DIR_A DIR_B: the same names with the same bytes
  local a=$1 b=$2 f
  [ "$(ls -A "$a")" = "$(ls -A "$b")" ] || { echo "  $a and $b hold different files"; return 1; }
  for f in "$a"/*; do cmp -s "$f" "$b/$(basename "$f")" || { echo "  $f differs"; return 1; }; done
}

step "0. render arguments that tev-host refuses are not submitted"
"$SUBMIT" --tasks 2 --dir "$WORK/job0" --tev-host "$TEV_HOST" -- "$PLUGIN" --in "$WORK/none_%04d.png" \
  --out "$WORK/out0/o_%04d.png" > "$WORK/job0.txt" 2>&1
status=$?
cat "$WORK/job0.txt"
check "the submission fails with 1" [ $status = 1 ]
check "the refusal names the input" grep -q "none_%04d.png" "$WORK/job0.txt"
check "no job was queued" [ -z "$(squeue -h -o %i)" ]
check "no jobs file was written" [ ! -e "$WORK/job0/jobs" ]

step "1. a 12-frame clip as a 4-task array"
"$SAMPLE_CLIP" "$WORK/clip" --frames 12 --size 320x180 > /dev/null || exit 1
"$TEV_HOST" render "$PLUGIN" --in "$WORK/clip/png8/clip_%04d.png" --out "$WORK/local/o_%04d.png" "${settings[@]}" \
  --no-progress > "$WORK/local.txt" 2>&1
check "the local render succeeds" [ $? = 0 ]
submit --tasks 4 --dir "$WORK/job1" -- "$PLUGIN" --in "$WORK/clip/png8/clip_%04d.png" --out "$WORK/out1/o_%04d.png" \
  "${settings[@]}" > "$WORK/job1.txt" 2>&1
status=$?
cat "$WORK/job1.txt"
check "the job's exit status is 0" [ $status = 0 ]
check "every frame arrives, byte-identical to the local render" same_files "$WORK/local" "$WORK/out1"
check "four tasks reported" [ "$(ls "$WORK/job1/reports" | wc -l)" = 4 ]
check "the summary counts 12 processed, 0 missing" \
  grep -q "^12 processed, 0 unchanged, 0 overlay, 0 failed, 0 aborted, 0 skipped, 0 not started, 0 missing" \
  "$WORK/job1/summary.txt"

step "2. a job cancelled mid-run, then resubmitted"
"$SAMPLE_CLIP" "$WORK/big" --frames 12 --size 1280x720 > /dev/null || exit 1
"$TEV_HOST" render "$PLUGIN" --in "$WORK/big/exr/clip_%04d.exr" --out "$WORK/bigref/o_%04d.exr" "${settings[@]}" \
  --no-progress > "$WORK/bigref.txt" 2>&1
check "the local render succeeds" [ $? = 0 ]
big_args=("$PLUGIN" --in "$WORK/big/exr/clip_%04d.exr" --out "$WORK/out2/o_%04d.exr" "${settings[@]}" --skip-existing)
"$SUBMIT" --tasks 2 --dir "$WORK/job2" --tev-host "$TEV_HOST" -- "${big_args[@]}" > "$WORK/job2.txt" 2>&1
read -r render_job summary_job < "$WORK/job2/jobs"
for ((i = 0; i < 600; i++)); do
  [ -n "$(ls "$WORK/out2" 2>/dev/null)" ] && break
  sleep 0.05
done
scancel "$render_job"
for ((i = 0; i < 600; i++)); do [ -s "$WORK/job2/exit-status" ] && break; sleep 0.1; done
cat "$WORK/job2/summary.txt"
written=$(ls "$WORK/out2" | wc -l)
echo "  $written of 12 frames were written before the cancel"
check "the cancelled job's verdict is 2" [ "$(cat "$WORK/job2/exit-status" 2>/dev/null)" = 2 ]
check "the job had written frames when it was cancelled" [ "$written" -ge 1 ]
check "the job was stopped before its end" [ "$written" -lt 12 ]
check "no temporary file is left" [ -z "$(find "$WORK/out2" -name '.*' -type f)" ]
whole() { local f; for f in "$WORK/out2"/*; do cmp -s "$f" "$WORK/bigref/$(basename "$f")" || return 1; done; }
check "every file written is whole" whole
# The task execs tev-host, so scancel's SIGTERM reaches it and it aborts the frame in flight.
check "scancel's SIGTERM reached tev-host in every task" \
  [ "$(grep -l "stopped by SIGTERM" "$WORK/job2/logs/render-$render_job"_*.out | wc -l)" = 2 ]
files_before=$(ls "$WORK/out2")
stat_before=$(cd "$WORK/out2" && stat -c '%n %i %y' $files_before)
submit --tasks 2 --dir "$WORK/job2" -- "${big_args[@]}" > "$WORK/job2b.txt" 2>&1
status=$?
cat "$WORK/job2b.txt"
read -r render_job2 _ < "$WORK/job2/jobs"
check "the resubmitted job's exit status is 0" [ $status = 0 ]
check "every frame is there, byte-identical to the local render" same_files "$WORK/bigref" "$WORK/out2"
check "the frames written before were left alone" \
  [ "$(cd "$WORK/out2" && stat -c '%n %i %y' $files_before)" = "$stat_before" ]
processed=$(cat "$WORK/job2/reports/$render_job2"-*.jsonl | grep -c '"verdict":"processed"')
skipped=$(cat "$WORK/job2/reports/$render_job2"-*.jsonl | grep -c '"verdict":"skipped"')
check "the resubmitted job rendered only the $((12 - written)) missing frames ($processed)" \
  [ "$processed" = $((12 - written)) ]
check "the resubmitted job skipped the $written frames written before ($skipped)" [ "$skipped" = "$written" ]

step "3. a clip with one corrupt frame"
mkdir -p "$WORK/corrupt" && cp "$WORK/clip/png8/"*.png "$WORK/corrupt/"
head -c 300 "$WORK/clip/png8/clip_0005.png" > "$WORK/corrupt/clip_0005.png"
# Relative names, taken from the folder the job was submitted from.
# % is a pattern character in sbatch's file names; this folder's name is taken as it is.
job3="job3 at 100%j"
(cd "$WORK" && submit --chunk-size 3 --dir "$job3" -- "$PLUGIN" --in corrupt/clip_%04d.png --out out3/o_%04d.png \
  "${settings[@]}" > "$WORK/job3.txt" 2>&1)
status=$?
cat "$WORK/job3.txt"
check "the job's exit status is 2" [ $status = 2 ]
check "the summary names frame 5 as failed" grep -q "^failed: frame 5 " "$WORK/$job3/summary.txt"
check "the summary counts 11 processed and 1 failed" \
  grep -q "^11 processed, 0 unchanged, 0 overlay, 1 failed, 0 aborted, 0 skipped, 0 not started, 0 missing" \
  "$WORK/$job3/summary.txt"
check "--chunk-size 3 made four tasks" [ "$(ls "$WORK/$job3/reports" | wc -l)" = 4 ]
read -r render_job3 _ < "$WORK/$job3/jobs"
check "each task's output is in the job folder's logs" \
  [ "$(ls "$WORK/$job3/logs/" | grep -c "^render-${render_job3}_[1-4].out$")" = 4 ]
rm -f "$WORK/local/o_0005.png"
check "the other frames arrive, byte-identical" same_files "$WORK/local" "$WORK/out3"

step "4. 10-bit DPX plates numbered by name"
mkdir -p "$WORK/plates"
for ((i = 1; i <= 6; i++)); do
  oiiotool "$WORK/clip/png8/clip_000$i.png" -d uint10 -o "$WORK/plates/plate_$((1000 + i)).dpx" || exit 1
done
submit --tasks 2 --dir "$WORK/job4" -- "$PLUGIN" --in "$WORK/plates" --out "$WORK/out4/" --number-by-name \
  "${settings[@]}" > "$WORK/job4.txt" 2>&1
status=$?
cat "$WORK/job4.txt"
check "the job's exit status is 0" [ $status = 0 ]
check "the summary expects the 6 frames the tasks numbered 0 to 5" \
  grep -q "^merged 2 reports (6 frame records): 6 frames, 6 expected" "$WORK/job4/summary.txt"
check "the summary counts 6 processed, 0 missing" \
  grep -q "^6 processed, 0 unchanged, 0 overlay, 0 failed, 0 aborted, 0 skipped, 0 not started, 0 missing" \
  "$WORK/job4/summary.txt"
check "the outputs are 10-bit DPX files, named as the plates" \
  [ "$(oiiotool --info -v "$WORK/out4/"plate_100[1-6].dpx | grep -c "oiio:BitsPerSample: 10")" = 6 ]

echo
echo "farm test: $failures failure(s) in $((SECONDS - started)) s"
[ $failures = 0 ]
