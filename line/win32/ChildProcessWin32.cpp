// Windows: CreateProcessA with three anonymous pipes. The child shares our console, so Ctrl-C
// reaches it directly and it cancels its own run the way Cancel does.
#include <windows.h>

#include "line/ChildProcess.h"
#include "device/DriveEnumeration.h"

struct ChildProcess::Impl {
    HANDLE process = nullptr;
    HANDLE in = nullptr;
    HANDLE out = nullptr;
    HANDLE err = nullptr;
    bool waited = false;
    int status = -1;
};

namespace {

// One argument as the C runtime's command-line parser reads it back.
std::string Quoted(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
    std::string text = "\"";
    std::size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        text.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        text += c;
    }
    text.append(backslashes * 2, '\\');
    text.push_back('"');
    return text;
}

}  // namespace

ChildProcess::ChildProcess() : m_impl(std::make_unique<Impl>()) {}

ChildProcess::~ChildProcess() {
    if (m_impl->in != nullptr) CloseHandle(m_impl->in);
    if (m_impl->out != nullptr) CloseHandle(m_impl->out);
    if (m_impl->err != nullptr) CloseHandle(m_impl->err);
    if (m_impl->process != nullptr) {
        Wait();
        CloseHandle(m_impl->process);
    }
}

bool ChildProcess::Start(const std::vector<std::string>& args, std::string* error) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE inRead = nullptr, inWrite = nullptr;
    HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
    if (CreatePipe(&inRead, &inWrite, &inherit, 0) == FALSE ||
        CreatePipe(&outRead, &outWrite, &inherit, 0) == FALSE ||
        CreatePipe(&errRead, &errWrite, &inherit, 0) == FALSE) {
        *error = "cannot create a pipe: " + DescribeOsError(static_cast<int>(GetLastError()));
        for (HANDLE h : {inRead, inWrite, outRead, outWrite, errRead, errWrite})
            if (h != nullptr) CloseHandle(h);
        return false;
    }
    // Only the child's ends are inherited.
    SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
    HANDLE input = inRead;

    std::string commandLine;
    for (const std::string& a : args) {
        if (!commandLine.empty()) commandLine.push_back(' ');
        commandLine.append(Quoted(a));
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = outWrite;
    startup.hStdError = errWrite;
    PROCESS_INFORMATION info{};
    const BOOL started = CreateProcessA(args[0].c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                        0, nullptr, nullptr, &startup, &info);
    const DWORD cause = GetLastError();
    CloseHandle(outWrite);
    CloseHandle(errWrite);
    CloseHandle(input);
    if (started == FALSE) {
        CloseHandle(inWrite);
        CloseHandle(outRead);
        CloseHandle(errRead);
        *error = "cannot start " + args[0] + ": " + DescribeOsError(static_cast<int>(cause));
        return false;
    }
    CloseHandle(info.hThread);
    m_impl->process = info.hProcess;
    m_impl->in = inWrite;
    m_impl->out = outRead;
    m_impl->err = errRead;
    return true;
}

bool ChildProcess::StartSelf(const std::vector<std::string>& args, std::string* error) {
    return Spawn(nullptr, args, error);
}

bool ChildProcess::Spawn(const char*, const std::vector<std::string>& args, std::string* error) {
    std::vector<std::string> named = args;
    named[0] = CurrentExecutable();
    return Start(named, error);
}

std::size_t ChildProcess::Read(Stream stream, char* buffer, std::size_t size) {
    DWORD n = 0;
    const BOOL ok = ReadFile(stream == Stream::Out ? m_impl->out : m_impl->err, buffer,
                             static_cast<DWORD>(size), &n, nullptr);
    return ok != FALSE ? n : 0;
}

bool ChildProcess::Write(const std::string& bytes) {
    DWORD done = 0;
    while (done < bytes.size()) {
        DWORD n = 0;
        if (WriteFile(m_impl->in, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &n,
                      nullptr) == FALSE ||
            n == 0)
            return false;
        done += n;
    }
    return true;
}

int ChildProcess::Wait() {
    if (m_impl->waited || m_impl->process == nullptr) return m_impl->status;
    WaitForSingleObject(m_impl->process, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(m_impl->process, &code);
    m_impl->waited = true;
    m_impl->status = static_cast<int>(code);
    return m_impl->status;
}

void ChildProcess::Interrupt() {}

std::string ChildProcess::CurrentExecutable() {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    return n > 0 && n < sizeof path ? std::string(path, n) : std::string("kestrel-cli.exe");
}
