#!/usr/bin/env bash
# The HTML report in a real browser: headless Chromium loads the page from a file with every
# network name unresolvable, logs what it met, and renders it. The page must load without a
# console message or a failed request, and the chart's ok and failed bars must show in the
# rendered pixels.
#   html-in-browser.sh KESTREL_CLI [OUT_DIR]
set -euo pipefail
cli=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d /tmp/kestrel-report-XXXXXX)
trap 'rm -rf "$work"' EXIT
out=${2:-$work}
command -v chromium >/dev/null || { echo "no chromium (scripts/setup installs it)" >&2; exit 1; }

"$here/sample-records" "$work/shift.jsonl"
"$cli" report --html "$out/report.html" "$work/shift.jsonl"

browser() {
  mkdir -p "$work/profile"
  chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --user-data-dir="$work/profile" --host-resolver-rules="MAP * ~NOTFOUND" \
    --enable-logging=stderr --v=0 "$@"
}
browser --dump-dom "file://$out/report.html" >"$work/dom.html" 2>"$work/browser.log"
browser --window-size=1100,1400 --hide-scrollbars --screenshot="$out/report.png" \
  "file://$out/report.html" >/dev/null 2>>"$work/browser.log"

fail() { echo "html-in-browser: $*" >&2; sed 's/^/  browser: /' "$work/browser.log" >&2; exit 1; }
grep -q "<svg" "$work/dom.html" || fail "the page has no chart"
# Images, stations, days, hours, slots, causes, messages, rework, repeat failures, interrupted runs.
[ "$(grep -c "<table>" "$work/dom.html")" -eq 10 ] || fail "expected ten tables"
grep -q "Failures by cause, station and slot" "$work/dom.html" || fail "no table of causes"
grep -q 'name="viewport" content="width=device-width' "$work/dom.html" || fail "no viewport for phones"
grep -q "Yield per station" "$work/dom.html" || fail "no station table"
! grep -E "CONSOLE|net::ERR|Failed to load|Refused to" "$work/browser.log" ||
  fail "the page met errors while loading"
# The bars as the browser painted them: the ok green and the failed red.
colours=$(convert "$out/report.png" -unique-colors txt:- | tr 'a-f' 'A-F')
grep -q "#3A9A4A" <<<"$colours" || fail "no ok bar in the rendered page"
grep -q "#D0453A" <<<"$colours" || fail "no failed bar in the rendered page"
echo "html-in-browser: page loaded without errors, chart rendered ($out/report.png)"
