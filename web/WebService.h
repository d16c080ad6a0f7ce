#pragma once
// The station's and the line's pages as the console front end sees them. The HTTP code lives in
// a module of its own (kestrel-web.so, beside kestrel-cli or in lib/kestrel/), loaded only by a
// command given --web: a unit's child process never loads it.
//
// Safe by default: the pages listen on 127.0.0.1 unless an address is given; any address that
// is not loopback needs a token, and then every request carries it. Only GET and HEAD are
// answered; a Host header that is not the bound address, localhost or 127.0.0.1 is refused
// (DNS rebinding); nothing on the pages is fetched from elsewhere.

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "line/EventSink.h"
#include "web/StationSnapshot.h"

struct WebOptions {
    std::string address = "127.0.0.1";
    int port = 0;       // 0: any free port (the tests)
    std::string token;  // empty: no token (loopback only)
    std::vector<WebSlot> slots;
    // A request's head (its line and headers) must arrive whole within this.
    std::chrono::milliseconds headDeadline{10000};
};

class UnitDatabase;

class WebService : public EventSink {
public:
    // The station's pages, fed by OnEvent.
    static std::unique_ptr<WebService> StartStation(const WebOptions& options, std::string* error);
    // The line's page, read from the unit database every second (OnEvent does nothing).
    static std::unique_ptr<WebService> StartLine(const WebOptions& options,
                                                 std::unique_ptr<UnitDatabase> database,
                                                 std::string* error);

    // Stops serving: followers of the stream are let go, the port is closed.
    ~WebService() override = default;
    // "http://127.0.0.1:8080/" as a person would open it.
    virtual std::string Url() const = 0;
};

// Parses --web's "[ADDR:]PORT" and --web-token-file's file into options: the address and port,
// the token. False with the reason in *error: a bad port, a non-loopback address without a
// token, an unreadable or empty token file.
bool ParseWebOptions(const std::string& listen, const std::string& tokenFile, WebOptions* options,
                     std::string* error);
// Whether every address `address` resolves to is a loopback one (one platform file each).
bool IsLoopbackAddress(const std::string& address);
// False, with the fix in *error, when others than the owner may read the token file (as ssh
// refuses a private key).
bool TokenFileIsPrivate(const std::string& path, std::string* error);
// Whether this build has the pages at all; else the reason to show for --web.
bool WebSupported(std::string* reason);
