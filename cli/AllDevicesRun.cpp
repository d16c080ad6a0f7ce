#include "cli/AllDevicesRun.h"

#include <iostream>
#include <map>
#include <set>

#include "cli/ApprovedImage.h"
#include "cli/ChildUpgrades.h"
#include "ledger/JsonLinesLedger.h"
#include "cli/CliCommon.h"
#include "cli/ConsoleInterrupt.h"
#include "ledger/DatabaseLedger.h"
#include "cli/ListCommand.h"
#include "cli/Terminal.h"
#include "device/DriveDiscovery.h"
#include "device/UpgradeProtocol.h"

std::vector<std::string> UpgradeChildOptions::ChildArguments() const {
    std::vector<std::string> args;
    if (type) args.insert(args.end(), {"--type", *type});
    if (channel) args.insert(args.end(), {"--channel", *channel});
    if (record) args.insert(args.end(), {"--record", *record});
    if (station) args.insert(args.end(), {"--station", *station});
    if (db) args.insert(args.end(), {"--db", DatabaseArgumentForChildren(*db)});
    if (maxAttempts > 0) args.insert(args.end(), {"--max-attempts", std::to_string(maxAttempts)});
    if (skipDone) args.push_back("--skip-done");
    if (!approvedSha256.empty()) args.insert(args.end(), {"--approved-sha256", approvedSha256});
    // "--" keeps a file name that starts with '-' a file name.
    args.insert(args.end(), {"--", file});
    return args;
}

std::optional<int> ApproveForChildren(UpgradeChildOptions& options) {
    ConsoleDialog dlg({.path = options.file, .channelText = options.channel.value_or("0")});
    if (!dlg.ReadValues()) return kExitUsage;
    ApprovedImage image;
    if (!image.Load(dlg, ResolveImageFileType(options.type, options.file))) return kExitFailure;
    if (options.expectSha256) {
        if (auto refusal = image.Refusal(*options.expectSha256, "expected")) {
            std::cerr << "kestrel-cli: " << *refusal << "; nothing was flashed\n";
            return kExitFailure;
        }
    }
    options.approvedSha256 = image.Sha256();
    std::string error;
    if (options.record && !JsonLinesLedger::Writable(*options.record, &error)) {
        std::cerr << "kestrel-cli: cannot record the runs: " << error
                  << "; no device was touched\n";
        return kExitFailure;
    }
    if (options.db && !DatabaseSupported(&error)) {
        std::cerr << "kestrel-cli: " << error << '\n';
        return kExitUsage;
    }
    return std::nullopt;
}

int RunAllDevices(UpgradeChildOptions options) {
    // The file, the channel and the record are checked once here, before any device is touched.
    if (const std::optional<int> refused = ApproveForChildren(options)) return *refused;
    if (options.db) {
        // One look at the database first (and its schema made), so that every child does not
        // say on its own that it does not answer.
        std::string error;
        if (!UnitDatabase::Open(*options.db, &error)) {
            std::cerr << "kestrel-cli: cannot record the runs: " << error
                      << "; no device was touched\n";
            return kExitFailure;
        }
    }

    // Blocks SIGINT/SIGTERM before any reader thread exists, so only the waits take them.
    ConsoleInterrupt interrupt;
    std::vector<std::pair<DriveCandidate, DriveIdentity>> devices;
    std::set<std::string> ports;
    for (const DriveProbe& probe : ProbeCandidateDrives()) {
        if (probe.result != ProbeResult::Device) continue;
        DriveIdentity identity = ReadDriveIdentity(probe.drive);
        // One run per unit: a second drive of the same USB device is the same unit.
        if (identity.port && !ports.insert(*identity.port).second) continue;
        devices.emplace_back(probe.drive, std::move(identity));
    }
    if (devices.empty()) {
        ConsoleDialog dlg({});
        dlg.ShowMessage(kMsgDeviceOpenFail);
        // Say which drives could not even be opened, and how to get the rights.
        std::cerr << UnopenedDrivesAdvice();
        return kExitFailure;
    }
    std::map<std::string, int> serials;
    for (const auto& [drive, identity] : devices)
        if (identity.serialBytes && !identity.serialBytes->empty())
            ++serials[*identity.serialBytes];

    ChildUpgrades runs(options.ChildArguments(), IsTerminal(StandardStream::Error));
    int succeeded = 0;
    int failed = 0;
    for (const auto& [drive, identity] : devices) {
        std::string error;
        const bool duplicate = identity.serialBytes && serials[*identity.serialBytes] > 1;
        if (!runs.Start(drive, identity, identity.Unit(), duplicate, &error)) {
            runs.Print(drive.name + "  kestrel-cli: " + error);
            ++failed;
        }
    }
    bool interrupted = false;
    while (runs.Running() > 0) {
        for (const UnitResult& result : runs.Poll(std::chrono::milliseconds(50)))
            ++(result.status == kExitOk ? succeeded : failed);
        if (ConsoleInterrupt::Requested() && !interrupted) {
            interrupted = true;
            std::cerr << "Interrupted: cancelling every upgrade\n";
            runs.InterruptAll();
        }
    }
    std::cout << devices.size() << (devices.size() == 1 ? " device: " : " devices: ") << succeeded
              << " succeeded, " << failed << " failed\n";
    if (interrupted) return ConsoleInterrupt::ExitStatus();
    return failed == 0 ? kExitOk : kExitFailure;
}
