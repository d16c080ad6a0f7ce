#pragma once
// The line lead's view of the records: yield per image, per station and per hour, failures by
// message, units that failed more than once, and runs that started but never ended. Written as
// a text table, as JSON, or as one self-contained HTML page (no script, nothing fetched) with an
// SVG chart of units per hour, ok and failed stacked.

#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "ledger/RunRow.h"

struct YieldCounts {
    int runs = 0;
    int ok = 0;
    int failed = 0;
    int cancelled = 0;
    int declined = 0;
    int interrupted = 0;

    void Count(const RunRow& row);
    // Runs that tried the unit: declined runs never sent a start frame.
    int Attempts() const { return ok + failed + cancelled + interrupted; }
    // ok / attempts in percent; negative when nothing was attempted.
    double YieldPercent() const;
};

struct RepeatFailure {
    std::string unit;  // the serial, or "<port>@<station>" for a unit known by its fixture
    int failures = 0;
    std::vector<std::string> stations;
    std::string lastResult;  // of the unit's latest run
};

class YieldReport {
public:
    explicit YieldReport(const std::vector<RunRow>& rows, int skippedLines = 0);

    std::string ToText() const;
    nlohmann::ordered_json ToJson() const;
    std::string ToHtml() const;

    const YieldCounts& Totals() const { return m_total; }

private:
    struct Group {
        std::string key;
        std::string label;
        YieldCounts counts;
    };
    static Group& GroupFor(std::vector<Group>& groups, const std::string& key,
                           const std::string& label);
    std::string Chart() const;

    YieldCounts m_total;
    std::vector<Group> m_images;    // by SHA-256
    std::vector<Group> m_stations;  // by station name
    std::vector<Group> m_hours;     // by "YYYY-MM-DDTHH", every hour from the first to the last
    std::vector<std::pair<std::string, int>> m_failures;  // message, failed runs; most first
    std::vector<RepeatFailure> m_repeats;
    std::vector<RunRow> m_interrupted;
    int m_skipped = 0;
};
