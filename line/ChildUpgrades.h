#pragma once
// Upgrades running in child processes, one per device: each child is this program's own
// "upgrade --device DRIVE --yes --report ..." with its own image record, protocol state, checks
// and messages. The parent follows what each child reports on stdout (see ChildReport), draws
// one progress line per device when stderr is a terminal, and hands back each run as it ends.

#include <chrono>
#include <cstddef>
#include <deque>
#include <iosfwd>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "line/LineClock.h"
#include "line/UnitRuns.h"

// The serial as the console shows it: every byte kept (see DriveIdentity::EscapedSerial), "-"
// when the unit has none.
std::string SerialLabel(const DriveIdentity& identity);

class ChildUpgrades : public UnitRuns {
public:
    // upgradeArgs: what every child gets after "upgrade --device DRIVE --yes --report" (the
    // options and FILE). Lines for a person go to out, the progress board to stderr.
    ChildUpgrades(std::vector<std::string> upgradeArgs, bool showProgress, LineClock& clock,
                  std::ostream& out);
    ~ChildUpgrades() override;  // interrupts and waits for runs still going
    ChildUpgrades(const ChildUpgrades&) = delete;
    ChildUpgrades& operator=(const ChildUpgrades&) = delete;

    bool Start(const DriveCandidate& drive, const DriveIdentity& identity, const std::string& unit,
               bool duplicateSerial, std::string* error) override;
    std::vector<UnitResult> Poll(std::chrono::milliseconds wait) override;
    void InterruptAll() override;
    std::size_t Running() const override { return m_units.size(); }
    bool IsRunning(const std::string& unit) const override;
    // Prints a line for a person, above the progress lines.
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
    LineClock& m_clock;
    std::ostream& m_out;
    std::list<std::unique_ptr<Unit>> m_units;
    std::mutex m_mutex;
    std::deque<Event> m_events;
    std::size_t m_drawn = 0;  // progress lines on the terminal below the cursor's line
};
