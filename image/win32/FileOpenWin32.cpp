#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <cerrno>

#include "image/FileOpen.h"

int OpenUnshared(const char* path, int flags, int mode)
{
    int fd = -1;
    const int pmode = (mode & 0200) != 0 ? _S_IREAD | _S_IWRITE : _S_IREAD;
    const errno_t error = _sopen_s(&fd, path, flags, _SH_DENYRW, pmode);
    if (error != 0) {
        errno = error;
        return -1;
    }
    return fd;
}
