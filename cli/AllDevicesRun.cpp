#include "cli/AllDevicesRun.h"

#include <iostream>
#include <map>
#include <set>

#include <cstdio>

#include "cli/CliCommon.h"
#include "cli/ConsoleClock.h"
#include "cli/ConsoleInterrupt.h"
#include "ledger/DatabaseLedger.h"
#include "ledger/DatabaseSetup.h"
#include "ledger/JsonLinesLedger.h"
#include "ledger/RunCounts.h"
#include "line/ApprovedImage.h"
#include "line/ChildUpgrades.h"
#include "line/LineEvents.h"
#include "line/StationEvents.h"
#include "ledger/RunId.h"
#include "cli/ListCommand.h"
#include "cli/Terminal.h"
#include "device/DriveDiscovery.h"
#include "device/UpgradeProtocol.h"

void PrintEnded(ChildUpgrades& runs, const UnitResult& result) {
    runs.Print(EndedLine(result));
}

std::string EndedLine(const UnitResult& result) {
    char figures[64];
    std::snprintf(figures, sizeof figures, "  %d blocks  %.3f s", result.blocks, result.seconds);
    std::string why = result.Why();
    // A unit left alone has no message of its own: its code says why ("left-alone").
    if (why.empty()) why = result.Result().code;
    std::string line = DriveShortName(result.drive) + "  " + SerialLabel(result.identity) + "  " +
                       why + figures + (result.duplicateSerial ? "  duplicate serial" : "");
    for (const std::string& error : result.errors) line += "\n  " + error;
    return line;
}

std::optional<int> ApproveForChildren(LineOptions& options) {
    ConsoleDialog dlg({.path = options.file, .channelText = options.channel.value_or("0")});
    if (!dlg.ReadValues()) return kExitUsage;
    std::optional<AllowedSigners> signers;
    if (const std::optional<int> refused = ReadRunSigners(options.allowedSigners, &signers))
        return refused;
    ApprovedImage image;
    HexLoadReport loadRefused;
    if (!image.Load(dlg, ResolveImageFileType(options.type, options.file), &loadRefused,
                    signers ? &*signers : nullptr)) {
        TellLoadFailure(options.file, loadRefused);
        return kExitFailure;
    }
    if (options.expectSha256) {
        if (auto refusal = image.Refusal(*options.expectSha256, "expected")) {
            std::cerr << "kestrel-cli: " << *refusal << "; nothing was flashed\n";
            return kExitFailure;
        }
    }
    if (image.Signature() && !image.Signature()->Good()) {
        std::cerr << "kestrel-cli: " << image.Signature()->Text() << "; nothing was flashed\n";
        return kExitFailure;
    }
    // The children verify against the very file this run did.
    if (signers) options.allowedSigners = signers->Path();
    if (image.Signature()) {
        options.signer = image.Signature()->Signer().principal;
        options.signerFingerprint = image.Signature()->Signer().fingerprint;
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

ChildUpgrades::Ledgers ParentLedgers(const LineOptions& options,
                                     std::shared_ptr<DatabaseLedger> database) {
    ChildUpgrades::Ledgers ledgers;
    ledgers.byAttachment = options.byAttachment;
    RunRow& seed = ledgers.seed;
    seed.station = options.station.value_or(DefaultStationName());
    seed.lot = options.lot;
    seed.person = options.person;
    seed.file = options.file;
    seed.sha256 = options.approvedSha256;
    seed.type = ImageFileTypeName(ResolveImageFileType(options.type, options.file));
    if (!database && !options.record) return ledgers;
    ledgers.runs = std::make_shared<RunLedgers>();
    // The database first: its claim decides whether the unit is this run's at all.
    if (database) ledgers.runs->Add(std::move(database));
    if (options.record) ledgers.runs->Add(std::make_shared<JsonLinesLedger>(*options.record));
    return ledgers;
}

int RunAllDevices(LineOptions options) {
    EventFile eventFile;
    if (!OpenEventFile(options, eventFile)) return kExitFailure;
    LineEvents events(options.station.value_or(DefaultStationName()), options.lot, options.person,
                      options.sinks);
    std::ostream& out = options.events == "-" ? std::cerr : std::cout;
    const auto close = [&](int status, int succeeded, int failed) {
        events.Closed(succeeded, failed, status);
        SayEventTrouble(eventFile);
        return status;
    };
    // The file, the channel and the record are checked once here, before any device is touched.
    if (const std::optional<int> refused = ApproveForChildren(options)) {
        events.Opened("upgrade-all", options.file, std::nullopt);
        return close(*refused, 0, 0);
    }
    if (!options.signer.empty()) events.SetReleaseSigner(options.signer, options.signerFingerprint);
    events.Opened("upgrade-all", options.file, options.approvedSha256);
    // The one connection of every run (the children never connect), made before any device is
    // touched.
    std::shared_ptr<DatabaseLedger> database;
    if (options.db) {
        std::string error;
        database = DatabaseLedger::Open(
            *options.db, {.skipDone = options.skipDone, .maxAttempts = options.maxAttempts},
            &error);
        if (!database) {
            // A set-up mistake is no outage: it is said with its fix, as a usage error.
            const std::optional<std::string> advice = DatabaseSetupAdvice(error, *options.db);
            std::cerr << "kestrel-cli: cannot record the runs: " << error
                      << (advice ? "; " + *advice : std::string()) << "; no device was touched\n";
            events.Warning("database", "cannot record the runs: " + error);
            return close(advice ? kExitUsage : kExitFailure, 0, 0);
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
        return close(kExitFailure, 0, 0);
    }
    std::map<std::string, int> serials;
    for (const auto& [drive, identity] : devices)
        if (identity.serialBytes && !identity.serialBytes->empty())
            ++serials[*identity.serialBytes];

    ConsoleClock clock;
    ChildUpgrades runs(options.ChildArguments(), IsTerminal(StandardStream::Error), clock, out,
                       ParentLedgers(options, std::move(database)));
    StationEvents stream(events);
    runs.SetOnReport([&stream](const UnitResult& run) { stream.Reported(run); });
    int succeeded = 0;
    int failed = 0;
    int cancelled = 0;  // stopped the way Cancel does (Ctrl-C): not failed, not flashed either
    RunCounter counts;  // the runs, as every view counts them
    for (const auto& [drive, identity] : devices) {
        std::string error;
        const bool duplicate = identity.serialBytes && serials[*identity.serialBytes] > 1;
        const LineEvents::Unit unit = LineEvents::UnitOf(identity, DriveShortName(drive));
        events.Attached(unit, identity.usb, duplicate);
        if (!runs.Start(drive, identity, identity.Unit(), duplicate, &error)) {
            runs.Print(drive.name + "  kestrel-cli: " + error);
            events.Skipped(unit, "not-started", "kestrel-cli: " + error);
            ++failed;
        }
    }
    bool interrupted = false;
    while (runs.Running() > 0) {
        for (const UnitResult& result : runs.Poll(std::chrono::milliseconds(50))) {
            PrintEnded(runs, result);
            stream.Ended(result);
            counts.Add(result.Row({}));
            const RunResult decided = result.Result();
            ++(decided.Succeeded()                          ? succeeded
               : decided.kind == RunResult::Kind::Cancelled ? cancelled
                                                            : failed);
        }
        stream.Heartbeat();
        if (ConsoleInterrupt::Requested() && !interrupted) {
            interrupted = true;
            std::cerr << "Interrupted: cancelling every upgrade\n";
            runs.InterruptAll();
        }
    }
    out << devices.size() << (devices.size() == 1 ? " device: " : " devices: ") << succeeded
        << " succeeded, " << failed << " failed"
        << (cancelled > 0 ? ", " + std::to_string(cancelled) + " cancelled" : "") << '\n'
        << "runs: " << counts.Counts().Summary() << '\n'
        << std::flush;
    const int status = interrupted               ? ConsoleInterrupt::ExitStatus()
                       : failed + cancelled == 0 ? kExitOk
                                                 : kExitFailure;
    return close(status, succeeded, failed);
}
