// The drive lock on Linux: an exclusive flock on the open node, taken by this process or, when
// the helper opened the drive, by the helper while it holds the drive (see DriveAccess.h).
//
// Platform notes:
// - The lock belongs to the open file description: it goes with close(), also when the process
//   holding it dies, and never into a child process (the node is opened O_CLOEXEC).

#include "device/DriveLock.h"
#include "device/linux/DriveAccess.h"

DriveLockResult LockDrive(const DriveCandidate& /*drive*/, DriveHandle handle) {
    return CurrentDriveAccess().Lock(handle);
}

void UnlockDrive(DriveHandle /*handle*/) {
    // close() releases it.
}
