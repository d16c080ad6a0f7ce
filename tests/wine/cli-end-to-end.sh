#!/usr/bin/env bash
# kestrel-cli.exe end to end under Wine, against the same virtual device as the Linux build:
# kestrel-vdev --wine defines the device as drive E: (a fixed disk as D:) and carries the
# Windows build's DeviceIoControl(IOCTL_SCSI_PASS_THROUGH_DIRECT) to the device model. Where a
# scenario makes sense on both platforms it runs the Linux build too and the two must agree:
# same messages (Windows ends its lines with CR LF), same exit status, same request log.
#
#   cli-end-to-end.sh SCENARIO      (environment from the wine tier's CMake)
set -euo pipefail
# Wine turns the command line into Windows' UTF-16 through the locale's encoding.
export LC_ALL=C.UTF-8
source "$(dirname "$0")/scenario-common.sh"
cli_exe="$KESTREL_MINGW_BUILD/cli/kestrel-cli.exe"
cli_linux="$KESTREL_HOST_BUILD/cli/kestrel-cli"
require_built "$cli_exe" "$cli_linux" "$vdev"
sample_win="$(winpath "$work")\\sample"
crlf() { sed 's/$/\r/'; }
# The summary line carries timings; keep only what must agree.
strip_times() { sed -E 's/ in [0-9.]+ s \(transfers [0-9.]+ s\)//'; }

# run_pair NAME VDEV_OPTIONS -- CLI_ARGS: the Linux build and the Windows build against fresh
# devices with the same options; their stdout, stderr, status and request log land in
# $work/NAME.{linux,wine}.{out,err,rc,log}.
run_pair() {
  local name=$1; shift
  local vopts=()
  while [ "$1" != "--" ]; do vopts+=("$1"); shift; done
  shift
  local linux_args=("$@") wine_args=()
  for a in "$@"; do wine_args+=("${a//@SAMPLE@/$sample_win}"); done
  for i in "${!linux_args[@]}"; do linux_args[$i]=${linux_args[$i]//@SAMPLE@/$work/sample}; done
  set +e
  "$vdev" "${vopts[@]}" --log "$work/$name.linux.log" --flash-out "$work/$name.linux.flash" -- \
    "$cli_linux" "${linux_args[@]}" >"$work/$name.linux.out" 2>"$work/$name.linux.err" </dev/null
  echo $? >"$work/$name.linux.rc"
  "$vdev" --wine "${vopts[@]}" --log "$work/$name.wine.log" --flash-out "$work/$name.wine.flash" -- \
    "$KESTREL_WINE_RUN" "$cli_exe" "${wine_args[@]}" >"$work/$name.wine.out" 2>"$work/$name.wine.err" </dev/null
  echo $? >"$work/$name.wine.rc"
  set -e
}

# Both builds said and did the same; Windows' lines end in CR LF.
expect_same() {
  local name=$1
  expect_eq "$(cat "$work/$name.wine.rc")" "$(cat "$work/$name.linux.rc")" "$name: exit status"
  expect_eq "$(strip_times <"$work/$name.wine.out")" "$(strip_times <"$work/$name.linux.out" | crlf)" "$name: stdout"
  expect_eq "$(cat "$work/$name.wine.err")" "$(crlf <"$work/$name.linux.err")" "$name: stderr"
  cmp -s "$work/$name.wine.log" "$work/$name.linux.log" ||
    fail "$name: request logs differ: $(diff "$work/$name.linux.log" "$work/$name.wine.log" | head -5)"
}

case "${1:-}" in
files)
  # No device: the image is read and written through the Windows file layer.
  for type in bin hex; do
    set +e
    "$KESTREL_WINE_RUN" "$cli_exe" info --json "$sample_win.$type" >"$work/info.$type.wine" 2>&1
    rc=$?
    set -e
    expect_eq "$rc" 0 "info $type"
    "$cli_linux" info --json "$work/sample.$type" >"$work/info.$type.linux"
    # The path is the only field that differs: Windows spells it with its drive letter.
    expect_eq "$(grep -v '"file":' "$work/info.$type.wine")" \
              "$(grep -v '"file":' "$work/info.$type.linux" | crlf)" "info --json $type"
    "$KESTREL_WINE_RUN" "$cli_exe" gen-bin "$sample_win.$type" "${sample_win}_out_$type" ||
      fail "gen-bin $type"
    "$KESTREL_WINE_RUN" "$cli_exe" gen-body "$sample_win.$type" "${sample_win}_body_$type.bin" ||
      fail "gen-body $type"
    "$cli_linux" gen-bin "$work/sample.$type" "$work/linux_out_$type.bin"
    "$cli_linux" gen-body "$work/sample.$type" "$work/linux_body_$type.bin"
    # The default extension "bin" is added to a name without one, as the file dialog does, even
    # with a dot in a folder's name.
    cmp -s "$work/sample_out_$type.bin" "$work/linux_out_$type.bin" || fail "program file $type"
    cmp -s "$work/sample_out_${type}_BURN.bin" "$work/linux_out_${type}_BURN.bin" || fail "burn file $type"
    cmp -s "$work/sample_body_$type.bin" "$work/linux_body_$type.bin" || fail "body file $type"
  done
  # A file name outside the "ANSI" code page (Chinese on an English system) is read and written:
  # paths travel in UTF-8 and reach Windows through its wide API.
  cp "$work/sample.hex" "$work/固件.hex"
  "$KESTREL_WINE_RUN" "$cli_exe" gen-body "$(winpath "$work")\\固件.hex" "$(winpath "$work")\\输出.bin" ||
    fail "gen-body with Chinese file names"
  cmp -s "$work/输出.bin" "$work/linux_body_hex.bin" || fail "body file with a Chinese name"
  # Writing again over the files replaces them whole (the temporary file is renamed over them).
  "$KESTREL_WINE_RUN" "$cli_exe" gen-body "$sample_win.bin" "${sample_win}_body_bin.bin" ||
    fail "gen-body over an existing file"
  cmp -s "$work/sample_body_bin.bin" "$work/linux_body_bin.bin" || fail "rewritten body file"
  [ -z "$(find "$work" -name '*.tmp')" ] || fail "temporary files left behind"
  ;;
list)
  run_pair list -- list
  expect_eq "$(cat "$work/list.wine.rc")" 0 "list exit status"
  grep -q $'^D:  *fixed .*never opened\r$' "$work/list.wine.out" || fail "D: should be a fixed disk, never opened"
  grep -q $'^E:  *removable .*AA 55: the device\r$' "$work/list.wine.out" || fail "E: should be the device"
  expect_eq "$(cat "$work/list.wine.log")" "$(cat "$work/list.linux.log")" "list: request log"
  run_pair cdrom --kind cdrom -- list
  grep -q $'^E:  *cd-rom .*AA 55: the device\r$' "$work/cdrom.wine.out" || fail "E: should be the CD-ROM device"
  # The USB identity, as Windows keeps it (the USB device's instance path and location): the
  # same serial and ids as the Linux build reads from sysfs, the port as Windows names it.
  run_pair identity --on '1:--serial WS-0042 --usb-port 3-1.4' -- list --json
  identity() {
    python3 -c 'import json, sys
for d in json.load(open(sys.argv[1]))["drives"]:
    if d["name"].strip() in ("sdb", "E:"):
        print(d["serial"], d["usb"], d["port"])' "$1"
  }
  expect_eq "$(identity "$work/identity.linux.out")" "WS-0042 1d6b:0104 3-1.4" "Linux identity"
  expect_eq "$(identity "$work/identity.wine.out")" "WS-0042 1d6b:0104 Port_#0004.Hub_#0003" \
    "Windows identity"
  ;;
upgrade)
  for type in hex bin; do
    run_pair "upgrade-$type" --fw-version V2.0.1 -- upgrade --yes "@SAMPLE@.$type"
    expect_same "upgrade-$type"
    expect_eq "$(cat "$work/upgrade-$type.wine.rc")" 0 "upgrade $type"
    flash_holds_sample "$work/upgrade-$type.wine.flash"
  done
  # An empty device is offered "Code Empty, Continue?" and flashed the same way.
  run_pair empty --empty-version -- upgrade --yes "@SAMPLE@.bin"
  expect_same empty
  ;;
refusals)
  # A device that is not ours, and devices that end the run before the start frame.
  run_pair swapped --identify-swapped -- upgrade --yes "@SAMPLE@.hex"
  expect_same swapped
  grep -q $'^Device Open Fail!\r$' "$work/swapped.wine.err" || fail "55 AA must not be taken for the device"
  for opts in "--family XX" "--chip-id 41:42:43:44:46" "--boot 2" "--zero-header"; do
    # shellcheck disable=SC2086
    run_pair refused $opts -- upgrade --yes "@SAMPLE@.hex"
    expect_same refused
  done
  ;;
faults)
  # Faults the device itself reports through its answers, or that end the request in the OS
  # (unplugged: ENODEV; no CAP_SYS_RAWIO: EPERM, which Windows sees as access denied).
  # Not here: a failed request that still comes back (SG_IO with a host error, as
  # --fail-write/--fail-read/--fail-command script it). Wine copies only the SCSI status,
  # residual and sense length back from SG_IO, so the Windows build sees such a request succeed,
  # where real Windows would fail DeviceIoControl; the Linux tier covers those.
  for opts in "--bad-status-byte2 20" "--wrong-block-number 17" "--nonzero-byte5 16" \
              "--unplug-after 30" "--deny-vendor"; do
    # shellcheck disable=SC2086
    run_pair fault $opts -- upgrade --yes "@SAMPLE@.hex"
    expect_same fault
    expect_eq "$(cat "$work/fault.wine.rc")" 1 "$opts: exit status"
  done
  ;;
prompt)
  # Without a console the prompt is answered Cancel: a pipe, and the NUL device, which _isatty
  # takes for a terminal on Windows.
  run_pair declined -- upgrade "@SAMPLE@.hex"
  expect_same declined
  expect_eq "$(cat "$work/declined.wine.rc")" 3 "declined: exit status"
  set +e
  "$vdev" --wine --log "$work/nul.log" -- "$KESTREL_WINE_RUN" cmd /c \
    "$(winpath "$cli_exe") upgrade $sample_win.hex < NUL" >"$work/nul.out" 2>"$work/nul.err" </dev/null
  rc=$?
  set -e
  expect_eq "$rc" 3 "upgrade < NUL: exit status"
  grep -q 'no terminal to ask' "$work/nul.err" || fail "upgrade < NUL must not prompt: $(cat "$work/nul.err")"
  # Identify, query frame and reply: no start frame follows a declined prompt.
  expect_eq "$(wc -l <"$work/nul.log")" 3 "upgrade < NUL: requests sent"
  # On a console (Wine makes one of a pseudo-terminal) the prompt asks, and a typed "cancel"
  # (Enter is CR on a console) declines: exit 3, and again no start frame.
  mkfifo "$work/keys"
  set +e
  script -qfec "'$vdev' --wine --log '$work/tty.log' -- '$KESTREL_WINE_RUN' '$cli_exe' upgrade '$sample_win.hex'" \
    /dev/null <"$work/keys" >"$work/tty.out" 2>&1 &
  pid=$!
  exec 8>"$work/keys"
  # The console draws the prompt character by character between escape sequences.
  for _ in $(seq 600); do
    tr -d '\033' <"$work/tty.out" >"$work/tty.txt"
    grep -q 'c.*a.*n.*c.*e.*l.*\]' "$work/tty.txt" && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  # A run that ended without asking must fail the checks below, not kill this script.
  trap '' PIPE
  printf 'cancel\r' >&8 2>/dev/null
  wait "$pid"
  rc=$?
  exec 8>&-
  trap - PIPE
  set -e
  [ "$rc" -eq 3 ] || echo "console output: $(tr -cd '[:print:]\n' <"$work/tty.txt" | tail -c 400)" >&2
  expect_eq "$rc" 3 "declined on the console: exit status"
  expect_eq "$(wc -l <"$work/tty.log")" 3 "declined on the console: requests sent"
  ;;
interrupt)
  # Ctrl-C while blocks are being sent: SIGINT reaches the Wine process as CTRL_C_EVENT, and the
  # run is cancelled the way Cancel does (the device gets its 2 s), exit 130.
  set +e
  "$vdev" --wine --delay-ms 5 --log "$work/int.log" -- "$KESTREL_WINE_RUN" "$cli_exe" upgrade --yes \
    "$sample_win.hex" >"$work/int.out" 2>"$work/int.err" </dev/null &
  pid=$!
  # The prompt is answered by --yes; about a third of the blocks later, interrupt.
  for _ in $(seq 200); do
    grep -q 'Continue' "$work/int.err" 2>/dev/null && break
    sleep 0.05
  done
  sleep 0.8
  kill -INT "$pid"
  wait "$pid"
  rc=$?
  set -e
  expect_eq "$rc" 130 "interrupted upgrade: exit status"
  grep -q 'Interrupted: cancelling the upgrade' "$work/int.err" || fail "no cancel message: $(cat "$work/int.err")"
  grep -q 'Finish OK!' "$work/int.err" && fail "an interrupted run must not finish"
  ;;
*)
  echo "usage: cli-end-to-end.sh files|list|upgrade|refusals|faults|prompt|interrupt" >&2
  exit 2
  ;;
esac

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed" >&2; exit 1; }
echo "ok"
