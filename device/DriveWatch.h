#pragma once
// Tells a waiting station that drives came or went. Linux: device events from udev (libudev's
// monitor) where udev runs; Windows: WM_DEVICECHANGE to a hidden window of the watch's own.
// Linux without udev (containers, the emulated tier) and Windows without a window to be told
// through have no events, and the station rescans every 500 ms. One implementation per
// platform.

#include <memory>

class DriveWatch {
public:
    DriveWatch();
    ~DriveWatch();
    DriveWatch(const DriveWatch&) = delete;
    DriveWatch& operator=(const DriveWatch&) = delete;

    // True when the OS reports block devices coming and going; false: rescan on a timer.
    bool EventDriven() const;
    // True when a disk came or went since the last call; never waits.
    bool Changed();

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};
