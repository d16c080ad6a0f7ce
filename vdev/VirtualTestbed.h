#pragma once
// The umockdev front door: a testbed whose /sys/block holds the drives described below and
// whose device nodes are served by a DeviceModel each. The product's own sysfs scan, open() and
// ioctl(SG_IO) run unchanged against it, in this process (when it was started with the umockdev
// preload library, as the emulated tests are) or in a child started with LD_PRELOAD and the
// inherited UMOCKDEV_DIR (kestrel-vdev).
//
// umockdev serves the device nodes on its own worker thread; every access to a model goes
// through this class's lock. Close every handle on a device node before the testbed is
// destroyed: a client still connected when the handlers go away can hang.

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "vdev/DeviceModel.h"
#include "vdev/VirtualDrive.h"

// The testbed could not be set up; tests must fail on it, never skip.
class VirtualTestbedError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class VirtualTestbed {
public:
    // Builds the testbed and attaches a model to every drive's node. requirePreloadHere: this
    // process itself must have the preload library (tests); kestrel-vdev passes false because
    // only its child runs under the testbed. Throws VirtualTestbedError. Only one testbed can
    // exist at a time in a process (umockdev keeps it in the environment).
    explicit VirtualTestbed(std::vector<VirtualDrive> drives, bool requirePreloadHere = true);
    ~VirtualTestbed();
    VirtualTestbed(const VirtualTestbed&) = delete;
    VirtualTestbed& operator=(const VirtualTestbed&) = delete;

    // A fixed disk that would answer identify like the device: it must never be opened.
    static VirtualDrive FixedDisk(std::string name = "sda");
    // The upgrade device as a removable disk (or another kind).
    static VirtualDrive UpgradeDevice(std::string name = "sdb", DeviceConfig config = {},
                                      FaultScript faults = {},
                                      VirtualDriveKind kind = VirtualDriveKind::Removable);
    // A removable drive that is not the device: it refuses the vendor opcodes.
    static VirtualDrive OrdinaryDrive(std::string name,
                                      VirtualDriveKind kind = VirtualDriveKind::Removable);

    // Plugs the drive in, or pulls it out: its sysfs entries and device node appear or go,
    // and requests on a handle still open fail. The model (its flash, log and fault counters)
    // stays, as a unit's own memory does. No-ops when already so.
    void Attach(const std::string& name);
    void Detach(const std::string& name);

    // The testbed's root directory (UMOCKDEV_DIR).
    const std::string& RootDir() const;

    // Runs f on the drive's model under the door's lock: read its log and flash, or change its
    // configuration and faults between requests. Throws std::out_of_range for an unknown name.
    void WithModel(const std::string& name, const std::function<void(DeviceModel&)>& f);
    // Copies taken under the lock.
    std::vector<LoggedRequest> Log(const std::string& name);
    std::vector<std::uint8_t> Flash(const std::string& name);
    // How often the node was opened by a client, and how many ioctls other than SG_IO it
    // refused with ENOTTY.
    unsigned OpenCount(const std::string& name);
    unsigned RefusedIoctls(const std::string& name);

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};
