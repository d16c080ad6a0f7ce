#pragma once
// The file dialog's rules that do not depend on a toolkit, written once for every front end:
// how the core's filter text splits into filters, and the default extension a chosen name gets.
// The Qt dialog, the Win32 dialog and the console front end all take them from here.

#include <string>
#include <vector>

struct FileFilter {
    std::string description;            // "bin files (*.bin)"
    std::vector<std::string> patterns;  // "*.bin"
};

// "description|pattern|description|pattern|": a trailing '|' ends the list; a description
// without a pattern is dropped, as the platform dialog drops it. Patterns separated by ';' are
// listed one by one, with the spaces around them taken out.
std::vector<FileFilter> ParseFileFilter(const std::string& filter);

// Appends "." + extension to a name whose last component has no dot (an empty extension adds
// nothing). A path that ends in a separator names a folder, not a file, and is left as it is:
// the write that follows then fails with its own message, where appending would make a hidden
// file ".bin" inside that folder. The separators are the platform's own (on Windows '\' too),
// so a dot in a folder's name never counts as the file's extension.
std::string ApplyDefaultExtension(const std::string& path, const std::string& extension);
