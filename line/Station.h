#pragma once
// A station: waits for drives, and flashes each newly attached unit once, in parallel, without
// asking (starting a station is the consent). Every decision about a drive is made here, once:
// which unit it holds, whether it is looked at again, left alone, waits for the unit database,
// or is flashed; how each run counts. What it decides goes to its views as notes (the
// console's lines, the event stream). The drives, the clock, the runs and the unit database
// are given to it, so the unit tests drive it with tables and no sleeps.

#include <chrono>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "line/DriveSource.h"
#include "line/LineClock.h"
#include "line/UnitRuns.h"

class StationLedger;

// A drive as it is attached now, and which unit it holds.
struct AttachedDrive {
    DriveCandidate drive;
    DriveIdentity identity;
    std::string unit;  // the key of the unit's runs (see Station::UnitKey)
    bool duplicateSerial = false;
};

// One thing a station decided or saw, for its views.
struct StationNote {
    enum class Kind {
        Attached,   // a drive appeared (decided later)
        Upgrading,  // its unit's run started
        Skipped,    // left alone for now or for good: code and message say why
        Retrying,   // not yet usable; looked at again for a while (message)
        Unusable,   // never became usable: counts as a failed unit (message, with a hint)
        Removed,    // the drive went
        Warning,    // code and message
        Ended,      // a run ended (result)
    };
    Kind kind = Kind::Attached;
    const AttachedDrive* drive = nullptr;  // all but Warning and Ended
    std::string code;                      // Skipped: the reason; Warning: what
    std::string message;
    const UnitResult* result = nullptr;  // Ended
};

class StationView {
public:
    virtual ~StationView() = default;
    virtual void Note(const StationNote& note) = 0;
};

class Station {
public:
    struct Config {
        std::string name;  // the station's name (--station, else the host name)
        // Every plug-in is a new unit: nothing is skipped as done, claims go by station and
        // port. For lines whose units all carry one serial.
        bool byAttachment = false;
    };
    struct Counts {
        int succeeded = 0;
        int failed = 0;
        int cancelled = 0;  // stopped the way Cancel does: not failed, not flashed either
    };

    static constexpr auto kRescanInterval = std::chrono::milliseconds(500);
    static constexpr auto kPollInterval = std::chrono::milliseconds(50);
    // Right after a plug-in udev may not yet have applied the seat's access rule, and holds its
    // short probing lock on the node: a drive that cannot be opened, locked or asked is looked
    // at again for this long before it counts.
    static constexpr auto kRetryFor = std::chrono::seconds(5);
    static constexpr auto kRetryEvery = std::chrono::milliseconds(250);
    // How often a unit waiting for the unit database (away, or another station's claim) is
    // tried.
    static constexpr auto kDatabaseRetry = std::chrono::seconds(1);

    Station(Config config, DriveSource& drives, LineClock& clock, UnitRuns& runs,
            StationLedger& ledger, std::vector<StationView*> views);

    // The first look at what is attached.
    void Begin();
    // One turn: waits up to kPollInterval for the runs, then looks at what changed. After
    // Stop, it only waits for the runs still going; false once none is left.
    bool Step();
    // Cancels the runs still going (once) and starts no new one.
    void Stop();
    // Begin, then Step until stopRequested has been answered and every run has ended.
    Counts Run(const std::function<bool()>& stopRequested);
    Counts Tally() const;

private:
    struct Attached : AttachedDrive {
        bool pending = true;  // not yet decided what to do with it
        bool retrying = false;
        bool afterRun = false;  // plugged back while its unit's run was ending
        LineClock::TimePoint firstLook, nextLook;
        std::string waitingFor;  // what the unit database said last while the unit waits
    };
    enum class UnitState { Upgrading, Succeeded, Failed, Cancelled };

    std::string UnitKey(const DriveIdentity& identity);
    void Scan();
    void LookAgain();
    bool DuplicateSerial(const Attached& unit) const;
    void Try(Attached& attached);
    bool AdmittedByDatabase(Attached& attached);
    void Ended(const UnitResult& result);
    void SeenAt(const Attached& attached);
    void Tell(StationNote::Kind kind, const AttachedDrive* drive, std::string code = {},
              std::string message = {});

    Config m_config;
    DriveSource& m_drives;
    LineClock& m_clock;
    UnitRuns& m_runs;
    StationLedger& m_ledger;
    std::vector<StationView*> m_views;
    std::map<std::string, Attached> m_attached;  // by drive name
    std::map<std::string, UnitState> m_units;    // by unit
    // The ports each serial showed up at during this shift.
    std::map<std::string, std::set<std::string>> m_serialPorts;
    unsigned m_appearances = 0;
    LineClock::TimePoint m_nextScan{};
    bool m_stopped = false;
};
