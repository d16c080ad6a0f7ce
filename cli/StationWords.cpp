#include "cli/StationWords.h"

#include <chrono>
#include <ctime>

#include "device/DriveIdentity.h"
#include "line/UnitRuns.h"

std::string StationWords::Time() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    char text[16] = "";
    // The operator's wall clock; the records carry UTC.
    if (const std::tm* local = std::localtime(&now))
        std::strftime(text, sizeof text, "%H:%M:%S", local);
    return std::string(text) + "  ";
}

std::string StationWords::Prefix(const DriveIdentity& identity) const {
    std::string slot = identity.port ? SlotLabel(m_slots, *identity.port) : std::string();
    if (slot.empty() && identity.port) slot = *identity.port;
    return Time() + (slot.empty() ? "" : slot + "  ");
}
