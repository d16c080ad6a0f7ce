#pragma once
// How this process reaches its drives on Linux: directly (open the node, flock it, SG_IO on it)
// or through kestrel-devio, the small helper that holds CAP_SYS_RAWIO. The choice is made once
// per process, at the first drive it opens (see CurrentDriveAccess); the pass-through,
// enumeration and lock seams of device/linux ask the chosen one, the portable core never knows.

#include <string>

#include "services/DriveHandle.h"
#include "device/DriveLock.h"
#include "device/PassThrough.h"

class DriveAccess {
public:
    virtual ~DriveAccess() = default;
    // Opens the node read-write; kInvalidDrive and the errno in *osError on failure.
    virtual DriveHandle Open(const std::string& devicePath, int* osError) = 0;
    virtual DriveLockResult Lock(DriveHandle handle) = 0;
    virtual bool Send(DriveHandle handle, const PassThroughRequest& request,
                      PassThroughResult& result) = 0;
    virtual void Close(DriveHandle handle) = 0;
    // Advice for an open that failed with osError, or "" when the node's access is the cause.
    virtual std::string OpenFailureHint(int osError) const = 0;
    // What refused the open when it was not the node (see OpenRefusal in DriveEnumeration.h).
    virtual std::string OpenRefusal(int /*osError*/) const { return {}; }
    // Advice for a request refused for want of the capability, worded for this way of access.
    virtual std::string PrivilegeHint() const = 0;
};

// The process's way to its drives: direct when it holds CAP_SYS_RAWIO (root, a capability
// given by hand) or when no helper is installed beside it, else the helper.
DriveAccess& CurrentDriveAccess();

// Where the helper is installed relative to the running program (its lib/exec folder).
std::string InstalledHelperPath();

// PassThroughResult from what SG_IO reported, the same whichever side made the call.
PassThroughResult SgIoOutcome(unsigned hostStatus, unsigned driverStatus, unsigned char status,
                              const unsigned char* sense, std::size_t senseLength);
