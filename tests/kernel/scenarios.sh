# Scenarios of the kernel tier, sourced by the guest's /init (busybox ash). Each one prints
# "KERNEL-TIER: PASS name" or "KERNEL-TIER: FAIL name: why". Every wait has a limit.
echo "KERNEL-TIER: PLAN 21"

# Limits only stop a hang: they hold on a machine that other work loads (QEMU's TCG then runs
# the guest many times slower than on a quiet one), and every wait is for a state.
LIMIT=300         # seconds for one product command
WAIT_LIMIT=300    # seconds for a door, a node or a station's line to appear
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
    if [ $i -gt $((WAIT_LIMIT * 10)) ] || ! kill -0 "$(cat "/tmp/$name.pid")" 2>/dev/null; then
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
    if [ $i -gt $((WAIT_LIMIT * 10)) ]; then
      echo "kernel-tier: door $1 did not stop; killing it" >&2
      kill -KILL "$pid"
      break
    fi
    sleep 0.1
  done
  wait "$pid" 2>/dev/null
  rm -f "/tmp/$1.pid"
}

# start_usb NAME [kestrel-vdev usb options]: serves devices as USB mass-storage gadgets on
# dummy_hcd; the /dev nodes of those plugged in at the start go to $USB_DEVS (one per line, in
# device order). stop_door stops it too.
start_usb() {
  name=$1
  shift
  USB_DEVS=
  rm -f "/tmp/$name.ready" /tmp/"$name".flash*
  kestrel-vdev usb --ready-file "/tmp/$name.ready" --flash-out "/tmp/$name.flash" "$@" \
    >/dev/null 2>"/tmp/$name.log" &
  echo $! >"/tmp/$name.pid"
  i=0
  while [ ! -f "/tmp/$name.ready" ]; do
    i=$((i + 1))
    if [ $i -gt $((WAIT_LIMIT * 10)) ] || ! kill -0 "$(cat "/tmp/$name.pid")" 2>/dev/null; then
      echo "kernel-tier: USB door $name did not come up" >&2
      return 1
    fi
    sleep 0.1
  done
  USB_DEVS=$(cat "/tmp/$name.ready")
}
nth() { echo "$2" | sed -n "$1p"; }

# probe DEVICE ARGS...: one raw SG_IO request, its report on stdout.
probe() { timeout "$LIMIT" kestrel-sgprobe "$@"; }
IDENTIFY="in 2 87 00 00 00 00 02 00 02 00 00"

# cli NAME ARGS...: runs kestrel-cli under a time limit; stdout+stderr in /tmp/NAME.out, the
# exit status in $status.
cli() {
  out=/tmp/$1.out
  shift
  timeout "$LIMIT" "$@" >"$out" 2>&1
  status=$?
}
has() { grep -qF -- "$2" "$1"; }

# blocks FILE SKIP COUNT OUT: COUNT 1 KB blocks of FILE from block SKIP.
blocks() { dd if="$1" of="$4" bs=1024 skip="$2" count="$3" 2>/dev/null; }

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

# --- list: the removable disk is the device; the fixed one is skipped without being opened;
# each shows the identity the kernel has from INQUIRY (sysfs)
cli list kestrel-cli list
if [ $status -ne 0 ] || ! has /tmp/list.out "device: $DEV" ||
   ! grep "$FIXED " /tmp/list.out | grep -qF "skipped: not removable, never opened" ||
   ! grep "$DEV " /tmp/list.out | grep -qF "identify answered AA 55: the device" ||
   ! has /tmp/list.out "KESTREL Virtual Device"; then
  fail list "exit $status: $(cat /tmp/list.out)"
else
  pass list
fi

# --- permissions: read-write access to the node is not enough without CAP_SYS_RAWIO
chmod 0666 "$DEV"
cli list-user /usr/bin/setpriv $USER_IDS --inh-caps=-all kestrel-cli list
user_status=$status
cli list-rawio /usr/bin/setpriv $USER_IDS --inh-caps=+sys_rawio --ambient-caps=+sys_rawio \
  kestrel-cli list
if [ $user_status -eq 0 ] || ! grep "$DEV " /tmp/list-user.out | grep -qF "Operation not permitted" ||
   ! has /tmp/list-user.out "CAP_SYS_RAWIO" || has /tmp/list-user.out "device: $DEV"; then
  fail permission "without the capability: $(cat /tmp/list-user.out)"
elif [ $status -ne 0 ] || ! has /tmp/list-rawio.out "device: $DEV"; then
  fail permission "with CAP_SYS_RAWIO, exit $status: $(cat /tmp/list-rawio.out)"
else
  pass permission
fi

# --- upgrade: the whole range arrives byte-exact, and nothing outside it is written
cli upgrade kestrel-cli upgrade --yes "$IMAGE"
upgrade_status=$status
stop_door dev0
blocks "$IMAGE" 16 84 /tmp/sent.bin
blocks /tmp/dev0.flash 16 84 /tmp/flashed.bin
blocks /tmp/dev0.flash 0 16 /tmp/boot.bin
dd if=/dev/zero bs=1024 count=16 2>/dev/null | tr '\000' '\377' >/tmp/erased.bin
if [ $upgrade_status -ne 0 ] || ! has /tmp/upgrade.out "Finish OK!"; then
  fail upgrade "exit $upgrade_status: $(cat /tmp/upgrade.out)"
elif ! cmp /tmp/sent.bin /tmp/flashed.bin; then
  fail upgrade "the flash differs from the image in blocks 16-99"
elif ! cmp /tmp/erased.bin /tmp/boot.bin; then
  fail upgrade "the boot area was written"
elif ! has /tmp/dev0.log "84 blocks accepted"; then
  fail upgrade "door: $(tail -n 1 /tmp/dev0.log)"
else
  pass upgrade
fi

# --- a block status that refuses block 20: the run stops there with "Send Error!"
start_door dev0 --bad-status-byte2 20
cli bad-status kestrel-cli upgrade --yes "$IMAGE"
stop_door dev0
if [ $status -ne 1 ] || ! has /tmp/bad-status.out "Send Error!" ||
   has /tmp/bad-status.out "Finish OK!" || ! has /tmp/dev0.log " 4 blocks accepted"; then
  fail bad-status "exit $status: $(cat /tmp/bad-status.out)"
else
  pass bad-status
fi

# --- unplug: the LUN goes away after block 30 while the run goes on
start_door dev0 --unplug-after 30
DEV=$DOOR_DEV
cli unplug kestrel-cli upgrade --yes "$IMAGE"
# the kernel takes the LUN down on its own time
gone=no
i=0
while [ $i -lt $((WAIT_LIMIT * 10)) ]; do
  [ -e "/sys/block/${DEV#/dev/}" ] || { gone=yes; break; }
  i=$((i + 1)); sleep 0.1
done
stop_door dev0
if [ $status -ne 1 ] || ! has /tmp/unplug.out "Send Error!" || has /tmp/unplug.out "Finish OK!"; then
  fail unplug "exit $status: $(cat /tmp/unplug.out)"
elif [ $gone != yes ] || ! has /tmp/dev0.log "unplugged: LUN removed"; then
  fail unplug "$DEV still attached after the unplug"
else
  pass unplug
fi

# --- a request the model refuses comes back the way a real device refuses: CHECK CONDITION
# with sense (which the product does not examine) and no answer data
start_door dev0 --fail-command 1
out=$(probe "$DOOR_DEV" $IDENTIFY)
stop_door dev0
case "$out" in
  "ioctl=0 errno=0 status=0x02 host=0x0000 driver=0x0008 data=0000") pass refused-request ;;
  *) fail refused-request "$out" ;;
esac

# --- the doors take their LUNs down on the way out; nobody ever sent the fixed disk a command
stop_door fixed0
if ls /sys/kernel/config/target/loopback/ 2>/dev/null | grep -q naa; then
  fail teardown "tcm_loop targets left: $(ls /sys/kernel/config/target/loopback/)"
elif grep -q "tcm-user" /sys/class/uio/*/name 2>/dev/null; then
  fail teardown "uio devices left"
elif ! has /tmp/fixed0.log "fixed0: 0 vendor requests"; then
  fail teardown "the fixed disk was sent vendor commands: $(tail -n 1 /tmp/fixed0.log)"
else
  pass teardown
fi

# === USB: the device as a USB mass-storage gadget (FunctionFS on dummy_hcd); usb-storage, the
# hub and the USB ids, iSerial and port path are the kernel's own. Debian's systemd-udevd runs
# meanwhile (when the host could fetch it): it probes every disk that appears and re-probes one
# after each read-write close, under a shared flock, and the station hears its events.
UDEV=no
if command -v systemd-udevd >/dev/null; then
  mkdir -p /run/udev
  systemd-udevd --daemon 2>/tmp/udevd.err && udevadm settle -t "$WAIT_LIMIT" && UDEV=yes
fi
echo "KERNEL-TIER: INFO udev $UDEV"

# --- one stick: list shows its USB identity and port, upgrade --device is byte-exact, and a list
# right after the upgrade finds it again
start_usb usb0 --vid 1209 --pid 4b53 --manufacturer Kestrel --product "Upgrade Stick" \
  --serial KUSB0001
DEV=$USB_DEVS
cli usb-list kestrel-cli list
cli usb-upgrade kestrel-cli upgrade --device "$DEV" --yes "$IMAGE"
upgrade_status=$status
cli usb-list-after kestrel-cli list
list_after=$status
cli usb-upgrade-after kestrel-cli upgrade --device "$DEV" --yes "$IMAGE"
stop_door usb0
blocks /tmp/usb0.flash 16 84 /tmp/usb-flashed.bin
if [ -z "$DEV" ] || ! grep "^${DEV#/dev/} " /tmp/usb-list.out | grep -qF "the device" ||
   ! has /tmp/usb-list.out "USB 1209:4b53, serial KUSB0001, port 1-1"; then
  fail usb-device "list: $(cat /tmp/usb-list.out)"
elif [ $upgrade_status -ne 0 ] || ! has /tmp/usb-upgrade.out "Finish OK!" ||
     ! cmp /tmp/sent.bin /tmp/usb-flashed.bin; then
  fail usb-device "upgrade --device, exit $upgrade_status: $(cat /tmp/usb-upgrade.out)"
elif [ $list_after -ne 0 ] || ! has /tmp/usb-list-after.out "device: $DEV"; then
  fail usb-device "list right after the upgrade, exit $list_after: $(cat /tmp/usb-list-after.out)"
elif [ $status -ne 0 ] || ! has /tmp/usb-upgrade-after.out "Finish OK!"; then
  fail usb-device "upgrade right after the list, exit $status: $(cat /tmp/usb-upgrade-after.out)"
else
  pass usb-device
fi

# --- --all with four USB devices, each on its own bus, each flashed byte-exact
start_usb usb4 --devices 4
cli usb-all kestrel-cli upgrade --all --yes "$IMAGE"
stop_door usb4
why=
for k in 1 2 4 3; do
  blocks /tmp/usb4.flash.$k 16 84 /tmp/usb-flashed.bin
  cmp -s /tmp/sent.bin /tmp/usb-flashed.bin || why="$why device $k's flash differs;"
done
if [ $status -ne 0 ] || ! has /tmp/usb-all.out "4 devices: 4 succeeded, 0 failed" || [ -n "$why" ]; then
  fail usb-all "exit $status:$why $(cat /tmp/usb-all.out)"
else
  pass usb-all
fi

# --- CD-ROM class: interface subclass 02 (usb-storage pads every command to 12 bytes) and 06
start_usb usbcd --devices 2 --cdrom --on '1:--subclass 02' --verbose
cd_nodes=$(echo $USB_DEVS)
cli usb-cdrom kestrel-cli upgrade --all --yes "$IMAGE"
stop_door usbcd
why=
for k in 1 2; do
  blocks /tmp/usbcd.flash.$k 16 84 /tmp/usb-flashed.bin
  cmp -s /tmp/sent.bin /tmp/usb-flashed.bin || why="$why device $k's flash differs;"
done
case "$cd_nodes" in /dev/sr*" "/dev/sr*) ;; *) why="$why not two CD-ROM drives: $cd_nodes;" ;; esac
has /tmp/usbcd.log "kestrel1: 86 out 321 (12-byte CDB) ok" || why="$why subclass 02 without 12-byte CDBs;"
has /tmp/usbcd.log "kestrel2: 86 out 321 (10-byte CDB) ok" || why="$why subclass 06 without 10-byte CDBs;"
if [ $status -ne 0 ] || ! has /tmp/usb-cdrom.out "2 devices: 2 succeeded, 0 failed" || [ -n "$why" ]; then
  fail usb-cdrom "exit $status:$why $(cat /tmp/usb-cdrom.out)"
else
  pass usb-cdrom
fi

# --- Bulk-Only errors as usb-storage meets them: a phase error (usb-storage resets the USB port,
# and the device is configured again), a stalled data stage (the host clears the halt and asks
# for the sense), a device that vanishes in the middle of a command. Each run fails with a
# message; the first two devices answer again.
start_usb usbbot --devices 3 --on '1:--phase-error-at 8' --on '2:--stall-at 8' \
  --on '3:--unplug-after 20' --verbose
d1=$(nth 1 "$USB_DEVS") d2=$(nth 2 "$USB_DEVS") d3=$(nth 3 "$USB_DEVS")
cli bot-phase kestrel-cli upgrade --device "$d1" --yes "$IMAGE"
phase_status=$status
cli bot-stall kestrel-cli upgrade --device "$d2" --yes "$IMAGE"
stall_status=$status
cli bot-vanish kestrel-cli upgrade --device "$d3" --yes "$IMAGE"
vanish_status=$status
cli bot-list kestrel-cli list
stop_door usbbot
if [ $phase_status -ne 1 ] || has /tmp/bot-phase.out "Finish OK!" ||
   [ "$(grep -c "kestrel1: configured by the host" /tmp/usbbot.log)" -lt 2 ]; then
  fail usb-bot-errors "phase error, exit $phase_status: $(cat /tmp/bot-phase.out)"
elif [ $stall_status -ne 1 ] || has /tmp/bot-stall.out "Finish OK!"; then
  fail usb-bot-errors "stall, exit $stall_status: $(cat /tmp/bot-stall.out)"
elif [ $vanish_status -ne 1 ] || has /tmp/bot-vanish.out "Finish OK!" ||
     ! has /tmp/usbbot.log "(KV0003): " || ! grep -q "(KV0003): .*unplugged" /tmp/usbbot.log; then
  fail usb-bot-errors "vanish, exit $vanish_status: $(cat /tmp/bot-vanish.out)"
elif ! grep "^${d1#/dev/} " /tmp/bot-list.out | grep -qF "the device" ||
     ! grep "^${d2#/dev/} " /tmp/bot-list.out | grep -qF "the device" ||
     grep -q "^${d3#/dev/} " /tmp/bot-list.out; then
  fail usb-bot-errors "after the errors: $(cat /tmp/bot-list.out)"
else
  pass usb-bot-errors
fi

# --- a station with plug, pull and replug: unit 1 is flashed, unit 2 fails at its 7th write and
# is counted with its message, unit 1 pulled and plugged back in is not flashed again, unit 3
# plugged in later is flashed; every run recorded in two phases (started, finished). Each plug
# and pull waits for the station to have reached the state before it, however slow the guest.
rm -f /tmp/usbst.plug /tmp/usbst.jsonl
: >/tmp/usbst.plug
start_usb usbst --devices 3 --on '2:--fail-write 7' --unplugged 3 --plug-file /tmp/usbst.plug
[ $UDEV = yes ] && { udevadm monitor --udev --subsystem-match=block >/tmp/udev-events.txt 2>&1 & }
monitor=$!
: >/tmp/usb-station.log
kestrel-cli station --record /tmp/usbst.jsonl "$IMAGE" >/tmp/usb-station.log 2>&1 &
station=$!
why=
station_reached() {  # WHAT COUNT PATTERN: until the station's output has COUNT lines matching
  i=0
  while [ "$(grep -c -- "$3" /tmp/usb-station.log)" -lt "$2" ]; do
    i=$((i + 1))
    if [ $i -gt $((WAIT_LIMIT * 10)) ] || ! kill -0 $station 2>/dev/null; then
      why="${why:-the station never reached: $1}"
      return 1
    fi
    sleep 0.1
  done
}
station_reached "unit 1 flashed" 1 "KV0001  Finish OK!" &&
  station_reached "unit 2's failure" 1 "KV0002  .*\(Send Error!\|failed\)" &&
  echo -1 >>/tmp/usbst.plug && station_reached "unit 1 removed" 1 "KV0001  removed" &&
  echo +1 >>/tmp/usbst.plug && station_reached "unit 1 left alone" 1 "KV0001.*left alone" &&
  echo +3 >>/tmp/usbst.plug && station_reached "unit 3 flashed" 1 "KV0003  Finish OK!"
kill -INT $station
wait $station
station_status=$?
stop_door usbst
if [ $UDEV = yes ]; then
  kill $monitor
  # udev's re-probes: "change" events of the units' whole disks, each after a read-write close
  echo "KERNEL-TIER: INFO udev during the station shift: $(grep -c ' add .*/block/s[dr][a-z0-9]* (block)' /tmp/udev-events.txt) disks added, $(grep -c ' change .*/block/s[dr][a-z0-9]* (block)' /tmp/udev-events.txt) re-probes (change)"
fi
started=$(grep -c '"event":"started"' /tmp/usbst.jsonl)
finished=$(grep -c '"event":"finished"' /tmp/usbst.jsonl)
if [ -n "$why" ] || [ $station_status -ne 1 ] ||
   ! has /tmp/usb-station.log "station: 2 succeeded, 1 failed"; then
  fail usb-station "${why:+$why; }exit $station_status: $(cat /tmp/usb-station.log)"
elif ! grep "KV0002" /tmp/usb-station.log | grep -q "Send Error!\|failed"; then
  fail usb-station "the failing unit's message: $(cat /tmp/usb-station.log)"
elif ! grep "KV0001" /tmp/usb-station.log | grep -qF "already upgraded, left alone"; then
  fail usb-station "the replugged unit: $(cat /tmp/usb-station.log)"
elif [ $UDEV = yes ] && ! has /tmp/usb-station.log "station: waiting for devices; Ctrl-C stops"; then
  # with udev it looks only when udev says something changed: every plug and pull above came
  # to it as udev's events
  fail usb-station "the station did not listen to udev: $(head -n 1 /tmp/usb-station.log)"
elif [ "$started" != 3 ] || [ "$finished" != 3 ]; then
  fail usb-station "records: $started started, $finished finished: $(cat /tmp/usbst.jsonl)"
else
  pass usb-station
fi

# udev's rules would reset the nodes' owners and modes that the package scenarios set by hand
# (and once it has gone, its control socket must go too: a station takes it for a running udev)
if [ $UDEV = yes ]; then
  udevadm control --exit
  rm -rf /run/udev
fi

# --- the kestrel package, installed as dpkg does it: its files unpacked, then its postinst run,
# with the real dpkg-statoverride and setcap and stand-ins for adduser's tools (getent,
# addgroup), which are Perl. Earlier scenarios ran the plain build; a copy of it stays a user's
# own build. Only the helper carries a capability; the programs belong to root and run for all.
HELPER=/usr/libexec/kestrel/kestrel-devio
cp /usr/bin/kestrel-cli /tmp/own-kestrel-cli
mkdir -p /var/lib/dpkg
if ! cp -a /pkg/root/. / || ! PATH=/pkg/shims:$PATH sh /pkg/postinst configure >/tmp/postinst.log 2>&1; then
  fail package-install "postinst: $(cat /tmp/postinst.log)"
else
  KESTREL_GID=$(grep "^kestrel:" /etc/group | cut -d: -f3)
  modes=
  for program in $HELPER /usr/bin/kestrel-cli /usr/bin/kestrel-upgrade; do
    modes="$modes $(stat -c '%u:%g %a' "$program")"
  done
  expected=" 0:$KESTREL_GID 750 0:0 755 0:0 755"
  capabilities=$(getcap -r / 2>/dev/null)
  if [ -z "$KESTREL_GID" ] || [ "$KESTREL_GID" -ge 1000 ]; then
    fail package-install "no system group kestrel: $(cat /etc/group)"
  elif [ "$modes" != "$expected" ]; then
    fail package-install "owner and mode:$modes (expected$expected)"
  elif [ "$capabilities" != "$HELPER cap_sys_rawio=ep" ]; then
    fail package-install "capabilities: $capabilities (expected the helper's alone)"
  else
    pass package-install
  fi
fi
MEMBER_IDS="--reuid=1000 --regid=1000 --groups=$KESTREL_GID --inh-caps=-all"
OTHER_IDS="--reuid=1001 --regid=1001 --clear-groups --inh-caps=-all"
# The user's programs are started by a shell of that user, as after a login: setpriv keeps
# root's capabilities up to its own exec, so that exec would not be checked as the user's.

# --- a member of kestrel upgrades with the packaged kestrel-cli, which has no capability: its
# helper sends the commands; the node belongs to the user at the seat, as the udev rule's
# uaccess tag gives it
start_door pkg0
chown 1000 "$DOOR_DEV"
chmod 0600 "$DOOR_DEV"
cli member /usr/bin/setpriv $MEMBER_IDS /bin/sh -c 'exec "$@"' sh /usr/bin/kestrel-cli upgrade --yes "$IMAGE"
member_status=$status
stop_door pkg0
blocks /tmp/pkg0.flash 16 84 /tmp/member-flashed.bin
if [ $member_status -ne 0 ] || ! has /tmp/member.out "Finish OK!"; then
  fail package-member "exit $member_status: $(cat /tmp/member.out)"
elif ! cmp /tmp/sent.bin /tmp/member-flashed.bin; then
  fail package-member "the flash differs from the image in blocks 16-99"
else
  pass package-member
fi

# --- a user outside kestrel runs the packaged kestrel-cli but not its helper, and hears why; their
# own build, even with read-write access to the node, gets the permission diagnosis
start_door pkg0
chmod 0666 "$DOOR_DEV"
cli other-packaged /usr/bin/setpriv $OTHER_IDS /bin/sh -c 'exec "$@"' sh /usr/bin/kestrel-cli list
other_packaged=$status
cli other-upgrade /usr/bin/setpriv $OTHER_IDS /bin/sh -c 'exec "$@"' sh /usr/bin/kestrel-cli upgrade --yes "$IMAGE"
other_upgrade=$status
cli other-own /usr/bin/setpriv $OTHER_IDS /bin/sh -c 'exec "$@"' sh /tmp/own-kestrel-cli list
stop_door pkg0
if [ $other_packaged -eq 0 ] ||
   ! grep "$DOOR_DEV " /tmp/other-packaged.out | grep -qF "Kestrel's helper may not be run by this user (Permission denied)" ||
   ! has /tmp/other-packaged.out "may be run only by the group kestrel" ||
   ! has /tmp/pkg0.log "pkg0: 0 vendor requests"; then
  fail package-non-member "packaged kestrel-cli, exit $other_packaged: $(cat /tmp/other-packaged.out)"
elif [ $other_upgrade -ne 1 ] || ! has /tmp/other-upgrade.out "Device Open Fail!" ||
     ! has /tmp/other-upgrade.out "may be run only by the group kestrel"; then
  fail package-non-member "packaged kestrel-cli upgrade, exit $other_upgrade: $(cat /tmp/other-upgrade.out)"
elif [ $status -eq 0 ] || ! grep "$DOOR_DEV " /tmp/other-own.out | grep -qF "Operation not permitted" ||
     ! has /tmp/other-own.out "CAP_SYS_RAWIO" || ! has /tmp/other-own.out "group kestrel"; then
  fail package-non-member "own build, exit $status: $(cat /tmp/other-own.out)"
else
  pass package-non-member
fi

# --- on a real USB disk: a member of kestrel upgrades through the installed helper; a user
# outside the group, with the node open to everyone, is refused by the helper and told so first
start_usb upkg --serial KPKG0001
DEV=$USB_DEVS
chown 1000 "$DEV"
chmod 0600 "$DEV"
cli usb-member /usr/bin/setpriv $MEMBER_IDS /bin/sh -c 'exec "$@"' sh /usr/bin/kestrel-cli upgrade --device "$DEV" --yes "$IMAGE"
member_status=$status
chmod 0666 "$DEV"
requests_before=$(grep -c "kestrel1: 8" /tmp/upkg.log)
cli usb-other /usr/bin/setpriv $OTHER_IDS /bin/sh -c 'exec "$@"' sh /usr/bin/kestrel-cli list
requests_after=$(grep -c "kestrel1: 8" /tmp/upkg.log)
stop_door upkg
blocks /tmp/upkg.flash 16 84 /tmp/usb-flashed.bin
if [ $member_status -ne 0 ] || ! has /tmp/usb-member.out "Finish OK!" ||
   ! cmp -s /tmp/sent.bin /tmp/usb-flashed.bin; then
  fail usb-package "member, exit $member_status: $(cat /tmp/usb-member.out)"
elif [ $status -eq 0 ] || [ "$requests_before" != "$requests_after" ] ||
     ! grep "^${DEV#/dev/} " /tmp/usb-other.out | grep -qF "removable  $DEV  Kestrel's helper may not be run by this user (Permission denied)" ||
     ! has /tmp/usb-other.out "may be run only by the group kestrel"; then
  fail usb-package "non-member, exit $status: $(cat /tmp/usb-other.out)"
else
  pass usb-package
fi

# --- the helper, asked by a member with read-write access to every node involved, refuses what
# is not the device's own vendor request on a removable drive; nothing reaches the device. A
# standard command would reach the kernel (which passes INQUIRY for anyone): the helper's EPERM
# shows it did not.
start_door fixed1 --fixed
FIXED=$DOOR_DEV
start_door pkg0
DEV=$DOOR_DEV
chmod 0666 "$DEV" "$FIXED"
as_member() { /usr/bin/setpriv $MEMBER_IDS /bin/sh -c 'exec "$@"' sh kestrel-sgprobe --helper $HELPER "$@"; }
refused=
check_refused() {  # NAME EXPECTED ARGS...
  name=$1 expected=$2
  shift 2
  out=$(as_member "$@" 2>&1)
  case "$out" in "$expected"*) ;; *) refused="$refused $name: $out;" ;; esac
}
check_refused inquiry "ioctl=-1 errno=1 " "$DEV" in 36 12 00 00 00 24 00 00 00 00 00
check_refused write10 "ioctl=-1 errno=1 " "$DEV" out 321 2a 00 00 00 00 00 00 00 01 00
check_refused length "ioctl=-1 errno=1 " "$DEV" out 9 86 00 00 00 00 09 00 02 00 00
check_refused layout "ioctl=-1 errno=1 " "$DEV" in 2 87 00 00 00 00 02 00 00 00 00
check_refused fixed "open=-1 errno=1 " "$FIXED" $IDENTIFY
major_minor=$(cat "/sys/block/${DEV#/dev/}/dev")
mknod /tmp/${DEV#/dev/} b "${major_minor%:*}" "${major_minor#*:}" && chmod 0666 /tmp/${DEV#/dev/}
check_refused outside "open=-1 errno=1 " "/tmp/${DEV#/dev/}" $IDENTIFY
check_refused relative "open=-1 errno=1 " "/dev/../tmp/${DEV#/dev/}" $IDENTIFY
mv "$DEV" /tmp/node && ln -s /tmp/node "$DEV"
check_refused symlink "open=-1 errno=40 " "$DEV" $IDENTIFY
rm -f "$DEV" && mv /tmp/node "$DEV"
stop_door pkg0
stop_door fixed1
if [ -n "$refused" ]; then
  fail helper-refuses "$refused"
elif ! has /tmp/pkg0.log "pkg0: 0 vendor requests" || ! has /tmp/fixed1.log "fixed1: 0 vendor requests"; then
  fail helper-refuses "the device was sent: $(tail -n 1 /tmp/pkg0.log) $(tail -n 1 /tmp/fixed1.log)"
else
  pass helper-refuses
fi

# --- removal as dpkg does it: the files go (the helper's capability with them), postrm remove
# drops the ownership override, postrm purge the group
rm -f /usr/bin/kestrel-cli /usr/bin/kestrel-upgrade $HELPER
PATH=/pkg/shims:$PATH sh /pkg/postrm remove >/tmp/postrm.log 2>&1
remove_status=$?
overrides=$(dpkg-statoverride --list)
PATH=/pkg/shims:$PATH sh /pkg/postrm purge >>/tmp/postrm.log 2>&1
if [ $remove_status -ne 0 ] || [ -n "$overrides" ]; then
  fail package-remove "postrm remove, exit $remove_status, overrides left: $overrides $(cat /tmp/postrm.log)"
elif grep -q "^kestrel:" /etc/group; then
  fail package-remove "postrm purge left the group: $(cat /tmp/postrm.log)"
else
  pass package-remove
fi


# --- upgrade from the release before the helper while a station runs: the station keeps
# flashing new units. The earlier release is this package's programs with its own maintainer
# scripts (the capability on kestrel-cli, no helper). dpkg upgrades the way it does: each new
# file, given the ownership override dpkg holds for it, renamed over the old one, then the new
# postinst. The station runs as a member of kestrel; its children start from the program it
# started from, which the upgrade deleted. The node is the member's, as the udev rule makes it.
station_count() { grep -c "Finish OK!" /tmp/station.log 2>/dev/null; }
wait_flashed() {  # COUNT: until the station reports COUNT finished units (limited)
  i=0
  while [ "$(station_count)" -lt "$1" ] && [ $i -lt $((WAIT_LIMIT * 10)) ]; do i=$((i + 1)); sleep 0.1; done
  [ "$(station_count)" -ge "$1" ]
}
cp -a /pkg/root/. / && rm -rf /usr/libexec/kestrel
PATH=/pkg/shims:$PATH sh /pkg/previous/postinst configure >/tmp/postinst.log 2>&1
KESTREL_GID=$(grep "^kestrel:" /etc/group | cut -d: -f3)
start_door unit1
chown 1000 "$DOOR_DEV"
timeout $((LIMIT * 2)) /usr/bin/setpriv --reuid=1000 --regid=1000 --groups="$KESTREL_GID" --inh-caps=-all \
  /bin/sh -c 'exec "$@"' sh /usr/bin/kestrel-cli station "$IMAGE" >/tmp/station.log 2>&1 &
station=$!
why=
wait_flashed 1 || why="the first unit was not flashed"
stop_door unit1
for file in /usr/bin/kestrel-cli /usr/bin/kestrel-upgrade /usr/libexec/kestrel/kestrel-devio; do
  mkdir -p "${file%/*}"
  cp "/pkg/root$file" "$file.dpkg-new"
  override=$(dpkg-statoverride --list "$file")
  if [ -n "$override" ]; then
    chown "root:$(echo "$override" | cut -d' ' -f2)" "$file.dpkg-new"
    chmod "$(echo "$override" | cut -d' ' -f3)" "$file.dpkg-new"
  fi
  mv "$file.dpkg-new" "$file"
done
PATH=/pkg/shims:$PATH sh /pkg/postinst configure 0.9.0 >>/tmp/postinst.log 2>&1
start_door unit2
chown 1000 "$DOOR_DEV"
[ -n "$why" ] || wait_flashed 2 || why="the unit after the upgrade was not flashed"
kill -INT $station
wait $station
stop_door unit2
overrides=$(dpkg-statoverride --list)
if [ -n "$why" ] || ! has /tmp/station.log "station: 2 succeeded, 0 failed" ||
   has /tmp/station.log "cannot start"; then
  fail package-upgrade-station "$why: $(cat /tmp/station.log)"
elif ! has /tmp/unit2.log "84 blocks accepted"; then
  fail package-upgrade-station "unit2: $(tail -n 1 /tmp/unit2.log)"
elif [ "$overrides" != "root kestrel 750 $HELPER" ] ||
     [ "$(stat -c '%u:%g %a' /usr/bin/kestrel-cli)" != "0:0 755" ] ||
     [ "$(getcap -r / 2>/dev/null)" != "$HELPER cap_sys_rawio=ep" ]; then
  fail package-upgrade-station "after the upgrade: overrides '$overrides', kestrel-cli $(stat -c '%u:%g %a' /usr/bin/kestrel-cli), capabilities '$(getcap -r / 2>/dev/null)': $(cat /tmp/postinst.log)"
else
  pass package-upgrade-station
fi
