// kestrel-sgprobe: one raw SG_IO request with a 10-byte CDB, the way the product sends its
// vendor commands, printed in full (ioctl result, errno, SCSI status, host and driver status,
// data). The kernel tier uses it to check the transport below the product, and, with --helper,
// what Kestrel's helper lets through: the request then goes to the helper as any client's would
// (ioctl=-1 with the helper's errno when it refuses; open=-1 when it refuses the drive).
//
// --repeat N sends the request N times and adds a line with the time they took (what one
// request costs each way, for bench/helper-cost.sh). kestrel-sgprobe --helper HELPER --repeat N
// --round-trip times N requests the helper answers without a drive (what the helper adds to
// each request, on a machine without one).
//
//   kestrel-sgprobe [--helper HELPER] [--repeat N] DEVICE in|out LENGTH CDB-HEX-BYTES...
//                   [-- DATA-HEX-BYTES...]
#include <fcntl.h>
#include <scsi/sg.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "device/linux/devio/DevioWire.h"

namespace {

unsigned s_repeat = 1;

// Calls send s_repeat times, stopping at a failure; says how long they took when repeated.
template <typename Send>
bool Repeated(Send send) {
    const auto begin = std::chrono::steady_clock::now();
    unsigned n = 0;
    bool ok = true;
    while (ok && n < s_repeat) {
        ok = send();
        ++n;
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - begin;
    if (s_repeat > 1) std::printf("repeat=%u seconds=%.6f\n", n, took.count());
    return ok;
}

void PrintResult(int rc, int error, const sg_io_hdr_t& io, bool toDevice,
                 const std::vector<unsigned char>& data) {
    std::printf("ioctl=%d errno=%d status=0x%02x host=0x%04x driver=0x%04x data=", rc, error,
                io.status, io.host_status, io.driver_status);
    if (!toDevice)
        for (std::size_t at = 0; at < data.size() && at < 64; ++at) std::printf("%02X", data[at]);
    std::printf("\n");
}

bool Exchange(int socket, DevioRequest& request, DevioReply& reply) {
    request.version = kDevioVersion;
    const std::size_t size = DevioRequestSize(&request);
    if (::send(socket, &request, size, MSG_NOSIGNAL) != static_cast<ssize_t>(size)) return false;
    const ssize_t n = ::recv(socket, &reply, sizeof reply, 0);
    return n > 0 && static_cast<std::size_t>(n) == DevioReplySize(&reply);
}

// The request through the helper; the report in the same words as a direct one.
int ViaHelper(const char* helper, const char* device, bool toDevice, const unsigned char* cdb,
              std::vector<unsigned char>& data) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) return 2;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pair[1], 0);
    char name[] = "kestrel-devio";
    char* argv[] = {name, nullptr};
    char* envp[] = {nullptr};
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, helper, &actions, nullptr, argv, envp);
    ::close(pair[1]);
    if (spawned != 0) {
        std::printf("spawn errno=%d (%s)\n", spawned, std::strerror(spawned));
        return 1;
    }
    DevioRequest request{};
    DevioReply reply{};
    if (device == nullptr) {
        // A chunk write (the largest request) to a drive never opened: the helper answers
        // EBADF, nothing else happens; the message and the switches are an upgrade's own.
        request.op = kDevioCommand;
        request.toDevice = 1;
        request.length = kDevioMaxData;
        return Repeated([&] { return Exchange(pair[0], request, reply) && reply.error == EBADF; })
                   ? 0
                   : 1;
    }
    request.op = kDevioOpen;
    std::snprintf(request.path, sizeof request.path, "%s", device);
    if (!Exchange(pair[0], request, reply)) return 2;
    if (reply.error != 0 || reply.busy != 0) {
        std::printf("open=-1 errno=%d (%s)%s\n", reply.error, std::strerror(reply.error),
                    reply.busy != 0 ? " busy" : "");
        return 1;
    }
    request = DevioRequest{};
    request.op = kDevioCommand;
    request.drive = reply.drive;
    request.timeoutMs = 20000;
    request.length = static_cast<std::uint32_t>(data.size());
    request.toDevice = toDevice ? 1 : 0;
    std::memcpy(request.cdb, cdb, kDevioCdbSize);
    if (toDevice)
        std::memcpy(request.data, data.data(), std::min(data.size(), sizeof request.data));
    if (!Repeated([&] {
            reply = DevioReply{};
            return Exchange(pair[0], request, reply) && reply.error == 0;
        }) &&
        reply.error == 0)
        return 2;
    sg_io_hdr_t io{};
    io.status = reply.status;
    io.host_status = reply.hostStatus;
    io.driver_status = reply.driverStatus;
    if (!toDevice)
        std::memcpy(data.data(), reply.data, std::min<std::size_t>(reply.length, data.size()));
    PrintResult(reply.error != 0 ? -1 : 0, reply.error, io, toDevice, data);
    ::close(pair[0]);
    return reply.error == 0 && reply.hostStatus == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const char* helper = nullptr;
    for (bool more = true; more && argc > 2;) {
        const std::string option = argv[1];
        if (option == "--helper")
            helper = argv[2];
        else if (option == "--repeat")
            s_repeat = static_cast<unsigned>(std::strtoul(argv[2], nullptr, 0));
        more = option == "--helper" || option == "--repeat";
        if (more) {
            argc -= 2;
            argv += 2;
        }
    }
    if (helper != nullptr && argc == 2 && std::string(argv[1]) == "--round-trip") {
        std::vector<unsigned char> none;
        return ViaHelper(helper, nullptr, false, nullptr, none);
    }
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s DEVICE in|out LENGTH CDB-BYTES... [-- DATA-BYTES...]\n",
                     argv[0]);
        return 2;
    }
    const bool toDevice = std::string(argv[2]) == "out";
    const auto length = static_cast<unsigned>(std::strtoul(argv[3], nullptr, 0));
    unsigned char cdb[16] = {};
    unsigned cdbLength = 0;
    std::vector<unsigned char> data(length, 0);
    int i = 4;
    for (; i < argc && std::string(argv[i]) != "--" && cdbLength < sizeof cdb; ++i)
        cdb[cdbLength++] = static_cast<unsigned char>(std::strtoul(argv[i], nullptr, 16));
    if (i < argc && std::string(argv[i]) == "--") ++i;
    for (std::size_t at = 0; i < argc && at < data.size(); ++i, ++at)
        data[at] = static_cast<unsigned char>(std::strtoul(argv[i], nullptr, 16));

    if (helper != nullptr) return ViaHelper(helper, argv[1], toDevice, cdb, data);

    const int fd = ::open(argv[1], O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        std::printf("open=-1 errno=%d (%s)\n", errno, std::strerror(errno));
        return 1;
    }
    sg_io_hdr_t io{};
    io.interface_id = 'S';
    io.cmd_len = static_cast<unsigned char>(cdbLength);
    io.cmdp = cdb;
    io.dxfer_direction = length == 0 ? SG_DXFER_NONE
                         : toDevice  ? SG_DXFER_TO_DEV
                                     : SG_DXFER_FROM_DEV;
    io.dxfer_len = length;
    io.dxferp = length == 0 ? nullptr : data.data();
    io.timeout = 20000;
    int rc = 0;
    int error = 0;
    Repeated([&] {
        rc = ::ioctl(fd, SG_IO, &io);
        error = rc < 0 ? errno : 0;
        return rc == 0;
    });
    ::close(fd);
    PrintResult(rc, error, io, toDevice, data);
    return rc == 0 && io.host_status == 0 ? 0 : 1;
}
