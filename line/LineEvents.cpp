#include "line/LineEvents.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "KestrelVersion.h"
#include "ledger/UtcTime.h"
#include "line/EventSink.h"

namespace {

using Json = nlohmann::ordered_json;

Json OrNull(const std::optional<std::string>& text) {
    return text ? Json(*text) : Json(nullptr);
}

// Milliseconds, as the record has them.
double Rounded(double seconds) {
    return static_cast<double>(std::llround(seconds * 1000.0)) / 1000.0;
}

void PutUnit(Json& out, const LineEvents::Unit& unit) {
    out["unit"] = OrNull(unit.unit);
    out["serial"] = OrNull(unit.serial);
    out["port"] = OrNull(unit.port);
    out["drive"] = OrNull(unit.drive);
}

}  // namespace

LineEvents::Unit LineEvents::UnitOf(const DriveIdentity& identity,
                                    const std::optional<std::string>& drive) {
    Unit unit;
    unit.unit = identity.Unit();
    if (identity.serialBytes) unit.serial = identity.EscapedSerial();
    unit.port = identity.port;
    unit.drive = drive;
    return unit;
}

LineEvents::LineEvents(std::string station, std::optional<std::string> lot,
                       std::optional<std::string> person, std::vector<EventSink*> sinks)
    : m_station(std::move(station)),
      m_lot(std::move(lot)),
      m_operator(std::move(person)),
      m_sinks(std::move(sinks)) {}

void LineEvents::Emit(const char* event, const Json& fields) {
    if (m_sinks.empty()) return;
    Json out;
    out["v"] = 1;
    out["event"] = event;
    out["seq"] = ++m_seq;
    out["time"] = UtcNowText();
    out["station"] = m_station;
    out["lot"] = OrNull(m_lot);
    out["operator"] = OrNull(m_operator);
    for (const auto& [key, value] : fields.items()) out[key] = value;
    // Invalid UTF-8 (a file name from another code page) becomes U+FFFD instead of a throw.
    const std::string line = out.dump(-1, ' ', false, Json::error_handler_t::replace);
    for (EventSink* sink : m_sinks) sink->OnEvent(line);
}

void LineEvents::Opened(const std::string& command, const std::string& file,
                        const std::optional<std::string>& sha256) {
    Json out;
    out["schemaVersion"] = kSchemaVersion;
    out["tool"] = "kestrel-cli";
    out["toolVersion"] = kKestrelVersion;
    out["command"] = command;
    out["file"] = file;
    out["sha256"] = OrNull(sha256);
    Emit("opened", out);
}

void LineEvents::Attached(const Unit& unit, const std::optional<std::string>& usb,
                          bool duplicateSerial) {
    Json out;
    PutUnit(out, unit);
    out["usb"] = OrNull(usb);
    out["duplicateSerial"] = duplicateSerial;
    Emit("attached", out);
}

void LineEvents::Skipped(const Unit& unit, const std::string& reason, const std::string& message) {
    Json out;
    PutUnit(out, unit);
    out["reason"] = reason;
    out["message"] = message;
    Emit("skipped", out);
}

void LineEvents::Started(const std::string& run, const Unit& unit, unsigned startBlock,
                         unsigned endBlock, const std::optional<std::string>& versionBefore) {
    Json out;
    out["run"] = run;
    PutUnit(out, unit);
    out["startBlock"] = startBlock;
    out["endBlock"] = endBlock;
    out["blocksTotal"] = endBlock > startBlock ? endBlock - startBlock : 0;
    out["versionBefore"] = OrNull(versionBefore);
    out["signer"] = OrNull(m_signer);
    out["signerFingerprint"] = OrNull(m_signerFingerprint);
    Emit("started", out);
}

void LineEvents::Progress(const std::string& run, const Unit& unit, int blocksSent, int blocksTotal,
                          double seconds, bool force) {
    const auto now = std::chrono::steady_clock::now();
    const auto last = m_lastProgress.find(run);
    if (!force && blocksSent < blocksTotal && last != m_lastProgress.end() &&
        now - last->second < kProgressEvery)
        return;
    m_lastProgress[run] = now;
    Json out;
    out["run"] = run;
    out["unit"] = OrNull(unit.unit);
    out["blocksSent"] = blocksSent;
    out["blocksTotal"] = blocksTotal;
    out["seconds"] = Rounded(seconds);
    Emit("progress", out);
}

std::optional<std::chrono::steady_clock::time_point> LineEvents::LastProgress(
    const std::string& run) const {
    const auto last = m_lastProgress.find(run);
    if (last == m_lastProgress.end()) return std::nullopt;
    return last->second;
}

void LineEvents::Finished(const std::string& run, const Unit& unit, const std::string& result,
                          const std::string& code, const std::string& detail,
                          const std::string& message, int blocksSent, double seconds) {
    m_lastProgress.erase(run);
    Json out;
    // A child that died before it named its run.
    out["run"] = run.empty() ? Json(nullptr) : Json(run);
    PutUnit(out, unit);
    out["result"] = result;
    out["code"] = code;
    out["detail"] = detail;
    out["message"] = message;
    out["blocksSent"] = blocksSent;
    out["seconds"] = Rounded(seconds);
    Emit("finished", out);
}

void LineEvents::Finished(const RunRow& row) {
    Finished(row.run,
             {.unit = row.unit, .serial = row.serial, .port = row.port, .drive = row.drive},
             row.result, row.code, row.detail, row.message, row.blocksSent, row.seconds);
}

void LineEvents::Removed(const Unit& unit) {
    Json out;
    PutUnit(out, unit);
    Emit("removed", out);
}

void LineEvents::Warning(const std::string& code, const std::string& message) {
    Json out;
    out["code"] = code;
    out["message"] = message;
    Emit("warning", out);
}

void LineEvents::Closed(int succeeded, int failed, int exitStatus) {
    Json out;
    out["succeeded"] = succeeded;
    out["failed"] = failed;
    out["exitStatus"] = exitStatus;
    Emit("closed", out);
}
