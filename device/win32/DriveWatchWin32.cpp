// Windows: a console program gets no device notifications without a window of its own, so the
// station rescans the drive letters every 500 ms.
#include "device/DriveWatch.h"

struct DriveWatch::Impl {};

DriveWatch::DriveWatch() : m_impl(std::make_unique<Impl>()) {}
DriveWatch::~DriveWatch() = default;
bool DriveWatch::EventDriven() const {
    return false;
}
bool DriveWatch::Changed() {
    return false;
}
