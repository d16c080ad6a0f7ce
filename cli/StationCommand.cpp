#include "cli/StationCommand.h"

#include <CLI/CLI.hpp>
#include <array>
#include <chrono>
#include <iostream>
#include <map>
#include <memory>

#include "cli/AllDevicesRun.h"
#include "cli/ChildUpgrades.h"
#include "cli/CliCommon.h"
#include "cli/ConsoleInterrupt.h"
#include "ledger/DatabaseLedger.h"
#include "device/DriveWatch.h"
#include "ledger/RunId.h"
#include "ledger/StationLedger.h"
#include "cli/Terminal.h"
#include "device/DriveIdentity.h"
#include "device/ProbeDrive.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kRescanInterval = std::chrono::milliseconds(500);
constexpr auto kPollInterval = std::chrono::milliseconds(50);
// Right after a plug-in udev may not yet have applied the seat's access rule, and holds its
// short probing lock on the node: a drive that cannot be opened, locked or asked is looked
// at again for this long before it counts.
constexpr auto kRetryFor = std::chrono::seconds(5);
constexpr auto kRetryEvery = std::chrono::milliseconds(250);
// How often a unit waiting for the unit database (away, or another station's claim) is tried.
constexpr auto kDatabaseRetry = std::chrono::seconds(1);

enum class UnitState { Upgrading, Succeeded, Failed };

// A drive as it is attached now, and which unit it holds.
struct Attached {
    DriveCandidate drive;
    DriveIdentity identity;
    std::string unit;     // the key of the unit's runs (UnitIdentity::StationKey)
    bool pending = true;  // not yet decided what to do with it
    bool retrying = false;
    Clock::time_point firstLook, nextLook;
    std::string waitingFor;  // what the unit database said last while the unit waits
};

class Station {
public:
    explicit Station(const UpgradeChildOptions& options)
        : m_runs(options.ChildArguments(), IsTerminal(StandardStream::Error)),
          m_name(options.station.value_or(DefaultStationName())),
          m_ledger(options.db, options.approvedSha256,
                   {.skipDone = options.skipDone, .maxAttempts = options.maxAttempts}) {}

    int Run() {
        std::cerr << "station: waiting for devices"
                  << (m_watch.EventDriven() ? "" : " (looking every 500 ms)") << "; Ctrl-C stops\n";
        Scan();
        auto nextScan = Clock::now() + kRescanInterval;
        bool interrupted = false;
        while (!interrupted || m_runs.Running() > 0) {
            for (const UnitResult& result : m_runs.Poll(kPollInterval)) Ended(result);
            if (ConsoleInterrupt::Requested()) {
                if (!interrupted && m_runs.Running() > 0) {
                    std::cerr << "Interrupted: cancelling the upgrades in progress\n";
                    m_runs.InterruptAll();
                }
                interrupted = true;
                continue;
            }
            const bool due = !m_watch.EventDriven() && Clock::now() >= nextScan;
            if (m_watch.Changed() || due) {
                Scan();
                nextScan = Clock::now() + kRescanInterval;
            }
            LookAgain();
        }
        int succeeded = 0;
        int failed = 0;
        for (const auto& [unit, state] : m_units) {
            if (state == UnitState::Succeeded) ++succeeded;
            if (state == UnitState::Failed) ++failed;
        }
        std::cout << "station: " << succeeded << " succeeded, " << failed << " failed\n";
        return failed == 0 ? kExitOk : kExitFailure;
    }

private:
    static std::string Label(const Attached& attached) {
        return DriveShortName(attached.drive) + "  " + SerialLabel(attached.identity) + "  ";
    }

    void Scan() {
        std::map<std::string, DriveCandidate> now;
        for (const DriveCandidate& drive : EnumerateCandidateDrives()) now[drive.name] = drive;
        for (auto it = m_attached.begin(); it != m_attached.end();) {
            if (now.count(it->first) != 0) {
                ++it;
                continue;
            }
            m_runs.Print(Label(it->second) + "removed");
            it = m_attached.erase(it);
        }
        // Every new drive is known before any is looked at, so units plugged in together see
        // each other's serials.
        std::vector<std::string> appeared;
        for (const auto& [name, drive] : now) {
            if (m_attached.count(name) != 0) continue;
            Attached attached;
            attached.drive = drive;
            attached.identity = ReadDriveIdentity(drive);
            attached.unit = attached.identity.UnitOf().StationKey(++m_appearances);
            attached.firstLook = Clock::now();
            m_attached[name] = attached;
            appeared.push_back(name);
        }
        for (const std::string& name : appeared) Try(m_attached[name]);
    }

    void LookAgain() {
        const auto now = Clock::now();
        for (auto& [name, attached] : m_attached)
            if (attached.pending && now >= attached.nextLook) Try(attached);
    }

    bool DuplicateSerial(const Attached& unit) const {
        if (!unit.identity.serialBytes || unit.identity.serialBytes->empty()) return false;
        for (const auto& [name, other] : m_attached)
            if (other.drive.name != unit.drive.name && other.identity.port != unit.identity.port &&
                other.identity.serialBytes == unit.identity.serialBytes)
                return true;
        return false;
    }

    void Try(Attached& attached) {
        attached.pending = false;
        const std::string label = Label(attached);
        // A unit still running (pulled and plugged back, or a second drive of its USB device)
        // is never run twice; one never asked again once its run is over.
        if (m_runs.IsRunning(attached.unit)) {
            m_runs.Print(label + "attached: its unit is still being upgraded, left alone");
            return;
        }
        const auto known = m_units.find(attached.unit);
        if (known != m_units.end() && known->second == UnitState::Succeeded) {
            m_runs.Print(label + "attached: already upgraded, left alone");
            return;
        }
        // Only a drive that answers identify with AA 55 is ever written to, and one another
        // Kestrel run holds is not even asked.
        const DriveProbe look = ProbeDrive(attached.drive);
        const auto now = Clock::now();
        if (look.MayChange() && now - attached.firstLook < kRetryFor) {
            if (!attached.retrying)
                m_runs.Print(label + "attached: " + look.Cause() + ", trying again for " +
                             std::to_string(kRetryFor.count()) + " s");
            attached.retrying = true;
            attached.pending = true;
            attached.nextLook = now + kRetryEvery;
            return;
        }
        switch (look.result) {
            case ProbeResult::NotCandidate:
            case ProbeResult::Busy:
            case ProbeResult::HeldByOther:
            case ProbeResult::NotDevice:
                m_runs.Print(label + "attached: " + look.Cause() + ", left alone");
                return;
            case ProbeResult::OpenFailed:
            case ProbeResult::IdentifyFailed: {
                const std::string hint = look.Hint();
                m_runs.Print(label + "failed: " + look.Cause() + (hint.empty() ? "" : "; " + hint));
                m_units[attached.unit] = UnitState::Failed;
                return;
            }
            case ProbeResult::Device:
                break;
        }
        const bool duplicate = DuplicateSerial(attached);
        if (!AdmittedByDatabase(attached, label, duplicate)) return;
        std::string error;
        if (!m_runs.Start(attached.drive, attached.identity, attached.unit, duplicate, &error)) {
            m_runs.Print(label + "kestrel-cli: " + error);
            m_units[attached.unit] = UnitState::Failed;
            return;
        }
        m_runs.Print(label + "attached: upgrading" + (duplicate ? "  duplicate serial" : ""));
        m_units[attached.unit] = UnitState::Upgrading;
    }

    // The unit database's word on the unit (station --db): while the database does not answer,
    // or another station flashes the unit, the unit waits and is looked at again every second;
    // a unit done with this image, or failed too often, anywhere, is left alone.
    bool AdmittedByDatabase(Attached& attached, const std::string& label, bool duplicate) {
        if (!m_ledger.Enabled()) return true;
        const auto print = [this](const std::string& line) { m_runs.Print(line); };
        std::string waitingFor;
        if (!m_ledger.Available(print)) {
            waitingFor = "waiting for the database";
        } else {
            const ClaimVerdict verdict = m_ledger.Admit(
                attached.identity.UnitOf(m_name, DriveShortName(attached.drive), duplicate).Key());
            switch (verdict.outcome) {
                case ClaimVerdict::Outcome::Claimed:
                    attached.waitingFor.clear();
                    return true;
                case ClaimVerdict::Outcome::Done:
                case ClaimVerdict::Outcome::HeldBack:
                    m_runs.Print(label + "attached: " + verdict.Message() + ", left alone");
                    return false;
                case ClaimVerdict::Outcome::Busy:
                    waitingFor = verdict.Message() + ", waiting";
                    break;
                case ClaimVerdict::Outcome::Error:
                    waitingFor = "waiting for the database";
                    break;
            }
        }
        if (waitingFor != attached.waitingFor) m_runs.Print(label + "attached: " + waitingFor);
        attached.waitingFor = waitingFor;
        attached.pending = true;
        attached.nextLook = Clock::now() + kDatabaseRetry;
        return false;
    }

    // Credited to the unit the run was started for, whatever is attached now.
    void Ended(const UnitResult& result) {
        // A unit the database kept from starting was sent nothing and is no failure. One done or
        // held back meanwhile (another station decided first) is left alone; one the database
        // could not take now (it stopped answering after the station's look, or another station
        // claimed the unit first) waits like a unit not yet started.
        if (result.startVerdict == StartVerdict::Refused) {
            m_units.erase(result.unit);
            return;
        }
        if (result.startVerdict == StartVerdict::Deferred) {
            m_units.erase(result.unit);
            m_ledger.Lost();
            for (auto& [name, attached] : m_attached) {
                if (attached.unit != result.unit) continue;
                attached.pending = true;
                attached.nextLook = Clock::now() + kDatabaseRetry;
            }
            return;
        }
        m_units[result.unit] = result.status == kExitOk ? UnitState::Succeeded : UnitState::Failed;
    }

    ChildUpgrades m_runs;
    std::string m_name;  // the station's name in the unit database
    StationLedger m_ledger;
    DriveWatch m_watch;
    std::map<std::string, Attached> m_attached;  // by drive name
    std::map<std::string, UnitState> m_units;    // by unit
    unsigned m_appearances = 0;
};

int RunStation(UpgradeChildOptions options) {
    // The file, the channel and the record are checked once, before any device is touched.
    if (const std::optional<int> refused = ApproveForChildren(options)) return *refused;
    // Blocks SIGINT/SIGTERM before any reader thread exists, so only the waits take them.
    ConsoleInterrupt interrupt;
    Station station(options);
    return station.Run();
}

}  // namespace

void RegisterStationCommand(CLI::App& app, std::function<int()>* run) {
    auto options = std::make_shared<UpgradeChildOptions>();
    CLI::App* station = app.add_subcommand(
        "station",
        "Wait for devices and upgrade each newly attached one once, in parallel, without "
        "asking (starting a station is the consent)");
    AddTypeOption(*station, options->type);
    station->add_option("--channel", options->channel,
                        "Channel value (unsigned decimal, default 0)");
    AddLineOptions(*station, options->record, options->station, options->expectSha256);
    CLI::Option* db = AddDatabaseOption(*station, options->db);
    station
        ->add_option("--max-attempts", options->maxAttempts,
                     "Leave alone a unit that failed N times at any station (needs --db)")
        ->check(CLI::PositiveNumber)
        ->needs(db);
    station->add_option("FILE", options->file, "Raw binary or Intel HEX image")->required();
    station->callback([options, run] {
        // With a database, a unit done with this image at any station is left alone.
        options->skipDone = options->db.has_value();
        *run = [options] { return RunStation(*options); };
    });
}
