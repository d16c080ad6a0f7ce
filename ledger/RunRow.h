#pragma once
// One run of one unit: the one row type. The run (see UnitRun) fills it, its started line (or
// row) is written from it before the start frame and its final line (or row) when the run has
// ended; the JSON Lines reader and the unit database read it back, and the yield report reads
// only this. A field added to the run is added here, to FinalJsonLine (and StartedJsonLine when
// the started line carries it), to ApplyRecordLine (RunHistory.cpp) and to the database's
// column list (EachColumn in SociDatabaseLinux.cpp, with a migration).

#include <optional>
#include <string>

#include "device/DriveIdentity.h"
#include "device/UnitIdentity.h"

struct RunRow {
    std::string run;      // 32 hex digits; older lines without one get "FILE:LINE"
    std::string station;  // "" for older lines
    std::string unit;     // "<serial>@<port>"
    std::optional<std::string> serial;
    std::optional<std::string> port;
    bool duplicateSerial = false;
    // Units told apart by attachment (--identity attachment): the serial names no unit, so the
    // claim goes by station and port. Not stored: it only decides the key of the run's claim.
    bool byAttachment = false;
    std::optional<std::string> lot;     // --lot: the work order
    std::optional<std::string> person;  // --operator
    std::optional<std::string> drive;
    std::optional<std::string> vendor;
    std::optional<std::string> product;
    std::optional<std::string> usb;
    std::string file;
    std::string sha256;
    std::string type;
    unsigned startBlock = 0;
    unsigned endBlock = 0;
    std::string family;
    std::string chipId;
    unsigned bootType = 0;
    std::optional<std::string> versionBefore;
    std::optional<std::string> startedAt;   // UTC, ISO 8601; none when no started line was written
    std::optional<std::string> finishedAt;  // none while the run has no final line
    int blocksSent = 0;
    double seconds = 0.0;
    std::string result;  // "ok", "failed", "declined", "cancelled"; "" without a final line
    std::string code;    // the result's stable code ("ok", "empty-query-reply", ...); "" if older
    std::string detail;  // what goes with the code ("block 17, status ...", "ENODEV"); or ""
    std::string message;

    // Started without a final line (anywhere): the station stopped, or its record was lost.
    bool Interrupted() const { return !finishedAt.has_value(); }
    // The time that places the run on the clock: when it ended, else when it started.
    std::string When() const { return finishedAt.value_or(startedAt.value_or("")); }
};

// The run's started JSON Lines record (event "started", time startedAt), one line ending in
// '\n': written before the start frame.
std::string StartedJsonLine(const RunRow& row);

// The run as a final JSON Lines record (event "finished"), one line ending in '\n': what a run
// whose final row could not reach the database keeps until it can.
std::string FinalJsonLine(const RunRow& row);

// Sets the unit's fields (unit, serial, port, vendor, product, usb) from what the OS said of
// the drive.
void SetUnit(RunRow& row, const DriveIdentity& identity);

// The unit of the run (see UnitIdentity): its Key() follows the unit from station to station.
UnitIdentity UnitOf(const RunRow& row);
