#!/usr/bin/env bash
# The line page over a day of a line: 30,000 runs of 50 stations of 24 slots in one PostgreSQL
# server (a throwaway one, as the postgres tier starts it), filled through the product's own
# UnitDatabase::Finish, and the page's one-second refresh measured as the day fills up: the
# database time of one refresh (target < 50 ms, and flat as the day grows: it reads what
# changed, not the whole day), the whole day's read it makes now and then, the page build.
#
# Usage: bench/line-view.sh [BUILD_DIR] [RUNS]   (default build/release; 30,000 runs)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
runs=${2:-30000}
view=$build/bench/kestrel_line_view
[[ -x $view ]] || { echo "missing $view (cmake --preset release; build kestrel_line_view)" >&2; exit 2; }
. "$root/tests/postgres/server.sh"
work=$(mktemp -d /tmp/kestrel-line-view-XXXXXX)
trap 'pg_cleanup; rm -rf "$work"' EXIT
export XDG_STATE_HOME=$work/state
pg_setup
pg_as "$pg_bin/pg_ctl" -D "$PG_DIR/data" -l "$PG_DIR/server.log" -w -t 30 \
  -o "-k $PG_DIR -c listen_addresses=''" start >/dev/null
echo "PostgreSQL: $("$view" "$(pg_createdb lineview)" "$runs")"
