// POSIX: the events file is our own open file description (O_NONBLOCK, close-on-exec); standard
// output is shared with the shell, so it keeps its flags and is written in pieces of at most
// PIPE_BUF bytes when poll says a pipe has room, which a pipe takes without blocking.
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "line/EventOutput.h"

namespace {

constexpr int kSliceMs = 100;

class FdOutput : public EventOutput {
public:
    FdOutput(int fd, bool own) : m_fd(fd), m_own(own) {
        struct stat info {};
        m_piece = ::fstat(fd, &info) == 0 && (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode))
                      ? PIPE_BUF
                      : 1 << 20;
    }
    ~FdOutput() override {
        if (m_own) ::close(m_fd);
    }

    bool Write(std::string_view bytes, const std::atomic<bool>& abandon,
               std::string* error) override {
        while (!bytes.empty()) {
            pollfd one{m_fd, POLLOUT, 0};
            const int ready = ::poll(&one, 1, kSliceMs);
            if (abandon) return false;
            if (ready < 0 && errno != EINTR) {
                *error = std::strerror(errno);
                return false;
            }
            if (ready <= 0) continue;
            const ssize_t n = ::write(m_fd, bytes.data(), std::min(bytes.size(), m_piece));
            if (n < 0) {
                if (errno == EINTR || errno == EAGAIN) continue;
                *error = std::strerror(errno);
                return false;
            }
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
        return true;
    }

private:
    int m_fd;
    bool m_own;
    std::size_t m_piece;
};

// Whether the folder holding PATH is sticky (like /tmp), where another user may have left a
// link for us to follow.
bool InStickyFolder(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : path.substr(0, slash);
    struct stat info {};
    return ::stat(folder.c_str(), &info) == 0 && (info.st_mode & S_ISVTX) != 0;
}

}  // namespace

std::unique_ptr<EventOutput> EventOutput::Open(const std::string& path, std::string* error) {
    if (path == "-") return std::make_unique<FdOutput>(STDOUT_FILENO, false);
    const bool sticky = InStickyFolder(path);
    const int fd = ::open(path.c_str(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY |
                              (sticky ? O_NOFOLLOW : 0),
                          0640);
    if (fd < 0) {
        *error = path + ": " +
                 (errno == ELOOP && sticky
                      ? std::string("a symbolic link in a sticky folder; refusing to follow it")
                  : errno == ENXIO ? std::string("a FIFO that nobody reads")
                                   : std::string(std::strerror(errno)));
        return nullptr;
    }
    return std::make_unique<FdOutput>(fd, true);
}
