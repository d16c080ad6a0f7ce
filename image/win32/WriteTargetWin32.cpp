// The write target on Windows.
//
// Platform notes:
// - A file with the read-only attribute is refused: replacing it by rename would succeed and
//   silently drop the user's protection.
// - Links are not followed here; NTFS symbolic links need privileges to make and are rare on
//   the machines this runs on. Permission bits and owners are kept by the ACL inheritance of
//   the folder, so nothing is carried over.

#include <windows.h>

#include <cerrno>

#include "image/WriteTarget.h"
#include "image/win32/WideText.h"

WriteTarget ResolveWriteTarget(const std::string& path) {
    WriteTarget target;
    target.path = path;
    const DWORD attributes = GetFileAttributesW(Widen(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return target;  // not there: the write creates it
    target.exists = true;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        target.error = EISDIR;
    else if ((attributes & FILE_ATTRIBUTE_READONLY) != 0)
        target.error = EACCES;
    return target;
}

void KeepTargetAttributes(int /*fd*/, const WriteTarget& /*target*/) {}
