#pragma once
// The pass-through seam: one SCSI request with a 10-byte CDB on an open drive handle. One
// implementation per platform (device/linux, device/win32), chosen by CMake.

#include <array>
#include <cstdint>
#include <string>

#include "services/DriveHandle.h"

enum class DataDirection { ToDevice, FromDevice };

// 2,000 seconds: the device may take long to program flash, and we never retry.
inline constexpr std::uint32_t kPassThroughTimeoutSeconds = 2000;
inline constexpr std::size_t kCdbLength = 10;

struct PassThroughRequest {
    std::array<std::uint8_t, kCdbLength> cdb{};
    DataDirection direction = DataDirection::FromDevice;
    std::uint32_t length = 0;
    std::uint8_t* buffer = nullptr;  // used in place, length bytes
    std::uint32_t timeoutSeconds = kPassThroughTimeoutSeconds;
};

// What came back, kept so that a diagnosis can name the cause (see kestrel-cli list).
struct PassThroughResult {
    bool reachedDevice = false;  // the request went out and came back
    int osError = 0;             // errno / GetLastError when the call itself failed
    int hostStatus = 0;
    int driverStatus = 0;
    std::uint8_t scsiStatus = 0;  // reported, never examined by the protocol
    int senseKey = -1;            // from the sense data where some came back, else -1
};

// Sends one request; true when it reached the device and came back, which is all the protocol
// asks. The SCSI status byte is not examined.
bool SendPassThrough(DriveHandle handle, const PassThroughRequest& request,
                     PassThroughResult* result = nullptr);

// How to fix a request that failed for want of a privilege (Linux: EPERM without
// CAP_SYS_RAWIO), or "" when the platform has no such advice for it.
std::string PassThroughFailureHint(const PassThroughResult& result);

// A failed request's cause by its OS name, for records and reports: the errno's name on Linux
// ("ENODEV", "EIO") or the host adapter's or driver's status when the call itself succeeded
// ("DID_ERROR"); the error's name on Windows ("ERROR_DEVICE_NOT_CONNECTED"). "" for a request
// that reached the device.
std::string PassThroughErrorName(const PassThroughResult& result);
// True when the request failed because the device is no longer attached (unplugged, reset
// away), as opposed to an error on a device still there.
bool PassThroughDeviceGone(const PassThroughResult& result);

// Releases a handle from OpenDriveReadWrite.
void CloseDriveHandle(DriveHandle handle);
