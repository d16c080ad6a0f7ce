#!/usr/bin/env python3
"""Production-line part of the fault soak: N random kestrel-cli runs under kestrel-vdev, each in
a private mount namespace whose record file sits on a small tmpfs, with SIGPIPE at its default:
one or two devices, `upgrade` or `upgrade --all`, a signal to kestrel-cli (none, INT, HUP, TERM,
KILL) at a random moment, the record's disk roomy, full, or nearly full (a started line cut
short), random device delays, and now and then a partial line left in the record first.
Checks after each case:
  - flashed without started: a device got a start frame that no started line of its drive
    precedes (counted per drive);
  - glued lines: a record line that is not one JSON object (besides the partial line the case
    itself left there);
  - invariant violations: a final line whose startedAt disagrees with its started line, two
    started or two final lines of one run, an ok run whose blocks or flash are incomplete.
Prints the counts; exits 1 when any is not 0.

Usage: line-soak.py N BUILD_DIR
"""
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile

n, build = int(sys.argv[1]), sys.argv[2]
cli, vdev = f"{build}/cli/kestrel-cli", f"{build}/vdev/kestrel-vdev"
START, END = 16, 36
PARTIAL = '{"cut'


def image(path):
    data = bytearray(((i * 13) ^ (i >> 10)) & 0xFF for i in range(END * 1024))
    data[START * 1024:START * 1024 + 4] = b"PORI"
    data[END * 1024 - 8:] = b"ST" + bytes([0x41, 0x42, 0x43, 0x01, 0x44, 0x45])
    open(path, "wb").write(data)
    return bytes(data)


def start_frames(log):
    if not os.path.exists(log):
        return 0
    count = 0
    for line in open(log, encoding="utf-8", errors="replace"):
        # The start frame: an 8-byte write whose byte 2 is FF.
        if "write(86) out 8 bytes: ok" in line and "[" in line:
            data = line.split("[", 1)[1].split()
            if len(data) > 2 and data[2].lower() == "ff":
                count += 1
    return count


counts = {"cases": 0, "flashed without started": 0, "glued lines": 0, "invariant violations": 0}
rng = random.Random(int(os.environ.get("SEED", "1")))
work = tempfile.mkdtemp()
img = image(f"{work}/image.bin")
env = dict(os.environ, ASAN_OPTIONS="verify_asan_link_order=0:detect_leaks=0")
try:
    for case in range(n):
        d = f"{work}/case"
        shutil.rmtree(d, ignore_errors=True)
        os.makedirs(f"{d}/mnt")
        devices = rng.choice([1, 2])
        command = rng.choice(["upgrade --yes", "upgrade --all --yes"])
        signal = rng.choice(["", "", "int", "hup", "term", "kill"])
        disk = rng.choice(["roomy", "roomy", "full", "short"])
        partial = rng.random() < 0.2
        vargs = ["--delay-ms", str(rng.choice([0, 1, 3]))]
        if signal:
            vargs += ["--at", f"{rng.randint(50, 1500)}:{signal}"]
        prefill = ""
        if disk == "short":
            prefill = '{"note":"' + "x" * 4000 + '"}\n'
        if partial:
            prefill += PARTIAL
        open(f"{d}/prefill", "w").write(prefill)
        fill = "" if disk == "roomy" else f"dd if=/dev/zero of={d}/mnt/fill bs=4096 2>/dev/null;"
        record = f"{d}/mnt/record.jsonl"
        line = (f"mount -t tmpfs -o size=64k tmpfs {d}/mnt && cp {d}/prefill {record} && "
                f"{{ {fill} true; }} && {vdev} --devices {devices} --log {d}/log "
                f"--flash-out {d}/flash {' '.join(vargs)} -- {cli} {command} --record {record} "
                f"{work}/image.bin; s=$?; cp {record} {d}/record.jsonl; exit $s")
        subprocess.run(["unshare", "-m", "--propagation", "private", "sh", "-c", line],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env,
                       preexec_fn=lambda: __import__("signal").signal(
                           __import__("signal").SIGPIPE, __import__("signal").SIG_DFL))
        counts["cases"] += 1
        drives = ["sdb", "sdc"][:devices]
        suffix = (lambda x: "") if devices == 1 else (lambda x: "." + x)
        started, finals, problems = {}, {}, []
        text = open(f"{d}/record.jsonl", encoding="utf-8", errors="replace").read()
        lines = text.split("\n")
        if lines[-1] == "":
            lines.pop()  # the file ends in a line end (or is empty)
        for raw in lines:
            if raw.startswith('{"note"') or raw == PARTIAL:
                continue
            try:
                obj = json.loads(raw)
                assert isinstance(obj, dict)
            except Exception:
                counts["glued lines"] += 1
                print(f"case {case}: not one JSON object: {raw[:120]!r}", file=sys.stderr)
                continue
            table = started if obj.get("event") == "started" else finals
            if obj["run"] in table:
                problems.append("two lines of one kind for a run")
            table[obj["run"]] = obj
        for run, final in finals.items():
            if (final["startedAt"] is not None) != (run in started):
                problems.append("startedAt disagrees with the started line")
            if final["result"] == "ok":
                flash = open(f"{d}/flash{suffix(final['drive'])}", "rb").read()
                if final["blocksSent"] != END - START or \
                        flash[START * 1024:END * 1024] != img[START * 1024:END * 1024]:
                    problems.append("ok run with an incomplete flash")
        for drive in drives:
            frames = start_frames(f"{d}/log{suffix(drive)}")
            lines = sum(1 for s in started.values() if s["drive"] == drive)
            if frames > lines:
                counts["flashed without started"] += frames - lines
        if problems:
            counts["invariant violations"] += len(problems)
            print(f"case {case}: {command} devices={devices} signal={signal} disk={disk}: "
                  + "; ".join(problems), file=sys.stderr)
finally:
    shutil.rmtree(work, ignore_errors=True)
print("production line: " + ", ".join(f"{k} {v}" for k, v in counts.items()))
sys.exit(0 if all(v == 0 for k, v in counts.items() if k != "cases") else 1)
