#include "vdev/VdevCommand.h"

#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "KestrelVersion.h"
#include "vdev/VdevOptions.h"
#include "vdev/VirtualTestbed.h"
#include "vdev/wine/WineBridge.h"

extern char** environ;

namespace {

constexpr const char* kPreloadLibrary = "libumockdev-preload.so.0";
constexpr int kUsageError = 2;
constexpr int kCannotRun = 127;

volatile sig_atomic_t g_child = 0;

// The signals we pass on to the child.
sigset_t PassedSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : {SIGINT, SIGQUIT, SIGTERM, SIGHUP}) {
        sigaddset(&set, s);
    }
    return set;
}

void ForwardSignal(int signal) {
    if (g_child > 0) {
        kill(static_cast<pid_t>(g_child), signal);
    }
}

// SIGINT and SIGQUIT typed at the terminal reach the child directly (same process group), so
// only those another process sent to us with kill() are passed on.
void ForwardSentSignal(int signal, siginfo_t* info, void*) {
    if (info != nullptr && info->si_code == SI_USER) {
        ForwardSignal(signal);
    }
}

// The child's environment: ours (UMOCKDEV_DIR is set by the testbed) with the preload library
// first (after firstPreload, when given), and ASan told not to insist on coming first itself.
std::vector<std::string> ChildEnvironment(const std::string& root, const std::string& firstPreload) {
    std::vector<std::string> env;
    std::string preload = firstPreload.empty() ? kPreloadLibrary : firstPreload + ":" + kPreloadLibrary;
    std::string asan = "verify_asan_link_order=0";
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        if (entry.rfind("LD_PRELOAD=", 0) == 0) {
            preload += ":" + entry.substr(std::strlen("LD_PRELOAD="));
        } else if (entry.rfind("ASAN_OPTIONS=", 0) == 0) {
            asan = entry.substr(std::strlen("ASAN_OPTIONS=")) + ":" + asan;
        } else if (entry.rfind("UMOCKDEV_DIR=", 0) != 0) {
            env.push_back(entry);
        }
    }
    env.push_back("LD_PRELOAD=" + preload);
    env.push_back("ASAN_OPTIONS=" + asan);
    env.push_back("UMOCKDEV_DIR=" + root);
    return env;
}

int RunChild(const std::vector<std::string>& command, const std::string& root,
             const std::string& firstPreload) {
    std::vector<std::string> env = ChildEnvironment(root, firstPreload);
    std::vector<char*> envp;
    for (auto& e : env) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    std::vector<std::string> args = command;
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    // We stay alive until the child ends to serve its requests and report its status; the
    // signals that would end us go to the child instead, which decides (Ctrl-C cancels an
    // upgrade). The child gets the default dispositions back.
    struct sigaction sent {};
    sent.sa_sigaction = ForwardSentSignal;
    sent.sa_flags = SA_SIGINFO;
    struct sigaction forward {};
    forward.sa_handler = ForwardSignal;
    struct sigaction oldInt {};
    struct sigaction oldQuit {};
    struct sigaction oldTerm {};
    struct sigaction oldHup {};
    sigaction(SIGINT, &sent, &oldInt);
    sigaction(SIGQUIT, &sent, &oldQuit);
    sigaction(SIGTERM, &forward, &oldTerm);
    sigaction(SIGHUP, &forward, &oldHup);

    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    const sigset_t passed = PassedSignals();
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &passed);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    pid_t pid = 0;
    const int spawnError = posix_spawnp(&pid, argv[0], nullptr, &attr, argv.data(), envp.data());
    posix_spawnattr_destroy(&attr);

    int code = kCannotRun;
    if (spawnError != 0) {
        std::cerr << "kestrel-vdev: cannot run " << command[0] << ": " << std::strerror(spawnError)
                  << "\n";
    } else {
        g_child = pid;
        // Held back until now (see RunVdevCommand), so none is lost before we know the child;
        // only this thread takes them.
        pthread_sigmask(SIG_UNBLOCK, &passed, nullptr);
        int status = 0;
        pid_t waited = 0;
        do {
            waited = waitpid(pid, &status, 0);
        } while (waited < 0 && errno == EINTR);
        pthread_sigmask(SIG_BLOCK, &passed, nullptr);
        g_child = 0;
        if (waited == pid && WIFEXITED(status)) {
            code = WEXITSTATUS(status);
        } else if (waited == pid && WIFSIGNALED(status)) {
            code = 128 + WTERMSIG(status);
        }
    }
    sigaction(SIGINT, &oldInt, nullptr);
    sigaction(SIGQUIT, &oldQuit, nullptr);
    sigaction(SIGTERM, &oldTerm, nullptr);
    sigaction(SIGHUP, &oldHup, nullptr);
    return code;
}

bool WriteLog(const std::string& path, const std::vector<LoggedRequest>& log) {
    std::ofstream out(path);
    for (const auto& request : log) {
        out << DescribeRequest(request) << "\n";
    }
    return static_cast<bool>(out.flush());
}

bool WriteFlash(const std::string& path, const std::vector<std::uint8_t>& flash) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(flash.data()),
              static_cast<std::streamsize>(flash.size()));
    return static_cast<bool>(out.flush());
}

}  // namespace

int RunVdevCommand(int argc, char** argv) {
    CLI::App app{
        "Runs COMMAND with a virtual upgrade device attached (umockdev): a fixed disk "
        "sda, and the device as removable sdb (or sr0 with --kind cdrom).",
        "kestrel-vdev"};
    VdevDeviceOptions options;
    std::string kind = "removable";
    bool openFails = false;
    bool wine = false;
    std::string logPath;
    std::string flashPath;
    std::vector<std::string> command;

    app.set_version_flag("--version", std::string("kestrel-vdev ") + kKestrelVersion);
    options.AddTo(app);
    app.add_option("--kind", kind, "removable (sdb) or cdrom (sr0)")
        ->check(CLI::IsMember({"removable", "cdrom"}));
    app.add_flag("--open-fails", openFails, "the drive cannot be opened for writing");
    app.add_flag("--wine", wine,
                 "COMMAND is a Windows program under Wine (WINEPREFIX's server running): the "
                 "drives appear as D:, E:, ... of the same kinds");
    app.add_option("--log", logPath, "write the device's request log to FILE at exit");
    app.add_option("--flash-out", flashPath, "write the programmed flash (512 KB) to FILE at exit");
    app.add_option("command", command, "the command to run, after --")->required();

    try {
        app.parse(argc, argv);
        options.Finish();
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? 0 : kUsageError;
    }

    const bool cdrom = kind == "cdrom";
    VirtualDrive device = VirtualTestbed::UpgradeDevice(
        cdrom ? "sr0" : "sdb", options.config, options.faults,
        cdrom ? VirtualDriveKind::CdRom : VirtualDriveKind::Removable);
    device.openReadWriteFails = openFails;

    // Block the passed-on signals before umockdev starts its worker thread, which inherits the
    // mask; RunChild unblocks them in this thread alone once the child's pid is known.
    const sigset_t passed = PassedSignals();
    pthread_sigmask(SIG_BLOCK, &passed, nullptr);
    try {
        const std::vector<VirtualDrive> drives = {VirtualTestbed::FixedDisk("sda"), device};
        VirtualTestbed testbed(drives, /*requirePreloadHere=*/false);
        std::unique_ptr<WineBridge> bridge;
        if (wine) {
            bridge = std::make_unique<WineBridge>();
            bridge->Attach(testbed.RootDir(), drives);
        }
        const int code = RunChild(command, testbed.RootDir(), bridge ? bridge->PreloadLibrary() : "");
        bridge.reset();
        if (!logPath.empty() && !WriteLog(logPath, testbed.Log(device.name))) {
            std::cerr << "kestrel-vdev: cannot write " << logPath << "\n";
        }
        if (!flashPath.empty() && !WriteFlash(flashPath, testbed.Flash(device.name))) {
            std::cerr << "kestrel-vdev: cannot write " << flashPath << "\n";
        }
        return code;
    } catch (const VirtualTestbedError& e) {
        std::cerr << "kestrel-vdev: " << e.what() << "\n";
        return kCannotRun;
    }
}
