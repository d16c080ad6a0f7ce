#include "vdev/DriveSysfs.h"

#include "vdev/ScsiResponder.h"

namespace {

// sysfs shows the INQUIRY strings at their field widths, blank-padded.
std::string Padded(const char* text, std::size_t width) {
    std::string field(text);
    field.resize(width, ' ');
    return field;
}

// Plain text as an "A:" line; a serial with other bytes as a binary "H:" line in hex, every
// byte kept.
std::string SerialAttribute(const std::string& serial) {
    bool plain = true;
    for (char c : serial) plain = plain && c > ' ' && c < 0x7F && c != '\\';
    if (plain) return "A: serial=" + serial + "\\n\n";
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (char c : serial + "\n") {
        const auto byte = static_cast<unsigned char>(c);
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0xF];
    }
    return "H: serial=" + hex + "\n";
}

}  // namespace

std::string UsbDevicePath(std::size_t index) {
    return "/devices/pci0000:00/0000:00:14.0/usb2/2-" + std::to_string(index + 1);
}

std::string ScsiDevicePath(std::size_t index) {
    const std::string host = std::to_string(index);
    return UsbDevicePath(index) + "/2-" + std::to_string(index + 1) + ":1.0/host" + host +
           "/target" + host + ":0:0/" + host + ":0:0:0";
}

std::string SysfsText(const VirtualDrive& drive, std::size_t index) {
    const bool cdrom = drive.kind == VirtualDriveKind::CdRom;
    const std::string parent = ScsiDevicePath(index);
    // sd disks take 16 minors each on major 8; sr drives major 11.
    unsigned minor = 0;
    if (cdrom) {
        minor = static_cast<unsigned>(std::stoul(drive.name.substr(2)));
    } else {
        unsigned letters = 0;
        for (char c : drive.name.substr(2)) {
            letters = letters * 26 + static_cast<unsigned>(c - 'a') + 1;
        }
        minor = (letters - 1) * 16;
    }
    const std::string dev = std::string(cdrom ? "11:" : "8:") + std::to_string(minor);
    const char* removable = drive.kind == VirtualDriveKind::Fixed ? "0" : "1";
    std::string text;
    text += "P: " + UsbDevicePath(index) + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n";
    text +=
        "A: idVendor=" + drive.usbVendorId + "\\n\nA: idProduct=" + drive.usbProductId + "\\n\n";
    if (!drive.serial.empty()) text += SerialAttribute(drive.serial);
    const std::string port =
        drive.usbPort.empty() ? "2-" + std::to_string(index + 1) : drive.usbPort;
    const auto dash = port.find('-');
    text += "A: busnum=" + port.substr(0, dash) +
            "\\n\nA: devpath=" + (dash == std::string::npos ? "1" : port.substr(dash + 1)) +
            "\\n\n";
    text += "\n";
    text += "P: " + parent + "\nE: SUBSYSTEM=scsi\nE: DEVTYPE=scsi_device\n";
    text += std::string("A: type=") + (cdrom ? "5" : "0") + "\\n\n";
    text += "A: vendor=" + Padded(kLunVendor, 8) + "\\n\nA: model=" + Padded(kLunProduct, 16) +
            "\\n\nA: rev=" + Padded(kLunRevision, 4) + "\\n\n\n";
    text += "P: " + parent + "/block/" + drive.name + "\nN: " + drive.name + "\n";
    text += "E: SUBSYSTEM=block\nE: DEVTYPE=disk\nE: DEVNAME=/dev/" + drive.name + "\n";
    text += "A: dev=" + dev + "\\n\n";
    text += std::string("A: removable=") + removable + "\\n\n";
    text += "A: ro=0\\n\nA: size=" + std::to_string(kVirtualDriveSectors) + "\\n\n\n";
    return text;
}
