// Windows: FILE_APPEND_DATA alone makes every write go to the end of the file, whoever else
// appends; FlushFileBuffers puts it on the disk before the run's result is printed.
#include <windows.h>

#include "cli/RecordAppend.h"
#include "device/DriveEnumeration.h"

bool AppendDurably(const std::string& path, const std::string& bytes, std::string* error) {
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = path + ": " + DescribeOsError(static_cast<int>(GetLastError()));
        return false;
    }
    DWORD written = 0;
    bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) !=
                  FALSE &&
              written == bytes.size();
    DWORD cause = ok ? 0 : GetLastError();
    if (ok && FlushFileBuffers(file) == FALSE) {
        cause = GetLastError();
        ok = false;
    }
    CloseHandle(file);
    if (!ok)
        *error =
            path + ": " +
            (cause != 0 ? DescribeOsError(static_cast<int>(cause)) : "short write (disk full?)");
    return ok;
}
