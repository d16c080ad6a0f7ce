// POSIX: O_APPEND makes each write land at the end; an exclusive flock around looking at the
// last byte, writing and (on failure) cutting the file back keeps every Kestrel writer of the
// file out meanwhile; fsync puts the line on the disk before the run goes on.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli/RecordAppend.h"

namespace {

// Takes the lock, waiting; an error other than EINTR leaves the file unlocked (a file system
// without locks still gets the appends).
void Lock(int fd) {
    while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
}

}  // namespace

bool AppendDurably(const std::string& path, const std::string& bytes, std::string* error) {
    const int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    Lock(fd);
    int cause = 0;
    bool ok = true;
    struct stat info {};
    std::string out = bytes;
    if (::fstat(fd, &info) != 0) {
        cause = errno;
        ok = false;
    } else if (info.st_size > 0 && !bytes.empty()) {
        // A line cut short earlier (a full disk, a killed writer) is ended first.
        char last = '\n';
        if (::pread(fd, &last, 1, info.st_size - 1) == 1 && last != '\n') out.insert(0, 1, '\n');
    }
    // A write cut short goes on with the rest, which tells why it was cut (ENOSPC, EDQUOT).
    std::size_t written = 0;
    while (ok && written < out.size()) {
        const ssize_t n = ::write(fd, out.data() + written, out.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            cause = n < 0 ? errno : 0;
            ok = false;
            break;
        }
        written += static_cast<std::size_t>(n);
    }
    if (ok && ::fsync(fd) != 0) {
        cause = errno;
        ok = false;
    }
    // What a failed write left is cut off again, so no partial line stays behind.
    if (!ok && written > 0 && ::ftruncate(fd, info.st_size) == 0) ::fsync(fd);
    if (::close(fd) != 0 && ok) {
        cause = errno;
        ok = false;
    }
    if (!ok) *error = path + ": " + (cause != 0 ? std::strerror(cause) : "short write");
    return ok;
}
