// Windows: the station is told of drives coming and going by WM_DEVICECHANGE.
//
// Platform notes:
// - A console program has no window, so the watch makes one of its own on the station's
//   thread, hidden and never shown. It is a top-level window, not a message-only one
//   (HWND_MESSAGE): the mount manager announces a new drive letter (DBT_DEVICEARRIVAL with
//   DBT_DEVTYP_VOLUME) by broadcasting to the top-level windows, and a broadcast never reaches
//   a message-only window. Disk interfaces (GUID_DEVINTERFACE_DISK) are registered for as well,
//   for a disk that arrives before its volume has a letter.
// - The messages queue while the station waits for its children; Changed() takes them off the
//   queue without waiting.
// - Where the window or the registration cannot be had (a service without a desktop), the
//   station rescans the drive letters every 500 ms instead.

#include <windows.h>

#include <dbt.h>

#include "device/DriveWatch.h"

struct DriveWatch::Impl {
    HWND window = nullptr;
    HDEVNOTIFY disks = nullptr;
    bool changed = false;
};

namespace {

constexpr const wchar_t* kWindowClass = L"KestrelDriveWatch";
// GUID_DEVINTERFACE_DISK.
constexpr GUID kDiskInterface = {
    0x53f56307, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};

bool IsDriveChange(WPARAM event, LPARAM data) {
    if (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) return false;
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
    return header != nullptr && (header->dbch_devicetype == DBT_DEVTYP_VOLUME ||
                                 header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE);
}

LRESULT CALLBACK WatchProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DEVICECHANGE && IsDriveChange(wParam, lParam)) {
        auto* impl = reinterpret_cast<DriveWatch::Impl*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (impl != nullptr) impl->changed = true;
        return TRUE;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

DriveWatch::DriveWatch() : m_impl(std::make_unique<Impl>()) {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WatchProcedure;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kWindowClass;
    if (RegisterClassExW(&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return;
    m_impl->window = CreateWindowExW(WS_EX_TOOLWINDOW, kWindowClass, L"Kestrel drive watch",
                                     WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance, nullptr);
    if (m_impl->window == nullptr) return;
    SetWindowLongPtrW(m_impl->window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(m_impl.get()));
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = kDiskInterface;
    m_impl->disks =
        RegisterDeviceNotificationW(m_impl->window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

DriveWatch::~DriveWatch() {
    if (m_impl->disks != nullptr) UnregisterDeviceNotification(m_impl->disks);
    if (m_impl->window != nullptr) DestroyWindow(m_impl->window);
}

bool DriveWatch::EventDriven() const {
    return m_impl->window != nullptr;
}

bool DriveWatch::Changed() {
    if (m_impl->window == nullptr) return false;
    MSG message;
    while (PeekMessageW(&message, m_impl->window, 0, 0, PM_REMOVE) != FALSE)
        DispatchMessageW(&message);
    const bool changed = m_impl->changed;
    m_impl->changed = false;
    return changed;
}
