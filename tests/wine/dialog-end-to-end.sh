#!/usr/bin/env bash
# The Win32 dialog end to end under Wine: kestrel-dialog-driver.exe drives kestrel-upgrade.exe
# with window messages, on a virtual X display, against the virtual device (drive E:); then
# the device's flash must hold the sample byte for byte. Environment from the wine tier's CMake.
set -euo pipefail
: "${KESTREL_WINE_RUN:?}" "${KESTREL_HOST_BUILD:?}" "${KESTREL_MINGW_BUILD:?}" "${WINEPREFIX:?}"
if [ -z "${KESTREL_DIALOG_ON_DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" \
    env KESTREL_DIALOG_ON_DISPLAY=1 bash "$0" "$@"
fi
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
dialog="$KESTREL_MINGW_BUILD/app/kestrel-upgrade.exe"
driver="$KESTREL_MINGW_BUILD/tests/wine/kestrel-dialog-driver.exe"
vdev="$KESTREL_HOST_BUILD/vdev/kestrel-vdev"
for f in "$dialog" "$driver" "$vdev"; do
  [ -x "$f" ] || { echo "missing $f: build the dev and mingw presets first" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$source_dir/scripts/make-sample" "$work" >/dev/null
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

# The prefix's own desktop belongs to a server that may have started without a display, so the
# dialog and its driver get a desktop of their own on this one (a Wine virtual desktop, which
# also draws the classic window frame). It does not pass the driver's exit status on: the
# driver's last line tells.
"$vdev" --wine --flash-out "$work/flash" -- \
  "$KESTREL_WINE_RUN" explorer /desktop=kestrel-dialog,800x600 \
  "$(winpath "$driver")" "$(winpath "$dialog")" "$work" --device </dev/null >"$work/driver.out"
tr -d '\r' <"$work/driver.out" | tee "$work/driver.txt" | grep -v '^ok ' || true
grep -q '^PASS: 0 failed' "$work/driver.txt" || { echo "the dialog driver failed" >&2; exit 1; }
# Blocks 16..99 of the sample, byte for byte.
cmp <(head -c 102400 "$work/sample.bin" | tail -c +16385) \
    <(head -c 102400 "$work/flash" | tail -c +16385)
echo "the device's flash holds blocks 16-99 of the sample"
