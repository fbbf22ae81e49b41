"""The processing-server kit per 1080p frame, beside the C++ echo server, before and after.

    server_bench.py --server-src DIR --port N [--bench-server EXE] [--before GITREF|DIR]
                    [--tev-host EXE --plugin FILE] [--frames K] [--threads 1,2] [--clients 1,4]
                    [--depths 8,16,32] [--only round-trip,adjustment,blur,plug-in] [--python EXE]

Three parts, each run for the kit in --server-src ("after") and, with --before,
for an earlier kit (a folder holding tevserver/ and examples/, or a git revision
of the repository the script is in, extracted to a temporary folder), in the
same run so that the two meet the same machine:

round-trip  A server process per kit and thread count (--threads), one per kit
            with a processing that only copies the frame (the kit's own cost,
            one client), then the echo server (tev_bench_server: answers the call
            at once with the frame it received, the transport's floor). 1 or 4 client processes (--clients)
            render 1920x1080 RGB frames at 8, 16 and 32 bits the way the plug-in
            does: the call, a get_result at once, then a cycle every 10 ms (a
            get_progress with each once 21 ms have passed). Per row: frames/s;
            wall ms per frame (one client: the whole round trip); the server
            process's CPU ms per frame (user + system of all its threads: its own
            cost whatever else runs); its minor page faults per frame (about 1500
            for each frame-sized buffer it touches fresh); the median "job done
            in" time from its log; and, for one client, "outside": wall less job
            less the echo server's wall at that depth, the kit's own cost of the
            trip (bodies, decoding, job board, polls, reply, the wait for a poll).
            All these servers run at once, on --port and the ports above it, and
            take turns in 4 rounds of each row's frames, so that each meets the
            machine in the same states.
adjustment  The reference adjustment alone on one thread, in a child process per
            kit: CPU ms per 1080p frame, cut in the kit's blocks of rows, as a
            multiple of one memcpy of the frame measured in the same process
            (saturation 0.8, the round trip's parameters; and saturation 1, whose
            channels do not mix).
blur        The example box blur (radius 8) through the kit's renderer on 1 and 2
            threads, in a child process per kit: frames/s and CPU ms per 8-bit
            1080p frame, and the speed-up of 2 threads.
plug-in     With --tev-host and --plugin (a build whose plug-in uses --port):
            tev-host renders 20 PNG frames of 1920x1080 8-bit RGB (stored, level
            0, so that the files cost little), and the same frames as float EXR
            files without compression (made by oiiotool; left out without it), through the real
            plug-in, one render
            thread, against each kit's server (2 threads) and the echo server
            (--touch: every frame comes back processed, so the host does the same
            work), two renders per server, the servers taking turns. Per row the
            median of the reports' seconds per frame, the first 8 of each render
            left out (warm-up); "share" is that less the echo server's: the
            server's share of a round trip through the plug-in, its wait for the
            plug-in's next poll included.

Every part renders 8 frames of a kind before it times any: the pool's buffers,
the adjustment's tables and the kit's trials of one thread against the split.

CPU times and ratios measured in one run are what compare on a loaded machine;
wall times and frames/s need a quiet one.
"""
import argparse
import http.client
import json
import multiprocessing
import os
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tarfile
import tempfile
import time
from pathlib import Path

import msgpack

WIDTH, HEIGHT, CHANNELS = 1920, 1080, 3
PARAMS = {"brightness": 1.1, "contrast": 1.2, "saturation": 0.8, "enable_effect": True, "type": 1}
PENDING = {"result": {"result": "no_result_found"}}
POLL_SPACING = 0.010      # the plug-in's: a poll cycle every 10 ms
PROGRESS_DELAY = 0.021    # the plug-in asks for progress once polling has run this long
BLUR_RADIUS = 8
BLUR_FRAMES = 24  # timed, after the warm-up; the speed-up is read from their median
# Frames rendered before any is timed: the pool's buffers, the tables, and the kit's
# trials of one thread against the split for frames of that kind.
WARM_UP_FRAMES = 8


def frame_pixels(depth):
    size = {8: 1, 16: 2, 32: 4}[depth]
    pattern = bytes((i * 37) & 0x7F for i in range(4096))  # below 0.5 as floats, below 32768 at 16 bits
    n = WIDTH * HEIGHT * CHANNELS * size
    return (pattern * (n // len(pattern) + 1))[:n]


def render_body(depth, job_id):
    image = {"TEV_Dict_Type": "Image", "width": WIDTH, "height": HEIGHT, "channels": CHANNELS,
             "bit_depth": depth, "pix_aspect_ratio": 1.0, "rowbytes": WIDTH * CHANNELS * depth // 8,
             "downsample": 1.0, "pixels_type": "float" if depth == 32 else "uint8",
             "pixels": frame_pixels(depth)}
    return msgpack.packb({"method": "call_plugin", "function_name": "render", "method_version": 1,
                          "request_id": job_id, "plugin_id": "Bench", "plugin_version": "1",
                          "tev_lib_version": "2",
                          "args": {"image": image, "params": PARAMS, "instance_id": "bench"}},
                         use_bin_type=True)


# --- round trip -------------------------------------------------------------

def post(conn, body):
    conn.request("POST", "/api", body=body, headers={"Content-Type": "application/x-msgpack"})
    response = conn.getresponse()
    data = response.read()
    if response.status != 200:
        raise RuntimeError(f"HTTP {response.status}: {data[:200]!r}")
    return msgpack.unpackb(data)


def client(port, depth, frames, index, start, queue):
    """Renders frames as the plug-in does (see the module's text)."""
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=60)
    body = bytearray(render_body(depth, "job-00000000"))
    at = body.index(b"job-00000000")
    start.wait(60)  # every client connected and ready (a client that fails breaks it for all)
    first_frame = time.monotonic()
    for n in range(frames):
        job_id = f"c{index:02d}f{n:08d}"  # 12 characters, as the placeholder
        body[at:at + 12] = job_id.encode()  # the same length: the frame is not encoded again
        reply = post(conn, body)
        if "status" in reply:
            poll = msgpack.packb({"method": "get_result", "for_request_id": job_id, "request_id": job_id})
            progress = msgpack.packb({"method": "get_progress", "for_request_id": job_id, "request_id": job_id})
            began = time.monotonic()
            while True:
                cycle = time.monotonic()
                if cycle - began > PROGRESS_DELAY:
                    post(conn, progress)
                if (reply := post(conn, poll)) != PENDING:
                    break
                time.sleep(max(0.0, cycle + POLL_SPACING - time.monotonic()))
        image = reply["result"]["result"]["image"]
        if len(image["pixels"]) != WIDTH * HEIGHT * CHANNELS * depth // 8:
            raise RuntimeError(f"a short frame: {reply!r:.200}")
    ended = time.monotonic()
    conn.close()
    queue.put((first_frame, ended))


def run_clients(port, depth, frames, clients):
    """Seconds from the clients' start to the last one's last frame (their processes' own
    start and end not counted)."""
    context = multiprocessing.get_context("fork")
    start, queue = context.Barrier(clients), context.Queue()
    workers = [context.Process(target=client, args=(port, depth, frames, i, start, queue))
               for i in range(clients)]
    for w in workers:
        w.start()
    for w in workers:
        w.join(300)
        if w.exitcode != 0:
            raise RuntimeError(f"a client failed (exit code {w.exitcode})")
    spans = [queue.get(timeout=10) for _ in workers]
    return max(end for _, end in spans) - min(begin for begin, _ in spans)


def process_counters(pid):
    """(CPU seconds, minor page faults) of a process, all its threads."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK"), int(fields[7])


def wait_listening(port, process):
    deadline = time.monotonic() + 20
    while time.monotonic() < deadline:
        if process.poll() is not None:
            raise RuntimeError(f"the server exited with {process.returncode}")
        try:
            socket.create_connection(("127.0.0.1", port), timeout=0.5).close()
            return
        except OSError:
            time.sleep(0.05)
    raise RuntimeError(f"nothing listens on port {port}")


def job_times(log, start):
    """Milliseconds of the jobs the log reports done after byte offset start."""
    if log is None:
        return []
    with open(log) as f:
        f.seek(start)
        return [float(line.split(" done in ")[1].split()[0]) for line in f if " done in " in line]


# Round-trip rows are measured in this many turns: every server takes a turn in each
# round, so that all meet the machine in the same states (a core's speed here drifts by
# a quarter within a minute).
ROUNDS = 4


class BenchServer:
    """A server process of the round trip on its own port, with its log (None for the echo server)."""

    def __init__(self, name, command, port, log=None, depths=None, clients=None):
        self.name, self.port, self.log = name, port, log
        self.depths, self.clients = depths, clients  # None: every depth and client count
        self.process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def serves(self, depth, clients):
        return (self.depths is None or depth in self.depths) and (self.clients is None or clients in self.clients)

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()



def print_choices(name, log):
    """How the kit chose to run the frames, from its log: split over threads or on one."""
    if log and os.path.exists(log):
        with open(log, errors="replace") as f:
            for line in f:
                if ": frames of " in line:
                    print(f"    {name}: {line.split(': frames of ', 1)[1].rstrip()}", file=sys.stderr, flush=True)


def round_trip_rows(servers, frames, depths, clients_list):
    """A row per server, depth and client count; the servers take turns in ROUNDS rounds."""
    rows = []
    for server in servers:
        wait_listening(server.port, server.process)
    for depth in depths:
        for clients in clients_list:
            taking = [server for server in servers if server.serves(depth, clients)]
            per_round = max(1, frames // clients // ROUNDS)
            sums = {server.name: {"wall": 0.0, "cpu": 0.0, "faults": 0, "jobs": []} for server in taking}
            for server in taking:
                run_clients(server.port, depth, max(1, WARM_UP_FRAMES // clients), clients)
            for _ in range(ROUNDS):
                for server in taking:
                    logged = os.path.getsize(server.log) if server.log else 0
                    cpu0, faults0 = process_counters(server.process.pid)
                    wall = run_clients(server.port, depth, per_round, clients)
                    cpu1, faults1 = process_counters(server.process.pid)
                    total = sums[server.name]
                    total["wall"] += wall
                    total["cpu"] += cpu1 - cpu0
                    total["faults"] += faults1 - faults0
                    total["jobs"] += job_times(server.log, logged)
            for server in taking:
                total, count = sums[server.name], per_round * clients * ROUNDS
                row = {"server": server.name, "bits": depth, "clients": clients, "fps": count / total["wall"],
                       "wall": total["wall"] / count * 1e3, "cpu": total["cpu"] / count * 1e3,
                       "faults": total["faults"] / count,
                       "job": statistics.median(total["jobs"]) if total["jobs"] else None}
                rows.append(row)
                print(f"  {server.name:<34} {depth:>2}-bit {clients} client(s) {row['fps']:6.1f} fps "
                      f"{row['wall']:6.1f} ms wall {row['cpu']:6.1f} ms CPU {row['faults']:7.0f} faults"
                      + (f" {row['job']:6.1f} ms job" if row["job"] is not None else ""),
                      file=sys.stderr, flush=True)
    for server in servers:
        print_choices(server.name, server.log)
    order = {server.name: i for i, server in enumerate(servers)}
    return sorted(rows, key=lambda r: order[r["server"]])


COPY_PROCESSING = """from tevserver import Processing

class Copy(Processing):
    name, fills_rows = "copy", True

    def rows(self, src, dst, top, bottom, params, bit_depth):
        dst[top:bottom] = src[top:bottom]

COPY = Copy()
"""


def reference_command(python, source, port, threads, log, process=None):
    extra = f",'--process',{process!r}" if process else ""
    return [python, "-I", "-c",
            f"import sys;sys.path.insert(0,{str(source)!r});from tevserver.cli import main;"
            f"sys.exit(main(['--foreground','--port','{port}','--threads','{threads}','--log',{log!r},"
            f"'--idle-seconds','600'{extra}]))"]


def with_outside(rows):
    """Adds "outside" (wall less job less the echo's wall, one client) to the reference rows."""
    echo = {r["bits"]: r["wall"] for r in rows if r["server"].startswith("echo") and r["clients"] == 1}
    for r in rows:
        r["outside"] = (r["wall"] - r["job"] - echo[r["bits"]]
                        if r["clients"] == 1 and r["job"] is not None and r["bits"] in echo else None)
    return rows


def print_round_trip(rows):
    print(f"\nRound trip of {WIDTH}x{HEIGHT} RGB frames, polled as the plug-in does ({os.cpu_count()} cores; "
          "CPU and faults: the server process's, per frame; job: median of the server's log; "
          "outside: wall - job - echo wall):\n")
    print("| server | bits | clients | frames/s | wall ms | CPU ms | faults | job ms | outside ms |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|---:|")
    for r in rows:
        def num(key):
            return "-" if r.get(key) is None else f"{r[key]:.1f}"
        print(f"| {r['server']} | {r['bits']} | {r['clients']} | {r['fps']:.1f} | {r['wall']:.1f} | "
              f"{r['cpu']:.1f} | {r['faults']:.0f} | {num('job')} | {num('outside')} |")


# --- the adjustment and the blur in a child process per kit ------------------

PRELUDE = r"""
import json, sys, time
import numpy as np
sys.path.insert(0, sys.argv[1])
try:  # the process as that kit's server sets it up (an earlier kit set the allocator's thresholds)
    from tevserver.budget import map_large_blocks_alone
    map_large_blocks_alone()
except ImportError:
    pass
"""

ADJUSTMENT_CHILD = PRELUDE + r"""
from tevserver.adjust import RenderParams, adjust_block
W, H, C, REPEATS = 1920, 1080, 3, int(sys.argv[2])

def cpu_ms(work):
    best = float("inf")
    for _ in range(REPEATS):
        t = time.process_time()
        work()
        best = min(best, time.process_time() - t)
    return best * 1e3

out = {}
rng = np.random.default_rng(5)
for depth, kind in ((8, np.uint8), (16, np.uint16), (32, np.float32)):
    src = (rng.random((H, W, C), dtype=np.float32) if depth == 32
           else rng.integers(0, 256 if depth == 8 else 32769, (H, W, C)).astype(kind))
    dst = np.empty_like(src)
    rows = max(1, (1 << 18) // (W * C))  # the kit's blocks
    memcpy = min(cpu_ms(lambda: np.copyto(dst, src)) for _ in range(4))
    for saturation in (0.8, 1.0):
        params = RenderParams(1.1, 1.2, saturation, True, 1)
        def adjust():
            for top in range(0, H, rows):
                adjust_block(src[top:top + rows], dst[top:top + rows], params, depth)
        adjust()
        out[f"{depth}/{saturation}"] = {"memcpy": memcpy, "adjust": cpu_ms(adjust)}
print(json.dumps(out))
"""

PASSES_CHILD = PRELUDE + r"""
from tevserver.adjust import LUMA, PASS_PIXELS
W, H, REPEATS = 1920, 1080, int(sys.argv[2])
n, passes = PASS_PIXELS, -(-W * H // PASS_PIXELS)
rng = np.random.default_rng(5)
src = rng.integers(0, 256, (n, 3)).astype(np.uint8)
out, x, products, shift = np.empty_like(src), np.empty((n, 3)), np.empty((n, 3)), np.empty(n)
weights, low, high = np.tile(np.array(LUMA), (n, 1)), np.zeros((n, 3)), np.full((n, 3), 255.0)
frame_in, frame_out = rng.integers(0, 256, W * H * 3).astype(np.uint8), np.empty(W * H * 3, np.uint8)

def per_frame(step):  # CPU ms of one operation over a whole frame's passes, the best of REPEATS
    best = float("inf")
    for _ in range(REPEATS):
        t = time.process_time()
        for _ in range(passes):
            step()
        best = min(best, time.process_time() - t)
    return best * 1e3

steps = [
    ("samples to float64", lambda: np.copyto(x, src)),
    ("luma products (3 per pixel)", lambda: np.multiply(x, weights, out=products)),
    ("luma sums (2, strided)", lambda: (np.add(products[:, 0], products[:, 1], out=shift),
                                        np.add(shift, products[:, 2], out=shift))),
    ("k2 * L + t", lambda: (np.multiply(shift, 0.3, out=shift), np.add(shift, 7.0, out=shift))),
    ("k1 * x", lambda: np.multiply(x, 1.1, out=x)),
    ("+ (k2 * L + t) per channel (strided)", lambda: [np.add(x[:, c], shift, out=x[:, c]) for c in range(3)]),
    ("clip to 0..255", lambda: (np.minimum(x, high, out=x), np.maximum(x, low, out=x))),
    ("round half to even", lambda: np.rint(x, out=x)),
    ("float64 to samples", lambda: np.copyto(out, x, casting="unsafe")),
]
def memcpy_ms():
    t = time.process_time()
    np.copyto(frame_out, frame_in)
    return (time.process_time() - t) * 1e3

memcpy = min(memcpy_ms() for _ in range(20))
print(json.dumps({"memcpy": memcpy, "steps": [[name, per_frame(step)] for name, step in steps]}))
"""

BLUR_CHILD = PRELUDE + r"""
import importlib.util
from tevserver.budget import MemoryBudget
from tevserver.image import Frame
from tevserver.pool import FramePool
from tevserver.render import RenderOptions, Renderer
found = importlib.util.spec_from_file_location("box_blur", sys.argv[2])
module = importlib.util.module_from_spec(found)
found.loader.exec_module(module)
import logging
choices = []  # the kit's choice of threads for the frames, where it makes one

class Noted(logging.Handler):
    def emit(self, record): choices.append(record.getMessage())

logging.getLogger("tevserver.split").addHandler(Noted())
logging.getLogger("tevserver.split").setLevel(logging.INFO)
FRAMES, RADIUS, WARM_UP = int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5])

class Job:  # what Renderer.run asks of a job; the output goes back to the pool, as in the server
    def __init__(self): self.kept = []
    def report(self, percent): pass
    def check_abort(self): pass
    def keep(self, loan): self.kept.append(loan); return loan
    def release(self):
        for loan in self.kept: loan.release()

def render(renderer):
    job = Job()
    renderer.run(frame, params, job)
    job.release()

pixels = np.random.default_rng(3).integers(0, 256, 1920 * 1080 * 3).astype(np.uint8).tobytes()
frame = Frame(1920, 1080, 3, 8, 1.0, 1920 * 3, 1.0, pixels)
params = module.BLUR.check({"brightness": RADIUS / 4, "enable_effect": True})
# The two renderers take turns frame by frame, so that both meet the machine as it is
# (a core's speed here drifts by a quarter within a minute).
renderers = {threads: Renderer(module.BLUR, RenderOptions(threads=threads), FramePool(MemoryBudget(1 << 30)).lend)
             for threads in (1, 2)}
walls, cpu = {threads: [] for threads in renderers}, dict.fromkeys(renderers, 0.0)
for frame_number in range(WARM_UP + FRAMES):
    for threads, renderer in renderers.items():
        t, c = time.perf_counter(), time.process_time()
        render(renderer)
        if frame_number >= WARM_UP:
            walls[threads].append(time.perf_counter() - t)
            cpu[threads] += time.process_time() - c
out = {threads: {"fps": 1 / sorted(walls[threads])[FRAMES // 2], "cpu": cpu[threads] / FRAMES * 1e3}
       for threads in renderers}
for renderer in renderers.values():
    renderer.close()
out["choices"] = choices
print(json.dumps(out))
"""


def child_json(python, code, *args):
    done = subprocess.run([python, "-I", "-c", code, *map(str, args)], capture_output=True, text=True,
                          timeout=600)
    if done.returncode != 0:
        raise RuntimeError(f"a bench child failed: {done.stderr.strip()[-2000:]}")
    return json.loads(done.stdout)


def print_adjustment(results):
    print("\nThe adjustment alone, one thread, CPU ms per 1920x1080x3 frame in the kit's blocks "
          "(x memcpy: over one memcpy of the frame in the same process):\n")
    print("| kit | bits | saturation | memcpy ms | adjustment ms | x memcpy |")
    print("|---|---:|---:|---:|---:|---:|")
    for name, result in results:
        for key, r in result.items():
            depth, saturation = key.split("/")
            print(f"| {name} | {depth} | {saturation} | {r['memcpy']:.2f} | {r['adjust']:.1f} | "
                  f"{r['adjust'] / r['memcpy']:.1f} |")


def print_passes(result):
    print("\nWhere the float64 passes of an 8-bit frame go (the adjustment's operations, each timed "
          "alone over a 1920x1080x3 frame's passes, CPU ms; x memcpy as above):\n")
    print("| operation | ms | x memcpy |")
    print("|---|---:|---:|")
    for name, ms in result["steps"]:
        print(f"| {name} | {ms:.2f} | {ms / result['memcpy']:.1f} |")
    total = sum(ms for _, ms in result["steps"])
    print(f"| all | {total:.2f} | {total / result['memcpy']:.1f} |")


def print_blur(results):
    print(f"\nThe example box blur (radius {BLUR_RADIUS}) through the kit's renderer, 1920x1080x3 8-bit "
          "(frames/s from the median wall time; CPU ms per frame, all threads):\n")
    print("| kit | threads | frames/s | CPU ms | speed-up |")
    print("|---|---:|---:|---:|---:|")
    for name, result in results:
        for choice in result.pop("choices", []):
            print(f"    {name}: {choice}", file=sys.stderr, flush=True)
        one = result["1"]["fps"]
        for threads, r in result.items():
            print(f"| {name} | {threads} | {r['fps']:.2f} | {r['cpu']:.0f} | {r['fps'] / one:.2f} |")


# --- through the plug-in ------------------------------------------------------

PLUGIN_FRAMES = 20
PLUGIN_ROUNDS = 2  # renders per server, the servers taking turns


def write_png(path, depth_bytes):
    """An 8-bit RGB PNG of the bench's frame, stored (no compression), rows unfiltered."""
    import struct
    import zlib

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    row = WIDTH * CHANNELS
    raw = b"".join(b"\0" + depth_bytes[y * row:(y + 1) * row] for y in range(HEIGHT))
    path.write_bytes(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", WIDTH, HEIGHT, 8, 2, 0, 0, 0))
                     + chunk(b"IDAT", zlib.compress(raw, 0)) + chunk(b"IEND", b""))


def plugin_seconds(command, port, tev_host, plugin, folder, extension):
    """The seconds of each frame after the warm-up of one tev-host render of the folder's
    in_NNNN.<extension> frames against the server that command starts (stopped afterwards)."""
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    report = Path(folder) / "report.jsonl"
    try:
        wait_listening(port, process)
        done = subprocess.run([tev_host, "render", plugin, "--in", f"{folder}/in_%04d.{extension}",
                               "--out", f"{folder}/out_%04d.{extension}", "--threads", "1", "--png-level", "0",
                               "--no-progress", "--report", str(report), "--set", "Enable Effect=on",
                               "--set", "Brightness=1.1", "--set", "Contrast=1.2", "--set", "Saturation=0.8"],
                              capture_output=True, text=True, timeout=600)
        if done.returncode != 0:
            raise RuntimeError(f"tev-host failed ({done.returncode}): {done.stderr.strip()[-1000:]}")
        records = [json.loads(line) for line in report.read_text().splitlines()]
        seconds = [r["seconds"] for r in records if "frame" in r and r.get("verdict") == "processed"]
        if len(seconds) != PLUGIN_FRAMES:
            raise RuntimeError(f"{len(seconds)} of {PLUGIN_FRAMES} frames processed: {records[-1]}")
        return seconds[WARM_UP_FRAMES:]
    finally:
        process.send_signal(signal.SIGTERM)
        try:
            process.wait(10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def print_plugin(rows):
    echo = {r["bits"]: r["frame"] for r in rows if r["server"].startswith("echo")}
    print(f"\nThrough the plug-in: tev-host renders {PLUGIN_FRAMES} frames of {WIDTH}x{HEIGHT} RGB (8 bits: PNG; "
          "32: float EXR), one render thread (median ms per frame from its reports; share: less the echo "
          "server's):\n")
    print("| server | bits | ms per frame | share ms |")
    print("|---|---:|---:|---:|")
    for r in rows:
        against = None if r["server"].startswith("echo") else echo.get(r["bits"])
        share = "-" if against is None else f"{r['frame'] - against:.1f}"
        print(f"| {r['server']} | {r['bits']} | {r['frame']:.1f} | {share} |")


# --- the kits ---------------------------------------------------------------

def before_tree(before, folder):
    """The folder of the earlier kit: before itself, or before as a git revision extracted into folder."""
    if os.path.isdir(before):
        return Path(before)
    repository = Path(__file__).resolve().parent.parent
    archive = Path(folder) / "before.tar"
    with open(archive, "wb") as f:
        done = subprocess.run(["git", "-C", str(repository), "archive", before, "server/tevserver",
                               "server/examples"], stdout=f, stderr=subprocess.PIPE, text=True)
    if done.returncode != 0:
        raise RuntimeError(f"--before {before}: {done.stderr.strip()}")
    with tarfile.open(archive) as tar:
        tar.extractall(folder)
    return Path(folder) / "server"


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--server-src", required=True, help="folder holding the tevserver package (after)")
    parser.add_argument("--before", help="the earlier kit: a folder like --server-src, or a git revision")
    parser.add_argument("--bench-server", help="tev_bench_server executable (its rows left out without it)")
    parser.add_argument("--port", type=int, required=True,
                        help="the plug-in's port; the round trip's servers take it and the ports above it")
    parser.add_argument("--frames", type=int, default=24, help="frames per round-trip row (shared by the clients)")
    parser.add_argument("--python", default=sys.executable)
    parser.add_argument("--threads", default="1,2", help="thread counts of the reference server's rows")
    parser.add_argument("--clients", default="1,4")
    parser.add_argument("--depths", default="8,16,32")
    parser.add_argument("--tev-host", help="tev-host executable (the plug-in part needs it)")
    parser.add_argument("--plugin", help="the plug-in that tev-host loads; it must use --port")
    parser.add_argument("--only", default="adjustment,blur,round-trip,plug-in")
    args = parser.parse_args()
    parts = set(args.only.split(","))
    numbers = {key: [int(v) for v in getattr(args, key).split(",")] for key in ("threads", "clients", "depths")}

    with tempfile.TemporaryDirectory() as folder:
        kits = [("after", Path(args.server_src).resolve())]
        if args.before:  # "" (CMake's empty setting) leaves them out
            try:
                kits.insert(0, ("before", before_tree(args.before, folder)))
            except RuntimeError as e:
                print(f"server_bench: no before rows: {e}", file=sys.stderr)
        if "adjustment" in parts:
            print_adjustment([(name, child_json(args.python, ADJUSTMENT_CHILD, tree, 5)) for name, tree in kits])
            print_passes(child_json(args.python, PASSES_CHILD, kits[-1][1], 3))
        if "blur" in parts:
            print_blur([(name, child_json(args.python, BLUR_CHILD, tree, tree / "examples" / "box_blur.py", BLUR_FRAMES,
                                          BLUR_RADIUS, WARM_UP_FRAMES)) for name, tree in kits])
        if "round-trip" in parts:
            copy = Path(folder) / "copy_processing.py"
            copy.write_text(COPY_PROCESSING)
            servers = []

            def add(name, command, log=None, **only):
                port = args.port + len(servers)
                if log:
                    open(log, "w").close()
                servers.append(BenchServer(name, command(port), port, log, **only))

            try:
                for name, tree in kits:
                    for threads in numbers["threads"]:
                        log = os.path.join(folder, f"{name}-{threads}.log")
                        add(f"{name}: reference, {threads} thread(s)",
                            lambda port: reference_command(args.python, tree, port, threads, log), log)
                    log = os.path.join(folder, f"{name}-copy.log")
                    add(f"{name}: copy, 1 thread",
                        lambda port: reference_command(args.python, tree, port, 1, log, f"{copy}:COPY"), log,
                        clients=[1])
                if args.bench_server:
                    add("echo (C++ bench server)", lambda port: [args.bench_server, "--port", str(port)])
                rows = round_trip_rows(servers, args.frames, numbers["depths"], numbers["clients"])
            finally:
                for server in servers:
                    server.stop()
            print_round_trip(with_outside(rows))
        if "plug-in" in parts and args.tev_host and args.plugin:
            frames = Path(folder) / "frames"
            frames.mkdir()
            pixels = frame_pixels(8)
            for n in range(1, PLUGIN_FRAMES + 1):
                write_png(frames / f"in_{n:04d}.png", pixels)
            kinds = [(8, "png")]
            if shutil.which("oiiotool"):  # the same frames as float EXR files
                made = subprocess.run(["oiiotool", "--frames", f"1-{PLUGIN_FRAMES}", f"{frames}/in_#.png",
                                       "-d", "float", "--compression", "none", "-o", f"{frames}/in_#.exr"],
                                      capture_output=True, text=True)
                if made.returncode == 0:
                    kinds.append((32, "exr"))
                else:
                    print(f"server_bench: no 32-bit rows through the plug-in: oiiotool: {made.stderr.strip()}",
                          file=sys.stderr)
            else:
                print("server_bench: no 32-bit rows through the plug-in: oiiotool is not installed",
                      file=sys.stderr)
            logs = {f"{name}: reference, 2 threads": os.path.join(folder, f"{name}-plugin.log") for name, _ in kits}
            servers = [(server, reference_command(args.python, tree, args.port, 2, log))
                       for (server, log), (_, tree) in zip(logs.items(), kits)]
            if args.bench_server:
                servers.append(("echo (C++ bench server, --touch)",
                                [args.bench_server, "--port", str(args.port), "--touch"]))
            rows = []
            for bits, extension in kinds:
                seconds = {name: [] for name, _ in servers}
                for _ in range(PLUGIN_ROUNDS):  # the servers take turns, as in the round trip
                    for name, command in servers:
                        seconds[name] += plugin_seconds(command, args.port, args.tev_host, args.plugin, frames,
                                                        extension)
                for name, _ in servers:
                    rows.append({"server": name, "bits": bits, "frame": statistics.median(seconds[name]) * 1e3})
                    print(f"  {name:<34} {bits:>2}-bit {rows[-1]['frame']:6.1f} ms per frame through the plug-in",
                          file=sys.stderr, flush=True)
            for name, log in logs.items():
                print_choices(name, log)
            print_plugin(rows)


if __name__ == "__main__":
    main()
