// SCSI pass-through on Linux: one SG_IO request on the drive, sent by this process or by
// Kestrel's helper, whichever way CurrentDriveAccess chose (see DriveAccess.h).
//
// Platform notes:
// - Success means the request reached the device and came back: ioctl returned 0, the host
//   adapter reported nothing (host_status 0) and the driver reported no error other than "sense
//   data follows". The SCSI status byte is recorded but not judged, as on Windows.
// - A request the ioctl itself refused keeps its errno (ENODEV once the disk is gone); one the
//   ioctl carried but the host adapter failed keeps the host status (DID_NO_CONNECT when the
//   device went away under it), named as the kernel's headers name them.
// - The kernel passes the vendor opcodes only for a process with CAP_SYS_RAWIO and fails the
//   ioctl with EPERM otherwise; that errno is kept in PassThroughResult so kestrel-cli list can
//   explain it, worded for the way this process reaches its drives.

#include <cerrno>
#include <cstdio>
#include <cstring>
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

namespace {

// The SCSI midlayer's host byte values (scsi/scsi_status.h), which user space does not get.
constexpr int kDidNoConnect = 0x01, kDidBadTarget = 0x04, kDidError = 0x07;

std::string HostStatusName(int status) {
    switch (status) {
        case kDidNoConnect:
            return "DID_NO_CONNECT";
        case kDidBadTarget:
            return "DID_BAD_TARGET";
        case kDidError:
            return "DID_ERROR";
        default:
            break;
    }
    char text[32];
    std::snprintf(text, sizeof text, "host status 0x%02x", static_cast<unsigned>(status));
    return text;
}

}  // namespace

std::string PassThroughErrorName(const PassThroughResult& result) {
    if (result.osError != 0) {
        if (const char* name = ::strerrorname_np(result.osError)) return name;
        return "errno " + std::to_string(result.osError);
    }
    if (result.reachedDevice) return {};
    if (result.hostStatus != 0) return HostStatusName(result.hostStatus);
    char text[32];
    std::snprintf(text, sizeof text, "driver status 0x%02x",
                  static_cast<unsigned>(result.driverStatus));
    return text;
}

bool PassThroughDeviceGone(const PassThroughResult& result) {
    return result.osError == ENODEV || result.osError == ENXIO ||
           (result.osError == 0 &&
            (result.hostStatus == kDidNoConnect || result.hostStatus == kDidBadTarget));
}

void CloseDriveHandle(DriveHandle handle) {
    CurrentDriveAccess().Close(handle);
}
