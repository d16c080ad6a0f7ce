// Windows: the same guarantees as on POSIX. LockFileEx takes an exclusive lock on one byte far
// past any end of file, so every Kestrel writer excludes the others while readers (report, an
// editor) still read every line: a Windows lock over the data itself would make their reads
// fail. The last byte is read to end a partial line, the bytes are written at the end the lock
// keeps still, FlushFileBuffers puts them on the disk, and a write cut short is taken back with
// SetEndOfFile. The file's permissions are its folder's (Windows inherits them); Private
// files are refused when they are a reparse point (a symbolic link or junction).
#include <windows.h>

#include <thread>

#include "ledger/DurableFile.h"

namespace {

constexpr auto kLockPoll = std::chrono::milliseconds(20);
// The locked byte: beyond any file a line could write, so it never covers data.
constexpr DWORD kLockOffsetLow = 0xFFFFFFFEu;
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFFu;

std::string Cause(const std::string& path, DWORD code) {
    char* text = nullptr;
    const DWORD n = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, MAKELANGID(LANG_ENGLISH, SUBLANG_DEFAULT), reinterpret_cast<char*>(&text), 0,
        nullptr);
    std::string out = n > 0 && text ? std::string(text, n) : "error " + std::to_string(code);
    if (text) LocalFree(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == '.'))
        out.pop_back();
    return path + ": " + out;
}

OVERLAPPED At(ULONGLONG offset) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return at;
}

HANDLE Handle(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

bool Lock(HANDLE file, std::chrono::milliseconds wait) {
    const auto until = std::chrono::steady_clock::now() + wait;
    for (;;) {
        OVERLAPPED at{};
        at.Offset = kLockOffsetLow;
        at.OffsetHigh = kLockOffsetHigh;
        if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
            return true;
        if (GetLastError() != ERROR_LOCK_VIOLATION) return true;  // no locks on this volume
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(kLockPoll);
    }
}

}  // namespace

std::unique_ptr<DurableFile> DurableFile::Open(const std::string& path, Access access,
                                               std::string* error,
                                               std::chrono::milliseconds lockWait) {
    const bool own = access == Access::Private;
    HANDLE file = CreateFileA(
        path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | (own ? FILE_FLAG_OPEN_REPARSE_POINT : 0), nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = Cause(path, GetLastError());
        return nullptr;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (own && (!GetFileInformationByHandle(file, &info) ||
                (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)) {
        *error = path + ": a link or junction; refusing to use it";
        CloseHandle(file);
        return nullptr;
    }
    if (!Lock(file, lockWait)) {
        *error = path + ": another process has held its lock for " +
                 std::to_string(lockWait.count() / 1000) +
                 " s (a program keeping the file open and locked)";
        CloseHandle(file);
        return nullptr;
    }
    return std::unique_ptr<DurableFile>(
        new DurableFile(reinterpret_cast<std::intptr_t>(file), path));
}

DurableFile::~DurableFile() {
    CloseHandle(Handle(m_handle));
}

bool DurableFile::Append(const std::string& bytes, std::string* error) {
    HANDLE file = Handle(m_handle);
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size)) {
        *error = Cause(m_path, GetLastError());
        return false;
    }
    const auto end = static_cast<ULONGLONG>(size.QuadPart);
    std::string out = bytes;
    if (end > 0 && !bytes.empty()) {
        // A line cut short earlier (a full disk, a killed writer) is ended first.
        char last = '\n';
        DWORD got = 0;
        OVERLAPPED at = At(end - 1);
        if (ReadFile(file, &last, 1, &got, &at) && got == 1 && last != '\n') out.insert(0, 1, '\n');
    }
    DWORD cause = 0;
    bool ok = true;
    std::size_t written = 0;
    while (written < out.size()) {
        DWORD n = 0;
        OVERLAPPED at = At(end + written);
        if (!WriteFile(file, out.data() + written, static_cast<DWORD>(out.size() - written), &n,
                       &at) ||
            n == 0) {
            cause = GetLastError();
            ok = false;
            break;
        }
        written += n;
    }
    if (ok && !FlushFileBuffers(file)) {
        cause = GetLastError();
        ok = false;
    }
    if (ok) return true;
    // What a failed write left is cut off again, so no partial line stays behind.
    LARGE_INTEGER back{};
    back.QuadPart = static_cast<LONGLONG>(end);
    if (written > 0 && SetFilePointerEx(file, back, nullptr, FILE_BEGIN) && SetEndOfFile(file))
        FlushFileBuffers(file);
    *error = cause != 0 ? Cause(m_path, cause) : m_path + ": short write (disk full?)";
    return false;
}

bool DurableFile::ReadAll(std::string* text, std::string* error) {
    HANDLE file = Handle(m_handle);
    text->clear();
    char buffer[65536];
    for (;;) {
        DWORD n = 0;
        OVERLAPPED at = At(text->size());
        if (!ReadFile(file, buffer, sizeof buffer, &n, &at)) {
            const DWORD code = GetLastError();
            if (code == ERROR_HANDLE_EOF) return true;
            *error = Cause(m_path, code);
            return false;
        }
        if (n == 0) return true;
        text->append(buffer, n);
    }
}

bool DurableFile::Clear(std::string* error) {
    HANDLE file = Handle(m_handle);
    LARGE_INTEGER zero{};
    if (!SetFilePointerEx(file, zero, nullptr, FILE_BEGIN) || !SetEndOfFile(file) ||
        !FlushFileBuffers(file)) {
        *error = Cause(m_path, GetLastError());
        return false;
    }
    return true;
}
