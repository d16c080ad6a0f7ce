#include "vdev/VdevCommand.h"

#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
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
// first, and ASan told not to insist on coming first itself.
std::vector<std::string> ChildEnvironment(const std::string& root,
                                          const std::string& firstPreload) {
    std::vector<std::string> env;
    std::string preload =
        firstPreload.empty() ? kPreloadLibrary : firstPreload + ":" + kPreloadLibrary;
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

// Plugs device `name` in (attach) or pulls it out, `at` after the command started.
struct PlugEvent {
    std::chrono::milliseconds at{0};
    std::string name;  // empty: Ctrl-C to the command instead
    bool attach = true;
    bool allowOpen = false;  // instead: the node takes opens again (see DenyOpen)
    int signal = SIGINT;     // sent to the command when name is empty
};

// A state of the run: a device has accepted `count` blocks (or received `count` requests of
// any kind), or the watched files (--watch: the
// command's record or event stream, or a test's own steps) hold `count` lines of the event
// `event` (for `drive` alone when it is set).
struct StateCondition {
    std::string blocksOf;
    bool requests = false;  // blocksOf's requests instead of its blocks
    std::string event;
    std::string drive;
    unsigned count = 1;
};

// An event due `delay` after every one of its conditions holds.
struct StateTrigger {
    std::string text;  // as given, for the message when it is never reached
    std::vector<StateCondition> conditions;
    std::chrono::milliseconds delay{0};
    PlugEvent then;
};

// A trigger not reached this long after the command started fires anyway, with a message, so
// that a test waiting on it ends and fails instead of hanging.
constexpr std::chrono::seconds kTriggerLimit{120};

// The lines of `path` that are the event `event` (of `drive`, when given), as the compact JSON
// of record and event files writes them.
unsigned CountEventLines(const std::string& path, const std::string& event,
                         const std::string& drive) {
    std::ifstream in(path);
    const std::string eventKey = "\"event\":\"" + event + "\"";
    const std::string driveKey = "\"drive\":\"" + drive + "\"";
    unsigned count = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.find(eventKey) == std::string::npos) continue;
        if (!drive.empty() && line.find(driveKey) == std::string::npos) continue;
        ++count;
    }
    return count;
}

bool Reached(VirtualTestbed& testbed, const StateTrigger& trigger,
             const std::vector<std::string>& watched) {
    for (const StateCondition& condition : trigger.conditions) {
        if (!condition.blocksOf.empty()) {
            std::size_t reached = 0;
            testbed.WithModel(condition.blocksOf, [&](DeviceModel& model) {
                reached = condition.requests ? model.Log().size() : model.BlocksAccepted();
            });
            if (reached < condition.count) return false;
        } else {
            unsigned lines = 0;
            for (const std::string& path : watched)
                lines += CountEventLines(path, condition.event, condition.drive);
            if (lines < condition.count) return false;
        }
    }
    return true;
}

void Schedule(std::vector<PlugEvent>& schedule, std::size_t next, PlugEvent event) {
    auto at =
        std::upper_bound(schedule.begin() + static_cast<std::ptrdiff_t>(next), schedule.end(),
                         event, [](const PlugEvent& a, const PlugEvent& b) { return a.at < b.at; });
    schedule.insert(at, std::move(event));
}

// A drive with denyOpenMs refuses opens for that long after a plug-in: its node's mode is 000
// (which stops only a process without CAP_DAC_OVERRIDE) until an allowOpen event puts it back.
void DenyOpen(const VirtualTestbed& testbed, const std::map<std::string, unsigned>& denyOpenMs,
              const std::string& name, std::chrono::milliseconds now,
              std::vector<PlugEvent>& schedule, std::size_t next) {
    const auto deny = denyOpenMs.find(name);
    if (deny == denyOpenMs.end()) return;
    ::chmod((testbed.RootDir() + "/dev/" + name).c_str(), 0);
    Schedule(schedule, next,
             PlugEvent{now + std::chrono::milliseconds(deny->second), name, false, true, 0});
}

int RunChild(const std::vector<std::string>& command, const std::string& root,
             const std::string& firstPreload, VirtualTestbed& testbed,
             std::vector<PlugEvent> schedule, std::vector<StateTrigger> triggers,
             const std::vector<std::string>& watched,
             const std::map<std::string, unsigned>& denyOpenMs,
             const std::vector<std::string>& attachedAtStart, WineBridge* wine) {
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
    // SIGPIPE at its default too, as a shell starts a command (we may have it ignored).
    sigset_t defaults = passed;
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    prctl(PR_SET_CHILD_SUBREAPER, 1UL, 0UL, 0UL, 0UL);
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
        const auto started = std::chrono::steady_clock::now();
        std::size_t next = 0;
        for (const std::string& name : attachedAtStart)
            DenyOpen(testbed, denyOpenMs, name, std::chrono::milliseconds(0), schedule, next);
        // The testbed serves the command's own children too: a command killed before them
        // leaves them to us (subreaper), and we end only when the last of them has.
        bool commandEnded = false;
        for (;;) {
            for (;;) {
                int reaped = 0;
                const pid_t any = waitpid(-1, &reaped, WNOHANG);
                if (any < 0 && errno == EINTR) continue;
                if (any == pid) {
                    waited = pid;
                    status = reaped;
                    commandEnded = true;
                    g_child = 0;
                }
                if (any <= 0) {
                    if (any < 0 && commandEnded) next = schedule.size() + 1;  // none left
                    break;
                }
            }
            if (next > schedule.size()) break;
            // A state reached puts its event on the schedule, `delay` from now.
            const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - started);
            for (auto trigger = triggers.begin(); !commandEnded && trigger != triggers.end();) {
                const bool late = elapsed >= kTriggerLimit;
                if (!late && !Reached(testbed, *trigger, watched)) {
                    ++trigger;
                    continue;
                }
                if (late)
                    std::cerr << "kestrel-vdev: " << trigger->text << " not reached within "
                              << kTriggerLimit.count() << " s; its event goes ahead\n";
                PlugEvent event = trigger->then;
                event.at = elapsed + (late ? std::chrono::milliseconds(0) : trigger->delay);
                Schedule(schedule, next, std::move(event));
                trigger = triggers.erase(trigger);
            }
            if (next < schedule.size() &&
                std::chrono::steady_clock::now() >= started + schedule[next].at) {
                const PlugEvent event = schedule[next++];
                const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                    std::chrono::steady_clock::now() - started);
                if (event.name.empty()) {
                    if (!commandEnded) kill(pid, event.signal);
                } else if (event.allowOpen) {
                    ::chmod((testbed.RootDir() + "/dev/" + event.name).c_str(), 0660);
                } else if (event.attach) {
                    const std::string name = event.name;
                    testbed.Attach(name);
                    DenyOpen(testbed, denyOpenMs, name, now, schedule, next);
                    if (wine != nullptr && !wine->Plug(name))
                        std::cerr << "kestrel-vdev: cannot give " << name
                                  << " its drive letter in the Wine prefix\n";
                } else {
                    if (wine != nullptr && !wine->Unplug(event.name))
                        std::cerr << "kestrel-vdev: cannot take " << event.name
                                  << "'s drive letter away in the Wine prefix\n";
                    testbed.Detach(event.name);
                }
                continue;
            }
            auto wait = std::chrono::steady_clock::duration(std::chrono::milliseconds(5));
            if (next < schedule.size())
                wait =
                    std::min(wait, started + schedule[next].at - std::chrono::steady_clock::now());
            std::this_thread::sleep_for(wait);
        }
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

namespace {

// The device names kestrel-vdev gives: sdb, sdc, ... (sda is the fixed disk); sr0, sr1, ...
std::string DeviceName(bool cdrom, unsigned index) {
    if (cdrom) return "sr" + std::to_string(index);
    return std::string("sd") + static_cast<char>('b' + index);
}

// "--log FILE" with one device; FILE.sdb, FILE.sdc, ... with several.
std::string PathFor(const std::string& path, const std::string& name, unsigned devices) {
    return devices == 1 ? path : path + "." + name;
}

// "K:OPTIONS": device K (from 1) gets these options on top of the common ones.
void ApplyDeviceOptions(const std::string& text, unsigned devices,
                        std::vector<VirtualDrive>& drives) {
    const auto colon = text.find(':');
    unsigned k = 0;
    try {
        k = colon == std::string::npos ? 0
                                       : static_cast<unsigned>(std::stoul(text.substr(0, colon)));
    } catch (const std::exception&) {
    }
    if (k < 1 || k > devices)
        throw CLI::ValidationError("--on", "expected K:OPTIONS with K from 1 to " +
                                               std::to_string(devices) + ", got '" + text + "'");
    VirtualDrive& drive = drives[k];  // drives[0] is the fixed disk
    VdevDeviceOptions options;
    options.config = drive.config;
    options.faults = drive.faults;
    CLI::App sub{"options of one device", "--on"};
    options.AddTo(sub);
    sub.add_option("--serial", drive.serial, "USB serial number (any bytes)");
    sub.add_option("--usb-port", drive.usbPort,
                   "USB port path, e.g. 2-1 (default: its own); two devices on one port are two "
                   "drives of one USB device");
    sub.add_option("--deny-open-ms", drive.denyOpenMs,
                   "the node refuses opens (EACCES without CAP_DAC_OVERRIDE) for MS ms after "
                   "each plug-in");
    sub.add_flag("--open-fails", drive.openReadWriteFails,
                 "the drive cannot be opened for writing");
    sub.parse(text.substr(colon + 1), false);
    const bool answers = drive.config.answersVendorCommands;
    options.Finish();
    drive.config = options.config;
    drive.config.answersVendorCommands = answers && options.config.answersVendorCommands;
    drive.faults = options.faults;
}

// The action of "--at WHEN:ACTION": "+K" plugs device K in, "-K" pulls it out, "int" (or
// hup, term, kill) sends the command that signal.
PlugEvent ParseAction(const std::string& text, const std::string& action, bool cdrom,
                      unsigned devices) {
    const int signal = action == "int"    ? SIGINT
                       : action == "hup"  ? SIGHUP
                       : action == "term" ? SIGTERM
                       : action == "kill" ? SIGKILL
                                          : 0;
    if (signal != 0) return {std::chrono::milliseconds(0), {}, false, false, signal};
    unsigned long k = 0;
    char sign = 0;
    int used = 0;
    if (std::sscanf(action.c_str(), "%c%lu%n", &sign, &k, &used) != 2 ||
        static_cast<std::size_t>(used) != action.size() || (sign != '+' && sign != '-') || k < 1 ||
        k > devices) {
        throw CLI::ValidationError("--at", "expected +K or -K with K from 1 to " +
                                               std::to_string(devices) +
                                               ", or int, hup, term or kill, got '" + text + "'");
    }
    return {std::chrono::milliseconds(0), DeviceName(cdrom, static_cast<unsigned>(k - 1)),
            sign == '+', false, 0};
}

// A whole number of the text, all of it; false for anything else.
bool ParseCount(const std::string& text, unsigned long* value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
    *value = std::stoul(text);
    return true;
}

// "--at WHEN:ACTION". WHEN is MS (milliseconds after the command started), or states joined
// by '&' with an optional "+MS" after them: "K/N" once device K has accepted N blocks, "K#N"
// once it has received N requests (the Nth is being served), "EVENT"
// or "EVENT*N" once the --watch file holds one (N) lines of that event, "K.EVENT[*N]" the same
// for device K's drive alone. Timed events go to `schedule`, the others to `triggers`.
void ParseAt(const std::string& text, bool cdrom, unsigned devices,
             std::vector<PlugEvent>& schedule, std::vector<StateTrigger>& triggers) {
    const auto colon = text.rfind(':');
    const auto bad = [&] {
        return CLI::ValidationError(
            "--at",
            "expected MS, or K/N, K#N, EVENT[*N] and K.EVENT[*N] joined by & with an "
            "optional +MS, before the ':', with K from 1 to " +
                std::to_string(devices) + ", got '" + text + "'");
    };
    if (colon == std::string::npos || colon == 0) throw bad();
    PlugEvent then = ParseAction(text, text.substr(colon + 1), cdrom, devices);
    std::string when = text.substr(0, colon);
    unsigned long number = 0;
    if (ParseCount(when, &number)) {
        then.at = std::chrono::milliseconds(number);
        schedule.push_back(then);
        return;
    }
    StateTrigger trigger;
    trigger.text = when;
    const auto plus = when.rfind('+');
    if (plus != std::string::npos) {
        if (!ParseCount(when.substr(plus + 1), &number)) throw bad();
        trigger.delay = std::chrono::milliseconds(number);
        when.resize(plus);
    }
    const auto device = [&](const std::string& k) {
        unsigned long index = 0;
        if (!ParseCount(k, &index) || index < 1 || index > devices) throw bad();
        return DeviceName(cdrom, static_cast<unsigned>(index - 1));
    };
    std::stringstream parts(when);
    for (std::string part; std::getline(parts, part, '&');) {
        StateCondition condition;
        if (const auto slash = part.find_first_of("/#"); slash != std::string::npos) {
            condition.blocksOf = device(part.substr(0, slash));
            condition.requests = part[slash] == '#';
            if (!ParseCount(part.substr(slash + 1), &number) || number == 0) throw bad();
            condition.count = static_cast<unsigned>(number);
        } else {
            if (const auto star = part.find('*'); star != std::string::npos) {
                if (!ParseCount(part.substr(star + 1), &number) || number == 0) throw bad();
                condition.count = static_cast<unsigned>(number);
                part.resize(star);
            }
            if (const auto dot = part.find('.'); dot != std::string::npos) {
                condition.drive = device(part.substr(0, dot));
                part.erase(0, dot + 1);
            }
            if (part.empty() ||
                part.find_first_not_of("abcdefghijklmnopqrstuvwxyz") != std::string::npos)
                throw bad();
            condition.event = part;
        }
        trigger.conditions.push_back(condition);
    }
    if (trigger.conditions.empty()) throw bad();
    trigger.then = then;
    triggers.push_back(trigger);
}

}  // namespace

int RunVdevCommand(int argc, char** argv) {
    CLI::App app{
        "Runs COMMAND with virtual upgrade devices attached (umockdev): a fixed disk sda, and "
        "the devices as removable sdb, sdc, ... (or sr0, sr1, ... with --kind cdrom).",
        "kestrel-vdev"};
    VdevDeviceOptions options;
    std::string kind = "removable";
    bool openFails = false;
    bool wine = false;
    std::string logPath;
    std::string flashPath;
    unsigned devices = 1;
    std::string serialPrefix = "KV";
    std::vector<std::string> perDevice;
    std::vector<std::string> plugTexts;
    std::vector<std::string> watched;
    std::vector<std::string> command;

    app.set_version_flag("--version", std::string("kestrel-vdev ") + kKestrelVersion);
    // The TCMU door is a command of its own, dispatched before this parser (see main.cpp); the
    // footer names it in the layout CLI11 gives subcommands.
    app.footer(
        "Subcommands:\n"
        "  tcmu                        serve the device as a SCSI disk of the running kernel "
        "(target_core_user, tcm_loop); see kestrel-vdev tcmu --help\n"
        "  usb                         serve devices as USB mass-storage gadgets of the running "
        "kernel (FunctionFS on dummy_hcd); see kestrel-vdev usb --help");
    options.AddTo(app);
    app.add_option("--kind", kind, "removable (sdb) or cdrom (sr0)")
        ->check(CLI::IsMember({"removable", "cdrom"}));
    app.add_flag("--open-fails", openFails, "the drive cannot be opened for writing");
    app.add_flag("--wine", wine,
                 "COMMAND is a Windows program under Wine (WINEPREFIX's server running): the "
                 "drives appear as D:, E:, ... of the same kinds");
    app.add_option("--log", logPath,
                   "write the device's request log to FILE at exit (FILE.sdb, ... with several)");
    app.add_option(
        "--flash-out", flashPath,
        "write the programmed flash (512 KB) to FILE at exit (FILE.sdb, ... with several)");
    app.add_option("--devices", devices, "serve N devices, each with its own flash, log and serial")
        ->check(CLI::Range(1, 24));
    app.add_option("--serial-prefix", serialPrefix,
                   "the devices' serials are PREFIX0001, PREFIX0002, ... (default KV); give each "
                   "instance its own when several share one unit database");
    app.add_option("--on", perDevice,
                   "K:OPTIONS  device K (from 1) also gets these device and fault options, and "
                   "--serial S or --open-fails; e.g. --on '2:--fw-version V2.0 --fail-write 7'")
        ->allow_extra_args(false);
    app.add_option("--at", plugTexts,
                   "WHEN:+K / WHEN:-K / WHEN:int|hup|term|kill  plug device K in / pull it out / "
                   "send COMMAND that signal; WHEN is MS (ms after COMMAND starts), K/N (device K "
                   "has accepted N blocks), K#N (it has received N requests), EVENT[*N] (the "
                   "--watch files hold N lines of that "
                   "event) or K.EVENT[*N] (of device K's drive), or such states joined by &, "
                   "optionally +MS later; a device whose first event is + starts unplugged")
        ->allow_extra_args(false);
    app.add_option("--watch", watched,
                   "a file that EVENT conditions of --at read (JSON Lines: COMMAND's record or "
                   "event stream, or a test's own steps); may be repeated")
        ->allow_extra_args(false);
    app.add_option("command", command, "the command to run, after --")->required();

    std::vector<VirtualDrive> drives;
    std::vector<PlugEvent> schedule;
    std::vector<StateTrigger> triggers;
    try {
        app.parse(argc, argv);
        options.Finish();
        const bool cdrom = kind == "cdrom";
        drives.push_back(VirtualTestbed::FixedDisk("sda"));
        for (unsigned i = 0; i < devices; ++i) {
            VirtualDrive device = VirtualTestbed::UpgradeDevice(
                DeviceName(cdrom, i), options.config, options.faults,
                cdrom ? VirtualDriveKind::CdRom : VirtualDriveKind::Removable);
            device.openReadWriteFails = openFails;
            char number[16];
            std::snprintf(number, sizeof number, "%04u", i + 1);
            device.serial = serialPrefix + number;
            drives.push_back(device);
        }
        for (const std::string& text : perDevice) ApplyDeviceOptions(text, devices, drives);
        for (const std::string& text : plugTexts) ParseAt(text, cdrom, devices, schedule, triggers);
        for (const StateTrigger& trigger : triggers) {
            for (const StateCondition& condition : trigger.conditions) {
                if (!condition.event.empty() && watched.empty())
                    throw CLI::ValidationError("--at", "'" + trigger.text + "' needs --watch FILE");
            }
        }
        std::stable_sort(schedule.begin(), schedule.end(),
                         [](const PlugEvent& a, const PlugEvent& b) { return a.at < b.at; });
        // A device first plugged in starts out unplugged: its first timed event, or without
        // one, its first event on a state.
        for (VirtualDrive& drive : drives) {
            const auto first =
                std::find_if(schedule.begin(), schedule.end(),
                             [&](const PlugEvent& e) { return e.name == drive.name; });
            const auto firstOnState =
                std::find_if(triggers.begin(), triggers.end(),
                             [&](const StateTrigger& t) { return t.then.name == drive.name; });
            if (first != schedule.end()
                    ? first->attach
                    : firstOnState != triggers.end() && firstOnState->then.attach)
                drive.attached = false;
        }
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? 0 : kUsageError;
    }

    // Block the passed-on signals before umockdev starts its worker thread, which inherits the
    // mask; RunChild unblocks them in this thread alone once the child's pid is known.
    const sigset_t passed = PassedSignals();
    pthread_sigmask(SIG_BLOCK, &passed, nullptr);
    try {
        VirtualTestbed testbed(drives, /*requirePreloadHere=*/false);
        std::unique_ptr<WineBridge> bridge;
        if (wine) {
            bridge = std::make_unique<WineBridge>();
            bridge->Attach(testbed.RootDir(), drives);
        }
        std::map<std::string, unsigned> denyOpenMs;
        std::vector<std::string> attachedAtStart;
        for (const VirtualDrive& drive : drives) {
            if (drive.denyOpenMs > 0) denyOpenMs[drive.name] = drive.denyOpenMs;
            if (drive.attached) attachedAtStart.push_back(drive.name);
        }
        const int code =
            RunChild(command, testbed.RootDir(), bridge ? bridge->PreloadLibrary() : "", testbed,
                     schedule, triggers, watched, denyOpenMs, attachedAtStart, bridge.get());
        bridge.reset();
        for (std::size_t i = 1; i < drives.size(); ++i) {
            const std::string& name = drives[i].name;
            const std::string log = PathFor(logPath, name, devices);
            const std::string flash = PathFor(flashPath, name, devices);
            if (!logPath.empty() && !WriteLog(log, testbed.Log(name))) {
                std::cerr << "kestrel-vdev: cannot write " << log << "\n";
            }
            if (!flashPath.empty() && !WriteFlash(flash, testbed.Flash(name))) {
                std::cerr << "kestrel-vdev: cannot write " << flash << "\n";
            }
        }
        return code;
    } catch (const VirtualTestbedError& e) {
        std::cerr << "kestrel-vdev: " << e.what() << "\n";
        return kCannotRun;
    }
}
