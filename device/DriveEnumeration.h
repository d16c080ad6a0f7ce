#pragma once
// The drive enumeration seam: the drives of the machine in search order, and opening one for
// reading and writing. One implementation per platform, chosen by CMake; the candidate filter
// and the kind names are portable (DriveEnumeration.cpp).

#include <string>
#include <string_view>
#include <vector>

#include "services/DriveHandle.h"

// Removable disks and CD-ROM drives are candidates; the rest are listed only so that a
// diagnosis can say they were skipped, and are never opened.
enum class DriveKind { Removable, CdRom, Fixed, Other };

struct DriveCandidate {
    std::string name;        // "sdb", "sr0"; "E: " on Windows
    std::string devicePath;  // "/dev/sdb"; "\\.\E: " on Windows
    DriveKind kind = DriveKind::Removable;
};

// Every drive the search looks at, candidates or not, in search order.
std::vector<DriveCandidate> EnumerateDrives();

// The candidates only (removable and CD-ROM), in search order; only the chosen drive while
// one is chosen (see ChooseOnlyDrive).
std::vector<DriveCandidate> EnumerateCandidateDrives();

// Limits the candidates, and so the device search, to the drive the user named ("sdb",
// "/dev/sdb", "sr0"; "E:" on Windows); "" lifts the limit. A fixed disk stays no candidate.
void ChooseOnlyDrive(std::string drive);
// True when text names the drive: its name or device path, with or without the trailing blank
// of a drive letter, letters in any case.
bool DriveNamed(const DriveCandidate& drive, std::string_view text);
// The drive as a person names it: "sdb", "E:" (without the trailing blank of the search).
std::string DriveShortName(const DriveCandidate& drive);

bool IsCandidateKind(DriveKind kind);
const char* DriveKindName(DriveKind kind);  // "removable", "cd-rom", "fixed", "other"

// Opens the drive for reading and writing; on failure returns kInvalidDrive and stores the OS
// error (errno / GetLastError) in *osError when given.
DriveHandle OpenDriveReadWrite(const DriveCandidate& drive, int* osError = nullptr);

// How to fix an open that failed for want of access, or "" when there is no advice.
std::string OpenFailureHint(int osError);
// When the node's own open was not what failed (Kestrel's helper could not be started, or
// refused the node), what was refused and why, to be said first; "" otherwise.
std::string OpenRefusal(int osError);

// The OS's own text for an error code from this seam or the pass-through.
std::string DescribeOsError(int osError);
