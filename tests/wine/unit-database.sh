#!/usr/bin/env bash
# kestrel-cli.exe under Wine on the unit database (the module kestrel-db.dll beside it):
#
#   unit-database.sh sqlite     a station's run on an SQLite file: its started and final rows;
#                               the cross-station policy (already upgraded, held back after two
#                               failures) and a claim another station holds leave the unit
#                               alone; the report reads the file.
#   unit-database.sh postgres   a Windows and a Linux station on one PostgreSQL server (the
#                               postgres tier's throwaway one), the Windows one through Wine's
#                               odbc32, the host's unixODBC and Debian's PostgreSQL ODBC driver:
#                               both stations' rows in one table, held back after two failures;
#                               the server stopped during a run and started again: the final
#                               row waits in the unsent rows, then is written; over TCP the
#                               server must prove who it is (TLS, verify-full).
#
# Environment from the wine tier's CMake (kestrel_add_wine_test).
set -euo pipefail
source "$(dirname "$0")/scenario-common.sh"
cli_exe="$KESTREL_MINGW_BUILD/cli/kestrel-cli.exe"
require_built "$cli_exe" "$vdev"
[ -f "$KESTREL_MINGW_BUILD/cli/kestrel-db.dll" ] || { echo "missing kestrel-db.dll" >&2; exit 1; }

# upgrade_e DB_URL VDEV_OPTIONS... -- CLI_OPTIONS...: one run on E: as station W1 (in the
# background with background=1; $pid is then the run's).
background=0
upgrade_e() {
  local url=$1; shift
  local vopts=()
  while [ "$1" != "--" ]; do vopts+=("$1"); shift; done
  shift
  set +e
  "$vdev" --wine --devices 1 "${vopts[@]}" --log "$work/log" --flash-out "$work/flash" -- \
    "$KESTREL_WINE_RUN" "$cli_exe" upgrade --yes --device E: --station W1 --db "$url" "$@" \
    "$(winpath "$work/sample.bin")" >"$work/out" 2>"$work/err" </dev/null &
  pid=$!
  [ "$background" -eq 1 ] || wait "$pid"
  status=$?
  set -e
}
# Waits up to $2 s for the shell condition $1.
wait_for() {
  local i
  for i in $(seq $(($2 * 10))); do eval "$1" && return 0; sleep 0.1; done
  return 1
}
# sql FILE QUERY: the rows, one a line, columns separated by '|'.
sql() {
  python3 -c 'import sqlite3, sys
for row in sqlite3.connect(sys.argv[1]).execute(sys.argv[2]):
    print("|".join("" if v is None else str(v) for v in row))' "$1" "$2"
}

case "${1:-}" in
sqlite)
  db="$work/units.db"
  url="sqlite:$(winpath "$db")"
  upgrade_e "$url" -- --skip-done
  expect_eq "$status" 0 "first run's exit status"
  flash_holds_sample "$work/flash"
  expect_eq "$(sql "$db" "SELECT station, result, started_at IS NOT NULL FROM runs")" \
    "W1|ok|1" "the first run's row"
  key=$(sql "$db" "SELECT unit_key FROM runs")
  expect_eq "$(sql "$db" "SELECT COUNT(*) FROM claims")" 0 "claims left after the run"

  # Upgraded already: left alone, nothing written to the device or the database.
  upgrade_e "$url" -- --skip-done
  grep -q "already upgraded at W1 on $(date -u +%F); the unit was left alone" "$work/err" ||
    fail "a done unit was not left alone"
  expect_eq "$(sql "$db" "SELECT COUNT(*) FROM runs")" 1 "runs after the unit was left alone"

  # Two failures: the third try is held back.
  for try in 1 2; do
    upgrade_e "$url" --fail-write 11 -- --max-attempts 2
    expect_eq "$status" 1 "failing run $try's exit status"
  done
  upgrade_e "$url" -- --max-attempts 2
  grep -q "held back after 2 failures; the unit was left alone" "$work/err" ||
    fail "a unit that failed twice was not held back"

  # Another station's live claim on the unit: refused while it lasts.
  python3 -c 'import sqlite3, sys
c = sqlite3.connect(sys.argv[1])
c.execute("INSERT INTO claims (unit_key, station, run, claimed_at, expires_at) VALUES (?, ?, ?, ?, ?)",
          (sys.argv[2], "L2", "other-run", "2026-01-01T00:00:00.000Z", "2999-01-01T00:00:00.000Z"))
c.commit()' "$db" "$key"
  upgrade_e "$url" --
  grep -q "being upgraded at L2; the unit was left alone" "$work/err" ||
    fail "a unit another station holds was not left alone"
  expect_eq "$(sql "$db" "SELECT result, COUNT(*) FROM runs GROUP BY result ORDER BY result")" \
    $'failed|2\nok|1' "rows by result"

  # The report reads the database the Windows build wrote.
  "$KESTREL_WINE_RUN" "$cli_exe" report --json "$url" >"$work/out" 2>"$work/err" </dev/null ||
    fail "report on the database failed"
  python3 -c 'import json, sys
t = json.load(open(sys.argv[1]))["totals"]
sys.exit(0 if (t["runs"], t["ok"], t["failed"]) == (3, 1, 2) else 1)' "$work/out" ||
    fail "report's totals: $(tr -d '\r' <"$work/out" | head -c 400)"
  ;;
postgres)
  source "$source_dir/tests/postgres/server.sh"
  trap 'pg_cleanup; rm -rf "$work"' EXIT
  pg_setup
  pg_start
  url=$(pg_createdb line)
  q() { pg_as "$pg_bin/psql" -h "$PG_DIR" -U "$PG_USER" -d line -tA -c "$1"; }
  # Windows keeps its unsent rows in the prefix's %LOCALAPPDATA%\Kestrel; none from before.
  rm -rf "$WINEPREFIX"/drive_c/users/*/AppData/Local/Kestrel

  upgrade_e "$url" -- --skip-done
  expect_eq "$status" 0 "the Windows station's first run"
  flash_holds_sample "$work/flash"
  # A Linux station on the same server, its own unit.
  "$vdev" --devices 1 --on '1:--serial L0001' -- "$KESTREL_HOST_BUILD/cli/kestrel-cli" upgrade \
    --yes --station L1 --db "$url" --skip-done "$work/sample.bin" >"$work/out" 2>"$work/err" \
    </dev/null || fail "the Linux station's run failed"
  expect_eq "$(q "SELECT station, result FROM runs ORDER BY station")" $'L1|ok\nW1|ok' \
    "both stations' rows"

  # Done at W1: left alone; after two failures: held back.
  upgrade_e "$url" -- --skip-done
  grep -q "already upgraded at W1 on $(date -u +%F); the unit was left alone" "$work/err" ||
    fail "a done unit was not left alone"
  for try in 1 2; do
    upgrade_e "$url" --fail-write 11 -- --max-attempts 2
    expect_eq "$status" 1 "failing run $try's exit status"
  done
  upgrade_e "$url" -- --max-attempts 2
  grep -q "held back after 2 failures; the unit was left alone" "$work/err" ||
    fail "a unit that failed twice was not held back"

  # The server stops after the run's started row and is back after its end: the final row
  # waits in the unsent rows and the next connection writes it.
  q "DELETE FROM runs WHERE station = 'W1'" >/dev/null
  background=1
  upgrade_e "$url" --delay-ms 40 --
  background=0
  wait_for '[ "$(q "SELECT count(*) FROM runs WHERE station = '"'W1'"'" 2>/dev/null)" = 1 ]' 60 ||
    fail "the run's started row was not written"
  pg_stop
  wait "$pid" && status=0 || status=$?
  expect_eq "$status" 0 "the run with the server away"
  grep -q "it waits in .*unsent-.*jsonl and is written when the database answers" "$work/err" ||
    fail "the kept final row was not reported"
  pg_start
  expect_eq "$(q "SELECT count(*) FROM runs WHERE station = 'W1' AND finished_at IS NULL")" 1 \
    "the run's row before the server's return"
  upgrade_e "$url" -- --skip-done
  expect_eq "$(q "SELECT result FROM runs WHERE station = 'W1'")" ok "the kept final row"
  grep -q "already upgraded at W1" "$work/err" || fail "the kept ok row did not count"

  # Over TCP without sslmode, a server without TLS is refused before anything is sent.
  port=$((20000 + $$ % 20000))
  pg_stop
  pg_as "$pg_bin/pg_ctl" -D "$PG_DIR/data" -l "$PG_DIR/server.log" -w -t 30 \
    -o "-k $PG_DIR -c listen_addresses=127.0.0.1 -p $port -c fsync=off" start >/dev/null ||
    fail "the server did not start on TCP port $port"
  upgrade_e "postgresql://$PG_USER@127.0.0.1:$port/line" --
  [ "$status" -ne 0 ] || fail "a server without TLS was used"
  grep -qi "ssl" "$work/err" || fail "the refusal does not say it was about TLS"
  ;;
*)
  echo "usage: $0 sqlite|postgres" >&2
  exit 2
  ;;
esac
if [ "$failures" -ne 0 ]; then
  echo "--- stdout"; cat "$work/out"; echo "--- stderr"; cat "$work/err"
  exit 1
fi
echo "unit database ${1}: ok"
