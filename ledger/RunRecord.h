#pragma once
// A run in a production record: what was flashed to which unit, from which file, and how it
// ended. Each run is written as JSON Lines in two phases (see JsonLinesLedger): a "started"
// line before the start frame, and the final line when the run has ended. A started line
// without a final line of the same run means the run was interrupted.

#include <optional>
#include <string>

#include "device/DriveIdentity.h"
#include "ledger/RunRow.h"

struct RunRecord {
    std::string run;      // 32 lower-case hex digits, new for every run (see NewRunId)
    std::string station;  // --station, by default the host name
    std::optional<std::string> startedAt;  // when the started line was written; null without
    // Another attached unit had the same serial number at the time.
    bool duplicateSerial = false;
    // Units are told apart by attachment (--identity attachment): claims go by station and port.
    bool byAttachment = false;
    // --lot and --operator: the work order and the person, null when not given.
    std::optional<std::string> lot;
    std::optional<std::string> person;
    std::string time;  // UTC, ISO 8601 ("2024-05-01T12:34:56.789Z"); see UtcNow
    std::optional<std::string> drive;
    DriveIdentity identity;
    std::string family;  // from the image's trailer; a run that went on matched the device
    std::string chipId;
    unsigned bootType = 0;
    // The version the device reported before the run; "" for a device with no program, nothing
    // when the run never got that far.
    std::optional<std::string> versionBefore;
    std::string file;
    std::string sha256;  // of the file as loaded
    std::string type;    // "bin" or "hex"
    unsigned startBlock = 0;
    unsigned endBlock = 0;
    int blocksSent = 0;
    double seconds = 0.0;
    std::string result;  // "ok", "failed", "declined", "cancelled"
    std::string code;    // stable, with the result (see RunResult)
    std::string detail;  // what goes with the code (see RunResult); "" when none
    std::string message;

    // The final line ("event":"finished"; time is when the run ended), ending in '\n'.
    // Written by FinalJsonLine, the one writer of final lines (the unsent rows use it too).
    std::string ToJsonLine() const;
    // The run as the records read it back (a database row); the final fields only when final.
    RunRow ToRow(bool final) const;
    // The started line (time is now, the start frame is next), ending in '\n'.
    std::string StartedJsonLine() const;

    static std::string UtcNow();
};
