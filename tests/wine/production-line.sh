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
  grep -q $'^E:  KV0001  Finish OK!  84 blocks' "$work/out" || fail "E: should have succeeded"
  grep -q $'^F:  KV0002  Send Error!  2 blocks' "$work/out" || fail "F: should have failed"
  grep -q $'^G:  KV0003  Finish OK!  84 blocks' "$work/out" || fail "G: should have succeeded"
  grep -q $'^3 devices: 2 succeeded, 1 failed\r$' "$work/out" || fail "summary"
  flash_holds_sample "$work/flash.sdb"
  flash_holds_sample "$work/flash.sdd"
  expect_eq "$(records)" $'E: ok Finish OK!\nF: failed Send Error!\nG: ok Finish OK!' "records"
  ;;
station)
  # A station waits for drives; F: is plugged in while it waits. Without a display Wine can
  # give the station no window to be told through, so it rescans every 500 ms and finds F:
  # that way. On a display (a Wine desktop on Xvfb) it is told by WM_DEVICECHANGE, which
  # kestrel-vdev --wine broadcasts once F: has its letter and USB device, as Windows' mount
  # manager does, and it does not rescan on a timer: F: is found, with its serial, on that
  # notice alone. Each station is stopped with Ctrl-C once both runs are recorded.
  station_until_two_runs() {  # station_until_two_runs NAME [PROGRAM...]: the rest runs the station
    local name=$1; shift
    "$vdev" --wine --devices 2 --at 4000:+2 --log "$work/$name.log" --flash-out "$work/$name.flash" -- \
      "$KESTREL_WINE_RUN" "$@" "$cli_exe" station --record "$(winpath "$work/$name.jsonl")" \
      "$(winpath "$work/sample.bin")" >"$work/$name.out" 2>"$work/$name.err" </dev/null &
    local vpid=$! _ n
    for _ in $(seq 900); do
      n=$(grep -c '"event":"finished"' "$work/$name.jsonl" 2>/dev/null) || true
      [ "${n:-0}" -ge 2 ] && break
      kill -0 "$vpid" 2>/dev/null || break
      sleep 0.1
    done
    # Ctrl-C to the station's own process (under a Wine desktop it is not the command itself).
    local p
    for p in $(descendants "$vpid"); do
      grep -qa 'kestrel-cli.exe' "/proc/$p/cmdline" 2>/dev/null && kill -INT "$p" 2>/dev/null
    done
    wait "$vpid" || true
  }
  descendants() { local p; for p in $(ps -o pid= --ppid "$1"); do echo "$p"; descendants "$p"; done; }
  units() {
    python3 -c 'import json, sys
for line in open(sys.argv[1]):
    r = json.loads(line)
    if r["event"] == "finished":
        print(r["drive"], r["result"], r["serial"])' "$1" | sort
  }
  station_until_two_runs timer
  grep -q "looking every 500 ms" "$work/timer.err" || fail "without a window the station should rescan"
  expect_eq "$(units "$work/timer.jsonl" | cut -d' ' -f1,2)" $'E: ok\nF: ok' "records (rescan)"
  flash_holds_sample "$work/timer.flash.sdc"
  if command -v xvfb-run >/dev/null; then
    xvfb-run -a -s "-screen 0 800x600x24" bash -c "$(declare -f station_until_two_runs descendants)
      vdev='$vdev' cli_exe='$cli_exe' work='$work' KESTREL_WINE_RUN='$KESTREL_WINE_RUN'
      winpath() { printf 'Z:%s' \"\$1\" | tr / '\\\\'; }
      station_until_two_runs told explorer /desktop=kestrel-station,640x480"
    grep -q "500 ms" "$work/told.err" && fail "the station rescans on a timer on a desktop"
    expect_eq "$(units "$work/told.jsonl")" $'E: ok KV0001\nF: ok KV0002' "records (told)"
    flash_holds_sample "$work/told.flash.sdc"
  fi
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
