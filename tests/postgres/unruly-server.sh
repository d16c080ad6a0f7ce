#!/usr/bin/env bash
# A station against a server that misbehaves, on a throwaway server:
#   1. the password reaches no command line: not the station's (given as --db env:NAME) and
#      not its children's, which every user of the machine can read in /proc/*/cmdline;
#   2. a session holding the migration lock keeps no run from starting when the schema is
#      current;
#   3. a session holding the schema's table and the migration lock: the station still answers
#      Ctrl-C within about a second;
#   4. a final row kept while the server was away is written within seconds of its return,
#      by a station that gets no new unit meanwhile;
#   5. over TCP a URL without sslmode refuses a server that cannot prove who it is;
#   6. a frozen server holds neither a run's end nor Ctrl-C back.
#   unruly-server.sh BUILD_DIR
set -euo pipefail
build=$1
cli=$build/cli/kestrel-cli
vdev=$build/vdev/kestrel-vdev
here=$(cd "$(dirname "$0")" && pwd)
. "$here/server.sh"
work=$(mktemp -d /tmp/kestrel-unruly-XXXXXX)
trap 'pg_cleanup; rm -rf "$work"' EXIT
export XDG_STATE_HOME=$work/state
pg_setup
pg_start
url=$(pg_createdb line)
# The password as a URL carries it: '%' and '@' percent-encoded (trust authentication ignores it).
export KESTREL_TEST_DB=${url/:\/\/$PG_USER@/:\/\/$PG_USER:pa%25ss%40w0rd@}
migration_lock=5432875469465021440

pg_test_image "$work/fw.bin" 200

fail() { pg_test_fail unruly-server "$@"; }
q() { pg_as "$pg_bin/psql" -h "$PG_DIR" -U "$PG_USER" -d line -tA -c "$1"; }
now_ms() { echo $(( $(date +%s%N) / 1000000 )); }
# Waits up to $2 s for the shell condition $1.
wait_for() {
  local i
  for i in $(seq $(( $2 * 10 ))); do eval "$1" && return 0; sleep 0.1; done
  return 1
}
# A session that holds locks in the background until it is terminated.
hold() {
  pg_as "$pg_bin/psql" -h "$PG_DIR" -U "$PG_USER" -d line -tA -c "$1" >/dev/null 2>&1 &
  wait_for "[ \"\$(q \"SELECT count(*) FROM pg_stat_activity WHERE query LIKE '%pg_sleep(120)%' AND pid <> pg_backend_pid()\")\" -eq 1 ]" 10 ||
    fail "the holding session did not start"
}
release() {
  q "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE query LIKE '%pg_sleep(120)%' AND pid <> pg_backend_pid()" >/dev/null
}

# 1. A whole run with the password in the URL: no command line shows it.
"$vdev" --log "$work/1.log" --devices 1 --at 9000:int -- \
  "$cli" station --db env:KESTREL_TEST_DB --station S1 "$work/fw.bin" >"$work/1.out" 2>"$work/1.err" </dev/null &
s=$!
seen=0
while kill -0 "$s" 2>/dev/null; do
  grep -l 'w0r[d]' /proc/[0-9]*/cmdline 2>/dev/null && seen=1  # [d]: not grep's own
  sleep 0.2
done
wait "$s" || fail "station 1 ended with $?"
[ "$seen" -eq 0 ] || fail "the password showed in a command line"
grep -q "Finish OK!" "$work/1.out" || fail "station 1 did not flash its unit"
grep -q "w0rd" "$work"/1.* && fail "the password showed in a message"

# 2. The migration lock held: a current schema needs no lock, the unit is flashed.
hold "SELECT pg_advisory_lock($migration_lock); SELECT pg_sleep(120)"
timeout 60 "$vdev" --log "$work/2.log" -- "$cli" upgrade --yes --db env:KESTREL_TEST_DB \
  "$work/fw.bin" >"$work/2.out" 2>"$work/2.err" </dev/null || fail "the upgrade waited for the migration lock"
release

# 3. The schema's table locked as well: Ctrl-C 3 s in ends the station within about a second.
hold "BEGIN; SELECT pg_advisory_xact_lock($migration_lock); LOCK TABLE schema_version; SELECT pg_sleep(120)"
start=$(now_ms)
timeout 60 "$vdev" --log "$work/3.log" --devices 1 --at 3000:int -- \
  "$cli" station --db env:KESTREL_TEST_DB --station S3 "$work/fw.bin" >"$work/3.out" 2>"$work/3.err" </dev/null ||
  true
took=$(( $(now_ms) - start ))
release
[ "$took" -lt 5000 ] || fail "the station took $took ms to answer Ctrl-C at 3000 ms"
[ "$(grep -c 'F6 00 FF ' "$work/3.log" || true)" -eq 0 ] || fail "station 3 sent a start frame"

# 4. The server stops after the unit's started row and returns after its run has ended: the
# idle station writes the kept final row.
"$vdev" --log "$work/4.log" --devices 1 --on '1:--serial U4' --at 30000:int -- \
  "$cli" station --db env:KESTREL_TEST_DB --station S4 "$work/fw.bin" >"$work/4.out" 2>"$work/4.err" </dev/null &
s=$!
wait_for "[ \"\$(q \"SELECT count(*) FROM runs WHERE station = 'S4'\" 2>/dev/null)\" = 1 ]" 20 ||
  fail "station 4's run did not start"
pg_stop
wait_for "grep -q 'Finish OK!' '$work/4.out'" 20 || fail "station 4's run did not end"
pg_start
wait_for "[ \"\$(q \"SELECT count(*) FROM runs WHERE station = 'S4' AND result = 'ok'\")\" = 1 ]" 8 ||
  fail "the kept final row was not written within 8 s of the server's return"
kill -0 "$s" 2>/dev/null || fail "station 4 ended early"
wait "$s" || fail "station 4 ended with $?"
# 6 (before 5, which moves the server to TCP). The server freezes (stopped, not gone) after the
# unit's started row: the run still ends with "Finish OK!" (its final row kept for later), and
# the station answers Ctrl-C at once.
"$vdev" --log "$work/6.log" --devices 1 --on '1:--serial U6' -- \
  "$cli" station --db env:KESTREL_TEST_DB --station S6 "$work/fw.bin" >"$work/6.out" 2>"$work/6.err" </dev/null &
s=$!
wait_for "[ \"\$(q \"SELECT count(*) FROM runs WHERE station = 'S6'\" 2>/dev/null)\" = 1 ]" 20 ||
  fail "station 6's run did not start"
server=$(head -n 1 "$PG_DIR/data/postmaster.pid")
frozen="$server $(pgrep -P "$server" | tr '\n' ' ')"
kill -STOP $frozen
wait_for "grep -q 'Finish OK!' '$work/6.out'" 20 || { kill -CONT $frozen; fail "a frozen server held the run's end back"; }
station_pid=$(pgrep -f -n -- "station --db env:KESTREL_TEST_DB --station S6")
start=$(now_ms)
kill -INT "$station_pid"
wait "$s" || true
took6=$(( $(now_ms) - start ))
kill -CONT $frozen
[ "$took6" -lt 1500 ] || fail "with the server frozen the station took $took6 ms to answer Ctrl-C"

# 5. Over TCP, a URL without sslmode insists on a verified TLS server: this one has no TLS, so
# nothing is sent to it (and no unit flashed) until the URL says sslmode=disable.
port=$(( 20000 + $$ % 20000 ))
pg_stop
pg_as "$pg_bin/pg_ctl" -D "$PG_DIR/data" -l "$PG_DIR/server.log" -w -t 30 \
  -o "-k $PG_DIR -c listen_addresses=127.0.0.1 -p $port -c fsync=off" start >/dev/null ||
  fail "the server did not start on TCP port $port"
tcp="postgresql://$PG_USER@127.0.0.1:$port/line"
"$vdev" --log "$work/5.log" -- "$cli" upgrade --yes --db "$tcp" "$work/fw.bin" \
  >"$work/5.out" 2>"$work/5.err" </dev/null && fail "a server without TLS was used"
grep -qi "ssl" "$work/5.err" || fail "the refusal does not say it was about TLS"
[ ! -s "$work/5.log" ] || [ "$(grep -c 'F6 00 FF ' "$work/5.log" || true)" -eq 0 ] ||
  fail "a unit was flashed without the database"
"$vdev" --log "$work/5.log" -- "$cli" upgrade --yes --db "$tcp?sslmode=disable" "$work/fw.bin" \
  >"$work/5.out" 2>"$work/5.err" </dev/null || fail "sslmode=disable in the URL was not taken"
echo "unruly-server: no password on a command line, migration lock skipped, Ctrl-C in $took ms, kept row written, TLS required over TCP, frozen server: Ctrl-C in $took6 ms"
