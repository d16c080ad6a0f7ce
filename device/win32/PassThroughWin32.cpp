// SCSI pass-through on Windows: IOCTL_SCSI_PASS_THROUGH_DIRECT on the volume handle.
//
// Platform notes:
// - SCSI_PASS_THROUGH_DIRECT uses the caller's buffer in place (no copy into the request); the
//   port driver locks it for the transfer, so it must stay valid for the whole call, which is
//   synchronous here.
// - TargetId is 1, not 0, and PathId and Lun 0: the device's firmware was built against these
//   values. For a volume handle the port driver routes by the handle and fills in the real
//   address itself, so these fields travel as given.
// - No sense data is requested (SenseInfoLength 0); SenseInfoOffset still points just past the
//   structure, where no sense buffer follows. The structure is both the input and the output
//   buffer, each of its own size.
// - TimeOutValue counts seconds: 2,000 s.
// - Success is DeviceIoControl returning nonzero; ScsiStatus is recorded but not judged.
//   GetLastError is kept for diagnosis (ERROR_ACCESS_DENIED without administrator rights,
//   ERROR_INVALID_FUNCTION when the driver refuses pass-through).

#include <windows.h>

#include <ntddscsi.h>

#include <cstring>
#include <string>

#include "device/PassThrough.h"

namespace {

HANDLE ToHandle(DriveHandle handle) {
    return reinterpret_cast<HANDLE>(handle);
}

constexpr UCHAR kPathId = 0;
constexpr UCHAR kTargetId = 1;
constexpr UCHAR kLun = 0;

}  // namespace

bool SendPassThrough(DriveHandle handle, const PassThroughRequest& request,
                     PassThroughResult* result) {
    SCSI_PASS_THROUGH_DIRECT sptd;
    std::memset(&sptd, 0, sizeof sptd);
    sptd.Length = sizeof sptd;
    sptd.PathId = kPathId;
    sptd.TargetId = kTargetId;
    sptd.Lun = kLun;
    sptd.CdbLength = static_cast<UCHAR>(request.cdb.size());
    sptd.SenseInfoLength = 0;
    sptd.DataIn =
        request.direction == DataDirection::ToDevice ? SCSI_IOCTL_DATA_OUT : SCSI_IOCTL_DATA_IN;
    sptd.DataTransferLength = request.length;
    sptd.TimeOutValue = request.timeoutSeconds;
    sptd.DataBuffer = request.buffer;
    sptd.SenseInfoOffset = sizeof sptd;
    std::memcpy(sptd.Cdb, request.cdb.data(), request.cdb.size());

    DWORD returned = 0;
    const BOOL ok = DeviceIoControl(ToHandle(handle), IOCTL_SCSI_PASS_THROUGH_DIRECT, &sptd,
                                    sizeof sptd, &sptd, sizeof sptd, &returned, nullptr);
    PassThroughResult out;
    out.reachedDevice = ok != FALSE;
    out.osError = ok != FALSE ? 0 : static_cast<int>(GetLastError());
    out.scsiStatus = sptd.ScsiStatus;
    if (result != nullptr) *result = out;
    return out.reachedDevice;
}

std::string PassThroughFailureHint(const PassThroughResult& result) {
    if (result.osError != ERROR_ACCESS_DENIED) return {};
    return "SCSI pass-through needs administrator rights: run as administrator";
}

void CloseDriveHandle(DriveHandle handle) {
    CloseHandle(ToHandle(handle));
}

std::string PassThroughErrorName(const PassThroughResult& result) {
    if (result.reachedDevice) return {};
    switch (static_cast<DWORD>(result.osError)) {
        case ERROR_DEVICE_NOT_CONNECTED:
            return "ERROR_DEVICE_NOT_CONNECTED";
        case ERROR_DEV_NOT_EXIST:
            return "ERROR_DEV_NOT_EXIST";
        case ERROR_NOT_READY:
            return "ERROR_NOT_READY";
        case ERROR_IO_DEVICE:
            return "ERROR_IO_DEVICE";
        case ERROR_CRC:
            return "ERROR_CRC";
        case ERROR_SEM_TIMEOUT:
            return "ERROR_SEM_TIMEOUT";
        case ERROR_ACCESS_DENIED:
            return "ERROR_ACCESS_DENIED";
        case ERROR_INVALID_FUNCTION:
            return "ERROR_INVALID_FUNCTION";
        case ERROR_INVALID_HANDLE:
            return "ERROR_INVALID_HANDLE";
        default:
            break;
    }
    return "error " + std::to_string(result.osError);
}

bool PassThroughDeviceGone(const PassThroughResult& result) {
    switch (static_cast<DWORD>(result.osError)) {
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_DEV_NOT_EXIST:
            return true;
        default:
            return false;
    }
}
