#include "web/WebRequestRules.h"

#include <optional>

namespace {

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The name of a Host header "name[:port]" or "[v6]:port", in lower case; nothing when the
// header is anything else ("127.0.0.1:80@evil.example", "localhost:abc", an empty port).
std::optional<std::string> HostName(const std::string& host) {
    std::string name;
    std::string rest;
    if (!host.empty() && host.front() == '[') {
        const std::size_t close = host.find(']');
        if (close == std::string::npos) return std::nullopt;
        name = host.substr(1, close - 1);
        rest = host.substr(close + 1);
        for (const char c : name)
            if (!IsDigit(c) && !(c >= 'a' && c <= 'f') && !(c >= 'A' && c <= 'F') && c != ':' &&
                c != '.')
                return std::nullopt;
    } else {
        const std::size_t colon = host.find(':');
        name = host.substr(0, colon);
        rest = colon == std::string::npos ? std::string() : host.substr(colon);
        for (const char c : name)
            if (!IsDigit(c) && !(c >= 'a' && c <= 'z') && !(c >= 'A' && c <= 'Z') && c != '-' &&
                c != '.')
                return std::nullopt;
    }
    if (!rest.empty()) {
        if (rest.front() != ':' || rest.size() < 2 || rest.size() > 6) return std::nullopt;
        for (std::size_t i = 1; i < rest.size(); ++i)
            if (!IsDigit(rest[i])) return std::nullopt;
    }
    if (name.empty()) return std::nullopt;
    return Lower(name);
}

bool IsWildcard(const std::string& address) {
    return address == "0.0.0.0" || address == "::";
}

}  // namespace

WebRequestRules::WebRequestRules(std::string boundAddress, std::string token, int port)
    : m_bound(std::move(boundAddress)), m_token(std::move(token)), m_port(port) {}

bool WebRequestRules::HostAllowed(const WebRequestFacts& request) const {
    const std::optional<std::string> name = HostName(request.host);
    if (!name) return false;
    if (*name == "localhost" || *name == "127.0.0.1") return true;
    // Listening on every address, the station answers to the one a client reached it on.
    const std::string& own = IsWildcard(m_bound) ? request.localAddress : m_bound;
    return *name == Lower(own);
}

bool WebRequestRules::SameSite(const WebRequestFacts& request) const {
    // Browsers say where a request comes from; tools say nothing and are not refused.
    if (!request.fetchSite.empty() && request.fetchSite != "same-origin" &&
        request.fetchSite != "none")
        return false;
    return request.origin.empty() || Lower(request.origin) == "http://" + Lower(request.host);
}

bool WebRequestRules::TokenMatches(const std::string& offered) const {
    // Compared in time that does not depend on where the first difference is.
    if (offered.size() != m_token.size()) return false;
    unsigned char difference = 0;
    for (std::size_t i = 0; i < offered.size(); ++i)
        difference |= static_cast<unsigned char>(offered[i] ^ m_token[i]);
    return difference == 0;
}

WebVerdict WebRequestRules::Judge(const WebRequestFacts& request) const {
    if (request.method != "GET" && request.method != "HEAD") return WebVerdict::BadMethod;
    if (!HostAllowed(request)) return WebVerdict::MisdirectedHost;
    if (!SameSite(request)) return WebVerdict::CrossSite;
    if (m_token.empty()) return WebVerdict::Allowed;
    constexpr std::string_view kBearer = "Bearer ";
    if (request.authorization.starts_with(kBearer) &&
        TokenMatches(request.authorization.substr(kBearer.size())))
        return WebVerdict::Allowed;
    if (!request.queryToken.empty() && TokenMatches(request.queryToken)) return WebVerdict::Allowed;
    // The cookie TokenCookie set, among the others the browser sends.
    const std::string prefix = CookieName() + "=";
    for (std::size_t at = 0; at < request.cookie.size();) {
        const std::size_t end = std::min(request.cookie.find(';', at), request.cookie.size());
        std::string pair = request.cookie.substr(at, end - at);
        pair.erase(0, pair.find_first_not_of(' '));
        if (pair.starts_with(prefix) && TokenMatches(pair.substr(prefix.size())))
            return WebVerdict::Allowed;
        at = end + 1;
    }
    return WebVerdict::Unauthorized;
}

std::string WebRequestRules::CookieName() const {
    // Cookies are kept per host, not per port: two stations on one computer each have theirs.
    return "kestrel_token_" + std::to_string(m_port);
}

std::string WebRequestRules::TokenCookie() const {
    return CookieName() + "=" + m_token + "; Path=/; HttpOnly; SameSite=Strict";
}
