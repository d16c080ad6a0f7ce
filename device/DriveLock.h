#pragma once
// One writer per device: a drive handle takes a lock that other Kestrel processes see, before
// anything is sent on it, and keeps it until CloseDevice. Two runs interleaving vendor commands
// on one device would corrupt its firmware, so a drive another Kestrel process holds is
// skipped by the search as if it did not answer. One implementation per platform (Linux: an
// exclusive flock on the open node; Windows: a named mutex per drive), chosen by CMake.

#include "device/DriveEnumeration.h"

enum class DriveLockResult {
    Held,  // this handle now holds the drive
    Busy,  // another Kestrel process holds it: send nothing
};

// Never waits. A platform that cannot lock at all (no lock support on the node) answers Held:
// the lock guards against a second writer, it must not stop the only one.
DriveLockResult LockDrive(const DriveCandidate& drive, DriveHandle handle);

// Drops the lock of a handle that is about to be closed; CloseDevice calls it.
void UnlockDrive(DriveHandle handle);
