#!/usr/bin/env bash
# Times whole 496-block upgrades (blocks 16..511) through `kestrel-cli upgrade --yes` under the
# virtual device. The run's pacing is fixed: 100 ms before the first block and 15 ms after each
# block before the next, so the ideal run time is 100 + (n - 1) * 15 ms plus the time the
# transfers themselves take, which kestrel-cli measures and prints. Targets: run time within 2 %
# of that ideal, and the tool's CPU time under 5 % of its wall time (no busy waiting).
#
# Usage: bench/upgrade-runtime.sh [BUILD_DIR] [RUNS] [MINGW_BUILD_DIR]
#   (default build/release, else build/dev; 5). With MINGW_BUILD_DIR the Windows build's
#   kestrel-cli.exe runs instead, under Wine (kestrel-vdev --wine), and the CPU time is Wine's.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/common.sh"
bench_pick_build "${1:-}"
runs=${2:-5}
mingw=${3:-}
vdev_opts=()
runner=()
if [[ -n $mingw ]]; then
  mingw=$(cd "$mingw" && pwd)
  export WINEDEBUG=-all
  cli=$mingw/cli/kestrel-cli.exe
  runner=("$mingw/wine-run")
  vdev_opts=(--wine)
  export KESTREL_WINE_DRIVES=$mingw/vdev/wine/kestrel-wine-drives.exe
  export WINEPREFIX=$mingw/wine-prefix
  "$root/tests/wine/wine-prefix" start
fi
bench_require "$cli" "$vdev"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

bench_full_image "$work/full.bin"

blocks=496
printf 'kestrel-cli upgrade, %d blocks, %d runs (%s); load average %s\n' "$blocks" "$runs" "$build" \
  "$(cut -d' ' -f1-3 /proc/loadavg)"
# late_ms: how much later than due each block started on average (the OS's wake-up latency).
printf '%4s %9s %9s %9s %8s %8s %9s %9s %7s\n' run run_s ideal_s xfer_s dev_% late_ms wall_s cpu_s cpu_%
sum_dev=0; worst_dev=0; worst_cpu=0
for ((i = 1; i <= runs; i++)); do
  # bash's `time` inside the testbed reports the tool's own wall and CPU time (user + system).
  image=$work/full.bin
  [[ -n $mingw ]] && image="Z:${image//\//\\}"
  IMAGE=$image OUT=$work/out ERR=$work/err "$vdev" "${vdev_opts[@]}" -- bash -c 'TIMEFORMAT="TIME %R %U %S"; time "$@" upgrade --yes "$IMAGE" >"$OUT" 2>"$ERR"' \
    bash "${runner[@]}" "$cli" 2>"$work/time" || {
    echo "run $i failed:" >&2; cat "$work/out" "$work/err" "$work/time" >&2; exit 1; }
  tr -d '\r' <"$work/err" >"$work/err.txt"; mv "$work/err.txt" "$work/err"
  tr -d '\r' <"$work/out" >"$work/out.txt"; mv "$work/out.txt" "$work/out"
  grep -q '^Finish OK!$' "$work/err" || { echo "run $i did not finish" >&2; cat "$work/err" >&2; exit 1; }
  read -r sent run_s xfer_s < <(sed -n 's/^\([0-9]*\) of [0-9]* blocks sent in \([0-9.]*\) s (transfers \([0-9.]*\) s)$/\1 \2 \3/p' "$work/out")
  [[ $sent == "$blocks" ]] || { echo "run $i sent $sent blocks" >&2; exit 1; }
  read -r wall_s user_s sys_s < <(sed -n 's/^TIME //p' "$work/time")
  line=$(awk -v n="$blocks" -v r="$run_s" -v x="$xfer_s" -v w="$wall_s" -v u="$user_s" -v s="$sys_s" -v i="$i" 'BEGIN {
    ideal = 0.100 + (n - 1) * 0.015 + x; dev = (r - ideal) / ideal * 100; cpu = u + s;
    printf "%4d %9.3f %9.3f %9.3f %+8.2f %8.3f %9.3f %9.3f %7.2f|%.4f|%.4f\n", i, r, ideal, x, dev, (r - ideal) / n * 1000, w, cpu, cpu / w * 100, dev, cpu / w * 100 }')
  echo "${line%%|*}"
  IFS='|' read -r _ dev cpu_pct <<<"$line"
  read -r sum_dev worst_dev worst_cpu < <(awk -v a="$sum_dev" -v d="$dev" -v wd="$worst_dev" -v c="$cpu_pct" -v wc="$worst_cpu" 'BEGIN {
    ad = d < 0 ? -d : d; printf "%.4f %.4f %.4f\n", a + d, (ad > wd ? ad : wd), (c > wc ? c : wc) }')
done
awk -v s="$sum_dev" -v n="$runs" -v wd="$worst_dev" -v wc="$worst_cpu" 'BEGIN {
  printf "mean deviation from ideal %+.2f %%, worst |deviation| %.2f %% (target 2 %%): %s\n", s / n, wd, (wd <= 2 ? "met" : "MISSED")
  printf "worst CPU / wall %.2f %% (target 5 %%): %s\n", wc, (wc < 5 ? "met" : "MISSED") }'
