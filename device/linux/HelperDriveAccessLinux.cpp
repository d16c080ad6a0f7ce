// Drive access through kestrel-devio on Linux.
//
// Platform notes:
// - The helper runs with one end of a SOCK_SEQPACKET socket pair as its standard input: each
//   message arrives whole or not at all, so a request is one sendmsg and its reply one recvmsg,
//   gathered from and scattered into the caller's buffer (no copy on this side); a reply longer
//   than the room given shows MSG_TRUNC and fails the exchange.
// - It is started with posix_spawn (safe in a program with threads, as the dialog is), an empty
//   environment, no blocked signals and a process group of its own, so that a Ctrl-C at the
//   terminal reaches this program, which cancels the run the way Cancel does and then closes
//   its drives, and not the helper in the middle of a request. The helper ends when our end
//   closes (at exit, also when we are killed) or when the thread that started it ends
//   (PR_SET_PDEATHSIG); every front end opens its drives, and so starts it, on its main thread.
// - A helper that cannot be started (not executable for this user: not in the group kestrel)
//   fails every open with the errno of its start; OpenFailureHint names the cause.
// - send() uses MSG_NOSIGNAL: a helper that died must not kill us with SIGPIPE; the request
//   then fails with the errno of the broken exchange.

#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

#include "device/linux/HelperDriveAccess.h"
#include "device/linux/devio/DevioWire.h"

namespace {

// The handles of a drive the helper did not keep open: another Kestrel run holds its lock, or
// another program still held it after the helper's short wait. The helper's own numbers run
// from 1 to kDevioMaxDrives.
constexpr DriveHandle kBusyDrive = 0;
constexpr DriveHandle kHeldByOtherDrive = kDevioMaxDrives + 1;
constexpr std::uint32_t kMillisecondsPerSecond = 1000;

}  // namespace

HelperDriveAccess::HelperDriveAccess(std::string helperPath) : m_path(std::move(helperPath)) {}

HelperDriveAccess::~HelperDriveAccess() {
    if (m_socket >= 0) ::close(m_socket);
    if (m_pid > 0) ::waitpid(m_pid, nullptr, WNOHANG);
}

int HelperDriveAccess::Start() {
    if (m_started) return m_startError;
    m_started = true;
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
        m_startError = errno;
        return m_startError;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pair[1], 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (const int signal : {SIGPIPE, SIGINT, SIGTERM, SIGHUP}) sigaddset(&defaults, signal);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(
        &attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
    char name[] = "kestrel-devio";
    char* argv[] = {name, nullptr};
    char* envp[] = {nullptr};
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, m_path.c_str(), &actions, &attributes, argv, envp);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pair[1]);
    if (spawned != 0) {
        ::close(pair[0]);
        m_startError = spawned;
        return m_startError;
    }
    m_socket = pair[0];
    m_pid = pid;
    return 0;
}

int HelperDriveAccess::Exchange(DevioRequest& request, DevioReply& reply, const std::uint8_t* out,
                                std::uint8_t* in, std::size_t inSize) {
    if (m_socket < 0) return EBADF;
    request.version = kDevioVersion;
    // The fields, then the data from where the caller has it: one message, no copy here.
    const std::size_t fields = offsetof(DevioRequest, data);
    const std::size_t data = DevioRequestSize(&request) - fields;
    iovec send[2] = {{&request, fields}, {const_cast<std::uint8_t*>(out), data}};
    msghdr message{};
    message.msg_iov = send;
    message.msg_iovlen = data > 0 && out != nullptr ? 2 : 1;
    ssize_t n = -1;
    do {
        n = ::sendmsg(m_socket, &message, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    if (n == static_cast<ssize_t>(fields + (message.msg_iovlen == 2 ? data : 0))) {
        // The reply's data lands in the caller's buffer; a longer reply than that fails.
        const std::size_t replyFields = offsetof(DevioReply, data);
        iovec receive[2] = {{&reply, replyFields}, {in, inSize}};
        message = msghdr{};
        message.msg_iov = receive;
        message.msg_iovlen = in != nullptr && inSize > 0 ? 2 : 1;
        do {
            n = ::recvmsg(m_socket, &message, 0);
        } while (n < 0 && errno == EINTR);
        if (n >= static_cast<ssize_t>(replyFields) && (message.msg_flags & MSG_TRUNC) == 0 &&
            static_cast<std::size_t>(n) == DevioReplySize(&reply))
            return 0;
    }
    // The helper is gone (or broke the protocol): the drives it held are closed with it, and
    // the next open starts a new one, so that a long-running station goes on with new units.
    const int error = n < 0 ? errno : EPIPE;
    ::close(m_socket);
    m_socket = -1;
    ::waitpid(m_pid, nullptr, WNOHANG);
    m_pid = -1;
    m_started = false;
    return error;
}

DriveHandle HelperDriveAccess::Open(const std::string& devicePath, int* osError) {
    *osError = Start();
    if (*osError != 0) return kInvalidDrive;
    DevioRequest request{};
    request.op = kDevioOpen;
    if (devicePath.size() >= sizeof request.path) {
        *osError = ENAMETOOLONG;
        return kInvalidDrive;
    }
    std::memcpy(request.path, devicePath.data(), devicePath.size());
    DevioReply reply{};
    *osError = Exchange(request, reply);
    if (*osError == 0) *osError = reply.error;
    if (*osError != 0) return kInvalidDrive;
    if (reply.busy == kDevioLockKestrel) return kBusyDrive;
    if (reply.busy != 0) return kHeldByOtherDrive;
    return static_cast<DriveHandle>(reply.drive);
}

DriveLockResult HelperDriveAccess::Lock(DriveHandle handle) {
    // The helper took the lock (or waited for it in vain) when it opened the drive.
    if (handle == kBusyDrive) return DriveLockResult::Busy;
    return handle == kHeldByOtherDrive ? DriveLockResult::HeldByOther : DriveLockResult::Held;
}

bool HelperDriveAccess::Send(DriveHandle handle, const PassThroughRequest& request,
                             PassThroughResult& result) {
    result = PassThroughResult{};
    // Only the fields are set; the data travels from the caller's buffer (see Exchange).
    DevioRequest message;
    std::memset(&message, 0, offsetof(DevioRequest, data));
    if (request.length > sizeof message.data) {
        result.osError = EINVAL;
        return false;
    }
    message.op = kDevioCommand;
    message.drive = static_cast<std::uint32_t>(handle);
    message.timeoutMs = request.timeoutSeconds * kMillisecondsPerSecond;
    message.length = request.length;
    message.toDevice = request.direction == DataDirection::ToDevice ? 1 : 0;
    std::copy(request.cdb.begin(), request.cdb.end(), message.cdb);
    DevioReply reply;
    result.osError = message.toDevice != 0
                         ? Exchange(message, reply, request.buffer)
                         : Exchange(message, reply, nullptr, request.buffer, request.length);
    if (result.osError == 0) result.osError = reply.error;
    if (result.osError != 0) return false;
    result = SgIoOutcome(reply.hostStatus, reply.driverStatus, reply.status, reply.sense,
                         std::min<std::size_t>(reply.senseLength, sizeof reply.sense));
    return result.reachedDevice;
}

void HelperDriveAccess::Close(DriveHandle handle) {
    if (handle == kBusyDrive || handle == kHeldByOtherDrive) return;
    DevioRequest request{};
    request.op = kDevioClose;
    request.drive = static_cast<std::uint32_t>(handle);
    DevioReply reply{};
    Exchange(request, reply);
}

std::string HelperDriveAccess::OpenFailureHint(int osError) const {
    if (m_startError == EACCES)
        return "Kestrel's helper " + m_path +
               ", which sends the device's commands, may be run only by the group kestrel: "
               "`sudo usermod -aG kestrel $USER`, then log in again; or run as root";
    if (m_startError != 0)
        return "Kestrel's helper " + m_path + " cannot be started (" + std::strerror(m_startError) +
               "): reinstall the kestrel package, or run as root";
    if (osError == EPROTO)
        return "Kestrel's helper " + m_path +
               " belongs to another release of Kestrel (the package was upgraded while this "
               "program ran): start the program again";
    if (osError == EACCES)
        return "no read-write access to the device node: give the user at the seat access to "
               "this device once with `kestrel-cli udev-rule`, or run as root";
    if (osError == EPERM)
        return "Kestrel's helper opens only removable disks and CD-ROM drives by their /dev/sdX or "
               "/dev/srN node";
    return {};
}

std::string HelperDriveAccess::OpenRefusal(int osError) const {
    // The node may be open to everyone: what refused is the helper, or its start.
    if (m_startError == EACCES || m_startError == EPERM)
        return "Kestrel's helper may not be run by this user (" +
               std::string(std::strerror(m_startError)) + "), so the drive was not opened";
    if (m_startError != 0)
        return "Kestrel's helper could not be started (" +
               std::string(std::strerror(m_startError)) + "), so the drive was not opened";
    if (osError == EPROTO) return "Kestrel's helper is of another release and refused the drive";
    if (osError == EPERM)
        return "Kestrel's helper refused the drive: not a removable disk or "
               "CD-ROM drive by its /dev node";
    return {};
}

std::string HelperDriveAccess::PrivilegeHint() const {
    const std::string lacks = "Kestrel's helper " + m_path +
                              " lacks the CAP_SYS_RAWIO capability that the vendor SCSI commands "
                              "need: ";
    // The package's helper (under /usr, not /usr/local) gets its capability from the package;
    // one that `cmake --install` put elsewhere gets it by hand.
    if (m_path.rfind("/usr/", 0) == 0 && m_path.rfind("/usr/local/", 0) != 0)
        return lacks +
               "reinstall the kestrel package (sudo apt install --reinstall kestrel), "
               "or run as root";
    return lacks + "give it with `sudo setcap cap_sys_rawio+ep " + m_path + "`, or run as root";
}
