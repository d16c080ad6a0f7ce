#pragma once
// The head of one HTTP request (request line and header lines, up to the blank line), gathered
// from what a connection sends within bounds: at most kMaxBytes and kMaxLines header lines, so
// that a client sending header lines without end costs the station a few kilobytes, not its
// memory. The HTTP library parses only a head that this accepted. No sockets here: the
// platform's listener feeds it, and the deadline for the whole head is the listener's.

#include <cstddef>
#include <string>
#include <string_view>

class RequestHead {
public:
    static constexpr std::size_t kMaxBytes = 16 * 1024;
    static constexpr std::size_t kMaxLines = 64;

    enum class State {
        Partial,   // the blank line has not come yet
        Complete,  // Head() is the whole head
        TooLarge,  // over a bound: answer 431 and close
    };

    // Starts a head with the bytes that followed the previous one on the connection.
    explicit RequestHead(std::string carried = {});

    State Add(std::string_view bytes);
    State Current() const { return m_state; }
    bool Empty() const { return m_buffer.empty(); }
    // The head through its blank line (Complete only).
    std::string_view Head() const { return std::string_view(m_buffer).substr(0, m_end); }
    // What came after the head: the next request's start on a kept-alive connection.
    std::string Rest() const { return m_buffer.substr(m_end); }
    // Whether the head announces a body (Content-Length other than 0, or Transfer-Encoding):
    // the pages take none, so such a connection is closed after its answer.
    bool AnnouncesBody() const;

private:
    State Scan();

    std::string m_buffer;
    std::size_t m_scanned = 0;  // lines before this offset are counted
    std::size_t m_lines = 0;
    std::size_t m_end = 0;
    State m_state = State::Partial;
};
