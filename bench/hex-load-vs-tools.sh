#!/usr/bin/env bash
# Whole-process load of one Intel HEX file that fills the 512 KB image with 16-byte records
# (about 1.47 MB): `kestrel-cli info` against `objcopy -I ihex -O binary` and srec_cat.
# Each runs RUNS times (default 21); the script prints the medians and the ratios to ours, then
# the in-process figure of the Google Benchmark for the same file.
# Usage: bench/hex-load-vs-tools.sh [BUILD_DIR]   (default build/release, built if missing)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
runs=${RUNS:-21}

[ -f "$build/build.ninja" ] || cmake --preset release >/dev/null
cmake --build "$build" --target kestrel-cli kestrel_bench -j2 >/dev/null
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

# Median wall time and CPU time (user + system) of RUNS runs, in microseconds. The processes
# are started with posix_spawn, so the harness adds as little as it can to each run; a warm-up
# run fills the page cache first.
median() {
  python3 - "$runs" "$@" <<'PY'
import os, statistics, sys, time
runs, argv = int(sys.argv[1]), sys.argv[2:]
null = [(os.POSIX_SPAWN_OPEN, fd, os.devnull, os.O_WRONLY, 0) for fd in (1, 2)]
def once():
    t0 = time.perf_counter()
    pid = os.posix_spawnp(argv[0], argv, os.environ, file_actions=null)
    _, status, usage = os.wait4(pid, 0)
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"{argv[0]} failed")
    return (time.perf_counter() - t0) * 1e6, (usage.ru_utime + usage.ru_stime) * 1e6
once()
samples = [once() for _ in range(runs)]
print(round(statistics.median(s[0] for s in samples)), round(statistics.median(s[1] for s in samples)))
PY
}

read -r ours ours_cpu < <(median "$build/cli/kestrel-cli" info "$hex")
read -r objcopy_us objcopy_cpu < <(median objcopy -I ihex -O binary "$hex" "$work/objcopy.bin")
read -r srec_us srec_cpu < <(median srec_cat "$hex" -Intel -offset -0x08000000 -o "$work/srec.bin" -Binary)

printf 'HEX file: %d bytes, 16-byte records; whole process, median of %d runs each\n' "$size" "$runs"
printf '  %-20s %9s %11s %10s %9s\n' "" "wall" "MB/s" "vs ours" "CPU"
row() { awk -v l="$1" -v t="$2" -v c="$3" -v o="$ours" -v s="$size" 'BEGIN {
  printf "  %-20s %6.2f ms %6.1f MB/s %9.2fx %6.2f ms\n", l, t / 1000, s / t, t / o, c / 1000 }'; }
row "kestrel-cli info" "$ours" "$ours_cpu"
row "objcopy -O binary" "$objcopy_us" "$objcopy_cpu"
row "srec_cat -Binary" "$srec_us" "$srec_cpu"
awk -v o="$ours" -v c="$objcopy_us" 'BEGIN {
  r = c / o; printf "objcopy / kestrel-cli = %.2f (target: at least 5)%s\n", r, (r >= 5 ? "" : "  BELOW TARGET") }'

echo "in-process LoadHexFile (Google Benchmark, same file):"
"$build/bench/kestrel_bench" --benchmark_filter=BM_LoadHexFile --benchmark_repetitions=5 \
  --benchmark_report_aggregates_only=true 2>/dev/null | grep -E '_(median|mean) '
