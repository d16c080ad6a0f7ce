#pragma once
// One drive of the umockdev testbed: its name, kind, USB identity and the device model's setup.

#include <string>

#include "vdev/DeviceModel.h"

enum class VirtualDriveKind { Fixed, Removable, CdRom };

struct VirtualDrive {
    std::string name = "sdb";  // the /sys/block and /dev name: "sda", "sdb", "sr0"
    VirtualDriveKind kind = VirtualDriveKind::Removable;
    // The node cannot be opened for writing. The tests run as root, whom file modes do not
    // stop, so the node is made a directory: open(O_RDWR) fails with EISDIR.
    bool openReadWriteFails = false;
    // The USB device the drive sits on: ids and serial number as sysfs shows them; an empty
    // serial leaves the attribute out, as for a unit without one.
    std::string usbVendorId = "1d6b";
    std::string usbProductId = "0104";
    std::string serial;  // any bytes
    // The USB port path ("2-3": bus, then ports), shown as the USB device's busnum and devpath;
    // "" for its own port. Two drives given one port sit on one USB device as the product
    // reads it.
    std::string usbPort;
    // kestrel-vdev: for this long after each plug-in the node refuses opens (mode 000) to a
    // process without CAP_DAC_OVERRIDE, as before udev has applied the seat's access rule.
    unsigned denyOpenMs = 0;
    bool attached = true;  // false: the drive is plugged in later (see Attach)
    DeviceConfig config;   // config.answersVendorCommands = false: an ordinary drive
    FaultScript faults;
};
