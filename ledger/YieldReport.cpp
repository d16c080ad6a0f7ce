#include "ledger/YieldReport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <tuple>

#include "ledger/PrintableText.h"

namespace {

using Json = nlohmann::ordered_json;

const char* const kNotRecorded =
    "Not in the records: units held back after too many failures and units left alone as "
    "already upgraded are decided before a run starts and leave no run record (the station's "
    "--events stream has them)";

// Lists this long are shown whole in JSON; text and pages show the first ones and say so.
constexpr std::size_t kListRows = 100;
// A shift (two days) is shown per hour; up to four months per day; longer per month.
constexpr long long kHourlyHours = 48;
constexpr long long kDailyDays = 120;

// "YYYY-MM-DD..." to days since 1970; false for anything else.
bool DaysOf(const std::string& time, long long* days) {
    int y = 0;
    unsigned m = 0, d = 0;
    if (time.size() < 10 || std::sscanf(time.c_str(), "%4d-%2u-%2u", &y, &m, &d) != 3) return false;
    if (m < 1 || m > 12 || d < 1 || d > 31) return false;
    *days = DaysFromCivil(y, m, d);
    return true;
}

bool HoursOf(const std::string& time, long long* hours) {
    long long days = 0;
    unsigned h = 0;
    if (!DaysOf(time, &days) || time.size() < 13 || time[10] != 'T' ||
        std::sscanf(time.c_str() + 11, "%2u", &h) != 1 || h > 23)
        return false;
    *hours = days * 24 + h;
    return true;
}

std::string HourKey(long long hours) {
    const long long days = hours >= 0 ? hours / 24 : (hours - 23) / 24;
    char clock[8];
    std::snprintf(clock, sizeof clock, "T%02d", static_cast<int>(hours - days * 24));
    return CivilFromDays(days) + clock;
}

std::string BucketLabel(const std::string& key) {
    return key.size() == 13 ? key.substr(0, 10) + " " + key.substr(11) + ":00" : key;
}

std::string BaseName(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Percent(double value) {
    if (value < 0) return "-";
    char text[16];
    std::snprintf(text, sizeof text, "%.1f %%", value);
    return text;
}

std::string Percent(const YieldCounts& counts) {
    return Percent(counts.YieldPercent());
}

double Ratio(int part, int whole) {
    return whole == 0 ? -1.0 : 100.0 * part / whole;
}

std::string Seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", seconds);
    return text;
}

double Rounded(double value) {
    return std::round(value * 1000.0) / 1000.0;
}

std::string Join(const std::vector<std::string>& parts, const char* separator) {
    std::string out;
    for (const std::string& part : parts) out += (out.empty() ? "" : separator) + part;
    return out;
}

std::string ImageLabel(const std::string& sha, const std::string& file) {
    if (sha.empty()) return "(unknown)";
    return BaseName(file) + " (" + sha.substr(0, std::min<std::size_t>(12, sha.size())) + ")";
}

std::string StationLabel(const std::string& station) {
    return station.empty() ? "(not named)" : station;
}

// Counts and percentages are right-aligned; names and times are not.
bool IsFigure(const std::string& cell) {
    return !cell.empty() && cell.find_first_not_of("0123456789. %-") == std::string::npos;
}

using Rows = std::vector<std::vector<std::string>>;

// A plain text table: columns as wide as their widest cell, numbers right-aligned.
std::string TextTable(const std::vector<std::string>& header, const Rows& body) {
    Rows rows{header};
    for (const auto& row : body) {
        rows.emplace_back();
        for (const std::string& cell : row) rows.back().push_back(PrintableText(cell));
    }
    std::vector<std::size_t> widths;
    for (const auto& row : rows) {
        widths.resize(std::max(widths.size(), row.size()));
        for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
    }
    std::string out;
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            const std::string pad(widths[i] - row[i].size(), ' ');
            const bool number = i > 0 && IsFigure(row[i]);
            line += (i ? "  " : "") + (number ? pad + row[i] : row[i] + pad);
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        out += "  " + line + "\n";
    }
    return out;
}

const std::vector<std::string> kCountHeader = {"runs",     "ok",          "failed", "cancelled",
                                               "declined", "interrupted", "yield"};

std::vector<std::string> CountCells(const std::string& label, const YieldCounts& c) {
    return {label,
            std::to_string(c.runs),
            std::to_string(c.ok),
            std::to_string(c.failed),
            std::to_string(c.cancelled),
            std::to_string(c.declined),
            std::to_string(c.interrupted),
            Percent(c)};
}

std::vector<std::string> WithCountHeader(const char* first) {
    std::vector<std::string> header{first};
    header.insert(header.end(), kCountHeader.begin(), kCountHeader.end());
    return header;
}

Json CountJson(const YieldCounts& c) {
    Json out;
    out["runs"] = c.runs;
    out["ok"] = c.ok;
    out["failed"] = c.failed;
    out["cancelled"] = c.cancelled;
    out["declined"] = c.declined;
    out["interrupted"] = c.interrupted;
    const double yield = c.YieldPercent();
    out["yieldPercent"] = yield < 0 ? Json(nullptr) : Json(yield);
    return out;
}

Json CycleJson(const CycleTime& c) {
    return {{"runs", c.runs},
            {"meanSeconds", Rounded(c.Mean())},
            {"longestSeconds", Rounded(c.longestSeconds)}};
}

std::string Escape(const std::string& raw) {
    const std::string text = PrintableText(raw);
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string HtmlTable(const std::vector<std::string>& header, const Rows& rows) {
    std::string out = "<div class=\"scroll\"><table>\n<tr>";
    for (const std::string& cell : header) out += "<th>" + Escape(cell) + "</th>";
    out += "</tr>\n";
    for (const auto& row : rows) {
        out += "<tr>";
        for (std::size_t i = 0; i < row.size(); ++i)
            out += std::string(i && IsFigure(row[i]) ? "<td class=\"n\">" : "<td>") +
                   Escape(row[i]) + "</td>";
        out += "</tr>\n";
    }
    return out + "</table></div>\n";
}

using Section = ReportSection;

std::vector<std::string> UnitCells(const UnitLine& unit) {
    return {unit.unit,
            std::to_string(unit.counts.Attempts()),
            std::to_string(unit.counts.failed),
            std::to_string(unit.counts.cancelled),
            std::to_string(unit.counts.interrupted),
            Join(unit.stations, ", "),
            unit.lastSeen};
}

Json UnitJson(const UnitLine& unit) {
    Json out{{"unit", unit.unit},
             {"unitKey", unit.unitKey},
             {"tries", unit.counts.Attempts()},
             {"failures", unit.counts.failed},
             {"cancelled", unit.counts.cancelled},
             {"interrupted", unit.counts.interrupted},
             {"passed", unit.counts.ok > 0},
             {"stations", unit.stations},
             {"firstSeen", unit.firstSeen},
             {"lastSeen", unit.lastSeen}};
    return out;
}

// total: how many the list has in all (the tally keeps the first YieldTally::kListLimit).
Section UnitSection(const std::string& title, const std::vector<UnitLine>& units, int total) {
    Section section{
        title, {"unit", "tries", "failed", "cancelled", "interrupted", "stations", "last run"}, {}};
    for (std::size_t i = 0; i < units.size() && i < kListRows; ++i)
        section.rows.push_back(UnitCells(units[i]));
    section.more = static_cast<std::size_t>(total) - section.rows.size();
    return section;
}

// Most failures first; messages alphabetically among equals.
std::vector<std::pair<std::string, int>> SortedFailures(const YieldTally& t) {
    std::vector<std::pair<std::string, int>> failures(t.failures.begin(), t.failures.end());
    std::stable_sort(failures.begin(), failures.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    return failures;
}

// The tables after the summary, in the order both the text and the page show them.
std::vector<Section> Tables(const YieldTally& t, const std::string& periodTitle,
                            const char* periodColumn, const std::vector<std::string>& periodKeys,
                            const std::vector<YieldCounts>& periodCounts,
                            const std::vector<std::string>& hourKeys,
                            const std::vector<YieldCounts>& hourCounts) {
    std::vector<Section> list;
    Section images{"Yield per image", WithCountHeader("image"), {}};
    for (const auto& [sha, image] : t.images)
        images.rows.push_back(CountCells(ImageLabel(sha, image.file), image.counts));
    list.push_back(images);
    Section stations{"Yield per station", WithCountHeader("station"), {}};
    stations.header.push_back("mean s");
    stations.header.push_back("longest s");
    for (const auto& [name, station] : t.stations) {
        stations.rows.push_back(CountCells(StationLabel(name), station.counts));
        stations.rows.back().push_back(Seconds(station.cycle.Mean()));
        stations.rows.back().push_back(Seconds(station.cycle.longestSeconds));
    }
    list.push_back(stations);
    // Lots only where a station was given --lot.
    if (t.lots.size() > 1 || (t.lots.size() == 1 && !t.lots.begin()->first.empty())) {
        Section lots{"Yield per lot", WithCountHeader("lot"), {}};
        for (const auto& [lot, counts] : t.lots)
            lots.rows.push_back(CountCells(lot.empty() ? "(no lot)" : lot, counts));
        list.push_back(lots);
    }
    Section periods{periodTitle, WithCountHeader(periodColumn), {}};
    for (std::size_t i = 0; i < periodKeys.size(); ++i)
        periods.rows.push_back(CountCells(periodKeys[i], periodCounts[i]));
    list.push_back(periods);
    if (!hourKeys.empty()) {
        Section hours{"Yield per hour (UTC)", WithCountHeader("hour"), {}};
        for (std::size_t i = 0; i < hourKeys.size(); ++i)
            hours.rows.push_back(CountCells(BucketLabel(hourKeys[i]), hourCounts[i]));
        list.push_back(hours);
    }
    Section slots{"Failures by station and slot",
                  {"station", "slot", "tries", "failed", "interrupted", "yield"},
                  {}};
    for (const auto& [slot, counts] : t.slots) {
        if (counts.failed + counts.interrupted == 0) continue;
        slots.rows.push_back({StationLabel(slot.first), slot.second.empty() ? "-" : slot.second,
                              std::to_string(counts.Attempts()), std::to_string(counts.failed),
                              std::to_string(counts.interrupted), Percent(counts)});
    }
    list.push_back(slots);
    Section causes{"Failures by cause, station and slot",
                   {"station", "slot", "cause", "runs", "latest detail"},
                   {}};
    for (const auto& [key, cause] : t.causes)
        causes.rows.push_back({StationLabel(std::get<0>(key)),
                               std::get<1>(key).empty() ? "-" : std::get<1>(key), std::get<2>(key),
                               std::to_string(cause.runs),
                               cause.detail.empty() ? "-" : cause.detail});
    list.push_back(causes);
    Section messages{"Failures by message", {"message", "runs"}, {}};
    for (const auto& [message, count] : SortedFailures(t))
        messages.rows.push_back(
            {message.empty() ? "(no message)" : message, std::to_string(count)});
    list.push_back(messages);
    list.push_back(
        UnitSection("Units to rework (tried, never ok)", t.rework, t.unitsTried - t.unitsPassed));
    list.push_back(UnitSection("Units that failed more than once", t.repeats, t.unitsFailedTwice));
    Section interrupted{
        "Interrupted runs (started, never ended)", {"started", "station", "unit", "run"}, {}};
    for (std::size_t i = 0; i < t.interrupted.size() && i < kListRows; ++i) {
        const InterruptedRun& run = t.interrupted[i];
        interrupted.rows.push_back({run.startedAt, run.station, run.unit, run.run});
    }
    interrupted.more = static_cast<std::size_t>(t.totals.interrupted) - interrupted.rows.size();
    list.push_back(interrupted);
    return list;
}

}  // namespace

YieldReport::YieldReport(YieldTally tally, std::string generatedAt, ReportFilter filter)
    : m_tally(std::move(tally)),
      m_generatedAt(std::move(generatedAt)),
      m_filter(std::move(filter)) {}

YieldReport::YieldReport(const std::vector<RunRow>& rows, int skippedLines) {
    YieldFold fold;
    for (const RunRow& row : rows) fold.Add(row);
    m_tally = fold.Finish();
    m_tally.skippedLines = skippedLines;
}

YieldReport::Span YieldReport::ChartSpan() const {
    long long first = 0, last = 0;
    if (!HoursOf(m_tally.first, &first) || !HoursOf(m_tally.last, &last)) return Span::Hour;
    if (last - first < kHourlyHours) return Span::Hour;
    return last / 24 - first / 24 < kDailyDays ? Span::Day : Span::Month;
}

std::vector<YieldReport::Bucket> YieldReport::Buckets(Span span) const {
    std::map<long long, YieldCounts> by;
    for (const auto& [hourKey, counts] : m_tally.hours) {
        long long hours = 0;
        if (!HoursOf(hourKey + ":00", &hours)) continue;
        const long long days = hours >= 0 ? hours / 24 : (hours - 23) / 24;
        long long key = span == Span::Hour ? hours : days;
        if (span == Span::Month) {
            const std::string civil = CivilFromDays(days);
            key = std::stoll(civil.substr(0, 4)) * 12 + std::stoll(civil.substr(5, 2)) - 1;
        }
        by[key].Add(counts);
    }
    std::vector<Bucket> out;
    if (by.empty()) return out;
    const long long first = by.begin()->first, last = by.rbegin()->first;
    // Idle hours and days show as empty bars, not as nothing; a long span of hours (the JSON's
    // per-hour list of a year) keeps only the hours with runs.
    const bool fill = span != Span::Hour || last - first < 24 * 7;
    for (long long k = first; k <= last; ++k) {
        const auto it = by.find(k);
        if (it == by.end() && !fill) continue;
        std::string key;
        if (span == Span::Hour) {
            key = HourKey(k);
        } else if (span == Span::Day) {
            key = CivilFromDays(k);
        } else {
            char month[48];
            std::snprintf(month, sizeof month, "%04lld-%02lld", k / 12, k % 12 + 1);
            key = month;
        }
        out.push_back({key, it == by.end() ? YieldCounts{} : it->second});
    }
    return out;
}

std::vector<ReportSection> YieldReport::Sections() const {
    const Span span = ChartSpan();
    const bool monthly = span == Span::Month;
    std::vector<std::string> periodKeys, hourKeys;
    std::vector<YieldCounts> periodCounts, hourCounts;
    for (const Bucket& b : Buckets(monthly ? Span::Month : Span::Day)) {
        periodKeys.push_back(b.key);
        periodCounts.push_back(b.counts);
    }
    if (span == Span::Hour) {
        for (const Bucket& b : Buckets(Span::Hour)) {
            hourKeys.push_back(b.key);
            hourCounts.push_back(b.counts);
        }
    }
    return Tables(m_tally, monthly ? "Yield per month (UTC)" : "Yield per day (UTC)",
                  monthly ? "month" : "day", periodKeys, periodCounts, hourKeys, hourCounts);
}

std::vector<std::string> YieldReport::Summary() const {
    const YieldTally& t = m_tally;
    const YieldCounts& c = t.totals;
    std::vector<std::string> lines;
    lines.push_back(
        "Made " + m_generatedAt + ". " +
        (t.first.empty() ? std::string("No runs") : "Runs from " + t.first + " to " + t.last) +
        (m_filter.Any() ? " (" + m_filter.Describe() + ")" : std::string()) + ".");
    lines.push_back("Runs: " + std::to_string(c.runs) + " (" + std::to_string(c.ok) + " ok, " +
                    std::to_string(c.failed) + " failed, " + std::to_string(c.cancelled) +
                    " cancelled, " + std::to_string(c.declined) + " declined, " +
                    std::to_string(c.interrupted) + " interrupted), yield " + Percent(c));
    lines.push_back("Units: " + std::to_string(t.unitsTried) + " tried, " +
                    std::to_string(t.unitsPassed) + " passed (" +
                    Percent(Ratio(t.unitsPassed, t.unitsTried)) + "), first-pass yield " +
                    Percent(Ratio(t.unitsFirstPass, t.unitsTried)) + ", " +
                    std::to_string(t.unitsTried - t.unitsPassed) + " to rework");
    lines.push_back("Cycle time: " + Seconds(t.cycle.Mean()) + " s mean, " +
                    Seconds(t.cycle.longestSeconds) + " s longest (" +
                    std::to_string(t.cycle.runs) + " finished runs that tried a unit)");
    if (t.skippedLines > 0)
        lines.push_back("Skipped " + std::to_string(t.skippedLines) +
                        " lines that are not records");
    if (t.duplicates > 0)
        lines.push_back("Dropped " + std::to_string(t.duplicates) +
                        (t.duplicates == 1 ? " run" : " runs") +
                        " found again in another source (the same run id): each run counts once");
    lines.push_back(kNotRecorded);
    return lines;
}

std::string YieldReport::ToText() const {
    std::string out = "Kestrel yield report\n";
    for (const std::string& line : Summary()) out += PrintableText(line) + "\n";
    for (const Section& s : Sections()) {
        out += "\n" + s.title + "\n";
        if (s.rows.empty()) {
            out += "  none\n";
            continue;
        }
        out += TextTable(s.header, s.rows);
        if (s.more)
            out += "  ... and " + std::to_string(s.more) + " more (--json lists the first " +
                   std::to_string(YieldTally::kListLimit) + ")\n";
    }
    return out;
}

Json YieldReport::ToJson() const {
    const YieldTally& t = m_tally;
    Json out;
    out["generatedAt"] = m_generatedAt;
    out["range"] = {{"first", t.first.empty() ? Json(nullptr) : Json(t.first)},
                    {"last", t.last.empty() ? Json(nullptr) : Json(t.last)}};
    out["filter"] = {{"since", m_filter.since ? Json(*m_filter.since) : Json(nullptr)},
                     {"until", m_filter.until ? Json(*m_filter.until) : Json(nullptr)},
                     {"stations", m_filter.stations},
                     {"image", m_filter.image ? Json(*m_filter.image) : Json(nullptr)}};
    out["totals"] = CountJson(t.totals);
    Json causes = Json::object();
    for (const auto& [code, count] : t.totals.causes) causes[code] = count;
    out["totals"]["causes"] = causes;
    out["duplicatesDropped"] = t.duplicates;
    const double tried = Ratio(t.unitsPassed, t.unitsTried);
    const double first = Ratio(t.unitsFirstPass, t.unitsTried);
    out["units"] = {{"tried", t.unitsTried},
                    {"passed", t.unitsPassed},
                    {"firstPass", t.unitsFirstPass},
                    {"toRework", t.unitsTried - t.unitsPassed},
                    {"failedTwice", t.unitsFailedTwice},
                    {"yieldPercent", tried < 0 ? Json(nullptr) : Json(tried)},
                    {"firstPassYieldPercent", first < 0 ? Json(nullptr) : Json(first)}};
    out["cycleTime"] = CycleJson(t.cycle);
    out["skippedLines"] = t.skippedLines;
    out["notRecorded"] = {"heldBack", "alreadyUpgraded"};
    Json images = Json::array();
    for (const auto& [sha, image] : t.images) {
        Json item;
        item["sha256"] = sha.empty() ? "(unknown)" : sha;
        item["image"] = ImageLabel(sha, image.file);
        item.update(CountJson(image.counts));
        images.push_back(item);
    }
    out["byImage"] = images;
    Json stations = Json::array();
    for (const auto& [name, station] : t.stations) {
        Json item;
        item["station"] = name;
        item.update(CountJson(station.counts));
        item["cycleTime"] = CycleJson(station.cycle);
        stations.push_back(item);
    }
    out["byStation"] = stations;
    Json slots = Json::array();
    for (const auto& [slot, counts] : t.slots) {
        Json item;
        item["station"] = slot.first;
        item["slot"] = slot.second;
        item.update(CountJson(counts));
        slots.push_back(item);
    }
    out["bySlot"] = slots;
    Json lots = Json::array();
    for (const auto& [lot, counts] : t.lots) {
        Json item;
        item["lot"] = lot.empty() ? Json(nullptr) : Json(lot);
        item.update(CountJson(counts));
        lots.push_back(item);
    }
    out["byLot"] = lots;
    const auto buckets = [this](Span span, const char* name, const char* suffix) {
        Json list = Json::array();
        for (const Bucket& b : Buckets(span)) {
            Json item;
            item[name] = b.key + suffix;
            item.update(CountJson(b.counts));
            list.push_back(item);
        }
        return list;
    };
    out["byDay"] = buckets(Span::Day, "day", "");
    out["byHour"] = buckets(Span::Hour, "hour", ":00Z");
    Json failures = Json::array();
    for (const auto& [message, count] : SortedFailures(t))
        failures.push_back({{"message", message}, {"runs", count}});
    out["failuresByMessage"] = failures;
    Json byCause = Json::array();
    for (const auto& [key, cause] : t.causes)
        byCause.push_back(
            {{"station", std::get<0>(key)},
             {"slot", std::get<1>(key).empty() ? Json(nullptr) : Json(std::get<1>(key))},
             {"code", std::get<2>(key)},
             {"runs", cause.runs},
             {"detail", cause.detail}});
    out["failuresByCause"] = byCause;
    Json rework = Json::array();
    for (const UnitLine& unit : t.rework) rework.push_back(UnitJson(unit));
    out["rework"] = rework;
    Json repeats = Json::array();
    for (const UnitLine& unit : t.repeats) repeats.push_back(UnitJson(unit));
    out["repeatFailures"] = repeats;
    Json interrupted = Json::array();
    for (const InterruptedRun& run : t.interrupted)
        interrupted.push_back({{"run", run.run},
                               {"station", run.station},
                               {"unit", run.unit},
                               {"startedAt", run.startedAt}});
    out["interrupted"] = interrupted;
    return out;
}

std::string YieldReport::Chart() const {
    // The runs that tried a unit, ok (green) below the rest (red): one bar per hour, day or
    // month.
    const Span span = ChartSpan();
    const std::vector<Bucket> buckets = Buckets(span);
    constexpr int kLeft = 48, kTop = 16, kPlotHeight = 200, kBottom = 56;
    int most = 1;
    for (const Bucket& b : buckets) most = std::max(most, b.counts.Attempts());
    // A round scale of at most five grid lines: 1, 2, 5, 10, 20, 50, ... per line.
    int step = 1;
    for (int i = 1; most > step * 5; ++i) {
        int power = 1;
        for (int k = 0; k < i / 3; ++k) power *= 10;
        step = (i % 3 == 0 ? 1 : i % 3 == 1 ? 2 : 5) * power;
    }
    const int scaleMax = (most + step - 1) / step * step;
    const int barWidth = buckets.size() > 48 ? 8 : 24;
    const int gap = barWidth / 3;
    const int plotWidth =
        std::max<int>(480, static_cast<int>(buckets.size()) * (barWidth + gap) + gap);
    const int width = kLeft + plotWidth + 16;
    const int height = kTop + kPlotHeight + kBottom;
    const auto y = [&](int value) { return kTop + kPlotHeight - value * kPlotHeight / scaleMax; };
    const char* per = span == Span::Hour ? "hour" : span == Span::Day ? "day" : "month";
    // Scales down to the page's width (a phone) by its viewBox.
    std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(width) +
                      "\" height=\"" + std::to_string(height) + "\" viewBox=\"0 0 " +
                      std::to_string(width) + " " + std::to_string(height) +
                      "\" role=\"img\" aria-label=\"Runs that tried a unit per " + per +
                      ", ok and not ok\">\n";
    for (int value = 0; value <= scaleMax; value += step) {
        const std::string yy = std::to_string(y(value));
        svg += "<line x1=\"" + std::to_string(kLeft) + "\" y1=\"" + yy + "\" x2=\"" +
               std::to_string(kLeft + plotWidth) + "\" y2=\"" + yy + "\" class=\"grid\"/>\n";
        svg += "<text x=\"" + std::to_string(kLeft - 6) + "\" y=\"" + std::to_string(y(value) + 4) +
               "\" text-anchor=\"end\">" + std::to_string(value) + "</text>\n";
    }
    int x = kLeft + gap;
    std::string lastGroup;
    for (const Bucket& b : buckets) {
        const int ok = b.counts.ok;
        const int bad = b.counts.Attempts() - ok;
        const std::string title = "<title>" + Escape(BucketLabel(b.key)) +
                                  " UTC: " + std::to_string(ok) + " ok, " + std::to_string(bad) +
                                  " failed</title>";
        if (ok > 0)
            svg += "<rect class=\"ok\" x=\"" + std::to_string(x) + "\" y=\"" +
                   std::to_string(y(ok)) + "\" width=\"" + std::to_string(barWidth) +
                   "\" height=\"" + std::to_string(y(0) - y(ok)) + "\">" + title + "</rect>\n";
        if (bad > 0)
            svg += "<rect class=\"failed\" x=\"" + std::to_string(x) + "\" y=\"" +
                   std::to_string(y(ok + bad)) + "\" width=\"" + std::to_string(barWidth) +
                   "\" height=\"" + std::to_string(y(ok) - y(ok + bad)) + "\">" + title +
                   "</rect>\n";
        // Hours are labelled by their clock and grouped under their day; days by their day of
        // the month under their month; months by their number under their year.
        std::string group, tick;
        if (span == Span::Hour) {
            group = b.key.substr(0, 10);
            tick = b.key.substr(11);
        } else if (span == Span::Day) {
            group = b.key.substr(0, 7);
            tick = b.key.substr(8);
        } else {
            group = b.key.substr(0, 4);
            tick = b.key.substr(5);
        }
        const bool labelled =
            barWidth >= 24 || group != lastGroup || (span == Span::Hour && tick == "00") ||
            (span == Span::Day && (tick == "01" || tick == "08" || tick == "15" || tick == "22"));
        if (labelled) {
            const int cx = x + barWidth / 2;
            svg += "<text x=\"" + std::to_string(cx) + "\" y=\"" + std::to_string(y(0) + 16) +
                   "\" text-anchor=\"middle\">" + tick + "</text>\n";
            if (group != lastGroup)
                svg += "<text x=\"" + std::to_string(cx) + "\" y=\"" + std::to_string(y(0) + 32) +
                       "\" text-anchor=\"start\">" + Escape(group) + "</text>\n";
        }
        lastGroup = group;
        x += barWidth + gap;
    }
    svg += "<line x1=\"" + std::to_string(kLeft) + "\" y1=\"" + std::to_string(y(0)) + "\" x2=\"" +
           std::to_string(kLeft + plotWidth) + "\" y2=\"" + std::to_string(y(0)) +
           "\" class=\"axis\"/>\n";
    const int legendY = height - 10;
    svg += "<rect class=\"ok\" x=\"" + std::to_string(kLeft) + "\" y=\"" +
           std::to_string(legendY - 10) + "\" width=\"12\" height=\"12\"/><text x=\"" +
           std::to_string(kLeft + 18) + "\" y=\"" + std::to_string(legendY) + "\">ok</text>\n";
    svg += "<rect class=\"failed\" x=\"" + std::to_string(kLeft + 60) + "\" y=\"" +
           std::to_string(legendY - 10) + "\" width=\"12\" height=\"12\"/><text x=\"" +
           std::to_string(kLeft + 78) + "\" y=\"" + std::to_string(legendY) +
           "\">failed, cancelled or interrupted</text>\n";
    return svg + "</svg>\n";
}

std::string YieldReport::ToHtml() const {
    std::string out =
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
        "<title>Kestrel yield report</title>\n<style>\n"
        "body{font-family:sans-serif;margin:16px;color:#222}\n"
        "h1{font-size:22px}h2{font-size:17px;margin-top:28px}\n"
        ".scroll{overflow-x:auto;max-width:100%}\n"
        "table{border-collapse:collapse;margin:8px 0}\n"
        "th,td{border:1px solid #ccc;padding:3px 10px;text-align:left;white-space:nowrap}\n"
        "th{background:#f0f0f0}td.n{text-align:right}\n"
        "svg{max-width:100%;height:auto}\n"
        "svg text{font-size:11px;fill:#333}\n"
        "svg .ok{fill:#3a9a4a}svg .failed{fill:#d0453a}\n"
        "svg .grid{stroke:#e2e2e2}svg .axis{stroke:#555}\n"
        "</style>\n</head>\n<body>\n<h1>Kestrel yield report</h1>\n";
    for (const std::string& line : Summary()) out += "<p>" + Escape(line) + "</p>\n";
    const Span span = ChartSpan();
    const char* per = span == Span::Hour ? "hour" : span == Span::Day ? "day" : "month";
    out += std::string("<h2>Runs that tried a unit, per ") + per +
           " (UTC): ok, and failed, cancelled or interrupted</h2>\n<div class=\"scroll\">" +
           Chart() + "</div>\n";
    for (const Section& s : Sections()) {
        out += "<h2>" + Escape(s.title) + "</h2>\n";
        if (s.rows.empty()) {
            out += "<p>None.</p>\n";
            continue;
        }
        out += HtmlTable(s.header, s.rows);
        if (s.more)
            out += "<p>... and " + std::to_string(s.more) + " more (--json lists the first " +
                   std::to_string(YieldTally::kListLimit) + ").</p>\n";
    }
    return out + "</body>\n</html>\n";
}
