#!/usr/bin/env bash
# What checking a release signature costs: `kestrel-cli info` of a full 512 KB image, whole
# process, without a signature and with FILE.sig checked against an allowed-signers file (keys
# and signature made by ssh-keygen). Prints the medians of RUNS runs (default 41) and the
# difference as a share of info's whole process time (target: under 10 %).
# Usage: bench/signature-cost.sh [BUILD_DIR]   (default build/release when built, else build/dev)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/common.sh"
bench_pick_build "${1:-}"
bench_require "$cli"
command -v ssh-keygen >/dev/null || { echo "needs ssh-keygen (scripts/setup installs it)" >&2; exit 1; }
runs=${RUNS:-41}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bench_full_image "$work/plain.bin"
cp "$work/plain.bin" "$work/signed.bin"
ssh-keygen -q -t ed25519 -N '' -C release -f "$work/release"
echo "release@example.com $(cut -d' ' -f1,2 "$work/release.pub")" >"$work/allowed_signers"
ssh-keygen -q -Y sign -n kestrel-firmware -f "$work/release" "$work/signed.bin" 2>/dev/null
"$cli" info --json --allowed-signers "$work/allowed_signers" "$work/signed.bin" |
  grep -q '"status": "good"' || { echo "the signature did not verify" >&2; exit 1; }

# Median wall and CPU (user + system) time of RUNS runs in microseconds, after one warm-up run.
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

read -r plain plain_cpu < <(median "$cli" info "$work/plain.bin")
read -r signed signed_cpu < <(median "$cli" info --allowed-signers "$work/allowed_signers" "$work/signed.bin")
printf '512 KB image, kestrel-cli info, whole process, median of %d runs (%s)\n' "$runs" "$build"
awk -v p="$plain" -v pc="$plain_cpu" -v s="$signed" -v sc="$signed_cpu" 'BEGIN {
  printf "  %-32s %7.2f ms wall %7.2f ms CPU\n", "no signature", p / 1000, pc / 1000
  printf "  %-32s %7.2f ms wall %7.2f ms CPU\n", "signature checked", s / 1000, sc / 1000
  share = (s - p) / s * 100
  printf "signature check = %.2f ms, %.1f %% of info with it (target: under 10 %%)%s\n",
    (s - p) / 1000, share, (share < 10 ? "" : "  ABOVE TARGET") }'
