#include "ledger/RunRow.h"

#include <cmath>

#include <nlohmann/json.hpp>

namespace {

using Json = nlohmann::ordered_json;

Json OrNull(const std::optional<std::string>& text) {
    return text ? Json(*text) : Json(nullptr);
}

}  // namespace

std::string StartedJsonLine(const RunRow& row) {
    Json out;
    out["event"] = "started";
    out["run"] = row.run;
    out["time"] = row.startedAt.value_or("");
    out["station"] = row.station;
    out["unit"] = row.unit;
    out["serial"] = OrNull(row.serial);
    out["port"] = OrNull(row.port);
    out["drive"] = OrNull(row.drive);
    out["vendor"] = OrNull(row.vendor);
    out["product"] = OrNull(row.product);
    out["usb"] = OrNull(row.usb);
    out["file"] = row.file;
    out["sha256"] = row.sha256;
    out["type"] = row.type;
    out["startBlock"] = row.startBlock;
    out["endBlock"] = row.endBlock;
    out["family"] = row.family;
    out["chipId"] = row.chipId;
    out["bootType"] = row.bootType;
    out["versionBefore"] = OrNull(row.versionBefore);
    out["lot"] = OrNull(row.lot);
    out["operator"] = OrNull(row.person);
    return out.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

void SetUnit(RunRow& row, const DriveIdentity& identity) {
    row.unit = identity.Unit();
    row.serial = identity.serialBytes ? std::optional(identity.EscapedSerial()) : std::nullopt;
    row.port = identity.port;
    row.vendor = identity.vendor;
    row.product = identity.product;
    row.usb = identity.usb;
}

std::string FinalJsonLine(const RunRow& row) {
    Json out;
    out["event"] = "finished";
    out["run"] = row.run;
    out["time"] = row.finishedAt.value_or("");
    out["drive"] = OrNull(row.drive);
    out["vendor"] = OrNull(row.vendor);
    out["product"] = OrNull(row.product);
    out["serial"] = OrNull(row.serial);
    out["usb"] = OrNull(row.usb);
    out["family"] = row.family;
    out["chipId"] = row.chipId;
    out["bootType"] = row.bootType;
    out["versionBefore"] = OrNull(row.versionBefore);
    out["file"] = row.file;
    out["sha256"] = row.sha256;
    out["type"] = row.type;
    out["startBlock"] = row.startBlock;
    out["endBlock"] = row.endBlock;
    out["blocksSent"] = row.blocksSent;
    // Milliseconds are all a record needs; more digits only look precise.
    out["seconds"] = static_cast<double>(std::llround(row.seconds * 1000.0)) / 1000.0;
    out["result"] = row.result;
    out["message"] = row.message;
    out["startedAt"] = OrNull(row.startedAt);
    out["station"] = row.station;
    out["unit"] = row.unit;
    out["port"] = OrNull(row.port);
    out["duplicateSerial"] = row.duplicateSerial;
    out["code"] = row.code;
    out["detail"] = row.detail;
    out["lot"] = OrNull(row.lot);
    out["operator"] = OrNull(row.person);
    return out.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

UnitIdentity UnitOf(const RunRow& row) {
    return {.serial = row.serial,
            .port = row.port,
            .drive = row.drive,
            .station = row.station,
            // Units told apart by attachment are claimed by station and port, as duplicates are.
            .duplicateSerial = row.duplicateSerial || row.byAttachment};
}
