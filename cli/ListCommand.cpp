#include "cli/ListCommand.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>

#include "cli/CliCommon.h"
#include "device/DriveDiscovery.h"
#include "device/DriveIdentity.h"
#include "device/VendorCommands.h"
#include "web/Slots.h"

namespace {

std::string ReplyText(const std::array<std::uint8_t, 2>& reply) {
    char text[6];
    std::snprintf(text, sizeof text, "%02X %02X", reply[0], reply[1]);
    return text;
}

const char* AnswerName(ProbeResult result) {
    switch (result) {
        case ProbeResult::Device:
            return "device";
        case ProbeResult::NotDevice:
            return "other";
        case ProbeResult::IdentifyFailed:
        case ProbeResult::NotCandidate:
        case ProbeResult::OpenFailed:
        case ProbeResult::Busy:
        case ProbeResult::HeldByOther:
            break;
    }
    return "failed";
}

const DriveProbe* FoundDevice(const std::vector<DriveProbe>& probes) {
    // The search takes the first match; so does this report.
    for (const DriveProbe& probe : probes)
        if (probe.result == ProbeResult::Device) return &probe;
    return nullptr;
}

using Json = nlohmann::ordered_json;

// A JSON string, or null when the value does not apply.
Json TextOrNull(bool applies, const std::string& text) {
    return applies ? Json(text) : Json(nullptr);
}

Json OrNull(const std::optional<std::string>& text) {
    return text ? Json(*text) : Json(nullptr);
}

// "KESTREL Virtual drive 1.00, USB 1d6b:0104, serial KV0001, port 1-1 (Slot 1)"; "" when
// nothing is known.
std::string IdentityText(const DriveIdentity& id, const std::vector<WebSlot>& slots) {
    std::string text;
    for (const auto* part : {&id.vendor, &id.product, &id.revision})
        if (*part) text += (text.empty() ? "" : " ") + **part;
    if (id.usb) text += (text.empty() ? "USB " : ", USB ") + *id.usb;
    if (id.serial) text += (text.empty() ? "serial " : ", serial ") + *id.serial;
    if (id.port) text += (text.empty() ? "port " : ", port ") + *id.port;
    const std::string label = id.port ? SlotLabel(slots, *id.port) : std::string();
    if (!label.empty()) text += " (" + label + ")";
    return text;
}

void PrintJson(const std::vector<DriveProbe>& probes, const DriveProbe* found,
               const std::vector<WebSlot>& slots) {
    Json drives = Json::array();
    for (const DriveProbe& probe : probes) {
        const bool candidate = IsCandidateKind(probe.drive.kind);
        const bool openFailed = probe.result == ProbeResult::OpenFailed;
        const bool asked = probe.Opened() && probe.result != ProbeResult::Busy &&
                           probe.result != ProbeResult::HeldByOther;
        const bool requestFailed = probe.result == ProbeResult::IdentifyFailed;
        const std::string hint = probe.Hint();
        Json d;
        d["name"] = probe.drive.name;
        d["path"] = probe.drive.devicePath;
        d["kind"] = DriveKindName(probe.drive.kind);
        d["candidate"] = candidate;
        d["opened"] = probe.Opened();
        d["openError"] = TextOrNull(openFailed, openFailed ? DescribeOsError(probe.openError) : "");
        d["openErrno"] = openFailed ? probe.openError : 0;
        d["busy"] = probe.result == ProbeResult::Busy;
        d["heldByOther"] = probe.result == ProbeResult::HeldByOther;
        d["holder"] = TextOrNull(!probe.holder.empty(), probe.holder);
        d["identify"] = TextOrNull(asked, AnswerName(probe.result));
        d["reply"] = TextOrNull(asked && !requestFailed, ReplyText(probe.reply));
        d["requestError"] = TextOrNull(requestFailed, requestFailed ? probe.RequestError() : "");
        d["requestErrno"] = asked ? probe.transport.osError : 0;
        d["scsiStatus"] = asked ? Json(probe.transport.scsiStatus) : Json(nullptr);
        d["hint"] = TextOrNull(!hint.empty(), hint);
        const DriveIdentity identity = ReadDriveIdentity(probe.drive);
        d["vendor"] = OrNull(identity.vendor);
        d["product"] = OrNull(identity.product);
        d["revision"] = OrNull(identity.revision);
        d["usb"] = OrNull(identity.usb);
        d["serial"] = OrNull(identity.serial);
        d["port"] = OrNull(identity.port);
        const std::string label = identity.port ? SlotLabel(slots, *identity.port) : "";
        d["slot"] = TextOrNull(!label.empty(), label);
        drives.push_back(d);
    }
    Json out;
    out["drives"] = drives;
    out["device"] = TextOrNull(found != nullptr, found != nullptr ? found->drive.devicePath : "");
    std::cout << out.dump(2) << '\n';
}

std::string Padded(std::string text, std::size_t width) {
    if (text.size() < width) text.resize(width, ' ');
    return text;
}

void PrintText(const std::vector<DriveProbe>& probes, const DriveProbe* found,
               const std::vector<WebSlot>& slots) {
    if (std::none_of(probes.begin(), probes.end(),
                     [](const DriveProbe& p) { return IsCandidateKind(p.drive.kind); }))
        std::cout << "no removable or CD-ROM drive found\n";
    std::size_t nameWidth = 4;
    std::size_t pathWidth = 4;
    for (const DriveProbe& probe : probes) {
        nameWidth = std::max(nameWidth, probe.drive.name.size());
        pathWidth = std::max(pathWidth, probe.drive.devicePath.size());
    }
    constexpr std::size_t kKindWidth = 9;  // "removable"
    for (const DriveProbe& probe : probes) {
        const std::string line = probe.Cause();
        const std::string hint = probe.Hint();
        const std::string name = Padded(probe.drive.name, nameWidth);
        const std::string path = Padded(probe.drive.devicePath, pathWidth);
        const std::string kind = Padded(DriveKindName(probe.drive.kind), kKindWidth);
        std::cout << name << "  " << kind << "  " << path << "  " << line << '\n';
        const std::string identity = IdentityText(ReadDriveIdentity(probe.drive), slots);
        if (!identity.empty()) std::cout << std::string(nameWidth + 2, ' ') << identity << '\n';
        if (!hint.empty()) std::cout << std::string(nameWidth + 2, ' ') << "hint: " << hint << '\n';
    }
    if (found != nullptr)
        std::cout << "device: " << found->drive.devicePath << '\n';
    else
        std::cout << "device: none found\n";
}

}  // namespace

std::string UnopenedDrivesAdvice() {
    std::string advice;
    for (const DriveCandidate& drive : EnumerateCandidateDrives()) {
        DriveProbe probe;
        probe.drive = drive;
        const DriveHandle handle = OpenDriveReadWrite(drive, &probe.openError);
        if (handle != kInvalidDrive) {
            CloseDevice(handle);
            continue;
        }
        probe.result = ProbeResult::OpenFailed;
        const std::string hint = probe.Hint();
        if (hint.empty()) continue;
        advice += "kestrel-cli: " + DriveShortName(drive) + ": " + probe.Cause() +
                  "\nhint: " + hint + "\n";
    }
    return advice;
}

void RegisterListCommand(CLI::App& app, std::function<int()>* run) {
    auto json = std::make_shared<bool>(false);
    auto slotsFile = std::make_shared<std::string>();
    CLI::App* list = app.add_subcommand(
        "list", "List the drives the device search looks at and how each answered");
    list->add_flag("--json", *json, "Print one JSON object");
    list->add_option("--slots", *slotsFile,
                     "Name each drive's slot by its port: FILE has one 'PORT LABEL' per line");
    list->callback([json, slotsFile, run] {
        *run = [json, slotsFile] {
            std::vector<WebSlot> slots;
            std::string error;
            if (!slotsFile->empty() && !ReadSlotsFile(*slotsFile, &slots, &error)) {
                std::cerr << "kestrel-cli: " << error << "\n";
                return kExitUsage;
            }
            const std::vector<DriveProbe> probes = ProbeCandidateDrives();
            const DriveProbe* found = FoundDevice(probes);
            if (*json)
                PrintJson(probes, found, slots);
            else
                PrintText(probes, found, slots);
            return found != nullptr ? kExitOk : kExitFailure;
        };
    });
}
