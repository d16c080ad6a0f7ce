#!/usr/bin/env bash
# The production line of kestrel-cli.exe under Wine: kestrel-vdev --wine serves several devices
# as E:, F:, G: (a fixed disk as D:). `upgrade --device E:` touches E: alone; `upgrade --all`
# flashes every device at once, each in a child process started with CreateProcess, and names
# the one that failed; both append their records.
#
#   production-line.sh device|all|station      (environment from the wine tier's CMake)
set -euo pipefail
source "$(dirname "$0")/scenario-common.sh"
cli_exe="$KESTREL_MINGW_BUILD/cli/kestrel-cli.exe"
require_built "$cli_exe" "$vdev"
# "drive result message" of every final record line, sorted; a final line whose run has no
# started line before it (or the other way round) is printed as such.
records() {
  python3 -c 'import json, sys
started = set()
for line in open(sys.argv[1]):
    r = json.loads(line)
    if r["event"] == "started":
        started.add(r["run"])
        continue
    if (r["startedAt"] is not None) != (r["run"] in started):
        print("unpaired", r["run"])
    started.discard(r["run"])
    print(r["drive"], r["result"], r["message"])
for run in started:
    print("unpaired", run)' "$work/record.jsonl" | sort
}
run() {  # run DEVICES VDEV_OPTIONS... -- CLI_ARGS...
  local devices=$1; shift
  local vopts=()
  while [ "$1" != "--" ]; do vopts+=("$1"); shift; done
  shift
  set +e
  "$vdev" --wine --devices "$devices" "${vopts[@]}" --log "$work/log" --flash-out "$work/flash" -- \
    "$KESTREL_WINE_RUN" "$cli_exe" "$@" \
    --record "$(winpath "$work/record.jsonl")" "$(winpath "$work/sample.bin")" \
    >"$work/out" 2>"$work/err" </dev/null
  status=$?
  set -e
}

case "${1:-}" in
device)
  run 2 -- upgrade --yes --device E:
  expect_eq "$status" 0 "upgrade --device E: exit status"
  flash_holds_sample "$work/flash.sdb"
  [ ! -s "$work/log.sdc" ] || fail "F: was touched"
  expect_eq "$(records)" "E: ok Finish OK!" "records"
  # The unit by its USB serial and port, so that claims and policy across stations know it.
  expect_eq "$(python3 -c 'import json, sys
for line in open(sys.argv[1]):
    r = json.loads(line)
    print(r["event"], r["serial"], r["unit"])' "$work/record.jsonl")" \
    $'started KV0001 KV0001@Port_#0002.Hub_#0002\nfinished KV0001 KV0001@Port_#0002.Hub_#0002' \
    "records' unit"
  ;;
all)
  run 3 --on '2:--fail-write 11' -- upgrade --all --yes
  expect_eq "$status" 1 "upgrade --all exit status"
  grep -q $'^E:  -  Finish OK!  84 blocks' "$work/out" || fail "E: should have succeeded"
  grep -q $'^F:  -  Send Error!  2 blocks' "$work/out" || fail "F: should have failed"
  grep -q $'^G:  -  Finish OK!  84 blocks' "$work/out" || fail "G: should have succeeded"
  grep -q $'^3 devices: 2 succeeded, 1 failed\r$' "$work/out" || fail "summary"
  flash_holds_sample "$work/flash.sdb"
  flash_holds_sample "$work/flash.sdd"
  expect_eq "$(records)" $'E: ok Finish OK!\nF: failed Send Error!\nG: ok Finish OK!' "records"
  ;;
station)
  # A station is told of drive letters as they come (WM_DEVICECHANGE, which Wine's mount
  # manager broadcasts), so it does not rescan every 500 ms; F: is plugged in while it waits
  # and flashed on that notice alone. It is stopped with Ctrl-C once both runs are recorded.
  "$vdev" --wine --devices 2 --at 2500:+2 --log "$work/log" --flash-out "$work/flash" -- \
    "$KESTREL_WINE_RUN" "$cli_exe" station --record "$(winpath "$work/record.jsonl")" \
    "$(winpath "$work/sample.bin")" >"$work/out" 2>"$work/err" </dev/null &
  station=$!
  for _ in $(seq 600); do
    [ "$(grep -c '"event":"finished"' "$work/record.jsonl" 2>/dev/null)" -ge 2 ] && break
    kill -0 "$station" 2>/dev/null || break
    sleep 0.1
  done
  kill -INT "$station" 2>/dev/null || true
  wait "$station" || true
  grep -q "500 ms" "$work/out" "$work/err" && fail "the station rescans on a timer"
  expect_eq "$(records)" $'E: ok Finish OK!\nF: ok Finish OK!' "records"
  flash_holds_sample "$work/flash.sdc"
  ;;
*)
  echo "usage: $0 device|all|station" >&2
  exit 2
  ;;
esac
if [ "$failures" -ne 0 ]; then
  echo "--- stdout"; cat "$work/out"; echo "--- stderr"; cat "$work/err"
  exit 1
fi
echo "production line ${1}: ok"
