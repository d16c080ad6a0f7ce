#!/usr/bin/env bash
# Whole-process load of one Intel HEX file that fills the 512 KB image with 16-byte records
# (about 1.47 MB): `kestrel-cli info` against `objcopy -I ihex -O binary` and srec_cat.
# Each runs RUNS times (default 21); the script prints the medians and the ratios to ours.
# Usage: bench/hex-load-vs-tools.sh [BUILD_DIR]   (default build/release, built if missing)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
runs=${RUNS:-21}

if [ ! -x "$build/cli/kestrel-cli" ] || [ ! -x "$build/bench/kestrel_bench" ]; then
  cmake --preset release >/dev/null
  cmake --build "$build" --target kestrel-cli kestrel_bench -j2 >/dev/null
fi
for tool in objcopy srec_cat; do
  command -v "$tool" >/dev/null || { echo "needs $tool (scripts/setup installs it)" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
hex="$work/image.hex"
"$build/bench/kestrel_bench" --write-hex "$hex"
size=$(stat -c %s "$hex")

# All three must turn the file into the same 512 KB image, or the timing means nothing.
"$build/cli/kestrel-cli" gen-bin "$hex" "$work/ours.bin" >/dev/null
objcopy -I ihex -O binary "$hex" "$work/objcopy.bin"
srec_cat "$hex" -Intel -offset -0x08000000 -o "$work/srec.bin" -Binary
cmp -s "$work/ours_BURN.bin" "$work/objcopy.bin" || { echo "objcopy output differs" >&2; exit 1; }
cmp -s "$work/ours_BURN.bin" "$work/srec.bin" || { echo "srec_cat output differs" >&2; exit 1; }

# Microseconds of one run, measured with bash's own clock (no extra process in the interval).
time_once() {
  local t0=$EPOCHREALTIME
  "$@" >/dev/null 2>&1
  local t1=$EPOCHREALTIME
  echo $(( (${t1/./} - ${t0/./}) ))
}

median() {
  local label=$1; shift
  "$@" >/dev/null 2>&1  # warm the page cache and the binary
  local times=()
  for ((i = 0; i < runs; i++)); do times+=("$(time_once "$@")"); done
  printf '%s\n' "${times[@]}" | sort -n | sed -n "$(( (runs + 1) / 2 ))p"
}

ours=$(median kestrel "$build/cli/kestrel-cli" info "$hex")
objcopy_us=$(median objcopy objcopy -I ihex -O binary "$hex" "$work/objcopy.bin")
srec_us=$(median srec_cat srec_cat "$hex" -Intel -offset -0x08000000 -o "$work/srec.bin" -Binary)

printf 'HEX file: %d bytes, 16-byte records, %d runs each (median wall time of the whole process)\n' \
  "$size" "$runs"
row() { awk -v l="$1" -v t="$2" -v o="$ours" -v s="$size" 'BEGIN {
  printf "  %-22s %8.2f ms  %7.1f MB/s  %6.2fx our time\n", l, t / 1000, s / t, t / o }'; }
row "kestrel-cli info" "$ours"
row "objcopy -O binary" "$objcopy_us"
row "srec_cat -Binary" "$srec_us"
awk -v o="$ours" -v c="$objcopy_us" 'BEGIN {
  r = c / o; printf "objcopy / kestrel-cli = %.2f (target: at least 4)%s\n", r, (r >= 4 ? "" : "  BELOW TARGET") }'
