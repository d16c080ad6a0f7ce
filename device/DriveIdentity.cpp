#include "device/DriveIdentity.h"

#include <algorithm>
#include <cctype>

std::optional<std::string> CleanIdentityText(std::string_view raw) {
    const auto blank = [](char c) {
        return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\0';
    };
    while (!raw.empty() && blank(raw.front())) raw.remove_prefix(1);
    while (!raw.empty() && blank(raw.back())) raw.remove_suffix(1);
    if (raw.empty()) return std::nullopt;
    std::string text(raw);
    for (char& c : text)
        if (c < 0x20 || c > 0x7E) c = '?';
    return text;
}

std::string DriveIdentity::EscapedSerial() const {
    if (!serialBytes) return {};
    std::string text;
    for (const char byte : *serialBytes) {
        const auto c = static_cast<unsigned char>(byte);
        if (c == '\\') {
            text += "\\\\";
        } else if (c >= 0x20 && c < 0x7F) {
            text += static_cast<char>(c);
        } else {
            static constexpr char kDigits[] = "0123456789abcdef";
            text += "\\x";
            text += kDigits[c >> 4];
            text += kDigits[c & 0xF];
        }
    }
    return text;
}

UnitIdentity DriveIdentity::UnitOf(std::string station, std::optional<std::string> drive,
                                   bool duplicateSerial) const {
    UnitIdentity unit;
    if (serialBytes) unit.serial = EscapedSerial();
    unit.port = port;
    unit.drive = std::move(drive);
    unit.station = std::move(station);
    unit.duplicateSerial = duplicateSerial;
    return unit;
}

std::optional<std::string> UsbIdText(std::string_view vendorId, std::string_view productId) {
    const auto normalise = [](std::string_view id) -> std::optional<std::string> {
        const std::optional<std::string> clean = CleanIdentityText(id);
        if (!clean) return std::nullopt;
        std::string digits = *clean;
        if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
            digits.erase(0, 2);
        if (digits.empty() || digits.size() > 4 ||
            !std::all_of(digits.begin(), digits.end(),
                         [](unsigned char c) { return std::isxdigit(c) != 0; }))
            return std::nullopt;
        std::transform(digits.begin(), digits.end(), digits.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return std::string(4 - digits.size(), '0') + digits;
    };
    const auto vendor = normalise(vendorId);
    const auto product = normalise(productId);
    if (!vendor || !product) return std::nullopt;
    return *vendor + ":" + *product;
}
