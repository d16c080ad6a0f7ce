# Sourced by the wine tier's scenario scripts: where the two builds are, a scratch folder with
# the sample image, Windows spellings of its paths, and the checks every scenario uses.
# Environment from the wine tier's CMake (kestrel_add_wine_test).
: "${KESTREL_WINE_RUN:?}" "${KESTREL_HOST_BUILD:?}" "${KESTREL_MINGW_BUILD:?}"
source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
vdev="$KESTREL_HOST_BUILD/vdev/kestrel-vdev"

# require_built FILE...: each program must exist, or the scenario cannot run.
require_built() {
  for f in "$@"; do
    [ -x "$f" ] || { echo "missing $f: build the dev and mingw presets first" >&2; exit 1; }
  done
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$source_dir/scripts/make-sample" "$work" >/dev/null
# Windows spells a Linux path through Wine's Z: drive.
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
expect_eq() { [ "$1" == "$2" ] || fail "$3: expected [$2], got [$1]"; }
flash_holds_sample() {  # blocks 16..99 of the sample, byte for byte
  cmp -s <(head -c 102400 "$work/sample.bin" | tail -c +16385) \
         <(head -c 102400 "$1" | tail -c +16385) || fail "flash $1 does not hold blocks 16-99"
}
