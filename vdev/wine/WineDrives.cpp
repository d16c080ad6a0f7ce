// kestrel-wine-drives.exe: defines and removes drive letters of a running Wine prefix, so that
// a virtual device shows up to a Windows program as a drive of the right type.
//
//   kestrel-wine-drives.exe set LETTER TYPE FOLDER DEVICE [LETTER TYPE FOLDER DEVICE ...]
//   kestrel-wine-drives.exe remove LETTER [LETTER ...]
//
// TYPE is fixed, removable or cdrom; FOLDER the Unix folder the drive's root maps to; DEVICE the
// Unix device node that "\\.\E:" opens (the testbed's node). Wine's mount manager keeps drive
// types in memory from its start; its own extension IOCTL_MOUNTMGR_DEFINE_UNIX_DRIVE (the one
// winecfg uses) changes them at run time, so one running Wine server serves every test. The
// request layout below is Wine's (include/ddk/mountmgr.h); it exists only under Wine.

#include <windows.h>
#include <winioctl.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr DWORD kMountMgrType = 'm';
constexpr DWORD kDefineUnixDrive =
    CTL_CODE(kMountMgrType, 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);

struct MountMgrUnixDrive {
    ULONG size;
    ULONG type;
    ULONG fsType;
    DWORD serial;
    ULONGLONG unixDev;
    WCHAR letter;
    USHORT mountPointOffset;
    USHORT deviceOffset;
    USHORT labelOffset;
};

bool DriveType(const char* name, ULONG* type) {
    if (std::strcmp(name, "fixed") == 0)
        *type = DRIVE_FIXED;
    else if (std::strcmp(name, "removable") == 0)
        *type = DRIVE_REMOVABLE;
    else if (std::strcmp(name, "cdrom") == 0)
        *type = DRIVE_CDROM;
    else
        return false;
    return true;
}

bool ValidLetter(const char* text) {
    const char c = static_cast<char>(text[0] | 0x20);
    return c >= 'a' && c <= 'z' && (text[1] == '\0' || (text[1] == ':' && text[2] == '\0'));
}

// type DRIVE_NO_ROOT_DIR removes the letter.
bool Define(HANDLE manager, char letter, ULONG type, const char* folder, const char* device) {
    std::vector<char> request(sizeof(MountMgrUnixDrive));
    auto append = [&request](const char* text) -> USHORT {
        if (text == nullptr) return 0;
        const auto offset = static_cast<USHORT>(request.size());
        request.insert(request.end(), text, text + std::strlen(text) + 1);
        return offset;
    };
    const USHORT mountPoint = append(folder);
    const USHORT devicePath = append(device);
    MountMgrUnixDrive header{};
    header.size = static_cast<ULONG>(request.size());
    header.type = type;
    header.letter = static_cast<WCHAR>(letter | 0x20);
    header.mountPointOffset = mountPoint;
    header.deviceOffset = devicePath;
    std::memcpy(request.data(), &header, sizeof header);
    DWORD returned = 0;
    if (DeviceIoControl(manager, kDefineUnixDrive, request.data(),
                        static_cast<DWORD>(request.size()), nullptr, 0, &returned, nullptr))
        return true;
    std::fprintf(stderr, "kestrel-wine-drives: cannot %s %c: (error %lu)\n",
                 type == DRIVE_NO_ROOT_DIR ? "remove" : "define", letter,
                 static_cast<unsigned long>(GetLastError()));
    return false;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: kestrel-wine-drives.exe set LETTER fixed|removable|cdrom FOLDER DEVICE "
                 "...\n       kestrel-wine-drives.exe remove LETTER ...\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    const std::string verb = argv[1];
    const bool set = verb == "set";
    if (!set && verb != "remove") return Usage();
    const int group = set ? 4 : 1;
    if ((argc - 2) % group != 0) return Usage();
    for (int i = 2; i < argc; i += group) {
        ULONG type = 0;
        if (!ValidLetter(argv[i]) || (set && !DriveType(argv[i + 1], &type))) return Usage();
    }

    HANDLE manager =
        CreateFileW(L"\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (manager == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "kestrel-wine-drives: no mount manager (error %lu): not under Wine?\n",
                     static_cast<unsigned long>(GetLastError()));
        return 1;
    }
    bool ok = true;
    for (int i = 2; i < argc; i += group) {
        ULONG type = DRIVE_NO_ROOT_DIR;
        if (set) DriveType(argv[i + 1], &type);
        ok = Define(manager, argv[i][0], type, set ? argv[i + 2] : nullptr,
                    set ? argv[i + 3] : nullptr) &&
             ok;
    }
    CloseHandle(manager);
    return ok ? 0 : 1;
}
