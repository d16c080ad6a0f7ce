#pragma once
// Upgrades running in child processes, one per device: each child is this program's own
// "upgrade --device DRIVE --yes --report ..." with its own image record, protocol state, checks
// and messages. The parent follows what each child reports on stdout (see ChildReport), draws
// one progress line per device when stderr is a terminal, and hands back each run as it ends.
//
// The parent is the one owner of the runs' ledgers (the unit database, the record file): a
// child sends its started row and waits for the parent's answer before its start frame (the
// parent answers only once every ledger has it on disk), and reports its final row, which the
// parent writes with what only it knows (a child killed, or ended without a report).

#include <chrono>
#include <cstddef>
#include <deque>
#include <iosfwd>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ledger/RunLedgers.h"
#include "line/LineClock.h"
#include "line/UnitRuns.h"

// The serial as the console shows it: every byte kept (see DriveIdentity::EscapedSerial), "-"
// when the unit has none.
std::string SerialLabel(const DriveIdentity& identity);

class ChildUpgrades : public UnitRuns {
public:
    // upgradeArgs: what every child gets after "upgrade --device DRIVE --yes --report" (the
    // options and FILE). Lines for a person go to out, the progress board to stderr.
    struct Ledgers {
        std::shared_ptr<RunLedgers> runs;  // nothing: no record is kept
        bool byAttachment = false;         // --identity attachment
        // What the parent knows of every run (station, lot, operator, file, hash, type), for a
        // child that ended before it said anything.
        RunRow seed;
    };
    ChildUpgrades(std::vector<std::string> upgradeArgs, bool showProgress, LineClock& clock,
                  std::ostream& out, Ledgers ledgers);
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
    // Answers a child's @claim line (on the child's reader thread); false for any other line.
    bool Claim(Unit* unit, const std::string& line);
    bool Final(Unit* unit, const std::string& line);
    void WriteFinal(Unit& unit);
    void EraseBoard();
    void DrawBoard();

    std::vector<std::string> m_args;
    bool m_showProgress;
    LineClock& m_clock;
    std::ostream& m_out;
    std::list<std::unique_ptr<Unit>> m_units;
    std::mutex m_mutex;
    std::deque<Event> m_events;
    std::size_t m_drawn = 0;
    Ledgers m_ledgers;  // progress lines on the terminal below the cursor's line
};
