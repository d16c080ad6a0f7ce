#include "cli/UpgradeCommand.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <memory>

#include "cli/AllDevicesRun.h"
#include "line/ChildReport.h"
#include "cli/CliCommon.h"
#include "cli/ConsoleInterrupt.h"
#include "ledger/DatabaseLedger.h"
#include "ledger/DatabaseSetup.h"
#include "ledger/JsonLinesLedger.h"
#include "cli/ListCommand.h"
#include "ledger/RunId.h"
#include "ledger/RunLedgers.h"
#include "ledger/RunRecord.h"
#include "line/ApprovedImage.h"
#include "cli/Terminal.h"
#include "device/DriveDiscovery.h"
#include "device/UpgradeProtocol.h"
#include "image/FirmwareImage.h"

namespace {

struct UpgradeArgs {
    std::optional<std::string> type;
    bool yes = false;
    std::optional<std::string> channel;
    std::optional<std::string> device;
    std::optional<std::string> record;
    bool all = false;
    bool report = false;  // run by a parent kestrel-cli (upgrade --all, station)
    std::optional<std::string> station;
    std::optional<std::string> expectSha256;
    // From a parent: the hash of the file as the parent approved it, and whether another
    // attached unit has this one's serial.
    std::optional<std::string> approvedSha256;
    bool duplicateSerial = false;
    std::optional<std::string> db;
    int maxAttempts = 0;    // from a station: hold back a unit that failed this often anywhere
    bool skipDone = false;  // from a station: leave alone a unit done with this image anywhere
    std::string file;
};

void PrintSummary(const ConsoleDialog& dlg, int totalBlocks) {
    std::printf("%d of %d blocks sent in %.3f s (transfers %.3f s)\n", dlg.BlocksStepped(),
                totalBlocks, dlg.RunSeconds(), dlg.TickSeconds());
    std::fflush(stdout);
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
    record.message = dlg.Messages().empty() ? result.cause : dlg.Messages().back();
    record.time = RunRecord::UtcNow();
}

// Tells a parent how the run ended (see ChildReport).
void ReportEnd(const UpgradeArgs& args, const ConsoleDialog& dlg, const RunResult& result,
               StartVerdict startVerdict) {
    if (!args.report) return;
    std::cout << ChildReport::ResultLine(result.code)
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
    // The database comes first: its claim decides whether the unit is this run's at all, so a
    // unit another station holds leaves no started line in the record file.
    RunLedgers ledgers;
    const bool recording = args.record.has_value() || args.db.has_value();
    const ImageFileType type = ResolveImageFileType(args.type, args.file);
    RunRecord record;
    record.run = NewRunId();
    record.station = args.station.value_or(DefaultStationName());
    record.duplicateSerial = args.duplicateSerial;
    StartVerdict startVerdict = StartVerdict::Recorded;
    if (args.report) std::cout << ChildReport::RunLine(record.run) << std::flush;

    ConsoleDialog* dialog = nullptr;
    // The started entry, written once the run is confirmed and before its start frame: a
    // unit that could not be recorded is not flashed.
    const auto recordStart = [&]() {
        if (recording) {
            FillUnit(record, args, *dialog, type);
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
                    std::cerr << "kestrel-cli: " << error << "; the unit was left alone\n";
                }
                return false;
            }
        }
        if (args.report)
            std::cout << ChildReport::StartedLine(g_image.startBlock, g_image.endBlock,
                                                  LastReportedVersion().value_or(""))
                      << std::flush;
        return true;
    };
    ConsoleDialog dlg({.path = args.file,
                       .channelText = args.channel.value_or("0"),
                       .assumeYes = args.yes,
                       .showProgress = !args.report && IsTerminal(StandardStream::Error),
                       .holdMessages = recording,
                       .reportToParent = args.report,
                       .beforeStartFrame = recordStart});
    dialog = &dlg;
    // The Channel box's rule and message; a bad value is a usage error here.
    if (!dlg.ReadValues()) {
        dlg.ReleaseMessages();
        return kExitUsage;
    }
    ApprovedImage image;
    if (!image.Load(dlg, type)) {
        dlg.ReleaseMessages();
        return kExitFailure;
    }
    if (args.expectSha256) {
        if (auto refusal = image.Refusal(*args.expectSha256, "expected"))
            return Refused(dlg, *refusal + "; nothing was flashed");
    }
    // Refused before any device is touched, but recorded: the station counts it as a failure.
    std::optional<std::string> changed;
    if (args.approvedSha256)
        changed = image.Refusal(*args.approvedSha256, "but it was approved with");
    if (args.device) ChooseOnlyDrive(*args.device);

    if (recording) {
        // A record file that takes no append at all stops the run before the device is touched.
        std::string error;
        if (args.record && !JsonLinesLedger::Writable(*args.record, &error))
            return Refused(dlg, "cannot record the run: " + error);
        if (args.db) {
            auto db = DatabaseLedger::Open(
                *args.db, {.skipDone = args.skipDone, .maxAttempts = args.maxAttempts}, &error);
            if (!db) {
                // Not the unit's failure: a station tries it again once the database answers.
                if (args.report)
                    std::cout << ChildReport::EndedLine(UpgradeOutcome::None, 0, 0.0,
                                                        StartVerdict::Deferred)
                              << std::flush;
                // A set-up mistake is no outage: said with its fix, as a usage error.
                if (const auto advice = DatabaseSetupAdvice(error)) {
                    Refused(dlg, "cannot record the run: " + error + "; " + *advice);
                    return kExitUsage;
                }
                return Refused(dlg, "cannot record the run: " + error);
            }
            ledgers.Add(std::move(db));
        }
        if (args.record) ledgers.Add(std::make_unique<JsonLinesLedger>(*args.record));
        record.sha256 = image.Sha256();
    }

    RunEnd end;
    bool started = false;
    {
        // Held until the run is recorded: a second Ctrl-C must not end the process half-way.
        ConsoleInterrupt interrupt;
        if (!changed) {
            end.interrupted = Upgrade(dlg, &started);
            end.outcome = LastUpgradeOutcome();
            end.noDevice = LastUpgradeFoundNoDevice();
        }
        end.imageChanged = changed.has_value();
        end.startVerdict = startVerdict;
        RunResult result = DecideRun(end);
        // A unit left alone (held elsewhere, done, held back) had no run here: nothing to record.
        if (recording && result.Counts()) {
            FillUnit(record, args, dlg, type);
            const std::string withheldBecause = record.message;
            FillOutcome(record, dlg, result);
            if (startVerdict == StartVerdict::Failed) record.message = withheldBecause;
            if (changed) record.message = *changed + "; the file changed after it was approved";
            std::string error;
            if (!ledgers.Finished(record, &error)) {
                dlg.ReleaseMessages();
                // Said once: a started entry that failed has said it already.
                if (startVerdict == StartVerdict::Recorded)
                    std::cerr << "kestrel-cli: cannot record the run: " << error << '\n';
                end.notRecorded = true;
                result = DecideRun(end);
            }
        }
        dlg.ReleaseMessages();
        ReportEnd(args, dlg, result, startVerdict);
        if (changed)
            return Refused(dlg, *changed +
                                    "; the file changed after it was approved, the unit "
                                    "was not flashed");
        if (started) PrintSummary(dlg, g_image.endBlock - g_image.startBlock);
        // No device: say which drives could not even be opened, and how to get the rights.
        if (LastUpgradeFoundNoDevice()) std::cerr << UnopenedDrivesAdvice();
        return result.ExitStatus(ConsoleInterrupt::ExitStatus());
    }
}

}  // namespace

void RegisterUpgradeCommand(CLI::App& app, std::function<int()>* run) {
    auto args = std::make_shared<UpgradeArgs>();
    CLI::App* upgrade =
        app.add_subcommand("upgrade", "Check the attached device and send it the image's blocks");
    AddTypeOption(*upgrade, args->type);
    upgrade->add_flag("--yes", args->yes, "Answer OK to the confirmation prompt");
    upgrade->add_option("--channel", args->channel, "Channel value (unsigned decimal, default 0)");
    auto* device = upgrade->add_option("--device", args->device,
                                       "Only this drive (sdb, /dev/sdb, sr0; E: on Windows)");
    auto* all = upgrade->add_flag("--all", args->all,
                                  "Every attached device at once, each in its own process "
                                  "(needs --yes)");
    device->excludes(all);
    AddLineOptions(*upgrade, args->record, args->station, args->expectSha256);
    // From a parent kestrel-cli, which reads stdout.
    upgrade->add_flag("--report", args->report)->group("");
    upgrade->add_option("--approved-sha256", args->approvedSha256)->group("");
    upgrade->add_flag("--duplicate-serial", args->duplicateSerial)->group("");
    AddDatabaseOption(*upgrade, args->db);
    upgrade->add_option("--max-attempts", args->maxAttempts)->group("");
    upgrade->add_flag("--skip-done", args->skipDone)->group("");
    upgrade->add_option("FILE", args->file, "Raw binary or Intel HEX image")->required();
    upgrade->callback([args, run] {
        // Several prompts cannot be answered at once.
        if (args->all && !args->yes) throw CLI::ValidationError("--all", "needs --yes");
        *run = [args] {
            if (!args->all) return RunUpgrade(*args);
            return RunAllDevices(LineOptions{.type = args->type,
                                             .channel = args->channel,
                                             .record = args->record,
                                             .station = args->station,
                                             .expectSha256 = args->expectSha256,
                                             .db = args->db,
                                             .file = args->file});
        };
    });
}
