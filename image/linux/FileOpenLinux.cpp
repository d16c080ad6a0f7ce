// POSIX has no sharing modes: locks are advisory and other programs (editors, build tools,
// copiers) take none, so locking here would protect nothing. A plain open keeps today's
// behaviour; derived files are still written through a temporary file and a rename.
#include <fcntl.h>

#include "image/FileOpen.h"

int OpenGuarded(const std::string& path, int flags, int mode) {
    return ::open(path.c_str(), flags, mode);
}

// File names are bytes here; they pass as they are.
std::filesystem::path NativePath(const std::string& path) {
    return path;
}
