#!/usr/bin/env bash
# A line on one unit database: 10 and 50 simulated stations (threads with a connection each,
# through the product's own ledger code: claim, started row, final row; some units moved to
# another station mid-run) against one PostgreSQL server (a throwaway one, as the postgres tier
# starts it, with fsync on) and against one SQLite file. Prints runs per second, claim latency
# (p50, p95, p99, max) and whether the invariants held. Goals on PostgreSQL: >= 500 runs/s,
# claim p99 < 50 ms.
#
# Usage: bench/line-load.sh [BUILD_DIR] [SECONDS]   (default build/release; 10 s per case)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
seconds=${2:-10}
load=$build/bench/kestrel_line_load
[[ -x $load ]] || { echo "missing $load (cmake --preset release; build kestrel_line_load)" >&2; exit 2; }
. "$root/tests/postgres/server.sh"
work=$(mktemp -d /tmp/kestrel-line-load-XXXXXX)
trap 'pg_cleanup; rm -rf "$work"' EXIT
export XDG_STATE_HOME=$work/state
pg_setup
# As a site's server runs: durable commits (the tier's server runs with fsync off), room for
# fifty stations' connections.
pg_as "$pg_bin/pg_ctl" -D "$PG_DIR/data" -l "$PG_DIR/server.log" -w -t 30 \
  -o "-k $PG_DIR -c listen_addresses='' -c max_connections=200" start >/dev/null
status=0
for n in 10 50; do
  echo "PostgreSQL: $(nice "$load" "$(pg_createdb "line$n")" "$n" "$seconds")" || status=1
done
for n in 10 50; do
  echo "SQLite:     $(nice "$load" "sqlite:$work/line$n.db" "$n" "$seconds")" || status=1
done
exit $status
