#pragma once
// Who may ask the pages for what: the rules every request meets before it is routed, written
// without the HTTP library so that they are read (and tested) in one place.

#include <string>

enum class WebVerdict {
    Allowed,
    BadMethod,        // 405: the pages only read
    MisdirectedHost,  // 421: a name the station does not answer to (DNS rebinding)
    Unauthorized,     // 401: the token is missing or wrong
};

struct WebRequestFacts {
    std::string method;
    std::string host;           // the Host header as sent
    std::string localAddress;   // the address the connection arrived on
    std::string authorization;  // the Authorization header
    std::string cookie;         // the Cookie header
    std::string queryToken;     // ?token=, when given
};

class WebRequestRules {
public:
    // `boundAddress` is the listening address; `token` empty means no token is asked for.
    WebRequestRules(std::string boundAddress, std::string token);

    WebVerdict Judge(const WebRequestFacts& request) const;
    // The cookie that lets the page's own requests carry the token it was opened with once.
    std::string TokenCookie() const;
    bool NeedsToken() const { return !m_token.empty(); }

private:
    bool HostAllowed(const WebRequestFacts& request) const;
    bool TokenMatches(const std::string& offered) const;

    std::string m_bound;
    std::string m_token;
};
