// The private state folder of the unsent rows: Kestrel in the user's local application data
// (%LOCALAPPDATA%), which Windows gives that user alone. A folder there that is a link
// (a junction or symbolic link another program may have planted) is not followed.
#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

#include <string>

#include "ledger/UnsentRows.h"

namespace {

// UTF-8 from Windows' UTF-16 (ledger/ sits below image/'s WideText).
std::string Narrow(const std::wstring& wide) {
    if (wide.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n,
                        nullptr, nullptr);
    return out;
}

}  // namespace

std::optional<std::string> UnsentRows::StateFolder(std::string* error) {
    wchar_t* base = nullptr;
    if (FAILED(SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_CREATE, nullptr, &base))) {
        if (base) CoTaskMemFree(base);
        *error =
            "no private folder for the rows the database may not take: the user has no local "
            "application data folder";
        return std::nullopt;
    }
    const std::wstring folder = std::wstring(base) + L"\\Kestrel";
    CoTaskMemFree(base);
    CreateDirectoryW(folder.c_str(), nullptr);
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        *error =
            "cannot keep the rows the database may not take in " + Narrow(folder) + ": " +
            (attributes == INVALID_FILE_ATTRIBUTES         ? "it cannot be created"
             : (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? "it is a link; refusing to follow it"
                                                           : "it is not a folder");
        return std::nullopt;
    }
    return Narrow(folder);
}
