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
#include "cli/Terminal.h"
#include "device/DriveDiscovery.h"
#include "device/UpgradeProtocol.h"
#include "image/FirmwareImage.h"
#include "ledger/RunLedgers.h"
#include "line/ApprovedImage.h"
#include "line/ChildReport.h"
#include "line/EventFile.h"
#include "line/LineEvents.h"
#include "line/ParentLedger.h"
#include "line/UnitRun.h"

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

// A refusal before any device is touched.
int Refused(ConsoleDialog& dlg, const std::string& text) {
    dlg.ReleaseMessages();
    std::cerr << "kestrel-cli: " << text << '\n';
    return kExitFailure;
}

// The ledgers of a run on its own (the record file, the unit database); a child's are its
// parent's. Nothing, with the exit status, when one cannot be used.
std::optional<int> OpenLedgers(const UpgradeArgs& args, ConsoleDialog& dlg, RunLedgers& ledgers) {
    const LineOptions& line = args.line;
    if (args.report) {
        ledgers.Add(std::make_shared<ParentLedger>(line.record));
        return std::nullopt;
    }
    // A record file that takes no append at all stops the run before the device is touched.
    std::string error;
    if (line.record && !JsonLinesLedger::Writable(*line.record, &error))
        return Refused(dlg, "cannot record the run: " + error);
    // The database comes first: its claim decides whether the unit is this run's at all, so a
    // unit another station holds leaves no started line in the record file.
    if (line.db) {
        auto db = DatabaseLedger::Open(
            *line.db, {.skipDone = line.skipDone, .maxAttempts = line.maxAttempts}, &error);
        if (!db) {
            // A set-up mistake is no outage: said with its fix, as a usage error.
            if (const auto advice = DatabaseSetupAdvice(error, *line.db)) {
                Refused(dlg, "cannot record the run: " + error + "; " + *advice);
                return kExitUsage;
            }
            return Refused(dlg, "cannot record the run: " + error);
        }
        ledgers.Add(std::move(db));
    }
    if (line.record) ledgers.Add(std::make_shared<JsonLinesLedger>(*line.record));
    return std::nullopt;
}

int RunUpgrade(const UpgradeArgs& args) {
    LineOptions line = args.line;
    const ImageFileType type = ResolveImageFileType(line.type, line.file);
    // A child's events are its parent's to write (its parent passes no --events).
    EventFile eventFile;
    if (!OpenEventFile(line, eventFile)) return kExitFailure;
    const std::string station = line.station.value_or(DefaultStationName());
    LineEvents events(station, line.lot, line.person, line.sinks);
    // With the events on standard output, everything for a person goes to stderr.
    std::ostream& out = line.events == "-" ? std::cerr : std::cout;

    RunLedgers ledgers;
    ConsoleDialog* dialog = nullptr;
    UnitRun run({.station = station,
                 .lot = line.lot,
                 .person = line.person,
                 .byAttachment = line.byAttachment,
                 .duplicateSerial = args.duplicateSerial,
                 .device = args.device,
                 .type = ImageFileTypeName(type),
                 .report = args.report},
                ledgers, events, [&dialog](const std::string& text) {
                    if (dialog) dialog->ReleaseMessages();
                    std::cerr << text << '\n';
                });
    ConsoleDialog dlg(
        {.path = line.file,
         .channelText = line.channel.value_or("0"),
         .assumeYes = args.yes,
         .showProgress = !args.report && IsTerminal(StandardStream::Error),
         .holdMessages = line.record.has_value() || line.db.has_value() || args.report,
         .reportToParent = args.report,
         .beforeStartFrame = [&run] { return run.BeforeStartFrame(); },
         .onProgress = [&run, &dlg](int done,
                                    int total) { run.Progress(done, total, dlg.RunSeconds()); }});
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
    if (signature && signature->Good())
        events.SetReleaseSigner(signature->Signer().principal, signature->Signer().fingerprint);
    if (args.device) ChooseOnlyDrive(*args.device);
    if (const std::optional<int> refusedLedger = OpenLedgers(args, dlg, ledgers))
        return close(*refusedLedger);
    run.SetImage(dlg.m_strProgramFile, image.Sha256());

    // Held until the run is recorded: a second Ctrl-C must not end the process half-way.
    ConsoleInterrupt interrupt;
    const RunResult result = run.Run(
        dlg, dlg, [] { return ConsoleInterrupt::Requested(); }, changed);
    dlg.ReleaseMessages();
    if (changed)
        return close(
            Refused(dlg, *changed + "; the file changed after it was approved, the unit was "
                                    "not flashed"),
            0, 1);
    if (run.Started()) PrintSummary(out, dlg, g_image.endBlock - g_image.startBlock);
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
