#!/usr/bin/env bash
# The main job behind `make run`: installs the reference server into the
# build's maker folder, generates a sample clip, renders it through the
# effect plug-in at 8, 16 and 32 bits with the headless host's front end,
# renders one frame that the server refuses (the failure overlay), renders
# the 16-bit clip again as the other host drives the effect, checks the
# server with tev-conform, and composes a contact sheet.
# Usage: scripts/run-demo.sh BUILD_DIR
set -euo pipefail

BUILD=${1:?usage: scripts/run-demo.sh BUILD_DIR}
BUILD=$(cd "$BUILD" && pwd)
cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$BUILD/CMakeCache.txt"; }
MAKER=$(cache_value TEV_MAKER_FOLDER)
PORT=$(cache_value TEV_SERVER_PORT)
HOST="$BUILD/host/cli/tev-host"
PLUGIN="$BUILD/plugin/ExamplePlugin.so"
DEMO="$BUILD/demo"
PID_FILE="$MAKER/Logs/server.pid"
IDLE=$(cache_value TEV_SERVER_IDLE_SECONDS)
for f in "$HOST" "$PLUGIN" "$BUILD/host/demo/tev-sample-clip" "$BUILD/host/demo/tev-contact-sheet" "$BUILD/conform/tev-conform"; do
  [ -e "$f" ] || { echo "run-demo: $f is missing; build $BUILD first" >&2; exit 1; }
done

say() { printf '\n== %s\n' "$*"; }

# --- the maker folder ------------------------------------------------------
# The plug-in writes its log there while rendering, as the invoking user, so
# the folder must be that user's; creating it under /opt needs sudo.
# Symbolic links are left out of the check: the runtime is a link to the
# system's python3, which no user may write and which needs no writing.
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
if [ ! -d "$MAKER" ] || [ -n "$(find "$MAKER" ! -type l ! -writable -print -quit 2>/dev/null)" ]; then
  say "Preparing the maker folder $MAKER for $(id -un)"
  if [ -n "$SUDO" ] && ! command -v sudo >/dev/null; then
    echo "run-demo: $MAKER must exist and be writable by $(id -un), and sudo is not installed;" >&2
    echo "run-demo: as root: mkdir -p '$MAKER' && chown -R $(id -un) '$MAKER'" >&2
    exit 1
  fi
  $SUDO mkdir -p "$MAKER"
  $SUDO chown -R "$(id -u):$(id -g)" "$MAKER"
fi
say "Installing the reference server into $MAKER"
cmake --build "$BUILD" --target install-server

# --- a server already running? -------------------------------------------
server_pid() {
  local pid
  pid=$(cat "$PID_FILE" 2>/dev/null || true)
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then echo "$pid"; fi
}
port_answers() { (exec 3<>"/dev/tcp/127.0.0.1/$PORT") 2>/dev/null; }
before=$(server_pid)
if [ -n "$before" ]; then
  say "A server is already running on port $PORT (pid $before): the plug-in uses it"
elif port_answers; then
  say "Something already answers on port $PORT (no pid file): the plug-in talks to it"
else
  say "No server runs on port $PORT: the plug-in's launcher will start it at the first frame"
fi

# --- the sample clip -------------------------------------------------------
rm -rf "$DEMO"
say "Generating the sample clip"
"$BUILD/host/demo/tev-sample-clip" "$DEMO/clip" --frames 12 --size 640x360

# --- renders ---------------------------------------------------------------
ADJUST=(--set Brightness=1.15 --set Contrast=1.3 --set Saturation=1.6)
render() {  # render DEPTH INPUT_PATTERN OUTPUT_PATTERN [extra options]
  local depth=$1 in=$2 out=$3
  shift 3
  say "Rendering at $depth bits: $in"
  "$HOST" render "$PLUGIN" --in "$in" --out "$out" --depth "$depth" --threads 2 "${ADJUST[@]}" "$@"
}
render 8 "$DEMO/clip/png8/clip_%04d.png" "$DEMO/out/png8/clip_%04d.png"
after=$(server_pid)
if [ -z "$before" ] && [ -n "$after" ]; then
  echo "-> the plug-in's launcher started the server (pid $after; its output: $MAKER/Logs/launcher.log)"
fi
render 16 "$DEMO/clip/png16/clip_%04d.png" "$DEMO/out/png16/clip_%04d.png"
render 32 "$DEMO/clip/exr/clip_%04d.exr" "$DEMO/out/exr/clip_%04d.exr"

say "Rendering one frame with Type \"Tensor(GPU)\", which this server refuses"
status=0
"$HOST" render "$PLUGIN" --in "$DEMO/clip/png8/clip_0006.png" --out "$DEMO/out/overlay/clip_0006.png" \
  --set "Type=Tensor(GPU)" || status=$?
if [ "$status" -ne 3 ]; then
  echo "run-demo: expected the failure overlay (exit status 3), got $status" >&2
  exit 1
fi

# --- the other host ----------------------------------------------------------
say "Rendering the 16-bit clip as Premiere Pro drives the effect (frame setup, render, frame setdown)"
"$HOST" render "$PLUGIN" --premiere --in "$DEMO/clip/png16/clip_%04d.png" --out "$DEMO/out/premiere16/clip_%04d.png" \
  --depth 16 "${ADJUST[@]}"
for f in "$DEMO"/out/png16/clip_*.png; do
  if ! cmp -s "$f" "$DEMO/out/premiere16/$(basename "$f")"; then
    echo "run-demo: $(basename "$f") differs between the two hosts' renders" >&2
    exit 1
  fi
done
echo "-> every frame is the same as the After Effects render's"

# --- the server's conformance --------------------------------------------
say "Checking the server on port $PORT with tev-conform"
"$BUILD/conform/tev-conform" --port "$PORT"

# --- the contact sheet -----------------------------------------------------
say "Composing the contact sheet"
SHEET="$DEMO/contact-sheet.png"
"$BUILD/host/demo/tev-contact-sheet" "$SHEET" --cell-width 480 \
  --row "8-bit PNG, frame 6: input | output (Brightness 1.15, Contrast 1.3, Saturation 1.6)" "$DEMO/clip/png8/clip_0006.png" "$DEMO/out/png8/clip_0006.png" \
  --row "16-bit PNG, frame 6: input | output" "$DEMO/clip/png16/clip_0006.png" "$DEMO/out/png16/clip_0006.png" \
  --row "32-bit float EXR, frame 6: input | output (shown clipped to 0..1)" "$DEMO/clip/exr/clip_0006.exr" "$DEMO/out/exr/clip_0006.exr" \
  --row "Type Tensor(GPU): the failure overlay" "$DEMO/clip/png8/clip_0006.png" "$DEMO/out/overlay/clip_0006.png"

cat <<EOF

== Done
Adjustment: Brightness 1.15, Contrast 1.3, Saturation 1.6, through $PLUGIN
  sample clip     $DEMO/clip/{png8,png16,exr}/clip_0001..0012
  rendered frames $DEMO/out/{png8,png16,exr}/
  failure overlay $DEMO/out/overlay/clip_0006.png
  Premiere Pro    $DEMO/out/premiere16/ (the 16-bit clip, driven as that host does)
  contact sheet   $SHEET
  plug-in log     $MAKER/Logs/ExamplePlugin_Adobe.log
  server output   $MAKER/Logs/launcher.log
The server exits by itself after ${IDLE:-600} s without requests; to stop it now: kill \$(cat $PID_FILE)
EOF
