#include "ledger/RunRow.h"

std::string UnitKey(const std::optional<std::string>& serial, bool duplicateSerial,
                    const std::string& station, const std::optional<std::string>& port,
                    const std::optional<std::string>& drive) {
    if (serial && !serial->empty() && !duplicateSerial) return "serial:" + *serial;
    if (port && !port->empty()) return "port:" + station + "/" + *port;
    return "drive:" + station + "/" + drive.value_or("");
}
