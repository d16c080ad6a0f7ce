#pragma once
// The pages' connections on POSIX sockets, in front of cpp-httplib, which only parses a head
// that is already whole and bounded, routes it and writes the answer:
// - the listening socket without SO_REUSEPORT (a port in use is refused, never shared);
// - every socket close-on-exec, so a unit's child holds none;
// - kWorkers connections served at once; one beyond them is answered 503 at once, unread;
// - each request's head within RequestHead's bounds (else 431) and a deadline (else 408);
// - at Stop every open socket is shut down, so no read or write holds the station.
// The request rules and the routes are portable and live elsewhere.

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class HttpConnections {
public:
    static constexpr std::size_t kWorkers = 16;

    // Serves one request whose head is whole: the stream reads that head and nothing more.
    // False when the connection is to be closed.
    using Serve = std::function<bool(httplib::Stream& stream, bool closeAfter, bool& clientClosed)>;

    HttpConnections(Serve serve, std::chrono::milliseconds headDeadline);
    ~HttpConnections();
    HttpConnections(const HttpConnections&) = delete;
    HttpConnections& operator=(const HttpConnections&) = delete;

    // Binds and listens; false with the reason in *error (a port in use, an address this
    // computer does not have). Port 0: any free port.
    bool Listen(const std::string& address, int port, std::string* error);
    int Port() const { return m_port; }
    void Start();
    // Stops accepting, shuts every open connection down and waits for the workers.
    void Stop();

    // Called while serving a follower of the event stream: its socket keeps a small send
    // queue, and a write that waits longer than a moment drops it (it comes back with
    // Last-Event-ID).
    static void FollowerHere();

private:
    void Accept();
    void Work();
    void ServeConnection(int fd);
    void CloseLater(int fd);

    Serve m_serve;
    std::chrono::milliseconds m_headDeadline;
    int m_listen = -1;
    int m_port = 0;
    std::thread m_acceptor;
    std::vector<std::thread> m_workers;
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<int> m_queue;
    std::set<int> m_open;  // sockets being served, shut down at Stop
    std::size_t m_busy = 0;
    bool m_stopping = false;
    // Sockets answered 503: closed a moment later, so the answer is read before the reset.
    std::deque<std::pair<std::chrono::steady_clock::time_point, int>> m_closing;
};
