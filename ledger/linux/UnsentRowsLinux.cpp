// The private state folder of the unsent rows. Never a fallback to a shared folder: another
// user could create it first, and every row in it would then be theirs to write.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "ledger/UnsentRows.h"

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value && value[0] == '/' ? std::string(value) : std::string();
}

// Creates each missing folder of path (0700), as `mkdir -p` does.
void MakeFolders(const std::string& path) {
    for (std::size_t at = path.find('/', 1);; at = path.find('/', at + 1)) {
        ::mkdir(path.substr(0, at).c_str(), 0700);
        if (at == std::string::npos) return;
    }
}

}  // namespace

std::optional<std::string> UnsentRows::StateFolder(std::string* error) {
    // systemd's StateDirectory= may name several folders, separated by ':'.
    std::string folder = Env("STATE_DIRECTORY");
    folder = folder.substr(0, folder.find(':'));
    if (folder.empty() && !Env("XDG_STATE_HOME").empty())
        folder = Env("XDG_STATE_HOME") + "/kestrel";
    if (folder.empty()) {
        const struct passwd* user = ::getpwuid(::geteuid());
        struct stat home {};
        if (!user || !user->pw_dir || user->pw_dir[0] != '/' || ::stat(user->pw_dir, &home) != 0 ||
            !S_ISDIR(home.st_mode)) {
            *error =
                "no private folder for the rows the database may not take: the user has no home "
                "folder; set STATE_DIRECTORY (a systemd service's StateDirectory=) or "
                "XDG_STATE_HOME";
            return std::nullopt;
        }
        folder = std::string(user->pw_dir) + "/.local/state/kestrel";
    }
    MakeFolders(folder);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat info {};
    const bool ours = fd >= 0 && ::fstat(fd, &info) == 0 && info.st_uid == ::geteuid();
    // An older release made the folder 0755; it is this user's, so it is made private.
    const bool made = ours && ((info.st_mode & 07777) == 0700 || ::fchmod(fd, 0700) == 0);
    const int cause = errno;
    struct stat link {};
    const bool isLink = fd < 0 && ::lstat(folder.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
    if (fd >= 0) ::close(fd);
    if (!made) {
        *error = "cannot keep the rows the database may not take in " + folder + ": " +
                 (isLink           ? "it is a symbolic link; refusing to follow it"
                  : fd < 0 || ours ? std::strerror(cause)
                                   : "it belongs to another user; refusing to use it");
        return std::nullopt;
    }
    return folder;
}
