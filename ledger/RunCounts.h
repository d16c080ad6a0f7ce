#pragma once
// How every view counts runs: the console's and --all's summaries, the station page, the line
// page and the report all turn rows into counts here, by one rule:
// - ok, failed and cancelled runs, and runs that never ended (interrupted), are runs of the
//   product: yield is ok over all of them, so a cancelled run is a run that did not pass;
// - declined runs (no start frame) and units left alone (the station or the unit database kept
//   them back: done, held back, busy elsewhere) are not runs of the product and stay outside
//   yield;
// - a failed run counts under its cause, its code ("failed" when it has none);
// - a unit is tried when one of its runs was a run of the product, passed when one was ok, and
//   passed first time when its earliest such run was ok.

#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "ledger/RunRow.h"

enum class RunKind { Ok, Failed, Cancelled, Declined, LeftAlone, Interrupted };
RunKind KindOf(const RunRow& row);
// The code a failed run counts under: its own, "failed" when it has none (older records).
std::string CauseOf(const RunRow& row);
// The code of a row that stands for a unit left alone (it has no run of its own).
inline constexpr char kLeftAloneCode[] = "left-alone";
// Whether a `skipped` event's reason leaves the unit alone for good (counted left alone), as
// opposed to a unit that waits (for the database, for its run to end) or is no unit at all.
bool IsLeftAloneReason(const std::string& reason);

// Counts of runs by kind, and failed runs by cause.
struct YieldCounts {
    int runs = 0;  // every run record (not units left alone, which have none)
    int ok = 0;
    int failed = 0;  // and finished runs whose result is none of the known ones
    int cancelled = 0;
    int declined = 0;
    int interrupted = 0;
    int leftAlone = 0;
    std::map<std::string, int> causes;  // failed runs by code

    void Count(const RunRow& row);
    void Add(const YieldCounts& other);
    // Runs of the product: declined runs never sent a start frame.
    int Attempts() const { return ok + failed + cancelled + interrupted; }
    // ok / attempts in percent; negative when nothing was attempted.
    double YieldPercent() const;
};

// The figures every view shows.
struct RunCounts {
    YieldCounts runs;
    int unitsTried = 0;
    int unitsPassed = 0;
    int unitsFirstPass = 0;

    // Another set's counts added (another station's: a unit counts at each station).
    void Add(const RunCounts& other);
    double UnitYieldPercent() const;  // negative when no unit was tried
    double FirstPassYieldPercent() const;
    // {"ok", "failed", "cancelled", "declined", "leftAlone", "interrupted", "tries",
    //  "yieldPercent", "units": {"tried", "passed", "firstPass", "yieldPercent",
    //  "firstPassYieldPercent"}, "causes": {code: runs}}; percentages null when undefined.
    nlohmann::ordered_json ToJson() const;
    // "3 ok, 1 failed, 1 cancelled, 1 declined, 1 left alone; yield 60.0 % of 5 runs"
    std::string Summary() const;
};

// Turns rows into counts, one run at a time; per unit only its first try is kept.
class RunCounter {
public:
    void Add(const RunRow& row);
    RunCounts Counts() const;

private:
    struct Unit {
        bool tried = false;
        std::string firstTry;  // when its earliest run of the product was
        bool firstTryOk = false;
        bool passed = false;
    };
    YieldCounts m_runs;
    std::map<std::string, Unit> m_units;
};

RunCounts CountRuns(const std::vector<RunRow>& rows);

// What an operator should do about a failed run ("what to do: ..."), "" for any other.
std::string WhatToDo(const RunRow& row);
