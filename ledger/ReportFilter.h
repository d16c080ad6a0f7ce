#pragma once
// Which runs a report counts: a time window (UTC), stations, an image. The same rules are applied
// by the database's queries (as SQL) and by the JSON Lines reader (Matches), so both count the
// same runs. A run is placed on the clock by when it ended, else when it started.

#include <optional>
#include <string>
#include <vector>

#include "ledger/RunRow.h"

struct ReportFilter {
    // Lower bound, compared with the run's ISO 8601 time as text: "YYYY-MM-DD[THH:MM[:SS]]".
    std::optional<std::string> since;
    // Upper bound, exclusive, in the same form: a date given on the command line becomes the
    // next day, so that day is counted whole.
    std::optional<std::string> until;
    std::vector<std::string> stations;  // any of these; none: every station
    // A SHA-256 prefix (hex, any case) or a file name (with or without its folder).
    std::optional<std::string> image;

    // Parses --since / --until ("2026-12-08", "2026-12-08T05:00", "2026-12-08 05:00:30Z").
    // False, with the reason in *error, for anything else.
    bool SetSince(const std::string& text, std::string* error);
    bool SetUntil(const std::string& text, std::string* error);

    bool Matches(const RunRow& row) const;
    bool Any() const { return since || until || !stations.empty() || image; }
    // The image argument lower-cased when it can be a SHA-256 prefix; "" otherwise.
    std::string ShaPrefix() const;
    // "since 2026-12-01, until 2026-12-08 (excluded), station A, image fw.bin", or "".
    std::string Describe() const;
};

// Days since 1970-01-01 of a proleptic Gregorian date, and back ("YYYY-MM-DD").
long long DaysFromCivil(int year, unsigned month, unsigned day);
std::string CivilFromDays(long long days);
