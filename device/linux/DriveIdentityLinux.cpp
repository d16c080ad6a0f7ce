// Drive identity on Linux, from sysfs alone (the drive is not opened).
//
// Platform notes:
// - The SCSI device of /sys/block/NAME is its "device" link; it holds the INQUIRY strings as
//   "vendor", "model" and "rev", padded with blanks.
// - A USB mass-storage drive's SCSI device sits a few levels below its USB device
//   (usbX/X-Y/X-Y:1.0/hostN/targetN:0:0/N:0:0:0); the first ancestor with "idVendor" is the USB
//   device, with "idProduct" and, when the unit has one, "serial".
// - Ancestors are reached as ".../device/.." paths with open(), not realpath: the kernel
//   follows the link, and the emulation tier (umockdev) redirects exactly these calls.

#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "device/DriveIdentity.h"

namespace {

constexpr int kMaxUsbDepth = 8;  // SCSI device to USB device is 4 levels on real hosts
// A sysfs attribute is at most one page; a USB string descriptor (126 UTF-16 units) is at most
// 378 bytes of UTF-8. Every byte up to this bound is kept.
constexpr std::size_t kMaxAttribute = 4096;
// What stands for a value that does not fit: the unit is then one without a serial.
constexpr const char* kTooLong = "(longer than 4096 bytes, not read)";

// The whole attribute; "" for one longer than kMaxAttribute (see kTooLong).
std::optional<std::string> ReadAttribute(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string text;
    char chunk[1024];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n <= 0) break;
        text.append(chunk, static_cast<std::size_t>(n));
        if (text.size() > kMaxAttribute) break;
    }
    ::close(fd);
    if (text.empty()) return std::nullopt;
    return text.size() > kMaxAttribute ? std::string() : text;
}

std::optional<std::string> ReadText(const std::string& path) {
    const std::optional<std::string> raw = ReadAttribute(path);
    return raw ? CleanIdentityText(*raw) : std::nullopt;
}

}  // namespace

DriveIdentity ReadDriveIdentity(const DriveCandidate& drive) {
    DriveIdentity identity;
    const std::string device = "/sys/block/" + drive.name + "/device";
    identity.vendor = ReadText(device + "/vendor");
    identity.product = ReadText(device + "/model");
    identity.revision = ReadText(device + "/rev");

    std::string up = device;
    for (int depth = 0; depth < kMaxUsbDepth; ++depth) {
        up += "/..";
        const std::optional<std::string> vendorId = ReadAttribute(up + "/idVendor");
        if (!vendorId) continue;
        identity.usb = UsbIdText(*vendorId, ReadAttribute(up + "/idProduct").value_or(""));
        const std::optional<std::string> serial = ReadAttribute(up + "/serial");
        if (serial && serial->empty()) {
            identity.serial = kTooLong;
        } else if (serial) {
            identity.serial = CleanIdentityText(*serial);
            identity.serialBytes =
                serial->ends_with('\n') ? serial->substr(0, serial->size() - 1) : *serial;
        }
        // The USB device's own sysfs name, bus number and port chain: "1-1.4".
        const std::optional<std::string> bus = ReadText(up + "/busnum");
        const std::optional<std::string> ports = ReadText(up + "/devpath");
        if (bus && ports) identity.port = *bus + "-" + *ports;
        break;
    }
    return identity;
}
