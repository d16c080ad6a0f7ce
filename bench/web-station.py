#!/usr/bin/env python3
"""A station's live page under load: 24 units flashed at once under kestrel-vdev, with and
without --web, and with --web five followers of the page's event stream (as five open pages:
each reads the snapshot, then follows the stream and reads the snapshot again after every event
other than progress, as the page's script does).

Prints the station's CPU time (user + system of kestrel-cli station with its child upgrades) with
and without --web and their ratio (target < 1.05), the same for the station process alone (where
the pages are served, beside a parent that otherwise only waits), and how long after the
station stamped a progress event (its `time`, set when the child's report of the acknowledged
block reached the station) the followers had it: median and 95th percentile (target < 300 ms).

Usage: bench/web-station.py [BUILD_DIR] [RUNS]   (default build/release, else build/dev; 3)
"""
import datetime
import http.client
import json
import os
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
build = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build/release")
if len(sys.argv) <= 1 and not os.path.exists(os.path.join(build, "cli/kestrel-web.so")):
    build = os.path.join(ROOT, "build/dev")
runs = int(sys.argv[2]) if len(sys.argv) > 2 else 3
cli = os.path.join(build, "cli/kestrel-cli")
vdev = os.path.join(build, "vdev/kestrel-vdev")
for tool in (cli, vdev):
    if not os.access(tool, os.X_OK):
        sys.exit(f"missing {tool} (build it first)")
UNITS, PAGES = 24, 5
TICK = os.sysconf("SC_CLK_TCK")


def full_image(path):
    start, end = 16, 512
    data = bytearray(((i * 13) ^ (i >> 10)) & 0xFF for i in range(end * 1024))
    data[start * 1024:start * 1024 + 4] = b"PORI"
    data[end * 1024 - 8:] = b"ST" + bytes([0x41, 0x42, 0x43, 0x01, 0x44, 0x45])
    with open(path, "wb") as f:
        f.write(data)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def child_of(pid):
    for _ in range(200):
        try:
            with open(f"/proc/{pid}/task/{pid}/children") as f:
                kids = f.read().split()
            if kids:
                return int(kids[0])
        except OSError:
            pass
        time.sleep(0.05)
    sys.exit("the station did not start")


def cpu_seconds(pid):
    """The process's own CPU time, and with its waited-for children's."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    own = (int(fields[11]) + int(fields[12])) / TICK  # utime, stime
    return own, own + (int(fields[13]) + int(fields[14])) / TICK  # cutime, cstime


def finals(record):
    try:
        with open(record) as f:
            return sum(1 for line in f if '"event":"finished"' in line.replace(" ", ""))
    except OSError:
        return 0


def follower(port, latencies, stop):
    try:
        follow(port, latencies, stop)
    except (OSError, ValueError, http.client.HTTPException):
        pass  # the station stopped


def follow(port, latencies, stop):
    def state():
        c = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
        c.request("GET", "/api/v1/state")
        seq = json.loads(c.getresponse().read())["seq"]
        c.close()
        return seq
    after = state()
    c = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
    c.request("GET", f"/api/v1/events?after={after}")
    reply = c.getresponse()
    while not stop.is_set():
        line = reply.fp.readline()
        if not line:
            return
        if not line.startswith(b"data: "):
            continue
        now = datetime.datetime.now(datetime.timezone.utc)
        event = json.loads(line[6:])
        if event.get("event") == "progress":
            stamped = datetime.datetime.fromisoformat(event["time"].replace("Z", "+00:00"))
            latencies.append((now - stamped).total_seconds() * 1000)
        else:
            state()


def shift(work, image, web):
    record = os.path.join(work, f"r{time.monotonic_ns()}.jsonl")
    args = [vdev, "--devices", str(UNITS), "--", cli, "station", "--station", "bench",
            "--record", record]
    port = free_port()
    if web:
        args += ["--web", f"127.0.0.1:{port}"]
    vd = subprocess.Popen(args + [image], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    station = child_of(vd.pid)
    latencies, stop, threads = [], threading.Event(), []
    if web:
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                break
            except OSError:
                time.sleep(0.05)
        for _ in range(PAGES):
            t = threading.Thread(target=follower, args=(port, latencies, stop), daemon=True)
            t.start()
            threads.append(t)
    deadline = time.monotonic() + 600
    while finals(record) < UNITS:
        if time.monotonic() > deadline or vd.poll() is not None:
            vd.kill()
            sys.exit("the shift did not end")
        time.sleep(0.2)
    time.sleep(1.0)  # every child reaped
    cpu = cpu_seconds(station)
    stop.set()
    os.kill(station, signal.SIGINT)
    vd.wait(timeout=60)
    return cpu, latencies


with tempfile.TemporaryDirectory() as work:
    image = os.path.join(work, "full.bin")
    full_image(image)
    plain, web, latencies = [], [], []
    for _ in range(runs):
        cpu, _ = shift(work, image, False)
        plain.append(cpu)
        cpu, lat = shift(work, image, True)
        web.append(cpu)
        latencies += lat
    for name, i in (("station with its children", 1), ("station process alone", 0)):
        p = statistics.median(c[i] for c in plain)
        w = statistics.median(c[i] for c in web)
        print(f"CPU of the {name}, {UNITS} units (median of {runs}): {p:.2f} s without --web, "
              f"{w:.2f} s with --web and {PAGES} pages; ratio {w / p:.3f}")
    if latencies:
        latencies.sort()
        p95 = latencies[int(0.95 * (len(latencies) - 1))]
        print(f"progress event to the pages: median {statistics.median(latencies):.1f} ms, "
              f"p95 {p95:.1f} ms over {len(latencies)} events (target p95 < 300 ms)")
    else:
        print("no progress events reached the pages (does the station write its event stream?)")
