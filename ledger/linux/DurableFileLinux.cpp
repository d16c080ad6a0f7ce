// POSIX: O_APPEND makes each write land at the end; an exclusive flock around looking at the
// last byte, writing and (on failure) cutting the file back keeps every Kestrel writer of the
// file out meanwhile (flock, as every earlier release took it, so a station of the release
// before still excludes this one during a package upgrade); fsync puts the line on the disk
// before the run goes on.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "ledger/DurableFile.h"

namespace {

constexpr auto kLockPoll = std::chrono::milliseconds(20);

std::string Cause(const std::string& path, int error) {
    return path + ": " + std::strerror(error);
}

// Takes the lock, trying again until the wait is over. False only when another process held
// it all that time; a file system without locks (ENOLCK, EOPNOTSUPP) goes on unlocked.
bool Lock(int fd, std::chrono::milliseconds wait) {
    const auto until = std::chrono::steady_clock::now() + wait;
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno == EINTR) continue;
        if (errno != EWOULDBLOCK) return true;
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(kLockPoll);
    }
}

}  // namespace

std::unique_ptr<DurableFile> DurableFile::Open(const std::string& path, Access access,
                                               std::string* error,
                                               std::chrono::milliseconds lockWait) {
    const bool own = access == Access::Private;
    const int fd =
        ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | (own ? O_NOFOLLOW : 0),
               own ? 0600 : 0640);
    if (fd < 0) {
        *error = errno == ELOOP && own ? path + ": is a symbolic link; refusing to follow it"
                                       : Cause(path, errno);
        return nullptr;
    }
    struct stat info {};
    if (own && (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid() ||
                info.st_nlink != 1)) {
        *error = path + ": not a plain file of this user (uid " + std::to_string(::geteuid()) +
                 ", owner uid " + std::to_string(info.st_uid) + "); refusing to use it";
        ::close(fd);
        return nullptr;
    }
    if (!Lock(fd, lockWait)) {
        *error = path + ": another process has held its lock for " +
                 std::to_string(lockWait.count() / 1000) +
                 " s (a program keeping the file open and locked; `fuser " + path + "` names it)";
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<DurableFile>(new DurableFile(fd, path));
}

DurableFile::~DurableFile() {
    ::close(static_cast<int>(m_handle));
}

bool DurableFile::Append(const std::string& bytes, std::string* error) {
    const int fd = static_cast<int>(m_handle);
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        *error = Cause(m_path, errno);
        return false;
    }
    std::string out = bytes;
    if (info.st_size > 0 && !bytes.empty()) {
        // A line cut short earlier (a full disk, a killed writer) is ended first.
        char last = '\n';
        if (::pread(fd, &last, 1, info.st_size - 1) == 1 && last != '\n') out.insert(0, 1, '\n');
    }
    // A write cut short goes on with the rest, which tells why it was cut (ENOSPC, EDQUOT).
    int cause = 0;
    bool ok = true;
    std::size_t written = 0;
    while (written < out.size()) {
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
    if (ok) return true;
    // What a failed write left is cut off again, so no partial line stays behind.
    if (written > 0 && ::ftruncate(fd, info.st_size) == 0) ::fsync(fd);
    *error = cause != 0 ? Cause(m_path, cause) : m_path + ": short write";
    return false;
}

bool DurableFile::ReadAll(std::string* text, std::string* error) {
    const int fd = static_cast<int>(m_handle);
    text->clear();
    char buffer[65536];
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, at);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            *error = Cause(m_path, errno);
            return false;
        }
        if (n == 0) return true;
        text->append(buffer, static_cast<std::size_t>(n));
        at += n;
    }
}

bool DurableFile::Clear(std::string* error) {
    const int fd = static_cast<int>(m_handle);
    if (::ftruncate(fd, 0) != 0 || ::fsync(fd) != 0) {
        *error = Cause(m_path, errno);
        return false;
    }
    return true;
}
