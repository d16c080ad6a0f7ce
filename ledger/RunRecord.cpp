#include "ledger/RunRecord.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "ledger/UtcTime.h"

namespace {

using Json = nlohmann::ordered_json;

Json OrNull(const std::optional<std::string>& text) {
    return text ? Json(*text) : Json(nullptr);
}

std::optional<std::string> Serial(const DriveIdentity& identity) {
    if (!identity.serialBytes) return std::nullopt;
    return identity.EscapedSerial();
}

// Invalid UTF-8 (a file name from another code page) becomes U+FFFD instead of a throw.
std::string Line(const Json& out) {
    return out.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace

std::string RunRecord::StartedJsonLine() const {
    Json out;
    out["event"] = "started";
    out["run"] = run;
    out["time"] = startedAt.value_or(time);
    out["station"] = station;
    out["unit"] = identity.Unit();
    out["serial"] = OrNull(Serial(identity));
    out["port"] = OrNull(identity.port);
    out["drive"] = OrNull(drive);
    out["vendor"] = OrNull(identity.vendor);
    out["product"] = OrNull(identity.product);
    out["usb"] = OrNull(identity.usb);
    out["file"] = file;
    out["sha256"] = sha256;
    out["type"] = type;
    out["startBlock"] = startBlock;
    out["endBlock"] = endBlock;
    out["family"] = family;
    out["chipId"] = chipId;
    out["bootType"] = bootType;
    out["versionBefore"] = OrNull(versionBefore);
    out["lot"] = OrNull(lot);
    out["operator"] = OrNull(person);
    return Line(out);
}

std::string RunRecord::ToJsonLine() const {
    Json out;
    out["event"] = "finished";
    out["run"] = run;
    out["time"] = time;
    out["drive"] = OrNull(drive);
    out["vendor"] = OrNull(identity.vendor);
    out["product"] = OrNull(identity.product);
    out["serial"] = OrNull(Serial(identity));
    out["usb"] = OrNull(identity.usb);
    out["family"] = family;
    out["chipId"] = chipId;
    out["bootType"] = bootType;
    out["versionBefore"] = OrNull(versionBefore);
    out["file"] = file;
    out["sha256"] = sha256;
    out["type"] = type;
    out["startBlock"] = startBlock;
    out["endBlock"] = endBlock;
    out["blocksSent"] = blocksSent;
    // Milliseconds are all a record needs; more digits only look precise.
    out["seconds"] = static_cast<double>(std::llround(seconds * 1000.0)) / 1000.0;
    out["result"] = result;
    out["message"] = message;
    out["startedAt"] = OrNull(startedAt);
    out["station"] = station;
    out["unit"] = identity.Unit();
    out["port"] = OrNull(identity.port);
    out["duplicateSerial"] = duplicateSerial;
    out["code"] = code;
    out["lot"] = OrNull(lot);
    out["operator"] = OrNull(person);
    return Line(out);
}

std::string RunRecord::UtcNow() {
    return UtcNowText();
}
