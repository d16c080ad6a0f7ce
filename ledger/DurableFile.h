#pragma once
// A JSON Lines file that several processes append to: the record file of --record and the
// unit database's unsent rows. Each append is one write flushed to disk before it returns, so a
// line is wholly there or not at all; an append never glues onto a line cut short earlier (a
// writer that died, a full disk), it ends that line first; what a write cut short left is
// taken back. Every Kestrel writer holds the file's exclusive lock meanwhile, and waits for it
// only a bounded time: a lock held by someone else (any reader of the file can take one) is a
// refusal naming the file, never a silent wait. One implementation per platform.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

class DurableFile {
public:
    enum class Access {
        // Created 0640: the owner writes, the group (a supervisor, the report) reads.
        Shared,
        // Created 0600, never opened through a symbolic link, and used only when it is a plain
        // file the effective user owns with no second name: rows that another user could plant
        // or redirect would be taken as this user's.
        Private,
    };
    static constexpr std::chrono::milliseconds kLockWait{5000};

    // Opens the file (created when missing) and takes its exclusive lock, waiting at most
    // lockWait. Nothing, with the cause naming the file in *error, otherwise. A file system
    // without locks still gets the appends.
    static std::unique_ptr<DurableFile> Open(const std::string& path, Access access,
                                             std::string* error,
                                             std::chrono::milliseconds lockWait = kLockWait);
    // Open, Append and close: what a record line needs. Empty bytes only check that the file
    // takes appends.
    static bool AppendTo(const std::string& path, const std::string& bytes, Access access,
                         std::string* error);
    ~DurableFile();
    DurableFile(const DurableFile&) = delete;
    DurableFile& operator=(const DurableFile&) = delete;

    // Appends bytes (whole lines) at the end and flushes them to disk; false with the cause in
    // *error when they could not all be written and flushed, and then nothing of them stays.
    bool Append(const std::string& bytes, std::string* error);
    // The whole file as it is now.
    bool ReadAll(std::string* text, std::string* error);
    // Empties the file (the unsent rows, once the database took them all).
    bool Clear(std::string* error);

private:
    DurableFile(std::intptr_t handle, std::string path)
        : m_handle(handle), m_path(std::move(path)) {}

    std::intptr_t m_handle;  // a descriptor (POSIX) or a HANDLE (Windows), open and locked
    std::string m_path;
};
