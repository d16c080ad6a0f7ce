#pragma once
// How a run ended, decided once: from the protocol's outcome (UpgradeOutcome), what the run's
// ledgers said of its start, and, for a run in a child process, how the child ended. The
// upgrade's exit status, the record's result, the events, a station's counts, the --all summary
// and --max-attempts (through the recorded result) all read this one value, never a message's
// wording or an exit status alone.

#include <optional>
#include <string>

#include "device/UpgradeProtocol.h"
#include "ledger/RunLedger.h"

enum ExitStatus : int {
    kExitOk = 0,
    kExitFailure = 1,  // the tool showed a failure message
    kExitUsage = 2,
    // Declined at a prompt; also a device whose query reply was empty, which callers have
    // always seen as 3 (its record says failed).
    kExitDeclined = 3,
};

// What ended a run, beyond its UpgradeOutcome.
struct RunEnd {
    UpgradeOutcome outcome = UpgradeOutcome::None;
    StartVerdict startVerdict = StartVerdict::Recorded;
    bool interrupted = false;   // a signal cancelled the run
    bool notRecorded = false;   // its final entry could not be stored
    bool imageChanged = false;  // refused: the file no longer had the approved hash
    bool noDevice = false;      // no drive answered as the device ("Device Open Fail!")
    // Why the protocol failed (see LastUpgradeFailure), read after the run.
    UpgradeFailure failure;
    // A run in a child: its exit status (128 + the signal that ended it), and whether it
    // reported its end at all.
    std::optional<int> childStatus;
    bool childReported = true;
    // A run in a child: the code and detail it decided itself (see ChildReport's @result),
    // which carry the device's cause across the process boundary.
    std::string childCode;
    std::string childDetail;
};

struct RunResult {
    enum class Kind { Ok, Failed, Declined, Cancelled, LeftAlone };
    Kind kind = Kind::Failed;
    // Stable (the README's table): "ok", "declined", "cancelled", "left-alone",
    // "block-refused", "device-gone", "io-error", "check-failed", "no-device",
    // "empty-query-reply", "not-recorded", "image-changed", "killed", "child-failed", and
    // "failed" for a failure with no cause of its own.
    const char* code = "failed";
    // What goes with the code, short and stable in form; "" when the code says it all:
    // "block 17, status 01 00 00 00 00 00 00 00" (block-refused), the OS's name of the error
    // ("ENODEV", "EIO") for device-gone and io-error, "family" / "chip id" / "boot type"
    // (check-failed), "signal 9" (killed), "status 1" (child-failed, failed after the run).
    std::string detail;
    // Why, in words, for a run that ended without a message of its own; "" otherwise.
    std::string cause;

    // The record's result: "ok", "failed", "declined", "cancelled"; "" for a unit left alone.
    const char* Name() const;
    bool Succeeded() const { return kind == Kind::Ok; }
    // A run that counts for the unit (a unit left alone had no run).
    bool Counts() const { return kind != Kind::LeftAlone; }
    // The exit status of `upgrade` for this run; interruptStatus is 130 or 143.
    int ExitStatus(int interruptStatus) const;
};

RunResult DecideRun(const RunEnd& end);
