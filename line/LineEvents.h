#pragma once
// The line's versioned event stream (v1): one JSON object per event, numbered (`seq`, from 1)
// and stamped (`time`, UTC with milliseconds) here, handed to every sink in stream order. Every
// event carries `v`, `event`, `seq`, `time`, `station`, `lot` and `operator`, and every field of
// its kind, null when unknown (doc/kestrel-events-v1.schema.json). A consumer ignores events
// and fields it does not know; minor versions only add.

#include <chrono>
#include <map>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <vector>

#include "device/DriveIdentity.h"
#include "ledger/RunRow.h"

class EventSink;

class LineEvents {
public:
    static constexpr char kSchemaVersion[] = "1.2";
    // A run's progress: at most one event per kProgressEvery, unless it is the last block.
    static constexpr auto kProgressEvery = std::chrono::milliseconds(100);

    struct Unit {
        std::optional<std::string> unit, serial, port, drive;
    };
    // unit ("serial@port"), serial (every byte kept), port and drive as the records spell them.
    static Unit UnitOf(const DriveIdentity& identity, const std::optional<std::string>& drive);

    LineEvents(std::string station, std::optional<std::string> lot,
               std::optional<std::string> person, std::vector<EventSink*> sinks);
    bool Active() const { return !m_sinks.empty(); }
    // One more sink, from the next event on.
    void AddSink(EventSink* sink) { m_sinks.push_back(sink); }

    // command: "upgrade", "upgrade-all", "station".
    void Opened(const std::string& command, const std::string& file,
                const std::optional<std::string>& sha256);
    void Attached(const Unit& unit, const std::optional<std::string>& usb, bool duplicateSerial);
    // reason: done, claimed, held-back, not-device, busy, database, running, unusable, ...
    void Skipped(const Unit& unit, const std::string& reason, const std::string& message);
    // The image's release signer (see ReleaseSignature), in every started event from here on;
    // null there while none is set (no allowed signers in force).
    void SetReleaseSigner(std::string principal, std::string fingerprint) {
        m_signer = std::move(principal);
        m_signerFingerprint = std::move(fingerprint);
    }
    void Started(const std::string& run, const Unit& unit, unsigned startBlock, unsigned endBlock,
                 const std::optional<std::string>& versionBefore);
    // Throttled per run (see kProgressEvery); force sends it anyway (a heartbeat).
    void Progress(const std::string& run, const Unit& unit, int blocksSent, int blocksTotal,
                  double seconds, bool force = false);
    void Finished(const std::string& run, const Unit& unit, const std::string& result,
                  const std::string& code, const std::string& detail, const std::string& message,
                  int blocksSent, double seconds);
    // The run's finished event, from its final row.
    void Finished(const RunRow& row);
    void Removed(const Unit& unit);
    void Warning(const std::string& code, const std::string& message);
    void Closed(int succeeded, int failed, int exitStatus);

    // When the run last had a progress event (for heartbeats); nothing before its first.
    std::optional<std::chrono::steady_clock::time_point> LastProgress(const std::string& run) const;

private:
    // Adds the common fields before the event's own, numbers, stamps and hands the line on.
    void Emit(const char* event, const nlohmann::ordered_json& fields);

    std::string m_station;
    std::optional<std::string> m_lot, m_operator;
    std::vector<EventSink*> m_sinks;
    long long m_seq = 0;
    std::optional<std::string> m_signer, m_signerFingerprint;
    std::map<std::string, std::chrono::steady_clock::time_point> m_lastProgress;
};
