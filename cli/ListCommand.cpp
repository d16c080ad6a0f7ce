#include "cli/ListCommand.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>

#include "cli/CliCommon.h"
#include "device/DriveDiscovery.h"

namespace {

std::string ReplyText(const std::array<std::uint8_t, 2>& reply)
{
    char text[6];
    std::snprintf(text, sizeof text, "%02X %02X", reply[0], reply[1]);
    return text;
}

// Why a request that never came back failed: the OS error, or what the adapter or driver said.
std::string RequestErrorText(const PassThroughResult& transport)
{
    if (transport.osError != 0) return DescribeOsError(transport.osError);
    char text[64];
    std::snprintf(text, sizeof text, "host status 0x%02X, driver status 0x%02X",
                  static_cast<unsigned>(transport.hostStatus),
                  static_cast<unsigned>(transport.driverStatus));
    return text;
}

const char* AnswerName(IdentifyAnswer answer)
{
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

// One line of what happened to the drive, and a hint (may be empty) on how to fix it.
std::pair<std::string, std::string> Outcome(const DriveProbe& probe)
{
    if (!IsCandidateKind(probe.drive.kind)) return {"skipped: not removable, never opened", {}};
    if (!probe.opened)
        return {"open failed: " + DescribeOsError(probe.openError), OpenFailureHint(probe.openError)};
    switch (probe.answer) {
    case IdentifyAnswer::Device:
        return {"opened, identify answered AA 55: the device", {}};
    case IdentifyAnswer::OtherAnswer:
        return {"opened, identify answered " + ReplyText(probe.reply) + ": not the device", {}};
    case IdentifyAnswer::RequestFailed:
        return {"opened, identify request failed: " + RequestErrorText(probe.transport),
                PassThroughFailureHint(probe.transport)};
    }
    return {};
}

const DriveProbe* FoundDevice(const std::vector<DriveProbe>& probes)
{
    // The search takes the first match; so does this report.
    for (const DriveProbe& probe : probes)
        if (probe.opened && probe.answer == IdentifyAnswer::Device) return &probe;
    return nullptr;
}

void PrintJson(const std::vector<DriveProbe>& probes, const DriveProbe* found)
{
    nlohmann::ordered_json drives = nlohmann::ordered_json::array();
    for (const DriveProbe& probe : probes) {
        nlohmann::ordered_json d;
        const bool candidate = IsCandidateKind(probe.drive.kind);
        d["name"] = probe.drive.name;
        d["path"] = probe.drive.devicePath;
        d["kind"] = DriveKindName(probe.drive.kind);
        d["candidate"] = candidate;
        d["opened"] = probe.opened;
        d["openError"] = candidate && !probe.opened ? DescribeOsError(probe.openError) : nullptr;
        d["openErrno"] = candidate && !probe.opened ? probe.openError : 0;
        if (probe.opened) {
            d["identify"] = AnswerName(probe.answer);
            d["reply"] = probe.answer == IdentifyAnswer::RequestFailed ? nullptr
                                                                       : ReplyText(probe.reply);
            d["requestError"] = probe.answer == IdentifyAnswer::RequestFailed
                                    ? RequestErrorText(probe.transport)
                                    : nullptr;
            d["requestErrno"] = probe.transport.osError;
        } else {
            d["identify"] = nullptr;
            d["reply"] = nullptr;
            d["requestError"] = nullptr;
            d["requestErrno"] = 0;
        }
        const std::string hint = Outcome(probe).second;
        d["hint"] = hint.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(hint);
        drives.push_back(d);
    }
    nlohmann::ordered_json out;
    out["drives"] = drives;
    out["device"] = found != nullptr ? nlohmann::ordered_json(found->drive.devicePath) : nullptr;
    std::cout << out.dump(2) << '\n';
}

void PrintText(const std::vector<DriveProbe>& probes, const DriveProbe* found)
{
    if (probes.empty()) std::cout << "no drives found\n";
    std::size_t nameWidth = 4, pathWidth = 4;
    for (const DriveProbe& probe : probes) {
        nameWidth = std::max(nameWidth, probe.drive.name.size());
        pathWidth = std::max(pathWidth, probe.drive.devicePath.size());
    }
    for (const DriveProbe& probe : probes) {
        const auto [line, hint] = Outcome(probe);
        std::string name = probe.drive.name, path = probe.drive.devicePath;
        name.resize(nameWidth, ' ');
        path.resize(pathWidth, ' ');
        std::string kind = DriveKindName(probe.drive.kind);
        kind.resize(9, ' ');
        std::cout << name << "  " << kind << "  " << path << "  " << line << '\n';
        if (!hint.empty()) std::cout << std::string(nameWidth + 2, ' ') << "hint: " << hint << '\n';
    }
    if (found != nullptr)
        std::cout << "device: " << found->drive.devicePath << '\n';
    else
        std::cout << "device: none found\n";
}

}  // namespace

void RegisterListCommand(CLI::App& app, std::function<int()>* run)
{
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
