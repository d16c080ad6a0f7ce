#!/usr/bin/env bash
# What Kestrel's helper adds to a 496-block upgrade (blocks 16..511). Target: under 0.5 % of the
# run time.
#
# Usage: bench/helper-cost.sh [BUILD_DIR] [GUEST_RUNS]   (default build/dev, 0)
#
# On this machine, in one run: the upgrade straight from kestrel-cli under the virtual device
# (its run time and how many vendor requests it sent), and the helper's round trip, timed on
# requests it answers without a drive (the same socket exchange, process switches and checks
# that come on top of each SG_IO when the helper sends it). Added cost = round trip x requests,
# against the direct run.
#
# With GUEST_RUNS > 0, also the whole comparison on a real kernel's USB stack: the kernel
# tier's QEMU guest and USB door (usb-storage on dummy_hcd), alternately straight from
# kestrel-cli as root and through the helper as a member of kestrel, GUEST_RUNS times each (needs the build's Debian packages: ctest
# -R package_debs). The guest is emulated (TCG): every request and process switch costs there a
# thousand times what it costs on hardware, so that ratio is a far upper bound.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/common.sh"
build=${1:-$root/build/dev}
guest_runs=${2:-0}
cli=$build/cli/kestrel-cli
vdev=$build/vdev/kestrel-vdev
helper=$build/device/linux/devio/kestrel-devio
probe=$build/tests/kernel/kestrel-sgprobe
for tool in "$cli" "$vdev" "$helper" "$probe"; do
  [[ -x $tool ]] || { echo "missing $tool (build kestrel-cli, kestrel-vdev, kestrel-devio, kestrel-sgprobe)" >&2; exit 2; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

bench_full_image "$work/full.bin"

printf 'helper cost on a 496-block upgrade; load average %s\n' "$(cut -d' ' -f1-3 /proc/loadavg)"
"$vdev" --log "$work/requests" -- "$cli" upgrade --yes "$work/full.bin" >"$work/out" 2>"$work/err" ||
  { cat "$work/out" "$work/err" >&2; exit 1; }
read -r run_s xfer_s < <(sed -n 's/^496 of 496 blocks sent in \([0-9.]*\) s (transfers \([0-9.]*\) s)$/\1 \2/p' "$work/out")
[[ -n $run_s ]] || { echo "the direct run did not send 496 blocks:" >&2; cat "$work/out" "$work/err" >&2; exit 1; }
requests=$(grep -c . "$work/requests")
rounds=20000
trips=()
for _ in 1 2 3; do
  trips+=("$("$probe" --helper "$helper" --repeat $rounds --round-trip | sed -n 's/^repeat=[0-9]* seconds=//p')")
done
printf '%s\n' "${trips[@]}" | sort -n | awk -v n=$rounds -v q="$requests" -v r="$run_s" -v x="$xfer_s" '
  { t[NR] = $1 } END {
    us = t[2] / n * 1e6; added = us * q / 1e6
    printf "direct run %.3f s (transfers %.3f s), %d vendor requests\n", r, x, q
    printf "helper round trip %.2f us (median of 3 x %d; fastest %.2f, slowest %.2f)\n", us, n, t[1] / n * 1e6, t[3] / n * 1e6
    printf "helper run ~ direct + %.1f ms: helper/direct %.5f (%+.3f %%; target < 0.5 %%): %s\n",
      added * 1000, (r + added) / r, added / r * 100, (added / r * 100 < 0.5 ? "met" : "MISSED") }'

[[ $guest_runs -gt 0 ]] || exit 0
sed "s/^RUNS=.*/RUNS=$guest_runs/" "$root/bench/helper-cost-guest.sh" >"$work/scenarios.sh"
"$root/tests/kernel/run-kernel-tier" --cache "$build/kernel-cache" --work "$work/guest" \
  --scenarios "$work/scenarios.sh" --image "$work/full.bin" --packages "$build/packages" \
  --limit $((180 + guest_runs * 2 * 60)) "$cli" "$vdev" "$probe" \
  >"$work/tier.log" 2>&1 || { cat "$work/tier.log" >&2; exit 1; }
printf '\nQEMU guest (TCG), %d runs each way\n%-7s %9s %9s %9s\n' "$guest_runs" mode run_s xfer_s requests
sed -n 's/^KERNEL-TIER: BENCH //p' "$work/tier.log" | awk '{ printf "%-7s %9.3f %9.3f %9d\n", $1, $2, $3, $4 }'
sed -n 's/^KERNEL-TIER: REQUEST //p' "$work/tier.log" |
  awk '{ printf "identify x%d %-6s %.3f s: %.1f us each\n", $2, $1, $3, $3 / $2 * 1e6 }'
sed -n 's/^KERNEL-TIER: BENCH //p' "$work/tier.log" | awk '
  function median(a, n,   i, j, t) {
    for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (a[j] < a[i]) { t = a[i]; a[i] = a[j]; a[j] = t }
    return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2 }
  $1 == "direct" { dr[++nd] = $2 } $1 == "helper" { hr[++nh] = $2 }
  END {
    # each pair ran back to back, so its ratio sees the same load on this shared machine
    # (taken before median() sorts the runs in place)
    for (i = 1; i <= nd && i <= nh; i++) { p[i] = hr[i] / dr[i]; printf "pair %d: helper/direct %.4f\n", i, p[i] }
    np = i - 1; d = median(dr, nd); h = median(hr, nh)
    printf "median run: direct %.3f s, helper %.3f s: helper/direct %.4f (%+.2f %%, emulated CPU)\n", d, h, h / d, (h / d - 1) * 100
    printf "median of the pairs: %.4f (target < 1.02)\n", median(p, np) }'
