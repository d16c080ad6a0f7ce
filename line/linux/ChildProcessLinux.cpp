// POSIX: posix_spawn with three pipes. The child gets the default dispositions of SIGINT, SIGTERM
// and SIGHUP and an empty signal mask: the parent blocks them while it runs
// (ConsoleInterrupt), and the child must take them itself to cancel its run the way Cancel
// does. SIGPIPE stays ignored (every kestrel-cli ignores it from the start, see main): a child
// whose parent vanished finishes its device's run and record (its reports fail with EPIPE)
// instead of dying half-way through the blocks.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string_view>

#include "line/ChildProcess.h"

extern char** environ;

struct ChildProcess::Impl {
    pid_t pid = -1;
    int in = -1;
    int out = -1;
    int err = -1;
    bool waited = false;
    int status = -1;
};

ChildProcess::ChildProcess() : m_impl(std::make_unique<Impl>()) {}

ChildProcess::~ChildProcess() {
    if (m_impl->in >= 0) ::close(m_impl->in);
    if (m_impl->out >= 0) ::close(m_impl->out);
    if (m_impl->err >= 0) ::close(m_impl->err);
    if (m_impl->pid > 0) Wait();
}

namespace {

// The running program's own executable: /proc/self/exe in the child (which has not yet
// replaced its image) is the file this process was started from, deleted or not.
constexpr char kSelf[] = "/proc/self/exe";

}  // namespace

bool ChildProcess::Start(const std::vector<std::string>& args, std::string* error) {
    return Spawn(args[0].c_str(), args, error);
}

bool ChildProcess::StartSelf(const std::vector<std::string>& args, std::string* error) {
    return Spawn(kSelf, args, error);
}

bool ChildProcess::Spawn(const char* program, const std::vector<std::string>& args,
                         std::string* error) {
    int inPipe[2] = {-1, -1};
    int outPipe[2] = {-1, -1};
    int errPipe[2] = {-1, -1};
    if (::pipe2(inPipe, O_CLOEXEC) != 0 || ::pipe2(outPipe, O_CLOEXEC) != 0 ||
        ::pipe2(errPipe, O_CLOEXEC) != 0) {
        *error = std::string("cannot create a pipe: ") + std::strerror(errno);
        for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1], errPipe[0], errPipe[1]})
            if (fd >= 0) ::close(fd);
        return false;
    }
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_adddup2(&files, inPipe[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&files, outPipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&files, errPipe[1], STDERR_FILENO);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigset_t defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGHUP);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<std::string> copy = args;
    std::vector<char*> argv;
    for (std::string& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int spawnError = ::posix_spawn(&pid, program, &files, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&files);
    ::close(inPipe[0]);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    if (spawnError != 0) {
        ::close(inPipe[1]);
        ::close(outPipe[0]);
        ::close(errPipe[0]);
        *error = "cannot start " + args[0] + ": " + std::strerror(spawnError);
        return false;
    }
    m_impl->pid = pid;
    m_impl->in = inPipe[1];
    m_impl->out = outPipe[0];
    m_impl->err = errPipe[0];
    return true;
}

std::size_t ChildProcess::Read(Stream stream, char* buffer, std::size_t size) {
    const int fd = stream == Stream::Out ? m_impl->out : m_impl->err;
    for (;;) {
        const ssize_t n = ::read(fd, buffer, size);
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno != EINTR) return 0;
    }
}

bool ChildProcess::Write(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_impl->in, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;  // EPIPE: SIGPIPE is ignored in every kestrel-cli
        done += static_cast<std::size_t>(n);
    }
    return true;
}

int ChildProcess::Wait() {
    if (m_impl->waited || m_impl->pid <= 0) return m_impl->status;
    int status = 0;
    pid_t waited = 0;
    do {
        waited = ::waitpid(m_impl->pid, &status, 0);
    } while (waited < 0 && errno == EINTR);
    m_impl->waited = true;
    if (waited == m_impl->pid && WIFEXITED(status)) m_impl->status = WEXITSTATUS(status);
    if (waited == m_impl->pid && WIFSIGNALED(status)) m_impl->status = 128 + WTERMSIG(status);
    return m_impl->status;
}

void ChildProcess::Interrupt() {
    if (m_impl->pid > 0 && !m_impl->waited) ::kill(m_impl->pid, SIGINT);
}

std::string ChildProcess::CurrentExecutable() {
    char path[PATH_MAX];
    const ssize_t n = ::readlink(kSelf, path, sizeof path - 1);
    if (n <= 0) return "kestrel-cli";
    std::string name(path, static_cast<std::size_t>(n));
    // The kernel's mark on a file that has been deleted or replaced since.
    constexpr std::string_view kDeleted = " (deleted)";
    if (name.ends_with(kDeleted)) name.resize(name.size() - kDeleted.size());
    return name;
}
