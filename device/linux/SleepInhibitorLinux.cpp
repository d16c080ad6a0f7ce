// The sleep inhibitor on Linux: a "block" inhibitor lock from systemd-logind.
//
// Platform notes:
// - org.freedesktop.login1.Manager.Inhibit("sleep:idle:handle-lid-switch", who, why, "block")
//   over the system bus returns a file descriptor. logind ignores sleep and idle locks when the
//   lid is closed unless the lid switch is inhibited too, and its policy may refuse that one
//   (polkit's inhibit-handle-lid-switch): then the run asks for "sleep:idle" alone and the
//   trace says the lid was not covered. The descriptor's lock holds the lock holds until every copy
//   of it is closed, so it also ends when the process dies. We keep a close-on-exec duplicate, so
//   that no child inherits it.
// - Without a system bus or without logind (containers, minimal systems) the call fails fast
//   with an error; the run goes on and the trace names the cause. An unprivileged user may take
//   a block lock on sleep and idle under logind's default policy.
// - The call is bounded by kCallTimeout: it is made on the user interface thread, just before
//   the start frame.
// - sd_bus_open_system honours DBUS_SYSTEM_BUS_ADDRESS, which the tests point at a private bus
//   with a mocked logind.
// - libsystemd is loaded when a run first asks for the lock, not linked: loading it and the
//   libraries it needs costs every process start about 0.8 ms, more than a whole HEX load, and
//   most kestrel-cli runs on a production line (info, gen-bin, list) never send a block.

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <systemd/sd-bus.h>

#include <cstring>
#include <string>

#include "device/DeviceTrace.h"
#include "device/SleepInhibitor.h"

namespace {

constexpr std::uint64_t kCallTimeout = 2'000'000;  // microseconds
constexpr int kFirstFreeDescriptor = 3;

// The sd-bus calls we make, from libsystemd loaded on first use.
struct SdBus {
    decltype(&sd_bus_open_system) openSystem = nullptr;
    decltype(&sd_bus_message_new_method_call) newMethodCall = nullptr;
    decltype(&sd_bus_message_append) append = nullptr;
    decltype(&sd_bus_call) call = nullptr;
    decltype(&sd_bus_message_read) read = nullptr;
    decltype(&sd_bus_error_is_set) errorIsSet = nullptr;
    decltype(&sd_bus_error_free) errorFree = nullptr;
    decltype(&sd_bus_message_unref) messageUnref = nullptr;
    decltype(&sd_bus_flush_close_unref) flushCloseUnref = nullptr;
};

template <typename F>
bool Resolve(void* library, const char* name, F* function) {
    *function = reinterpret_cast<F>(dlsym(library, name));
    return *function != nullptr;
}

// Loaded once and kept for the life of the process; nothing when libsystemd is missing.
const SdBus* LoadSdBus() {
    static const SdBus* const loaded = []() -> const SdBus* {
        void* library = dlopen("libsystemd.so.0", RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) return nullptr;
        static SdBus bus;
        const bool all = Resolve(library, "sd_bus_open_system", &bus.openSystem) &&
                         Resolve(library, "sd_bus_message_new_method_call", &bus.newMethodCall) &&
                         Resolve(library, "sd_bus_message_append", &bus.append) &&
                         Resolve(library, "sd_bus_call", &bus.call) &&
                         Resolve(library, "sd_bus_message_read", &bus.read) &&
                         Resolve(library, "sd_bus_error_is_set", &bus.errorIsSet) &&
                         Resolve(library, "sd_bus_error_free", &bus.errorFree) &&
                         Resolve(library, "sd_bus_message_unref", &bus.messageUnref) &&
                         Resolve(library, "sd_bus_flush_close_unref", &bus.flushCloseUnref);
        return all ? &bus : nullptr;
    }();
    return loaded;
}

std::string ErrorText(const SdBus& sd, int r, const sd_bus_error& error) {
    if (sd.errorIsSet(&error) != 0 && error.message != nullptr) return error.message;
    return std::strerror(-r);
}

// The inhibitor descriptor (ours to close), or -1 with the cause in why.
int TakeInhibitLock(const char* what, std::string& why) {
    const SdBus* loaded = LoadSdBus();
    if (loaded == nullptr) {
        why = "libsystemd.so.0 cannot be loaded";
        return -1;
    }
    const SdBus& sd = *loaded;
    sd_bus* bus = nullptr;
    int r = sd.openSystem(&bus);
    if (r < 0) {
        why = std::string("no system bus: ") + std::strerror(-r);
        return -1;
    }
    sd_bus_message* call = nullptr;
    sd_bus_message* reply = nullptr;
    // SD_BUS_ERROR_NULL, spelled without its C compound literal.
    sd_bus_error error{nullptr, nullptr, 0};
    int fd = -1;
    r = sd.newMethodCall(bus, &call, "org.freedesktop.login1", "/org/freedesktop/login1",
                         "org.freedesktop.login1.Manager", "Inhibit");
    if (r >= 0) r = sd.append(call, "ssss", what, "Kestrel", "Upgrading device firmware", "block");
    if (r >= 0) r = sd.call(bus, call, kCallTimeout, &error, &reply);
    int received = -1;
    if (r >= 0) r = sd.read(reply, "h", &received);
    if (r >= 0) {
        // The reply owns the descriptor it carries; keep a copy of our own.
        fd = ::fcntl(received, F_DUPFD_CLOEXEC, kFirstFreeDescriptor);
        if (fd < 0) r = -errno;
    }
    if (r < 0) why = "logind refused or is absent: " + ErrorText(sd, r, error);
    sd.errorFree(&error);
    sd.messageUnref(reply);
    sd.messageUnref(call);
    sd.flushCloseUnref(bus);
    return fd;
}

}  // namespace

bool SleepInhibitor::Acquire() {
    if (Held()) return true;
    std::string lidWhy;
    int fd = TakeInhibitLock("sleep:idle:handle-lid-switch", lidWhy);
    if (fd >= 0) {
        m_token = fd;
        TraceNote("sleep and the lid switch inhibited by logind while blocks are sent");
        return true;
    }
    std::string why;
    fd = TakeInhibitLock("sleep:idle", why);
    if (fd < 0) {
        TraceNote("sleep not inhibited (" + why + "); the run goes on");
        return false;
    }
    m_token = fd;
    TraceNote("sleep inhibited by logind while blocks are sent; the lid switch was refused (" +
              lidWhy + "): closing the lid may still suspend the machine");
    return true;
}

void SleepInhibitor::Release() {
    if (!Held()) return;
    ::close(static_cast<int>(m_token));
    m_token = kNone;
    TraceNote("sleep inhibitor released");
}
