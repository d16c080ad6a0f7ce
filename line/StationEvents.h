#pragma once
// A station's (and --all's) view that writes the event stream: its notes become attached,
// skipped, removed, warning and finished events, what its runs report becomes started and
// progress events, and a run whose blocks are slow still gets a progress event every second.

#include "line/LineEvents.h"
#include "line/Station.h"

class StationEvents : public StationView {
public:
    explicit StationEvents(LineEvents& events) : m_events(events) {}

    void Note(const StationNote& note) override;
    // What a run reported while it goes (see UnitRuns::SetOnReport).
    void Reported(const UnitResult& run);
    // A run that ended.
    void Ended(const UnitResult& run);
    // A progress event for every run that has had none for a second.
    void Heartbeat();

private:
    struct Going {
        UnitResult run;
        std::chrono::steady_clock::time_point since;
    };
    LineEvents& m_events;
    std::map<std::string, Going> m_going;  // by run id, started and not yet ended
};
