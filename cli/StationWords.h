#pragma once
// What a station says on the console, for an operator who has no browser: every line starts
// with the time and the slot (its name from --slots, else its USB port path), since the drive
// name changes at every plug; a status line with the running counts follows every end of a
// run; a failure is followed by what to do about it.

#include <string>
#include <vector>

#include "web/Slots.h"

struct DriveIdentity;
struct UnitResult;

class StationWords {
public:
    explicit StationWords(std::vector<WebSlot> slots) : m_slots(std::move(slots)) {}

    // "10:42:07  Slot 3  " (or "10:42:07  1-1.4  ", or "10:42:07  " without a port).
    std::string Prefix(const DriveIdentity& identity) const;
    // "10:42:07  " alone, for the station's own lines.
    static std::string Time();

private:
    std::vector<WebSlot> m_slots;
};
