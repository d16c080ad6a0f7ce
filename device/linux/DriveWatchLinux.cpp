// Linux: libudev's monitor on the "udev" netlink group, block disks only. Events are only
// there when udev itself runs (its control socket exists); containers usually have none, and
// then the station falls back to rescanning /sys/block.
//
// libudev is loaded here, when a station starts on a host with udev, rather than linked: every
// other kestrel-cli run (one per file on a production line) would pay for loading it.
#include <dlfcn.h>
#include <libudev.h>
#include <poll.h>
#include <unistd.h>

#include "device/DriveWatch.h"

struct DriveWatch::Impl {
    void* library = nullptr;
    udev* context = nullptr;
    udev_monitor* monitor = nullptr;
    decltype(&udev_unref) unref = nullptr;
    decltype(&udev_monitor_unref) monitorUnref = nullptr;
    decltype(&udev_monitor_get_fd) getFd = nullptr;
    decltype(&udev_monitor_receive_device) receive = nullptr;
    decltype(&udev_device_unref) deviceUnref = nullptr;
};

namespace {

template <typename F>
bool Load(void* library, const char* name, F* function) {
    *function = reinterpret_cast<F>(dlsym(library, name));
    return *function != nullptr;
}

}  // namespace

DriveWatch::DriveWatch() : m_impl(std::make_unique<Impl>()) {
    if (::access("/run/udev/control", F_OK) != 0) return;
    Impl& d = *m_impl;
    d.library = dlopen("libudev.so.1", RTLD_NOW | RTLD_LOCAL);
    if (d.library == nullptr) return;
    decltype(&udev_new) create = nullptr;
    decltype(&udev_monitor_new_from_netlink) newMonitor = nullptr;
    decltype(&udev_monitor_filter_add_match_subsystem_devtype) match = nullptr;
    decltype(&udev_monitor_enable_receiving) enable = nullptr;
    if (!Load(d.library, "udev_new", &create) || !Load(d.library, "udev_unref", &d.unref) ||
        !Load(d.library, "udev_monitor_new_from_netlink", &newMonitor) ||
        !Load(d.library, "udev_monitor_filter_add_match_subsystem_devtype", &match) ||
        !Load(d.library, "udev_monitor_enable_receiving", &enable) ||
        !Load(d.library, "udev_monitor_unref", &d.monitorUnref) ||
        !Load(d.library, "udev_monitor_get_fd", &d.getFd) ||
        !Load(d.library, "udev_monitor_receive_device", &d.receive) ||
        !Load(d.library, "udev_device_unref", &d.deviceUnref))
        return;
    d.context = create();
    if (d.context == nullptr) return;
    d.monitor = newMonitor(d.context, "udev");
    if (d.monitor != nullptr && (match(d.monitor, "block", "disk") < 0 || enable(d.monitor) < 0)) {
        d.monitorUnref(d.monitor);
        d.monitor = nullptr;
    }
}

DriveWatch::~DriveWatch() {
    if (m_impl->monitor != nullptr) m_impl->monitorUnref(m_impl->monitor);
    if (m_impl->context != nullptr) m_impl->unref(m_impl->context);
    if (m_impl->library != nullptr) dlclose(m_impl->library);
}

bool DriveWatch::EventDriven() const {
    return m_impl->monitor != nullptr;
}

bool DriveWatch::Changed() {
    if (m_impl->monitor == nullptr) return false;
    bool changed = false;
    pollfd events{m_impl->getFd(m_impl->monitor), POLLIN, 0};
    while (::poll(&events, 1, 0) > 0) {
        udev_device* device = m_impl->receive(m_impl->monitor);
        if (device == nullptr) break;
        m_impl->deviceUnref(device);
        changed = true;
    }
    return changed;
}
