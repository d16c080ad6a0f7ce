// Drive enumeration on Linux: SCSI disks and CD-ROM drives from /sys/block.
//
// Platform notes:
// - Linux has no drive letters. The search order stands in for "C: to Z:": sd disks by name
//   length, then name (sda .. sdz, sdaa ..), then sr drives by number (sr0, sr1, .. sr10).
// - Only SCSI disks (sd) and SCSI CD-ROM drives (sr) are looked at: the vendor commands travel
//   as SCSI pass-through, which other block drivers (loop, nvme, mmcblk, dm) do not carry.
//   /sys/block holds whole disks only; partitions live below them.
// - A candidate is a disk whose "removable" attribute is 1, or a drive whose SCSI device/type
//   is 5 (CD-ROM). USB card readers and sticks report removable 1; a USB hard disk reports 0
//   and is skipped like any fixed disk.
// - sysfs is read with opendir/readdir and open/read below "/sys" on purpose: the emulation tier
//   (umockdev) redirects exactly these calls to its testbed, but not scandir or glob.
// - Drives are opened by this process or by Kestrel's helper (see DriveAccess.h).

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

#include "device/DriveEnumeration.h"
#include "device/linux/DriveAccess.h"

namespace {

constexpr const char* kSysBlock = "/sys/block";
constexpr int kScsiTypeCdRom = 5;

bool IsScsiDiskName(const std::string& name) {
    return name.size() > 2 && name.starts_with("sd") &&
           std::all_of(name.begin() + 2, name.end(), [](char c) { return c >= 'a' && c <= 'z'; });
}

bool IsScsiCdRomName(const std::string& name) {
    return name.size() > 2 && name.starts_with("sr") &&
           std::all_of(name.begin() + 2, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A small sysfs attribute as an integer ("1\n" -> 1); nullopt when absent or not a number.
std::optional<int> ReadIntAttribute(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    char text[32] = {};
    const ssize_t n = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (n <= 0) return std::nullopt;
    int value = 0;
    bool digits = false;
    for (ssize_t i = 0; i < n && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value > 100000) return std::nullopt;
        value = value * 10 + (text[i] - '0');
        digits = true;
    }
    if (!digits) return std::nullopt;
    return value;
}

// Sort key for the search order: sd disks first by length and name, then sr by number.
struct OrderKey {
    int group;  // 0 sd, 1 sr
    std::size_t length;
    unsigned long number;
    std::string name;
    auto operator<=>(const OrderKey&) const = default;
};

OrderKey KeyFor(const DriveCandidate& drive) {
    if (IsScsiDiskName(drive.name)) return {0, drive.name.size(), 0, drive.name};
    const std::string digits = drive.name.substr(2);
    // Up to 9 digits can never overflow; more would be no kernel name we know.
    const unsigned long number = digits.size() > 9 ? ~0UL : std::stoul(digits);
    return {1, 0, number, drive.name};
}

}  // namespace

std::vector<DriveCandidate> EnumerateDrives() {
    std::vector<DriveCandidate> drives;
    DIR* dir = ::opendir(kSysBlock);
    if (dir == nullptr) return drives;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        const bool disk = IsScsiDiskName(name);
        if (!disk && !IsScsiCdRomName(name)) continue;

        const std::string base = std::string(kSysBlock) + "/" + name;
        const bool removable = ReadIntAttribute(base + "/removable") == 1;
        const bool cdrom = ReadIntAttribute(base + "/device/type") == kScsiTypeCdRom;
        DriveKind kind = DriveKind::Removable;
        if (cdrom)
            kind = DriveKind::CdRom;
        else if (!removable)
            kind = disk ? DriveKind::Fixed : DriveKind::Other;
        drives.push_back({name, "/dev/" + name, kind});
    }
    ::closedir(dir);
    std::sort(drives.begin(), drives.end(), [](const DriveCandidate& a, const DriveCandidate& b) {
        return KeyFor(a) < KeyFor(b);
    });
    return drives;
}

DriveHandle OpenDriveReadWrite(const DriveCandidate& drive, int* osError) {
    int error = 0;
    const DriveHandle handle = CurrentDriveAccess().Open(drive.devicePath, &error);
    if (osError != nullptr) *osError = error;
    return handle;
}

std::string OpenFailureHint(int osError) {
    return CurrentDriveAccess().OpenFailureHint(osError);
}

std::string OpenRefusal(int osError) {
    return CurrentDriveAccess().OpenRefusal(osError);
}

std::string DescribeOsError(int osError) {
    return std::strerror(osError);
}
