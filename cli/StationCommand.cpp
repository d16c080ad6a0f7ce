#include "cli/StationCommand.h"

#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>
#include <set>

#include "cli/AllDevicesRun.h"
#include "cli/CliCommon.h"
#include "cli/ConsoleClock.h"
#include "cli/ConsoleInterrupt.h"
#include "ledger/DatabaseSetup.h"
#include "device/DriveWatch.h"
#include "cli/StationWords.h"
#include "cli/WebCommands.h"
#include "device/ProbeDrive.h"
#include "ledger/DatabaseLedger.h"
#include "ledger/RunId.h"
#include "cli/Terminal.h"
#include "ledger/RunCounts.h"
#include "ledger/StationLedger.h"
#include "ledger/UtcTime.h"
#include "line/ChildUpgrades.h"
#include "line/EventFile.h"
#include "line/LineEvents.h"
#include "line/Station.h"
#include "line/StationEvents.h"

namespace {

// The drives of this system, and the OS's word when they come and go.
class SystemDrives : public DriveSource {
public:
    std::vector<DriveCandidate> Enumerate() override { return EnumerateCandidateDrives(); }
    DriveIdentity Identify(const DriveCandidate& drive) override {
        return ReadDriveIdentity(drive);
    }
    DriveProbe Look(const DriveCandidate& drive) override { return ProbeDrive(drive); }
    bool EventDriven() const override { return m_watch.EventDriven(); }
    bool Changed() override { return m_watch.Changed(); }

private:
    DriveWatch m_watch;
};

// The station's lines for a person: one per drive decision and per run that ended, each with
// the time and the slot (see StationWords), and the running counts after each end.
class StationConsole : public StationView {
public:
    StationConsole(ChildUpgrades& runs, const StationWords& words) : m_runs(runs), m_words(words) {}

    void Note(const StationNote& note) override {
        const std::string label = note.drive == nullptr
                                      ? StationWords::Time()
                                      : m_words.Prefix(note.drive->identity) +
                                            DriveShortName(note.drive->drive) + "  " +
                                            SerialLabel(note.drive->identity) + "  ";
        const std::string drive = note.drive == nullptr ? std::string() : note.drive->drive.name;
        switch (note.kind) {
            case StationNote::Kind::Attached:
                m_waiting.insert(drive);
                return;
            case StationNote::Kind::Upgrading:
                m_waiting.erase(drive);
                m_runs.Print(label + "attached: upgrading" +
                             (note.drive->duplicateSerial ? "  duplicate serial" : ""));
                return;
            case StationNote::Kind::Skipped:
            case StationNote::Kind::Retrying:
                // A unit waiting for the database or for another station's claim still waits.
                if (note.code == "busy" || note.code == "done" || note.code == "held-back" ||
                    note.code == "not-device" || note.code == "running")
                    m_waiting.erase(drive);
                if (note.kind == StationNote::Kind::Skipped && IsLeftAloneReason(note.code)) {
                    RunRow row;
                    row.finishedAt = UtcNowText();
                    row.code = kLeftAloneCode;
                    m_counts.Add(row);
                }
                m_runs.Print(label + "attached: " + note.message);
                return;
            case StationNote::Kind::Unusable:
                m_waiting.erase(drive);
                m_runs.Print(label + (note.code == "not-started" ? "" : "failed: ") + note.message);
                return;
            case StationNote::Kind::Removed:
                m_waiting.erase(drive);
                m_runs.Print(label + "removed");
                return;
            case StationNote::Kind::Warning:
                // The database's comings and goings speak for the station, not for a drive.
                if (note.code == "database-away" || note.code == "database-back")
                    m_runs.Print(StationWords::Time() + note.message);
                else
                    m_runs.Print(label + "station: warning: " + note.message);
                return;
            case StationNote::Kind::Ended:
                Ended(*note.result);
                return;
        }
    }

private:
    void Ended(const UnitResult& result) {
        const RunRow row = result.Row({});
        m_counts.Add(row);
        std::string line = m_words.Prefix(result.identity) + EndedLine(result);
        const std::string advice = WhatToDo(row);
        if (!advice.empty()) line += "\n  " + advice;
        m_runs.Print(line);
        m_runs.Print(StationWords::Time() + "station: " + m_counts.Counts().Summary() + ", " +
                     std::to_string(m_runs.Running()) + " flashing, " +
                     std::to_string(m_waiting.size()) + " waiting");
    }

public:
    const RunCounter& Counts() const { return m_counts; }

private:
    ChildUpgrades& m_runs;
    const StationWords& m_words;
    std::set<std::string> m_waiting;  // drives attached, not yet flashed nor left alone
    RunCounter m_counts;  // the runs and the units left alone, as every view counts them
};

int RunStation(LineOptions options, const WebCliOptions& web) {
    EventFile eventFile;
    if (!OpenEventFile(options, eventFile)) return kExitFailure;
    const std::string name = options.station.value_or(DefaultStationName());
    std::ostream& out = options.events == "-" ? std::cerr : std::cout;
    LineEvents events(name, options.lot, options.person, options.sinks);
    // A station that never started still opens and closes its stream.
    const auto refuse = [&](int status) {
        events.Opened(
            "station", options.file,
            options.approvedSha256.empty() ? std::nullopt : std::optional(options.approvedSha256));
        events.Closed(0, 0, status);
        SayEventTrouble(eventFile);
        return status;
    };
    // The file, the channel and the record are checked once, before any device is touched.
    if (const std::optional<int> refused = ApproveForChildren(options)) return refuse(*refused);
    std::vector<WebSlot> slots;
    if (std::string error; web.slotsFile && !ReadSlotsFile(*web.slotsFile, &slots, &error)) {
        std::cerr << "kestrel-cli: " << error << "\n";
        return refuse(kExitUsage);
    }
    if (options.db) {
        // A database that refuses the station for a reason no wait cures stops it at once, with
        // its fix; one that is away is waited for (StationLedger).
        std::string error;
        if (!UnitDatabase::Open(*options.db, &error)) {
            if (const auto advice = DatabaseSetupAdvice(error, *options.db)) {
                std::cerr << "kestrel-cli: station: " << error << "; " << *advice << '\n';
                return refuse(kExitUsage);
            }
        }
    }
    int webStatus = kExitOk;
    const std::unique_ptr<WebService> pages = StartStationPages(web, &webStatus);
    if (webStatus != kExitOk) return refuse(webStatus);
    // The pages follow the same stream, from its first line.
    if (pages) events.AddSink(pages.get());
    if (!options.signer.empty()) events.SetReleaseSigner(options.signer, options.signerFingerprint);
    events.Opened("station", options.file, options.approvedSha256);
    // Blocks SIGINT/SIGTERM before any reader thread exists, so only the waits take them.
    ConsoleInterrupt interrupt;
    ConsoleClock clock;
    SystemDrives drives;
    // The station's one connection: its own questions and every run's rows (see StationLedger).
    StationLedger ledger(options.db, options.approvedSha256,
                         {.skipDone = options.skipDone, .maxAttempts = options.maxAttempts});
    ChildUpgrades runs(options.ChildArguments(), IsTerminal(StandardStream::Error), clock, out,
                       ParentLedgers(options, ledger.Runs()));
    const StationWords words(slots);
    StationConsole console(runs, words);
    StationEvents stream(events);
    runs.SetOnReport([&stream](const UnitResult& run) { stream.Reported(run); });
    Station station({.name = name, .byAttachment = options.byAttachment}, drives, clock, runs,
                    ledger, {&console, &stream});
    // What the line runs, once, where the operator and the shift's log see it.
    std::cerr << "station " << name << ": " << options.file << " (SHA-256 "
              << options.approvedSha256 << ")" << (options.lot ? ", lot " + *options.lot : "")
              << (options.person ? ", operator " + *options.person : "") << '\n';
    std::cerr << "station: waiting for devices"
              << (drives.EventDriven() ? "" : " (looking every 500 ms)") << "; Ctrl-C stops\n";
    bool said = false;
    const Station::Counts counts = station.Run([&] {
        stream.Heartbeat();
        if (!ConsoleInterrupt::Requested()) return false;
        if (!said && runs.Running() > 0)
            std::cerr << "Interrupted: cancelling the upgrades in progress\n";
        said = true;
        return true;
    });
    out << "station: " << counts.succeeded << " succeeded, " << counts.failed << " failed"
        << (counts.cancelled > 0 ? ", " + std::to_string(counts.cancelled) + " cancelled" : "")
        << '\n'
        << "station: runs: " << console.Counts().Counts().Summary() << '\n'
        << std::flush;
    const int status = counts.failed + counts.cancelled == 0 ? kExitOk : kExitFailure;
    events.Closed(counts.succeeded, counts.failed, status);
    SayEventTrouble(eventFile);
    return status;
}

}  // namespace

void RegisterStationCommand(CLI::App& app, std::function<int()>* run) {
    auto options = std::make_shared<LineOptions>();
    auto web = std::make_shared<WebCliOptions>();
    CLI::App* station = app.add_subcommand(
        "station",
        "Wait for devices and upgrade each newly attached one once, in parallel, without "
        "asking (starting a station is the consent)");
    AddTypeOption(*station, options->type);
    station->add_option("--channel", options->channel,
                        "Channel value (unsigned decimal, default 0)");
    AddLineOptions(*station, *options);
    CLI::Option* db = AddDatabaseOption(*station, options->db);
    station
        ->add_option("--max-attempts", options->maxAttempts,
                     "Leave alone a unit that failed N times at any station (needs --db)")
        ->check(CLI::PositiveNumber)
        ->needs(db);
    AddWebOptions(*station, *web, true);
    station->add_option("FILE", options->file, "Raw binary or Intel HEX image")->required();
    station->callback([options, web, run, &app] {
        // With a database, a unit done with this image at any station is left alone; units told
        // apart by attachment are never done.
        options->skipDone = options->db.has_value() && !options->byAttachment;
        *run = [options, web, &app] {
            options->verbose = app.count("--verbose") > 0;
            return RunStation(*options, *web);
        };
    });
}
