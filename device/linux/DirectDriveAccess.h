#pragma once
// Drive access by this process itself: open(2), flock(2) and SG_IO on the node. Used when the
// process holds CAP_SYS_RAWIO and where no helper is installed (the vendor requests then fail
// with EPERM, which kestrel-cli list explains).

#include "device/linux/DriveAccess.h"

class DirectDriveAccess : public DriveAccess {
public:
    DriveHandle Open(const std::string& devicePath, int* osError) override;
    DriveLockResult Lock(DriveHandle handle) override;
    bool Send(DriveHandle handle, const PassThroughRequest& request,
              PassThroughResult& result) override;
    void Close(DriveHandle handle) override;
    std::string OpenFailureHint(int osError) const override;
    std::string PrivilegeHint() const override;
};
