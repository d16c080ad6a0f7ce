#include "device/DriveEnumeration.h"

#include <algorithm>

bool IsCandidateKind(DriveKind kind)
{
    switch (kind) {
    case DriveKind::Removable:
    case DriveKind::CdRom:
        return true;
    case DriveKind::Fixed:
    case DriveKind::Other:
        return false;
    }
    return false;
}

const char* DriveKindName(DriveKind kind)
{
    switch (kind) {
    case DriveKind::Removable:
        return "removable";
    case DriveKind::CdRom:
        return "cd-rom";
    case DriveKind::Fixed:
        return "fixed";
    case DriveKind::Other:
        return "other";
    }
    return "other";
}

std::vector<DriveCandidate> EnumerateCandidateDrives()
{
    std::vector<DriveCandidate> drives = EnumerateDrives();
    std::erase_if(drives, [](const DriveCandidate& d) { return !IsCandidateKind(d.kind); });
    return drives;
}
