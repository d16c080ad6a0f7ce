// Linux: libudev's monitor on the "udev" netlink group, block disks only. Events are only
// there when udev itself runs (its control socket exists); containers usually have none, and
// then the station falls back to rescanning /sys/block.
#include <libudev.h>
#include <poll.h>
#include <unistd.h>

#include "cli/DriveWatch.h"

struct DriveWatch::Impl {
    udev* context = nullptr;
    udev_monitor* monitor = nullptr;
};

DriveWatch::DriveWatch() : m_impl(std::make_unique<Impl>()) {
    if (::access("/run/udev/control", F_OK) != 0) return;
    m_impl->context = udev_new();
    if (m_impl->context == nullptr) return;
    m_impl->monitor = udev_monitor_new_from_netlink(m_impl->context, "udev");
    if (m_impl->monitor == nullptr ||
        udev_monitor_filter_add_match_subsystem_devtype(m_impl->monitor, "block", "disk") < 0 ||
        udev_monitor_enable_receiving(m_impl->monitor) < 0) {
        if (m_impl->monitor != nullptr) udev_monitor_unref(m_impl->monitor);
        m_impl->monitor = nullptr;
    }
}

DriveWatch::~DriveWatch() {
    if (m_impl->monitor != nullptr) udev_monitor_unref(m_impl->monitor);
    if (m_impl->context != nullptr) udev_unref(m_impl->context);
}

bool DriveWatch::EventDriven() const {
    return m_impl->monitor != nullptr;
}

bool DriveWatch::Changed() {
    if (m_impl->monitor == nullptr) return false;
    bool changed = false;
    pollfd events{udev_monitor_get_fd(m_impl->monitor), POLLIN, 0};
    while (::poll(&events, 1, 0) > 0) {
        udev_device* device = udev_monitor_receive_device(m_impl->monitor);
        if (device == nullptr) break;
        udev_device_unref(device);
        changed = true;
    }
    return changed;
}
