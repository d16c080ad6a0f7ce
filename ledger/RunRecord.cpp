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

RunRow RunRecord::ToRow(bool final) const {
    RunRow row;
    row.run = run;
    row.station = station;
    row.unit = identity.Unit();
    if (identity.serialBytes) row.serial = identity.EscapedSerial();
    row.port = identity.port;
    row.duplicateSerial = duplicateSerial;
    row.byAttachment = byAttachment;
    row.lot = lot;
    row.person = person;
    row.drive = drive;
    row.vendor = identity.vendor;
    row.product = identity.product;
    row.usb = identity.usb;
    row.file = file;
    row.sha256 = sha256;
    row.type = type;
    row.startBlock = startBlock;
    row.endBlock = endBlock;
    row.family = family;
    row.chipId = chipId;
    row.bootType = bootType;
    row.versionBefore = versionBefore;
    row.startedAt = startedAt;
    if (final) {
        row.finishedAt = time;
        row.blocksSent = blocksSent;
        row.seconds = seconds;
        row.result = result;
        row.code = code;
        row.detail = detail;
        row.message = message;
    }
    return row;
}

std::string RunRecord::ToJsonLine() const {
    return FinalJsonLine(ToRow(true));
}

std::string RunRecord::UtcNow() {
    return UtcNowText();
}
