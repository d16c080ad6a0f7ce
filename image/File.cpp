#include "image/File.h"
#include "image/FileOpen.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "image/WriteTarget.h"

#ifndef O_BINARY
#define O_BINARY 0  // only Windows distinguishes text and binary files
#endif
#ifndef O_CLOEXEC
#define O_CLOEXEC 0
#endif

namespace {

std::string TemporaryPathFor(const std::string& target) {
    // Beside the target, so the final rename stays on one file system.
    static std::atomic<unsigned> counter{0};
    return target + ".kestrel-" + std::to_string(static_cast<unsigned long>(::getpid())) + "-" +
           std::to_string(counter++) + ".tmp";
}

}  // namespace

File::~File() {
    Close();
}

bool File::Fail(const char* action, int error, const std::string& cause) {
    m_error = std::string("Cannot ") + action + " \"" + m_path +
              "\": " + (cause.empty() ? std::string(std::strerror(error)) : cause);
    return false;
}

bool File::OpenForReading(const std::string& path) {
    Close();
    m_path = path;
    m_writing = false;
    const int fd = OpenGuarded(path, O_RDONLY | O_BINARY | O_CLOEXEC, 0);
    if (fd < 0) {
        // Windows refuses to open a folder with "Permission denied"; say what it is instead.
        const int error = errno;
        std::error_code ec;
        return Fail("open", std::filesystem::is_directory(NativePath(path), ec) ? EISDIR : error);
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const int error = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        return Fail("open", error);
    }
    m_fd = fd;
    return true;
}

bool File::CreateForWriting(const std::string& path) {
    Close();
    m_path = path;
    m_writing = true;
    // Refused here, where the caller still reports an open failure, rather than at the final
    // rename: a folder in the target's place, or a file this user may not write (the rename
    // alone would replace it, since it asks only for the folder).
    const WriteTarget target = ResolveWriteTarget(path);
    if (target.error != 0) return Fail("create", target.error, target.cause);
    // Beside the file a link points to, so the rename replaces that file and keeps the link.
    m_targetPath = target.path;
    m_tempPath = TemporaryPathFor(m_targetPath);
    const int fd =
        OpenGuarded(m_tempPath, O_WRONLY | O_CREAT | O_EXCL | O_BINARY | O_CLOEXEC, 0666);
    if (fd < 0) {
        m_tempPath.clear();
        return Fail("create", errno);
    }
    KeepTargetAttributes(fd, target);
    m_fd = fd;
    return true;
}

std::int64_t File::Read(void* buffer, std::size_t size) {
    if (m_fd < 0) return Fail("read", EBADF), -1;
    for (;;) {
        const auto n = ::read(m_fd, buffer, static_cast<unsigned>(size));
        if (n >= 0) return n;
        if (errno != EINTR) return Fail("read", errno), -1;
    }
}

std::int64_t File::ReadFully(void* buffer, std::size_t size) {
    auto* bytes = static_cast<unsigned char*>(buffer);
    std::size_t total = 0;
    while (total < size) {
        const std::int64_t n = Read(bytes + total, size - total);
        if (n < 0) return -1;
        if (n == 0) break;
        total += static_cast<std::size_t>(n);
    }
    return static_cast<std::int64_t>(total);
}

bool File::Write(const void* buffer, std::size_t size) {
    if (m_fd < 0) return Fail("write", EBADF);
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    while (size > 0) {
        const auto n = ::write(m_fd, bytes, static_cast<unsigned>(size));
        if (n < 0) {
            if (errno == EINTR) continue;
            return Fail("write", errno);
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::optional<std::uint64_t> File::Length() {
    struct stat info {};
    if (m_fd < 0 || ::fstat(m_fd, &info) != 0) {
        Fail("read", m_fd < 0 ? EBADF : errno);
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(info.st_size);
}

bool File::Commit() {
    if (m_fd < 0 || !m_writing) return Fail("write", EBADF);
    int error = 0;
#ifndef _WIN32
    if (::fsync(m_fd) != 0 && errno != EINVAL) error = errno;
#endif
    if (::close(m_fd) != 0 && error == 0) error = errno;
    m_fd = -1;
    if (error == 0) {
        std::error_code ec;
        std::filesystem::rename(NativePath(m_tempPath), NativePath(m_targetPath), ec);
        if (ec) error = ec.value();
    }
    if (error != 0) {
        std::error_code ec;
        std::filesystem::remove(NativePath(m_tempPath), ec);
        m_tempPath.clear();
        return Fail("write", error);
    }
    m_tempPath.clear();
    return true;
}

void File::Close() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (m_writing && !m_tempPath.empty()) {
        std::error_code ec;
        std::filesystem::remove(NativePath(m_tempPath), ec);
        m_tempPath.clear();
    }
}
