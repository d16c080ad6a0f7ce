// kestrel-wine-drives.exe: defines and removes drive letters of a running Wine prefix, so that
// a virtual device shows up to a Windows program as a drive of the right type.
//
//   kestrel-wine-drives.exe set LETTER TYPE FOLDER DEVICE [LETTER TYPE FOLDER DEVICE ...]
//   kestrel-wine-drives.exe remove LETTER [LETTER ...]
//   kestrel-wine-drives.exe usb LETTER USB_ID DISK_ID LOCATION [...]
//   kestrel-wine-drives.exe forget USB_ID DISK_ID [...]
//   kestrel-wine-drives.exe announce arrival|removal LETTER [LETTER ...]
//
// TYPE is fixed, removable or cdrom; FOLDER the Unix folder the drive's root maps to; DEVICE the
// Unix device node that "\\.\E:" opens (the testbed's node). Wine's mount manager keeps drive
// types in memory from its start; its own extension IOCTL_MOUNTMGR_DEFINE_UNIX_DRIVE (the one
// winecfg uses) changes them at run time, so one running Wine server serves every test. The
// request layout below is Wine's (include/ddk/mountmgr.h); it exists only under Wine.
//
// "usb" gives a letter's drive the USB identity Windows would know it by, where Windows keeps
// it: the USB device USB_ID ("USB\VID_1D6B&PID_0104\KV0001") with its LOCATION
// ("Port_#0001.Hub_#0002"), the disk DISK_ID ("USBSTOR\Disk&...\KV0001&0") below it, and the
// mount manager's name of the letter's volume, the disk's interface path. Wine's own Plug and
// Play manager knows nothing of the testbed's drives, but its SetupAPI reads devices from the
// registry. "forget" removes the two devices again (the letter's name goes with the letter).
//
// "announce" tells the running programs that letters came or went, as Windows' mount manager
// does: WM_DEVICECHANGE (DBT_DEVICEARRIVAL, DBT_DEVICEREMOVECOMPLETE) with the letters' volume,
// broadcast to the top-level windows of every desktop. Wine's mount manager announces only the
// drives it found itself, not the ones defined through its extension.

#include <windows.h>

#include <dbt.h>
#include <winioctl.h>

#include <algorithm>
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

constexpr const char* kEnum = "SYSTEM\\CurrentControlSet\\Enum\\";
constexpr const char* kUsbClass = "{36fc9e60-c465-11cf-8056-444553540000}";
constexpr const char* kDiskClass = "{4d36e967-e325-11ce-bfc1-08002be10318}";
constexpr const char* kDiskInterface = "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";

bool SetText(HKEY key, const char* name, const std::string& text) {
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1)) == ERROR_SUCCESS;
}

bool AddDevice(const std::string& id, const char* classGuid, const char* location) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, (kEnum + id).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    bool ok = SetText(key, "ClassGUID", classGuid);
    if (location != nullptr) ok = SetText(key, "LocationInformation", location) && ok;
    RegCloseKey(key);
    return ok;
}

bool AddUsb(char letter, const std::string& usbId, const std::string& diskId,
            const char* location) {
    std::string interfacePath = diskId + "#" + kDiskInterface;
    std::replace(interfacePath.begin(), interfacePath.end(), '\\', '#');
    interfacePath = "\\??\\" + interfacePath;
    std::vector<WCHAR> name(interfacePath.begin(), interfacePath.end());
    const std::string value =
        std::string("\\DosDevices\\") + static_cast<char>(letter & ~0x20) + ":";
    HKEY mounted = nullptr;
    bool ok = AddDevice(usbId, kUsbClass, location) && AddDevice(diskId, kDiskClass, nullptr) &&
              RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\MountedDevices", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &mounted, nullptr) == ERROR_SUCCESS;
    if (ok) {
        ok = RegSetValueExA(mounted, value.c_str(), 0, REG_BINARY,
                            reinterpret_cast<const BYTE*>(name.data()),
                            static_cast<DWORD>(name.size() * sizeof(WCHAR))) == ERROR_SUCCESS;
        RegCloseKey(mounted);
    }
    if (!ok)
        std::fprintf(stderr, "kestrel-wine-drives: cannot record %s for %c: (error %lu)\n",
                     usbId.c_str(), letter, static_cast<unsigned long>(GetLastError()));
    return ok;
}

void Forget(const std::string& id) {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, (kEnum + id).c_str());
    // The instance's parent keys go too once empty ("USB\VID_1D6B&PID_0104").
    const std::string parent = kEnum + id.substr(0, id.rfind('\\'));
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, parent.c_str());
}

bool Announce(bool arrival, DWORD letters) {
    DEV_BROADCAST_VOLUME volume{};
    volume.dbcv_size = sizeof volume;
    volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
    volume.dbcv_unitmask = letters;
    // Sent, not posted (BSF_QUERY): the volume travels by pointer, which only a sent message
    // carries to another process.
    DWORD recipients = BSM_ALLDESKTOPS | BSM_APPLICATIONS;
    return BroadcastSystemMessageW(BSF_QUERY | BSF_FORCEIFHUNG, &recipients, WM_DEVICECHANGE,
                                   arrival ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE,
                                   reinterpret_cast<LPARAM>(&volume)) > 0;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: kestrel-wine-drives.exe set LETTER fixed|removable|cdrom FOLDER DEVICE "
                 "...\n       kestrel-wine-drives.exe remove LETTER ...\n"
                 "       kestrel-wine-drives.exe usb LETTER USB_ID DISK_ID LOCATION ...\n"
                 "       kestrel-wine-drives.exe forget USB_ID DISK_ID ...\n"
                 "       kestrel-wine-drives.exe announce arrival|removal LETTER ...\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    const std::string verb = argv[1];
    if (verb == "usb") {
        if ((argc - 2) % 4 != 0) return Usage();
        for (int i = 2; i < argc; i += 4)
            if (!ValidLetter(argv[i])) return Usage();
        bool ok = true;
        for (int i = 2; i < argc; i += 4)
            ok = AddUsb(argv[i][0], argv[i + 1], argv[i + 2], argv[i + 3]) && ok;
        return ok ? 0 : 1;
    }
    if (verb == "announce") {
        const std::string what = argc > 2 ? argv[2] : "";
        if (argc < 4 || (what != "arrival" && what != "removal")) return Usage();
        DWORD letters = 0;
        for (int i = 3; i < argc; ++i) {
            if (!ValidLetter(argv[i])) return Usage();
            letters |= 1UL << ((argv[i][0] | 0x20) - 'a');
        }
        return Announce(what == "arrival", letters) ? 0 : 1;
    }
    if (verb == "forget") {
        if ((argc - 2) % 2 != 0) return Usage();
        for (int i = 2; i < argc; ++i) Forget(argv[i]);
        return 0;
    }
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
