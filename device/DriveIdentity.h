#pragma once
// What the OS already knows about a drive, for telling units apart on a production line: the
// SCSI vendor, product and revision, and for a USB drive its vendor:product ids and serial
// number. Read without opening the drive for writing and without sending it anything the
// device would see. One implementation per platform, chosen by CMake.

#include <optional>
#include <string>
#include <string_view>

#include "device/DriveEnumeration.h"
#include "device/UnitIdentity.h"

struct DriveIdentity {
    std::optional<std::string> vendor;    // SCSI INQUIRY vendor, blanks trimmed
    std::optional<std::string> product;   // SCSI INQUIRY product
    std::optional<std::string> revision;  // SCSI INQUIRY revision
    std::optional<std::string> usb;       // "vvvv:pppp", lower-case hex, as lsusb prints it
    std::optional<std::string> serial;    // USB serial number (Windows: the storage serial)
    // The serial number byte for byte, only the OS's line end removed: units whose serials
    // differ in a byte that serial shows as '?' are still told apart.
    std::optional<std::string> serialBytes;
    // The USB port the unit is plugged into: on Linux its path ("1-1.4": bus, then the port of
    // each hub on the way), on Windows the USB device's location ("Port_#0004.Hub_#0001");
    // nothing where the OS does not give one.
    std::optional<std::string> port;

    // The serial with every byte kept: printable ASCII as is except '\', which is "\\", and
    // any other byte as "\xhh"; "" without a serial.
    std::string EscapedSerial() const;
    // The unit as one station sees it now (see UnitIdentity).
    UnitIdentity UnitOf(std::string station = {}, std::optional<std::string> drive = {},
                        bool duplicateSerial = false) const;
    // The unit's name: "<escaped serial>@<port>" (UnitIdentity::Name).
    std::string Unit() const { return UnitOf().Name(); }
};

// Unknown fields stay empty; nothing here fails.
DriveIdentity ReadDriveIdentity(const DriveCandidate& drive);

// An identity text as the OS reported it, made fit for a console line and a JSON string:
// surrounding blanks and line ends trimmed, anything but printable ASCII shown as '?'. Empty
// text is unknown.
std::optional<std::string> CleanIdentityText(std::string_view raw);

// "vvvv:pppp" from the two ids as the OS spells them ("1d6b", "0x1D6B", "1D6B"); empty unless
// both are 1 to 4 hex digits.
std::optional<std::string> UsbIdText(std::string_view vendorId, std::string_view productId);
