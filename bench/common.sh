# Sourced by the upgrade benchmarks: which build they time, and the image they send.

# Sets build, cli and vdev: the given build folder, else build/release when it has both
# programs, else build/dev. Exits 2 when either program is missing.
bench_pick_build() {
  build=${1:-}
  if [[ -z $build ]]; then
    build=$root/build/release
    [[ -x $build/cli/kestrel-cli && -x $build/vdev/kestrel-vdev ]] || build=$root/build/dev
  fi
  cli=$build/cli/kestrel-cli
  vdev=$build/vdev/kestrel-vdev
}

# Exits 2 unless every program named exists.
bench_require() {
  local tool
  for tool in "$@"; do
    [[ -x $tool ]] || { echo "missing $tool (build it first)" >&2; exit 2; }
  done
}

# Writes FILE: blocks 16..511 (496 blocks) with the "PORI" marker at 16 and the trailer the
# virtual device answers by default: family "ST", chip identification 41 42 43 . 44 45, boot
# type 1.
bench_full_image() {
  python3 - "$1" <<'PY'
import sys
start, end = 16, 512
data = bytearray(((i * 13) ^ (i >> 10)) & 0xFF for i in range(end * 1024))
data[start * 1024:start * 1024 + 4] = b"PORI"
data[end * 1024 - 8:] = b"ST" + bytes([0x41, 0x42, 0x43, 0x01, 0x44, 0x45])
open(sys.argv[1], "wb").write(data)
PY
}
