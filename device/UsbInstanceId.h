#pragma once
// How Windows names a USB disk's devices, read as text. The USB device is
// "USB\VID_1D6B&PID_0104\KV0001" (its serial number last); the disk below it is
// "USBSTOR\Disk&Ven_X&Prod_Y&Rev_Z\KV0001&0" (the same serial, then the LUN), or an instance
// Windows made up ("7&1a2b3c4d&0") when the device has no serial; the mount manager names a
// removable volume by the disk's interface path "\??\USBSTOR#Disk&Ven_X&...#KV0001&0#{guid}".
// Portable so that both halves of the Wine door and the Windows build spell them alike.

#include <optional>
#include <string>
#include <string_view>

struct UsbInstanceId {
    std::string vendorId;   // "1D6B", as Windows writes it
    std::string productId;  // "0104"
    std::string serial;     // "KV0001"
};

// The parts of "USB\VID_vvvv&PID_pppp\SERIAL" (any case); nothing for another instance, or
// for one whose last part Windows made up (it then holds '&').
std::optional<UsbInstanceId> ParseUsbInstanceId(std::string_view id);

// "USBSTOR\Disk&...\KV0001&0" from the mount manager's "\??\USBSTOR#Disk&...#KV0001&0#{guid}";
// nothing when the volume is named otherwise (a partition by its disk's signature).
std::optional<std::string> DiskInstanceOfMountName(std::string_view name);

// The USB serial in a USBSTOR disk instance ("KV0001" of "USBSTOR\Disk&...\KV0001&0"); nothing
// when Windows made the instance up.
std::optional<std::string> SerialOfDiskInstance(std::string_view id);
