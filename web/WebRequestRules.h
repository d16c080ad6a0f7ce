#pragma once
// Who may ask the pages for what: the rules every request meets before it is routed, written
// without the HTTP library so that they are read (and tested) in one place.

#include <string>

enum class WebVerdict {
    Allowed,
    BadMethod,        // 405: the pages only read
    MisdirectedHost,  // 421: a name the station does not answer to (DNS rebinding), or a Host
                      // header that is not "name[:port]"
    CrossSite,        // 403: asked by another site's page in the operator's browser
    Unauthorized,     // 401: the token is missing or wrong
};

struct WebRequestFacts {
    std::string method;
    std::string host;           // the Host header as sent
    std::string localAddress;   // the address the connection arrived on
    std::string authorization;  // the Authorization header
    std::string cookie;         // the Cookie header
    std::string queryToken;     // ?token=, when given
    std::string origin;         // the Origin header, when sent
    std::string fetchSite;      // the Sec-Fetch-Site header, when sent
};

class WebRequestRules {
public:
    // `boundAddress` is the listening address and `port` its port (the cookie's name carries
    // it, so that two stations in one browser keep their own); `token` empty means no token.
    WebRequestRules(std::string boundAddress, std::string token, int port = 0);

    WebVerdict Judge(const WebRequestFacts& request) const;
    // The cookie that lets the page's own requests carry the token it was opened with once.
    std::string TokenCookie() const;
    bool NeedsToken() const { return !m_token.empty(); }
    void SetPort(int port) { m_port = port; }

private:
    bool HostAllowed(const WebRequestFacts& request) const;
    bool SameSite(const WebRequestFacts& request) const;
    bool TokenMatches(const std::string& offered) const;
    std::string CookieName() const;

    std::string m_bound;
    std::string m_token;
    int m_port = 0;
};
