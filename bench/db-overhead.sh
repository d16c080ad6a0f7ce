#!/usr/bin/env bash
# A unit's time with the unit database against without: whole 496-block upgrades through
# `kestrel-cli upgrade --yes` under the virtual device, alternating runs without --db, with
# --db sqlite:FILE and with --db postgresql://... (a throwaway server, as the postgres tier
# starts it). Prints each run's wall time and the medians; goal: under 1 % apart.
#
# Usage: bench/db-overhead.sh [BUILD_DIR] [RUNS]   (default build/release, else build/dev; 5)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/common.sh"
bench_pick_build "${1:-}"
runs=${2:-5}
bench_require "$cli" "$vdev"

. "$root/tests/postgres/server.sh"
trap 'pg_cleanup; rm -rf "$work"' EXIT
work=$(mktemp -d)
pg_setup
pg_start
pg_url=$(pg_createdb bench)

bench_full_image "$work/full.bin"

# Wall time of one whole process run (kestrel-cli's start to its exit) inside the testbed.
one() {
  "$vdev" -- bash -c 'TIMEFORMAT=%R; { time "$@" >/dev/null 2>&1; } 2>&1' run "$cli" upgrade --yes "$@" \
    "$work/full.bin"
}

declare -a plain sqlite pg
printf 'kestrel-cli upgrade, 496 blocks, %d runs each (%s)\n' "$runs" "$build"
printf '%4s %9s %9s %9s\n' run none_s sqlite_s pg_s
for ((i = 1; i <= runs; i++)); do
  plain+=("$(one)")
  sqlite+=("$(one --db "sqlite:$work/line.db")")
  pg+=("$(one --db "$pg_url")")
  printf '%4d %9s %9s %9s\n' "$i" "${plain[-1]}" "${sqlite[-1]}" "${pg[-1]}"
done
median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }
m0=$(median "${plain[@]}"); m1=$(median "${sqlite[@]}"); m2=$(median "${pg[@]}")
awk -v a="$m0" -v b="$m1" -v c="$m2" 'BEGIN {
  printf "median: without %.3f s, sqlite %.3f s (%+.2f %%), postgresql %.3f s (%+.2f %%)\n",
    a, b, (b - a) / a * 100, c, (c - a) / a * 100 }'
"$cli" report "sqlite:$work/line.db" | head -1
