#pragma once
// Opening a file descriptor for the file layer, one implementation per platform: on Windows the
// file is opened with no sharing, so a file another program is still writing is refused
// instead of read half-written, and nobody can change it while we read or write it.

#include <filesystem>
#include <string>

// Paths are UTF-8 on every platform (Windows' own API takes UTF-16, its "ANSI" one a code page).

// open(2)-style flags and creation mode; a descriptor, or -1 with errno set.
int OpenUnshared(const std::string& path, int flags, int mode);

// The path as the standard library's file system functions take it.
std::filesystem::path NativePath(const std::string& path);
