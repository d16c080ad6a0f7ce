#!/usr/bin/env bash
# The station process is the one owner of the unit database: eight units at once under
# upgrade --all and under station, on a server that takes five connections in all, are every
# one flashed and recorded (database and record file), with no "too many clients"; the
# children never connect.
#   one-connection.sh BUILD_DIR
set -euo pipefail
build=$1
cli=$build/cli/kestrel-cli
vdev=$build/vdev/kestrel-vdev
here=$(cd "$(dirname "$0")" && pwd)
. "$here/server.sh"
work=$(mktemp -d /tmp/kestrel-one-connection-XXXXXX)
trap 'pg_cleanup; rm -rf "$work"' EXIT
export XDG_STATE_HOME=$work/state
pg_setup
pg_as "$pg_bin/pg_ctl" -D "$PG_DIR/data" -l "$PG_DIR/server.log" -w -t 30 \
  -o "-k $PG_DIR -c listen_addresses='' -c fsync=off -c max_connections=5 -c superuser_reserved_connections=0" \
  start >/dev/null
url=$(pg_createdb line)
pg_test_image "$work/fw.bin" 40
fail() { pg_test_fail one-connection "$@"; }
q() { pg_as "$pg_bin/psql" -h "$PG_DIR" -U "$PG_USER" -d line -tA -c "$1"; }

"$vdev" --devices 8 --log "$work/all.log" -- "$cli" upgrade --all --yes --db "$url" --station ALL \
  --record "$work/all.jsonl" "$work/fw.bin" >"$work/all.out" 2>"$work/all.err" </dev/null ||
  fail "upgrade --all ended with $?"
grep -q "8 devices: 8 succeeded, 0 failed" "$work/all.out" || fail "not every unit succeeded"
[ "$(q "SELECT count(*) FROM runs WHERE station = 'ALL' AND result = 'ok'")" -eq 8 ] ||
  fail "expected eight ok rows from --all"
[ "$(grep -c '"event":"finished"' "$work/all.jsonl")" -eq 8 ] || fail "expected eight final lines"

# A second database: the units done under --all would be left alone as done.
url2=$(pg_createdb line2)
"$vdev" --devices 8 --at 6000:int --log "$work/st.log" -- "$cli" station --db "$url2" --station ST \
  --record "$work/st.jsonl" "$work/fw.bin" >"$work/st.out" 2>"$work/st.err" </dev/null ||
  fail "station ended with $?"
grep -q "station: 8 succeeded, 0 failed" "$work/st.out" || fail "the station did not flash all eight"
[ "$(pg_as "$pg_bin/psql" -h "$PG_DIR" -U "$PG_USER" -d line2 -tA -c \
  "SELECT count(*) FROM runs WHERE station = 'ST' AND result = 'ok'")" -eq 8 ] ||
  fail "expected eight ok rows from the station"
! grep -q "too many clients" "$work"/*.out "$work"/*.err "$PG_DIR/server.log" ||
  fail "the server ran out of connections"
echo "one-connection: 8 units under --all and under station on a 5-connection server, all recorded"
