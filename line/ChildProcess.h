#pragma once
// A child process whose standard output and error the parent reads, for kestrel-cli runs that
// upgrade several devices at once, each in a process of its own (the image record and the
// protocol state are per process). One implementation per platform, chosen by CMake.

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

class ChildProcess {
public:
    ChildProcess();
    ~ChildProcess();  // closes the pipes; a child still running is waited for
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts args[0] with args; its stdin, stdout and stderr are pipes to us. False, with the
    // cause in *error, when it could not be started.
    bool Start(const std::vector<std::string>& args, std::string* error);
    // Starts a copy of this very program, the way Start does; args[0] is only the name it is
    // given. Linux: the executable this process runs, even when its file has been replaced or
    // deleted since (a package upgraded during a shift). Windows keeps a running program's file
    // from being deleted; there the copy is started from its path.
    bool StartSelf(const std::vector<std::string>& args, std::string* error);

    enum class Stream { Out, Err };
    // Blocks until the stream has bytes; 0 at its end (or on an error).
    std::size_t Read(Stream stream, char* buffer, std::size_t size);

    // Writes to the child's stdin (one line of its parent's answers); false when the child no
    // longer reads it.
    bool Write(const std::string& bytes);

    // Waits for the child to end; its exit status, 128 + the signal when a signal ended it.
    int Wait();

    // Asks the child to stop the way Ctrl-C does. Windows delivers Ctrl-C to every process of
    // the console already, so there it does nothing.
    void Interrupt();

    // This program's own executable, to start copies of it.
    static std::string CurrentExecutable();

    struct Impl;

private:
    bool Spawn(const char* program, const std::vector<std::string>& args, std::string* error);

    std::unique_ptr<Impl> m_impl;
};
