#!/usr/bin/env bash
# The report over a year of a factory: 1,000,001 runs of 20 stations (24 slots each) in an SQLite
# database and in PostgreSQL (a throwaway server, as the postgres tier starts it), both with the
# product's own schema (made by kestrel-cli itself), and 100,000 runs in a JSON Lines file.
# Prints, measured in this one run: `report --json` wall time and peak memory (/usr/bin/time -v)
# against the database's own GROUP BY queries for the same tables (yield per station, per hour
# and per image, failures by message and by slot, units never passed or failed twice) in its own
# shell. Goals: report <= 2x the shell, < 100 MB.
#
# Usage: bench/report-scale.sh [BUILD_DIR] [RUNS]   (default build/release, else build/dev;
#        1000001 runs; the JSON Lines file has a tenth of them)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/common.sh"
bench_pick_build "${1:-}"
runs=${2:-1000001}
bench_require "$cli"
command -v sqlite3 >/dev/null || { echo "no sqlite3 shell (apt-get install sqlite3)" >&2; exit 2; }

. "$root/tests/postgres/server.sh"
work=$(mktemp -d /tmp/kestrel-report-scale-XXXXXX)
trap 'pg_cleanup; [ -n "${KEEP:-}" ] && echo "kept $work" || rm -rf "$work"' EXIT
export XDG_STATE_HOME=$work/state
pg_setup
pg_start
pg_url=$(pg_createdb year)
bench_full_image "$work/fw.bin"

# The schema, made by the product: a run with --db and no device opens the database, migrates
# it and stops at "no device".
"$cli" upgrade --all --yes --db "sqlite:$work/year.db" "$work/fw.bin" >/dev/null 2>&1 || true
"$cli" upgrade --all --yes --db "$pg_url" "$work/fw.bin" >/dev/null 2>&1 || true

# Run i: station i%20, slot (i/20)%24, unit about i*19/20 (one run in twenty is a unit tried
# again), a result by a fixed hash (92 % ok, 5 % failed with one of three messages, 1 %
# cancelled, 1 % declined, 1 % never ended), one run every 31.5 s from 2025-12-01 (a year), two
# images. The same rows in both databases.
fill_sql() {  # SERIES_FROM TIME_OF_SECONDS HEX32_OF_I
  cat <<SQL
INSERT INTO stations (name, first_seen, last_seen)
  SELECT 'st' || v, '2025-12-01T00:00:00.000Z', '2026-12-01T00:00:00.000Z' FROM ($(printf "$1" 0 19)) AS g;
INSERT INTO runs (run, station, unit, unit_key, serial, port, duplicate_serial, drive, file,
  sha256, type, start_block, end_block, family, chip_id, boot_type, version_before, started_at,
  finished_at, blocks_sent, seconds, result, message)
SELECT $3, 'st' || (i % 20), 'KV' || (i * 19 / 20) || '@1-1.' || ((i / 20) % 24),
  'serial:KV' || (i * 19 / 20), 'KV' || (i * 19 / 20), '1-1.' || ((i / 20) % 24), 0, 'sdb',
  CASE WHEN i < $runs / 2 THEN '/srv/fw/fw-2.3.bin' ELSE '/srv/fw/fw-2.4.bin' END,
  CASE WHEN i < $runs / 2 THEN '$(printf 'a%.0s' {1..64})' ELSE '$(printf 'b%.0s' {1..64})' END,
  'bin', 16, 512, 'ST', '41:42:43:44:45', 1, 'V1.0',
  CASE WHEN h < 99 THEN $(printf "$2" "i * 31.5") END,
  CASE WHEN h < 98 OR h >= 99 THEN $(printf "$2" "i * 31.5 + 8") END,
  496, 8.0,
  CASE WHEN h < 92 THEN 'ok' WHEN h < 97 THEN 'failed' WHEN h < 98 THEN 'cancelled'
       WHEN h >= 99 THEN 'declined' END,
  CASE WHEN h < 92 THEN 'Finish OK!' WHEN h < 97 THEN
    CASE i % 3 WHEN 0 THEN 'Send Error!' WHEN 1 THEN 'Device Open Fail!' ELSE 'Chip Type Mismatch!' END
    WHEN h < 98 THEN 'Cancelled' WHEN h >= 99 THEN '' END
FROM (SELECT v AS i, (v * 7919) % 100 AS h FROM ($(printf "$1" 0 $((runs - 1)))) AS g) AS r;
SQL
}
echo "filling $runs runs into SQLite and PostgreSQL ..."
t0=$(date +%s.%N)
{
  echo "PRAGMA journal_mode=WAL; BEGIN;"
  fill_sql "WITH RECURSIVE n(v) AS (SELECT %d UNION ALL SELECT v + 1 FROM n WHERE v < %d) SELECT v FROM n" \
    "strftime('%%Y-%%m-%%dT%%H:%%M:%%fZ', 1764547200 + %s, 'unixepoch')" "printf('%032x', i)"
  echo "COMMIT;"
} | sqlite3 "$work/year.db" >/dev/null
t1=$(date +%s.%N)
fill_sql "SELECT generate_series(%d::bigint, %d::bigint) AS v" \
  "to_char(to_timestamp(1764547200 + %s) AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"')" \
  "lpad(to_hex(i), 32, '0')" |
  pg_as "$pg_bin/psql" -h "$PG_DIR" -U "$PG_USER" -d year -q -v ON_ERROR_STOP=1 >/dev/null
pg_as "$pg_bin/psql" -h "$PG_DIR" -U "$PG_USER" -d year -qc "VACUUM ANALYZE runs" >/dev/null
t2=$(date +%s.%N)
printf 'filled: SQLite %.1f s, PostgreSQL %.1f s\n' "$(echo "$t1 - $t0" | bc)" "$(echo "$t2 - $t1" | bc)"

# The JSON Lines file: the first tenth of the SQLite runs, a started and a final line each.
jsonl_runs=$((runs / 10))
sqlite3 "$work/year.db" "SELECT run, station, unit, serial, port, file, sha256, started_at,
  finished_at, result, message FROM runs ORDER BY run LIMIT $jsonl_runs" -separator $'\t' |
  python3 -c '
import json, sys
out = open(sys.argv[1], "w")
for line in sys.stdin:
    run, station, unit, serial, port, file, sha, started, finished, result, message = line.rstrip("\n").split("\t")
    common = {"run": run, "station": station, "unit": unit, "serial": serial, "port": port,
              "drive": "sdb", "file": file, "sha256": sha, "type": "bin", "startBlock": 16,
              "endBlock": 512, "family": "ST", "chipId": "41:42:43:44:45", "bootType": 1}
    if started:
        out.write(json.dumps(dict(common, event="started", time=started)) + "\n")
    if finished:
        out.write(json.dumps(dict(common, event="finished", time=finished, startedAt=started or None,
                                  blocksSent=496, seconds=8.0, result=result, message=message)) + "\n")
' "$work/year.jsonl"

# The same tables as the database's own queries.
W="COALESCE(finished_at, started_at)"
TRY="(finished_at IS NULL OR result <> 'declined')"
OK="(result = 'ok' AND finished_at IS NOT NULL)"
shell_sql="
SELECT station, COUNT(*), SUM(CASE WHEN $OK THEN 1 ELSE 0 END), MIN($W), MAX($W) FROM runs GROUP BY station;
SELECT station, port, COUNT(*), SUM(CASE WHEN result = 'failed' THEN 1 ELSE 0 END) FROM runs GROUP BY station, port;
SELECT sha256, MAX(file), COUNT(*), SUM(CASE WHEN $OK THEN 1 ELSE 0 END) FROM runs GROUP BY sha256;
SELECT SUBSTR($W, 1, 13), COUNT(*), SUM(CASE WHEN $OK THEN 1 ELSE 0 END) FROM runs GROUP BY SUBSTR($W, 1, 13);
SELECT message, COUNT(*) FROM runs WHERE result = 'failed' GROUP BY message;
SELECT COUNT(*), SUM(p) FROM (SELECT CASE WHEN SUM(CASE WHEN $OK THEN 1 ELSE 0 END) > 0 THEN 1 ELSE 0 END AS p FROM runs GROUP BY unit_key HAVING SUM(CASE WHEN $TRY THEN 1 ELSE 0 END) > 0) AS u;
SELECT unit_key, station, COUNT(*) FROM runs WHERE unit_key IN (SELECT unit_key FROM runs GROUP BY unit_key HAVING SUM(CASE WHEN $OK THEN 1 ELSE 0 END) = 0 OR SUM(CASE WHEN result = 'failed' THEN 1 ELSE 0 END) >= 2) GROUP BY unit_key, station;
SELECT run, station, unit, started_at FROM runs WHERE finished_at IS NULL;
"

# Wall seconds and peak resident MB of one command, as "S MB".
measure() {
  /usr/bin/time -v "$@" >/dev/null 2>"$work/time.txt" || { cat "$work/time.txt" >&2; exit 1; }
  awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i] }
              /Maximum resident/ { kb = $2 } END { printf "%.2f %.0f\n", s, kb / 1024 }' "$work/time.txt"
}
ratio() { echo "scale=2; $1 / $2" | bc; }

read -r sq_report sq_mb < <(measure nice "$cli" report --json "sqlite:$work/year.db")
read -r sq_shell sq_shell_mb < <(measure nice sqlite3 "$work/year.db" "$shell_sql")
read -r pg_report pg_mb < <(measure nice "$cli" report --json "$pg_url")
psql=("$pg_bin/psql" -h "$PG_DIR" -U "$PG_USER" -d year -c "$shell_sql")
[ "$(id -u)" -eq 0 ] && psql=(runuser -u postgres -- "${psql[@]}")
read -r pg_shell pg_shell_mb < <(measure nice "${psql[@]}")
read -r jl_report jl_mb < <(measure nice "$cli" report --json "$work/year.jsonl")
read -r sq_week sq_week_mb < <(measure nice "$cli" report --json --since 2026-06-01 --until 2026-06-07 --station st3 "sqlite:$work/year.db")

echo "report over $runs runs (20 stations), one run each:"
printf '  SQLite      report %6.2f s %4d MB   sqlite3 shell %6.2f s   ratio %sx\n' \
  "$sq_report" "$sq_mb" "$sq_shell" "$(ratio "$sq_report" "$sq_shell")"
printf '  PostgreSQL  report %6.2f s %4d MB   psql          %6.2f s   ratio %sx\n' \
  "$pg_report" "$pg_mb" "$pg_shell" "$(ratio "$pg_report" "$pg_shell")"
printf '  JSON Lines  report %6.2f s %4d MB   (%d runs, %d lines)\n' "$jl_report" "$jl_mb" \
  "$jsonl_runs" "$(wc -l <"$work/year.jsonl")"
printf '  SQLite, one week of one station (--since/--until/--station): %.2f s %d MB\n' \
  "$sq_week" "$sq_week_mb"
