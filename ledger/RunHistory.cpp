#include "ledger/RunHistory.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

namespace {

using Json = nlohmann::json;

std::optional<std::string> Text(const Json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
}

std::string TextOr(const Json& object, const char* key, const std::string& fallback) {
    return Text(object, key).value_or(fallback);
}

bool FlagOr(const Json& object, const char* key, bool fallback) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_boolean()) return fallback;
    return it->get<bool>();
}

template <typename T>
T NumberOr(const Json& object, const char* key, T fallback) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_number()) return fallback;
    return it->get<T>();
}

// What both the started line and the final line carry.
void TakeCommon(RunRow& row, const Json& line) {
    if (auto station = Text(line, "station")) row.station = *station;
    if (auto unit = Text(line, "unit")) row.unit = *unit;
    if (line.contains("serial")) row.serial = Text(line, "serial");
    if (line.contains("port")) row.port = Text(line, "port");
    if (line.contains("drive")) row.drive = Text(line, "drive");
    if (line.contains("vendor")) row.vendor = Text(line, "vendor");
    if (line.contains("product")) row.product = Text(line, "product");
    if (line.contains("usb")) row.usb = Text(line, "usb");
    row.file = TextOr(line, "file", row.file);
    row.sha256 = TextOr(line, "sha256", row.sha256);
    row.type = TextOr(line, "type", row.type);
    row.startBlock = NumberOr(line, "startBlock", row.startBlock);
    row.endBlock = NumberOr(line, "endBlock", row.endBlock);
    row.family = TextOr(line, "family", row.family);
    row.chipId = TextOr(line, "chipId", row.chipId);
    row.bootType = NumberOr(line, "bootType", row.bootType);
    if (line.contains("versionBefore")) row.versionBefore = Text(line, "versionBefore");
}

}  // namespace

bool ApplyRecordLine(const std::string& text, const std::string& origin,
                     const std::function<RunRow&(const std::string& run)>& rowFor, bool* final) {
    const Json line = Json::parse(text, nullptr, false);
    if (!line.is_object()) return false;
    const std::string event = TextOr(line, "event", "finished");  // older lines are final lines
    if (event != "started" && event != "finished") return false;
    const std::optional<std::string> time = Text(line, "time");
    if (!time) return false;
    const std::string run = TextOr(line, "run", origin);
    RunRow& row = rowFor(run);
    row.run = run;
    TakeCommon(row, line);
    *final = event == "finished";
    if (!*final) {
        row.startedAt = time;
    } else {
        row.finishedAt = time;
        if (line.contains("startedAt")) {
            if (auto startedAt = Text(line, "startedAt")) row.startedAt = startedAt;
        }
        row.duplicateSerial = FlagOr(line, "duplicateSerial", false);
        row.blocksSent = NumberOr(line, "blocksSent", 0);
        row.seconds = NumberOr(line, "seconds", 0.0);
        row.result = TextOr(line, "result", "");
        row.message = TextOr(line, "message", "");
        row.code = TextOr(line, "code", "");
        row.detail = TextOr(line, "detail", "");
    }
    if (line.contains("lot")) row.lot = Text(line, "lot");
    if (line.contains("operator")) row.person = Text(line, "operator");
    // Older lines name no unit: their serial stands for it.
    if (row.unit.empty()) row.unit = UnitOf(row).Name();
    return true;
}

bool RunHistory::AddJsonLine(const std::string& text, const std::string& origin) {
    bool final = false;
    return ApplyRecordLine(
        text, origin, [this](const std::string& run) -> RunRow& { return m_runs[run]; }, &final);
}

void RunHistory::Add(const RunRow& row) {
    RunRow& mine = m_runs[row.run];
    const bool hadFinal = mine.finishedAt.has_value();
    const RunRow before = mine;
    mine = row;
    // A final line in a file (written when the database was away) completes a database row.
    if (!row.finishedAt && hadFinal) {
        mine.finishedAt = before.finishedAt;
        mine.result = before.result;
        mine.message = before.message;
        mine.blocksSent = before.blocksSent;
        mine.seconds = before.seconds;
    }
}

std::vector<RunRow> RunHistory::Rows() const {
    std::vector<RunRow> rows;
    rows.reserve(m_runs.size());
    for (const auto& [run, row] : m_runs) rows.push_back(row);
    std::stable_sort(rows.begin(), rows.end(),
                     [](const RunRow& a, const RunRow& b) { return a.When() < b.When(); });
    return rows;
}
