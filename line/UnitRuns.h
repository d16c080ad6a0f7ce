#pragma once
// The runs a station or an --all run has going, one per unit: started for a drive, followed
// while they go, handed back as they end. ChildUpgrades runs each in a child process; the unit
// tests use a table of runs.

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "device/DriveEnumeration.h"
#include "device/DriveIdentity.h"
#include "ledger/RunRow.h"
#include "line/RunResult.h"

// A run as far as the parent knows it, while it goes and once it has ended.
struct UnitResult {
    DriveCandidate drive;
    DriveIdentity identity;
    std::string unit;  // what the parent keys the run by
    bool duplicateSerial = false;
    std::string run;  // the run's id, once the child said it
    // Once its start frame is next (see ChildReport's @started): the block range and the
    // version the device reported.
    bool started = false;
    unsigned startBlock = 0, endBlock = 0;
    std::optional<std::string> versionBefore;
    int done = 0, total = 0;  // blocks accepted so far of the run's range

    int status = -1;                                     // the child's exit status
    bool reported = false;                               // the child said how its run ended
    UpgradeOutcome outcome = UpgradeOutcome::None;       // as the child reported it
    std::string code;                                    // the child's own result code, if any
    std::string detail;                                  // and its detail
    StartVerdict startVerdict = StartVerdict::Recorded;  // what its ledgers said of the start
    std::string message;   // the last message the run showed ("Finish OK!", "Send Error!", ...)
    int blocks = 0;        // blocks the device accepted
    double seconds = 0.0;  // of the block transfer, 0 when it never started
    std::vector<std::string> errors;  // the child's own "kestrel-cli: ..." lines
    bool notRecorded = false;         // its parent could not write its final row
    // The run's final row as its parent wrote it (see ChildUpgrades), once it has ended and
    // counts; the finished event is written from it.
    std::optional<RunRow> written;

    // The one decision of how the run ended (see DecideRun).
    RunResult Result() const;
    // The message to record and show: the run's own, else the cause in words.
    std::string Why() const;
    // The run as a row of `station`, ended now, for the counts (see RunCounts) and the "what to
    // do" line; a unit left alone is a row with the code "left-alone".
    RunRow Row(const std::string& station) const;
};

class UnitRuns {
public:
    virtual ~UnitRuns() = default;
    // Starts a run for the drive, keyed by unit; false with the cause in *error.
    virtual bool Start(const DriveCandidate& drive, const DriveIdentity& identity,
                       const std::string& unit, bool duplicateSerial, std::string* error) = 0;
    // Waits up to `wait` (an interrupt ends the wait early), takes in what the runs reported
    // and returns the runs that ended meanwhile.
    virtual std::vector<UnitResult> Poll(std::chrono::milliseconds wait) = 0;
    // Asks every run still going to cancel the way Ctrl-C does (once each).
    virtual void InterruptAll() = 0;
    virtual std::size_t Running() const = 0;
    virtual bool IsRunning(const std::string& unit) const = 0;
    // Called with a run still going whenever it reports its start or its progress.
    void SetOnReport(std::function<void(const UnitResult&)> onReport) {
        m_onReport = std::move(onReport);
    }

protected:
    std::function<void(const UnitResult&)> m_onReport;
};
