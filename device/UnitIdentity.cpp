#include "device/UnitIdentity.h"

bool UnitIdentity::BySerial() const {
    return serial && !serial->empty() && !duplicateSerial;
}

std::string UnitIdentity::Name() const {
    return serial.value_or("") + "@" + port.value_or("");
}

std::string UnitIdentity::Key() const {
    if (BySerial()) return "serial:" + *serial;
    if (port && !port->empty()) return "port:" + station + "/" + *port;
    return "drive:" + station + "/" + drive.value_or("");
}

std::string UnitIdentity::Label() const {
    return LabelOf(Key());
}

std::string UnitIdentity::LabelOf(const std::string& key) {
    const std::size_t colon = key.find(':');
    if (colon == std::string::npos) return key;
    const std::string kind = key.substr(0, colon);
    std::string rest = key.substr(colon + 1);
    if (kind == "serial") return rest;
    // "port:STATION/PORT" and "drive:STATION/DRIVE": a port path or drive has no '/'.
    const std::size_t slash = rest.find_last_of('/');
    if (slash == std::string::npos) return rest;
    return rest.substr(slash + 1) + "@" + rest.substr(0, slash);
}

std::string UnitIdentity::StationKey(unsigned* appearances, bool byAttachment) const {
    if (serial && !serial->empty() && !byAttachment) return Name();
    return Name() + "#" + std::to_string(++*appearances);
}
