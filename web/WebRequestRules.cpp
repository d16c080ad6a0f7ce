#include "web/WebRequestRules.h"

namespace {

constexpr const char* kCookieName = "kestrel_token";

// "name:port", "[v6]:port" or a bare name, without the port, in lower case.
std::string HostName(const std::string& host) {
    std::string name = host;
    if (!name.empty() && name.front() == '[') {
        const std::size_t close = name.find(']');
        name = close == std::string::npos ? name : name.substr(1, close - 1);
    } else if (const std::size_t colon = name.find(':'); colon != std::string::npos) {
        name.resize(colon);
    }
    for (char& c : name)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return name;
}

bool IsWildcard(const std::string& address) {
    return address == "0.0.0.0" || address == "::";
}

}  // namespace

WebRequestRules::WebRequestRules(std::string boundAddress, std::string token)
    : m_bound(std::move(boundAddress)), m_token(std::move(token)) {}

bool WebRequestRules::HostAllowed(const WebRequestFacts& request) const {
    const std::string name = HostName(request.host);
    if (name == "localhost" || name == "127.0.0.1") return true;
    // Listening on every address, the station answers to the one a client reached it on.
    const std::string& own = IsWildcard(m_bound) ? request.localAddress : m_bound;
    return !name.empty() &&
           name == HostName(own.find(':') != std::string::npos ? "[" + own + "]" : own);
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
    if (m_token.empty()) return WebVerdict::Allowed;
    constexpr std::string_view kBearer = "Bearer ";
    if (request.authorization.starts_with(kBearer) &&
        TokenMatches(request.authorization.substr(kBearer.size())))
        return WebVerdict::Allowed;
    if (!request.queryToken.empty() && TokenMatches(request.queryToken)) return WebVerdict::Allowed;
    // The cookie TokenCookie set, among the others the browser sends.
    const std::string prefix = std::string(kCookieName) + "=";
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

std::string WebRequestRules::TokenCookie() const {
    return std::string(kCookieName) + "=" + m_token + "; Path=/; HttpOnly; SameSite=Strict";
}
