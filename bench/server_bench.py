"""Throughput of the reference server beside the C++ bench server, on the same 1080p frames.

    server_bench.py --server-src DIR --bench-server EXE --port N [--frames K] [--python EXE]
                    [--threads 1,2]

For each server (the reference server once per thread count of --threads), bit
depth (8, 16, 32) and number of concurrent clients (1, 4), client processes post
render calls of one 1920x1080 RGB frame and poll until the result arrives,
polling every 10 ms as the plug-in does (the bench server answers the call itself
with the frame, the reference server queues a job and adjusts it). Reported per
row: frames per second over the run; wall ms per frame (with one client, the
whole round trip of a frame); the server process's CPU time per frame (user +
system from /proc, all its threads), which is the server's own cost independent
of the clients sharing the machine; and for the reference server the median wall
time of a job (the adjustment of one frame), from its log.
"""
import argparse
import http.client
import multiprocessing
import os
import signal
import socket
import statistics
import tempfile
import subprocess
import sys
import time

import msgpack

WIDTH, HEIGHT, CHANNELS = 1920, 1080, 3
DEPTHS = (8, 16, 32)
CLIENTS = (1, 4)
PARAMS = {"brightness": 1.1, "contrast": 1.2, "saturation": 0.8, "enable_effect": True, "type": 1}
PENDING = {"result": {"result": "no_result_found"}}
POLL_SPACING = 0.010  # the plug-in's: one result poll every 10 ms


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


def post(conn, body):
    conn.request("POST", "/api", body=body, headers={"Content-Type": "application/x-msgpack"})
    response = conn.getresponse()
    data = response.read()
    if response.status != 200:
        raise RuntimeError(f"HTTP {response.status}: {data[:200]!r}")
    return msgpack.unpackb(data)


def client(port, depth, frames, index, start, queue):
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=60)
    body = render_body(depth, "job")
    start.wait()
    for n in range(frames):
        job_id = f"c{index}f{n:05d}"
        reply = post(conn, _with_id(body, job_id))
        if "status" in reply:
            poll = msgpack.packb({"method": "get_result", "for_request_id": job_id, "request_id": "p"})
            while True:
                polled = time.monotonic()
                if (reply := post(conn, poll)) != PENDING:
                    break
                time.sleep(max(0.0, polled + POLL_SPACING - time.monotonic()))
        image = reply["result"]["result"]["image"]
        if len(image["pixels"]) != WIDTH * HEIGHT * CHANNELS * depth // 8:
            raise RuntimeError("short frame")
    conn.close()
    queue.put(index)


def _with_id(body, job_id):
    """The request body with its request id replaced, without encoding the frame again."""
    old = msgpack.packb("job")
    key = msgpack.packb("request_id")
    at = body.index(key + old)
    return body[:at] + key + msgpack.packb(job_id) + body[at + len(key) + len(old):]


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def wait_listening(port, process):
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        if process.poll() is not None:
            raise RuntimeError(f"server exited with {process.returncode}")
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


def run_rows(name, command, port, frames, log=None):
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    rows = []
    try:
        wait_listening(port, process)
        for depth in DEPTHS:
            for clients in CLIENTS:
                per_client = max(1, frames // clients)
                # One warm-up frame per client, then the measured run.
                run_clients(port, depth, 1, clients)
                logged = os.path.getsize(log) if log else 0
                cpu0, t0 = cpu_seconds(process.pid), time.monotonic()
                run_clients(port, depth, per_client, clients)
                wall, cpu = time.monotonic() - t0, cpu_seconds(process.pid) - cpu0
                total = per_client * clients
                jobs = job_times(log, logged)
                job = statistics.median(jobs) if jobs else None
                rows.append((name, depth, clients, total / wall, wall / total * 1e3, cpu / total * 1e3, job))
                print(f"  {name:<28} {depth:>2}-bit  {clients} client(s)  {total / wall:6.1f} fps  "
                      f"{wall / total * 1e3:6.1f} ms wall/frame  {cpu / total * 1e3:6.1f} ms CPU/frame"
                      + (f"  {job:6.1f} ms job" if job is not None else ""), file=sys.stderr, flush=True)
    finally:
        process.send_signal(signal.SIGTERM)
        try:
            process.wait(10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
    return rows


def run_clients(port, depth, frames, clients):
    context = multiprocessing.get_context("fork")
    start, queue = context.Event(), context.Queue()
    workers = [context.Process(target=client, args=(port, depth, frames, i, start, queue))
               for i in range(clients)]
    for w in workers:
        w.start()
    start.set()
    for w in workers:
        w.join(300)
        if w.exitcode != 0:
            raise RuntimeError(f"a client failed (exit code {w.exitcode})")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--server-src", required=True, help="folder holding the tevserver package")
    parser.add_argument("--bench-server", help="tev_bench_server executable (row left out without it)")
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--frames", type=int, default=24, help="frames per row (shared by the clients)")
    parser.add_argument("--python", default=sys.executable)
    parser.add_argument("--threads", default="1,2", help="thread counts of the reference server's rows")
    args = parser.parse_args()

    rows = []
    with tempfile.TemporaryDirectory() as folder:
        for threads in [int(t) for t in args.threads.split(",")]:
            log = os.path.join(folder, f"server-{threads}.log")
            open(log, "w").close()
            reference = [args.python, "-I", "-c",
                         f"import sys;sys.path.insert(0,{args.server_src!r});from tevserver.cli import main;"
                         f"sys.exit(main(['--foreground','--port','{args.port}','--threads','{threads}',"
                         f"'--log',{log!r}]))"]
            rows += run_rows(f"reference server, {threads} thread(s)", reference, args.port, args.frames, log)
    if args.bench_server:
        rows += run_rows("C++ bench server (echo)", [args.bench_server, "--port", str(args.port)],
                         args.port, args.frames)

    print(f"\nServer throughput, {WIDTH}x{HEIGHT} RGB frames, render + poll over loopback "
          f"({os.cpu_count()} cores; CPU = the server process's user + system time; wall = the run's "
          "time per frame; job = the median wall time of the server's adjustment of one frame):\n")
    print("| server | bits | clients | frames/s | wall ms/frame | CPU ms/frame | job ms |")
    print("|---|---:|---:|---:|---:|---:|---:|")
    for name, depth, clients, fps, wall, cpu, job in rows:
        print(f"| {name} | {depth} | {clients} | {fps:.1f} | {wall:.1f} | {cpu:.1f} | "
              + (f"{job:.1f} |" if job is not None else "- |"))


if __name__ == "__main__":
    main()
