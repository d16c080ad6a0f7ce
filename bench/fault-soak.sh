#!/usr/bin/env bash
# Soaks the upgrade protocol in the fault campaign: N random cases (image, block range, up to two
# faults from the virtual device's script, prompt answer, Cancel moment), each checked against
# the invariants on the device's request log, plus N/500 (at least 2) process runs of
# kestrel-cli checking its exit status against its message, plus N/20 (at least 5) production-line
# runs (bench/line-soak.py: signals INT, HUP, TERM and KILL to kestrel-cli at random moments,
# SIGPIPE at its default, the record on a roomy, full or nearly full tmpfs, partial lines left
# by a dead writer), counting units flashed without a started line, glued lines and broken
# record invariants. Prints cases, violations and time;
# RapidCheck stops at the first violation and shrinks it, so violations is 0 or 1.
# A violation prints RapidCheck's smallest failing case and its seed for replay
# (RC_PARAMS="replay=...").
#
# Usage: bench/fault-soak.sh N [BUILD_DIR]   (default build/dev; needs the emulated tier built;
# run as root)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cases=${1:?usage: bench/fault-soak.sh N [BUILD_DIR]}
build=${2:-$root/build/dev}
campaign=$build/tests/emulated/kestrel_fault_campaign_tests
cli=$build/tests/emulated/kestrel_fault_campaign_cli_tests
for tool in "$campaign" "$cli"; do
  [[ -x $tool ]] || { echo "missing $tool (cmake --build $build --target $(basename "$tool"))" >&2; exit 2; }
done
cliCases=$(( cases / 500 > 2 ? cases / 500 : 2 ))
lineCases=$(( cases / 20 > 5 ? cases / 20 : 5 ))
for tool in "$build/cli/kestrel-cli" "$build/vdev/kestrel-vdev"; do
  [[ -x $tool ]] || { echo "missing $tool" >&2; exit 2; }
done

run() {  # run NAME BINARY N -> prints "NAME: cases C, violations V, time T s"
  local name=$1 binary=$2 n=$3 out start end violations
  start=$(date +%s.%N)
  out=$(RC_PARAMS="max_success=$n" ASAN_OPTIONS=verify_asan_link_order=0 "$binary" 2>&1) || true
  end=$(date +%s.%N)
  if grep -q "OK, passed $n tests" <<<"$out"; then violations=0; else violations=1; fi
  printf '%s: cases %d, violations %d, time %.1f s\n' "$name" "$n" "$violations" \
    "$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')"
  if (( violations > 0 )); then
    sed -n '/Falsifiable\|Using configuration/,/^\[  FAILED/p' <<<"$out" | head -60
    return 1
  fi
}

status=0
run "in-process" "$campaign" "$cases" || status=1
run "kestrel-cli" "$cli" "$cliCases" || status=1
# Needs root for its private mount namespaces and tmpfs mounts.
start=$(date +%s.%N)
python3 "$root/bench/line-soak.py" "$lineCases" "$build" || status=1
printf 'production line: time %.1f s\n' "$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { print b - a }')"
exit $status
