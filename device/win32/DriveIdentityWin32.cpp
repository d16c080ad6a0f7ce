// Drive identity on Windows: IOCTL_STORAGE_QUERY_PROPERTY (StorageDeviceProperty).
//
// Platform notes:
// - The volume is opened with no access rights at all (query only): that needs no
//   administrator rights and sends the device nothing.
// - STORAGE_DEVICE_DESCRIPTOR holds offsets to the INQUIRY vendor, product and revision and to
//   the serial number; an offset of 0 means the driver does not know it. For a USB drive the
//   serial is the one the USB device reported.
// - The USB vendor and product ids are not part of the storage descriptor; they stay unknown.

#include <windows.h>

#include <winioctl.h>

#include <array>
#include <cstring>

#include "device/DriveIdentity.h"

namespace {

constexpr DWORD kDescriptorBuffer = 1024;

std::optional<std::string> TextAt(const std::array<BYTE, kDescriptorBuffer>& buffer, DWORD size,
                                  DWORD offset) {
    if (offset == 0 || offset >= size) return std::nullopt;
    const char* text = reinterpret_cast<const char*>(buffer.data() + offset);
    return CleanIdentityText(std::string_view(text, strnlen(text, size - offset)));
}

}  // namespace

DriveIdentity ReadDriveIdentity(const DriveCandidate& drive) {
    DriveIdentity identity;
    HANDLE handle = CreateFileA(drive.devicePath.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return identity;

    STORAGE_PROPERTY_QUERY query{};
    query.PropertyId = StorageDeviceProperty;
    query.QueryType = PropertyStandardQuery;
    std::array<BYTE, kDescriptorBuffer> buffer{};
    DWORD returned = 0;
    const BOOL ok =
        DeviceIoControl(handle, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, buffer.data(),
                        static_cast<DWORD>(buffer.size()), &returned, nullptr);
    CloseHandle(handle);
    if (ok == FALSE || returned < sizeof(STORAGE_DEVICE_DESCRIPTOR)) return identity;

    STORAGE_DEVICE_DESCRIPTOR descriptor;
    std::memcpy(&descriptor, buffer.data(), sizeof descriptor);
    identity.vendor = TextAt(buffer, returned, descriptor.VendorIdOffset);
    identity.product = TextAt(buffer, returned, descriptor.ProductIdOffset);
    identity.revision = TextAt(buffer, returned, descriptor.ProductRevisionOffset);
    identity.serial = TextAt(buffer, returned, descriptor.SerialNumberOffset);
    const DWORD at = descriptor.SerialNumberOffset;
    if (at != 0 && at < returned) {
        const char* bytes = reinterpret_cast<const char*>(buffer.data() + at);
        identity.serialBytes = std::string(bytes, strnlen(bytes, returned - at));
    }
    return identity;
}
