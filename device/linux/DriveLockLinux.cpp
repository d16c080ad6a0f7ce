// The drive lock on Linux: flock(LOCK_EX | LOCK_NB) on the open device node.
//
// Platform notes:
// - This is the block-device locking convention of systemd: a program that writes to a device
//   takes an exclusive BSD lock on it, and udev leaves a locked device alone meanwhile (it
//   probes under LOCK_SH | LOCK_NB). Another Kestrel process asking for LOCK_EX gets
//   EWOULDBLOCK.
// - The lock belongs to the open file description: it goes with close(), also when the process
//   dies, and never into a child process (the node is opened O_CLOEXEC).
// - Errors other than EWOULDBLOCK (EINTR cannot happen with LOCK_NB; ENOLCK, EINVAL on a node
//   that does not support locks) leave the drive usable.

#include <sys/file.h>

#include <cerrno>

#include "device/DriveLock.h"

DriveLockResult LockDrive(const DriveCandidate& /*drive*/, DriveHandle handle) {
    if (::flock(static_cast<int>(handle), LOCK_EX | LOCK_NB) == 0) return DriveLockResult::Held;
    return errno == EWOULDBLOCK ? DriveLockResult::Busy : DriveLockResult::Held;
}

void UnlockDrive(DriveHandle /*handle*/) {
    // close() releases it.
}
