#include "line/EventFile.h"

#include <charconv>
#include <nlohmann/json.hpp>

namespace {

bool IsProgress(std::string_view line) {
    return line.find("\"event\":\"progress\"") != std::string_view::npos;
}

std::uint64_t SeqOf(std::string_view line) {
    constexpr std::string_view kKey = "\"seq\":";
    const std::size_t at = line.find(kKey);
    std::uint64_t seq = 0;
    if (at != std::string_view::npos)
        std::from_chars(line.data() + at + kKey.size(), line.data() + line.size(), seq);
    return seq;
}

// The line standing for `count` dropped lines, the last of which was `last`: its seq and its
// station's fields, so the stream's numbering still rises and a reader sees what it missed.
std::string GapLine(const std::string& last, std::uint64_t count, std::uint64_t first) {
    const nlohmann::ordered_json dropped = nlohmann::ordered_json::parse(last, nullptr, false);
    nlohmann::ordered_json gap;
    for (const char* key : {"v", "event", "seq", "time", "station", "lot", "operator"})
        gap[key] = dropped.is_object() && dropped.contains(key) ? dropped[key] : nullptr;
    gap["event"] = "gap";
    gap["dropped"] = count;
    gap["firstSeq"] = first;
    return gap.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

EventFile::~EventFile() {
    Stop();
}

bool EventFile::Open(const std::string& path, std::string* error) {
    m_path = path;
    m_output = EventOutput::Open(path, error);
    if (!m_output) return false;
    m_writer = std::thread([this] { Write(); });
    return true;
}

void EventFile::Drop(std::deque<Queued>::iterator at, Queued& next) {
    // The victim, and what was dropped before it, come before what `next` already stands for.
    if (next.dropped == 0) next.lastDropped = std::move(at->line);
    next.firstDropped = at->dropped > 0 ? at->firstDropped : SeqOf(at->line);
    next.dropped += at->dropped + 1;
    m_queue.erase(at);
}

void EventFile::OnEvent(std::string_view line) {
    std::unique_lock lock(m_mutex);
    if (!m_output || m_stopping || !m_error.empty()) return;
    Queued entry;
    entry.line = std::string(line);
    if (m_queue.size() >= kQueueLines) {
        if (IsProgress(line)) {
            // The newest progress goes first: the next one says as much.
            m_pending.dropped += 1;
            if (m_pending.firstDropped == 0) m_pending.firstDropped = SeqOf(line);
            m_pending.lastDropped = std::string(line);
            return;
        }
        auto victim = m_queue.begin();
        for (auto it = m_queue.begin(); it != m_queue.end(); ++it)
            if (IsProgress(it->line)) {
                victim = it;
                break;
            }
        const auto after = std::next(victim);
        Drop(victim, after == m_queue.end() ? m_pending : *after);
    }
    entry.dropped = m_pending.dropped;
    entry.firstDropped = m_pending.firstDropped;
    entry.lastDropped = std::move(m_pending.lastDropped);
    m_pending = Queued{};
    m_queue.push_back(std::move(entry));
    m_changed.notify_all();
    if (line.find("\"event\":\"closed\"") == std::string_view::npos) return;
    // The last line: the stream is given a moment to reach its reader, then let go.
    if (!m_changed.wait_for(lock, kCloseWait, [this] {
            return (m_queue.empty() && !m_writing) || !m_error.empty();
        })) {
        m_error = (m_path == "-" ? std::string("standard output") : m_path) +
                  ": the reader took nothing for " + std::to_string(kCloseWait.count()) +
                  " ms; the last " + std::to_string(m_queue.size() + (m_writing ? 1 : 0)) +
                  " events were not written";
        m_abandon = true;
    }
}

void EventFile::Write() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
        if (m_queue.empty() || !m_error.empty()) return;
        std::string out;
        while (!m_queue.empty()) {
            Queued& entry = m_queue.front();
            if (entry.dropped > 0)
                out += GapLine(entry.lastDropped, entry.dropped, entry.firstDropped) + '\n';
            out += entry.line + '\n';
            m_queue.pop_front();
        }
        m_writing = true;
        lock.unlock();
        std::string cause;
        const bool ok = m_output->Write(out, m_abandon, &cause);
        lock.lock();
        m_writing = false;
        if (!ok && m_error.empty() && !m_abandon)
            m_error = (m_path == "-" ? std::string("standard output") : m_path) + ": " + cause;
        m_changed.notify_all();
        if (!ok) return;
    }
}

std::string EventFile::Error() const {
    std::lock_guard lock(m_mutex);
    return m_error;
}

void EventFile::Stop() {
    {
        std::unique_lock lock(m_mutex);
        m_stopping = true;
        m_changed.notify_all();
        // What is queued is given the same moment as at `closed`.
        if (!m_changed.wait_for(lock, kCloseWait, [this] {
                return (m_queue.empty() && !m_writing) || !m_writer.joinable();
            }))
            m_abandon = true;
        m_changed.notify_all();
    }
    if (m_writer.joinable()) m_writer.join();
}
