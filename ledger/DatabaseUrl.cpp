#include "ledger/DatabaseUrl.h"

#include <algorithm>
#include <cstdlib>
#include <initializer_list>

namespace {

constexpr const char* kBadPassword =
    "the user name or password in the URL has a character the URL cannot carry as it is; "
    "write '@' as %40, '/' as %2F, ':' as %3A and '%' as %25 (or keep the password in "
    "~/.pgpass, PGPASSFILE or a service file instead of the URL)";

// Server-side limits on every session: a lock that another session holds (the migration
// lock, a table another client locked), a statement that runs away and a transaction that a
// stuck client leaves open all end with an error instead of holding a station up.
constexpr const char* kSessionLimits =
    "options=-c%20lock_timeout%3D5s%20-c%20statement_timeout%3D30s"
    "%20-c%20idle_in_transaction_session_timeout%3D30s";

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Decodes %XX; nothing when a '%' is not followed by two hex digits.
std::optional<std::string> Decoded(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        const int high = HexValue(text[i + 1]);
        const int low = HexValue(text[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

bool HasEnv(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

}  // namespace

std::optional<DatabaseUrl> DatabaseUrl::Parse(const std::string& url, std::string* error) {
    DatabaseUrl out;
    out.m_url = url;
    if (url.rfind("sqlite:", 0) == 0) {
        out.m_sqlite = true;
        out.m_sqlitePath = url.substr(7);
        if (out.m_sqlitePath.empty()) {
            *error = "no file in " + url + " (sqlite:PATH)";
            return std::nullopt;
        }
        // SOCI reads its connect string as key=value words with '"' around a value: a '"' in
        // the path would end the value and let the rest set other options.
        if (out.m_sqlitePath.find_first_of("\"\n") != std::string::npos) {
            *error = "the SQLite path " + out.m_sqlitePath +
                     " has a '\"' or a line break, which the database library cannot take; "
                     "rename the file";
            return std::nullopt;
        }
        return out;
    }
    std::size_t scheme = std::string::npos;
    for (const char* prefix : {"postgresql://", "postgres://"})
        if (url.rfind(prefix, 0) == 0) scheme = std::char_traits<char>::length(prefix);
    if (scheme == std::string::npos) {
        *error = "not a database URL (sqlite:PATH or postgresql://...)";
        return std::nullopt;
    }
    const std::size_t query = std::min(url.find('?', scheme), url.size());
    const std::size_t path = std::min(url.find('/', scheme), query);
    const std::string authority = url.substr(scheme, path - scheme);
    const std::size_t at = authority.find('@');
    // libpq ends the user and password at the first '@' and the host at the first '/' or
    // '?': one more '@', or a '/' or '?' in the password, would put part of it into the host
    // or database name, which libpq's messages then echo.
    if ((at != std::string::npos && authority.find('@', at + 1) != std::string::npos) ||
        url.find('@', path) != std::string::npos) {
        *error = kBadPassword;
        return std::nullopt;
    }
    std::string hosts = authority;
    if (at != std::string::npos) {
        const std::string userinfo = authority.substr(0, at);
        const std::size_t colon = userinfo.find(':');
        if (!Decoded(userinfo)) {
            *error = kBadPassword;
            return std::nullopt;
        }
        if (colon != std::string::npos && colon + 1 < userinfo.size()) {
            out.m_secrets.push_back(userinfo.substr(colon + 1));
            out.m_secretSpans.emplace_back(scheme + colon + 1, at - colon - 1);
        }
        hosts = authority.substr(at + 1);
    }
    // Every host of the URL ("h1:5432,h2"), then host= and hostaddr= of the query.
    const auto network = [](const std::string& host) {
        const std::optional<std::string> name = Decoded(host.substr(0, host.find(':')));
        return name && !name->empty() && name->front() != '/';
    };
    std::size_t from = 0;
    while (from <= hosts.size()) {
        const std::size_t comma = std::min(hosts.find(',', from), hosts.size());
        out.m_network = out.m_network || network(hosts.substr(from, comma - from));
        from = comma + 1;
    }
    bool statedHost = !hosts.empty();
    for (std::size_t key = query + 1; key < url.size();) {
        const std::size_t end = std::min(url.find('&', key), url.size());
        const std::string pair = url.substr(key, end - key);
        const std::size_t equals = pair.find('=');
        const std::string name = pair.substr(0, equals);
        const std::string value = equals == std::string::npos ? "" : pair.substr(equals + 1);
        if (name == "password") {
            if (!Decoded(value)) {
                *error = kBadPassword;
                return std::nullopt;
            }
            if (!value.empty()) {
                out.m_secrets.push_back(value);
                out.m_secretSpans.emplace_back(key + equals + 1, value.size());
            }
        }
        if (name == "host" || name == "hostaddr") {
            statedHost = true;
            out.m_network = out.m_network || network(value) || name == "hostaddr";
        }
        if (name == "sslmode" || name == "service") out.m_statesTls = true;
        if (name == "options") out.m_statesOptions = true;
        key = end + 1;
    }
    // Without a host libpq takes PGHOST, else the Unix socket.
    if (!statedHost && HasEnv("PGHOST")) out.m_network = network(std::getenv("PGHOST"));
    out.m_statesTls = out.m_statesTls || HasEnv("PGSSLMODE") || HasEnv("PGSERVICE");
    for (std::size_t i = 0, n = out.m_secrets.size(); i < n; ++i) {
        const std::optional<std::string> plain = Decoded(out.m_secrets[i]);
        if (plain && *plain != out.m_secrets[i]) out.m_secrets.push_back(*plain);
    }
    return out;
}

std::string DatabaseUrl::Connect(int sqliteBusySeconds) const {
    if (m_sqlite) return "db=\"" + m_sqlitePath + "\" timeout=" + std::to_string(sqliteBusySeconds);
    std::string connect = m_url;
    const auto add = [&connect](const std::string& pair) {
        connect += connect.find('?') == std::string::npos ? '?' : '&';
        connect += pair;
    };
    // A server that went away must not hold a station up for the kernel's TCP timeouts:
    // connecting gives up after 5 s, and a dead connection is noticed within about 10 s.
    for (const char* pair : {"connect_timeout=5", "keepalives_idle=4", "keepalives_interval=2",
                             "keepalives_count=3"}) {
        const std::string key = std::string(pair).substr(0, std::string(pair).find('=') + 1);
        if (connect.find(key) == std::string::npos) add(pair);
    }
    if (!m_statesOptions) add(kSessionLimits);
    // Without TLS and a verified certificate anyone on the network path could pose as the
    // server and collect the password and every row.
    if (m_network && !m_statesTls) add("sslmode=verify-full");
    return connect;
}

std::string DatabaseUrl::Shown() const {
    std::string shown = m_url;
    // From the back, so earlier spans keep their places.
    std::vector<std::pair<std::size_t, std::size_t>> spans = m_secretSpans;
    std::sort(spans.rbegin(), spans.rend());
    for (const auto& [at, length] : spans) shown.replace(at, length, "***");
    return shown;
}

std::string DatabaseUrl::Scrub(std::string text) const {
    for (const std::string& secret : m_secrets) {
        if (secret.empty()) continue;
        for (std::size_t at = text.find(secret); at != std::string::npos;
             at = text.find(secret, at + 3))
            text.replace(at, secret.size(), "***");
    }
    return text;
}

std::string DatabaseUrl::PasswordFileKey() const {
    const auto env = [](std::initializer_list<const char*> names) {
        for (const char* name : names)
            if (HasEnv(name)) return std::string(std::getenv(name));
        return std::string();
    };
    const auto plain = [](const std::string& text) { return Decoded(text).value_or(text); };
    std::string user, host, port, database;
    const std::size_t scheme = m_url.find("://");
    if (!m_sqlite && scheme != std::string::npos) {
        const std::size_t from = scheme + 3;
        const std::size_t query = std::min(m_url.find('?', from), m_url.size());
        const std::size_t path = std::min(m_url.find('/', from), query);
        std::string authority = m_url.substr(from, path - from);
        if (const std::size_t at = authority.rfind('@'); at != std::string::npos) {
            user = plain(authority.substr(0, std::min(authority.find(':'), at)));
            authority = authority.substr(at + 1);
        }
        authority = authority.substr(0, authority.find(','));  // the first host
        // "[::1]:5432" keeps its brackets' inside; "host:5432" splits at the colon.
        std::size_t colon = authority.rfind(':');
        if (!authority.empty() && authority.front() == '[') {
            const std::size_t close = authority.find(']');
            colon = authority.find(':', close);
            host = authority.substr(1, close == std::string::npos ? close : close - 1);
        } else {
            host = authority.substr(0, colon);
        }
        if (colon != std::string::npos) port = authority.substr(colon + 1);
        host = plain(host);
        if (path < query) database = plain(m_url.substr(path + 1, query - path - 1));
        for (std::size_t key = query + 1; key < m_url.size();) {
            const std::size_t end = std::min(m_url.find('&', key), m_url.size());
            const std::string pair = m_url.substr(key, end - key);
            const std::size_t equals = pair.find('=');
            const std::string name = pair.substr(0, equals);
            const std::string value =
                equals == std::string::npos ? "" : plain(pair.substr(equals + 1));
            if (name == "host") host = value.substr(0, value.find(','));
            if (name == "hostaddr" && host.empty()) host = value;
            if (name == "port") port = value;
            if (name == "dbname") database = value;
            if (name == "user") user = value;
            key = end + 1;
        }
    }
    if (host.empty()) host = env({"PGHOST"});
    if (host.empty()) host = "localhost";
    if (port.empty()) port = env({"PGPORT"});
    if (port.empty()) port = "5432";
    if (user.empty()) user = env({"PGUSER", "USER", "LOGNAME", "USERNAME"});
    if (database.empty()) database = env({"PGDATABASE"});
    if (database.empty()) database = user;
    return host + ":" + port + ":" + database + ":" + user;
}
