#pragma once
// The production manager's view of the records: yield by runs and by units, first-pass yield,
// the units still to rework, failures by message and by station and slot, cycle time, per-day
// (and, for a shift, per-hour) totals, interrupted runs. Written as a text table, as JSON, or as
// one self-contained HTML page (no script, nothing fetched; it fits a phone's screen) with an SVG
// chart of the runs that tried a unit, ok and failed stacked, per hour for a shift and per day
// (per month beyond four months) for longer ranges. Every text from the records is shown
// printable only (see PrintableText.h).

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "ledger/ReportFilter.h"
#include "ledger/RunRow.h"
#include "ledger/YieldTally.h"

// One table of the report, shown the same way as text and on the page.
struct ReportSection {
    std::string title;
    std::vector<std::string> header;
    std::vector<std::vector<std::string>> rows;
    std::size_t more = 0;  // rows left out (the JSON lists them all)
};

class YieldReport {
public:
    // generatedAt: when the report was made (UTC, ISO 8601); filter: what bounded the runs.
    YieldReport(YieldTally tally, std::string generatedAt, ReportFilter filter = {});
    // Every row counted (the rows of one shift in memory; tests and small callers).
    explicit YieldReport(const std::vector<RunRow>& rows, int skippedLines = 0);

    std::string ToText() const;
    nlohmann::ordered_json ToJson() const;
    std::string ToHtml() const;

    const YieldCounts& Totals() const { return m_tally.totals; }
    const YieldTally& Tally() const { return m_tally; }

private:
    struct Bucket {
        std::string key;  // "YYYY-MM-DDTHH", "YYYY-MM-DD" or "YYYY-MM"
        YieldCounts counts;
    };
    enum class Span { Hour, Day, Month };
    std::vector<Bucket> Buckets(Span span) const;
    Span ChartSpan() const;
    std::string Chart() const;
    std::vector<ReportSection> Sections() const;
    std::vector<std::string> Summary() const;

    YieldTally m_tally;
    std::string m_generatedAt;
    ReportFilter m_filter;
};
