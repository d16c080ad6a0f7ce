#include "device/DriveEnumeration.h"

#include <algorithm>
#include <cctype>

namespace {

std::string s_chosenDrive;  // empty: every candidate

bool SameText(std::string_view a, std::string_view b) {
    const auto trimmed = [](std::string_view t) {
        while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
        return t;
    };
    a = trimmed(a);
    b = trimmed(b);
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

}  // namespace

bool IsCandidateKind(DriveKind kind) {
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

const char* DriveKindName(DriveKind kind) {
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

std::vector<DriveCandidate> EnumerateCandidateDrives() {
    std::vector<DriveCandidate> drives = EnumerateDrives();
    std::erase_if(drives, [](const DriveCandidate& d) {
        return !IsCandidateKind(d.kind) ||
               (!s_chosenDrive.empty() && !DriveNamed(d, s_chosenDrive));
    });
    return drives;
}

std::string DriveShortName(const DriveCandidate& drive) {
    std::string name = drive.name;
    while (!name.empty() && name.back() == ' ') name.pop_back();
    return name;
}

void ChooseOnlyDrive(std::string drive) {
    s_chosenDrive = std::move(drive);
}

bool DriveNamed(const DriveCandidate& drive, std::string_view text) {
    // Drive names never differ only in case on either platform, so "e:" is E: and "SDB" sdb.
    return !text.empty() && (SameText(drive.name, text) || SameText(drive.devicePath, text));
}
