#pragma once
// What a child kestrel-cli (upgrade --report, started by upgrade --all and station) tells its
// parent on stdout, one line each, written and read only here:
//   @run ID                          the run's id (see NewRunId), first
//   @started START END VERSION       its start frame is next: the block range and the version
//                                    the device reported (the rest of the line, maybe empty)
//   @message TEXT                    a message the run showed, worded as shown
//   @progress DONE TOTAL             blocks accepted so far of the run's range
//   @ended OUTCOME BLOCKS SECONDS [VERDICT]
//                                    how the run ended (see UpgradeOutcomeName), the blocks the
//                                    device accepted and the seconds of the block transfer; for a
//                                    run whose start frame was withheld, what its ledgers said
//                                    (see StartVerdictName)
//   @result CODE [DETAIL]            the run's result code as the child decided it and its
//                                    detail, the rest of the line (see RunResult), before @ended
//   @claim STARTED-LINE              the run's started row (its JSON Lines started record): the
//                                    child waits for the parent's @verdict on stdin before its
//                                    start frame
//   @final FINAL-LINE                the run's final row (its JSON Lines final record), which the
//                                    parent writes to its ledgers, before @ended
// and what the parent answers on the child's stdin:
//   @verdict VERDICT TEXT            what its ledgers made of the started row (see
//                                    StartVerdictName), with the cause when not recorded
// Any other line is the child's own text for a person and is left alone.

#include <optional>
#include <string>

#include "device/UpgradeProtocol.h"
#include "ledger/RunLedger.h"
#include "ledger/RunRow.h"

struct ChildReport {
    enum class Kind { Run, Started, Message, Progress, Result, Ended, Claim, Final, Verdict };
    Kind kind = Kind::Message;
    std::string message;  // Message; Run: the id; Result: code; Verdict: the cause
    RunRow row;           // Claim, Final
    unsigned startBlock = 0, endBlock = 0;               // Started
    std::string version;                                 // Started
    std::string detail;                                  // Result
    int done = 0;                                        // Progress
    int total = 0;                                       // Progress
    UpgradeOutcome outcome = UpgradeOutcome::None;       // Ended
    int blocks = 0;                                      // Ended
    double seconds = 0.0;                                // Ended
    StartVerdict startVerdict = StartVerdict::Recorded;  // Ended, Verdict

    // The lines, each ending in '\n'.
    static std::string RunLine(const std::string& run);
    static std::string StartedLine(unsigned startBlock, unsigned endBlock,
                                   const std::string& version);
    static std::string MessageLine(const std::string& text);
    static std::string ResultLine(const std::string& code, const std::string& detail = {});
    static std::string ProgressLine(int done, int total);
    static std::string EndedLine(UpgradeOutcome outcome, int blocks, double seconds,
                                 StartVerdict startVerdict = StartVerdict::Recorded);
    static std::string ClaimLine(const RunRow& started);
    static std::string FinalLine(const RunRow& final);
    static std::string VerdictLine(StartVerdict verdict, const std::string& cause);
    // One line as read (without its '\n'); nothing when it is not a report line.
    static std::optional<ChildReport> Parse(const std::string& line);
};
