#pragma once
// One writer per device: a drive handle takes a lock that other Kestrel processes see, before
// anything is sent on it, and keeps it until CloseDevice. Two runs interleaving vendor commands
// on one device would corrupt its firmware, so a drive another Kestrel process holds is
// skipped by the search as if it did not answer. One implementation per platform (Linux: an
// exclusive flock on the open node beside a lock of Kestrel's own; Windows: a named mutex per
// drive), chosen by CMake.
//
// Other programs lock drives too, and not for long: udev takes a shared lock on a disk while it
// probes it, which it does after every read-write close (so right after each Kestrel run, list
// or probe). Such a lock is waited for a short while; one of Kestrel's never.

#include <string>

#include "device/DriveEnumeration.h"

enum class DriveLockResult {
    Held,         // this handle now holds the drive
    Busy,         // another Kestrel run holds it: send nothing
    HeldByOther,  // another program (not Kestrel) still held it after the wait: send nothing
};

// Waits at most about 2 s, and only for a lock held by a program other than Kestrel. A platform
// that cannot lock at all (no lock support on the node) answers Held: the lock guards against a
// second writer, it must not stop the only one.
DriveLockResult LockDrive(const DriveCandidate& drive, DriveHandle handle);

// Drops the lock of a handle that is about to be closed; CloseDevice calls it.
void UnlockDrive(DriveHandle handle);

// The program that holds the drive's lock now, as a person reads it ("udev-worker, pid 412"),
// or "" when that cannot be told (gone meanwhile, or the platform does not say).
std::string DriveLockHolder(const DriveCandidate& drive);
