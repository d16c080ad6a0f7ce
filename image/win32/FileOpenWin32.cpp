#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <cerrno>

#include "image/FileOpen.h"
#include "image/win32/WideText.h"

int OpenGuarded(const std::string& path, int flags, int mode) {
    int fd = -1;
    const int pmode = (mode & 0200) != 0 ? _S_IREAD | _S_IWRITE : _S_IREAD;
    const bool reading = (flags & (_O_WRONLY | _O_RDWR)) == 0;
    const errno_t error =
        _wsopen_s(&fd, Widen(path).c_str(), flags, reading ? _SH_DENYWR : _SH_DENYRW, pmode);
    if (error != 0) {
        errno = error;
        return -1;
    }
    return fd;
}

std::filesystem::path NativePath(const std::string& path) {
    return Widen(path);
}
