// The write target on Linux and other POSIX systems.
//
// Platform notes:
// - Links are followed one hop at a time with lstat/readlink rather than realpath, so that a
//   dangling link still names the file to create. A relative link is relative to the folder of
//   the link. More than 40 hops is a loop (the kernel's own limit).
// - "May write" is faccessat(W_OK, AT_EACCESS): the effective user and groups, as an open()
//   would judge it; root may write anything, as it could with open().
// - The owner can be kept only by root; the group by a member of it. Failing either is not an
//   error: the file then belongs to the writer, as a newly created one would.
// - Only the permission bits (0777) are carried over, never set-id or sticky bits.
// - Links in sticky world-writable folders follow the kernel's fs.protected_symlinks rule
//   (see WriteTarget.h), whatever the sysctl says: a hand-made walk is not covered by it.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "image/WriteTarget.h"

namespace {

constexpr int kMaxLinkHops = 40;
constexpr unsigned kPermissionBits = 0777;

std::string FolderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return {};
    return path.substr(0, slash + 1);
}

// The link's content, or "" with errno set.
std::string ReadLink(const std::string& path, std::size_t sizeHint) {
    std::vector<char> text(sizeHint + 1 > 256 ? sizeHint + 1 : 256);
    for (;;) {
        const ssize_t n = ::readlink(path.c_str(), text.data(), text.size());
        if (n < 0) return {};
        if (static_cast<std::size_t>(n) < text.size())
            return std::string(text.data(), static_cast<std::size_t>(n));
        text.resize(text.size() * 2);
    }
}

// The kernel's rule for links in sticky world-writable folders (fs.protected_symlinks): only
// the follower's own links and the folder owner's are followed there.
bool MayFollow(const std::string& linkPath, const struct stat& link) {
    const std::string folder = FolderOf(linkPath);
    struct stat dir {};
    if (::stat(folder.empty() ? "." : folder.c_str(), &dir) != 0) return false;
    const bool shared = (dir.st_mode & S_ISVTX) != 0 && (dir.st_mode & S_IWOTH) != 0;
    return !shared || link.st_uid == ::geteuid() || link.st_uid == dir.st_uid;
}

}  // namespace

WriteTarget ResolveWriteTarget(const std::string& path) {
    WriteTarget target;
    target.path = path;
    struct stat info {};
    for (int hops = 0;; ++hops) {
        if (::lstat(target.path.c_str(), &info) != 0) {
            // Nothing there yet (also the end of a dangling link): the write creates it.
            if (errno != ENOENT) target.error = errno;
            return target;
        }
        if (!S_ISLNK(info.st_mode)) break;
        if (hops == kMaxLinkHops) {
            target.error = ELOOP;
            return target;
        }
        if (!MayFollow(target.path, info)) {
            target.error = EACCES;
            target.cause =
                "a symbolic link of another user in a sticky folder everyone may "
                "write; not followed";
            return target;
        }
        const std::string link = ReadLink(target.path, static_cast<std::size_t>(info.st_size));
        if (link.empty()) {
            target.error = errno != 0 ? errno : EINVAL;
            return target;
        }
        target.path = link.front() == '/' ? link : FolderOf(target.path) + link;
    }
    target.exists = true;
    if (S_ISDIR(info.st_mode)) {
        target.error = EISDIR;
        return target;
    }
    target.mode = info.st_mode & kPermissionBits;
    target.owner = static_cast<long>(info.st_uid);
    target.group = static_cast<long>(info.st_gid);
    if (::faccessat(AT_FDCWD, target.path.c_str(), W_OK, AT_EACCESS) != 0) target.error = errno;
    return target;
}

void KeepTargetAttributes(int fd, const WriteTarget& target) {
    if (!target.exists) return;
    const auto uid = static_cast<uid_t>(target.owner);
    const auto gid = static_cast<gid_t>(target.group);
    // Owner and group first: a change of owner may clear mode bits.
    if (::fchown(fd, uid, gid) != 0) (void)::fchown(fd, static_cast<uid_t>(-1), gid);
    (void)::fchmod(fd, static_cast<mode_t>(target.mode));
}
