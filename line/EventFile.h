#pragma once
// --events FILE|-: the event stream as JSON Lines, appended to FILE, or written to standard
// output for "-" (which then carries event lines only). Lines are written by a thread of their
// own from a bounded queue, so a reader that stalls never holds the station: while the queue is
// full, progress events are dropped first (then the oldest others), and where lines were
// dropped a `gap` line says how many. The `closed` line waits a moment for the queue to drain;
// a reader that still takes nothing then loses the rest, and Error() says so.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "line/EventOutput.h"
#include "line/EventSink.h"

class EventFile : public EventSink {
public:
    static constexpr std::size_t kQueueLines = 1024;
    static constexpr std::chrono::milliseconds kCloseWait{500};

    EventFile() = default;
    ~EventFile() override;
    EventFile(const EventFile&) = delete;
    EventFile& operator=(const EventFile&) = delete;

    // Opens FILE for appending (created 0640 when missing), or takes standard output for "-".
    // False, with the cause naming the file in *error.
    bool Open(const std::string& path, std::string* error);
    void OnEvent(std::string_view line) override;
    // The first write that failed ("PATH: CAUSE"); "" while all went well. Later events are
    // dropped: a stream with a hole would mislead more than one that stops.
    std::string Error() const;

private:
    struct Queued {
        std::string line;
        // Lines dropped just before this one: how many, the first one's seq, and the last
        // dropped line (the gap line takes its seq and its station's fields).
        std::uint64_t dropped = 0;
        std::uint64_t firstDropped = 0;
        std::string lastDropped;
    };

    void Drop(std::deque<Queued>::iterator at, Queued& next);
    void Write();
    void Stop();

    std::unique_ptr<EventOutput> m_output;
    std::string m_path;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Queued> m_queue;
    Queued m_pending;  // drops after the last queued line, carried by the next one
    bool m_writing = false;
    bool m_stopping = false;
    std::atomic<bool> m_abandon{false};
    std::string m_error;
    std::thread m_writer;
};
