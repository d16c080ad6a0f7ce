#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <cerrno>

#include "image/FileOpen.h"
#include "image/win32/WideText.h"

int OpenUnshared(const std::string& path, int flags, int mode)
{
    int fd = -1;
    const int pmode = (mode & 0200) != 0 ? _S_IREAD | _S_IWRITE : _S_IREAD;
    const errno_t error = _wsopen_s(&fd, Widen(path).c_str(), flags, _SH_DENYRW, pmode);
    if (error != 0) {
        errno = error;
        return -1;
    }
    return fd;
}

std::filesystem::path NativePath(const std::string& path) { return Widen(path); }
