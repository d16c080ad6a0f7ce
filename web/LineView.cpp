#include "web/LineView.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <set>

#include <nlohmann/json.hpp>

#include "ledger/RunCounts.h"
#include "ledger/UnitDatabase.h"

using Json = nlohmann::json;

namespace {

// The recent units a station's card lists.
constexpr std::size_t kRecentUnits = 12;

Json Optional(const std::optional<std::string>& value) {
    return value ? Json(*value) : Json(nullptr);
}

std::string StateOf(const RunRow& row) {
    if (row.Interrupted()) return "flashing";
    if (row.result == "ok") return "ok";
    if (row.result == "declined") return "left alone";
    if (row.result == "cancelled") return "cancelled";
    return "failed";
}

// The runs that ended, counted the way every view counts them; a run still going (no final
// row yet) is shown flashing and counted once it ends.
struct Tally {
    RunCounter counter;
    void Count(const RunRow& row) {
        if (!row.Interrupted()) counter.Add(row);
    }
    Json ToJson() const { return counter.Counts().ToJson(); }
};

// "YYYY-MM-DDTHH:MM:SS..." moved back by `seconds`, in the same spelling up to the seconds;
// the text itself when it is not such a time.
std::string SecondsBefore(const std::string& time, int seconds) {
    int y = 0;
    unsigned mo = 0;
    unsigned d = 0;
    int h = 0;
    int mi = 0;
    int s = 0;
    if (time.size() < 19 ||
        std::sscanf(time.c_str(), "%4d-%2u-%2uT%2d:%2d:%2d", &y, &mo, &d, &h, &mi, &s) != 6)
        return time;
    // Calendar arithmetic in UTC with <chrono> alone: timegm and gmtime_r are not on Windows.
    using namespace std::chrono;
    const year_month_day date{year{y}, month{mo}, day{d}};
    if (!date.ok()) return time;
    const sys_seconds at = sys_days{date} + hours{h} + minutes{mi} + std::chrono::seconds{s} -
                           std::chrono::seconds{seconds};
    const sys_days backDay = floor<days>(at);
    const year_month_day back{backDay};
    const hh_mm_ss clock{at - backDay};
    char text[24];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d", static_cast<int>(back.year()),
                  static_cast<unsigned>(back.month()), static_cast<unsigned>(back.day()),
                  static_cast<int>(clock.hours().count()),
                  static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()));
    return text;
}

}  // namespace

std::string LineView::Build(const std::vector<RunRow>& rows, const std::string& nowUtc,
                            const std::string& databaseError) {
    std::map<std::string, std::vector<const RunRow*>> byStation;
    for (const RunRow& row : rows) byStation[row.station].push_back(&row);
    std::map<std::string, Card> cards;
    for (const auto& [name, runs] : byStation) cards[name] = BuildStation(name, runs);
    return Assemble(cards, nowUtc, databaseError);
}

LineView::Card LineView::BuildStation(const std::string& name, std::vector<const RunRow*> runs) {
    // Oldest first, so that "in a row" and "changed" read the day in order.
    const auto when = [](const RunRow* row) -> const std::string& {
        static const std::string kNever;
        return row->finishedAt ? *row->finishedAt : row->startedAt ? *row->startedAt : kNever;
    };
    std::stable_sort(runs.begin(), runs.end(),
                     [&](const RunRow* a, const RunRow* b) { return when(a) < when(b); });
    Tally total;
    std::map<std::string, Tally> images;  // by SHA-256
    std::map<std::string, std::string> files;
    std::map<std::string, int> failuresInARow;  // by port
    std::string lastSha256;
    std::map<std::string, bool> duplicates;
    Card card;
    card.alarms = Json::array();
    for (const RunRow* row : runs) {
        total.Count(*row);
        images[row->sha256].Count(*row);
        files[row->sha256] = row->file;
        if (!lastSha256.empty() && lastSha256 != row->sha256)
            card.alarms.push_back({{"code", "image-changed"},
                                   {"station", name},
                                   {"message", name + " changed its image to " + row->file + " (" +
                                                   row->sha256.substr(0, 12) + ")"}});
        lastSha256 = row->sha256;
        if (row->duplicateSerial && row->serial && !duplicates[*row->serial]) {
            duplicates[*row->serial] = true;
            card.alarms.push_back(
                {{"code", "duplicate-serial"},
                 {"station", name},
                 {"message", "serial " + *row->serial + " is on two ports at " + name}});
        }
        if (row->Interrupted() || !row->port) continue;
        int& inARow = failuresInARow[*row->port];
        inARow = row->result == "ok" ? 0 : row->result == "failed" ? inARow + 1 : inARow;
    }
    for (const auto& [port, inARow] : failuresInARow)
        if (inARow >= 2)
            card.alarms.push_back({{"code", "slot-failing"},
                                   {"station", name},
                                   {"message", name + " port " + port + " failed " +
                                                   std::to_string(inARow) + " times in a row"}});
    Json units = Json::array();
    for (auto it = runs.rbegin(); it != runs.rend() && units.size() < kRecentUnits; ++it) {
        const RunRow& row = **it;
        units.push_back({{"unit", row.unit},
                         {"serial", Optional(row.serial)},
                         {"port", Optional(row.port)},
                         {"state", StateOf(row)},
                         {"result", row.result.empty() ? Json(nullptr) : Json(row.result)},
                         {"code", row.code.empty() ? Json(nullptr) : Json(row.code)},
                         {"detail", row.detail},
                         {"message", row.message},
                         {"blocksSent", row.blocksSent},
                         {"blocksTotal", row.endBlock - row.startBlock},
                         {"seconds", row.seconds},
                         {"when", row.When()}});
    }
    Json imageList = Json::array();
    for (const auto& [sha256, tally] : images) {
        Json image = tally.ToJson();
        image["file"] = files.at(sha256);
        image["sha256"] = sha256;
        imageList.push_back(image);
    }
    card.counts = total.counter.Counts();
    card.card = {{"station", name},
                 {"units", units},
                 {"counts", Json(card.counts.ToJson())},
                 {"images", imageList}};
    return card;
}

std::string LineView::Assemble(const std::map<std::string, Card>& cards, const std::string& nowUtc,
                               const std::string& databaseError) {
    Json alarms = Json::array();
    if (!databaseError.empty())
        alarms.push_back({{"code", "database-away"},
                          {"message", "the unit database does not answer: " + databaseError}});
    Json out = {{"v", 1},
                {"updated", nowUtc},
                {"since", nowUtc.substr(0, 10)},
                {"database", databaseError.empty() ? "ok" : "away"}};
    Json list = Json::array();
    // The line's counts add up its stations' (a unit counts at each station it was tried at).
    RunCounts line;
    for (const auto& [name, card] : cards) {
        list.push_back(card.card);
        for (const Json& alarm : card.alarms) alarms.push_back(alarm);
        line.Add(card.counts);
    }
    out["stations"] = list;
    out["counts"] = Json(line.ToJson());
    out["alarms"] = alarms;
    return out.dump(-1, ' ', false, Json::error_handler_t::replace);
}

void LineView::Refresh(UnitDatabase& database, const std::string& nowUtc) {
    const std::string day = nowUtc.substr(0, 10);
    std::string since = day;
    {
        std::lock_guard lock(m_mutex);
        const bool wholeDay = day != m_day || m_newest.empty() || m_sinceWholeDay >= kWholeDayEvery;
        // Never past the page's own clock: a station whose clock runs ahead must not hide the
        // others' runs.
        if (!wholeDay)
            since = std::max(day, SecondsBefore(std::min(m_newest, nowUtc), kOverlapSeconds));
    }
    std::vector<RunRow> rows;
    std::string error;
    const bool answered = database.ReadRunsSince(since, &rows, &error);
    std::lock_guard lock(m_mutex);
    if (answered) {
        if (since == day) {
            m_rows.clear();
            m_cards.clear();
            m_day = day;
            m_newest.clear();
            m_sinceWholeDay = 0;
        }
        ++m_sinceWholeDay;
        // Only the stations whose runs changed are counted and built again.
        std::set<std::string> changed;
        for (RunRow& row : rows) {
            const std::string when = row.When();
            if (when > m_newest) m_newest = when;
            auto& held = m_rows[row.station];
            const auto known = held.find(row.run);
            // The overlap reads runs again that have not changed since.
            if (known != held.end() && known->second.finishedAt == row.finishedAt &&
                known->second.result == row.result)
                continue;
            changed.insert(row.station);
            std::string run = row.run;
            held.insert_or_assign(std::move(run), std::move(row));
        }
        for (const std::string& name : changed) {
            std::vector<const RunRow*> runs;
            for (const auto& [run, row] : m_rows[name]) runs.push_back(&row);
            m_cards[name] = BuildStation(name, std::move(runs));
        }
    }
    m_json = Assemble(m_cards, nowUtc, answered ? std::string() : error);
}

std::size_t LineView::Runs() const {
    std::lock_guard lock(m_mutex);
    std::size_t runs = 0;
    for (const auto& [name, station] : m_rows) runs += station.size();
    return runs;
}

std::string LineView::Snapshot() const {
    std::lock_guard lock(m_mutex);
    return m_json;
}
