#pragma once
// Who a unit is, spelled once for every place that names one: the records and the console
// ("<serial>@<port>"), the station's runs, the claims and policy across stations, and the
// report's label. The port path tells two attached units apart at one station, but a unit
// moved to another fixture gets another port path, so across stations a unit goes by its
// serial when it has one that was not seen twice at once; otherwise by station and port (or
// drive), which is all that names such a unit.

#include <optional>
#include <string>

struct UnitIdentity {
    // The serial with every byte kept (see DriveIdentity::EscapedSerial); nothing without one.
    std::optional<std::string> serial;
    std::optional<std::string> port;   // USB port path; nothing where the OS gives none
    std::optional<std::string> drive;  // "sdb", "E:"
    std::string station;
    bool duplicateSerial = false;  // another attached unit had the same serial at the time

    // "<serial>@<port>" (either part may be empty): the record's and the console's unit.
    std::string Name() const;
    // "serial:S", else "port:STATION/PORT", else "drive:STATION/DRIVE": claims, the policy
    // across stations and the report's units go by this.
    std::string Key() const;
    // The unit in the report: its serial, else "PORT@STATION" (the drive when no port).
    std::string Label() const;
    // The station's key for the runs of one appearance: a unit with a serial is known again by
    // Name(); one without, or every unit when units are told apart by attachment, is a new unit
    // at every appearance, numbered by the station's count of such appearances (*appearances,
    // counted up here).
    std::string StationKey(unsigned* appearances, bool byAttachment = false) const;
    // A Key() as people read it: the serial, or "PORT@STATION" ("DRIVE@STATION"); what the
    // report shows when it has only the key (a database groups by it).
    static std::string LabelOf(const std::string& key);

private:
    bool BySerial() const;
};
