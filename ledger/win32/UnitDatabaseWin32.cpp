// Loads the database module (kestrel-db.dll) on first use, from the running program's own
// folder only (where the installer puts it beside kestrel-cli.exe). main has limited the DLLs
// loaded later to System32 (SetDefaultDllDirectories), so what the module imports (odbc32.dll)
// comes from there; a run without --db never loads it.

#include <windows.h>

#include <mutex>
#include <string>

#include "ledger/InterruptibleDatabase.h"
#include "ledger/ReportDatabase.h"
#include "ledger/UnitDatabase.h"

namespace {

using OpenFunction = UnitDatabase* (*)(const std::string& url, std::string* error);
using OpenReportFunction = ReportDatabase* (*)(const std::string& url, std::string* error);

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

std::wstring Widen(const std::string& text) {
    if (text.empty()) return {};
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::wstring ProgramFolder() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    return path.substr(0, path.find_last_of(L"\\/"));
}

std::string SystemMessage(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = n && text ? std::wstring(text, n) : L"error " + std::to_wstring(code);
    if (text) LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                                message.back() == L'.' || message.back() == L' '))
        message.pop_back();
    return Narrow(message);
}

// The module, loaded once; nothing, with the reason in *error, when it cannot be.
HMODULE LoadModule(std::string* error) {
    static std::once_flag s_once;
    static HMODULE s_module = nullptr;
    static std::string s_error;
    std::call_once(s_once, [] {
        const std::wstring path = ProgramFolder() + L"\\kestrel-db.dll";
        if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
            s_error = "the database module kestrel-db.dll is not installed beside kestrel-cli";
            return;
        }
        // By its full path; its own imports from System32 only.
        HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (!module) {
            s_error = "cannot load " + Narrow(path) + ": " + SystemMessage(GetLastError());
            return;
        }
        if (!GetProcAddress(module, "KestrelOpenUnitDatabase")) {
            s_error = Narrow(path) + " is not Kestrel's database module";
            return;
        }
        s_module = module;
    });
    if (!s_module) *error = s_error;
    return s_module;
}

template <typename Function>
Function ModuleFunction(const char* name, std::string* error) {
    HMODULE module = LoadModule(error);
    if (!module) return nullptr;
    const auto function =
        reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    if (!function) *error = std::string("the database module has no ") + name;
    return function;
}

}  // namespace

// As on Linux: children inherit the environment, which only this user can read, unlike a
// command line.
std::string DatabaseArgumentForChildren(const std::string& url) {
    SetEnvironmentVariableW(L"KESTREL_DB_URL", Widen(url).c_str());
    return "env:KESTREL_DB_URL";
}

bool DatabaseSupported(std::string* /*reason*/) {
    return true;
}

std::unique_ptr<UnitDatabase> UnitDatabase::Open(const std::string& url, std::string* error) {
    const auto open = ModuleFunction<OpenFunction>("KestrelOpenUnitDatabase", error);
    if (!open) return nullptr;
    return InterruptibleDatabase::Open(url, open, error);
}

std::unique_ptr<ReportDatabase> ReportDatabase::Open(const std::string& url, std::string* error) {
    const auto open = ModuleFunction<OpenReportFunction>("KestrelOpenReportDatabase", error);
    if (!open) return nullptr;
    return std::unique_ptr<ReportDatabase>(open(url, error));
}
