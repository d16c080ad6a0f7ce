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
    if (BySerial()) return *serial;
    return port.value_or(drive.value_or("?")) + "@" + station;
}

std::string UnitIdentity::StationKey(unsigned appearance) const {
    if (serial && !serial->empty()) return Name();
    return Name() + "#" + std::to_string(appearance);
}
