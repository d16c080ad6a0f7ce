// kestrel-devio's refusals that need no drive, against the built helper: a message of the wrong
// size, another release's message, an unknown request, a command on a drive it never opened,
// and drives it must not open (outside /dev, a partition, a disk sysfs does not know). On a
// machine with the drive, the kernel tier checks the rest (frames, opcodes, fixed disks, links).
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "device/linux/devio/DevioWire.h"

namespace {

class Helper {
public:
    Helper() {
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) throw errno;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pair[1], 0);
        char name[] = "kestrel-devio";
        char* argv[] = {name, nullptr};
        char* envp[] = {nullptr};
        const int spawned = posix_spawn(&m_pid, KESTREL_DEVIO, &actions, nullptr, argv, envp);
        posix_spawn_file_actions_destroy(&actions);
        ::close(pair[1]);
        if (spawned != 0) throw spawned;
        m_socket = pair[0];
    }
    ~Helper() {
        ::close(m_socket);
        ::waitpid(m_pid, nullptr, 0);
    }
    Helper(const Helper&) = delete;
    Helper& operator=(const Helper&) = delete;

    // The errno the helper answers a message of size bytes from message with.
    int Answer(const void* message, std::size_t size) {
        DevioReply reply{};
        EXPECT_EQ(::send(m_socket, message, size, MSG_NOSIGNAL), static_cast<ssize_t>(size));
        const ssize_t n = ::recv(m_socket, &reply, sizeof reply, 0);
        EXPECT_EQ(n, static_cast<ssize_t>(DevioReplySize(&reply)));
        return reply.error;
    }
    int Answer(const DevioRequest& request) { return Answer(&request, DevioRequestSize(&request)); }

private:
    pid_t m_pid = -1;
    int m_socket = -1;
};

DevioRequest Open(const std::string& path) {
    DevioRequest request{};
    request.version = kDevioVersion;
    request.op = kDevioOpen;
    std::snprintf(request.path, sizeof request.path, "%s", path.c_str());
    return request;
}

}  // namespace

TEST(DevioHelper, RefusesMalformedRequestsAndForeignDrivesAndKeepsServing) {
    Helper helper;
    DevioRequest identify{};
    identify.version = kDevioVersion;
    identify.op = kDevioCommand;
    identify.drive = 1;
    identify.length = 2;
    const unsigned char cdb[kDevioCdbSize] = {0x87, 0, 0, 0, 0, 2, 0, 2, 0, 0};
    std::memcpy(identify.cdb, cdb, sizeof cdb);
    EXPECT_EQ(helper.Answer(identify), EBADF);  // never opened

    // A message is its fields and exactly the data they announce: one byte short or over is
    // refused before anything else is read from it.
    EXPECT_EQ(helper.Answer(&identify, DevioRequestSize(&identify) - 1), EINVAL);
    DevioRequest chunk = identify;
    chunk.toDevice = 1;
    chunk.length = kDevioMaxData;
    EXPECT_EQ(helper.Answer(chunk), EBADF);
    EXPECT_EQ(helper.Answer(&chunk, DevioRequestSize(&chunk) - 1), EINVAL);
    unsigned char longer[sizeof(DevioRequest) + 1] = {};
    std::memcpy(longer, &chunk, sizeof chunk);
    EXPECT_EQ(helper.Answer(longer, sizeof longer), EINVAL);
    DevioRequest other = identify;
    other.version = kDevioVersion + 1;
    EXPECT_EQ(helper.Answer(other), EPROTO);
    other = identify;
    other.op = 99;
    EXPECT_EQ(helper.Answer(other), EINVAL);

    for (const char* path : {"/tmp/sdb", "/dev/../dev/sdb", "/dev/sdb1", "/dev/sdzzz", "/dev/sr",
                             "/dev/nvme0n1", "sdb"})
        EXPECT_EQ(helper.Answer(Open(path)), EPERM) << path;
    DevioRequest unterminated = Open("");
    std::memset(unterminated.path, 'a', sizeof unterminated.path);
    EXPECT_EQ(helper.Answer(unterminated), EINVAL);
}
