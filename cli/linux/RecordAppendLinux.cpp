// POSIX: O_APPEND makes each write land at the end atomically with respect to other writers;
// fsync puts it on the disk before the run's result is printed.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli/RecordAppend.h"

bool AppendDurably(const std::string& path, const std::string& bytes, std::string* error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    ssize_t written = 0;
    do {
        written = ::write(fd, bytes.data(), bytes.size());
    } while (written < 0 && errno == EINTR);
    int cause = written < 0 ? errno : 0;
    bool ok = written == static_cast<ssize_t>(bytes.size());
    if (ok && ::fsync(fd) != 0) {
        cause = errno;
        ok = false;
    }
    if (::close(fd) != 0 && ok) {
        cause = errno;
        ok = false;
    }
    if (!ok)
        *error = path + ": " + (cause != 0 ? std::strerror(cause) : "short write (disk full?)");
    return ok;
}
