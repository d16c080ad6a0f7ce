# Scenario file of bench/helper-cost.sh, sourced by the kernel tier's guest /init: the same
# 496-block upgrade, alternately straight from kestrel-cli (root: CAP_SYS_RAWIO of its own) and
# through Kestrel's helper (a member of kestrel: the packaged program has no capability). Prints
# one "KERNEL-TIER: BENCH mode run_s xfer_s requests" line per run, and what one identify
# request costs each way ("KERNEL-TIER: REQUEST mode count seconds").
echo "KERNEL-TIER: PLAN 1"
IMAGE=/data/full.bin
RUNS=${RUNS:-3}
HELPER=/usr/libexec/kestrel/kestrel-devio

mkdir -p /var/lib/dpkg
cp -a /pkg/root/. / && PATH=/pkg/shims:$PATH sh /pkg/postinst configure >/tmp/postinst.log 2>&1
KESTREL_GID=$(grep "^kestrel:" /etc/group | cut -d: -f3)
MEMBER="/usr/bin/setpriv --reuid=1000 --regid=1000 --groups=$KESTREL_GID --inh-caps=-all"

# run MODE: one upgrade on a fresh door; prints the BENCH line or a failure.
run() {
  rm -f /tmp/door.ready
  kestrel-vdev usb --serial BENCH --ready-file /tmp/door.ready >/dev/null 2>/tmp/door.log &
  door=$!
  i=0
  while [ ! -f /tmp/door.ready ] && [ $i -lt 300 ]; do i=$((i + 1)); sleep 0.1; done
  dev=$(cat /tmp/door.ready)
  chown 1000 "$dev"
  if [ "$1" = helper ]; then
    $MEMBER /bin/sh -c 'exec "$@"' sh /usr/bin/kestrel-cli upgrade --yes "$IMAGE" >/tmp/run.out 2>&1
  else
    /usr/bin/kestrel-cli upgrade --yes "$IMAGE" >/tmp/run.out 2>&1
  fi
  status=$?
  kill -TERM $door
  wait $door
  requests=$(sed -n 's/.* \([0-9]*\) vendor requests.*/\1/p' /tmp/door.log)
  line=$(sed -n 's/^\([0-9]*\) of [0-9]* blocks sent in \([0-9.]*\) s (transfers \([0-9.]*\) s)$/\1 \2 \3/p' /tmp/run.out)
  set -- "$1" $line
  if [ $status -ne 0 ] || [ "$2" != 496 ]; then
    echo "KERNEL-TIER: FAIL $1: exit $status: $(cat /tmp/run.out)"
    failed=$((failed + 1))
    return 1
  fi
  echo "KERNEL-TIER: BENCH $1 $3 $4 $requests"
}

# identify, COUNT times in one process, each way
COUNT=2000
rm -f /tmp/door.ready
kestrel-vdev usb --serial PROBE --ready-file /tmp/door.ready >/dev/null 2>/tmp/door.log &
door=$!
i=0
while [ ! -f /tmp/door.ready ] && [ $i -lt 300 ]; do i=$((i + 1)); sleep 0.1; done
dev=$(cat /tmp/door.ready)
chown 1000 "$dev"
IDENTIFY="in 2 87 00 00 00 00 02 00 02 00 00"
for round in 1 2; do
  t=$(kestrel-sgprobe --repeat $COUNT "$dev" $IDENTIFY | sed -n 's/^repeat=\([0-9]*\) seconds=\(.*\)/\1 \2/p')
  echo "KERNEL-TIER: REQUEST direct $t"
  t=$($MEMBER /bin/sh -c 'exec "$@"' sh kestrel-sgprobe --helper $HELPER --repeat $COUNT "$dev" $IDENTIFY |
    sed -n 's/^repeat=\([0-9]*\) seconds=\(.*\)/\1 \2/p')
  echo "KERNEL-TIER: REQUEST helper $t"
done
kill -TERM $door
wait $door

ok=yes
n=0
while [ $n -lt $RUNS ]; do
  run direct || ok=no
  run helper || ok=no
  n=$((n + 1))
done
[ $ok = yes ] && passed=$((passed + 1))
