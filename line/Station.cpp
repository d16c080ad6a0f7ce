#include "line/Station.h"

#include <optional>

#include "ledger/RunRow.h"
#include "ledger/StationLedger.h"

Station::Station(Config config, DriveSource& drives, LineClock& clock, UnitRuns& runs,
                 StationLedger& ledger, std::vector<StationView*> views)
    : m_config(std::move(config)),
      m_drives(drives),
      m_clock(clock),
      m_runs(runs),
      m_ledger(ledger),
      m_views(std::move(views)) {}

void Station::Tell(StationNote::Kind kind, const AttachedDrive* drive, std::string code,
                   std::string message) {
    StationNote note;
    note.kind = kind;
    note.drive = drive;
    note.code = std::move(code);
    note.message = std::move(message);
    for (StationView* view : m_views) view->Note(note);
}

void Station::Begin() {
    Scan();
    m_nextScan = m_clock.Now() + kRescanInterval;
}

bool Station::Step() {
    for (const UnitResult& result : m_runs.Poll(kPollInterval)) Ended(result);
    if (m_stopped) return m_runs.Running() > 0;
    const bool due = !m_drives.EventDriven() && m_clock.Now() >= m_nextScan;
    if (m_drives.Changed() || due) {
        Scan();
        m_nextScan = m_clock.Now() + kRescanInterval;
    }
    LookAgain();
    return true;
}

void Station::Stop() {
    if (m_stopped) return;
    m_stopped = true;
    m_runs.InterruptAll();
}

Station::Counts Station::Run(const std::function<bool()>& stopRequested) {
    Begin();
    for (;;) {
        if (!m_stopped && stopRequested()) Stop();
        if (!Step()) break;
    }
    return Tally();
}

Station::Counts Station::Tally() const {
    Counts counts;
    for (const auto& [unit, state] : m_units) {
        if (state == UnitState::Succeeded) ++counts.succeeded;
        if (state == UnitState::Failed) ++counts.failed;
        if (state == UnitState::Cancelled) ++counts.cancelled;
    }
    return counts;
}

// By serial (the default), a unit with a serial is known again by serial and port; one without
// is new at every appearance, and so is every unit when units are told apart by attachment.
std::string Station::UnitKey(const DriveIdentity& identity) {
    return identity.UnitOf().StationKey(&m_appearances, m_config.byAttachment);
}

void Station::Scan() {
    std::map<std::string, DriveCandidate> now;
    for (const DriveCandidate& drive : m_drives.Enumerate()) now[drive.name] = drive;
    for (auto it = m_attached.begin(); it != m_attached.end();) {
        if (now.count(it->first) != 0) {
            ++it;
            continue;
        }
        Tell(StationNote::Kind::Removed, &it->second);
        it = m_attached.erase(it);
    }
    // Every new drive is known before any is looked at, so units plugged in together see each
    // other's serials.
    std::vector<std::string> appeared;
    for (const auto& [name, drive] : now) {
        if (m_attached.count(name) != 0) continue;
        Attached attached;
        attached.drive = drive;
        attached.identity = m_drives.Identify(drive);
        attached.unit = UnitKey(attached.identity);
        attached.firstLook = m_clock.Now();
        m_attached[name] = attached;
        appeared.push_back(name);
    }
    for (const std::string& name : appeared) {
        Attached& attached = m_attached[name];
        attached.duplicateSerial = DuplicateSerial(attached);
        Tell(StationNote::Kind::Attached, &attached);
        SeenAt(attached);
    }
    for (const std::string& name : appeared) Try(m_attached[name]);
}

// Units that share a serial are taken for one unit moved between ports: the second is left
// alone as done. Said once per serial and shift, with the way out.
void Station::SeenAt(const Attached& attached) {
    const DriveIdentity& identity = attached.identity;
    if (m_config.byAttachment || !identity.serialBytes || identity.serialBytes->empty() ||
        !identity.port)
        return;
    std::set<std::string>& ports = m_serialPorts[*identity.serialBytes];
    const bool first = ports.size() == 1 && ports.count(*identity.port) == 0;
    ports.insert(*identity.port);
    if (!first) return;
    Tell(StationNote::Kind::Warning, &attached, "serial-at-two-ports",
         "serial " + identity.EscapedSerial() + " showed up at ports " + *ports.begin() + " and " +
             *ports.rbegin() +
             " this shift; if units share a serial, run the station with --identity attachment");
}

void Station::LookAgain() {
    const auto now = m_clock.Now();
    for (auto& [name, attached] : m_attached)
        if (attached.pending && now >= attached.nextLook) Try(attached);
}

bool Station::DuplicateSerial(const Attached& unit) const {
    if (!unit.identity.serialBytes || unit.identity.serialBytes->empty()) return false;
    for (const auto& [name, other] : m_attached)
        if (other.drive.name != unit.drive.name && other.identity.port != unit.identity.port &&
            other.identity.serialBytes == unit.identity.serialBytes)
            return true;
    return false;
}

void Station::Try(Attached& attached) {
    attached.pending = false;
    if (m_stopped) return;
    // A unit still running (pulled and plugged back, or a second drive of its USB device) is
    // never run twice at once: it is looked at again once that run has ended.
    if (m_runs.IsRunning(attached.unit)) {
        if (!attached.afterRun)
            Tell(StationNote::Kind::Skipped, &attached, "running",
                 "its unit is still being upgraded; it is flashed once that run has ended");
        attached.afterRun = true;
        return;
    }
    const auto known = m_units.find(attached.unit);
    if (known != m_units.end() && known->second == UnitState::Succeeded) {
        Tell(StationNote::Kind::Skipped, &attached, "done", "already upgraded, left alone");
        return;
    }
    // Only a drive that answers identify with AA 55 is ever written to, and one another Kestrel
    // run holds is not even asked.
    const DriveProbe look = m_drives.Look(attached.drive);
    const auto now = m_clock.Now();
    if (look.MayChange() && now - attached.firstLook < kRetryFor) {
        if (!attached.retrying)
            Tell(StationNote::Kind::Retrying, &attached, {},
                 look.Cause() + ", trying again for " + std::to_string(kRetryFor.count()) + " s");
        attached.retrying = true;
        attached.pending = true;
        attached.nextLook = now + kRetryEvery;
        return;
    }
    switch (look.result) {
        case ProbeResult::Busy:
        case ProbeResult::HeldByOther:
            Tell(StationNote::Kind::Skipped, &attached, "busy", look.Cause() + ", left alone");
            return;
        case ProbeResult::NotCandidate:
        case ProbeResult::NotDevice:
            Tell(StationNote::Kind::Skipped, &attached, "not-device",
                 look.Cause() + ", left alone");
            return;
        case ProbeResult::OpenFailed:
        case ProbeResult::IdentifyFailed: {
            const std::string hint = look.Hint();
            Tell(StationNote::Kind::Unusable, &attached, "unusable",
                 look.Cause() + (hint.empty() ? "" : "; " + hint));
            m_units[attached.unit] = UnitState::Failed;
            return;
        }
        case ProbeResult::Device:
            break;
    }
    attached.duplicateSerial = DuplicateSerial(attached);
    if (!AdmittedByDatabase(attached)) return;
    std::string error;
    if (!m_runs.Start(attached.drive, attached.identity, attached.unit, attached.duplicateSerial,
                      &error)) {
        Tell(StationNote::Kind::Unusable, &attached, "not-started", "kestrel-cli: " + error);
        m_units[attached.unit] = UnitState::Failed;
        return;
    }
    Tell(StationNote::Kind::Upgrading, &attached);
    m_units[attached.unit] = UnitState::Upgrading;
}

// The unit database's word on the unit (station --db): while the database does not answer, or
// another station flashes the unit, the unit waits and is looked at again every second; a unit
// done with this image, or failed too often, anywhere, is left alone.
bool Station::AdmittedByDatabase(Attached& attached) {
    if (!m_ledger.Enabled()) return true;
    const auto print = [this, &attached](bool away, const std::string& line) {
        Tell(StationNote::Kind::Warning, &attached, away ? "database-away" : "database-back", line);
    };
    std::string waitingFor;
    const char* reason = "database";
    if (!m_ledger.Available(print)) {
        waitingFor = "waiting for the database";
    } else {
        UnitIdentity unit = attached.identity.UnitOf(m_config.name, DriveShortName(attached.drive),
                                                     attached.duplicateSerial);
        // By attachment, a serial names no unit: claims go by station and port.
        if (m_config.byAttachment) unit.serial.reset();
        const ClaimVerdict verdict = m_ledger.Admit(unit.Key());
        switch (verdict.outcome) {
            case ClaimVerdict::Outcome::Claimed:
                attached.waitingFor.clear();
                return true;
            case ClaimVerdict::Outcome::Done:
                Tell(StationNote::Kind::Skipped, &attached, "done",
                     verdict.Message() + ", left alone");
                return false;
            case ClaimVerdict::Outcome::HeldBack:
                Tell(StationNote::Kind::Skipped, &attached, "held-back",
                     verdict.Message() + ", left alone");
                return false;
            case ClaimVerdict::Outcome::Busy:
                waitingFor = verdict.Message() + ", waiting";
                reason = "claimed";
                break;
            case ClaimVerdict::Outcome::Error:
                waitingFor = "waiting for the database";
                break;
        }
    }
    // Said when it changes; the unit stays attached and is tried again.
    if (waitingFor != attached.waitingFor)
        Tell(StationNote::Kind::Skipped, &attached, reason, waitingFor);
    attached.waitingFor = waitingFor;
    attached.pending = true;
    attached.nextLook = m_clock.Now() + kDatabaseRetry;
    return false;
}

// Credited to the unit the run was started for, whatever is attached now.
void Station::Ended(const UnitResult& result) {
    StationNote note;
    note.kind = StationNote::Kind::Ended;
    note.result = &result;
    const RunResult decided = result.Result();
    // A unit the database kept from starting was sent nothing and is no failure. One done or
    // held back meanwhile (another station decided first) is left alone; one the database could
    // not take now (it stopped answering after the station's look, or another station claimed
    // the unit first) waits like a unit not yet started.
    if (result.startVerdict == StartVerdict::Deferred) {
        m_units.erase(result.unit);
        for (auto& [name, attached] : m_attached) {
            if (attached.unit != result.unit) continue;
            attached.pending = true;
            attached.nextLook = m_clock.Now() + kDatabaseRetry;
        }
    } else if (!decided.Counts()) {
        m_units.erase(result.unit);
    } else {
        m_units[result.unit] = decided.Succeeded()                          ? UnitState::Succeeded
                               : decided.kind == RunResult::Kind::Cancelled ? UnitState::Cancelled
                                                                            : UnitState::Failed;
    }
    for (StationView* view : m_views) view->Note(note);
    // A unit plugged back while this run was ending is looked at now.
    for (auto& [name, attached] : m_attached) {
        if (attached.unit != result.unit || !attached.afterRun) continue;
        attached.afterRun = false;
        attached.pending = true;
        attached.firstLook = attached.nextLook = m_clock.Now();
    }
}
