#include "web/LineView.h"

#include <algorithm>
#include <map>

#include <nlohmann/json.hpp>

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
    return "failed";
}

struct Tally {
    int ok = 0, failed = 0;
    void Count(const RunRow& row) {
        if (row.Interrupted() || row.result == "declined" || row.result == "cancelled") return;
        row.result == "ok" ? ++ok : ++failed;
    }
    Json ToJson() const {
        const int attempts = ok + failed;
        return {{"ok", ok},
                {"failed", failed},
                {"yieldPercent", attempts == 0 ? Json(nullptr) : Json(100.0 * ok / attempts)}};
    }
};

}  // namespace

std::string LineView::Build(const std::vector<RunRow>& rows, const std::string& nowUtc,
                            const std::string& databaseError) {
    // Oldest first, so that "in a row" and "changed" read the day in order.
    std::vector<const RunRow*> ordered;
    for (const RunRow& row : rows) ordered.push_back(&row);
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const RunRow* a, const RunRow* b) { return a->When() < b->When(); });

    struct Station {
        std::vector<const RunRow*> runs;
        Tally total;
        std::map<std::string, Tally> images;  // by SHA-256
        std::map<std::string, std::string> files;
        std::map<std::string, int> failuresInARow;  // by port
        std::string lastSha256;
    };
    std::map<std::string, Station> stations;
    Json alarms = Json::array();
    if (!databaseError.empty())
        alarms.push_back({{"code", "database-away"},
                          {"message", "the unit database does not answer: " + databaseError}});
    std::map<std::string, bool> duplicates;
    for (const RunRow* row : ordered) {
        Station& station = stations[row->station];
        station.runs.push_back(row);
        station.total.Count(*row);
        station.images[row->sha256].Count(*row);
        station.files[row->sha256] = row->file;
        if (!station.lastSha256.empty() && station.lastSha256 != row->sha256)
            alarms.push_back({{"code", "image-changed"},
                              {"station", row->station},
                              {"message", row->station + " changed its image to " + row->file +
                                              " (" + row->sha256.substr(0, 12) + ")"}});
        station.lastSha256 = row->sha256;
        if (row->duplicateSerial && row->serial && !duplicates[row->station + *row->serial]) {
            duplicates[row->station + *row->serial] = true;
            alarms.push_back(
                {{"code", "duplicate-serial"},
                 {"station", row->station},
                 {"message", "serial " + *row->serial + " is on two ports at " + row->station}});
        }
        if (row->Interrupted() || !row->port) continue;
        int& inARow = station.failuresInARow[*row->port];
        inARow = row->result == "ok" ? 0 : row->result == "failed" ? inARow + 1 : inARow;
    }

    Json out = {{"v", 1},
                {"updated", nowUtc},
                {"since", nowUtc.substr(0, 10)},
                {"database", databaseError.empty() ? "ok" : "away"}};
    Json list = Json::array();
    for (const auto& [name, station] : stations) {
        for (const auto& [port, inARow] : station.failuresInARow)
            if (inARow >= 2)
                alarms.push_back({{"code", "slot-failing"},
                                  {"station", name},
                                  {"message", name + " port " + port + " failed " +
                                                  std::to_string(inARow) + " times in a row"}});
        Json units = Json::array();
        for (auto it = station.runs.rbegin();
             it != station.runs.rend() && units.size() < kRecentUnits; ++it) {
            const RunRow& row = **it;
            units.push_back({{"unit", row.unit},
                             {"serial", Optional(row.serial)},
                             {"port", Optional(row.port)},
                             {"state", StateOf(row)},
                             {"result", row.result.empty() ? Json(nullptr) : Json(row.result)},
                             {"message", row.message},
                             {"blocksSent", row.blocksSent},
                             {"blocksTotal", row.endBlock - row.startBlock},
                             {"seconds", row.seconds},
                             {"when", row.When()}});
        }
        Json images = Json::array();
        for (const auto& [sha256, tally] : station.images) {
            Json image = tally.ToJson();
            image["file"] = station.files.at(sha256);
            image["sha256"] = sha256;
            images.push_back(image);
        }
        list.push_back({{"station", name},
                        {"units", units},
                        {"counts", station.total.ToJson()},
                        {"images", images}});
    }
    out["stations"] = list;
    out["alarms"] = alarms;
    return out.dump(-1, ' ', false, Json::error_handler_t::replace);
}

void LineView::Refresh(UnitDatabase& database, const std::string& nowUtc) {
    std::vector<RunRow> rows;
    std::string error;
    const bool answered = database.ReadRunsSince(nowUtc.substr(0, 10), &rows, &error);
    std::lock_guard lock(m_mutex);
    if (answered) m_rows = std::move(rows);
    m_json = Build(m_rows, nowUtc, answered ? std::string() : error);
}

std::string LineView::Snapshot() const {
    std::lock_guard lock(m_mutex);
    return m_json;
}
