#!/usr/bin/env bash
# The unit database on SQLite end to end, under the virtual device:
#   1. upgrade --all's children write one database file at once: every run has its started and
#      final row;
#   2. two stations on one file: a unit moved from A's fixture to B's while A flashes it is
#      refused at B ("being upgraded at A") and then left alone as done; B sends it nothing;
#   3. --max-attempts: a unit that failed twice anywhere is held back; B's device gets nothing;
#   4. a child that cannot use the database leaves its unit waiting, not failed;
#   5. a hand-run upgrade of a unit another station is flashing is left alone: no start frame,
#      and no line in its record file (it had no run there);
#   6. two boards with one serial under --all: both flashed, each claimed by its port, both rows
#      flagged duplicate;
#   7. --identity attachment: a board plugged in where one with its serial was just flashed is
#      flashed too (by serial it would be "already upgraded");
#   8. line --web on a read-only file leaves it unchanged; a missing file is refused.
#   unit-database.sh BUILD_DIR
set -euo pipefail
build=$1
cli=$build/cli/kestrel-cli
vdev=$build/vdev/kestrel-vdev
src=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d /tmp/kestrel-unitdb-XXXXXX)
trap 'rm -rf "$work"' EXIT
db=sqlite:$work/line.db

python3 - "$work/fw.bin" <<'PY'
import sys
start, end = 16, 200
data = bytearray(((i * 7) ^ (i >> 9)) & 0xFF for i in range(end * 1024))
data[start * 1024:start * 1024 + 4] = b"PORI"
data[end * 1024 - 8:] = b"ST" + bytes([0x41, 0x42, 0x43, 0x01, 0x44, 0x45])
open(sys.argv[1], "wb").write(data)
PY

fail() {
  echo "unit-database: $*" >&2
  for f in "$work"/*.out "$work"/*.err; do [ -f "$f" ] && sed "s|^|  $(basename "$f"): |" "$f" >&2; done
  exit 1
}
start_frames() { grep -c 'write(86) out 8 bytes: .*\[F6 00 FF ' "$1" || true; }
report() { "$cli" report --json "$db" | python3 -c "import json,sys; r=json.load(sys.stdin); print($1)"; }

# 1. Three children at once, one failing.
"$vdev" --devices 3 --on '2:--fail-write 7' --log "$work/all.log" -- \
  "$cli" upgrade --all --yes --db "$db" --station P "$work/fw.bin" >"$work/all.out" 2>"$work/all.err" &&
  fail "upgrade --all should report the failing unit" || true
[ "$(report "r['totals']['runs']")" -eq 3 ] || fail "expected three runs"
[ "$(report "r['totals']['ok']")" -eq 2 ] || fail "expected two ok runs"
[ "$(report "r['totals']['interrupted']")" -eq 0 ] || fail "a run has no final row"

# 2. M1 sits at A from the start; a unit with its serial turns up at B while A flashes it.
station() {
  local name=$1; shift
  local vopts=()
  while [ "$1" != "--" ]; do vopts+=("$1"); shift; done
  shift
  "$vdev" --log "$work/$name.log" "${vopts[@]}" -- "$cli" station --db "$db" --station "$name" \
    "$@" "$work/fw.bin" >"$work/$name.out" 2>"$work/$name.err" </dev/null
}
station A --devices 1 --on '1:--serial M1' --at 6000:int -- &
a=$!
station B --devices 1 --on '1:--serial M1' --at 1000:+1 --at 6000:int -- &
b=$!
wait $a || fail "station A failed"
wait $b || true
grep -q "being upgraded at A" "$work/B.out" || fail "B did not see A's claim"
grep -q "already upgraded at A on " "$work/B.out" || fail "B did not leave the done unit alone"
[ "$(start_frames "$work/A.log")" -eq 1 ] || fail "A: expected one start frame"
[ "$(start_frames "$work/B.log")" -eq 0 ] || fail "B flashed a unit A was flashing or had done"

# 3. KV0002 failed once under --all above; once more at A, then B holds it back at two.
station A --devices 2 --on '2:--fail-write 7' --on '1:--serial OTHER' --at 4000:int -- || true
grep -q "held back" "$work/A.out" && fail "A held back too early"
station B --devices 2 --on '1:--serial OTHER' --at 2500:int -- --max-attempts 2 || true
grep -q "KV0002  attached: held back after 2 failures" "$work/B.out" || fail "B did not hold KV0002 back"
grep -q "OTHER  attached: already upgraded at A on " "$work/B.out" || fail "B did not skip OTHER"
[ "$(start_frames "$work/B.log.sdc")" -eq 0 ] || fail "B flashed the held-back unit"
# 4. The database file is moved away after the station connected: the station's one
# connection, which every run of it uses (its children never open the database), carries on, so
# W2 is flashed and recorded like W1.
station C --devices 2 --on '1:--serial W1' --on '2:--serial W2' --at 1500:+2 --at 14000:int -- &
c=$!
sleep 0.8
mv "$work/line.db" "$work/line.db.away"
mkdir "$work/line.db"
sleep 2.5
rmdir "$work/line.db"
mv "$work/line.db.away" "$work/line.db"
wait $c || fail "station C failed"
grep -q "station: 2 succeeded, 0 failed" "$work/C.out" || fail "W2 was not flashed"
[ "$(start_frames "$work/C.log.sdc")" -eq 1 ] || fail "W2: expected one start frame"
# 5. H tries M5 by hand while A flashes it.
station A --devices 1 --on '1:--serial M5' --at 6000:int -- &
a=$!
sleep 1.5
"$vdev" --devices 1 --on '1:--serial M5' --log "$work/H.log" -- "$cli" upgrade --yes --db "$db" \
  --record "$work/H.jsonl" --station H "$work/fw.bin" >"$work/H.out" 2>"$work/H.err" &&
  fail "H flashed a unit A holds"
wait $a || fail "station A failed"
grep -q "being upgraded at A; the unit was left alone" "$work/H.err" || fail "H did not see A's claim"
[ ! -s "$work/H.jsonl" ] || fail "H recorded a run it never had"
[ "$(start_frames "$work/H.log")" -eq 0 ] || fail "H sent a start frame"
# 6. Two boards with one serial at once.
"$vdev" --devices 2 --on '1:--serial SAME' --on '2:--serial SAME' --log "$work/dup.log" -- \
  "$cli" upgrade --all --yes --db "sqlite:$work/dup.db" --station D --events "$work/dup.events" \
  "$work/fw.bin" >"$work/dup.out" 2>"$work/dup.err" || fail "the two boards were not both flashed"
grep -q "being upgraded at" "$work/dup.out" "$work/dup.err" && fail "one board was taken for the other"
flagged=$(python3 -c 'import sqlite3, sys
print(sqlite3.connect(sys.argv[1]).execute(
    "SELECT count(*) FROM runs WHERE duplicate_serial = 1 AND result = '"'ok'"'").fetchone()[0])' \
  "$work/dup.db")
[ "$flagged" -eq 2 ] || fail "expected two ok rows flagged duplicate, got $flagged"
"$src/tests/support/validate-events" "$src/doc/kestrel-events-v1.schema.json" "$work/dup.events" ||
  fail "the event stream of --all broke its schema"
# 7. One port, two boards with one serial, one after the other, told apart by attachment.
station E --devices 1 --on '1:--serial SAME' --at 5000:-1 --at 6000:+1 --at 11000:int -- \
  --identity attachment || fail "station E failed"
grep -q "station: 2 succeeded, 0 failed" "$work/E.out" || fail "E did not flash the second board"
[ "$(start_frames "$work/E.log")" -eq 2 ] || fail "E: expected two start frames"
# 8. The line's page only reads: a read-only file is served and stays as it was; a mistyped
# path is refused without a database made for it.
chmod 0444 "$work/line.db"
before=$(sha256sum < "$work/line.db")
"$cli" line --db "$db" --web 0 2> "$work/line.err" &
line=$!
for _ in $(seq 300); do grep -q "page is at" "$work/line.err" && break; sleep 0.1; done
url=$(grep -o 'http://[0-9.:]*/' "$work/line.err") || fail "no line page: $(cat "$work/line.err")"
python3 -c 'import sys, urllib.request; urllib.request.urlopen(sys.argv[1] + "api/v1/line")' \
  "$url" || fail "the line page did not answer"
kill -INT "$line"
wait "$line" || fail "line --web ended with status $?"
[ "$(sha256sum < "$work/line.db")" = "$before" ] || fail "line --web changed the database"
status=0
"$cli" line --db "sqlite:$work/no-such.db" --web 0 2> "$work/missing.err" || status=$?
[ "$status" = 2 ] && [ ! -e "$work/no-such.db" ] || fail "a missing database was served ($status)"
echo "unit-database: concurrent children, claims, done units --max-attempts and a read-only line page on SQLite"
