#include "device/UsbInstanceId.h"

#include <algorithm>
#include <cctype>

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}

bool IsHex(std::string_view text) {
    return !text.empty() && text.size() <= 4 &&
           std::all_of(text.begin(), text.end(),
                       [](unsigned char c) { return std::isxdigit(c) != 0; });
}

}  // namespace

std::optional<UsbInstanceId> ParseUsbInstanceId(std::string_view id) {
    if (!StartsWithNoCase(id, "USB\\VID_")) return std::nullopt;
    id.remove_prefix(8);
    const auto amp = id.find('&');
    const auto slash = id.find('\\');
    if (amp == std::string_view::npos || slash == std::string_view::npos || slash < amp)
        return std::nullopt;
    const std::string_view vendor = id.substr(0, amp);
    std::string_view rest = id.substr(amp + 1, slash - amp - 1);
    if (!StartsWithNoCase(rest, "PID_")) return std::nullopt;
    rest.remove_prefix(4);
    const std::string_view serial = id.substr(slash + 1);
    if (!IsHex(vendor) || !IsHex(rest) || serial.empty() ||
        serial.find_first_of("&\\") != std::string_view::npos)
        return std::nullopt;
    return UsbInstanceId{std::string(vendor), std::string(rest), std::string(serial)};
}

std::optional<std::string> DiskInstanceOfMountName(std::string_view name) {
    if (!StartsWithNoCase(name, "\\??\\USBSTOR#")) return std::nullopt;
    name.remove_prefix(4);
    // USBSTOR#Disk&...#SERIAL&0#{guid}: the instance is everything before the last '#'.
    const auto guid = name.rfind('#');
    if (guid == std::string_view::npos || guid + 1 >= name.size() || name[guid + 1] != '{')
        return std::nullopt;
    std::string id(name.substr(0, guid));
    std::replace(id.begin(), id.end(), '#', '\\');
    if (std::count(id.begin(), id.end(), '\\') != 2) return std::nullopt;
    return id;
}

std::optional<std::string> SerialOfDiskInstance(std::string_view id) {
    if (!StartsWithNoCase(id, "USBSTOR\\")) return std::nullopt;
    const auto slash = id.rfind('\\');
    std::string_view last = id.substr(slash + 1);
    const auto lun = last.rfind('&');
    if (lun == std::string_view::npos || lun == 0) return std::nullopt;
    last = last.substr(0, lun);
    if (last.find('&') != std::string_view::npos) return std::nullopt;  // made up by Windows
    return std::string(last);
}
