#pragma once
// Opening a file descriptor for the file layer, one implementation per platform: on Windows the
// file is opened with no sharing, so a file another program is still writing is refused
// instead of read half-written, and nobody can change it while we read or write it.

// open(2)-style flags and creation mode; a descriptor, or -1 with errno set.
int OpenUnshared(const char* path, int flags, int mode);
