# Scenarios of the kernel tier, sourced by the guest's /init (busybox ash). Each one prints
# "KERNEL-TIER: PASS name" or "KERNEL-TIER: FAIL name: why". Every wait has a limit.
echo "KERNEL-TIER: PLAN 5"

LIMIT=60          # seconds for one product command
IMAGE=/data/sample.bin
# util-linux setpriv: the shell would run busybox's own applet, which cannot change ids.
USER_IDS="--reuid=1000 --regid=1000 --clear-groups"

pass() { passed=$((passed + 1)); echo "KERNEL-TIER: PASS $1"; }
fail() {
  failed=$((failed + 1))
  echo "KERNEL-TIER: FAIL $1: $2"
  for log in /tmp/*.log; do [ -f "$log" ] && sed "s|^|  $(basename "$log"): |" "$log"; done
}

# start_door NAME [door options]: serves a device model as a SCSI disk; its /dev path goes to
# $DOOR_DEV. The door stays a child of this shell (no command substitution), so that stop_door
# can reap it.
start_door() {
  name=$1
  shift
  DOOR_DEV=
  rm -f "/tmp/$name.ready" "/tmp/$name.flash"
  kestrel-vdev tcmu --name "$name" --ready-file "/tmp/$name.ready" --flash-out "/tmp/$name.flash" \
    "$@" >/dev/null 2>"/tmp/$name.log" &
  echo $! >"/tmp/$name.pid"
  i=0
  while [ ! -f "/tmp/$name.ready" ]; do
    i=$((i + 1))
    if [ $i -gt 300 ] || ! kill -0 "$(cat "/tmp/$name.pid")" 2>/dev/null; then
      echo "kernel-tier: door $name did not come up" >&2
      return 1
    fi
    sleep 0.1
  done
  DOOR_DEV=$(cat "/tmp/$name.ready")
}

# stop_door NAME: SIGTERM, then waits (limited) for the door to tear its LUN down and exit.
stop_door() {
  pid=$(cat "/tmp/$1.pid" 2>/dev/null) || return 0
  kill -TERM "$pid" 2>/dev/null
  i=0
  while kill -0 "$pid" 2>/dev/null; do
    i=$((i + 1))
    if [ $i -gt 200 ]; then
      echo "kernel-tier: door $1 did not stop; killing it" >&2
      kill -KILL "$pid"
      break
    fi
    sleep 0.1
  done
  wait "$pid" 2>/dev/null
  rm -f "/tmp/$1.pid"
}

# probe DEVICE ARGS...: one raw SG_IO request, its report on stdout.
probe() { timeout "$LIMIT" kestrel-sgprobe "$@"; }
IDENTIFY="in 2 87 00 00 00 00 02 00 02 00 00"

# --- a fixed disk that would answer the device's commands, present the whole time
start_door fixed0 --fixed
FIXED=$DOOR_DEV

# --- attach: sd sees one fixed and one removable disk
start_door dev0
DEV=$DOOR_DEV
if [ -z "$DEV" ] || [ -z "$FIXED" ]; then
  fail attach "door did not come up"
elif [ "$(cat /sys/block/${DEV#/dev/}/removable)" != 1 ] ||
     [ "$(cat /sys/block/${FIXED#/dev/}/removable)" != 0 ]; then
  fail attach "removable flags: $DEV $(cat /sys/block/${DEV#/dev/}/removable), $FIXED $(cat /sys/block/${FIXED#/dev/}/removable)"
else
  pass attach
fi

# --- transport: the identify command travels through sd, SG_IO and tcm_loop to the model
out=$(probe "$DEV" $IDENTIFY)
case "$out" in
  "ioctl=0 errno=0 status=0x00 host=0x0000 driver=0x0000 data=AA55") pass transport ;;
  *) fail transport "identify answered: $out" ;;
esac

# --- permission: vendor opcodes need CAP_SYS_RAWIO even with read-write access to the node
chmod 0666 "$DEV"
plain=$(/usr/bin/setpriv $USER_IDS --inh-caps=-all kestrel-sgprobe "$DEV" $IDENTIFY)
capable=$(/usr/bin/setpriv $USER_IDS --inh-caps=+sys_rawio --ambient-caps=+sys_rawio kestrel-sgprobe "$DEV" $IDENTIFY)
case "$plain|$capable" in
  "ioctl=-1 errno=1 "*"|ioctl=0 errno=0 status=0x00 host=0x0000 driver=0x0000 data=AA55")
    pass permission-probe ;;
  *) fail permission-probe "without: $plain / with: $capable" ;;
esac
stop_door dev0

# --- a request the model refuses comes back the way a real device refuses: CHECK CONDITION
# with sense (which the product does not examine) and no answer data
start_door dev0 --fail-command 1
DEV=$DOOR_DEV
out=$(probe "$DEV" $IDENTIFY)
case "$out" in
  "ioctl=0 errno=0 status=0x02 host=0x0000 driver=0x0008 data=0000") pass refused-request ;;
  *) fail refused-request "$out" ;;
esac
stop_door dev0

# --- the doors take their LUNs down on the way out
stop_door fixed0
if ls /sys/kernel/config/target/loopback/ 2>/dev/null | grep -q naa; then
  fail teardown "tcm_loop targets left: $(ls /sys/kernel/config/target/loopback/)"
elif grep -q "tcm-user" /sys/class/uio/*/name 2>/dev/null; then
  fail teardown "uio devices left"
else
  pass teardown
fi
