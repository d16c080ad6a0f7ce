#pragma once
// The drive enumeration seam: the candidate drives (removable and CD-ROM) in search order, and
// opening one for reading and writing. One implementation per platform, chosen by CMake.

#include <string>
#include <vector>

#include "device/DriveHandle.h"

enum class DriveKind { Removable, CdRom };

struct DriveCandidate {
    std::string name;        // "sdb", "sr0"; "E: " on Windows
    std::string devicePath;  // "/dev/sdb"; "\\.\E: " on Windows
    DriveKind kind = DriveKind::Removable;
};

std::vector<DriveCandidate> EnumerateCandidateDrives();

// Opens the drive for reading and writing; on failure returns kInvalidDrive and stores the OS
// error (errno / GetLastError) in *osError when given.
DriveHandle OpenDriveReadWrite(const DriveCandidate& drive, int* osError = nullptr);

// The OS's own text for an error code from this seam or the pass-through.
std::string DescribeOsError(int osError);
