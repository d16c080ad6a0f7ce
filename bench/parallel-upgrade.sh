#!/usr/bin/env bash
# Parallel upgrades: a full 496-block image (blocks 16..511) to one device, then to 4 devices
# at once with `kestrel-cli upgrade --all --yes`, each under kestrel-vdev (every virtual device
# served on its own thread). Prints both wall times and their ratio; the goal is 4 devices in at
# most 1.15 x the time of one. Beside it, the emulator's own floor: 4 independent
# `kestrel-cli upgrade --device` processes started by the shell against the same 4 devices, so
# what --all adds (probe, child processes, reading their reports) shows apart from what the
# emulation costs on this machine.
#
# Usage: bench/parallel-upgrade.sh [BUILD_DIR] [RUNS]   (default build/release, else build/dev; 3)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/common.sh"
bench_pick_build "${1:-}"
runs=${2:-3}
bench_require "$cli" "$vdev"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bench_full_image "$work/full.bin"

# Median wall time in seconds of RUNS runs of the given command; every run must succeed.
median() {
  python3 - "$runs" "$@" <<'PY'
import os, statistics, subprocess, sys, time
runs, argv = int(sys.argv[1]), sys.argv[2:]
times = []
for _ in range(runs):
    t0 = time.perf_counter()
    done = subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    if done.returncode != 0:
        sys.exit(f"failed ({done.returncode}): {' '.join(argv)}\n{done.stderr.decode()}")
    times.append(time.perf_counter() - t0)
print(f"{statistics.median(times):.3f}")
PY
}

# The floor: the shell starts one upgrade per device, nothing in between.
cat > "$work/independent.sh" <<EOF2
#!/usr/bin/env bash
pids=()
for d in sdb sdc sdd sde; do "$cli" upgrade --yes --device \$d "$work/full.bin" & pids+=(\$!); done
status=0
for p in "\${pids[@]}"; do wait "\$p" || status=1; done
exit \$status
EOF2
chmod +x "$work/independent.sh"

printf 'full image, 496 blocks; median of %d runs (%s); load average %s\n' "$runs" "$build" \
  "$(cut -d' ' -f1-3 /proc/loadavg)"
one=$(median "$vdev" --devices 1 -- "$cli" upgrade --all --yes "$work/full.bin")
four=$(median "$vdev" --devices 4 -- "$cli" upgrade --all --yes "$work/full.bin")
floor_one=$(median "$vdev" --devices 1 -- "$cli" upgrade --yes --device sdb "$work/full.bin")
floor_four=$(median "$vdev" --devices 4 -- "$work/independent.sh")
awk -v one="$one" -v four="$four" -v f1="$floor_one" -v f4="$floor_four" 'BEGIN {
  printf "  upgrade --all, 1 device:   %7.3f s\n", one
  printf "  upgrade --all, 4 devices:  %7.3f s\n", four
  r = four / one
  printf "  ratio 4 / 1:               %7.3f  (goal: at most 1.15)%s\n", r, (r <= 1.15 ? "" : "  ABOVE GOAL")
  printf "  emulator floor: 1 upgrade %.3f s, 4 independent upgrades %.3f s, ratio %.3f\n", f1, f4, f4 / f1 }'
