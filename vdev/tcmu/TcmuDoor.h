#pragma once
// The TCMU front door of the virtual device: serves the device model as a SCSI disk of the real
// Linux kernel (a target_core_user backstore exported through tcm_loop), so the product's own
// SG_IO path, the sd driver and the block layer carry every command. Runs as root until SIGINT
// or SIGTERM; an unplug in the fault script removes the LUN at that moment.

#include <cstdint>
#include <string>

#include "vdev/DeviceModel.h"
#include "vdev/ScsiResponder.h"

struct TcmuDoorOptions {
    std::string name = "kestrel";  // backstore name; also the LUN's VPD serial
    bool removable = true;         // clear: a fixed disk that the product must skip
    std::uint64_t sizeBytes = std::uint64_t{1024} * 1024;
    std::string readyFile;  // written with the /dev path once sd has attached the disk
    std::string flashDump;  // the model's 512 KB flash, written on the way out
    bool verbose = false;   // one line per command on stderr
};

class TcmuDoor {
public:
    TcmuDoor(TcmuDoorOptions options, DeviceModel& model);

    // Sets up, serves until a stop signal, tears down. Returns the process exit status; the
    // reason for a failure is on stderr.
    int Run();

private:
    RequestOutcome HandleVendor(const std::uint8_t* cdb, std::size_t cdbLength, bool toDevice,
                                std::uint8_t* buffer, std::uint32_t length);
    void Finish() const;

    TcmuDoorOptions m_options;
    DeviceModel& m_model;
    unsigned m_vendorRequests = 0;
};
