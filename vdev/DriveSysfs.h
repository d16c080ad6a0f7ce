#pragma once
// What the umockdev testbed shows of a virtual drive in /sys: its USB device, SCSI device and
// block device, in umockdev's text format, with the kernel's numbering and the identity the drive
// gives in answer to INQUIRY (the kernel takes sysfs from there). Pure text, tested on its own.

#include <cstddef>
#include <cstdint>
#include <string>

#include "vdev/VirtualDrive.h"

// 512-byte sectors every virtual drive has: sysfs `size` and READ CAPACITY agree on it.
inline constexpr std::uint64_t kVirtualDriveSectors = 1024;

// Each drive sits on its own USB device and mass-storage host:
// usb2/2-<i+1>/2-<i+1>:1.0/host<i>/target<i>:0:0/<i>:0:0:0, as on a real host.
std::string UsbDevicePath(std::size_t index);
std::string ScsiDevicePath(std::size_t index);

// The umockdev_testbed_add_from_string text for drive number index.
std::string SysfsText(const VirtualDrive& drive, std::size_t index);
