#include "web/linux/HttpConnections.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "web/RequestHead.h"

namespace {

// A kept-alive connection that sends nothing for this long is closed.
constexpr auto kIdle = std::chrono::seconds(5);
// How long one write may wait for the client to take bytes; a follower gets less, and a send
// queue of kFollowerQueue bytes.
constexpr auto kWriteWait = std::chrono::seconds(5);
constexpr auto kFollowerWriteWait = std::chrono::seconds(1);
constexpr int kFollowerQueue = 64 * 1024;
// Requests on one connection before it is closed.
constexpr int kRequestsPerConnection = 100;
constexpr std::size_t kClosingMax = 64;
constexpr auto kClosingDelay = std::chrono::seconds(1);

thread_local bool t_follower = false;
thread_local int t_socket = -1;

int MillisecondsUntil(std::chrono::steady_clock::time_point until) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        until - std::chrono::steady_clock::now());
    return left.count() <= 0 ? 0 : static_cast<int>(left.count());
}

// Whether fd is ready for `events` before `until`.
bool WaitFor(int fd, short events, std::chrono::steady_clock::time_point until) {
    for (;;) {
        pollfd one{fd, events, 0};
        const int n = ::poll(&one, 1, MillisecondsUntil(until));
        if (n > 0) return true;
        if (n == 0 || errno != EINTR) return false;
    }
}

void SendAll(int fd, std::string_view bytes) {
    ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

// Says a last answer and lets the client read it before the socket closes: what it still
// sends is read and dropped for a moment (a bounded one), so the close is not a reset.
void SayAndClose(int fd, std::string_view bytes) {
    SendAll(fd, bytes);
    ::shutdown(fd, SHUT_WR);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(250);
    char sink[4096];
    for (std::size_t dropped = 0; dropped < 256 * 1024 && WaitFor(fd, POLLIN, until);) {
        const ssize_t n = ::recv(fd, sink, sizeof sink, 0);
        if (n <= 0) break;
        dropped += static_cast<std::size_t>(n);
    }
}

std::string Answer(const char* status, const char* text) {
    return std::string("HTTP/1.1 ") + status +
           "\r\nConnection: close\r\nContent-Type: text/plain\r\nCache-Control: no-store\r\n"
           "Content-Length: " +
           std::to_string(std::strlen(text)) + "\r\n\r\n" + text;
}

std::string AddressText(const sockaddr_storage& address, int* port) {
    char text[INET6_ADDRSTRLEN] = "";
    if (address.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
        ::inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
        *port = ntohs(v4.sin_port);
    } else if (address.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
        ::inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
        *port = ntohs(v6.sin6_port);
    }
    return text;
}

// One request's head, already read, then the socket for the answer.
class HeadStream : public httplib::Stream {
public:
    HeadStream(int fd, std::string_view head) : m_fd(fd), m_head(head) {}

    bool is_readable() const override { return m_read < m_head.size(); }
    bool is_writable() const override {
        return WaitFor(m_fd, POLLOUT, std::chrono::steady_clock::now() + Wait());
    }
    ssize_t read(char* ptr, size_t size) override {
        const std::size_t n = std::min(size, m_head.size() - m_read);
        std::memcpy(ptr, m_head.data() + m_read, n);
        m_read += n;
        return static_cast<ssize_t>(n);
    }
    ssize_t write(const char* ptr, size_t size) override {
        const auto until = std::chrono::steady_clock::now() + Wait();
        for (;;) {
            const ssize_t n = ::send(m_fd, ptr, size, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n >= 0) return n;
            if (errno == EINTR) continue;
            if ((errno != EAGAIN && errno != EWOULDBLOCK) || !WaitFor(m_fd, POLLOUT, until))
                return -1;
        }
    }
    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        ip = ::getpeername(m_fd, reinterpret_cast<sockaddr*>(&address), &length) == 0
                 ? AddressText(address, &port)
                 : std::string();
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        ip = ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) == 0
                 ? AddressText(address, &port)
                 : std::string();
    }
    socket_t socket() const override { return m_fd; }

private:
    static std::chrono::milliseconds Wait() { return t_follower ? kFollowerWriteWait : kWriteWait; }

    int m_fd;
    std::string_view m_head;
    std::size_t m_read = 0;
};

}  // namespace

HttpConnections::HttpConnections(Serve serve, std::chrono::milliseconds headDeadline)
    : m_serve(std::move(serve)), m_headDeadline(headDeadline) {}

HttpConnections::~HttpConnections() {
    Stop();
}

bool HttpConnections::Listen(const std::string& address, int port, std::string* error) {
    const std::string where = address + " port " + std::to_string(port);
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (const int failed =
            ::getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &found);
        failed != 0) {
        *error = "cannot listen on " + where + ": " + ::gai_strerror(failed);
        return false;
    }
    const int fd = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    // SO_REUSEADDR lets a station restart on its port at once; it never shares a port that a
    // process listens on (SO_REUSEPORT would, and the kernel would spread the requests).
    const int yes = 1;
    const bool ok = fd >= 0 && ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) == 0 &&
                    ::bind(fd, found->ai_addr, found->ai_addrlen) == 0 &&
                    ::listen(fd, SOMAXCONN) == 0;
    const int cause = errno;
    ::freeaddrinfo(found);
    if (!ok) {
        if (fd >= 0) ::close(fd);
        *error = "cannot listen on " + where + ": " +
                 (cause == EADDRINUSE
                      ? std::string("the port is in use (another program, or another station, "
                                    "listens there); choose another port")
                  : cause == EADDRNOTAVAIL ? std::string("this computer has no such address")
                                           : std::string(std::strerror(cause)));
        return false;
    }
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
    AddressText(bound, &m_port);
    m_listen = fd;
    return true;
}

void HttpConnections::Start() {
    for (std::size_t i = 0; i < kWorkers; ++i) m_workers.emplace_back([this] { Work(); });
    m_acceptor = std::thread([this] { Accept(); });
}

void HttpConnections::Stop() {
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping) return;
        m_stopping = true;
        for (const int fd : m_open) ::shutdown(fd, SHUT_RDWR);
    }
    m_ready.notify_all();
    if (m_acceptor.joinable()) m_acceptor.join();
    for (std::thread& worker : m_workers) worker.join();
    for (const int fd : m_queue) ::close(fd);
    for (const auto& [when, fd] : m_closing) ::close(fd);
    if (m_listen >= 0) ::close(m_listen);
}

void HttpConnections::FollowerHere() {
    t_follower = true;
    ::setsockopt(t_socket, SOL_SOCKET, SO_SNDBUF, &kFollowerQueue, sizeof kFollowerQueue);
}

void HttpConnections::CloseLater(int fd) {
    ::shutdown(fd, SHUT_WR);
    if (m_closing.size() >= kClosingMax) {
        ::close(m_closing.front().second);
        m_closing.pop_front();
    }
    m_closing.emplace_back(std::chrono::steady_clock::now() + kClosingDelay, fd);
}

void HttpConnections::Accept() {
    static const std::string busy =
        Answer("503 Service Unavailable", "too many connections; try again in a moment\n");
    for (;;) {
        {
            std::lock_guard lock(m_mutex);
            if (m_stopping) return;
        }
        while (!m_closing.empty() && m_closing.front().first <= std::chrono::steady_clock::now()) {
            ::close(m_closing.front().second);
            m_closing.pop_front();
        }
        pollfd one{m_listen, POLLIN, 0};
        if (::poll(&one, 1, 100) <= 0) continue;
        const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        std::unique_lock lock(m_mutex);
        if (m_busy + m_queue.size() < kWorkers) {
            m_queue.push_back(fd);
            lock.unlock();
            m_ready.notify_one();
        } else {
            // Every worker is taken: the client hears so at once, and nothing it sent is read.
            lock.unlock();
            SendAll(fd, busy);
            CloseLater(fd);
        }
    }
}

void HttpConnections::Work() {
    for (;;) {
        int fd = -1;
        {
            std::unique_lock lock(m_mutex);
            m_ready.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
            if (m_stopping) return;
            fd = m_queue.front();
            m_queue.pop_front();
            ++m_busy;
            m_open.insert(fd);
        }
        t_follower = false;
        t_socket = fd;
        ServeConnection(fd);
        {
            std::lock_guard lock(m_mutex);
            m_open.erase(fd);
            --m_busy;
        }
        ::close(fd);
    }
}

void HttpConnections::ServeConnection(int fd) {
    static const std::string tooLarge =
        Answer("431 Request Header Fields Too Large", "the request's head is too large\n");
    static const std::string tooSlow =
        Answer("408 Request Timeout", "the request's head took too long\n");
    std::string carried;
    for (int served = 0; served < kRequestsPerConnection; ++served) {
        RequestHead head(std::move(carried));
        const auto start = std::chrono::steady_clock::now();
        const auto deadline = start + m_headDeadline;
        const auto idle = std::min(deadline, start + std::chrono::milliseconds(kIdle));
        char buffer[4096];
        while (head.Current() == RequestHead::State::Partial) {
            if (!WaitFor(fd, POLLIN, head.Empty() ? idle : deadline)) {
                if (!head.Empty()) SayAndClose(fd, tooSlow);
                return;
            }
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;
            head.Add(std::string_view(buffer, static_cast<std::size_t>(n)));
        }
        if (head.Current() == RequestHead::State::TooLarge) {
            SayAndClose(fd, tooLarge);
            return;
        }
        const bool last = served + 1 == kRequestsPerConnection || head.AnnouncesBody();
        HeadStream stream(fd, head.Head());
        bool clientClosed = false;
        if (!m_serve(stream, last, clientClosed) || clientClosed || last) return;
        carried = head.Rest();
    }
}
