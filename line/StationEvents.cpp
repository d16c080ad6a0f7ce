#include "line/StationEvents.h"

namespace {

LineEvents::Unit UnitOf(const UnitResult& run) {
    return LineEvents::UnitOf(run.identity, DriveShortName(run.drive));
}

}  // namespace

void StationEvents::Note(const StationNote& note) {
    const LineEvents::Unit unit =
        note.drive == nullptr
            ? LineEvents::Unit{}
            : LineEvents::UnitOf(note.drive->identity, DriveShortName(note.drive->drive));
    switch (note.kind) {
        case StationNote::Kind::Attached:
            m_events.Attached(unit, note.drive->identity.usb, note.drive->duplicateSerial);
            return;
        case StationNote::Kind::Skipped:
        case StationNote::Kind::Unusable:
            m_events.Skipped(unit, note.code, note.message);
            return;
        case StationNote::Kind::Removed:
            m_events.Removed(unit);
            return;
        case StationNote::Kind::Warning:
            m_events.Warning(note.code, note.message);
            return;
        case StationNote::Kind::Ended:
            Ended(*note.result);
            return;
        case StationNote::Kind::Upgrading:
        case StationNote::Kind::Retrying:
            return;
    }
}

void StationEvents::Reported(const UnitResult& run) {
    if (run.run.empty() || !run.started) return;
    const auto now = std::chrono::steady_clock::now();
    const auto going = m_going.find(run.run);
    if (going == m_going.end()) {
        m_events.Started(run.run, UnitOf(run), run.startBlock, run.endBlock, run.versionBefore);
        m_events.Progress(run.run, UnitOf(run), 0, run.total, 0.0, true);
        m_going[run.run] = {run, now};
        return;
    }
    going->second.run = run;
    m_events.Progress(run.run, UnitOf(run), run.done, run.total,
                      std::chrono::duration<double>(now - going->second.since).count());
}

void StationEvents::Ended(const UnitResult& run) {
    const RunResult result = run.Result();
    m_going.erase(run.run);
    // A unit the database kept from starting had no run: nothing to finish.
    if (!result.Counts()) return;
    if (run.written) return m_events.Finished(*run.written);
    m_events.Finished(run.run, UnitOf(run), result.Name(), result.code, result.detail, run.Why(),
                      run.blocks, run.seconds);
}

void StationEvents::Heartbeat() {
    const auto now = std::chrono::steady_clock::now();
    for (const auto& [id, going] : m_going) {
        const auto last = m_events.LastProgress(id);
        if (last && now - *last >= std::chrono::seconds(1))
            m_events.Progress(id, UnitOf(going.run), going.run.done, going.run.total,
                              std::chrono::duration<double>(now - going.since).count(), true);
    }
}
