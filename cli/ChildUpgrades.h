#pragma once
// Upgrades running in child processes, one per device: each child is this program's own
// "upgrade --device DRIVE --yes --report ..." with its own image record, protocol state, checks
// and messages. The parent follows what each child reports on stdout, draws one progress line
// per device when stderr is a terminal, and hands back each run as it ends.

#include <chrono>
#include <cstddef>
#include <deque>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/DriveEnumeration.h"
#include "device/DriveIdentity.h"
#include "ledger/RunLedger.h"
#include "device/UpgradeProtocol.h"

struct UnitResult {
    DriveCandidate drive;
    DriveIdentity identity;
    std::string unit;  // what the parent keys the run by
    bool duplicateSerial = false;
    int status = -1;                                     // the child's exit status
    UpgradeOutcome outcome = UpgradeOutcome::None;       // as the child reported it
    StartVerdict startVerdict = StartVerdict::Recorded;  // what its ledgers said of the start
    std::string message;   // the last message the run showed ("Finish OK!", "Send Error!", ...)
    int blocks = 0;        // blocks the device accepted
    double seconds = 0.0;  // of the block transfer, 0 when it never started
    std::vector<std::string> errors;  // the child's own "kestrel-cli: ..." lines

    // "sdb  KESTREL0001  Finish OK!  84 blocks  7.512 s" (serial "-" when unknown), with
    // "  duplicate serial" after it when another attached unit had the same serial.
    std::string Line() const;
};

// The serial as the console shows it: every byte kept (see DriveIdentity::EscapedSerial), "-"
// when the unit has none.
std::string SerialLabel(const DriveIdentity& identity);

class ChildUpgrades {
public:
    // upgradeArgs: what every child gets after "upgrade --device DRIVE --yes --report" (the
    // options and FILE).
    ChildUpgrades(std::vector<std::string> upgradeArgs, bool showProgress);
    ~ChildUpgrades();  // interrupts and waits for runs still going
    ChildUpgrades(const ChildUpgrades&) = delete;
    ChildUpgrades& operator=(const ChildUpgrades&) = delete;

    // Starts a child for the drive, keyed by unit; false with the cause in *error.
    bool Start(const DriveCandidate& drive, const DriveIdentity& identity, const std::string& unit,
               bool duplicateSerial, std::string* error);
    // Waits up to `wait` (a console interrupt ends the wait early), takes in what the children
    // reported and returns the runs that ended meanwhile.
    std::vector<UnitResult> Poll(std::chrono::milliseconds wait);
    // Asks every running child to cancel the way Ctrl-C does (once each).
    void InterruptAll();
    std::size_t Running() const { return m_units.size(); }
    bool IsRunning(const std::string& unit) const;
    // Prints a line on stdout, above the progress lines.
    void Print(const std::string& line);

    struct Unit;

private:
    struct Event {
        Unit* unit;
        bool err;
        bool end;
        std::string line;
    };
    void Reader(Unit* unit, bool err);
    void Take(const Event& event);
    void EraseBoard();
    void DrawBoard();

    std::vector<std::string> m_args;
    bool m_showProgress;
    std::list<std::unique_ptr<Unit>> m_units;
    std::mutex m_mutex;
    std::deque<Event> m_events;
    std::size_t m_drawn = 0;  // progress lines on the terminal below the cursor's line
};
