// SCSI pass-through on Linux: one SG_IO request on the drive, sent by this process or by
// Kestrel's helper, whichever way CurrentDriveAccess chose (see DriveAccess.h).
//
// Platform notes:
// - Success means the request reached the device and came back: ioctl returned 0, the host
//   adapter reported nothing (host_status 0) and the driver reported no error other than "sense
//   data follows". The SCSI status byte is recorded but not judged, as on Windows.
// - The kernel passes the vendor opcodes only for a process with CAP_SYS_RAWIO and fails the
//   ioctl with EPERM otherwise; that errno is kept in PassThroughResult so kestrel-cli list can
//   explain it, worded for the way this process reaches its drives.

#include <cerrno>
#include <string>

#include "device/PassThrough.h"
#include "device/linux/DriveAccess.h"

bool SendPassThrough(DriveHandle handle, const PassThroughRequest& request,
                     PassThroughResult* result) {
    PassThroughResult local;
    return CurrentDriveAccess().Send(handle, request, result != nullptr ? *result : local);
}

std::string PassThroughFailureHint(const PassThroughResult& result) {
    if (result.osError != EPERM) return {};
    return CurrentDriveAccess().PrivilegeHint();
}

void CloseDriveHandle(DriveHandle handle) {
    CurrentDriveAccess().Close(handle);
}
