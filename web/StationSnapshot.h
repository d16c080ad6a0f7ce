#pragma once
// What a station's pages show, kept from the station's event stream: a snapshot of the station
// (its image, every unit with its state and progress, the counters and the alarms) and a ring of
// the recent event lines for clients that follow the stream. The station's thread feeds it;
// the web server's threads read it, so every member is guarded by one mutex.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "ledger/RunCounts.h"
#include "line/EventSink.h"
#include "web/Slots.h"

class StationSnapshot : public EventSink {
public:
    struct Entry {
        std::uint64_t seq = 0;
        std::string line;
    };

    explicit StationSnapshot(std::vector<WebSlot> slots, std::size_t ringSize = 4096);

    void OnEvent(std::string_view line) override;

    // The snapshot as the state endpoint serves it.
    std::string StateJson() const;
    // The lines that follow `after`: at once when there are some, else those that arrive
    // within `wait`. A client whose `after` lies beyond the stream (it followed this station
    // before a restart) gets the ring from its start, where the new stream's `opened` tells it
    // to begin again.
    std::vector<Entry> EventsAfter(std::uint64_t after, std::chrono::milliseconds wait) const;
    // Wakes every waiting client for good (the server is stopping).
    void Close();
    bool Closed() const;

private:
    void Apply(const nlohmann::json& event);
    nlohmann::json& UnitFor(const nlohmann::json& event);
    std::string SlotLabel(const std::string& port) const;
    void SetAlarm(const std::string& key, const std::string& code, const std::string& message);
    void Forget();
    RunRow RowOf(const nlohmann::json& event, const nlohmann::json& unit) const;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_arrived;
    std::vector<WebSlot> m_slots;
    std::size_t m_ringSize;
    std::deque<Entry> m_ring;
    std::uint64_t m_lastSeq = 0;
    bool m_closed = false;

    nlohmann::json m_station;              // station, file, sha256, running
    std::vector<std::string> m_unitOrder;  // unit keys, first seen first
    std::map<std::string, nlohmann::json> m_units;
    std::map<std::string, int> m_failuresInARow;     // by port
    std::map<std::string, nlohmann::json> m_alarms;  // by key, in a stable order
    // The shift's runs and the units left alone, as rows, counted the way every view counts.
    RunCounter m_counter;
    struct Started {
        unsigned startBlock = 0, endBlock = 0;
    };
    std::map<std::string, Started> m_started;  // by unit: the run going or just ended
};
