#pragma once
// The small file layer: open for reading, create for writing, read, write, length, close.
// OS errors become one text that names the file and the cause. A file created for writing is
// written to a temporary file beside its target and renamed over it only by Commit, so a failed
// write never leaves a half-written file nor destroys the one that was there. An existing
// target must be writable by this user; a symbolic link is followed and the file it points to
// replaced; the replaced file's permission bits are kept.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

class File {
public:
    File() = default;
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Fails for anything that is not a regular file (a folder, a device).
    bool OpenForReading(const std::string& path);
    bool CreateForWriting(const std::string& path);

    // Bytes read, 0 at the end of the file, -1 on a read error.
    std::int64_t Read(void* buffer, std::size_t size);
    // Reads until size bytes or the end of the file; the count, or -1 on a read error.
    std::int64_t ReadFully(void* buffer, std::size_t size);
    bool Write(const void* buffer, std::size_t size);
    std::optional<std::uint64_t> Length();

    // Writing: flush, close and rename the temporary file over the target.
    bool Commit();
    // Reading: close. Writing without Commit: the temporary file is removed, the target kept.
    void Close();

    bool IsOpen() const { return m_fd >= 0; }
    const std::string& Path() const { return m_path; }
    // "Cannot read "PATH": CAUSE" for the last failure.
    const std::string& ErrorText() const { return m_error; }

private:
    bool Fail(const char* action, int error, const std::string& cause = "");

    int m_fd = -1;
    bool m_writing = false;
    std::string m_path;
    std::string m_targetPath;  // m_path with symbolic links followed
    std::string m_tempPath;
    std::string m_error;
};
