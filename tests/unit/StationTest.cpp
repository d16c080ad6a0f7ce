// The station's decisions, driven by a table: drives plugged and pulled, runs ending, a unit
// database going away and coming back, time moved by the test (no sleeps). Each row does one
// thing and lists every note the station gives its views for it, in order.
#include "line/Station.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ledger/StationLedger.h"

namespace {

class FakeClock : public LineClock {
public:
    TimePoint Now() override { return m_now; }
    void SleepUntil(TimePoint due) override {
        if (due > m_now) m_now = due;
    }

private:
    TimePoint m_now{};
};

class FakeDrives : public DriveSource {
public:
    struct Drive {
        DriveIdentity identity;
        ProbeResult look = ProbeResult::Device;
    };
    std::vector<DriveCandidate> Enumerate() override {
        std::vector<DriveCandidate> drives;
        for (const auto& [name, drive] : attached) {
            DriveCandidate candidate;
            candidate.name = name;
            drives.push_back(candidate);
        }
        return drives;
    }
    DriveIdentity Identify(const DriveCandidate& drive) override {
        return attached.at(drive.name).identity;
    }
    DriveProbe Look(const DriveCandidate& drive) override {
        DriveProbe look;
        look.drive = drive;
        look.result = attached.at(drive.name).look;
        return look;
    }
    bool EventDriven() const override { return true; }
    bool Changed() override { return std::exchange(changed, false); }

    std::map<std::string, Drive> attached;
    bool changed = false;
};

class FakeRuns : public UnitRuns {
public:
    bool Start(const DriveCandidate& drive, const DriveIdentity& identity, const std::string& unit,
               bool duplicateSerial, std::string*) override {
        UnitResult& run = running[unit];
        run.drive = drive;
        run.identity = identity;
        run.unit = unit;
        run.duplicateSerial = duplicateSerial;
        return true;
    }
    std::vector<UnitResult> Poll(std::chrono::milliseconds wait) override {
        clock->SleepUntil(clock->Now() + wait);
        return std::exchange(ended, {});
    }
    void InterruptAll() override {}
    std::size_t Running() const override { return running.size(); }
    bool IsRunning(const std::string& unit) const override { return running.count(unit) != 0; }

    // The child of unit ended with this status, having reported outcome (or nothing).
    void End(const std::string& unit, int status, std::optional<UpgradeOutcome> outcome) {
        UnitResult result = running.at(unit);
        running.erase(unit);
        result.status = status;
        result.reported = outcome.has_value();
        result.outcome = outcome.value_or(UpgradeOutcome::None);
        ended.push_back(result);
    }

    FakeClock* clock = nullptr;
    std::map<std::string, UnitResult> running;
    std::vector<UnitResult> ended;
};

// The unit database: answers or not; every unit may go ahead.
class FakeLedger : public StationLedger {
public:
    FakeLedger() : StationLedger(std::nullopt, {}, {}) {}
    bool Available(const Print& print) override {
        if (up && away) print(false, "back");
        if (!up && !away) print(true, "away");
        away = !up;
        return up;
    }
    ClaimVerdict Admit(const std::string&) override {
        ClaimVerdict go;
        go.outcome = ClaimVerdict::Outcome::Claimed;
        return go;
    }
    bool Enabled() const override { return true; }

    bool up = true;
    bool away = false;
};

// "attached sdb", "skipped sdb done", "ended sdb failed", "warning serial-at-two-ports", ...
class Notes : public StationView {
public:
    void Note(const StationNote& note) override {
        static const char* const kKinds[] = {"attached", "upgrading", "skipped", "retrying",
                                             "unusable", "removed",   "warning", "ended"};
        std::string text = kKinds[static_cast<int>(note.kind)];
        if (note.drive != nullptr) text += " " + note.drive->drive.name;
        if (note.result != nullptr)
            text += " " + note.result->drive.name + " " + note.result->Result().Name();
        if (!note.code.empty()) text += " " + note.code;
        if (note.drive != nullptr && note.drive->duplicateSerial) text += " duplicate";
        seen.push_back(text);
    }
    std::vector<std::string> seen;
};

struct World {
    FakeClock clock;
    FakeDrives drives;
    FakeRuns runs;
    FakeLedger ledger;

    void Plug(const std::string& name, const std::string& serial, const std::string& port,
              ProbeResult look = ProbeResult::Device) {
        DriveIdentity identity;
        identity.serialBytes = serial;
        identity.serial = serial;
        identity.port = port;
        drives.attached[name] = {identity, look};
        drives.changed = true;
    }
    void Pull(const std::string& name) {
        drives.attached.erase(name);
        drives.changed = true;
    }
    std::string Unit(const std::string& name) { return drives.attached.at(name).identity.Unit(); }
};

struct Row {
    const char* what;
    std::function<void(World&)> act;
    std::vector<std::string> notes;
    std::chrono::milliseconds after{100};  // how long the station runs after the act
};

TEST(Station, DecidesEachDriveAndRunOnceAsItsTableSays) {
    using std::chrono::milliseconds;
    const std::vector<Row> rows = {
        {"a unit is plugged in",
         [](World& w) { w.Plug("sdb", "A", "1-1"); },
         {"attached sdb", "upgrading sdb"}},
        {"its run ends well",
         [](World& w) { w.runs.End(w.Unit("sdb"), 0, UpgradeOutcome::Finished); },
         {"ended sdb ok"}},
        {"pulled and plugged back: done", [](World& w) { w.Pull("sdb"); }, {"removed sdb"}},
        {"", [](World& w) { w.Plug("sdb", "A", "1-1"); }, {"attached sdb", "skipped sdb done"}},
        {"the same serial at a second port, while the first is attached",
         [](World& w) { w.Plug("sdc", "A", "1-2"); },
         {"attached sdc duplicate", "warning sdc serial-at-two-ports duplicate",
          "upgrading sdc duplicate"}},
        {"its device stops at an empty query reply (status 3): failed",
         [](World& w) { w.runs.End(w.Unit("sdc"), 3, UpgradeOutcome::StoppedSilently); },
         {"ended sdc failed"}},
        {"a unit pulled and plugged back while its run is ending",
         [](World& w) { w.Plug("sdd", "B", "2-1"); },
         {"attached sdd", "upgrading sdd"}},
        {"", [](World& w) { w.Pull("sdd"); }, {"removed sdd"}},
        {"", [](World& w) { w.Plug("sdd", "B", "2-1"); }, {"attached sdd", "skipped sdd running"}},
        {"is flashed once that run has ended (killed: failed)",
         [](World& w) { w.runs.End(w.Unit("sdd"), 137, std::nullopt); },
         {"ended sdd failed", "upgrading sdd"}},
        {"a drive another Kestrel run holds is tried for a while, then left alone",
         [](World& w) { w.Plug("sde", "C", "3-1", ProbeResult::Busy); },
         {"attached sde", "retrying sde"}},
        {"", [](World&) {}, {"skipped sde busy"}, milliseconds(5000)},
        {"a drive that is not the device",
         [](World& w) { w.Plug("sdf", "", "3-2", ProbeResult::NotDevice); },
         {"attached sdf", "skipped sdf not-device"}},
        {"the database away: the unit waits",
         [](World& w) {
             w.ledger.up = false;
             w.Plug("sdg", "D", "4-1");
         },
         {"attached sdg", "warning sdg database-away", "skipped sdg database"}},
        {"and starts once it answers again",
         [](World& w) { w.ledger.up = true; },
         {"warning sdg database-back", "upgrading sdg"},
         milliseconds(1100)},
    };
    World world;
    world.runs.clock = &world.clock;
    Notes notes;
    Station station({.name = "st1"}, world.drives, world.clock, world.runs, world.ledger, {&notes});
    station.Begin();
    for (const Row& row : rows) {
        notes.seen.clear();
        row.act(world);
        const auto until = world.clock.Now() + row.after;
        while (world.clock.Now() < until) station.Step();
        EXPECT_EQ(notes.seen, row.notes) << row.what;
    }
    // sdb succeeded, sdc (status 3) failed; sdd counts by its second run, which still goes.
    const Station::Counts counts = station.Tally();
    EXPECT_EQ(counts.succeeded, 1);
    EXPECT_EQ(counts.failed, 1);
}

}  // namespace
