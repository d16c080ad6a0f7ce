// SCSI pass-through on Linux: one SG_IO request on the drive's block device node.
//
// Platform notes:
// - SG_IO on /dev/sdX or /dev/srX goes through the block layer's SCSI ioctl. The kernel lets an
//   unprivileged process send only a short list of standard commands; the vendor opcodes
//   0x85-0x87 need CAP_SYS_RAWIO even with a read-write descriptor, and ioctl fails with EPERM
//   otherwise. That errno is kept in PassThroughResult so kestrel-cli list can explain it.
// - Success means the request reached the device and came back: ioctl returned 0, the host
//   adapter reported nothing (host_status 0) and the driver reported no error other than "sense
//   data follows". The SCSI status byte is recorded but not judged, as on Windows.
// - The device's answers carry everything the protocol reads; the sense buffer given to the
//   kernel stays on this side of the bus (the kernel fetches sense data itself and only copies
//   it out) and serves diagnosis alone: its sense key is kept in PassThroughResult.
// - The block layer raises time-outs below about 7 s; ours is 2,000 s, so it stays as given.
// - The data buffer is the caller's, used in place (indirect I/O: the kernel copies it).

#include <sys/ioctl.h>
#include <unistd.h>

#include <scsi/sg.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <string>

#include "device/PassThrough.h"

namespace {

// The driver byte is the low nibble of driver_status; "sense data follows" is not an error.
constexpr unsigned kDriverByteMask = 0x0F;
constexpr unsigned kDriverSense = 0x08;
constexpr unsigned kMillisecondsPerSecond = 1000;
constexpr std::size_t kSenseSize = 32;
constexpr unsigned char kSenseKeyMask = 0x0F;

// The sense key of fixed (0x70, 0x71) or descriptor (0x72, 0x73) format sense data, or -1.
int SenseKey(const unsigned char* sense, std::size_t length) {
    if (length < 2) return -1;
    const unsigned char format = sense[0] & 0x7F;
    if ((format == 0x70 || format == 0x71) && length >= 3) return sense[2] & kSenseKeyMask;
    if (format == 0x72 || format == 0x73) return sense[1] & kSenseKeyMask;
    return -1;
}

int SgDirection(const PassThroughRequest& request) {
    if (request.length == 0) return SG_DXFER_NONE;
    return request.direction == DataDirection::ToDevice ? SG_DXFER_TO_DEV : SG_DXFER_FROM_DEV;
}

}  // namespace

bool SendPassThrough(DriveHandle handle, const PassThroughRequest& request,
                     PassThroughResult* result) {
    // The kernel takes a non-const CDB pointer but never writes through it.
    auto cdb = request.cdb;

    sg_io_hdr_t hdr{};
    hdr.interface_id = 'S';
    hdr.dxfer_direction = SgDirection(request);
    hdr.cmd_len = static_cast<unsigned char>(cdb.size());
    std::array<unsigned char, kSenseSize> sense{};
    hdr.mx_sb_len = static_cast<unsigned char>(sense.size());
    hdr.dxfer_len = request.length;
    hdr.dxferp = request.length == 0 ? nullptr : request.buffer;
    hdr.cmdp = cdb.data();
    hdr.sbp = sense.data();
    hdr.timeout = request.timeoutSeconds * kMillisecondsPerSecond;

    PassThroughResult local;
    PassThroughResult& out = result != nullptr ? *result : local;
    out = PassThroughResult{};

    // Not repeated on EINTR: the command may already have reached the device, and a vendor
    // write sent twice would upset its protocol. One request per call, whatever happens.
    if (::ioctl(static_cast<int>(handle), SG_IO, &hdr) != 0) {
        out.osError = errno;
        return false;
    }
    out.hostStatus = hdr.host_status;
    out.driverStatus = hdr.driver_status;
    out.scsiStatus = hdr.status;
    out.senseKey = SenseKey(sense.data(), std::min<std::size_t>(hdr.sb_len_wr, sense.size()));
    const unsigned driverByte = hdr.driver_status & kDriverByteMask;
    out.reachedDevice = hdr.host_status == 0 && (driverByte == 0 || driverByte == kDriverSense);
    return out.reachedDevice;
}

std::string PassThroughFailureHint(const PassThroughResult& result) {
    if (result.osError != EPERM) return {};
    return "the vendor SCSI commands need the CAP_SYS_RAWIO capability: the kestrel package "
           "gives it to the group kestrel (`sudo usermod -aG kestrel $USER`, then log in again); "
           "a build from source needs `sudo setcap cap_sys_rawio+ep $(command -v kestrel-cli)`; "
           "or run as root";
}

void CloseDriveHandle(DriveHandle handle) {
    ::close(static_cast<int>(handle));
}
