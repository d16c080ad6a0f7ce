#!/usr/bin/env bash
# Two stations (two virtual device instances, each with its own kestrel-cli station) on one
# PostgreSQL database on a throwaway server:
#   1. a unit moved from station A's fixture to B's while A flashes it is refused at B ("being
#      upgraded at A") and, once A's run is over, left alone there as done ("already upgraded
#      at A"); B's device never gets a start frame;
#   2. the server stopped mid-shift and started again: a unit that arrives meanwhile waits, no
#      unit gets a start frame without its started row, every final row arrives;
#   3. report's totals equal the runs;
#   4. two boards with one serial under --all: both flashed, each claimed by its port, both rows
#      flagged duplicate.
# The event streams of the stations and of --all are checked against their schema.
#   two-stations.sh BUILD_DIR
set -euo pipefail
build=$1
cli=$build/cli/kestrel-cli
vdev=$build/vdev/kestrel-vdev
here=$(cd "$(dirname "$0")" && pwd)
. "$here/server.sh"
work=$(mktemp -d /tmp/kestrel-stations-XXXXXX)
trap 'pg_cleanup; rm -rf "$work"' EXIT
export XDG_STATE_HOME=$work/state  # where final rows wait while the server is away
pg_setup
pg_start
url=$(pg_createdb line)

# Blocks 16..200: about 2.8 s of protocol time per unit.
pg_test_image "$work/fw.bin" 200

fail() { pg_test_fail two-stations "$@"; }
# Start frames (command FF) in a device's request log.
start_frames() { grep -c 'write(86) out 8 bytes: .*\[F6 00 FF ' "$1" || true; }
# psql on the throwaway server, one value per line.
q() { pg_as "$pg_bin/psql" -h "$PG_DIR" -U "$PG_USER" -d line -tA -c "$1"; }

station() {  # NAME VDEV_OPTIONS... -- (station options follow after --)
  local name=$1; shift
  local vopts=()
  while [ "$1" != "--" ]; do vopts+=("$1"); shift; done
  shift
  "$vdev" --log "$work/$name.log" "${vopts[@]}" -- "$cli" station --db "$url" --station "$name" \
    "$@" "$work/fw.bin" >"$work/$name.out" 2>"$work/$name.err" </dev/null
}

# 1. MOVED1 sits at A from the start; a unit with its serial turns up at B 1 s later, while A
# still flashes it.
station A --devices 1 --on '1:--serial MOVED1' --at 6000:int -- &
a=$!
station B --devices 1 --on '1:--serial MOVED1' --at 1000:+1 --at 6000:int -- &
b=$!
wait $a || fail "station A ended with $?"
wait $b || true
grep -q "being upgraded at A" "$work/B.out" || fail "B did not see A's claim"
grep -q "already upgraded at A on " "$work/B.out" || fail "B did not leave the done unit alone"
[ "$(start_frames "$work/A.log")" -eq 1 ] || fail "A: expected one start frame"
[ "$(start_frames "$work/B.log")" -eq 0 ] || fail "B flashed a unit A was flashing or had done"
[ "$(q "SELECT count(*) FROM runs WHERE serial = 'MOVED1' AND result = 'ok'")" -eq 1 ] ||
  fail "expected one ok run of MOVED1"

# 2. Three units at A: one at once, one at 2.5 s, one at 5 s; the server stops at 1 s (A's first
# run going) and comes back at 4 s.
station A --devices 3 --on '1:--serial S1' --on '2:--serial S2' --on '3:--serial S3' \
  --at 2500:+2 --at 5000:+3 --at 12000:int -- --max-attempts 3 --events "$work/A2.events" &
a=$!
sleep 1
pg_stop
sleep 3
pg_start
wait $a || fail "station A ended with $? after the server came back"
grep -q "station: the database does not answer" "$work/A.out" || fail "A did not say the database was away"
[ "$(grep -c "station: the database does not answer" "$work/A.out")" -eq 1 ] || fail "said more than once"
grep -q "station: the database answers again" "$work/A.out" || fail "A did not see the database back"
for drive in sdb sdc sdd; do
  serial=S$(( $(printf '%d' "'${drive:2:1}") - 97 ))
  frames=$(start_frames "$work/A.log.$drive")
  rows=$(q "SELECT count(*) FROM runs WHERE serial = '$serial' AND started_at IS NOT NULL")
  [ "$frames" -ge 1 ] || fail "$serial was never flashed"
  [ "$frames" -le "$rows" ] || fail "$serial: $frames start frames, $rows started rows"
done
[ "$(q "SELECT count(*) FROM runs WHERE finished_at IS NULL")" -eq 0 ] || fail "a final row is missing"
[ "$(q "SELECT count(*) FROM runs WHERE result = 'ok' AND serial IN ('S1','S2','S3')")" -eq 3 ] ||
  fail "expected three ok runs"

# 3. The report counts every run once.
runs=$(q "SELECT count(*) FROM runs")
"$cli" report --json "$url" >"$work/report.json" || fail "report failed"
python3 - "$work/report.json" "$runs" <<'PY' || fail "report totals differ from the runs"
import json, sys
report = json.load(open(sys.argv[1]))
runs = int(sys.argv[2])
totals = report["totals"]
assert totals["runs"] == runs, (totals, runs)
assert sum(s["runs"] for s in report["byStation"]) == runs
assert sum(h["runs"] for h in report["byHour"]) == runs
assert totals["interrupted"] == 0
PY
# 4. Two boards with one serial at once.
"$vdev" --devices 2 --on '1:--serial SAME' --on '2:--serial SAME' --log "$work/dup.log" -- \
  "$cli" upgrade --all --yes --db "$url" --station D --events "$work/dup.events" "$work/fw.bin" \
  >"$work/dup.out" 2>"$work/dup.err" || fail "the two boards were not both flashed"
[ "$(q "SELECT count(*) FROM runs WHERE serial = 'SAME' AND duplicate_serial = 1 AND result = 'ok'")" -eq 2 ] ||
  fail "expected two ok rows of SAME flagged duplicate"
schema=$here/../../doc/kestrel-events-v1.schema.json
"$here/../support/validate-events" "$schema" "$work/A2.events" "$work/dup.events" ||
  fail "an event stream broke its schema"
echo "two-stations: moved unit claimed once, done unit skipped, server restart lost nothing ($runs runs)"
