#include "web/StationSnapshot.h"

#include <algorithm>

using Json = nlohmann::json;

namespace {

// Units kept in the snapshot: the page shows the latest unit of each slot, and a shift of a
// thousand units must not grow the snapshot without end.
constexpr std::size_t kUnitsKept = 256;

std::string Text(const Json& event, const char* key) {
    const auto it = event.find(key);
    return it != event.end() && it->is_string() ? it->get<std::string>() : std::string();
}

Json Field(const Json& event, const char* key) {
    const auto it = event.find(key);
    return it != event.end() ? *it : Json(nullptr);
}

std::string StateOf(const std::string& result) {
    if (result == "ok") return "ok";
    if (result == "declined") return "left alone";
    // Stopped by the operator: not passed, yet no failure of the unit.
    if (result == "cancelled") return "cancelled";
    return "failed";
}

}  // namespace

StationSnapshot::StationSnapshot(std::vector<WebSlot> slots, std::size_t ringSize)
    : m_slots(std::move(slots)), m_ringSize(std::max<std::size_t>(ringSize, 1)) {
    Forget();
}

void StationSnapshot::OnEvent(std::string_view line) {
    // A line that is not an event object is still passed on to the stream's followers (they
    // ignore what they do not know) but changes nothing here.
    Json event = Json::parse(line, nullptr, false);
    if (!event.is_object()) return;
    const Json seq = Field(event, "seq");
    {
        std::lock_guard lock(m_mutex);
        if (seq.is_number_unsigned()) {
            const auto number = seq.get<std::uint64_t>();
            // A new stream (the station restarted its line) starts again from 1.
            if (number <= m_lastSeq) m_ring.clear();
            m_lastSeq = number;
            m_ring.push_back({number, std::string(line)});
            if (m_ring.size() > m_ringSize) m_ring.pop_front();
        }
        Apply(event);
    }
    m_arrived.notify_all();
}

void StationSnapshot::Forget() {
    m_station = {{"station", nullptr}, {"file", nullptr}, {"sha256", nullptr}, {"running", false}};
    m_unitOrder.clear();
    m_units.clear();
    m_failuresInARow.clear();
    m_alarms.clear();
    m_counter = {};
    m_started.clear();
}

std::string StationSnapshot::SlotLabel(const std::string& port) const {
    return ::SlotLabel(m_slots, port);
}

void StationSnapshot::SetAlarm(const std::string& key, const std::string& code,
                               const std::string& message) {
    m_alarms[key] = {{"code", code}, {"message", message}};
}

// The run (or the unit left alone) an event tells of, as a row: what the counts and the "what to
// do" line read.
RunRow StationSnapshot::RowOf(const Json& event, const Json& unit) const {
    const auto optional = [&](const char* key) {
        const Json value = Field(unit, key);
        return value.is_string() ? std::optional<std::string>(value.get<std::string>())
                                 : std::nullopt;
    };
    RunRow row;
    row.run = Text(event, "run");
    row.station = Text(event, "station");
    row.unit = Text(event, "unit");
    row.serial = optional("serial");
    row.port = optional("port");
    row.drive = optional("drive");
    row.duplicateSerial = Field(event, "duplicateSerial") == true;
    row.finishedAt = Text(event, "time");
    row.result = Text(event, "result");
    row.code = Text(event, "code");
    row.detail = Text(event, "detail");
    row.message = Text(event, "message");
    if (const Json sent = Field(event, "blocksSent"); sent.is_number_integer())
        row.blocksSent = sent.get<int>();
    if (const auto started = m_started.find(row.unit); started != m_started.end()) {
        row.startedAt = row.finishedAt;
        row.startBlock = started->second.startBlock;
        row.endBlock = started->second.endBlock;
    }
    return row;
}

Json& StationSnapshot::UnitFor(const Json& event) {
    const std::string key = Text(event, "unit");
    auto it = m_units.find(key);
    if (it == m_units.end()) {
        const std::string port = Text(event, "port");
        const std::string label = SlotLabel(port);
        it = m_units
                 .emplace(key, Json{{"unit", key},
                                    {"serial", nullptr},
                                    {"port", port.empty() ? Json(nullptr) : Json(port)},
                                    {"slot", label.empty() ? Json(nullptr) : Json(label)},
                                    {"drive", nullptr},
                                    {"state", "waiting"},
                                    {"run", nullptr},
                                    {"blocksSent", 0},
                                    {"blocksTotal", nullptr},
                                    {"result", nullptr},
                                    {"code", nullptr},
                                    {"detail", nullptr},
                                    {"whatToDo", nullptr},
                                    {"message", nullptr},
                                    {"seconds", nullptr}})
                 .first;
        m_unitOrder.push_back(key);
        // The oldest unit that is not flashing makes room.
        if (m_unitOrder.size() > kUnitsKept) {
            const auto old = std::find_if(m_unitOrder.begin(), m_unitOrder.end(), [&](auto& k) {
                return m_units[k]["state"] != "flashing";
            });
            if (old != m_unitOrder.end()) {
                m_units.erase(*old);
                m_unitOrder.erase(old);
            }
        }
    }
    Json& unit = it->second;
    unit["seq"] = m_lastSeq;  // which unit a slot held last
    for (const char* name : {"serial", "port", "drive", "run"})
        if (const Json value = Field(event, name); !value.is_null()) unit[name] = value;
    return unit;
}

void StationSnapshot::Apply(const Json& event) {
    const std::string kind = Text(event, "event");
    if (kind == "opened") {
        Forget();
        m_station = {{"station", Field(event, "station")},   {"file", Field(event, "file")},
                     {"sha256", Field(event, "sha256")},     {"lot", Field(event, "lot")},
                     {"operator", Field(event, "operator")}, {"running", true}};
        return;
    }
    if (kind == "closed") {
        m_station["running"] = false;
        return;
    }
    if (kind == "warning") {
        const std::string code = Text(event, "code");
        const std::string message = Text(event, "message");
        if (code.find("database") != std::string::npos) {
            // Away and back are two codes of one condition.
            if (code.find("back") != std::string::npos ||
                code.find("returned") != std::string::npos)
                m_alarms.erase("database");
            else
                SetAlarm("database", "database-away", message);
        } else if (code.find("image") != std::string::npos) {
            SetAlarm("image", "image-changed", message);
        } else if (code.find("duplicate") != std::string::npos ||
                   code.find("serial") != std::string::npos) {
            SetAlarm("duplicate:" + Text(event, "serial"), "duplicate-serial", message);
        }
        return;
    }
    if (Text(event, "unit").empty()) return;
    Json& unit = UnitFor(event);
    const std::string port = unit["port"].is_string() ? unit["port"].get<std::string>() : "";
    const std::string key = Text(event, "unit");
    // A new run, or none: the last one's outcome leaves the tile.
    const auto clearOutcome = [&unit] {
        unit["result"] = nullptr;
        unit["code"] = nullptr;
        unit["detail"] = nullptr;
        unit["whatToDo"] = nullptr;
    };
    if (kind == "attached") {
        unit["state"] = "waiting";
        unit["run"] = nullptr;
        clearOutcome();
        m_started.erase(key);
        unit["message"] = nullptr;
        unit["blocksSent"] = 0;
        unit["blocksTotal"] = nullptr;
        unit["seconds"] = nullptr;
        if (Field(event, "duplicateSerial") == true)
            SetAlarm("duplicate:" + Text(event, "serial"), "duplicate-serial",
                     "serial " + Text(event, "serial") + " is on more than one port");
    } else if (kind == "skipped") {
        unit["state"] = "left alone";
        unit["message"] = Field(event, "message");
        clearOutcome();
        if (IsLeftAloneReason(Text(event, "reason"))) {
            RunRow row = RowOf(event, unit);
            row.code = kLeftAloneCode;
            m_counter.Add(row);
        }
    } else if (kind == "started") {
        // Who released the image: the same for every run of the station.
        if (const Json signer = Field(event, "signer"); !signer.is_null()) {
            m_station["signer"] = signer;
            m_station["signerFingerprint"] = Field(event, "signerFingerprint");
        }
        unit["state"] = "flashing";
        unit["blocksSent"] = 0;
        unit["blocksTotal"] = Field(event, "blocksTotal");
        unit["seconds"] = 0;
        clearOutcome();
        unit["message"] = nullptr;
        Started& started = m_started[key];
        const Json first = Field(event, "startBlock"), end = Field(event, "endBlock");
        started.startBlock = first.is_number_unsigned() ? first.get<unsigned>() : 0;
        started.endBlock = end.is_number_unsigned() ? end.get<unsigned>() : 0;
    } else if (kind == "progress") {
        for (const char* name : {"blocksSent", "blocksTotal", "seconds"})
            if (const Json value = Field(event, name); !value.is_null()) unit[name] = value;
    } else if (kind == "finished") {
        const std::string result = Text(event, "result");
        // A child that found the image file changed since the station approved it.
        if (Text(event, "code") == "image-changed")
            SetAlarm(
                "image", "image-changed",
                "the image file changed since the station approved it: " + Text(event, "message"));
        unit["result"] = result;
        unit["state"] = StateOf(result);
        unit["message"] = Field(event, "message");
        for (const char* name : {"blocksSent", "seconds"})
            if (const Json value = Field(event, name); !value.is_null()) unit[name] = value;
        const RunRow row = RowOf(event, unit);
        m_started.erase(key);
        m_counter.Add(row);
        // The cause and what the console says to do about it, for the tile.
        unit["code"] = row.code.empty() ? Json(nullptr) : Json(row.code);
        unit["detail"] = row.detail;
        const std::string whatToDo = WhatToDo(row);
        unit["whatToDo"] = whatToDo.empty() ? Json(nullptr) : Json(whatToDo);
        if (port.empty()) return;
        int& inARow = m_failuresInARow[port];
        inARow = result == "ok" ? 0 : result == "failed" ? inARow + 1 : inARow;
        const std::string label = SlotLabel(port);
        if (inARow >= 2)
            SetAlarm("slot:" + port, "slot-failing",
                     (label.empty() ? "port " + port : label) + " failed " +
                         std::to_string(inARow) + " times in a row");
        else
            m_alarms.erase("slot:" + port);
    }
}

std::string StationSnapshot::StateJson() const {
    std::lock_guard lock(m_mutex);
    Json units = Json::array();
    int waiting = 0, flashing = 0;
    for (const std::string& key : m_unitOrder) {
        const Json& unit = m_units.at(key);
        units.push_back(unit);
        waiting += unit["state"] == "waiting";
        flashing += unit["state"] == "flashing";
    }
    Json slots = Json::array();
    for (const WebSlot& slot : m_slots)
        slots.push_back({{"port", slot.port}, {"label", slot.label}});
    Json alarms = Json::array();
    for (const auto& [key, alarm] : m_alarms) alarms.push_back(alarm);
    Json counts = m_counter.Counts().ToJson();
    counts["waiting"] = waiting;
    counts["flashing"] = flashing;
    const Json state = {{"v", 1},
                        {"station", m_station["station"]},
                        {"file", m_station["file"]},
                        {"sha256", m_station["sha256"]},
                        {"lot", m_station.value("lot", Json())},
                        {"operator", m_station.value("operator", Json())},
                        {"signer", m_station.value("signer", Json())},
                        {"signerFingerprint", m_station.value("signerFingerprint", Json())},
                        {"running", m_station["running"]},
                        {"seq", m_lastSeq},
                        {"units", units},
                        {"counts", counts},
                        {"slots", slots},
                        {"alarms", alarms}};
    return state.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::vector<StationSnapshot::Entry> StationSnapshot::EventsAfter(
    std::uint64_t after, std::chrono::milliseconds wait) const {
    std::unique_lock lock(m_mutex);
    if (after > m_lastSeq) after = 0;
    m_arrived.wait_for(lock, wait, [&] { return m_closed || m_lastSeq > after; });
    // The ring is in stream order: find the first line after `after` without walking it all,
    // since every follower asks at every event.
    const auto first =
        std::upper_bound(m_ring.begin(), m_ring.end(), after,
                         [](std::uint64_t seq, const Entry& e) { return seq < e.seq; });
    return std::vector<Entry>(first, m_ring.end());
}

void StationSnapshot::Close() {
    {
        std::lock_guard lock(m_mutex);
        m_closed = true;
    }
    m_arrived.notify_all();
}

bool StationSnapshot::Closed() const {
    std::lock_guard lock(m_mutex);
    return m_closed;
}
