#pragma once
// The report's figures, counted where the runs are: by the database's own GROUP BY queries
// (UnitDatabase::Tally) or by folding JSON Lines records one run at a time (YieldFold). Either
// way only the groups are kept, never every run, so memory stays flat as the records grow; the
// lists (units still to rework, units that failed more than once, interrupted runs) hold only
// the runs and units they name.

#include <map>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "ledger/RunCounts.h"
#include "ledger/RunRow.h"

// How long the finished runs that tried a unit took (ok, failed or cancelled).
struct CycleTime {
    long long runs = 0;
    double totalSeconds = 0.0;
    double longestSeconds = 0.0;
    void Add(double seconds);
    void Add(const CycleTime& other);
    double Mean() const { return runs ? totalSeconds / static_cast<double>(runs) : 0.0; }
};

// One unit in a list: the rework list (tried, never ok) or the units that failed twice or more.
struct UnitLine {
    std::string unitKey;
    std::string unit;  // the serial, or "<port>@<station>" for a unit known by its fixture
    YieldCounts counts;
    std::vector<std::string> stations;  // sorted
    std::string firstSeen, lastSeen;    // when its first and latest runs were
};

struct InterruptedRun {
    std::string run, station, unit, startedAt;
};

struct YieldTally {
    YieldCounts totals;
    CycleTime cycle;
    std::string first, last;  // the runs' time range; "" without runs
    struct Image {
        std::string file;  // a file name it was flashed from
        YieldCounts counts;
    };
    std::map<std::string, Image> images;  // by SHA-256
    struct Station {
        YieldCounts counts;
        CycleTime cycle;
    };
    std::map<std::string, Station> stations;
    std::map<std::pair<std::string, std::string>, YieldCounts> slots;  // (station, port or drive)
    std::map<std::string, YieldCounts> hours;                          // "YYYY-MM-DDTHH"
    std::map<std::string, YieldCounts> lots;  // by --lot; "" for runs without one
    std::map<std::string, int> failures;      // message -> failed runs
    // Failed runs by cause, by station and slot: (station, port or drive, code) -> the runs
    // and the latest run's detail.
    struct Cause {
        int runs = 0;
        std::string detail, when;
    };
    std::map<std::tuple<std::string, std::string, std::string>, Cause> causes;
    int unitsTried = 0;      // units with a run that tried them
    int unitsPassed = 0;     // of those, units with an ok run
    int unitsFirstPass = 0;  // units whose first try was ok
    int unitsFailedTwice = 0;
    // The lists hold at most kListLimit each (their counts are unitsTried - unitsPassed,
    // unitsFailedTwice and totals.interrupted): a year's report stays within its memory.
    static constexpr std::size_t kListLimit = 1000;
    std::vector<UnitLine> rework;             // tried and never ok, latest first
    std::vector<UnitLine> repeats;            // failed twice or more, most failures first
    std::vector<InterruptedRun> interrupted;  // by when they started
    int skippedLines = 0;
    int duplicates = 0;  // runs dropped because their run id was counted from another source

    // Runs from another source (a second database, a Windows station's files).
    void Add(const YieldTally& other);
    // Orders the lists as the report shows them and keeps the first kListLimit of each.
    void SortLists();
};

// Folds runs one at a time into a tally (its counts by RunCounter's rule); per unit only a few
// counters are kept.
class YieldFold {
public:
    void Add(const RunRow& row);
    YieldTally Finish();

private:
    struct UnitState {
        YieldCounts counts;
        std::set<std::string> stations;
        std::string firstSeen, lastSeen;
    };
    YieldTally m_tally;
    RunCounter m_counter;  // the unit figures, as every view counts them
    std::map<std::string, UnitState> m_units;
};

// Whether the run counts as ok / failed / an attempt, as the database's queries decide it too.
bool IsOk(const RunRow& row);
bool IsAttempt(const RunRow& row);
