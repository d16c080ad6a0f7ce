// Drive enumeration on Windows: drive letters C: to Z:, removable and CD-ROM drives only.
//
// Platform notes:
// - The drive name carries a trailing blank ("E: "), passed as it is to GetDriveTypeA and, as
//   "\\.\E: ", to CreateFileA. Win32 path handling strips trailing blanks, so both reach E:.
// - A and B are never tried: they are the floppy letters.
// - Opening a volume read-write needs administrator rights; without them CreateFileA fails
//   with ERROR_ACCESS_DENIED and the drive is skipped.
// - Letters with no drive behind them (DRIVE_NO_ROOT_DIR) are left out of the list entirely;
//   fixed, network and RAM drives are listed for diagnosis and never opened.

#include <windows.h>

#include <cstdio>

#include "device/DriveEnumeration.h"

std::vector<DriveCandidate> EnumerateDrives() {
    std::vector<DriveCandidate> drives;
    for (char letter = 'C'; letter <= 'Z'; ++letter) {
        char name[4];
        std::snprintf(name, sizeof name, "%c: ", letter);
        DriveKind kind;
        switch (GetDriveTypeA(name)) {
            case DRIVE_REMOVABLE:
                kind = DriveKind::Removable;
                break;
            case DRIVE_CDROM:
                kind = DriveKind::CdRom;
                break;
            case DRIVE_FIXED:
                kind = DriveKind::Fixed;
                break;
            case DRIVE_NO_ROOT_DIR:
                continue;
            default:  // DRIVE_REMOTE, DRIVE_RAMDISK, DRIVE_UNKNOWN
                kind = DriveKind::Other;
                break;
        }
        char path[8];
        std::snprintf(path, sizeof path, "\\\\.\\%s", name);
        drives.push_back({name, path, kind});
    }
    return drives;
}

DriveHandle OpenDriveReadWrite(const DriveCandidate& drive, int* osError) {
    HANDLE handle = CreateFileA(drive.devicePath.c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (osError != nullptr)
        *osError = handle == INVALID_HANDLE_VALUE ? static_cast<int>(GetLastError()) : 0;
    return handle == INVALID_HANDLE_VALUE ? kInvalidDrive : reinterpret_cast<DriveHandle>(handle);
}

std::string OpenRefusal(int /*osError*/) {
    // The drive is opened by this process itself: the OS error says it all.
    return {};
}

std::string OpenFailureHint(int osError) {
    if (osError != ERROR_ACCESS_DENIED) return {};
    return "opening a drive for reading and writing needs administrator rights: run kestrel-cli "
           "from an administrator command prompt (the dialog asks for the rights itself)";
}

std::string DescribeOsError(int osError) {
    char text[512] = {};
    const DWORD n =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(osError), 0, text, sizeof text, nullptr);
    std::string message(text, n);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.'))
        message.pop_back();
    if (message.empty()) message = "Windows error " + std::to_string(osError);
    return message;
}
