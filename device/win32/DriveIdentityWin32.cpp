// Drive identity on Windows: the storage device descriptor and the USB device's instance path.
//
// Platform notes:
// - The volume is opened with no access rights at all (query only): that needs no
//   administrator rights and sends the device nothing.
// - IOCTL_STORAGE_QUERY_PROPERTY (StorageDeviceProperty) gives offsets to the INQUIRY vendor,
//   product and revision and to the serial number; an offset of 0 means the driver does not
//   know it. For a USB drive the serial is the one the USB device reported.
// - The USB device itself (its ids, its serial where the descriptor had none, the port it is
//   plugged into) comes from the Plug and Play tree: the mount manager names a removable
//   volume by its disk's interface path (HKLM\SYSTEM\MountedDevices, "\DosDevices\E:"), the
//   disk's parent is "USB\VID_vvvv&PID_pppp\SERIAL", and that device's location information
//   ("Port_#0004.Hub_#0001") names the port. Where the parent cannot be had (CM_Get_Parent
//   answers the disk itself), the USB device with the disk's serial is the one.
// - A partitioned or fixed disk's volume is named by its disk signature instead; it then keeps
//   what the descriptor said.

#include <windows.h>

#include <cfgmgr32.h>
#include <setupapi.h>
#include <winioctl.h>

#include <array>
#include <cstring>

#include "device/DriveIdentity.h"
#include "device/UsbInstanceId.h"

namespace {

constexpr DWORD kDescriptorBuffer = 1024;

std::optional<std::string> TextAt(const std::array<BYTE, kDescriptorBuffer>& buffer, DWORD size,
                                  DWORD offset) {
    if (offset == 0 || offset >= size) return std::nullopt;
    const char* text = reinterpret_cast<const char*>(buffer.data() + offset);
    return CleanIdentityText(std::string_view(text, strnlen(text, size - offset)));
}

void ReadStorageDescriptor(const DriveCandidate& drive, DriveIdentity& identity) {
    HANDLE handle = CreateFileA(drive.devicePath.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return;

    STORAGE_PROPERTY_QUERY query{};
    query.PropertyId = StorageDeviceProperty;
    query.QueryType = PropertyStandardQuery;
    std::array<BYTE, kDescriptorBuffer> buffer{};
    DWORD returned = 0;
    const BOOL ok =
        DeviceIoControl(handle, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, buffer.data(),
                        static_cast<DWORD>(buffer.size()), &returned, nullptr);
    CloseHandle(handle);
    if (ok == FALSE || returned < sizeof(STORAGE_DEVICE_DESCRIPTOR)) return;

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
}

// The mount manager's name of the drive letter's volume, when it is text (an interface path).
std::optional<std::string> MountName(const DriveCandidate& drive) {
    const std::string value = "\\DosDevices\\" + DriveShortName(drive);
    std::array<WCHAR, 512> name{};
    DWORD size = sizeof name - sizeof(WCHAR);
    if (RegGetValueA(HKEY_LOCAL_MACHINE, "SYSTEM\\MountedDevices", value.c_str(), RRF_RT_REG_BINARY,
                     nullptr, name.data(), &size) != ERROR_SUCCESS)
        return std::nullopt;
    std::string text;
    for (DWORD i = 0; i < size / sizeof(WCHAR); ++i) {
        const WCHAR c = name[i];
        if (c == 0) break;
        if (c < 0x20 || c > 0x7E) return std::nullopt;  // a disk signature, not a name
        text += static_cast<char>(c);
    }
    return text;
}

std::optional<std::string> DeviceIdOf(DEVINST device) {
    std::array<char, MAX_DEVICE_ID_LEN + 1> id{};
    if (CM_Get_Device_IDA(device, id.data(), static_cast<ULONG>(id.size()), 0) != CR_SUCCESS)
        return std::nullopt;
    return std::string(id.data());
}

// The USB device the disk sits on, by the Plug and Play tree; else the one with its serial.
std::optional<std::string> UsbDeviceOf(const std::string& diskInstance) {
    std::optional<std::string> found;
    HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    if (set != INVALID_HANDLE_VALUE) {
        SP_DEVINFO_DATA disk{};
        disk.cbSize = sizeof disk;
        DEVINST parent = 0;
        if (SetupDiOpenDeviceInfoA(set, diskInstance.c_str(), nullptr, 0, &disk) != FALSE &&
            CM_Get_Parent(&parent, disk.DevInst, 0) == CR_SUCCESS) {
            const std::optional<std::string> id = DeviceIdOf(parent);
            if (id && ParseUsbInstanceId(*id)) found = id;
        }
        SetupDiDestroyDeviceInfoList(set);
    }
    if (found) return found;

    const std::optional<std::string> serial = SerialOfDiskInstance(diskInstance);
    if (!serial) return std::nullopt;
    set = SetupDiGetClassDevsA(nullptr, "USB", nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) return std::nullopt;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; !found && SetupDiEnumDeviceInfo(set, i, &device) != FALSE; ++i) {
        std::array<char, MAX_DEVICE_ID_LEN + 1> id{};
        if (SetupDiGetDeviceInstanceIdA(set, &device, id.data(), static_cast<DWORD>(id.size()),
                                        nullptr) == FALSE)
            continue;
        const std::optional<UsbInstanceId> usb = ParseUsbInstanceId(id.data());
        if (usb && usb->serial == *serial) found = std::string(id.data());
    }
    SetupDiDestroyDeviceInfoList(set);
    return found;
}

// "Port_#0004.Hub_#0001": the device's location information.
std::optional<std::string> LocationOf(const std::string& usbInstance) {
    std::optional<std::string> location;
    HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    if (set == INVALID_HANDLE_VALUE) return location;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    std::array<BYTE, 256> text{};
    if (SetupDiOpenDeviceInfoA(set, usbInstance.c_str(), nullptr, 0, &device) != FALSE &&
        SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_LOCATION_INFORMATION, nullptr,
                                          text.data(), static_cast<DWORD>(text.size() - 1),
                                          nullptr) != FALSE)
        location = CleanIdentityText(reinterpret_cast<const char*>(text.data()));
    SetupDiDestroyDeviceInfoList(set);
    return location;
}

void ReadUsbDevice(const DriveCandidate& drive, DriveIdentity& identity) {
    const std::optional<std::string> mountName = MountName(drive);
    if (!mountName) return;
    const std::optional<std::string> disk = DiskInstanceOfMountName(*mountName);
    if (!disk) return;
    const std::optional<std::string> usbInstance = UsbDeviceOf(*disk);
    if (!usbInstance) return;
    const std::optional<UsbInstanceId> usb = ParseUsbInstanceId(*usbInstance);
    if (!usb) return;
    identity.usb = UsbIdText(usb->vendorId, usb->productId);
    if (!identity.serialBytes) {
        identity.serial = CleanIdentityText(usb->serial);
        identity.serialBytes = usb->serial;
    }
    identity.port = LocationOf(*usbInstance);
}

}  // namespace

DriveIdentity ReadDriveIdentity(const DriveCandidate& drive) {
    DriveIdentity identity;
    ReadStorageDescriptor(drive, identity);
    ReadUsbDevice(drive, identity);
    return identity;
}
