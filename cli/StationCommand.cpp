#include "cli/StationCommand.h"

#include <CLI/CLI.hpp>
#include <chrono>
#include <iostream>
#include <map>
#include <memory>

#include "cli/AllDevicesRun.h"
#include "cli/ChildUpgrades.h"
#include "cli/CliCommon.h"
#include "cli/ConsoleInterrupt.h"
#include "cli/DriveWatch.h"
#include "cli/Terminal.h"
#include "device/DriveIdentity.h"
#include "device/DriveLock.h"
#include "device/VendorCommands.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kRescanInterval = std::chrono::milliseconds(500);
constexpr auto kPollInterval = std::chrono::milliseconds(50);

enum class UnitState { Upgrading, Succeeded, Failed };

// A drive as it is attached now: which unit it holds.
struct Attached {
    std::string unit;  // "serial KV0001", or "sdb@3" (the drive and its appearance)
    std::optional<std::string> serial;
};

class Station {
public:
    explicit Station(const UpgradeChildOptions& options)
        : m_runs(options.ChildArguments(), IsTerminal(StandardStream::Error)) {}

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
    static std::string Label(const std::string& drive, const std::optional<std::string>& serial) {
        return DriveShortName({drive, {}, DriveKind::Removable}) + "  " + serial.value_or("-") +
               "  ";
    }

    void Scan() {
        std::map<std::string, DriveCandidate> now;
        for (const DriveCandidate& drive : EnumerateCandidateDrives()) now[drive.name] = drive;
        for (auto it = m_attached.begin(); it != m_attached.end();) {
            if (now.count(it->first) != 0) {
                ++it;
                continue;
            }
            m_runs.Print(Label(it->first, it->second.serial) + "removed");
            it = m_attached.erase(it);
        }
        for (const auto& [name, drive] : now) {
            if (m_attached.count(name) == 0) Appeared(drive);
        }
    }

    void Appeared(const DriveCandidate& drive) {
        const DriveIdentity identity = ReadDriveIdentity(drive);
        Attached attached{identity.serial ? "serial " + *identity.serial
                                          : drive.name + "@" + std::to_string(++m_appearances),
                          identity.serial};
        m_attached[drive.name] = attached;
        const std::string label = Label(drive.name, identity.serial);
        // Only a drive that answers identify with AA 55 is ever written to, and one another
        // Kestrel run holds is not even asked.
        const DriveHandle handle = OpenDriveReadWrite(drive);
        const bool busy =
            handle != kInvalidDrive && LockDrive(drive, handle) == DriveLockResult::Busy;
        const bool device = handle != kInvalidDrive && !busy && VendorIdentify(handle);
        if (handle != kInvalidDrive) CloseDevice(handle);
        if (busy) {
            m_runs.Print(label + "attached: in use by another Kestrel run, left alone");
            return;
        }
        if (!device) {
            m_runs.Print(label + "attached: not the device, left alone");
            return;
        }
        const auto known = m_units.find(attached.unit);
        if (known != m_units.end() && known->second == UnitState::Succeeded) {
            m_runs.Print(label + "attached: already upgraded, left alone");
            return;
        }
        std::string error;
        if (!m_runs.Start(drive, identity, &error)) {
            m_runs.Print(label + "kestrel-cli: " + error);
            m_units[attached.unit] = UnitState::Failed;
            return;
        }
        m_runs.Print(label + "attached: upgrading");
        m_units[attached.unit] = UnitState::Upgrading;
        m_running[drive.name] = attached.unit;
    }

    void Ended(const UnitResult& result) {
        const auto it = m_running.find(result.drive.name);
        if (it == m_running.end()) return;
        m_units[it->second] = result.status == kExitOk ? UnitState::Succeeded : UnitState::Failed;
        m_running.erase(it);
    }

    ChildUpgrades m_runs;
    DriveWatch m_watch;
    std::map<std::string, Attached> m_attached;    // by drive name
    std::map<std::string, UnitState> m_units;      // by unit
    std::map<std::string, std::string> m_running;  // drive name -> unit
    unsigned m_appearances = 0;
};

int RunStation(const UpgradeChildOptions& options) {
    // The file and the channel are checked once, before any device is touched.
    ConsoleDialog dlg({.path = options.file, .channelText = options.channel.value_or("0")});
    if (!dlg.ReadValues()) return kExitUsage;
    if (!LoadImageFile(dlg, ResolveImageFileType(options.type, options.file))) return kExitFailure;
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
    station->add_option("--record", options->record,
                        "Append one JSON line per unit and run to FILE");
    station->add_option("FILE", options->file, "Raw binary or Intel HEX image")->required();
    station->callback([options, run] { *run = [options] { return RunStation(*options); }; });
}
