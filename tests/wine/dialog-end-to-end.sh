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

# Wine's desktop takes the display of the server that started it: start one on this display,
# and end it afterwards so that the next test starts its own.
quiet() { "$@" </dev/null >/dev/null 2>&1; }
work=$(mktemp -d)
trap 'quiet wineserver -k || true; rm -rf "$work"' EXIT
quiet wineserver -k || true
quiet wineserver -p
quiet wine cmd /c exit 0 || true

"$source_dir/scripts/make-sample" "$work" >/dev/null
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
"$vdev" --wine --flash-out "$work/flash" -- \
  "$KESTREL_WINE_RUN" "$driver" "$(winpath "$dialog")" "$work" --device </dev/null
# Blocks 16..99 of the sample, byte for byte.
cmp <(head -c 102400 "$work/sample.bin" | tail -c +16385) \
    <(head -c 102400 "$work/flash" | tail -c +16385)
echo "the device's flash holds blocks 16-99 of the sample"
