#pragma once
// One line of a production record: what was flashed to which unit, from which file, and how it
// ended. Written as one JSON object per line (JSON Lines), appended in one write and flushed to
// disk (see RecordAppend.h); earlier lines are never rewritten.

#include <optional>
#include <string>

#include "device/DriveIdentity.h"

struct RunRecord {
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
    std::string message;

    // The object on one line, ending in '\n'.
    std::string ToJsonLine() const;
    // Appends the line to path; false with the cause in *error.
    bool AppendTo(const std::string& path, std::string* error) const;

    static std::string UtcNow();
};
