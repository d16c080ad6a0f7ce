#!/usr/bin/env bash
# A station's 24 slots against one: a full 496-block image to 1, 8 and 24 virtual devices with
# `kestrel-cli upgrade --all --yes` under kestrel-vdev (each device served on its own thread).
# Prints, measured in one run each: wall time and its ratio to one unit (goal: 24 units in at
# most 1.05 x the time of one), and the CPU time per unit run split between the product
# (kestrel-cli and its children, timed on their own) and the emulator (the rest of the process
# tree: kestrel-vdev, umockdev's handlers).
#
# Usage: bench/units-1-8-24.sh [BUILD_DIR]   (default build/release, else build/dev)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/common.sh"
bench_pick_build "${1:-}"
bench_require "$cli" "$vdev"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bench_full_image "$work/full.bin"

printf 'full image, 496 blocks, one run each (%s); load average %s\n' "$build" \
  "$(cut -d' ' -f1-3 /proc/loadavg)"
one=""
for n in 1 8 24; do
  /usr/bin/time -f "%e %U %S" -o "$work/outer" "$vdev" --devices "$n" -- \
    /usr/bin/time -f "%U %S" -o "$work/inner" "$cli" upgrade --all --yes "$work/full.bin" \
    >/dev/null 2>"$work/err" || { cat "$work/err" >&2; exit 1; }
  read -r wall ou os <"$work/outer"
  read -r iu is <"$work/inner"
  one=${one:-$wall}
  awk -v n="$n" -v w="$wall" -v one="$one" -v ou="$ou" -v os="$os" -v iu="$iu" -v is="$is" 'BEGIN {
    product = (iu + is) / n * 1000; emulator = (ou + os - iu - is) / n * 1000
    printf "  %2d units: %7.3f s  ratio %.3f%s  CPU per unit: product %6.1f ms, emulator %6.1f ms\n",
      n, w, w / one, (n == 24 ? (w / one <= 1.05 ? "  (goal <= 1.05)" : "  (goal <= 1.05: ABOVE)") : ""),
      product, emulator }'
done
