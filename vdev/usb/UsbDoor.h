#pragma once
// The USB door of the virtual device (`kestrel-vdev usb`): each device is a USB mass-storage
// gadget (Bulk-Only Transport over FunctionFS, configured through configfs) on its own UDC of
// dummy_hcd, so that the running kernel meets it as a real USB disk or CD-ROM drive: usb-storage
// carries the commands, the ids, iSerial and port path are the USB stack's own, and plugging it
// in and pulling it out are the hub's events. Linux only; root, configfs mounted, dummy_hcd
// (num=N for N devices), libcomposite and usb_f_fs loaded.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "vdev/DeviceModel.h"

struct UsbDeviceSetup {
    std::uint16_t vendorId = 0x1d6b;
    std::uint16_t productId = 0x0104;
    std::string manufacturer = "KESTREL";
    std::string product = "Virtual Device";
    std::string serial;            // iSerial; also the LUN's VPD serial
    std::uint8_t subclass = 0x06;  // 06 SCSI transparent; 02 ATAPI (usb-storage pads to 12)
    bool cdrom = false;            // INQUIRY says CD-ROM (sr) instead of a removable disk (sd)
    DeviceConfig config;
    FaultScript faults;
    unsigned stallAt = 0;       // the Nth vendor request fails with its data stage stalled
    unsigned phaseErrorAt = 0;  // the Nth vendor request is answered with a phase error
};

struct UsbPlugEvent {
    std::chrono::milliseconds at{0};
    unsigned device = 0;  // index into devices
    bool plug = true;     // bind the device's UDC; false: unbind it (pulled out)
};

struct UsbDoorOptions {
    std::vector<UsbDeviceSetup> devices;
    std::vector<UsbPlugEvent> schedule;  // in time order; a device whose first event plugs it
                                         // in starts out unplugged
    std::vector<unsigned> unplugged;     // devices (indexes) that start out unplugged
    // Plug commands ("+K" / "-K", K from 1, one a line) appended to this file while the door
    // runs are carried out as they come: a test plugs and pulls when its run reached a state.
    std::string plugFile;
    std::string readyFile;  // written with the /dev nodes of the devices plugged in at start
    std::string flashOut;   // each device's flash at exit (FILE, or FILE.K with several)
    bool verbose = false;   // one line per vendor request on stderr
};

// Sets up, serves until SIGINT or SIGTERM, tears down. Returns the exit status; the reason for a
// failure is on stderr.
int RunUsbDoor(const UsbDoorOptions& options);
