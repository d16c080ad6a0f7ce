// The pages over HTTP in the module kestrel-web.so: the routes and the request rules on
// cpp-httplib (Debian's libcpp-httplib), which parses and answers heads that HttpConnections
// has read within bounds. A follower of the event stream holds its worker while it follows, so
// followers are counted and refused beyond a bound.

#include <httplib.h>

#include <atomic>
#include <charconv>
#include <condition_variable>
#include <ctime>
#include <functional>
#include <mutex>
#include <thread>

#include "ledger/UnitDatabase.h"
#include "web/LineView.h"
#include "web/WebPages.h"
#include "web/WebRequestRules.h"
#include "web/WebService.h"
#include "web/linux/HttpConnections.h"

namespace {

// Followers of the event stream at once (five pages, a few tools, and room for the rest).
constexpr int kFollowers = 10;
// A follower that hears nothing for this long is sent a comment, which also tells a closed
// connection from an idle one.
constexpr auto kKeepAlive = std::chrono::seconds(10);
// How long a follower gathers events after a write before the next (well under what a person
// notices, far over the time between two events of a busy station): it halves the pages' CPU.
constexpr auto kGather = std::chrono::milliseconds(100);
// How often the line's page reads the database.
constexpr auto kLineRefresh = std::chrono::seconds(1);

// httplib's server used for what it does well: parsing a head, routing, writing the answer.
// The sockets are HttpConnections'.
class Router : public httplib::Server {
public:
    // httplib stops a streamed answer when it believes its own socket closed: it has none, so
    // it is told of a valid one until Stop.
    Router() { svr_sock_ = 0; }
    void Stop() { svr_sock_ = INVALID_SOCKET; }
    bool Serve(httplib::Stream& stream, bool closeAfter, bool& clientClosed) {
        return process_request(stream, closeAfter, clientClosed, nullptr);
    }
};

std::uint64_t ParseSeq(const std::string& text) {
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() ? value : 0;
}

std::string NowUtc() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    ::gmtime_r(&now, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

class HttpService : public WebService {
public:
    HttpService(const WebOptions& options, std::unique_ptr<UnitDatabase> database)
        : m_options(options),
          m_rules(options.address, options.token),
          m_view(options.slots),
          m_database(std::move(database)),
          m_connections(
              [this](httplib::Stream& stream, bool closeAfter, bool& clientClosed) {
                  return m_server.Serve(stream, closeAfter, clientClosed);
              },
              options.headDeadline) {}

    ~HttpService() override {
        m_view.Close();
        {
            std::lock_guard lock(m_refreshMutex);
            m_stopping = true;
        }
        m_refreshWake.notify_all();
        m_server.Stop();
        m_connections.Stop();
        if (m_refresher.joinable()) m_refresher.join();
    }

    void OnEvent(std::string_view line) override {
        if (!m_database) m_view.OnEvent(line);
    }

    std::string Url() const override {
        const bool v6 = m_options.address.find(':') != std::string::npos;
        return "http://" + (v6 ? "[" + m_options.address + "]" : m_options.address) + ":" +
               std::to_string(m_port) + "/";
    }

    bool Start(std::string* error) {
        m_server.set_keep_alive_timeout(5);
        m_server.set_payload_max_length(0);
        m_server.set_default_headers({{"Content-Security-Policy", "default-src 'self'"},
                                      {"Cache-Control", "no-store"},
                                      {"X-Content-Type-Options", "nosniff"},
                                      {"Referrer-Policy", "no-referrer"}});
        m_server.set_pre_routing_handler(
            [this](const httplib::Request& req, httplib::Response& res) {
                return Admit(req, res);
            });
        Route();
        if (!m_connections.Listen(m_options.address, m_options.port, error)) return false;
        m_port = m_connections.Port();
        m_rules.SetPort(m_port);
        if (m_database) {
            m_view.Close();
            m_lineView.Refresh(*m_database, NowUtc());
            m_refresher = std::thread([this] { RefreshLine(); });
        }
        m_connections.Start();
        return true;
    }

private:
    httplib::Server::HandlerResponse Admit(const httplib::Request& req, httplib::Response& res) {
        using Handled = httplib::Server::HandlerResponse;
        const WebRequestFacts facts{
            .method = req.method,
            .host = req.get_header_value("Host"),
            .localAddress = req.local_addr,
            .authorization = req.get_header_value("Authorization"),
            .cookie = req.get_header_value("Cookie"),
            .queryToken = req.path == "/" ? req.get_param_value("token") : std::string(),
            .origin = req.get_header_value("Origin"),
            .fetchSite = req.get_header_value("Sec-Fetch-Site")};
        switch (m_rules.Judge(facts)) {
            case WebVerdict::Allowed:
                return Handled::Unhandled;
            case WebVerdict::BadMethod:
                res.status = 405;
                res.set_header("Allow", "GET, HEAD");
                res.set_content("the pages only read: GET and HEAD\n", "text/plain");
                break;
            case WebVerdict::MisdirectedHost:
                res.status = 421;
                res.set_content("this station does not answer to that host name\n", "text/plain");
                break;
            case WebVerdict::CrossSite:
                res.status = 403;
                res.set_content("the pages answer their own page only, not another site's\n",
                                "text/plain");
                break;
            case WebVerdict::Unauthorized:
                res.status = 401;
                res.set_header("WWW-Authenticate", "Bearer");
                res.set_content("a token is needed (Authorization: Bearer TOKEN)\n", "text/plain");
                break;
        }
        return Handled::Handled;
    }

    void Route() {
        const bool line = m_database != nullptr;
        m_server.Get("/", [this, line](const httplib::Request& req, httplib::Response& res) {
            // The token the page was opened with once becomes a cookie that the page's own
            // requests carry, and leaves the address bar.
            if (m_rules.NeedsToken() && req.has_param("token")) {
                res.set_header("Set-Cookie", m_rules.TokenCookie());
                res.set_redirect("/", 303);
                return;
            }
            res.set_content(line ? kLinePage : kStationPage, "text/html; charset=utf-8");
        });
        m_server.Get("/kestrel.css", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(kPageStyle, "text/css; charset=utf-8");
        });
        m_server.Get("/kestrel.js", [line](const httplib::Request&, httplib::Response& res) {
            res.set_content(line ? kLineScript : kStationScript, "text/javascript; charset=utf-8");
        });
        m_server.Get("/favicon.ico",
                     [](const httplib::Request&, httplib::Response& res) { res.status = 204; });
        if (line) {
            m_server.Get("/api/v1/line", [this](const httplib::Request&, httplib::Response& res) {
                res.set_content(m_lineView.Snapshot(), "application/json");
            });
            return;
        }
        m_server.Get("/api/v1/state", [this](const httplib::Request&, httplib::Response& res) {
            res.set_content(m_view.StateJson(), "application/json");
        });
        m_server.Get("/api/v1/events", [this](const httplib::Request& req, httplib::Response& res) {
            Follow(req, res);
        });
    }

    // Server-Sent Events: each event line as `data:` with its seq as `id:`. A client coming
    // back names the last one it has (Last-Event-ID, or ?after= for the page's first
    // connection after reading the state) and gets what followed, from the ring.
    void Follow(const httplib::Request& req, httplib::Response& res) {
        if (m_followers.fetch_add(1) >= kFollowers) {
            --m_followers;
            res.status = 503;
            res.set_header("Retry-After", "5");
            res.set_content("too many followers of the event stream\n", "text/plain");
            return;
        }
        HttpConnections::FollowerHere();
        std::uint64_t after = ParseSeq(req.get_header_value("Last-Event-ID"));
        if (!req.has_header("Last-Event-ID") && req.has_param("after"))
            after = ParseSeq(req.get_param_value("after"));
        res.set_chunked_content_provider(
            "text/event-stream",
            [this, after, first = true](std::size_t, httplib::DataSink& sink) mutable {
                std::string out;
                if (first) out = "retry: 1000\n\n";
                first = false;
                const auto entries = m_view.EventsAfter(after, kKeepAlive);
                if (m_view.Closed()) return false;
                for (const StationSnapshot::Entry& entry : entries) {
                    out += "id: " + std::to_string(entry.seq) + "\ndata: " + entry.line + "\n\n";
                    after = entry.seq;
                }
                if (out.empty()) out = ": still here\n\n";
                if (!sink.write(out.data(), out.size())) return false;
                // What arrives meanwhile goes out together: a busy station's events reach a
                // follower in a few writes a second instead of one per event.
                std::this_thread::sleep_for(kGather);
                return true;
            },
            [this](bool) { --m_followers; });
    }

    void RefreshLine() {
        std::unique_lock lock(m_refreshMutex);
        while (!m_refreshWake.wait_for(lock, kLineRefresh, [this] { return m_stopping; })) {
            lock.unlock();
            m_lineView.Refresh(*m_database, NowUtc());
            lock.lock();
        }
    }

    WebOptions m_options;
    WebRequestRules m_rules;
    StationSnapshot m_view;
    LineView m_lineView;
    std::unique_ptr<UnitDatabase> m_database;
    Router m_server;
    HttpConnections m_connections;  // after the router: stopped and gone before it
    int m_port = 0;
    std::atomic<int> m_followers{0};
    std::thread m_refresher;
    std::mutex m_refreshMutex;
    std::condition_variable m_refreshWake;
    bool m_stopping = false;
};

}  // namespace

// The module's entry points, looked up by name (see WebServiceLinux.cpp).
extern "C" __attribute__((visibility("default"))) WebService* KestrelStartWeb(
    const WebOptions& options, UnitDatabase* database, std::string* error) {
    auto service = std::make_unique<HttpService>(options, std::unique_ptr<UnitDatabase>(database));
    if (!service->Start(error)) return nullptr;
    return service.release();
}
