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
source "$(dirname "$0")/scenario-common.sh"
dialog="$KESTREL_MINGW_BUILD/app/kestrel-upgrade.exe"
driver="$KESTREL_MINGW_BUILD/tests/wine/kestrel-dialog-driver.exe"
require_built "$dialog" "$driver" "$vdev"

# The prefix's own desktop belongs to a server that may have started without a display, so the
# dialog and its driver get a desktop of their own on this one (a Wine virtual desktop, which
# also draws the classic window frame). It does not pass the driver's exit status on: the
# driver's last line tells.
"$vdev" --wine --flash-out "$work/flash" -- \
  "$KESTREL_WINE_RUN" explorer /desktop=kestrel-dialog,800x600 \
  "$(winpath "$driver")" "$(winpath "$dialog")" "$work" --device </dev/null >"$work/driver.out"
tr -d '\r' <"$work/driver.out" | tee "$work/driver.txt" | grep -v '^ok ' || true
grep -q '^PASS: 0 failed' "$work/driver.txt" || { echo "the dialog driver failed" >&2; exit 1; }
flash_holds_sample "$work/flash"
[ "$failures" -eq 0 ] || exit 1
echo "the device's flash holds blocks 16-99 of the sample"
