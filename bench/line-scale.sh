#!/usr/bin/env bash
# A line at scale: STATIONS simulated stations of SLOTS slots each (default 50 x 24: 1,200 unit
# runs at once) against one throwaway PostgreSQL server with Debian's default max_connections
# (100). Each station is a process going through the station's own ledger path (kestrel_line_scale:
# one connection whatever the slots, the record file, a timed stand-in for the device). Prints
# every unit recorded or not, "too many clients" seen or not, the most client connections the
# server had at once, claim latency p50/p95/p99 (goal: p99 < 50 ms) and runs per second.
#
# Usage: bench/line-scale.sh [BUILD_DIR] [STATIONS] [SLOTS] [RUNS-PER-SLOT] [RUN-MS]
#        (default build/release, 50, 24, 4, 200)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
stations=${2:-50}
slots=${3:-24}
per_slot=${4:-4}
run_ms=${5:-200}
scale=$build/bench/kestrel_line_scale
[[ -x $scale ]] || { echo "missing $scale (configure with KESTREL_BENCH=ON; build kestrel_line_scale)" >&2; exit 2; }
. "$root/tests/postgres/server.sh"
work=$(mktemp -d /tmp/kestrel-line-scale-XXXXXX)
chmod 777 "$work"
trap 'pg_cleanup; rm -rf "$work"' EXIT
export XDG_STATE_HOME=$work/state
pg_setup
pg_as "$pg_bin/pg_ctl" -D "$PG_DIR/data" -l "$PG_DIR/server.log" -w -t 30 \
  -o "-k $PG_DIR -c listen_addresses='' -c max_connections=100" start >/dev/null
url=$(pg_createdb line)
psql_line() { pg_as "$pg_bin/psql" -h "$PG_DIR" -U "$PG_USER" -d line -Atc "$1"; }
# The schema made once, as the first station of a shift would.
"$scale" "$url" warmup 1 1 0 "$work/warmup.jsonl" >/dev/null

# The most client connections at once, sampled while the stations run.
peak=$work/peak
echo 0 >"$peak"
( while [ ! -f "$work/done" ]; do
    n=$(psql_line "SELECT count(*) FROM pg_stat_activity WHERE backend_type = 'client backend'" 2>/dev/null || echo 0)
    [ "$n" -gt "$(cat "$peak")" ] && echo "$n" >"$peak"
  done ) &
sampler=$!
start=$(date +%s.%N)
pids=()
for i in $(seq 1 "$stations"); do
  nice "$scale" "$url" "st$i" "$slots" "$per_slot" "$run_ms" "$work/st$i.jsonl" \
    >"$work/st$i.out" 2>"$work/st$i.err" &
  pids+=($!)
done
failed=0
for pid in "${pids[@]}"; do wait "$pid" || failed=$((failed + 1)); done
end=$(date +%s.%N)
touch "$work/done"
wait "$sampler" || true  # the sampler's last comparison decides its status

expected=$((stations * slots * per_slot))
rows=$(psql_line "SELECT count(*) FROM runs WHERE station <> 'warmup' AND result = 'ok'")
claims=$(psql_line "SELECT count(*) FROM claims")
lines=$(cat "$work"/st*.jsonl | grep -c '"event":"finished"' || true)
too_many=$(cat "$work"/st*.err "$PG_DIR/server.log" | grep -c "too many clients" || true)
python3 - "$work" "$expected" "$rows" "$lines" "$claims" "$too_many" "$(cat "$peak")" \
  "$stations" "$start" "$end" "$failed" <<'PY'
import glob, re, sys
work, expected, rows, lines, claims, too_many, peak, stations, start, end, failed = sys.argv[1:]
lat = []
for path in glob.glob(work + "/st*.out"):
    for line in open(path):
        m = re.search(r"p50=([\d.]+) p95=([\d.]+) p99=([\d.]+) max=([\d.]+)", line)
        if m: lat.append(tuple(float(x) for x in m.groups()))
# Per-station percentiles, summarised over the stations: the median station's p50, the worst
# station's p95, p99 and max.
p50 = sorted(l[0] for l in lat)[len(lat) // 2] if lat else 0
p95 = max((l[1] for l in lat), default=0)
p99 = max((l[2] for l in lat), default=0)
mx = max((l[3] for l in lat), default=0)
seconds = float(end) - float(start)
expected, rows, lines = int(expected), int(rows), int(lines)
ok = (rows == expected and lines == expected and int(claims) == 0 and int(too_many) == 0
      and int(peak) <= 2 * int(stations) + 1 and int(failed) == 0)
print(f"{stations} stations x {expected // int(stations)} runs: {rows}/{expected} rows ok in the "
      f"database, {lines}/{expected} final lines in the record files, {claims} claims left, "
      f"'too many clients' {too_many}x, peak client connections {peak} (sampler included), "
      f"stations failed {failed}")
print(f"claim latency ms: p50 {p50:.1f} (median station), p95 {p95:.1f}, p99 {p99:.1f}, "
      f"max {mx:.1f} (worst station); {rows / seconds:.0f} runs/s over {seconds:.1f} s")
print("invariants held" if ok else "INVARIANTS BROKEN")
sys.exit(0 if ok else 1)
PY
