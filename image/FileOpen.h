#pragma once
// Opening a file descriptor for the file layer, one implementation per platform. On Windows no
// other program may write a file while we have it open: a file that another program holds open
// for writing is refused instead of read half-written, and a file we write is shared with
// nobody. Readers may share a file we read: `upgrade --all` starts one process per device, and
// each loads the same image at the same moment.

#include <filesystem>
#include <string>

// Paths are UTF-8 on every platform (Windows' own API takes UTF-16, its "ANSI" one a code page).

// open(2)-style flags and creation mode; a descriptor, or -1 with errno set.
int OpenGuarded(const std::string& path, int flags, int mode);

// The path as the standard library's file system functions take it.
std::filesystem::path NativePath(const std::string& path);
