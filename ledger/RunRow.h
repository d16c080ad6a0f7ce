#pragma once
// One run of one unit as the records know it: what the started line (or row) said before the
// start frame, and what the final line said when the run ended. Both the JSON Lines reader and
// the unit database fill this, and the yield report reads only this.

#include <optional>
#include <string>

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

// The run as a final JSON Lines record (event "finished"), one line ending in '\n': what a run
// whose final row could not reach the database keeps until it can.
std::string FinalJsonLine(const RunRow& row);

// The unit of the run (see UnitIdentity): its Key() follows the unit from station to station.
UnitIdentity UnitOf(const RunRow& row);
