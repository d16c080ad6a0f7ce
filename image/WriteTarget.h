#pragma once
// Where a file created for writing really lands, and what of the file already there must
// survive the write. The file layer writes a temporary file beside the target and renames it
// over the target; done naively that replaces a symbolic link by a plain file, drops the old
// file's permission bits, and lets anyone who may write the folder replace a file they may not
// write. One implementation per platform, chosen by CMake.

#include <string>

struct WriteTarget {
    std::string path;     // symbolic links followed: the file the rename replaces
    bool exists = false;  // a file is there already
    int error = 0;        // errno for a target that must not be written (EACCES, EISDIR, ELOOP)
    std::string cause;    // what the error means here, when errno alone would mislead
    unsigned mode = 0;    // permission bits of the existing file
    long owner = -1;      // its owner and group where the platform has them, else -1
    long group = -1;
};

// Follows path through symbolic links (a dangling one names the file to create) and checks
// that an existing target is a file this user may write. A link in a sticky folder everyone may
// write (/tmp) is followed only when it belongs to this user or to the folder's owner: the rule
// the kernel itself applies (fs.protected_symlinks), since links followed here by hand would
// escape it, and another user's link there would make this user's write replace a file of the
// link owner's choosing.
WriteTarget ResolveWriteTarget(const std::string& path);

// Gives the temporary file (open descriptor fd) the existing target's permission bits, and its
// owner and group as far as this user may. Nothing for a new target.
void KeepTargetAttributes(int fd, const WriteTarget& target);
