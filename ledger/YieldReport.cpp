#include "ledger/YieldReport.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

namespace {

using Json = nlohmann::ordered_json;

// Hours are counted on the proleptic Gregorian calendar (days from 1970-01-01), so a gap of
// idle hours shows as empty bars and not as nothing.
long long DaysFromCivil(int y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return static_cast<long long>(era) * 146097 + static_cast<long long>(doe) - 719468;
}

std::string CivilFromHours(long long hours) {
    const long long z = (hours >= 0 ? hours / 24 : (hours - 23) / 24) + 719468;
    const int hour = static_cast<int>(hours - (z - 719468) * 24);
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    const long long y = static_cast<long long>(yoe) + era * 400 + (m <= 2 ? 1 : 0);
    char text[64];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02d", y, m, d, hour);
    return text;
}

// "YYYY-MM-DDTHH..." to hours since 1970; false for anything else.
bool HoursOf(const std::string& time, long long* hours) {
    int y = 0;
    unsigned m = 0, d = 0, h = 0;
    if (time.size() < 13 || std::sscanf(time.c_str(), "%4d-%2u-%2uT%2u", &y, &m, &d, &h) != 4)
        return false;
    if (m < 1 || m > 12 || d < 1 || d > 31 || h > 23) return false;
    *hours = DaysFromCivil(y, m, d) * 24 + h;
    return true;
}

std::string HourLabel(const std::string& key) {
    return key.size() == 13 ? key.substr(0, 10) + " " + key.substr(11) + ":00" : key;
}

std::string BaseName(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Percent(const YieldCounts& counts) {
    const double yield = counts.YieldPercent();
    if (yield < 0) return "-";
    char text[16];
    std::snprintf(text, sizeof text, "%.1f %%", yield);
    return text;
}

std::string Join(const std::vector<std::string>& parts, const char* separator) {
    std::string out;
    for (const std::string& part : parts) out += (out.empty() ? "" : separator) + part;
    return out;
}

// Counts and percentages are right-aligned; names and times are not.
bool IsFigure(const std::string& cell) {
    return !cell.empty() && cell.find_first_not_of("0123456789. %-") == std::string::npos;
}

// A plain text table: columns as wide as their widest cell, numbers right-aligned.
class TextTable {
public:
    explicit TextTable(std::vector<std::string> header) { m_rows.push_back(std::move(header)); }
    void Add(std::vector<std::string> row) { m_rows.push_back(std::move(row)); }
    std::string Render() const {
        std::vector<std::size_t> widths;
        for (const auto& row : m_rows) {
            widths.resize(std::max(widths.size(), row.size()));
            for (std::size_t i = 0; i < row.size(); ++i)
                widths[i] = std::max(widths[i], row[i].size());
        }
        std::string out;
        for (const auto& row : m_rows) {
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

private:
    std::vector<std::vector<std::string>> m_rows;
};

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

std::string Escape(const std::string& text) {
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

std::string HtmlTable(const std::vector<std::string>& header,
                      const std::vector<std::vector<std::string>>& rows) {
    std::string out = "<table>\n<tr>";
    for (const std::string& cell : header) out += "<th>" + Escape(cell) + "</th>";
    out += "</tr>\n";
    for (const auto& row : rows) {
        out += "<tr>";
        for (std::size_t i = 0; i < row.size(); ++i)
            out += std::string(i && IsFigure(row[i]) ? "<td class=\"n\">" : "<td>") +
                   Escape(row[i]) + "</td>";
        out += "</tr>\n";
    }
    return out + "</table>\n";
}

}  // namespace

void YieldCounts::Count(const RunRow& row) {
    ++runs;
    if (row.Interrupted())
        ++interrupted;
    else if (row.result == "ok")
        ++ok;
    else if (row.result == "declined")
        ++declined;
    else if (row.result == "cancelled")
        ++cancelled;
    else
        ++failed;
}

double YieldCounts::YieldPercent() const {
    const int attempts = Attempts();
    return attempts == 0 ? -1.0 : 100.0 * ok / attempts;
}

YieldReport::Group& YieldReport::GroupFor(std::vector<Group>& groups, const std::string& key,
                                          const std::string& label) {
    for (Group& group : groups)
        if (group.key == key) return group;
    groups.push_back({key, label, {}});
    return groups.back();
}

YieldReport::YieldReport(const std::vector<RunRow>& rows, int skippedLines)
    : m_skipped(skippedLines) {
    std::map<std::string, int> failures;
    struct UnitHistory {
        std::string label;
        int failures = 0;
        std::set<std::string> stations;
        std::string lastResult;
    };
    std::map<std::string, UnitHistory> units;
    std::map<long long, YieldCounts> hours;
    for (const RunRow& row : rows) {
        m_total.Count(row);
        const std::string image = row.sha256.empty() ? "(unknown)" : row.sha256;
        GroupFor(m_images, image,
                 BaseName(row.file) + " (" +
                     row.sha256.substr(0, std::min<std::size_t>(12, row.sha256.size())) + ")")
            .counts.Count(row);
        GroupFor(m_stations, row.station, row.station.empty() ? "(not named)" : row.station)
            .counts.Count(row);
        long long hour = 0;
        if (HoursOf(row.When(), &hour)) hours[hour].Count(row);
        if (row.Interrupted()) m_interrupted.push_back(row);
        if (!row.Interrupted() && row.result == "failed") ++failures[row.message];
        const UnitIdentity identity = UnitOf(row);
        UnitHistory& unit = units[identity.Key()];
        if (unit.label.empty()) unit.label = identity.Label();
        if (!row.Interrupted() && row.result == "failed") ++unit.failures;
        if (!row.station.empty()) unit.stations.insert(row.station);
        unit.lastResult = row.Interrupted() ? "interrupted" : row.result;
    }
    std::stable_sort(m_stations.begin(), m_stations.end(),
                     [](const Group& a, const Group& b) { return a.key < b.key; });
    for (const auto& [message, count] : failures) m_failures.emplace_back(message, count);
    std::stable_sort(m_failures.begin(), m_failures.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    for (const auto& [key, unit] : units) {
        if (unit.failures < 2) continue;
        m_repeats.push_back({unit.label, unit.failures,
                             std::vector<std::string>(unit.stations.begin(), unit.stations.end()),
                             unit.lastResult});
    }
    std::stable_sort(m_repeats.begin(), m_repeats.end(),
                     [](const auto& a, const auto& b) { return a.failures > b.failures; });
    if (!hours.empty()) {
        const long long first = hours.begin()->first;
        const long long last = hours.rbegin()->first;
        // A week of hours at most in a row; a longer span shows only the hours with runs.
        const bool fill = last - first < 24 * 7;
        for (long long h = first; h <= last; ++h) {
            const auto it = hours.find(h);
            if (it == hours.end() && !fill) continue;
            const std::string key = CivilFromHours(h);
            m_hours.push_back(
                {key, HourLabel(key), it == hours.end() ? YieldCounts{} : it->second});
        }
    }
}

std::string YieldReport::ToText() const {
    std::string out;
    out += "Runs: " + std::to_string(m_total.runs) + " (" + std::to_string(m_total.ok) + " ok, " +
           std::to_string(m_total.failed) + " failed, " + std::to_string(m_total.cancelled) +
           " cancelled, " + std::to_string(m_total.declined) + " declined, " +
           std::to_string(m_total.interrupted) + " interrupted), yield " + Percent(m_total) + "\n";
    if (m_skipped > 0)
        out += "Skipped " + std::to_string(m_skipped) + " lines that are not records\n";
    const auto groups = [&out](const char* title, const char* first,
                               const std::vector<Group>& list) {
        out += std::string("\n") + title + "\n";
        std::vector<std::string> header{first};
        header.insert(header.end(), kCountHeader.begin(), kCountHeader.end());
        TextTable table(header);
        for (const Group& group : list) table.Add(CountCells(group.label, group.counts));
        out += table.Render();
    };
    groups("Yield per image", "image", m_images);
    groups("Yield per station", "station", m_stations);
    groups("Yield per hour (UTC)", "hour", m_hours);
    out += "\nFailures by message\n";
    if (m_failures.empty()) out += "  none\n";
    if (!m_failures.empty()) {
        TextTable table({"message", "runs"});
        for (const auto& [message, count] : m_failures)
            table.Add({message.empty() ? "(no message)" : message, std::to_string(count)});
        out += table.Render();
    }
    out += "\nUnits that failed more than once\n";
    if (m_repeats.empty()) out += "  none\n";
    if (!m_repeats.empty()) {
        TextTable table({"unit", "failures", "stations", "last run"});
        for (const RepeatFailure& unit : m_repeats)
            table.Add({unit.unit, std::to_string(unit.failures), Join(unit.stations, ", "),
                       unit.lastResult});
        out += table.Render();
    }
    out += "\nInterrupted runs (started, never ended)\n";
    if (m_interrupted.empty()) out += "  none\n";
    if (!m_interrupted.empty()) {
        TextTable table({"started", "station", "unit", "run"});
        for (const RunRow& row : m_interrupted)
            table.Add({row.startedAt.value_or(""), row.station, row.unit, row.run});
        out += table.Render();
    }
    return out;
}

Json YieldReport::ToJson() const {
    Json out;
    out["totals"] = CountJson(m_total);
    out["skippedLines"] = m_skipped;
    Json images = Json::array();
    for (const Group& group : m_images) {
        Json item;
        item["sha256"] = group.key;
        item["image"] = group.label;
        item.update(CountJson(group.counts));
        images.push_back(item);
    }
    out["byImage"] = images;
    Json stations = Json::array();
    for (const Group& group : m_stations) {
        Json item;
        item["station"] = group.key;
        item.update(CountJson(group.counts));
        stations.push_back(item);
    }
    out["byStation"] = stations;
    Json hours = Json::array();
    for (const Group& group : m_hours) {
        Json item;
        item["hour"] = group.key + ":00Z";
        item.update(CountJson(group.counts));
        hours.push_back(item);
    }
    out["byHour"] = hours;
    Json failures = Json::array();
    for (const auto& [message, count] : m_failures)
        failures.push_back({{"message", message}, {"runs", count}});
    out["failuresByMessage"] = failures;
    Json repeats = Json::array();
    for (const RepeatFailure& unit : m_repeats)
        repeats.push_back({{"unit", unit.unit},
                           {"failures", unit.failures},
                           {"stations", unit.stations},
                           {"lastResult", unit.lastResult}});
    out["repeatFailures"] = repeats;
    Json interrupted = Json::array();
    for (const RunRow& row : m_interrupted)
        interrupted.push_back({{"run", row.run},
                               {"station", row.station},
                               {"unit", row.unit},
                               {"startedAt", row.startedAt.value_or("")}});
    out["interrupted"] = interrupted;
    return out;
}

std::string YieldReport::Chart() const {
    // Units per hour, ok (green) below failed (red): one bar per hour.
    constexpr int kLeft = 48, kTop = 16, kPlotHeight = 200, kBottom = 56;
    int most = 1;
    for (const Group& hour : m_hours) most = std::max(most, hour.counts.Attempts());
    // A round scale of at most five grid lines: 1, 2, 5, 10, 20, 50, ... per line.
    int step = 1;
    for (int i = 1; most > step * 5; ++i) {
        int power = 1;
        for (int k = 0; k < i / 3; ++k) power *= 10;
        step = (i % 3 == 0 ? 1 : i % 3 == 1 ? 2 : 5) * power;
    }
    const int scaleMax = (most + step - 1) / step * step;
    const int barWidth = m_hours.size() > 48 ? 8 : 24;
    const int gap = barWidth / 3;
    const int plotWidth =
        std::max<int>(480, static_cast<int>(m_hours.size()) * (barWidth + gap) + gap);
    const int width = kLeft + plotWidth + 16;
    const int height = kTop + kPlotHeight + kBottom;
    const auto y = [&](int value) { return kTop + kPlotHeight - value * kPlotHeight / scaleMax; };
    std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(width) +
                      "\" height=\"" + std::to_string(height) + "\" viewBox=\"0 0 " +
                      std::to_string(width) + " " + std::to_string(height) +
                      "\" role=\"img\" aria-label=\"Units per hour, ok and failed\">\n";
    for (int value = 0; value <= scaleMax; value += step) {
        const std::string yy = std::to_string(y(value));
        svg += "<line x1=\"" + std::to_string(kLeft) + "\" y1=\"" + yy + "\" x2=\"" +
               std::to_string(kLeft + plotWidth) + "\" y2=\"" + yy + "\" class=\"grid\"/>\n";
        svg += "<text x=\"" + std::to_string(kLeft - 6) + "\" y=\"" + std::to_string(y(value) + 4) +
               "\" text-anchor=\"end\">" + std::to_string(value) + "</text>\n";
    }
    int x = kLeft + gap;
    std::string lastDay;
    for (const Group& hour : m_hours) {
        const int ok = hour.counts.ok;
        const int bad = hour.counts.Attempts() - ok;
        const std::string title = "<title>" + Escape(hour.label) + " UTC: " + std::to_string(ok) +
                                  " ok, " + std::to_string(bad) + " failed</title>";
        if (ok > 0)
            svg += "<rect class=\"ok\" x=\"" + std::to_string(x) + "\" y=\"" +
                   std::to_string(y(ok)) + "\" width=\"" + std::to_string(barWidth) +
                   "\" height=\"" + std::to_string(y(0) - y(ok)) + "\">" + title + "</rect>\n";
        if (bad > 0)
            svg += "<rect class=\"failed\" x=\"" + std::to_string(x) + "\" y=\"" +
                   std::to_string(y(ok + bad)) + "\" width=\"" + std::to_string(barWidth) +
                   "\" height=\"" + std::to_string(y(ok) - y(ok + bad)) + "\">" + title +
                   "</rect>\n";
        const std::string day = hour.key.substr(0, 10);
        const std::string clock = hour.key.size() == 13 ? hour.key.substr(11) : "";
        const bool labelled = barWidth >= 24 || clock == "00" || day != lastDay;
        if (labelled) {
            const int cx = x + barWidth / 2;
            svg += "<text x=\"" + std::to_string(cx) + "\" y=\"" + std::to_string(y(0) + 16) +
                   "\" text-anchor=\"middle\">" + clock + "</text>\n";
            if (day != lastDay)
                svg += "<text x=\"" + std::to_string(cx) + "\" y=\"" + std::to_string(y(0) + 32) +
                       "\" text-anchor=\"start\">" + Escape(day) + "</text>\n";
        }
        lastDay = day;
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
        "<title>Kestrel yield report</title>\n<style>\n"
        "body{font-family:sans-serif;margin:24px;color:#222}\n"
        "h1{font-size:22px}h2{font-size:17px;margin-top:28px}\n"
        "table{border-collapse:collapse;margin:8px 0}\n"
        "th,td{border:1px solid #ccc;padding:3px 10px;text-align:left}\n"
        "th{background:#f0f0f0}td.n{text-align:right}\n"
        "svg text{font-size:11px;fill:#333}\n"
        "svg .ok{fill:#3a9a4a}svg .failed{fill:#d0453a}\n"
        "svg .grid{stroke:#e2e2e2}svg .axis{stroke:#555}\n"
        "</style>\n</head>\n<body>\n<h1>Kestrel yield report</h1>\n";
    out += "<p>" + std::to_string(m_total.runs) + " runs: " + std::to_string(m_total.ok) + " ok, " +
           std::to_string(m_total.failed) + " failed, " + std::to_string(m_total.cancelled) +
           " cancelled, " + std::to_string(m_total.declined) + " declined, " +
           std::to_string(m_total.interrupted) + " interrupted. Yield " + Escape(Percent(m_total)) +
           " (ok of the runs that tried a unit).</p>\n";
    out += "<h2>Units per hour (UTC)</h2>\n" + Chart();
    const auto groups = [&out](const char* title, const char* first,
                               const std::vector<Group>& list) {
        std::vector<std::string> header{first};
        header.insert(header.end(), kCountHeader.begin(), kCountHeader.end());
        std::vector<std::vector<std::string>> rows;
        for (const Group& group : list) rows.push_back(CountCells(group.label, group.counts));
        out += std::string("<h2>") + title + "</h2>\n" + HtmlTable(header, rows);
    };
    groups("Yield per image", "image", m_images);
    groups("Yield per station", "station", m_stations);
    groups("Yield per hour (UTC)", "hour", m_hours);
    std::vector<std::vector<std::string>> failures;
    for (const auto& [message, count] : m_failures)
        failures.push_back({message.empty() ? "(no message)" : message, std::to_string(count)});
    out += "<h2>Failures by message</h2>\n" +
           (failures.empty() ? "<p>None.</p>\n" : HtmlTable({"message", "runs"}, failures));
    std::vector<std::vector<std::string>> repeats;
    for (const RepeatFailure& unit : m_repeats)
        repeats.push_back(
            {unit.unit, std::to_string(unit.failures), Join(unit.stations, ", "), unit.lastResult});
    out += "<h2>Units that failed more than once</h2>\n" +
           (repeats.empty() ? "<p>None.</p>\n"
                            : HtmlTable({"unit", "failures", "stations", "last run"}, repeats));
    std::vector<std::vector<std::string>> interrupted;
    for (const RunRow& row : m_interrupted)
        interrupted.push_back({row.startedAt.value_or(""), row.station, row.unit, row.run});
    out += "<h2>Interrupted runs (started, never ended)</h2>\n" +
           (interrupted.empty() ? "<p>None.</p>\n"
                                : HtmlTable({"started", "station", "unit", "run"}, interrupted));
    return out + "</body>\n</html>\n";
}
