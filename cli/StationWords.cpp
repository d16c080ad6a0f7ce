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

std::string StationWords::Advice(const UnitResult& result) {
    const RunResult decided = result.Result();
    if (decided.kind != RunResult::Kind::Failed) return {};
    const std::string code = decided.code;
    if (code == "no-device")
        return "what to do: the drive did not answer as the device; unplug the unit, check that "
               "it is in upgrade mode and plug it in again";
    if (code == "image-changed")
        return "what to do: the image file changed after the station approved it; stop the "
               "station and start it again with the approved file";
    if (code == "not-recorded")
        return "what to do: the run could not be recorded (see the message); free the record's "
               "disk or fix the database, then plug the unit in again";
    if (code == "killed" || code == "child-failed")
        return "what to do: the unit's run ended abnormally; plug the unit in again, and if it "
               "happens again run it alone with kestrel-cli --verbose upgrade";
    if (!result.started)
        return "what to do: the device refused the image before any block was sent; check that "
               "the file is the image for this board, then plug the unit in again";
    const unsigned failedAt = result.startBlock + static_cast<unsigned>(result.blocks);
    return "what to do: the device stopped taking blocks at block " + std::to_string(failedAt) +
           " (" + std::to_string(result.blocks) + " of " +
           std::to_string(result.endBlock - result.startBlock) +
           " accepted); unplug the unit and plug it in again to flash it again; if this slot "
           "fails again, check its cable and hub";
}
