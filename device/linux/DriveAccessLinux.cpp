// The choice between direct drive access and the helper, and what both share.
//
// Platform notes:
// - CAP_SYS_RAWIO in the effective set means SG_IO will pass the vendor opcodes for this
//   process itself: root, a capability given by hand, the emulated tests. Without it the
//   requests go through kestrel-devio when it is installed beside the program
//   (<prefix>/libexec/kestrel/kestrel-devio for <prefix>/bin/kestrel-cli), else they are tried
//   directly and fail with EPERM, which kestrel-cli list explains.
// - The program's own folder comes from /proc/self/exe; after a package upgrade replaced the
//   running program the link ends in " (deleted)", and its folder is still right.
// - capget is called through syscall(2): the helper and this side need no libcap.

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <climits>
#include <filesystem>

#include "device/linux/DirectDriveAccess.h"
#include "device/linux/HelperDriveAccess.h"

namespace {

// The driver byte is the low nibble of driver_status; "sense data follows" is not an error.
constexpr unsigned kDriverByteMask = 0x0F;
constexpr unsigned kDriverSense = 0x08;
constexpr unsigned char kSenseKeyMask = 0x0F;

bool HoldsRawIo() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    std::array<__user_cap_data_struct, _LINUX_CAPABILITY_U32S_3> data{};
    if (::syscall(SYS_capget, &header, data.data()) != 0) return false;
    return (data[CAP_TO_INDEX(CAP_SYS_RAWIO)].effective & CAP_TO_MASK(CAP_SYS_RAWIO)) != 0;
}

// The sense key of fixed (0x70, 0x71) or descriptor (0x72, 0x73) format sense data, or -1.
int SenseKey(const unsigned char* sense, std::size_t length) {
    if (length < 2) return -1;
    const unsigned char format = sense[0] & 0x7F;
    if ((format == 0x70 || format == 0x71) && length >= 3) return sense[2] & kSenseKeyMask;
    if (format == 0x72 || format == 0x73) return sense[1] & kSenseKeyMask;
    return -1;
}

}  // namespace

std::string InstalledHelperPath() {
    std::array<char, PATH_MAX> exe{};
    const ssize_t n = ::readlink("/proc/self/exe", exe.data(), exe.size() - 1);
    if (n <= 0) return {};
    const std::string program(exe.data(), static_cast<std::size_t>(n));
    // "/usr/bin/../libexec/..." as "/usr/libexec/...": the path a message shows.
    return (std::filesystem::path(program.substr(0, program.rfind('/') + 1)) /
            KESTREL_DEVIO_FROM_BINDIR)
        .lexically_normal()
        .string();
}

DriveAccess& CurrentDriveAccess() {
    // Never destroyed: a drive may still be closed by another object's destructor at exit. The
    // helper ends when the process does (its end of the socket pair closes with it).
    static DriveAccess* const s_access = []() -> DriveAccess* {
        if (!HoldsRawIo()) {
            std::string helper = InstalledHelperPath();
            if (!helper.empty() && ::access(helper.c_str(), F_OK) == 0)
                return new HelperDriveAccess(std::move(helper));
        }
        return new DirectDriveAccess();
    }();
    return *s_access;
}

PassThroughResult SgIoOutcome(unsigned hostStatus, unsigned driverStatus, unsigned char status,
                              const unsigned char* sense, std::size_t senseLength) {
    PassThroughResult out;
    out.hostStatus = static_cast<int>(hostStatus);
    out.driverStatus = static_cast<int>(driverStatus);
    out.scsiStatus = status;
    out.senseKey = SenseKey(sense, senseLength);
    const unsigned driverByte = driverStatus & kDriverByteMask;
    out.reachedDevice = hostStatus == 0 && (driverByte == 0 || driverByte == kDriverSense);
    return out;
}
