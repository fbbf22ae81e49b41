#!/usr/bin/env bash
# tev-farm-submit against stand-in Slurm commands (sbatch records what it is
# given and answers with a job id), for what it hands sbatch and what it
# refuses, without a cluster:
#   1. --threads N among the render arguments asks for N CPUs per render task,
#      not for the summary job, and an --sbatch option for the CPUs wins;
#   2. a % in the job folder reaches sbatch's file-name patterns doubled; a
#      backslash, which those patterns cannot carry, is refused;
#   3. a full disk: the task scripts cannot be written whole, so nothing is
#      submitted and no script is left (root: a small tmpfs in a mount
#      namespace of the test's own; skipped otherwise).
set -uo pipefail

while [ $# -gt 0 ]; do
  case "$1" in
    --tev-host) TEV_HOST=$2 ;; --plugin) PLUGIN=$2 ;; --sample-clip) SAMPLE_CLIP=$2 ;;
    --submit) SUBMIT=$2 ;; --work) WORK=$2 ;;
    --maker|--port|--install-script|--cmake) ;;
    *) echo "usage: submit_test.sh --tev-host P --plugin P --sample-clip P --submit P --work DIR" >&2; exit 1 ;;
  esac
  shift 2
done

failures=0
step() { echo; echo "=== $*"; }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() { local what=$1; shift; if "$@"; then echo "ok: $what"; else fail "$what"; fi; }

rm -rf "$WORK" && mkdir -p "$WORK/bin" "$WORK/calls" || exit 1
# sbatch writes each call's arguments, one a line, to calls/N and prints a job id.
cat > "$WORK/bin/sbatch" <<'SH'
#!/bin/bash
n=$(( $(ls "$SBATCH_CALLS" | wc -l) + 1 ))
printf '%s\n' "$@" > "$SBATCH_CALLS/$n"
echo "$((100 + n))"
SH
printf '#!/bin/sh\nexit 1\n' > "$WORK/bin/scontrol"
printf '#!/bin/sh\nexit 0\n' > "$WORK/bin/scancel"
chmod +x "$WORK/bin/"*
export PATH="$WORK/bin:$PATH" SBATCH_CALLS=$WORK/calls
"$SAMPLE_CLIP" "$WORK/clip" --frames 4 --size 32x18 > /dev/null || exit 1
render=("$PLUGIN" --in "$WORK/clip/png8/clip_%04d.png" --out "$WORK/out/o_%04d.png")
calls() { ls "$WORK/calls" | wc -l; }
# has_line FILE LINE: FILE holds LINE as a whole line.
has_line() { grep -qxF -- "$2" "$1"; }
line_of() { grep -nxF -- "$2" "$1" | head -n 1 | cut -d: -f1; }

step "1. --threads N asks for N CPUs per render task"
"$SUBMIT" --tasks 2 --dir "$WORK/job1" --tev-host "$TEV_HOST" -- "${render[@]}" --threads 3 > "$WORK/job1.txt" 2>&1
check "the submission succeeds" [ $? = 0 ]
check "the render job asks for 3 CPUs per task" has_line "$WORK/calls/1" --cpus-per-task=3
check "the summary job asks for none" [ -z "$(grep -- --cpus-per-task "$WORK/calls/2")" ]
rm -f "$WORK/calls/"*
"$SUBMIT" --tasks 2 --dir "$WORK/job1" --tev-host "$TEV_HOST" --sbatch --cpus-per-task=1 -- "${render[@]}" \
  --threads=3 > "$WORK/job1b.txt" 2>&1
ours=$(line_of "$WORK/calls/1" --cpus-per-task=3) theirs=$(line_of "$WORK/calls/1" --cpus-per-task=1)
check "--threads=3 asks for 3 CPUs too" [ -n "$ours" ]
check "an --sbatch --cpus-per-task given too comes after, so sbatch takes it" [ "${theirs:-0}" -gt "${ours:-0}" ]

step "2. a % in the job folder is doubled for sbatch's file names; a backslash is refused"
rm -f "$WORK/calls/"*
"$SUBMIT" --tasks 2 --dir "$WORK/50% of %j" --tev-host "$TEV_HOST" -- "${render[@]}" > "$WORK/job2.txt" 2>&1
check "the submission succeeds" [ $? = 0 ]
check "the tasks' output names the folder with %% for %" \
  has_line "$WORK/calls/1" "--output=$WORK/50%% of %%j/logs/render-%A_%a.out"
check "the summary job's output too" has_line "$WORK/calls/2" "--output=$WORK/50%% of %%j/logs/summary-%j.out"
check "the scripts are named as they are" has_line "$WORK/calls/1" "$WORK/50% of %j/render-task.sh"
rm -f "$WORK/calls/"*
"$SUBMIT" --tasks 2 --dir "$WORK/a\\b" --tev-host "$TEV_HOST" -- "${render[@]}" > "$WORK/job2b.txt" 2>&1
status=$?
cat "$WORK/job2b.txt"
check "a folder with a backslash is refused with 1" [ $status = 1 ]
check "the refusal names the backslash" grep -q backslash "$WORK/job2b.txt"
check "nothing was submitted" [ "$(calls)" = 0 ]

step "3. a full disk: nothing is submitted, no script is left"
if [ "$(id -u)" -ne 0 ] || ! unshare -m --propagation private true 2>/dev/null; then
  echo "skipped: a small file system of the test's own needs root and a mount namespace"
else
  rm -f "$WORK/calls/"*
  mkdir -p "$WORK/full"
  # A 64 KiB file system, filled up once the job folder's subfolders exist.
  unshare -m --propagation private bash -c '
    disk=$1
    shift
    mount -t tmpfs -o size=64k tmpfs "$disk" || exit 99
    mkdir -p "$disk/job/reports" "$disk/job/logs"
    head -c 1M /dev/zero > "$disk/fill" 2>/dev/null
    "$@"
    status=$?
    ls -A "$disk/job" > "$disk/../full-listing.txt"
    exit $status' sh "$WORK/full" \
    "$SUBMIT" --tasks 2 --dir "$WORK/full/job" --tev-host "$TEV_HOST" -- "${render[@]}" > "$WORK/job3.txt" 2>&1
  status=$?
  cat "$WORK/job3.txt"
  if [ $status = 99 ]; then
    echo "skipped: no tmpfs could be mounted"
  else
    check "the submission fails with 4" [ $status = 4 ]
    check "it says the task script could not be written" grep -q "cannot write the task script" "$WORK/job3.txt"
    check "nothing was submitted" [ "$(calls)" = 0 ]
    check "no script or temporary file is left in the job folder" \
      [ "$(cat "$WORK/full-listing.txt" 2>/dev/null | tr '\n' ' ')" = "logs reports " ]
  fi
fi

echo
echo "submit test: $failures failure(s)"
[ $failures = 0 ]
