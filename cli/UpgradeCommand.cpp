#include "cli/UpgradeCommand.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <memory>

#include "cli/AllDevicesRun.h"
#include "cli/CliCommon.h"
#include "cli/ConsoleInterrupt.h"
#include "cli/ListCommand.h"
#include "ledger/DatabaseLedger.h"
#include "ledger/DatabaseSetup.h"
#include "ledger/JsonLinesLedger.h"
#include "ledger/RunId.h"
#include "ledger/RunRecord.h"
#include "cli/Terminal.h"
#include "device/DriveDiscovery.h"
#include "device/UpgradeProtocol.h"
#include "image/FirmwareImage.h"
#include "ledger/RunLedgers.h"
#include "line/ApprovedImage.h"
#include "line/ChildReport.h"
#include "line/EventFile.h"
#include "line/LineEvents.h"

namespace {

struct UpgradeArgs {
    // What upgrade shares with --all and station (type, channel, record, database, events,
    // lot, operator, identity, FILE); a child gets it from its parent (see ChildArguments).
    LineOptions line;
    bool yes = false;
    std::optional<std::string> device;
    bool all = false;
    bool report = false;  // run by a parent kestrel-cli (upgrade --all, station)
    // From a parent: whether another attached unit has this one's serial.
    bool duplicateSerial = false;
};

void PrintSummary(std::ostream& out, const ConsoleDialog& dlg, int totalBlocks) {
    char text[128];
    std::snprintf(text, sizeof text, "%d of %d blocks sent in %.3f s (transfers %.3f s)\n",
                  dlg.BlocksStepped(), totalBlocks, dlg.RunSeconds(), dlg.TickSeconds());
    out << text << std::flush;
}

// Stops the run the way the Cancel button does (waiting 2 s when the device was busy), which
// also closes the drive handle.
void Cancel(ConsoleDialog& dlg) {
    std::cerr << "Interrupted: cancelling the upgrade\n";
    CancelUpgrade(dlg);
}

// Sends the image to the device; true when an interrupt cancelled the run. How it ended is
// LastUpgradeOutcome().
bool Upgrade(ConsoleDialog& dlg, bool* started) {
    StartUpgrade(dlg);
    *started = UpgradeStartAccepted(dlg);
    if (!*started) {
        if (!ConsoleInterrupt::Requested()) return false;
        Cancel(dlg);
        return true;
    }
    dlg.RunBlockTimer([&dlg] { SendNextBlock(dlg); }, [] { return ConsoleInterrupt::Requested(); });
    // Only an interrupt leaves the loop with blocks still due.
    if (!dlg.TimerArmed()) return false;
    Cancel(dlg);
    return true;
}

// The unit and what it reported, as far as the run got: the drive found (else the one named),
// the image, the device's version before.
void FillUnit(RunRecord& record, const UpgradeArgs& args, const ConsoleDialog& dlg,
              ImageFileType type) {
    const std::optional<DriveCandidate>& found = LastFoundDrive();
    if (found) {
        record.drive = DriveShortName(*found);
        record.identity = ReadDriveIdentity(*found);
    } else if (args.device) {
        // Not the device, or gone: the drive as named, and what the OS knows of it.
        record.drive = *args.device;
        record.identity = {};
        for (const DriveCandidate& drive : EnumerateDrives()) {
            if (!DriveNamed(drive, *args.device)) continue;
            record.drive = DriveShortName(drive);
            record.identity = ReadDriveIdentity(drive);
        }
    }
    record.family = ImageFamilyText();
    record.chipId = ImageChipIdText();
    record.bootType = ImageBootType();
    record.versionBefore = LastReportedVersion();
    record.file = dlg.m_strProgramFile;
    record.type = ImageFileTypeName(type);
    record.startBlock = g_image.startBlock;
    record.endBlock = g_image.endBlock;
}

// How the run ended, for its final line: the last message it showed, else its cause in words.
void FillOutcome(RunRecord& record, const ConsoleDialog& dlg, const RunResult& result) {
    record.blocksSent = dlg.BlocksStepped();
    record.seconds = dlg.RunSeconds();
    record.result = result.Name();
    record.code = result.code;
    record.detail = result.detail;
    record.message = dlg.Messages().empty() ? result.cause : dlg.Messages().back();
    record.time = RunRecord::UtcNow();
}

// Tells a parent how the run ended (see ChildReport).
void ReportEnd(const UpgradeArgs& args, const ConsoleDialog& dlg, const RunResult& result,
               StartVerdict startVerdict) {
    if (!args.report) return;
    std::cout << ChildReport::ResultLine(result.code, result.detail)
              << ChildReport::EndedLine(LastUpgradeOutcome(), dlg.BlocksStepped(), dlg.RunSeconds(),
                                        startVerdict)
              << std::flush;
}

// A refusal before any device is touched.
int Refused(ConsoleDialog& dlg, const std::string& text) {
    dlg.ReleaseMessages();
    std::cerr << "kestrel-cli: " << text << '\n';
    return kExitFailure;
}

int RunUpgrade(const UpgradeArgs& args) {
    LineOptions line = args.line;
    // The database comes first: its claim decides whether the unit is this run's at all, so a
    // unit another station holds leaves no started line in the record file.
    RunLedgers ledgers;
    const bool recording = line.record.has_value() || line.db.has_value();
    const ImageFileType type = ResolveImageFileType(line.type, line.file);
    RunRecord record;
    record.run = NewRunId();
    record.station = line.station.value_or(DefaultStationName());
    record.lot = line.lot;
    record.person = line.person;
    record.byAttachment = line.byAttachment;
    record.duplicateSerial = args.duplicateSerial;
    StartVerdict startVerdict = StartVerdict::Recorded;
    std::string leftAloneBecause;  // what the unit database said of a unit it kept back
    DatabaseLedger* database = nullptr;
    if (args.report) std::cout << ChildReport::RunLine(record.run) << std::flush;

    // A child's events are its parent's to write (its parent passes no --events).
    EventFile eventFile;
    if (!OpenEventFile(line, eventFile)) return kExitFailure;
    LineEvents events(record.station, line.lot, line.person, line.sinks);
    // With the events on standard output, everything for a person goes to stderr.
    std::ostream& out = line.events == "-" ? std::cerr : std::cout;
    const auto unit = [&] { return LineEvents::UnitOf(record.identity, record.drive); };

    ConsoleDialog* dialog = nullptr;
    // The started entry, written once the run is confirmed and before its start frame: a
    // unit that could not be recorded is not flashed.
    const auto recordStart = [&]() {
        if (recording || events.Active()) FillUnit(record, args, *dialog, type);
        if (recording) {
            record.startedAt = RunRecord::UtcNow();
            std::string error;
            startVerdict = ledgers.Started(record, &error);
            if (startVerdict != StartVerdict::Recorded) {
                record.startedAt.reset();
                dialog->ReleaseMessages();
                if (startVerdict == StartVerdict::Failed) {
                    record.message = "cannot record the run: " + error;
                    std::cerr << "kestrel-cli: " << record.message
                              << "; the unit was not flashed\n";
                } else {
                    leftAloneBecause = error;
                    std::cerr << "kestrel-cli: " << error << "; the unit was left alone\n";
                }
                return false;
            }
        }
        if (args.report)
            std::cout << ChildReport::StartedLine(g_image.startBlock, g_image.endBlock,
                                                  LastReportedVersion().value_or(""))
                      << std::flush;
        events.Started(record.run, unit(), g_image.startBlock, g_image.endBlock,
                       LastReportedVersion());
        events.Progress(record.run, unit(), 0, g_image.endBlock - g_image.startBlock, 0.0, true);
        return true;
    };
    const auto progress = [&](int done, int total) {
        events.Progress(record.run, unit(), done, total, dialog->RunSeconds());
    };
    ConsoleDialog dlg({.path = line.file,
                       .channelText = line.channel.value_or("0"),
                       .assumeYes = args.yes,
                       .showProgress = !args.report && IsTerminal(StandardStream::Error),
                       .holdMessages = recording,
                       .reportToParent = args.report,
                       .beforeStartFrame = recordStart,
                       .onProgress = progress});
    dialog = &dlg;
    // Everything that can refuse the run before a device is touched says so once; the events
    // close with the exit status.
    const auto close = [&](int status, int succeeded = 0, int failed = 0) {
        events.Closed(succeeded, failed, status);
        SayEventTrouble(eventFile);
        return status;
    };
    // The Channel box's rule and message; a bad value is a usage error here.
    if (!dlg.ReadValues()) {
        dlg.ReleaseMessages();
        return close(kExitUsage);
    }
    std::optional<AllowedSigners> signers;
    if (const std::optional<int> refusedSigners = ReadRunSigners(line.allowedSigners, &signers)) {
        events.Opened("upgrade", line.file, std::nullopt);
        dlg.ReleaseMessages();
        return close(*refusedSigners);
    }
    ApprovedImage image;
    HexLoadReport refused;
    const bool loaded = image.Load(dlg, type, &refused, signers ? &*signers : nullptr);
    events.Opened("upgrade", image.Path().empty() ? line.file : image.Path(),
                  loaded ? std::optional(image.Sha256()) : std::nullopt);
    if (!loaded) {
        dlg.ReleaseMessages();
        TellLoadFailure(line.file, refused);
        return close(kExitFailure);
    }
    if (line.expectSha256) {
        if (auto refusal = image.Refusal(*line.expectSha256, "expected"))
            return close(Refused(dlg, *refusal + "; nothing was flashed"));
    }
    // Refused before any device is touched, but recorded: the station counts it as a failure.
    std::optional<std::string> changed;
    if (!line.approvedSha256.empty())
        changed = image.Refusal(line.approvedSha256, "but it was approved with");
    // A release signature that does not verify: refused before any device is touched; in a
    // child, whose parent verified it, the file or its signature changed since.
    const std::optional<ReleaseSignature>& signature = image.Signature();
    if (signature && !signature->Good()) {
        if (line.approvedSha256.empty())
            return close(Refused(dlg, signature->Text() + "; nothing was flashed"));
        if (!changed) changed = signature->Text();
    }
    if (args.device) ChooseOnlyDrive(*args.device);

    if (recording) {
        // A record file that takes no append at all stops the run before the device is touched.
        std::string error;
        if (line.record && !JsonLinesLedger::Writable(*line.record, &error))
            return close(Refused(dlg, "cannot record the run: " + error));
        if (line.db) {
            auto db = DatabaseLedger::Open(
                *line.db, {.skipDone = line.skipDone, .maxAttempts = line.maxAttempts}, &error);
            if (!db) {
                // Not the unit's failure: a station tries it again once the database answers.
                if (args.report)
                    std::cout << ChildReport::EndedLine(UpgradeOutcome::None, 0, 0.0,
                                                        StartVerdict::Deferred)
                              << std::flush;
                // A set-up mistake is no outage: said with its fix, as a usage error.
                if (const auto advice = DatabaseSetupAdvice(error, *line.db)) {
                    Refused(dlg, "cannot record the run: " + error + "; " + *advice);
                    return close(kExitUsage);
                }
                return close(Refused(dlg, "cannot record the run: " + error));
            }
            database = db.get();
            ledgers.Add(std::move(db));
        }
        if (line.record) ledgers.Add(std::make_unique<JsonLinesLedger>(*line.record));
    }
    record.sha256 = image.Sha256();

    RunEnd end;
    bool started = false;
    // Held until the run is recorded: a second Ctrl-C must not end the process half-way.
    ConsoleInterrupt interrupt;
    if (!changed) {
        end.interrupted = Upgrade(dlg, &started);
        end.outcome = LastUpgradeOutcome();
        end.noDevice = LastUpgradeFoundNoDevice();
        end.failure = LastUpgradeFailure();
    }
    end.imageChanged = changed.has_value();
    end.startVerdict = startVerdict;
    RunResult result = DecideRun(end);
    // A unit left alone (held elsewhere, done, held back) had no run here: nothing to record.
    if (result.Counts()) {
        FillUnit(record, args, dlg, type);
        const std::string withheldBecause = record.message;
        FillOutcome(record, dlg, result);
        if (startVerdict == StartVerdict::Failed) record.message = withheldBecause;
        if (changed) record.message = *changed + "; the file changed after it was approved";
        std::string error;
        if (recording && !ledgers.Finished(record, &error)) {
            dlg.ReleaseMessages();
            // Said once: a started entry that failed has said it already.
            if (startVerdict == StartVerdict::Recorded)
                std::cerr << "kestrel-cli: cannot record the run: " << error << '\n';
            end.notRecorded = true;
            result = DecideRun(end);
        }
        events.Finished(record.run, unit(), result.Name(), result.code, result.detail,
                        record.message, record.blocksSent, record.seconds);
    } else if (database != nullptr) {
        events.Skipped(unit(), database->LeftAloneReason(), leftAloneBecause);
    }
    dlg.ReleaseMessages();
    ReportEnd(args, dlg, result, startVerdict);
    if (changed)
        return close(
            Refused(dlg, *changed + "; the file changed after it was approved, the unit was "
                                    "not flashed"),
            0, 1);
    if (started) PrintSummary(out, dlg, g_image.endBlock - g_image.startBlock);
    // No device: say which drives could not even be opened, and how to get the rights.
    if (LastUpgradeFoundNoDevice()) std::cerr << UnopenedDrivesAdvice();
    return close(result.ExitStatus(ConsoleInterrupt::ExitStatus()), result.Succeeded() ? 1 : 0,
                 result.Counts() && !result.Succeeded() ? 1 : 0);
}

}  // namespace

void RegisterUpgradeCommand(CLI::App& app, std::function<int()>* run) {
    auto args = std::make_shared<UpgradeArgs>();
    LineOptions& line = args->line;
    CLI::App* upgrade =
        app.add_subcommand("upgrade", "Check the attached device and send it the image's blocks");
    AddTypeOption(*upgrade, line.type);
    upgrade->add_flag("--yes", args->yes, "Answer OK to the confirmation prompt");
    upgrade->add_option("--channel", line.channel, "Channel value (unsigned decimal, default 0)");
    auto* device = upgrade->add_option("--device", args->device,
                                       "Only this drive (sdb, /dev/sdb, sr0; E: on Windows)");
    auto* all = upgrade->add_flag("--all", args->all,
                                  "Every attached device at once, each in its own process "
                                  "(needs --yes)");
    device->excludes(all);
    AddLineOptions(*upgrade, line);
    // From a parent kestrel-cli, which reads stdout.
    upgrade->add_flag("--report", args->report)->group("");
    upgrade->add_option("--approved-sha256", line.approvedSha256)->group("");
    upgrade->add_flag("--duplicate-serial", args->duplicateSerial)->group("");
    AddDatabaseOption(*upgrade, line.db);
    upgrade->add_option("--max-attempts", line.maxAttempts)->group("");
    upgrade->add_flag("--skip-done", line.skipDone)->group("");
    upgrade->add_option("FILE", line.file, "Raw binary or Intel HEX image")->required();
    upgrade->callback([args, run, &app] {
        // Several prompts cannot be answered at once.
        if (args->all && !args->yes) throw CLI::ValidationError("--all", "needs --yes");
        *run = [args, &app] {
            args->line.verbose = app.count("--verbose") > 0;
            if (!args->all) return RunUpgrade(*args);
            return RunAllDevices(args->line);
        };
    });
}
