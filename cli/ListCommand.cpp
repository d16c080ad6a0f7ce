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

namespace {

constexpr std::uint8_t kScsiCheckCondition = 0x02;

std::string ReplyText(const std::array<std::uint8_t, 2>& reply) {
    char text[6];
    std::snprintf(text, sizeof text, "%02X %02X", reply[0], reply[1]);
    return text;
}

// Why a request that never came back failed: the OS error, or what the adapter or driver said.
std::string RequestErrorText(const PassThroughResult& transport) {
    if (transport.osError != 0) return DescribeOsError(transport.osError);
    char text[64];
    std::snprintf(text, sizeof text, "host status 0x%02X, driver status 0x%02X",
                  static_cast<unsigned>(transport.hostStatus),
                  static_cast<unsigned>(transport.driverStatus));
    return text;
}

const char* AnswerName(IdentifyAnswer answer) {
    switch (answer) {
        case IdentifyAnswer::Device:
            return "device";
        case IdentifyAnswer::OtherAnswer:
            return "other";
        case IdentifyAnswer::RequestFailed:
            return "failed";
    }
    return "failed";
}

// What was refused first: the helper when it refused, else the node's open and the OS's words.
std::string OpenFailureText(int osError) {
    const std::string refusal = OpenRefusal(osError);
    return refusal.empty() ? "open failed: " + DescribeOsError(osError) : refusal;
}

// One line of what happened to the drive, and a hint (may be empty) on how to fix it.
std::pair<std::string, std::string> Outcome(const DriveProbe& probe) {
    if (!IsCandidateKind(probe.drive.kind)) return {"skipped: not removable, never opened", {}};
    if (!probe.opened) return {OpenFailureText(probe.openError), OpenFailureHint(probe.openError)};
    if (probe.busy) return {"busy: another Kestrel run holds it", {}};
    if (probe.heldByOther)
        return {"busy: held by another process" +
                    (probe.holder.empty() ? std::string() : " (" + probe.holder + ")"),
                "another program kept the drive locked for longer than it takes udev to look at "
                "a new disk: try again when it has finished"};
    switch (probe.answer) {
        case IdentifyAnswer::Device:
            return {"opened, identify answered AA 55: the device", {}};
        case IdentifyAnswer::OtherAnswer: {
            // The protocol ignores the SCSI status; a drive that does not know the opcode says so
            // here (2, CHECK CONDITION), which is worth showing.
            std::string line =
                "opened, identify answered " + ReplyText(probe.reply) + ": not the device";
            if (probe.transport.scsiStatus != 0) {
                char status[64];
                std::snprintf(
                    status, sizeof status, " (SCSI status 0x%02X%s)",
                    unsigned{probe.transport.scsiStatus},
                    probe.transport.scsiStatus == kScsiCheckCondition ? ", check condition" : "");
                line += status;
            }
            return {line, {}};
        }
        case IdentifyAnswer::RequestFailed:
            return {"opened, identify request failed: " + RequestErrorText(probe.transport),
                    PassThroughFailureHint(probe.transport)};
    }
    return {};
}

const DriveProbe* FoundDevice(const std::vector<DriveProbe>& probes) {
    // The search takes the first match; so does this report.
    for (const DriveProbe& probe : probes)
        if (probe.opened && probe.answer == IdentifyAnswer::Device) return &probe;
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

// "KESTREL Virtual drive 1.00, USB 1d6b:0104, serial KV0001"; "" when nothing is known.
std::string IdentityText(const DriveIdentity& id) {
    std::string text;
    for (const auto* part : {&id.vendor, &id.product, &id.revision})
        if (*part) text += (text.empty() ? "" : " ") + **part;
    if (id.usb) text += (text.empty() ? "USB " : ", USB ") + *id.usb;
    if (id.serial) text += (text.empty() ? "serial " : ", serial ") + *id.serial;
    return text;
}

void PrintJson(const std::vector<DriveProbe>& probes, const DriveProbe* found) {
    Json drives = Json::array();
    for (const DriveProbe& probe : probes) {
        const bool candidate = IsCandidateKind(probe.drive.kind);
        const bool openFailed = candidate && !probe.opened;
        const bool asked = probe.opened && !probe.busy && !probe.heldByOther;
        const bool requestFailed = asked && probe.answer == IdentifyAnswer::RequestFailed;
        const std::string hint = Outcome(probe).second;
        Json d;
        d["name"] = probe.drive.name;
        d["path"] = probe.drive.devicePath;
        d["kind"] = DriveKindName(probe.drive.kind);
        d["candidate"] = candidate;
        d["opened"] = probe.opened;
        d["openError"] = TextOrNull(openFailed, openFailed ? DescribeOsError(probe.openError) : "");
        d["openErrno"] = openFailed ? probe.openError : 0;
        d["busy"] = probe.busy;
        d["heldByOther"] = probe.heldByOther;
        d["holder"] = TextOrNull(!probe.holder.empty(), probe.holder);
        d["identify"] = TextOrNull(asked, AnswerName(probe.answer));
        d["reply"] = TextOrNull(asked && !requestFailed, ReplyText(probe.reply));
        d["requestError"] =
            TextOrNull(requestFailed, requestFailed ? RequestErrorText(probe.transport) : "");
        d["requestErrno"] = asked ? probe.transport.osError : 0;
        d["scsiStatus"] = asked ? Json(probe.transport.scsiStatus) : Json(nullptr);
        d["hint"] = TextOrNull(!hint.empty(), hint);
        const DriveIdentity identity = ReadDriveIdentity(probe.drive);
        d["vendor"] = OrNull(identity.vendor);
        d["product"] = OrNull(identity.product);
        d["revision"] = OrNull(identity.revision);
        d["usb"] = OrNull(identity.usb);
        d["serial"] = OrNull(identity.serial);
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

void PrintText(const std::vector<DriveProbe>& probes, const DriveProbe* found) {
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
        const auto [line, hint] = Outcome(probe);
        const std::string name = Padded(probe.drive.name, nameWidth);
        const std::string path = Padded(probe.drive.devicePath, pathWidth);
        const std::string kind = Padded(DriveKindName(probe.drive.kind), kKindWidth);
        std::cout << name << "  " << kind << "  " << path << "  " << line << '\n';
        const std::string identity = IdentityText(ReadDriveIdentity(probe.drive));
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
        int error = 0;
        const DriveHandle handle = OpenDriveReadWrite(drive, &error);
        if (handle != kInvalidDrive) {
            CloseDevice(handle);
            continue;
        }
        const std::string hint = OpenFailureHint(error);
        if (hint.empty()) continue;
        advice += "kestrel-cli: " + DriveShortName(drive) + ": " + OpenFailureText(error) +
                  "\nhint: " + hint + "\n";
    }
    return advice;
}

void RegisterListCommand(CLI::App& app, std::function<int()>* run) {
    auto json = std::make_shared<bool>(false);
    CLI::App* list = app.add_subcommand(
        "list", "List the drives the device search looks at and how each answered");
    list->add_flag("--json", *json, "Print one JSON object");
    list->callback([json, run] {
        *run = [json] {
            const std::vector<DriveProbe> probes = ProbeCandidateDrives();
            const DriveProbe* found = FoundDevice(probes);
            if (*json)
                PrintJson(probes, found);
            else
                PrintText(probes, found);
            return found != nullptr ? kExitOk : kExitFailure;
        };
    });
}
