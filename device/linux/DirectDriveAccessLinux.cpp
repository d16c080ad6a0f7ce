// Direct drive access on Linux: the node opened, locked and sent SG_IO by this process.
//
// Platform notes:
// - Device nodes are opened O_NONBLOCK so that a CD-ROM drive without a disc opens at all, and
//   O_CLOEXEC so that the handle never leaks into a child process.
// - The lock is the one the helper takes too (devio/DevioLock.h): a byte lock of Kestrel's own
//   that tells another Kestrel run at once, and flock(LOCK_EX), the block-device locking
//   convention of systemd that udev honours (it probes under LOCK_SH | LOCK_NB, and is waited
//   for a short while).
// - SG_IO on /dev/sdX or /dev/srX goes through the block layer's SCSI ioctl. The kernel lets an
//   unprivileged process send only a short list of standard commands; the vendor opcodes
//   0x85-0x87 need CAP_SYS_RAWIO even with a read-write descriptor, and ioctl fails with EPERM
//   otherwise. That errno is kept in PassThroughResult so kestrel-cli list can explain it.
// - The sense buffer given to the kernel serves diagnosis alone: its sense key is kept.
// - The block layer raises time-outs below about 7 s; ours is 2,000 s, so it stays as given.
// - The data buffer is the caller's, used in place (indirect I/O: the kernel copies it).

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <scsi/sg.h>

#include <algorithm>
#include <array>
#include <cerrno>

#include "device/linux/DirectDriveAccess.h"
#include "device/linux/devio/DevioLock.h"

namespace {

constexpr unsigned kMillisecondsPerSecond = 1000;
constexpr std::size_t kSenseSize = 32;

int SgDirection(const PassThroughRequest& request) {
    if (request.length == 0) return SG_DXFER_NONE;
    return request.direction == DataDirection::ToDevice ? SG_DXFER_TO_DEV : SG_DXFER_FROM_DEV;
}

}  // namespace

DriveHandle DirectDriveAccess::Open(const std::string& devicePath, int* osError) {
    const int fd = ::open(devicePath.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    *osError = fd < 0 ? errno : 0;
    return fd < 0 ? kInvalidDrive : static_cast<DriveHandle>(fd);
}

DriveLockResult DirectDriveAccess::Lock(DriveHandle handle) {
    switch (DevioLockDrive(static_cast<int>(handle))) {
        case kDevioLockKestrel:
            return DriveLockResult::Busy;
        case kDevioLockOther:
            return DriveLockResult::HeldByOther;
        default:
            return DriveLockResult::Held;
    }
}

bool DirectDriveAccess::Send(DriveHandle handle, const PassThroughRequest& request,
                             PassThroughResult& result) {
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

    result = PassThroughResult{};
    // Not repeated on EINTR: the command may already have reached the device, and a vendor
    // write sent twice would upset its protocol. One request per call, whatever happens.
    if (::ioctl(static_cast<int>(handle), SG_IO, &hdr) != 0) {
        result.osError = errno;
        return false;
    }
    result = SgIoOutcome(hdr.host_status, hdr.driver_status, hdr.status, sense.data(),
                         std::min<std::size_t>(hdr.sb_len_wr, sense.size()));
    return result.reachedDevice;
}

void DirectDriveAccess::Close(DriveHandle handle) {
    ::close(static_cast<int>(handle));
}

std::string DirectDriveAccess::OpenFailureHint(int osError) const {
    if (osError != EACCES && osError != EPERM) return {};
    // Access to this one device, never a group that opens every disk.
    return "no read-write access to the device node: give the user at the seat access to this "
           "device once with `kestrel-cli udev-rule`, or run as root";
}

std::string DirectDriveAccess::PrivilegeHint() const {
    // No helper beside this program (a build tree, or an install without it).
    return "the vendor SCSI commands need the CAP_SYS_RAWIO capability, which only Kestrel's "
           "helper holds, and this program finds none beside it (" +
           InstalledHelperPath() +
           "): install the kestrel package and join the group kestrel (`sudo usermod -aG "
           "kestrel $USER`, then log in again); from a build, `sudo cmake --install BUILD` puts "
           "the helper at " KESTREL_DEVIO_INSTALLED
           ", which then needs `sudo setcap cap_sys_rawio+ep " KESTREL_DEVIO_INSTALLED
           "`, and the installed kestrel-cli uses it; or run as root";
}
