#include <windows.h>

#include "tests/support/ScratchHandle.h"

DriveHandle OpenScratchHandle() {
    HANDLE handle = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    return handle == INVALID_HANDLE_VALUE ? kInvalidDrive : reinterpret_cast<DriveHandle>(handle);
}

bool ScratchHandleIsOpen(DriveHandle handle) {
    DWORD flags = 0;
    return GetHandleInformation(reinterpret_cast<HANDLE>(handle), &flags) != FALSE;
}

void CloseScratchHandle(DriveHandle handle) {
    CloseHandle(reinterpret_cast<HANDLE>(handle));
}
