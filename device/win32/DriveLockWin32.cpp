// The drive lock on Windows: a named mutex per drive letter, "Kestrel\drive-E" in a private
// namespace bound to the Administrators group.
//
// Platform notes:
// - A volume handle has no advisory lock that another process can test without side effects,
//   so the lock is a kernel object of its own. Its existence is the lock: CreateMutexW answers
//   ERROR_ALREADY_EXISTS while any other process holds a handle to it. Ownership (wait and
//   release) is not used, so the lock does not belong to a thread.
// - In the Global namespace any user could create the name first and make a drive "busy" for
//   ever. A private namespace whose boundary holds the Administrators SID can be created and
//   opened only by a process whose token has that group enabled (an elevated one), and it
//   spans logon sessions as Global did; opening a drive read-write needs those rights anyway.
//   Its security descriptor gives its objects to Administrators alone.
// - Where the system has no private namespaces (Wine stubs them: CreateBoundaryDescriptorW
//   fails, and AddSIDToBoundaryDescriptor must then not be called) the Global name is used.
// - The object goes when its last handle is closed, also when the holding process dies.
// - The mutex handle is kept beside the drive handle it belongs to and closed with it.

#include <windows.h>
// sddl.h needs windows.h first.
#include <sddl.h>

#include <map>
#include <string>

#include "device/DriveLock.h"

namespace {

// Drive handle -> its mutex. Drives are opened and closed on one thread.
std::map<DriveHandle, HANDLE>& Locks() {
    static std::map<DriveHandle, HANDLE> locks;
    return locks;
}

// The namespace, opened once per process and kept; nullptr where there is none (see above).
HANDLE KestrelNamespace() {
    static const HANDLE s_namespace = [] {
        HANDLE boundary = CreateBoundaryDescriptorW(L"Kestrel-drives", 0);
        if (boundary == nullptr) return HANDLE{nullptr};
        BYTE admins[SECURITY_MAX_SID_SIZE];
        DWORD size = sizeof admins;
        HANDLE opened = nullptr;
        if (CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &size) &&
            AddSIDToBoundaryDescriptor(&boundary, admins)) {
            PSECURITY_DESCRIPTOR descriptor = nullptr;
            SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, FALSE};
            // Generic all to Administrators (BA), nothing to anyone else.
            if (ConvertStringSecurityDescriptorToSecurityDescriptorW(
                    L"D:P(A;;GA;;;BA)", SDDL_REVISION_1, &descriptor, nullptr))
                attributes.lpSecurityDescriptor = descriptor;
            opened = CreatePrivateNamespaceW(&attributes, boundary, L"Kestrel");
            if (opened == nullptr && GetLastError() == ERROR_ALREADY_EXISTS)
                opened = OpenPrivateNamespaceW(boundary, L"Kestrel");
            if (descriptor) LocalFree(descriptor);
        }
        DeleteBoundaryDescriptor(boundary);
        return opened;
    }();
    return s_namespace;
}

// "E: " -> "Kestrel\drive-E" (or "Global\Kestrel-drive-E"); no backslash or colon of the
// drive's name gets in.
std::wstring MutexName(const DriveCandidate& drive, bool privateNamespace) {
    std::wstring name = privateNamespace ? L"Kestrel\\drive-" : L"Global\\Kestrel-drive-";
    for (const char c : drive.name)
        if (c != ':' && c != ' ' && c != '\\') name += static_cast<wchar_t>(c);
    return name;
}

}  // namespace

DriveLockResult LockDrive(const DriveCandidate& drive, DriveHandle handle) {
    // A process that may not open the namespace (not elevated) could not have opened the drive
    // for writing either; it, like Wine, takes the Global name.
    const bool isPrivate = KestrelNamespace() != nullptr;
    HANDLE mutex = CreateMutexW(nullptr, FALSE, MutexName(drive, isPrivate).c_str());
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
