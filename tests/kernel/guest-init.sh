#!/bin/busybox sh
# /init of the kernel tier's guest: mounts the kernel's file systems, loads the SCSI target and
# USB modules in dependency order, runs the scenarios and powers off. Every line that starts
# with "KERNEL-TIER:" is read by the host; anything else on the console is there for diagnosis.
/bin/busybox --install -s /bin
export PATH=/usr/bin:/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /tmp
echo  # the firmware leaves terminal control sequences on the current line
echo "KERNEL-TIER: BOOTED uptime=$(cut -d' ' -f1 /proc/uptime)"

while read -r module; do
  # dummy_hcd: one UDC and one host controller (a USB bus of its own) per virtual USB device.
  args=
  [ "$module" = dummy_hcd.ko ] && args=num=6
  # The PCLMUL CRC helper has no CPU to run on under TCG; the generic one stands in for it.
  # shellcheck disable=SC2086
  insmod "/lib/modules/$module" $args 2>/tmp/insmod.err ||
    echo "kernel-tier: insmod $module: $(cat /tmp/insmod.err)"
done </lib/modules/load-order
mount -t configfs configfs /sys/kernel/config

passed=0
failed=0
. /scenarios.sh

echo "KERNEL-TIER: SUMMARY passed=$passed failed=$failed uptime=$(cut -d' ' -f1 /proc/uptime)"
sync
poweroff -f
