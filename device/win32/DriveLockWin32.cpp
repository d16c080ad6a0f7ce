// The drive lock on Windows: a named mutex per drive letter, "Global\Kestrel-drive-E".
//
// Platform notes:
// - A volume handle has no advisory lock that another process can test without side effects,
//   so the lock is a kernel object of its own. Its existence is the lock: CreateMutexA answers
//   ERROR_ALREADY_EXISTS while any other process holds a handle to it. Ownership (wait and
//   release) is not used, so the lock does not belong to a thread.
// - The Global namespace spans logon sessions (a dialog in one session, a script in a service
//   session); opening a drive read-write needs administrator rights anyway.
// - The object goes when its last handle is closed, also when the holding process dies.
// - The mutex handle is kept beside the drive handle it belongs to and closed with it.

#include <windows.h>

#include <map>
#include <string>

#include "device/DriveLock.h"

namespace {

// Drive handle -> its mutex. Drives are opened and closed on one thread.
std::map<DriveHandle, HANDLE>& Locks() {
    static std::map<DriveHandle, HANDLE> locks;
    return locks;
}

std::string MutexName(const DriveCandidate& drive) {
    // "E: " -> "Global\Kestrel-drive-E"; the name may not contain a backslash or a colon.
    std::string name = "Global\\Kestrel-drive-";
    for (const char c : drive.name)
        if (c != ':' && c != ' ' && c != '\\') name += c;
    return name;
}

}  // namespace

DriveLockResult LockDrive(const DriveCandidate& drive, DriveHandle handle) {
    HANDLE mutex = CreateMutexA(nullptr, FALSE, MutexName(drive).c_str());
    if (mutex == nullptr) {
        // Access denied: it exists, made by a process under another account.
        if (GetLastError() == ERROR_ACCESS_DENIED) return DriveLockResult::Busy;
        return DriveLockResult::Held;  // cannot lock at all: do not stop the run
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return DriveLockResult::Busy;
    }
    Locks()[handle] = mutex;
    return DriveLockResult::Held;
}

void UnlockDrive(DriveHandle handle) {
    const auto it = Locks().find(handle);
    if (it == Locks().end()) return;
    CloseHandle(it->second);
    Locks().erase(it);
}

std::string DriveLockHolder(const DriveCandidate& /*drive*/) {
    // Only Kestrel takes the mutex; Windows does not name who holds a volume.
    return {};
}
