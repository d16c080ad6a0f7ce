#include <fcntl.h>
#include <unistd.h>

#include "tests/support/ScratchHandle.h"

DriveHandle OpenScratchHandle() {
    return ::open("/dev/null", O_RDWR);
}

bool ScratchHandleIsOpen(DriveHandle handle) {
    return ::fcntl(static_cast<int>(handle), F_GETFD) != -1;
}

void CloseScratchHandle(DriveHandle handle) {
    ::close(static_cast<int>(handle));
}
