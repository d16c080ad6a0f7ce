// The drive lock on Linux: devio/DevioLock.h on the open node, taken by this process or, when
// the helper opened the drive, by the helper while it holds the drive (see DriveAccess.h).
//
// Platform notes:
// - The lock belongs to the open file description: it goes with close(), also when the process
//   holding it dies, and never into a child process (the node is opened O_CLOEXEC).
// - /proc/locks names the holder of a lock: one line per lock, "ID: FLOCK ADVISORY WRITE PID
//   MAJ:MIN:INODE START END", the device being the one of the file system the node lives on
//   (devtmpfs) and the inode the node's; a waiting lock has "->" after the ID. It is readable by
//   every user. Locks taken with F_OFD_SETLK show pid -1 and name nobody.

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "device/DriveLock.h"
#include "device/linux/DriveAccess.h"

DriveLockResult LockDrive(const DriveCandidate& /*drive*/, DriveHandle handle) {
    return CurrentDriveAccess().Lock(handle);
}

void UnlockDrive(DriveHandle /*handle*/) {
    // close() releases it.
}

std::string DriveLockHolder(const DriveCandidate& drive) {
    struct stat node {};
    if (::stat(drive.devicePath.c_str(), &node) != 0) return {};
    char key[64];
    std::snprintf(key, sizeof key, "%02x:%02x:%lu", ::major(node.st_dev), ::minor(node.st_dev),
                  static_cast<unsigned long>(node.st_ino));
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        std::istringstream fields(line);
        std::string id;
        std::string kind;
        std::string mode;
        std::string access;
        std::string where;
        long pid = 0;
        if (!(fields >> id >> kind) || kind == "->") continue;
        if (!(fields >> mode >> access >> pid >> where) || where != key || pid <= 0) continue;
        std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
        std::string name;
        std::getline(comm, name);
        return (name.empty() ? std::string("a process") : name) + ", pid " + std::to_string(pid);
    }
    return {};
}
